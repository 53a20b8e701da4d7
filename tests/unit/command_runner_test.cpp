// The command runner on the simulated machine: the identity, desktop and
// flags a command runs under, exit codes, start failures, the wait bound
// and the length of a command line.
#include "power/command_runner.h"

#include <gtest/gtest.h>

#include "power/scheme_creation.h"
#include "support/power_run.h"

namespace zrt::test {
namespace {

class CommandRunnerTest : public PowerRunTest {};

TEST_F(CommandRunnerTest, EachOutcomeIsLoggedAndTheLastErrorTellsWhyACommandDidNotEnd) {
  const std::string longName(2047 - std::string("Powercfg.exe -SETACTIVE ").size(), 'n');
  struct Row {
    std::string power;  // what the machine is told
    std::string command;
    bool result;
    std::string line;               // the ExecuteCMD line
    sim::Json record;               // exit code, waits and ending; null: not started
    port::ErrorCode lastError = 0;  // when the result is false
  };
  const sim::Json waited = {300000};
  const std::vector<Row> rows = {
      {"{}",
       "Powercfg.exe /LIST",
       true,
       "SUCCESS|1|0|Powercfg.exe /LIST",
       {{"exit_code", 0}, {"waits", waited}, {"terminated", false}}},
      {"{}",
       "powercfg -SETACTIVE Nowhere",
       false,
       "SUCCESS|1|1|powercfg -SETACTIVE Nowhere",
       {{"exit_code", 1}, {"waits", waited}, {"terminated", false}}},
      {R"({"powercfg": {"commands": {"Powercfg.exe -x": {"exit_code": 4294967295}}}})",
       "Powercfg.exe -x",
       false,
       "SUCCESS|1|-1|Powercfg.exe -x",
       {{"exit_code", 4294967295u}, {"waits", waited}, {"terminated", false}}},
      {R"({"powercfg": {"installed": false}})", "Powercfg.exe /LIST", false,
       "ERROR|Process as user Failed|2|The system cannot find the file specified.\r", nullptr, 2},
      {"{}", "notepad.exe /LIST", false,
       "ERROR|Process as user Failed|2|The system cannot find the file specified.\r", nullptr, 2},
      {R"({"powercfg": {"start_error": 1314}})", "Powercfg.exe /LIST", false,
       "ERROR|Process as user Failed|1314|A required privilege is not held by the client.\r",
       nullptr, 1314},
      {R"({"powercfg": {"commands": {"Powercfg.exe /LIST": {"never_ends": true}}}})",
       "Powercfg.exe /LIST",
       false,
       "ERROR|Command Timed Out|Ended after 300 seconds|Powercfg.exe /LIST",
       {{"exit_code", 1460}, {"waits", waited}, {"terminated", true}},
       1460},
      {"{}", "Powercfg.exe -SETACTIVE " + longName + "x", false,
       "ERROR|Command Line Too Long|2048 bytes, at most 2047|Powercfg.exe -SETACTIVE " + longName +
           "x",
       nullptr, 206},
      {R"({"powercfg": {"commands": {"Powercfg.exe /LIST": {"exit_code_error": 6}}}})",
       "Powercfg.exe /LIST",
       false,
       "ERROR|Exit Code Failed|6|The handle is invalid.\r",
       {{"exit_code", 0}, {"waits", waited}, {"terminated", false}},
       6},
      {"{}",
       "Powercfg.exe -SETACTIVE " + longName,
       false,
       "SUCCESS|1|1|Powercfg.exe -SETACTIVE " + longName,
       {{"exit_code", 1}, {"waits", waited}, {"terminated", false}}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line.substr(0, 80));
    WritePower(row.power);
    Write("commands.jsonl", "");
    std::filesystem::remove(root_ / kLogFile);
    run::Run& run = StartRun();
    run.platform.system.SetLastError(0);
    EXPECT_EQ(power::ExecuteCMD(run, row.command), row.result);
    if (!row.result) {
      EXPECT_EQ(run.platform.system.GetLastError(), row.lastError);
    }
    EXPECT_EQ(LinesOf("ExecuteCMD"), std::vector<std::string>{row.line});
    const auto commands = Commands();
    if (row.record.is_null()) {
      EXPECT_TRUE(commands.empty());
      continue;
    }
    ASSERT_EQ(commands.size(), 1u);
    sim::Json command = commands[0];
    EXPECT_TRUE(command["time_us"].is_number_unsigned());  // the child's time, counted apart
    command.erase("time_us");
    sim::Json expected = {{"command_line", row.command},
                          {"account", "jsmith"},
                          {"desktop", "winsta0\\default"},
                          {"show_window", 0},
                          {"flags", 0x101},
                          {"creation_flags", 0x10},
                          {"inherit_handles", true}};
    expected.update(row.record);
    EXPECT_EQ(command, expected);
  }
}

TEST_F(CommandRunnerTest, WithoutTheUsersTokenNothingStarts) {
  run::Run& run = StartRun();
  run.context.userToken.reset();
  EXPECT_FALSE(power::ExecuteCMD(run, "Powercfg.exe /LIST"));
  EXPECT_EQ(LinesOf("ExecuteCMD").back(),
            "ERROR|Process as user Failed|6|The handle is invalid.\r");
}

TEST_F(CommandRunnerTest, ASettingWhoseCommandNeverEndsFailsWithTheTimeout) {
  WritePower(R"({"powercfg": {"commands": {
      "Powercfg.exe -GLOBALPOWERFLAG on -OPTION WAKEONRING": {"never_ends": true}}}})");
  StartRun();
  EXPECT_FALSE(power::CreatePowerScheme(
      *run_, MakeRequest({{"schemename", "Field Work"}, {"ring", "Yes"}, {"multib", "Yes"}})));
  EXPECT_EQ(run_->buffers.failureMessage,
            "Failed to Turn on wake on ring support. : This operation returned because the "
            "timeout period expired.\r\n");
  EXPECT_EQ(Commands().back()["terminated"], true);
}

}  // namespace
}  // namespace zrt::test
