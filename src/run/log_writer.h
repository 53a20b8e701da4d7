// The one way every part writes to the activity log. The run holds the
// writer; the activity log of the reporting part is the real one.
#pragma once

#include <string_view>

namespace zrt::run {

// The software name every line of this program is logged under.
inline constexpr const char* kSoftwareName = "zReTessalyXP";

class LogWriter {
 public:
  virtual ~LogWriter() = default;

  // Appends one record line. Never fails towards the caller and never throws.
  virtual void WriteLog(std::string_view software, std::string_view module, std::string_view type,
                        std::string_view val1, std::string_view val2,
                        std::string_view val3) noexcept = 0;

  // A line under the program's own software name.
  void Write(std::string_view module, std::string_view type, std::string_view val1,
             std::string_view val2, std::string_view val3) noexcept {
    WriteLog(kSoftwareName, module, type, val1, val2, val3);
  }
};

}  // namespace zrt::run
