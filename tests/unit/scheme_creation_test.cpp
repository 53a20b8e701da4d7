// Scheme creation on a simulated laptop: its failure table with the Vista
// rule, the new index, time-out texts, standby and hibernation answers, a
// desktop, what stays written after a failure, and refused values.
#include "power/scheme_creation.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "power/policy_steps.h"
#include "support/power_run.h"

namespace zrt::test {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::Not;

constexpr const char* kVista = "Os Type is Windows Vista/Windows 2008/Windows 7";

class SchemeCreationTest : public PowerRunTest {
 protected:
  bool Create(RequestFields fields) {
    fields.insert(fields.begin(), {"schemename", "Field Work"});
    return power::CreatePowerScheme(*run_, MakeRequest(fields));
  }
  sim::Json Scheme(std::uint32_t index) const {
    const sim::Json power = Power();
    for (const auto& scheme : power["schemes"]) {
      if (scheme["index"] == index) return scheme;
    }
    return nullptr;
  }
  std::vector<std::string> CommandLines() const {
    std::vector<std::string> lines;
    for (const auto& command : Commands()) lines.push_back(command["command_line"]);
    return lines;
  }
};

TEST_F(SchemeCreationTest, FailingPlatformCallsEndWithTheirMessagesAndTheVistaRule) {
  struct Row {
    std::string power;  // power.json members
    std::string message;
    bool vistaRule;
    std::vector<std::string> lines;  // the last lines of the operation
    std::size_t schemes;             // schemes stored after the failure
  };
  const std::string denied = "Access is denied.\r";
  const std::string invalid = "The parameter is incorrect.\r";
  const std::vector<Row> rows = {
      {R"({"user_may_write": false})",
       "The current user does not have sufficient privilege to Create a power scheme.",
       true,
       {"INFO|CanUserWritePwrScheme - No|5|" + denied},
       4},
      {R"({"failures": {"GetCurrentPowerPolicies": 87}})",
       "Failed to Get Current Power Policies : " + invalid + "\n",
       true,
       {"FAILED|GetCurrentPowerPolicies|87|" + invalid},
       4},
      {R"({"failures": {"WritePwrScheme": 5}})",
       "Failed to Write New Power Scheme : " + denied + "\n",
       true,
       {"FAILED|WritePwrScheme||", "FAILED|WritePwrScheme|5|" + denied},
       4},
      // The capabilities are read first before any change, to decide what
      // the machine would use.
      {R"({"failures": {"GetPwrCapabilities": [87]}})",
       "Failed to Get Power Capabilities : " + invalid + "\n",
       false,
       {"SUCCESS|GetCurrentPowerPolicies||", "FAILED|GetPwrCapabilities|87|" + invalid},
       4},
      {R"({"failures": {"GetPwrCapabilities": [0, 87]}})",
       "Failed to Get Power Capabilities : " + invalid + "\n",
       false,
       {"SUCCESS|WritePwrScheme||", "FAILED|GetPwrCapabilities|87|" + invalid},
       5},
      {R"({"failures": {"WriteGlobalPwrPolicy": 5}})",
       "Failed to set Global Power Policy while Creating scheme : " + denied + "\n",
       false,
       {"FAILED|WriteGlobalPwrPolicy||", "FAILED|WriteGlobalPwrPolicy|5|" + denied},
       5},
      {R"({"failures": {"GetPwrCapabilities": [0, 0, 87]}})",
       "Failed to Get Power capabilities : " + invalid + "\n",
       false,
       {"INFO|Set Activ||No", "FAILED|GetPwrCapabilities||",
        "FAILED|GetPwrCapabilities|87|" + invalid},
       5},
  };
  for (const Row& row : rows) {
    for (bool vista : {false, true}) {
      SCOPED_TRACE(row.power + (vista ? " on Vista" : " on XP"));
      WritePower(row.power);
      std::filesystem::remove(root_ / kLogFile);
      StartRun(vista);
      EXPECT_FALSE(Create({}));
      EXPECT_EQ(Failure(), vista && row.vistaRule ? kVista : row.message);
      const auto lines = LinesOf("CreatePowerScheme");
      ASSERT_GE(lines.size(), row.lines.size());
      EXPECT_EQ(std::vector<std::string>(lines.end() - row.lines.size(), lines.end()), row.lines);
      EXPECT_EQ(Power()["schemes"].size(), row.schemes);
    }
  }
}

TEST_F(SchemeCreationTest, NewIndexFollowsTheHighestIndexSeenInTheRun) {
  WriteSchemes(R"([{"index": 0, "name": "A"}, {"index": 1, "name": "B"},
                   {"index": 2, "name": "C"}, {"index": 7, "name": "D"}])",
               0);
  StartRun();
  EXPECT_TRUE(Create({}));
  EXPECT_TRUE(power::CreatePowerScheme(*run_, MakeRequest({{"schemename", "Second"}})));
  EXPECT_EQ(Scheme(8)["name"], "Field Work");
  EXPECT_EQ(Scheme(9)["name"], "Second");
}

TEST_F(SchemeCreationTest, TimeoutTextsAreReadAsA32BitStrtolReadsThem) {
  const std::vector<std::pair<std::string, std::uint32_t>> cases = {
      {"600", 600},  {"abc", 0},
      {"", 0},       {"-1", 4294967295u},
      {"  42s", 42}, {"99999999999", 2147483647u},
      {"+7", 7},     {"-99999999999", 2147483648u}};
  for (const auto& [text, value] : cases) EXPECT_EQ(power::TimeoutValue(text), value) << text;

  StartRun();
  EXPECT_TRUE(Create({{"tohdpi", "-1"}, {"tohdrb", "abc"}, {"turnoffrb", "99999999999"}}));
  const sim::Json policy = Scheme(7)["policy"];
  EXPECT_EQ(policy["SpindownTimeoutAc"], 4294967295u);
  EXPECT_EQ(policy["SpindownTimeoutDc"], 0);
  EXPECT_EQ(policy["VideoTimeoutAc"], 0);  // empty, not the 900 read from the active scheme
  EXPECT_EQ(policy["VideoTimeoutDc"], 2147483647);
  EXPECT_EQ(policy["ThrottlePolicyAc"], 3);  // not set by the request: as read
}

TEST_F(SchemeCreationTest, StandbyIsSetOnlyWhenThePlatformAnswersExactlyOne) {
  const RequestFields standby = {{"sysstandpi", "1800"}, {"sysstandrb", "600"}};
  StartRun();
  EXPECT_TRUE(Create(standby));
  EXPECT_EQ(Scheme(7)["policy"]["IdleAc"],
            sim::Json::parse(R"({"Action": 2, "Flags": 1, "EventCode": 7})"));
  EXPECT_EQ(Scheme(7)["policy"]["IdleTimeoutDc"], 600);

  for (const char* answer : {"false", "2"}) {
    WritePower(std::string(R"({"standby_allowed": )") + answer + "}");
    std::filesystem::remove(root_ / kLogFile);
    StartRun();
    EXPECT_TRUE(Create(standby));
    EXPECT_EQ(Scheme(7)["policy"]["IdleAc"],
              sim::Json::parse(R"({"Action": 0, "Flags": 0, "EventCode": 7})"));
    EXPECT_EQ(Scheme(7)["policy"]["IdleTimeoutAc"], 60);
    EXPECT_THAT(LinesOf("CreatePowerScheme"), Contains("INFO|Is Sleep||No"));
    EXPECT_THAT(LinesOf("CreatePowerScheme"), Not(Contains("INFO|System_StandBy_Ac||1800")));
  }
}

TEST_F(SchemeCreationTest, HibernationSwitchFailureGoesOnBeforeVistaAndEndsFromVistaOn) {
  struct Row {
    bool allowed;
    const char* hibsupp;
    const char* command;
    const char* label;
    const char* message;
  };
  const Row rows[] = {
      {true, "0", "Powercfg.exe \"-HIBERNATE\" \"off\"", "Hibernate Disable",
       "Failed to Disable Hibernate : System does not support hibernation"},
      {false, "1", "Powercfg.exe \"-HIBERNATE\" \"on\"", "Hibernate Enable",
       "Failed to Enable Hibernate : System does not support hibernation"},
  };
  const RequestFields fields = {{"syshibpi", "7200"}, {"syshibrb", "1800"}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.command);
    RequestFields request = fields;
    request.emplace_back("hibsupp", row.hibsupp);
    const std::string allowed = row.allowed ? "true" : "false";
    WritePower(R"({"hibernation_allowed": )" + allowed + "}");
    Write("commands.jsonl", "");
    StartRun();
    EXPECT_TRUE(Create(request));  // the switch succeeds and is kept
    EXPECT_EQ(Power()["hibernation_allowed"], !row.allowed);
    EXPECT_EQ(CommandLines().front(), row.command);

    WritePower(R"({"hibernation_allowed": )" + allowed + R"(, "powercfg": {"commands": {)" +
               sim::Json(row.command).dump() + R"(: {"exit_code": 1}}}})");
    StartRun(false);
    EXPECT_TRUE(Create(request));
    EXPECT_EQ(Failure(), row.message);
    EXPECT_THAT(LinesOf("CreatePowerScheme"),
                Contains(std::string("FAILED|") + row.label +
                         "|Might be System does not support hibernation|Kindly check by fireing "
                         "the command:- Powercfg.exe -HIBERNATE " +
                         (row.allowed ? "off" : "on")));
    EXPECT_EQ(Scheme(7)["policy"]["DozeS4TimeoutAc"], 7200);

    WritePower(R"({"hibernation_allowed": )" + allowed + R"(, "powercfg": {"commands": {)" +
               sim::Json(row.command).dump() + R"(: {"exit_code": 1}}}})");
    std::filesystem::remove(root_ / kLogFile);
    StartRun(true);
    EXPECT_FALSE(Create(request));
    EXPECT_EQ(Failure(), kVista);
    EXPECT_EQ(LinesOf("CreatePowerScheme").back(),
              "INFO|Is Hibernate|" + std::string(row.hibsupp) + "|" + (row.allowed ? "Yes" : "No"));
    EXPECT_TRUE(Scheme(7).is_null());
  }
}

TEST_F(SchemeCreationTest, HibernationAlreadyAsWantedRunsNoCommandAndOtherValuesNothing) {
  StartRun();
  EXPECT_TRUE(Create({{"hibsupp", "1"}, {"syshibpi", "60"}}));
  for (const auto& line : CommandLines()) EXPECT_THAT(line, Not(::testing::HasSubstr("HIBERNATE")));
  EXPECT_THAT(LinesOf("CreatePowerScheme"), Contains("INFO|Is Hibernate|1|Yes"));
  EXPECT_EQ(Scheme(7)["policy"]["DozeS4TimeoutAc"], 60);

  std::filesystem::remove(root_ / kLogFile);
  EXPECT_TRUE(power::CreatePowerScheme(
      *run_, MakeRequest({{"schemename", "Other"}, {"hibsupp", "yes"}, {"syshibpi", "60"}})));
  EXPECT_THAT(LinesOf("CreatePowerScheme"), Not(Contains(::testing::HasSubstr("Hibernate"))));
  EXPECT_EQ(Scheme(8)["policy"]["DozeS4TimeoutAc"], 0);
}

TEST_F(SchemeCreationTest, DesktopWithoutLidOrBatteriesSetsTheButtonsAndFlagsOnly) {
  WritePower(R"({"capabilities": {"PowerButtonPresent": 1, "SleepButtonPresent": 2,
                                  "ProcessorThrottle": 0}})");
  StartRun();
  EXPECT_TRUE(Create({{"powerbtn", "2"},
                      {"sleepbtn", "3"},
                      {"closelid", "4"},
                      {"procthrotac", "1"},
                      {"lowbatactivate", "1"},
                      {"dimvideo", "No"}}));
  const sim::Json global = Power()["global_policy"];
  EXPECT_EQ(global["PowerButtonAc"], sim::Json::parse(R"({"Action":0,"Flags":3,"EventCode":8})"));
  EXPECT_EQ(global["PowerButtonDc"], global["PowerButtonAc"]);
  EXPECT_EQ(global["SleepButtonAc"]["Action"], 0);
  EXPECT_EQ(global["LidCloseAc"], sim::Json::parse(R"({"Action":2,"Flags":3,"EventCode":0})"));
  const auto lines = LinesOf("CreatePowerScheme");
  EXPECT_THAT(lines, Contains("INFO|Power Button Action||Ask me what to do"));
  EXPECT_THAT(lines, Contains("SUCCESS|SleepButtonPresent||No"));
  EXPECT_THAT(lines, Contains("SUCCESS|LidPresent||No"));
  EXPECT_THAT(lines, Contains("INFO|ProcessorThrottle||Not Present"));
  EXPECT_THAT(lines, Contains("INFO|System Batteries||Not Present"));
  EXPECT_THAT(CommandLines(), ElementsAre("Powercfg.exe -GLOBALPOWERFLAG off -OPTION VIDEODIM"));
}

TEST_F(SchemeCreationTest, FailureInTheAlarmsLeavesSchemeGlobalPolicyAndActiveScheme) {
  WritePower(R"({"powercfg": {"commands": {"Powercfg.exe -B LOW -level 12": {"exit_code": 1}}}})");
  StartRun();
  EXPECT_FALSE(Create({{"actpowesch", "1"},
                       {"closelid", "5"},
                       {"procthrotdc", "2"},
                       {"lowbatactivate", "1"},
                       {"lowbatlev", "12"},
                       {"taskb", "No"}}));
  const sim::Json power = Power();
  EXPECT_EQ(power["active_scheme"], 7);
  EXPECT_EQ(Scheme(7)["policy"]["ThrottlePolicyDc"], 1);
  EXPECT_EQ(power["global_policy"]["LidCloseDc"]["Action"], 4);
  EXPECT_EQ(CommandLines().back(), "Powercfg.exe -B LOW -level 12");
}

TEST_F(SchemeCreationTest, ValuesThatWouldChangeTheArgumentsAreRefusedUnrun) {
  struct Row {
    RequestFields fields;
    std::string refusal;  // the refusal's log line
    std::string message;
  };
  const std::string name =
      "Refused: a scheme name with a quotation mark or a control character, "
      "or ending in a backslash";
  const std::string level = "Refused: a level must be empty or decimal digits";
  const auto refused = [](const char* element, const char* setting, const std::string& why) {
    return "The job document's value of " + std::string(element) + " is refused for " + setting +
           ": " + why.substr(9) + ".";
  };
  const std::string longName(60, 'N'), longLevel(60, '1');
  const std::string nameTooLong =
      "The scheme name is longer than 49 bytes in this machine's code page.";
  const std::string levelTooLong =
      "The Low Battery Level (lowbatlev) is longer than 49 bytes in this machine's code page.";
  const std::string blank =
      "The scheme name (schemename) is empty or blank: a new scheme needs a name.";
  const std::vector<Row> rows = {
      {{{"schemename", longName.c_str()}},
       "FAILED|schemename|" + longName.substr(0, 49) + "|" + nameTooLong,
       nameTooLong},
      {{{"lowbatactivate", "1"}, {"lowbatlev", longLevel.c_str()}},
       "FAILED|lowbatlev|" + longLevel.substr(0, 49) + "|" + levelTooLong,
       levelTooLong},
      {{{"schemename", "Work\" -x \"y"}, {"actpowesch", "1"}},
       "FAILED|schemename|Work\" -x \"y|" + name,
       refused("schemename", "SetActivePwrScheme", name)},
      {{{"schemename", "Share\\"}, {"procthrotac", "1"}},
       "FAILED|schemename|Share\\|" + name,
       refused("schemename", "Processor Throttle AC", name)},
      {{{"schemename", "Bell\x07"}, {"actpowesch", "1"}},
       "FAILED|schemename|Bell\x07|" + name,
       refused("schemename", "SetActivePwrScheme", name)},
      {{{"lowbatactivate", "1"}, {"lowbatlev", "10 -activate off"}},
       "FAILED|lowbatlev|10 -activate off|" + level,
       refused("lowbatlev", "Low Battery Level", level)},
      {{{"lowbatactivate", "0"}, {"critbatactivate", "1"}, {"critbatlevel", "-5"}},
       "FAILED|critbatlevel|-5|" + level,
       refused("critbatlevel", "CRITICAL Battery Level", level)},
      // Blank names are no names: no scheme is made nobody could name.
      {{{"schemename", ""}}, "FAILED|schemename||" + blank, blank},
      {{{"schemename", "   "}}, "FAILED|schemename|   |" + blank, blank},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.refusal);
    WritePower();
    Write("commands.jsonl", "");
    StartRun();
    RequestFields fields = row.fields;
    fields.emplace_back("hibsupp", "0");  // a switch that would come first
    EXPECT_FALSE(Create(fields));
    EXPECT_EQ(Failure(), row.message);
    EXPECT_EQ(LinesOf("CreatePowerScheme").back(), row.refusal);
    // Decided before the first change: nothing ran, nothing was written.
    EXPECT_TRUE(Commands().empty());
    EXPECT_EQ(Power()["schemes"].size(), 4u);
    EXPECT_EQ(Power()["hibernation_allowed"], true);
  }
  // A quotation mark in a name no command of the step takes is no refusal.
  StartRun();
  EXPECT_TRUE(power::CreatePowerScheme(*run_, MakeRequest({{"schemename", "Say \"when\""}})));
  EXPECT_EQ(Scheme(7)["name"], "Say \"when\"");
}

TEST_F(SchemeCreationTest, ValuesOnlyAMissingCapabilityWouldTakeAreNeitherUsedNorRefused) {
  const struct {
    const char* capabilities;
    RequestFields fields;
    std::vector<std::string> commands;  // what the step still runs
  } rows[] = {
      {R"({"capabilities": {"ProcessorThrottle": 1, "SystemBatteriesPresent": 0}})",
       {{"lowbatactivate", "1"},
        {"lowbatlev", "10%"},
        {"critbatactivate", "1"},
        {"critbatlevel", "00000000000000000000000000000000000000000000000005"},
        {"taskb", "No"}},
       {"Powercfg.exe -GLOBALPOWERFLAG off -OPTION BATTERYICON"}},
      {R"({"capabilities": {"ProcessorThrottle": 0, "SystemBatteriesPresent": 1}})",
       {{"schemename", "Quiet \"Q\""},
        {"procthrotac", "1"},
        {"lowbatactivate", "1"},
        {"lowbatlev", "10"}},
       {"Powercfg.exe -B LOW -activate on", "Powercfg.exe -B LOW -level 10",
        "Powercfg.exe -B LOW -sound off", "Powercfg.exe -B LOW -text off",
        "Powercfg.exe -B LOW -program off", "Powercfg.exe -B CRITICAL -activate off"}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.capabilities);
    WritePower(row.capabilities);
    Write("commands.jsonl", "");
    StartRun();
    RequestFields fields = row.fields;
    fields.emplace_back("turnoffpi", "300");
    EXPECT_TRUE(Create(fields)) << Failure();
    EXPECT_EQ(CommandLines(), row.commands);
    EXPECT_EQ(Scheme(7)["policy"]["VideoTimeoutAc"], 300);
  }
}

TEST_F(SchemeCreationTest, NumbersAreNeverReadFromCutTextsAndNothingChanges) {
  const std::vector<std::pair<RequestFields, std::string>> rows = {
      {{{"tohdpi", "000000000000000000600"}}, "tohdpi"},
      {{{"sysstandrb", "-00000000000000000000600"}}, "sysstandrb"},
      // Checked before hibernation is switched off.
      {{{"hibsupp", "0"}, {"syshibrb", "000000000000000000007200"}}, "syshibrb"},
  };
  for (const auto& [fields, field] : rows) {
    SCOPED_TRACE(field);
    WritePower();
    Write("commands.jsonl", "");
    StartRun();
    EXPECT_FALSE(Create(fields));
    EXPECT_EQ(Failure(),
              "The time-out " + field + " is longer than 20 bytes in this machine's code page.");
    EXPECT_THAT(LinesOf("CreatePowerScheme").back(),
                ::testing::StartsWith("FAILED|" + field + "|"));
    EXPECT_TRUE(Commands().empty());
    EXPECT_EQ(Power()["schemes"].size(), 4u);
    EXPECT_EQ(Power()["hibernation_allowed"], true);
  }
}

TEST_F(SchemeCreationTest, ExistingSchemeIsKeptUnlessOverwritingIsAsked) {
  StartRun();
  for (const char* overwrite : {"0", "yes", ""}) {
    EXPECT_TRUE(power::CreatePowerScheme(*run_, MakeRequest({{"schemename", "night shift"},
                                                             {"overwriteifexst", overwrite},
                                                             {"actpowesch", "1"}})));
    EXPECT_EQ(LinesOf("CreatePowerScheme").back(), "INFO|night shift|OverWriteIfExist|No");
  }
  EXPECT_EQ(Power()["schemes"].size(), 4u);
  EXPECT_TRUE(Commands().empty());

  EXPECT_TRUE(power::CreatePowerScheme(
      *run_, MakeRequest({{"schemename", "NIGHT SHIFT"}, {"overwriteifexst", "1"}})));
  const auto lines = LinesOf("CreatePowerScheme");
  EXPECT_THAT(
      std::vector<std::string>(lines.end() - 3, lines.end()),
      ElementsAre("INFO|Scheme Already Present||NIGHT SHIFT",
                  "INFO|NIGHT SHIFT|OverWriteIfExist|Yes", "INFO|NIGHT SHIFT||Modifying Scheme"));
  EXPECT_EQ(Scheme(6)["name"], "NIGHT SHIFT");  // modified, not added
  EXPECT_EQ(Power()["schemes"].size(), 4u);
}

}  // namespace
}  // namespace zrt::test
