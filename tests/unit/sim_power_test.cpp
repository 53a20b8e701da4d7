// The simulated power profile: enumeration order and stopping, forced
// failures, the policy records, changes written back into the machine
// folder, and changes made to it behind the machine's back.
#include <chrono>
#include <filesystem>
#include <stdexcept>
#include <vector>

#include "sim_machine_fixture.h"

namespace zrt::test {
namespace {

struct Seen {
  std::uint32_t index;
  std::u16string name;
  std::u16string description;
};

class SimPowerTest : public SimMachineTest {
 protected:
  SimPowerTest() {
    Reopen("power.json", R"({
      "active_scheme": 1,
      "schemes": [
        {"index": 0, "name": "Home/Office Desk", "description": "Desk"},
        {"index": 1, "name": "Portable/Laptop", "description": "Laptop"},
        {"index": 7, "name": "\u00c9conomie \u20ac", "description": "Nuit", "policy": {"keep": 1}}
      ]
    })");
  }

  port::PowerProfile& Power() { return sim_->Platform().power; }

  std::vector<Seen> Enumerate(std::size_t stopAfter = 100) {
    std::vector<Seen> seen;
    EXPECT_TRUE(Power().EnumPwrSchemes(
        [&](std::uint32_t index, const port::WideText& name, const port::WideText& description) {
          seen.push_back({index, name, description});
          return seen.size() < stopAfter;
        }));
    return seen;
  }

  sim::Json PowerFile() const { return sim::Json::parse(Read("power.json")); }
};

TEST_F(SimPowerTest, EnumeratesInStoredOrderAsUtf16WithTheActiveSchemeAndWriteRight) {
  const auto seen = Enumerate();
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen[0].name, u"Home/Office Desk");
  EXPECT_EQ(seen[1].description, u"Laptop");
  EXPECT_EQ(seen[2].index, 7u);
  EXPECT_EQ(seen[2].name, u"\u00c9conomie \u20ac");
  std::uint32_t active = 99;
  EXPECT_TRUE(Power().GetActivePwrScheme(active));
  EXPECT_EQ(active, 1u);
  EXPECT_TRUE(Power().CanUserWritePwrScheme());
}

TEST_F(SimPowerTest, CallbackStopsTheEnumerationByReturningFalseOrByThrowing) {
  EXPECT_EQ(Enumerate(2).size(), 2u);
  int calls = 0;
  EXPECT_THROW(Power().EnumPwrSchemes(
                   [&](std::uint32_t, const port::WideText&, const port::WideText&) -> bool {
                     ++calls;
                     throw std::runtime_error("from the callback");
                   }),
               std::runtime_error);
  EXPECT_EQ(calls, 1);
}

// A listed failure fails every call; a list of codes fails the calls in turn
// (0 lets one through).
TEST_F(SimPowerTest, ForcedFailuresReturnFalseWithTheirCodes) {
  Reopen("power.json", R"({"active_scheme": 0, "schemes": [{"index": 0, "name": "A"}],
      "failures": {"EnumPwrSchemes": 5, "CanUserWritePwrScheme": 1314,
                   "GetActivePwrScheme": 120, "DeletePwrScheme": 32,
                   "GetPwrCapabilities": [0, 87], "WriteGlobalPwrPolicy": 5}})");
  int calls = 0;
  EXPECT_TRUE(Refused(Power().EnumPwrSchemes([&](auto, auto&, auto&) { return ++calls > 0; }), 5));
  EXPECT_EQ(calls, 0);
  EXPECT_TRUE(Refused(Power().CanUserWritePwrScheme(), 1314));
  std::uint32_t active = 0;
  EXPECT_TRUE(Refused(Power().GetActivePwrScheme(active), 120));
  EXPECT_TRUE(Refused(Power().DeletePwrScheme(0), 32));
  EXPECT_EQ(PowerFile()["schemes"].size(), 1u);
  port::SYSTEM_POWER_CAPABILITIES capabilities = {};
  EXPECT_TRUE(Power().GetPwrCapabilities(capabilities));
  EXPECT_TRUE(Refused(Power().GetPwrCapabilities(capabilities), 87));
  EXPECT_TRUE(Power().GetPwrCapabilities(capabilities));
  EXPECT_TRUE(Refused(Power().WriteGlobalPwrPolicy({}), 5));

  // A user without the right can neither write nor delete.
  Reopen("power.json", R"({"user_may_write": false, "schemes": [{"index": 3, "name": "A"}]})");
  EXPECT_TRUE(Refused(Power().CanUserWritePwrScheme(), 5));
  EXPECT_TRUE(Refused(Power().DeletePwrScheme(3), 5));
  EXPECT_EQ(PowerFile()["schemes"].size(), 1u);
}

TEST_F(SimPowerTest, DeletionIsWrittenBackKeepingEverythingElse) {
  EXPECT_TRUE(Power().DeletePwrScheme(1));
  const sim::Json file = PowerFile();
  ASSERT_EQ(file["schemes"].size(), 2u);
  EXPECT_EQ(file["schemes"][0]["index"], 0);
  EXPECT_EQ(file["schemes"][1]["index"], 7);
  EXPECT_EQ(file["schemes"][1]["policy"]["keep"], 1);
  EXPECT_EQ(file["active_scheme"], 1);

  // A fresh platform on the same folder sees the deletion.
  Open();
  EXPECT_EQ(Enumerate().size(), 2u);
  EXPECT_TRUE(Refused(Power().DeletePwrScheme(1), 2));
}

TEST_F(SimPowerTest, PoliciesAreReadAndWrittenFieldByFieldKeepingOtherMembers) {
  Reopen("power.json", R"({"active_scheme": 7, "hibernation_allowed": 2,
      "capabilities": {"LidPresent": true, "ProcessorThrottle": 1},
      "global_policy": {"Note": "kept", "LidCloseDc": {"Action": 3, "Flags": 3}},
      "schemes": [{"index": 7, "name": "A", "policy": {"keep": 1, "VideoTimeoutAc": 300,
                   "IdleAc": {"Action": 2, "EventCode": 9}, "ThrottlePolicyDc": 2}}]})");
  port::GLOBAL_POWER_POLICY global = {};
  port::POWER_POLICY policy = {};
  ASSERT_TRUE(Power().GetCurrentPowerPolicies(global, policy));
  EXPECT_EQ(policy.user.VideoTimeoutAc, 300u);
  EXPECT_EQ(policy.user.IdleAc.Action, 2u);
  EXPECT_EQ(policy.user.IdleAc.EventCode, 9u);
  EXPECT_EQ(policy.user.ThrottlePolicyDc, 2);
  EXPECT_EQ(global.user.LidCloseDc.Action, 3u);
  port::SYSTEM_POWER_CAPABILITIES capabilities = {};
  ASSERT_TRUE(Power().GetPwrCapabilities(capabilities));
  EXPECT_EQ(capabilities.LidPresent, 1);
  EXPECT_EQ(capabilities.SystemBatteriesPresent, 0);
  EXPECT_EQ(Power().IsPwrHibernateAllowed(), 2);
  EXPECT_EQ(Power().IsPwrSuspendAllowed(), 0);

  policy.user.VideoTimeoutAc = 60;
  std::uint32_t index = 7;
  ASSERT_TRUE(Power().WritePwrScheme(index, u"B", u"desc", policy));
  index = 8;
  ASSERT_TRUE(Power().WritePwrScheme(index, u"C", u"", policy));
  global.user.PowerButtonAc = {4, 3, 16};
  ASSERT_TRUE(Power().WriteGlobalPwrPolicy(global));

  const sim::Json file = PowerFile();
  ASSERT_EQ(file["schemes"].size(), 2u);
  EXPECT_EQ(file["schemes"][0]["name"], "B");
  EXPECT_EQ(file["schemes"][0]["policy"]["keep"], 1);
  EXPECT_EQ(file["schemes"][0]["policy"]["VideoTimeoutAc"], 60);
  EXPECT_EQ(file["schemes"][1]["index"], 8);
  EXPECT_EQ(file["global_policy"]["Note"], "kept");
  EXPECT_EQ(file["global_policy"]["PowerButtonAc"]["EventCode"], 16);
  ASSERT_TRUE(Power().ReadPwrScheme(8, policy));
  EXPECT_EQ(policy.user.VideoTimeoutAc, 60u);
  EXPECT_TRUE(Refused(Power().ReadPwrScheme(9, policy), 2));

  // An active scheme that is not listed has no policy.
  Reopen("power.json", R"({"active_scheme": 4, "schemes": [{"index": 0, "name": "A"}]})");
  EXPECT_TRUE(Refused(Power().GetCurrentPowerPolicies(global, policy), 2));
}

TEST_F(SimPowerTest, ChangesMadeBehindTheMachinesBackAreSeen) {
  // Rewritten in place at the same size and with the same time, as a change
  // within one step of the file clock is: only the file's bytes tell it.
  const auto time = std::filesystem::file_time_type::clock::now() + std::chrono::hours(1);
  const auto rewrite = [&](const std::string& from, const std::string& to) {
    std::string text = Read("power.json");
    text.replace(text.find(from), from.size(), to);
    Write("power.json", text);
    std::filesystem::last_write_time(root_ / "power.json", time);
  };
  rewrite("\"active_scheme\": 1", "\"active_scheme\": 1");
  std::uint32_t active = 0;
  ASSERT_TRUE(Power().GetActivePwrScheme(active));
  rewrite("\"active_scheme\": 1", "\"active_scheme\": 2");
  ASSERT_TRUE(Power().GetActivePwrScheme(active));
  EXPECT_EQ(active, 2u);
  ASSERT_TRUE(Power().DeletePwrScheme(0));  // the machine's own change
  rewrite("\"active_scheme\": 2", "\"active_scheme\": 3");
  ASSERT_TRUE(Power().GetActivePwrScheme(active));
  EXPECT_EQ(active, 3u);

  sim::WriteJsonFile(root_ / "power.json", {{"active_scheme", 4}});  // replaced
  ASSERT_TRUE(Power().GetActivePwrScheme(active));
  EXPECT_EQ(active, 4u);
  std::filesystem::remove(root_ / "power.json");
  EXPECT_TRUE(Enumerate().empty());
  Write("power.json", "{");
  EXPECT_THROW(Power().GetActivePwrScheme(active), sim::MachineError);
}

}  // namespace
}  // namespace zrt::test
