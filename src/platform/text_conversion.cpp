#include "platform/text_conversion.h"

namespace zrt {

bool ToWide(port::System& system, std::string_view narrow, port::WideText& wide) {
  wide.clear();
  const std::size_t capacity = 2 * (narrow.size() + 1);
  return system.MultiByteToWideChar(std::string(narrow), wide, capacity);
}

bool ToNarrow(port::System& system, const port::WideText& wide, std::string& narrow, bool* lossy) {
  narrow.clear();
  const std::size_t capacity = 2 * (wide.size() + 1);
  if (lossy) *lossy = true;
  if (!system.WideCharToMultiByte(wide, narrow, capacity, lossy)) {
    narrow.clear();
    return false;
  }
  return true;
}

}  // namespace zrt
