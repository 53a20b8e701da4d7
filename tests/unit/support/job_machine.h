// A simulated Windows XP laptop, ready for a job, for in-process tests of the
// core: the product key, the user's shell, power schemes, a post library and
// a job document. Tests change pieces before calling Open() or RunProgram().
#pragma once

#include <string>
#include <vector>

#include "run/run.h"
#include "sim_machine_fixture.h"

namespace zrt::test {

// One record line of the activity log, split into its columns.
struct LogRecord {
  std::string time, user, module, type, val1, val2, val3;
};

class JobMachineTest : public SimMachineTest {
 protected:
  static constexpr const char* kJobPath = "C:\\Jobs\\job.xml";
  static constexpr const char* kLogFile =
      "drive_c/Documents and Settings/All Users/Application Data/Merqel/ApplicationLog/zQTVLog/"
      "zReTessalyXP_[07122026].Log";

  JobMachineTest();

  // The registry with the product key under `key`, without `missingValue`.
  void WriteRegistry(const std::string& key = "HKLM\\SOFTWARE\\MERQEL",
                     const std::string& missingValue = "");
  void WriteSchemes(const std::string& schemesJson, int active = 1, const std::string& extra = "");
  void WriteJob(const std::string& steps, const std::string& fncname = "Power Management",
                const std::string& scriptid = "5012");
  void WritePostLibrary(const std::string& answersJson);

  // The nine-field job argument for the job document at kJobPath.
  static std::string JobArgument(const std::string& xmlPath = kJobPath);

  // Runs the whole program in-process; returns its exit code.
  int RunProgram(const std::string& jobArgument = JobArgument());

  std::vector<LogRecord> LogRecords() const;
  // The record lines as "module|TYPE|val1|val2|val3".
  std::vector<std::string> LogLines() const;
  // Scheme names left in the machine's power state, in order.
  std::vector<std::string> SchemeNames() const;
  // The posts the post library received (status URL, document).
  std::vector<std::pair<std::string, std::string>> Posts() const;
  // Contents of the fallback files in the post-log folder.
  std::vector<std::string> FallbackFiles() const;
};

}  // namespace zrt::test
