// The simulated power profile: enumeration order and stopping, forced
// failures, and deletion written back into the machine folder.
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
    Write("power.json", R"({
      "active_scheme": 1,
      "schemes": [
        {"index": 0, "name": "Home/Office Desk", "description": "Desk"},
        {"index": 1, "name": "Portable/Laptop", "description": "Laptop"},
        {"index": 7, "name": "\u00c9conomie \u20ac", "description": "Nuit", "policy": {"keep": 1}}
      ]
    })");
    Open();
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

TEST_F(SimPowerTest, EnumeratesInStoredOrderAsUtf16) {
  const auto seen = Enumerate();
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen[0].name, u"Home/Office Desk");
  EXPECT_EQ(seen[1].description, u"Laptop");
  EXPECT_EQ(seen[2].index, 7u);
  EXPECT_EQ(seen[2].name, u"\u00c9conomie \u20ac");
}

TEST_F(SimPowerTest, CallbackReturningFalseStopsTheEnumeration) {
  EXPECT_EQ(Enumerate(2).size(), 2u);
}

TEST_F(SimPowerTest, CallbackExceptionStopsAndIsRethrown) {
  int calls = 0;
  EXPECT_THROW(Power().EnumPwrSchemes(
                   [&](std::uint32_t, const port::WideText&, const port::WideText&) -> bool {
                     ++calls;
                     throw std::runtime_error("from the callback");
                   }),
               std::runtime_error);
  EXPECT_EQ(calls, 1);
}

TEST_F(SimPowerTest, ActiveSchemeAndWriteRight) {
  std::uint32_t active = 99;
  EXPECT_TRUE(Power().GetActivePwrScheme(active));
  EXPECT_EQ(active, 1u);
  EXPECT_TRUE(Power().CanUserWritePwrScheme());
}

TEST_F(SimPowerTest, ForcedFailuresReturnFalseWithTheirCodes) {
  Write("power.json", R"({"active_scheme": 0, "schemes": [{"index": 0, "name": "A"}],
      "failures": {"EnumPwrSchemes": 5, "CanUserWritePwrScheme": 1314,
                   "GetActivePwrScheme": 120, "DeletePwrScheme": 32}})");
  Open();
  int calls = 0;
  EXPECT_FALSE(Power().EnumPwrSchemes([&](auto, auto&, auto&) { return ++calls > 0; }));
  EXPECT_EQ(LastError(), 5u);
  EXPECT_EQ(calls, 0);
  EXPECT_FALSE(Power().CanUserWritePwrScheme());
  EXPECT_EQ(LastError(), 1314u);
  std::uint32_t active = 0;
  EXPECT_FALSE(Power().GetActivePwrScheme(active));
  EXPECT_EQ(LastError(), 120u);
  EXPECT_FALSE(Power().DeletePwrScheme(0));
  EXPECT_EQ(LastError(), 32u);
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
  EXPECT_FALSE(Power().DeletePwrScheme(1));
  EXPECT_EQ(LastError(), 2u);
}

TEST_F(SimPowerTest, UserWithoutTheRightCannotDelete) {
  Write("power.json", R"({"user_may_write": false, "schemes": [{"index": 3, "name": "A"}]})");
  Open();
  EXPECT_FALSE(Power().CanUserWritePwrScheme());
  EXPECT_EQ(LastError(), 5u);
  EXPECT_FALSE(Power().DeletePwrScheme(3));
  EXPECT_EQ(LastError(), 5u);
  EXPECT_EQ(PowerFile()["schemes"].size(), 1u);
}

}  // namespace
}  // namespace zrt::test
