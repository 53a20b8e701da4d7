// The activity log's files: one per day with its own header, no header in a
// file that already has lines, and lines lost quietly when nothing can be
// written.
#include "report/activity_log.h"

#include <gtest/gtest.h>

#include <memory>

#include "run/run.h"
#include "sim_machine_fixture.h"

namespace zrt::test {
namespace {

class ActivityLogTest : public SimMachineTest {
 protected:
  static constexpr const char* kFolder = "drive_c/Data/Merqel/ApplicationLog/zQTVLog/";

  void SetClock(const std::string& time, const std::string& extra = "") {
    Write("machine.json", R"({"windows_folder": "C:\\WINDOWS", "drives": {"C": "drive_c"},
      "local_time": ")" + time +
                              "\"" + extra + "}");
  }
  void LogOneLine(const std::string& val1 = "v1") {
    run_ = std::make_unique<run::Run>(Open(), report::MakeActivityLog);
    run_->context.dataFolder.Assign("C:\\Data\\Merqel");
    run_->context.REGID.Assign("R-9");
    run_->log.Write("WinMain", "information", val1, "v2", "v3");
  }
  std::unique_ptr<run::Run> run_;
};

TEST_F(ActivityLogTest, EachDayGetsItsOwnFileAndHeader) {
  SetClock("2026-12-07 23:59:59.999");
  LogOneLine();
  LogOneLine();
  SetClock("2026-12-08 00:00:00.001");
  LogOneLine();

  const std::string first = Read(std::string(kFolder) + "zReTessalyXP_[07122026].Log");
  EXPECT_EQ(first,
            "#Software: zReTessalyXP\r\n#Version: 2.0.0.5\r\n#Regid : R-9\r\n"
            "#Operating System :  32 Bit Machine\r\n#Date: 07/12/2026 11:59:59 PM\r\n"
            "#Fields:\tdtime\tSession User Name\tmodule\ttype\tval1\tval2\tval3\r\n"
            "07/12/2026 11:59:59 PM\tSYSTEM\tWinMain\tINFO\tv1\tv2\tv3\r\n"
            "07/12/2026 11:59:59 PM\tSYSTEM\tWinMain\tINFO\tv1\tv2\tv3\r\n");
  const std::string second = Read(std::string(kFolder) + "zReTessalyXP_[08122026].Log");
  EXPECT_EQ(second.substr(second.find("#Date:"), 35), "#Date: 08/12/2026 12:00:00 AM\r\n#Fie");
}

TEST_F(ActivityLogTest, AnExistingFileGetsTheHeaderOnlyWhileEmpty) {
  // Empty: the run that made it died before its first line.
  SetClock("2026-12-07 10:00:00");
  const std::string file = std::string(kFolder) + "zReTessalyXP_[07122026].Log";
  const std::string line = "07/12/2026 10:00:00 AM\tSYSTEM\tWinMain\tINFO\ttab\there\tv2\tv3\r\n";
  for (const std::string before : {"", "older\r\n"}) {
    Write(file, before);
    LogOneLine("tab\there");
    const std::string after = Read(file);
    EXPECT_EQ(after.substr(after.size() - line.size()), line);
    EXPECT_EQ(after.rfind("#Software: zReTessalyXP\r\n", 0) == 0, before.empty()) << after;
    EXPECT_EQ(after.size(), before.empty() ? after.find("#Fields") + 61 + line.size()
                                           : before.size() + line.size());
  }
}

TEST_F(ActivityLogTest, UnwritableFolderLosesTheLineAndNothingElse) {
  SetClock("2026-12-07 10:00:00", R"(, "write_denied": ["C:\\Data"])");
  LogOneLine();
  EXPECT_FALSE(HostExists(std::string(kFolder)));
}

TEST_F(ActivityLogTest, PathsLongerThanTheLimitAreNotWritten) {
  SetClock("2026-12-07 10:00:00");
  run_ = std::make_unique<run::Run>(Open(), report::MakeActivityLog);
  std::string folder = "C:", host = "drive_c";
  for (int i = 0; i < 20; ++i) {
    folder += "\\" + std::string(48, 'd');
    host += "/" + std::string(48, 'd');
  }
  run_->context.dataFolder.Assign(folder);
  run_->log.Write("WinMain", "Info", "a", "b", "c");
  EXPECT_FALSE(HostExists(host + "/ApplicationLog/zQTVLog/zReTessalyXP_[07122026].Log"));
}

}  // namespace
}  // namespace zrt::test
