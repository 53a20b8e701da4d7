// The whole job run in-process on a simulated XP laptop: start-up, every
// early exit and the end of a job.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>

#include "support/job_machine.h"

namespace zrt::test {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::Not;

class RunSequenceTest : public JobMachineTest {
 protected:
  static constexpr const char* kEnd = "WinMain|INFO|Application|End|";
};

TEST_F(RunSequenceTest, DeleteJobRunsFromStartToSuccessReport) {
  EXPECT_EQ(RunProgram(), 0);
  const std::string commandLine =
      "\"C:\\Program Files\\Merqel\\zReTessalyXP.exe\" " + JobArgument();
  EXPECT_THAT(
      LogLines(),
      ElementsAre("CommandLine|ARGUMENT|" + JobArgument() + "||",
                  "WinMain|INFO|Application|Start|====================================",
                  "zLocatorINI|INFO|URL Name is |https://status.example.test|",
                  "WinMain|INFO|Input||" + commandLine, "ParseInput|INFO|Input||" + commandLine,
                  "WinMain|SUCCESS|Xml||Initialize", "WinMain|SUCCESS|load Xml||C:\\Jobs\\job.xml",
                  "WinMain|INFO|load Xml||job", "WinMain|ERROR|OpenProcessToken||0",
                  "WinMain|SUCCESS|OpenProcessToken||", "WinMain|SUCCESS|ImpersonateLoggedOnUser||",
                  "WinMain|INFO|Xml Data|ScriptID|5012", "WinMain|INFO|Xml Data|ScriptVer|1.0",
                  "WinMain|INFO|Xml Data|Category|Power",
                  "WinMain|INFO|Xml Data|FuncName|Power Management",
                  "WinMain|INFO|Xml Data|LogOn|jsmith", "WinMain|SUCCESS|Data comapare||",
                  "WinMain|INFO|Action|Delete|Night Shift",
                  "SCHEMESENUMPROC|SUCCESS|EnumPwrSchemes||Home/Office Desk",
                  "SCHEMESENUMPROC|SUCCESS|EnumPwrSchemes||Portable/Laptop",
                  "SCHEMESENUMPROC|SUCCESS|EnumPwrSchemes||Presentation",
                  "SCHEMESENUMPROC|SUCCESS|EnumPwrSchemes||Night Shift",
                  "DeletePowerScheme|SUCCESS|GetActivePwrScheme||",
                  "DeletePowerScheme|INFO|Scheme Present||Night Shift",
                  "DeletePowerScheme|SUCCESS|Scheme Deleted||Night Shift",
                  "1.0|CREATEWEBPOST|Trying To Send The Following status For WebPost|"
                  "https://status.example.test/tfr_wpdcmscriptjobinstancestatus.asp?"
                  "mmid=M-77&sid=S-5&rid=R-1001&rty=WKS|<wpdcmscriptjobinstancestatus>",
                  "1.0|CREATEWEBPOST|Info|Success Webpost Return Status|1", kEnd));
  EXPECT_THAT(SchemeNames(), ElementsAre("Home/Office Desk", "Portable/Laptop", "Presentation"));
  ASSERT_EQ(Posts().size(), 1u);
  EXPECT_NE(Posts()[0].second.find("<status>Success</status>"), std::string::npos);
}

TEST_F(RunSequenceTest, LogHeaderAndUserColumnFollowTheIdentity) {
  RunProgram();
  const std::string log = Read(kLogFile);
  EXPECT_EQ(log.substr(0, log.find("#Fields:")),
            "#Software: zReTessalyXP\r\n#Version: 2.0.0.5\r\n#Regid : R-1001\r\n"
            "#Operating System :  32 Bit Machine\r\n#Date: 07/12/2026 02:05:09 PM\r\n");
  EXPECT_NE(log.find("#Fields:\tdtime\tSession User Name\tmodule\ttype\tval1\tval2\tval3\r\n"),
            std::string::npos);
  const auto records = LogRecords();
  EXPECT_EQ(records.front().time, "07/12/2026 02:05:09 PM");
  auto userOf = [&records](const std::string& module, const std::string& val1) {
    for (const auto& r : records) {
      if (r.module == module && r.val1 == val1) return r.user;
    }
    return std::string("(no such line)");
  };
  EXPECT_EQ(userOf("CommandLine",
                   "OD@#@5012@#@C:\\Jobs\\job.xml@#@JOB-77@#@jsmith@#@12/07/2026 "
                   "10:30:00@#@88231@#@0@#@4411"),
            "SYSTEM");
  EXPECT_EQ(userOf("WinMain", "OpenProcessToken"), "SYSTEM");
  EXPECT_EQ(userOf("WinMain", "ImpersonateLoggedOnUser"), "jsmith");
  EXPECT_EQ(userOf("SCHEMESENUMPROC", "EnumPwrSchemes"), "jsmith");
  EXPECT_EQ(userOf("1.0", "Trying To Send The Following status For WebPost"), "jsmith");
  EXPECT_EQ(records.back().user, "SYSTEM");  // reverted before the End line
}

TEST_F(RunSequenceTest, MissingRegidLeavesOneLineAtTheDriveRootAndNoEnd) {
  WriteRegistry("HKLM\\SOFTWARE\\MERQEL", "REGID");
  EXPECT_EQ(RunProgram(), 0);
  EXPECT_FALSE(HostExists(kLogFile));
  const std::string log = Read("drive_c/ApplicationLog/zQTVLog/zReTessalyXP_[07122026].Log");
  EXPECT_NE(log.find("\tWinMain\tERROR\tREGID\tNot Found\tRegQueryValueEx [2]::The system cannot "
                     "find the file specified.\r\r\n"),
            std::string::npos)
      << log;
}

TEST_F(RunSequenceTest, MissingSiteIdStopsAfterStartWithoutEnd) {
  WriteRegistry("HKLM\\SOFTWARE\\MERQEL", "SITEID");
  RunProgram();
  const auto lines = LogLines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[1], "WinMain|INFO|Application|Start|====================================");
  EXPECT_EQ(lines[2].substr(0, 46), "WinMain|ERROR|SITEID|Not Found|RegQueryValueEx");
}

TEST_F(RunSequenceTest, SixtyFourBitMachineReadsTheWowKey) {
  WriteRegistry("HKLM\\SOFTWARE\\Wow6432Node\\MERQEL");
  Write("drive_c/Program Files (x86)/.keep", "");
  RunProgram();
  EXPECT_NE(Read(kLogFile).find("#Operating System :  64 Bit Machine\r\n"), std::string::npos);
  EXPECT_THAT(LogLines(), Contains("DeletePowerScheme|SUCCESS|Scheme Deleted||Night Shift"));
}

TEST_F(RunSequenceTest, BadArgumentEndsWithParseInput) {
  RunProgram("OD@#@5012@#@C:\\Jobs\\job.xml");
  const auto lines = LogLines();
  EXPECT_THAT(lines,
              Contains("ParseInput|ERROR|Invalid Commandline Parameter received.|Format : "
                       "OD@#@ScriptId@#@XmlFilePath@#@JobId@#@UserLoggedIn@#@ExecutionTime@#@"
                       "InstanceID@#@IsRealTimeS@#@ScriptJobId|"));
  EXPECT_EQ(lines.back(), "WinMain|INFO|Application|End|ParseInput");
}

TEST_F(RunSequenceTest, ACommandLineLongerThanItsLimitIsRefusedWholeAndSaysSo) {
  const std::string program = "\"C:\\Program Files\\Merqel\\zReTessalyXP.exe\" ";
  // The default argument with its JobId lengthened to make a command line of
  // `length` characters.
  const auto argumentOfLength = [&program](std::size_t length) {
    std::string argument = JobArgument();
    argument.insert(argument.find("JOB-77") + 6, length - program.size() - argument.size(), '7');
    return argument;
  };
  for (const std::size_t length : {1024u, 2150u, 1023u}) {
    SCOPED_TRACE(length);
    std::filesystem::remove(root_ / kLogFile);
    RunProgram(argumentOfLength(length));
    const auto lines = LogLines();
    const std::string refusal = "ParseInput|ERROR|Commandline Parameter Too Long|" +
                                std::to_string(length) + " bytes, at most 1023|";
    if (length > 1023) {
      EXPECT_THAT(lines, Contains("ParseInput|INFO|Input||" + program + argumentOfLength(length)));
      EXPECT_THAT(lines, Contains(refusal));
      EXPECT_THAT(lines, Not(Contains(::testing::HasSubstr("Invalid Commandline"))));
      EXPECT_EQ(lines.back(), "WinMain|INFO|Application|End|ParseInput");
    } else {
      EXPECT_THAT(lines, Not(Contains(::testing::HasSubstr("ParseInput|ERROR"))));
      EXPECT_THAT(lines, Contains("DeletePowerScheme|SUCCESS|Scheme Deleted||Night Shift"));
    }
  }
}

TEST_F(RunSequenceTest, MissingAndMalformedDocumentsEndBeforeTheUserContext) {
  RunProgram(JobArgument("C:\\Jobs\\absent.xml"));
  auto lines = LogLines();
  EXPECT_EQ(lines[lines.size() - 2], "WinMain|FAILED|Input xml not found||C:\\Jobs\\absent.xml");
  EXPECT_EQ(lines.back(), kEnd);

  Write("drive_c/Jobs/job.xml", "<job><scriptinstance></job>");
  RunProgram();
  lines = LogLines();
  EXPECT_EQ(lines[lines.size() - 2], "WinMain|FAILED|load Xml||Unable Load inputfile");
  EXPECT_THAT(Posts(), IsEmpty());
}

TEST_F(RunSequenceTest, FunctionNameAndScriptIdAreComparedIgnoringCase) {
  WriteJob("<step value=\"1\"><action>none</action></step>", "POWER management", "5012");
  RunProgram();
  EXPECT_THAT(LogLines(), Contains("WinMain|SUCCESS|Data comapare||"));

  WriteJob("<step value=\"1\"><action>none</action></step>", "Power Management ", "5012");
  RunProgram();
  auto lines = LogLines();
  EXPECT_EQ(lines[lines.size() - 2], "WinMain|FAILED|||Function Name Not Matched");

  WriteJob("<step value=\"1\"><action>none</action></step>", "Power Management", "5013");
  RunProgram();
  lines = LogLines();
  EXPECT_EQ(lines[lines.size() - 2], "WinMain|FAILED|Data comapare||");
  EXPECT_EQ(LogRecords().back().user, "SYSTEM");

  // Ids that differ only beyond the 511 characters their fields hold.
  const std::string longId(511, '7');
  WriteJob("<step value=\"1\"><action>none</action></step>", "Power Management", longId + "A");
  std::string argument = JobArgument();
  RunProgram(argument.replace(argument.find("5012"), 4, longId + "B"));
  lines = LogLines();
  EXPECT_EQ(lines[lines.size() - 2], "WinMain|FAILED|Data comapare||");
}

TEST_F(RunSequenceTest, EmptyStepListTakesTheHeaderFromChildElementsAndReportsSuccess) {
  Write("drive_c/Jobs/job.xml",
        "<job><scriptinstance><scriptid>5012</scriptid><agentcategory>Power</agentcategory>"
        "<agenttemplatename>Power Management</agenttemplatename><logonuser>jsmith</logonuser>"
        "</scriptinstance></job>");
  RunProgram();
  EXPECT_THAT(LogLines(), Contains("WinMain|INFO|Xml Data|FuncName|Power Management"));
  ASSERT_EQ(Posts().size(), 1u);
  EXPECT_NE(Posts()[0].second.find("<status>Success</status>"), std::string::npos);
}

TEST_F(RunSequenceTest, NoShellMeansNoUserContextAndNoReport) {
  Write("processes.json", R"({"processes": [{"pid": 4, "name": "System"}]})");
  RunProgram();
  const auto lines = LogLines();
  EXPECT_EQ(lines[lines.size() - 2], "WinMain|INFO|load Xml||job");
  EXPECT_EQ(lines.back(), kEnd);
  EXPECT_THAT(Posts(), IsEmpty());
}

TEST_F(RunSequenceTest, FirstShellInSnapshotOrderIsUsedAndItsRefusalsAreLogged) {
  Write("processes.json", R"({"processes": [
    {"pid": 8, "name": "EXPLORER.EXE", "user": "first", "token_error": 5},
    {"pid": 9, "name": "explorer.exe", "user": "second"}]})");
  RunProgram();
  auto lines = LogLines();
  EXPECT_EQ(lines[lines.size() - 2], "WinMain|ERROR|OpenProcessToken|5|");

  Write("processes.json", R"({"processes": [
    {"pid": 8, "name": "explorer.exe", "user": "first", "impersonate_error": 1314}]})");
  RunProgram();
  lines = LogLines();
  EXPECT_EQ(lines[lines.size() - 2], "WinMain|ERROR|ImpersonateLoggedOnUser|1314|");
  EXPECT_THAT(Posts(), IsEmpty());
}

TEST_F(RunSequenceTest, FailingSecondStepKeepsTheFirstAndReportsFailureAsTheUser) {
  WriteJob(
      "<step value=\"1\"><action>Delete Scheme</action><schemename>night shift</schemename></step>"
      "<step value=\"2\"><action>Delete "
      "Scheme</action><schemename>Portable/Laptop</schemename></step>"
      "<step value=\"3\"><action>Delete "
      "Scheme</action><schemename>Presentation</schemename></step>");
  RunProgram();
  EXPECT_THAT(SchemeNames(), ElementsAre("Home/Office Desk", "Portable/Laptop", "Presentation"));
  ASSERT_EQ(Posts().size(), 1u);
  EXPECT_NE(Posts()[0].second.find("<status>Fail</status> \n\t<desc><![CDATA[Scheme Is Currently "
                                   "Active hence not Deleted.]]></desc>"),
            std::string::npos);
  EXPECT_EQ(LogLines().back(), kEnd);
  EXPECT_EQ(LogRecords().back().user, "jsmith");
}

TEST_F(RunSequenceTest, SuccessOnlyWhenEveryStepWasRead) {
  const std::string first =
      "<step value='1'><action>Delete Scheme</action><schemename>Night Shift</schemename></step>";
  const std::string second =
      "<step value='2'><action>Delete Scheme</action><schemename>Presentation</schemename></step>";
  const struct {
    std::string steps, desc, line;
  } cases[] = {
      {first + "<step><action>Delete Scheme</action></step>" + second,
       "Step 2 of 3 could not be read.", "WinMain|FAILED|ReadNextStep|2|"},
      {"<group>" + first + second + "</group>",
       "Only 1 of 2 steps ran: the script instance bounds the step list.",
       "WinMain|FAILED|ReadNextStep||Only 1 of 2 steps ran"},
      // Other children besides the steps: the walk runs off the end as usual.
      {"<instanceid>9</instanceid>" + first + second, "", ""},
  };
  for (const auto& c : cases) {
    WriteSchemes(R"([{"index": 1, "name": "Portable/Laptop"}, {"index": 2, "name": "Presentation"},
                     {"index": 6, "name": "Night Shift"}])");
    WriteJob(c.steps);
    RunProgram();
    EXPECT_NE(Posts().back().second.find("<desc><![CDATA[" + c.desc + "]]>"), std::string::npos)
        << c.steps;
    EXPECT_EQ(SchemeNames().size(), c.desc.empty() ? 1u : 2u);
    const auto lines = LogLines();
    EXPECT_EQ(lines.back(), kEnd);
    if (!c.line.empty()) {
      EXPECT_EQ(lines[lines.size() - 4].rfind(c.line, 0), 0u) << c.steps;
    }
  }
}

TEST_F(RunSequenceTest, ExceptionsAreLoggedWhereTheyAriseAndEndTheRunAtOnce) {
  const struct {
    const char* call;
    int at;
    std::string line, last;
  } cases[] = {
      // The first field's debugger output: ParseInput's own handler.
      {"OutputDebugStringA", 1, "ParseInput|ERROR|Exception Occured|",
       kEnd + std::string("ParseInput")},
      // Reading the script header: the entry point's handler.
      {"OutputDebugStringA", 10, "WinMain|ERROR|Exception Occured|", ""},
      // Inside the deletion: the operation's guard.
      {"GetActivePwrScheme", 1, "DeletePowerScheme|ERROR|Exception Occured|", ""},
  };
  for (const auto& c : cases) {
    auto machine = nlohmann::json::parse(Read("machine.json"));
    machine["raises"] = {{c.call, c.at}};
    Write("machine.json", machine.dump());
    EXPECT_EQ(RunProgram(), 0);
    auto lines = LogLines();
    if (!c.last.empty()) {
      EXPECT_EQ(lines.back(), c.last);
      lines.pop_back();
    }
    EXPECT_EQ(lines.back().rfind(c.line, 0), 0u) << lines.back();
  }
  EXPECT_THAT(Posts(), IsEmpty());
  EXPECT_EQ(SchemeNames().size(), 4u);
}

TEST_F(RunSequenceTest, UnknownActionsAreSkippedAndKnownOnesMatchIgnoringCase) {
  WriteJob(
      "<step value=\"1\"><action>Delete Shceme</action><schemename>Night Shift</schemename>"
      "</step>");
  RunProgram();
  EXPECT_THAT(LogLines(), Not(Contains("WinMain|INFO|Action|Delete|Night Shift")));
  ASSERT_EQ(Posts().size(), 1u);
  EXPECT_NE(Posts()[0].second.find("<status>Success</status>"), std::string::npos);

  WriteJob(
      "<step value=\"1\"><action>modify scheme</action><schemename>Night Shift</schemename>"
      "</step>");
  RunProgram();
  EXPECT_THAT(LogLines(), Contains("WinMain|INFO|Action|Modify|Night Shift"));
  EXPECT_THAT(LogLines(), Contains("ModifyPowerScheme|INFO|Scheme Already Present||Night Shift"));
  ASSERT_EQ(Posts().size(), 2u);
  EXPECT_NE(Posts()[1].second.find("<status>Success</status>"), std::string::npos);
}

TEST_F(RunSequenceTest, MissingPostLibraryIsLoggedAndTheStatusGoesToAFile) {
  std::filesystem::remove(root_ / "drive_c/Program Files/Merqel/zCourier.dll");
  RunProgram();
  const auto lines = LogLines();
  EXPECT_THAT(lines, Contains("1.0|CREATEWEBPOST|INFO|ZCourier DLL Loading Failed|"));
  EXPECT_THAT(lines, Contains("1.0|CREATEWEBPOST|ERR:|WebPostApi Loading Failed|"));
  const auto files = FallbackFiles();
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(files[0].substr(0, files[0].find('\n')),
            "wpdcmscriptjobinstancestatus.asp_N_R-1001_PER_20261207140509123.xml");
  EXPECT_NE(files[0].find("<status>Success</status> \r\n"), std::string::npos);
}

}  // namespace
}  // namespace zrt::test
