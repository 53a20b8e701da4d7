// Files of this program are written the way a text-mode stream writes them:
// every line feed reaches the disk as CR LF.
#pragma once

#include <string>
#include <string_view>

namespace zrt::report {

inline std::string ToTextMode(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 16 + 2);
  std::size_t start = 0;
  for (std::size_t end; (end = text.find('\n', start)) != std::string_view::npos; start = end + 1) {
    out.append(text, start, end - start).append("\r\n");
  }
  out.append(text, start);
  return out;
}

}  // namespace zrt::report
