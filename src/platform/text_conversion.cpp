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

std::string WideToUtf8(std::u16string_view wide) {
  std::string out;
  for (std::size_t i = 0; i < wide.size(); ++i) {
    std::uint32_t c = wide[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 &&
        wide[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (wide[++i] - 0xDC00);
    } else if (c >= 0xD800 && c < 0xE000) {
      c = 0xFFFD;  // a lone surrogate
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | c >> 6);
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | c >> 12);
      out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | c >> 18);
      out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
      out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

}  // namespace zrt
