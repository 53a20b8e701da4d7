// Files of this program are written the way a text-mode stream writes them:
// every line feed reaches the disk as CR LF.
#pragma once

#include <string>
#include <string_view>

namespace zrt::report {

inline std::string ToTextMode(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 16 + 2);
  for (char c : text) {
    if (c == '\n') out.push_back('\r');
    out.push_back(c);
  }
  return out;
}

}  // namespace zrt::report
