// The tab-separated activity log: one file per software name and day, opened,
// appended to and closed again for every line.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/fixed_text.h"
#include "platform/port/platform.h"
#include "run/job_context.h"
#include "run/log_writer.h"

namespace zrt::report {

class ActivityLog final : public run::LogWriter {
 public:
  ActivityLog(port::Platform& platform, const run::JobContext& context);

  // Appends one record line (writing the header first into a new file).
  void WriteLog(std::string_view software, std::string_view module, std::string_view type,
                std::string_view val1, std::string_view val2,
                std::string_view val3) noexcept override;

  // The folder and the file a line written at `time` goes to.
  std::string LogFolder() const;
  std::string LogFilePath(std::string_view software, const port::SystemTime& time) const;

 private:
  void WriteLine(std::string_view software, std::string_view module, std::string_view type,
                 std::string_view val1, std::string_view val2, std::string_view val3);

  port::Platform& platform_;
  const run::JobContext& context_;
  FixedText<1024> userName_;
};

// The run's log writer (a run::LogWriterFactory).
std::unique_ptr<run::LogWriter> MakeActivityLog(port::Platform& platform,
                                                const run::JobContext& context);

// "Information" in any case becomes "INFO"; anything else is upper-cased
// (ASCII letters that are characters of their own, never a trail byte), cut
// to at most 99 bytes at the last whole character.
std::string NormaliseTypeWord(std::string_view type, const LeadByteTest& isLeadByte = {});

}  // namespace zrt::report
