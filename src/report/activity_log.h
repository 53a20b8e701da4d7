// The tab-separated activity log: one file per software name and day, opened,
// appended to and closed again for every line.
#pragma once

#include <string>
#include <string_view>

#include "app/job_context.h"
#include "platform/fixed_text.h"
#include "platform/port/platform.h"

namespace zrt::report {

inline constexpr const char* kSoftwareName = "zReTessalyXP";

class ActivityLog {
 public:
  ActivityLog(port::Platform& platform, const app::JobContext& context);

  // Appends one record line (writing the header first into a new file).
  // Never fails towards the caller and never throws.
  void WriteLog(std::string_view software, std::string_view module, std::string_view type,
                std::string_view val1, std::string_view val2, std::string_view val3) noexcept;

  // A line under the program's own software name.
  void Write(std::string_view module, std::string_view type, std::string_view val1,
             std::string_view val2, std::string_view val3) noexcept {
    WriteLog(kSoftwareName, module, type, val1, val2, val3);
  }

  // The folder and the file a line written at `time` goes to.
  std::string LogFolder() const;
  std::string LogFilePath(std::string_view software, const port::SystemTime& time) const;

 private:
  void WriteLine(std::string_view software, std::string_view module, std::string_view type,
                 std::string_view val1, std::string_view val2, std::string_view val3);

  port::Platform& platform_;
  const app::JobContext& context_;
  FixedText<1024> userName_;
};

// "Information" in any case becomes "INFO"; anything else is upper-cased
// (ASCII letters), cut to 99 characters.
std::string NormaliseTypeWord(std::string_view type);

}  // namespace zrt::report
