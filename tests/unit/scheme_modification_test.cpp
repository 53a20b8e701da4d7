// Scheme modification on a simulated laptop: its failure table on XP and
// from Vista on, the rules where it differs from creation, the stored
// description, and the handoff with creation that never loops.
#include "power/scheme_modification.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "power/scheme_creation.h"
#include "report/activity_log.h"
#include "support/power_run.h"

namespace zrt::test {
namespace {

using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::Not;

constexpr const char* kVista = "Os Type is Windows Vista/Windows 2008/Windows 7";
const std::string kDenied = "Access is denied.\r";
const std::string kInvalid = "The parameter is incorrect.\r";

class SchemeModificationTest : public PowerRunTest {
 protected:
  bool Modify(RequestFields fields) {
    fields.insert(fields.begin(), {{"schemename", "night shift"}, {"overwriteifexst", "1"}});
    return power::ModifyPowerScheme(*run_, MakeRequest(fields));
  }
  sim::Json Scheme(std::uint32_t index) const {
    const sim::Json power = Power();
    for (const auto& scheme : power["schemes"]) {
      if (scheme["index"] == index) return scheme;
    }
    return nullptr;
  }
};

TEST_F(SchemeModificationTest, EachRowOfTheFailureTableOnXpAndFromVistaOn) {
  struct Row {
    std::string power;  // power.json members
    RequestFields fields;
    bool result;
    std::string message;             // also from Vista on, unless `vistaMessage`
    const char* vistaMessage;        // null: the message
    std::vector<std::string> lines;  // a run of the operation's lines; the last ones on failure
    bool changesNothing = false;
  };
  const std::string hibernateOn = R"({"hibernation_allowed": false, "powercfg": {"commands":
      {"Powercfg.exe \"-HIBERNATE\" \"on\"": {"exit_code": 1}}}})";
  const std::string longName(50, 'N');
  const std::vector<Row> rows = {
      // A name cut to its field would be another name: refused before the look-up.
      {"{}",
       {{"schemename", longName.c_str()}},
       false,
       "The scheme name is longer than 49 bytes in this machine's code page.",
       nullptr,
       {"FAILED|schemename|" + longName.substr(1) +
        "|The scheme name is longer than 49 bytes in this machine's code page."},
       true},
      {"{}",
       {{"schemename", "Field Work"}, {"overwriteifexst", "0"}},
       true,
       "",
       nullptr,
       {"INFO|Scheme Not Present||Field Work", "INFO|Field Work|Create If Not Exist|No"},
       true},
      {"{}",
       {{"overwriteifexst", ""}},
       true,
       "",
       nullptr,
       {"INFO|Scheme Already Present||night shift"},
       true},
      // Without the list of schemes, no creation is handed the request.
      {R"({"failures": {"EnumPwrSchemes": 5}})",
       {{"schemename", "Field Work"}},
       false,
       "Failed to list the power schemes : " + kDenied + "\n",
       nullptr,
       {"FAILED|EnumPwrSchemes|5|" + kDenied},
       true},
      // A missing blank name is handed over, and creation refuses it.
      {"{}",
       {{"schemename", "  "}},
       false,
       "The scheme name (schemename) is empty or blank: a new scheme needs a name.",
       nullptr,
       {"INFO|  ||Creating Scheme"},
       true},
      // Without overwrite nothing changes either way: presence is not claimed.
      {R"({"failures": {"EnumPwrSchemes": 5}})",
       {{"schemename", "Field Work"}, {"overwriteifexst", "0"}},
       true,
       "",
       nullptr,
       {"FAILED|EnumPwrSchemes|5|" + kDenied, "INFO|Field Work|Create If Not Exist|No"},
       true},
      {R"({"user_may_write": false})",
       {{"schemename", "Field Work"}},
       false,
       "The current user does not have sufficient privilege to Create a power scheme.",
       kVista,
       {"INFO|Scheme Not Present||Field Work", "INFO|Field Work|Create If Not Exist|Yes",
        "INFO|Field Work||Creating Scheme"}},
      {R"({"user_may_write": false})",
       {},
       false,
       "The current user does not have sufficient privilege to write a power scheme.",
       kVista,
       {"INFO|Scheme Already Present||night shift",
        "INFO|CanUserWritePwrScheme - No|5|" + kDenied}},
      {R"({"failures": {"ReadPwrScheme": 87}})",
       {},
       false,
       "Error occured while Reading Power Scheme" + kInvalid + "\n",
       kVista,
       {"SUCCESS|CanUserWritePwrScheme||Yes", "FAILED|ReadPwrScheme|87|" + kInvalid}},
      {R"({"failures": {"GetCurrentPowerPolicies": 87}})",
       {},
       false,
       "Failed to Get Current Power Policies : " + kInvalid + "\n",
       nullptr,
       {"FAILED|GetCurrentPowerPolicies|87|" + kInvalid}},
      {hibernateOn,
       {{"hibsupp", "1"}, {"syshibpi", "60"}},
       true,
       "Failed to Enable Hibernate : System does not support hibernation",
       nullptr,
       {"INFO|Is Hibernate|1|No",
        "FAILED|Hibernate Enable|Might be System does not support hibernation|Kindly check by "
        "fireing the command:- Powercfg.exe -HIBERNATE on",
        "INFO|System_Hibernate_AC||60"}},
      {R"({"failures": {"WritePwrScheme": 5}})",
       {},
       false,
       "Failed to Write New Power Scheme : " + kDenied + "\n",
       nullptr,
       {"INFO|System_StandBy_Dc||", "FAILED|WritePwrScheme|5|" + kDenied}},
      // Read first, before any change, to decide what the machine would use.
      {R"({"failures": {"GetPwrCapabilities": [87]}})",
       {},
       false,
       "Failed to Get Power Capabilities : " + kInvalid + "\n",
       nullptr,
       {"SUCCESS|GetCurrentPowerPolicies||", "FAILED|GetPwrCapabilities|87|" + kInvalid},
       true},
      {R"({"failures": {"GetPwrCapabilities": [0, 87]}})",
       {},
       false,
       "Failed to Get Power Capabilities : " + kInvalid + "\n",
       nullptr,
       {"SUCCESS|WritePwrScheme||", "FAILED|GetPwrCapabilities|87|" + kInvalid}},
      // No button value matches, and the global policy is still written.
      {R"({"failures": {"WriteGlobalPwrPolicy": 5}})",
       {{"powerbtn", "6"}},
       false,
       "Failed to set Global Power Policy while modifying scheme : " + kDenied + "\n",
       nullptr,
       {"SUCCESS|LidPresent||Yes", "FAILED|WriteGlobalPwrPolicy|5|" + kDenied}},
      {R"({"powercfg": {"commands": {"POWERCFG \"-SETACTIVE\" \"night shift\"":
           {"start_error": 5}}}})",
       {{"actpowesch", "1"}},
       false,
       "Failed to Set power scheme as active : " + kDenied + "\n",
       nullptr,
       {"INFO|Set Active||Yes", "FAILED|SetActivePwrScheme|5|" + kDenied}},
      // A name that would change Powercfg.exe's arguments is refused unrun.
      {R"({"schemes": [{"index": 1, "name": "Portable/Laptop"}, {"index": 6, "name": "A\" -x \"b"}]})",
       {{"schemename", "a\" -x \"B"}, {"actpowesch", "1"}},
       false,
       "The job document's value of schemename is refused for SetActivePwrScheme: a scheme name "
       "with a quotation mark or a control character, or ending in a backslash.",
       nullptr,
       {"FAILED|schemename|a\" -x \"B|Refused: a scheme name with a quotation mark or a control "
        "character, or ending in a backslash"}},
      // A level only a machine with batteries would take is not looked at.
      {R"({"capabilities": {"ProcessorThrottle": 1, "SystemBatteriesPresent": 0}})",
       {{"critbatactivate", "1"}, {"critbatlevel", "5 %"}},
       true,
       "",
       nullptr,
       {"INFO|System Batteries||Not Present"}},
      {R"({"failures": {"GetPwrCapabilities": [0, 0, 87]}})",
       {},
       false,
       "GetPwrCapabilities",
       nullptr,
       {"INFO|Set Active||No", "FAILED|GetPwrCapabilities||"}},
      {R"({"powercfg": {"commands": {"Powercfg.exe -B LOW -activate off": {"start_error": 5}}}})",
       {},
       false,
       "Failed to Off Low Battery Alarm : " + kDenied + "\n",
       nullptr,
       {"INFO|System Batteries||Present", "FAILED|Low Battery Alarm Active|Action|off",
        "FAILED|Low Battery Alarm Active|5|" + kDenied}},
  };
  for (const Row& row : rows) {
    for (bool vista : {false, true}) {
      SCOPED_TRACE(row.power + (vista ? " on Vista" : " on XP"));
      WritePower(row.power);
      Write("commands.jsonl", "");
      std::filesystem::remove(root_ / kLogFile);
      StartRun(vista);
      EXPECT_EQ(Modify(row.fields), row.result);
      EXPECT_EQ(Failure(), vista && row.vistaMessage ? row.vistaMessage : row.message);
      const auto lines = LinesOf("ModifyPowerScheme");
      const auto run = std::search(lines.begin(), lines.end(), row.lines.begin(), row.lines.end());
      ASSERT_NE(run, lines.end());
      if (!row.result) {
        EXPECT_EQ(run + row.lines.size(), lines.end());
      }
      if (row.changesNothing) {
        EXPECT_TRUE(Commands().empty());
        EXPECT_EQ(Scheme(6)["name"], "Night Shift");
      }
    }
  }
}

TEST_F(SchemeModificationTest, ButtonCodesGiveTheirOwnEntriesAndOtherValuesLeaveThem) {
  const std::vector<std::pair<const char*, sim::Json>> rows = {
      {"1", sim::Json::parse(R"({"Action": 0, "Flags": 3, "EventCode": 2147483648})")},
      {"2", sim::Json::parse(R"({"Action": 0, "Flags": 3, "EventCode": 8})")},
      {"0", sim::Json::parse(R"({"Action": 2, "Flags": 3, "EventCode": 0})")},  // as read
  };
  for (const auto& [code, entry] : rows) {
    SCOPED_TRACE(code);
    WritePower();
    std::filesystem::remove(root_ / kLogFile);
    StartRun();
    EXPECT_TRUE(Modify({{"closelid", code}}));
    EXPECT_EQ(Power()["global_policy"]["LidCloseAc"], entry);
    EXPECT_THAT(LinesOf("ModifyPowerScheme"), Contains("SUCCESS|WriteGlobalPwrPolicy||"));
  }
  EXPECT_THAT(LinesOf("ModifyPowerScheme"), Not(Contains(HasSubstr("Lid Button Action"))));
}

TEST_F(SchemeModificationTest, StandbyRefusedAndHibernationAnswersOtherThanZeroOrOneAreLeftAlone) {
  WritePower(R"({"standby_allowed": false, "hibernation_allowed": 2})");
  StartRun();
  EXPECT_TRUE(Modify({{"sysstandpi", "60"}, {"hibsupp", "1"}, {"syshibpi", "60"}}));
  const auto lines = LinesOf("ModifyPowerScheme");
  EXPECT_THAT(lines, Not(Contains(HasSubstr("Is Sleep"))));
  EXPECT_THAT(lines, Not(Contains(HasSubstr("Hibernate"))));
  for (const auto& command : Commands()) {
    EXPECT_THAT(command["command_line"].get<std::string>(), Not(HasSubstr("HIBERNATE")));
  }
  EXPECT_EQ(Scheme(6)["policy"]["DozeS4TimeoutAc"], 0);

  // Creation counts the same answer as "not allowed" and switches hibernation on.
  EXPECT_TRUE(
      power::CreatePowerScheme(*run_, MakeRequest({{"schemename", "New"}, {"hibsupp", "1"}})));
  EXPECT_THAT(LinesOf("CreatePowerScheme"), Contains("INFO|Is Sleep||No"));
  EXPECT_THAT(LinesOf("CreatePowerScheme"), Contains("INFO|Is Hibernate|1|No"));
}

TEST_F(SchemeModificationTest, TheStoredDescriptionIsWrittenBackAsItWas) {
  // Characters outside the code page, and more than the lookup's 1023.
  const std::string description = "\xe7\x9c\x81\xe9\x9b\xbb " + std::string(1500, 'd');
  WriteSchemes(
      sim::Json::array({{{"index", 4}, {"name", "Night Shift"}, {"description", description}}})
          .dump(),
      4);
  StartRun();
  EXPECT_TRUE(Modify({{"schemeDesc", "not this"}}));
  EXPECT_EQ(Scheme(4)["description"], description);
  EXPECT_EQ(Scheme(4)["name"], "night shift");
}

TEST_F(SchemeModificationTest, OnlyASucceededLowActionIsForcedAndTheCriticalForceAlwaysRuns) {
  const RequestFields alarms = {
      {"lowbatactivate", "1"},  {"lowbatlev", "9"},     {"lowbatforce", "1"}, {"critbatlevel", "4"},
      {"critbatactivate", "1"}, {"critbataction", "1"}, {"critbatforce", "1"}};
  for (const char* action : {"1", "2", "3"}) {
    SCOPED_TRACE(action);
    Write("commands.jsonl", "");
    StartRun();
    RequestFields fields = alarms;
    fields.emplace_back("lowbataction", action);
    EXPECT_TRUE(Modify(fields));
    std::vector<std::string> lines;
    for (const auto& command : Commands()) lines.push_back(command["command_line"]);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "Powercfg.exe -B LOW -forceaction on"),
              action[0] == '3' ? 1 : 0);
    EXPECT_THAT(lines, Contains("Powercfg.exe -B LOW -program off"));
    EXPECT_THAT(lines, Contains("Powercfg.exe -B CRITICAL -forceaction on"));
  }
}

// The machine's schemes change at every enumeration: the requested one is
// missing from every other one.
class FlickeringSchemes : public port::PowerProfile {
 public:
  FlickeringSchemes(port::PowerProfile& machine, bool firstSeesIt)
      : machine_(machine), seen_(!firstSeesIt) {}
  int enumerations = 0;

  bool EnumPwrSchemes(const port::SchemeEnumCallback& callback) override {
    ++enumerations;
    seen_ = !seen_;
    return machine_.EnumPwrSchemes(
        [&](std::uint32_t index, const port::WideText& name, const port::WideText& description) {
          return (!seen_ && name == u"Night Shift") || callback(index, name, description);
        });
  }
  bool CanUserWritePwrScheme() override { return machine_.CanUserWritePwrScheme(); }
  bool GetActivePwrScheme(std::uint32_t& i) override { return machine_.GetActivePwrScheme(i); }
  bool DeletePwrScheme(std::uint32_t index) override { return machine_.DeletePwrScheme(index); }
  bool ReadPwrScheme(std::uint32_t index, port::POWER_POLICY& policy) override {
    return machine_.ReadPwrScheme(index, policy);
  }
  bool WritePwrScheme(std::uint32_t& index, const port::WideText& name,
                      const port::WideText& description, const port::POWER_POLICY& p) override {
    return machine_.WritePwrScheme(index, name, description, p);
  }
  bool GetCurrentPowerPolicies(port::GLOBAL_POWER_POLICY& g, port::POWER_POLICY& p) override {
    return machine_.GetCurrentPowerPolicies(g, p);
  }
  bool WriteGlobalPwrPolicy(const port::GLOBAL_POWER_POLICY& g) override {
    return machine_.WriteGlobalPwrPolicy(g);
  }
  bool GetPwrCapabilities(port::SYSTEM_POWER_CAPABILITIES& c) override {
    return machine_.GetPwrCapabilities(c);
  }
  port::BOOLEAN IsPwrHibernateAllowed() override { return machine_.IsPwrHibernateAllowed(); }
  port::BOOLEAN IsPwrSuspendAllowed() override { return machine_.IsPwrSuspendAllowed(); }

 private:
  port::PowerProfile& machine_;
  bool seen_;
};

TEST_F(SchemeModificationTest, HandingOverNeverLoopsWhenTheSchemesChangeBetweenLookUps) {
  const std::string message =
      "Power scheme \"Night Shift\" appeared or disappeared between two look-ups; nothing was "
      "changed.";
  const std::string refusal =
      "FAILED|Night Shift|Hand Back|Refused: the power schemes changed between two look-ups";
  for (const bool create : {true, false}) {
    SCOPED_TRACE(create ? "creation first" : "modification first");
    std::filesystem::remove(root_ / kLogFile);
    port::Platform& machine = Open();
    FlickeringSchemes schemes(machine.power, create);
    port::Platform platform{machine.registry, machine.files, machine.processes, schemes,
                            machine.xml,      machine.post,  machine.system};
    run::Run run(platform, report::MakeActivityLog);
    run.context.dataFolder.Assign(
        "C:\\Documents and Settings\\All Users\\Application Data\\Merqel");
    const jobdoc::PowerRequest request =
        MakeRequest({{"schemename", "Night Shift"}, {"overwriteifexst", "1"}});
    EXPECT_FALSE(create ? power::CreatePowerScheme(run, request)
                        : power::ModifyPowerScheme(run, request));
    EXPECT_EQ(schemes.enumerations, 2);
    EXPECT_EQ(run.buffers.failureMessage.str(), message);
    EXPECT_EQ(LinesOf(create ? "ModifyPowerScheme" : "CreatePowerScheme").back(), refusal);
    EXPECT_EQ(Power()["schemes"].size(), 4u);
  }
}

}  // namespace
}  // namespace zrt::test
