#include "check/sim/shown_name.h"

namespace zrt::check {

namespace {

// Valid UTF-8 as it is, but for controls; every other byte, and a backslash
// when `backslash` says so, as \xNN.
std::string Escaped(std::string_view bytes, bool backslash) {
  std::string out;
  for (std::size_t i = 0; i < bytes.size();) {
    const auto c = static_cast<unsigned char>(bytes[i]);
    const std::size_t length = c < 0x80         ? 1
                               : (c >> 5) == 6  ? 2
                               : (c >> 4) == 14 ? 3
                               : (c >> 3) == 30 ? 4
                                                : 0;
    bool whole = length != 0 && i + length <= bytes.size() && !(length == 2 && c < 0xC2);
    for (std::size_t k = 1; whole && k < length; ++k) {
      whole = (static_cast<unsigned char>(bytes[i + k]) & 0xC0) == 0x80;
    }
    if (whole && c >= 0x20 && c != 0x7F && !(backslash && c == '\\')) {
      out.append(bytes, i, length);
      i += length;
    } else {
      out += "\\x" + HexByte(c);
      ++i;
    }
  }
  return out;
}

}  // namespace

std::string HexByte(unsigned char byte) {
  static const char kHex[] = "0123456789abcdef";
  return {kHex[byte >> 4], kHex[byte & 15]};
}

std::string ShownName(std::string_view bytes) { return Escaped(bytes, true); }

std::string ShownText(std::string_view bytes) { return Escaped(bytes, false); }

std::string RawName(std::string_view shown) {
  const auto hex = [](char c) {
    return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
  };
  std::string bytes;
  for (std::size_t i = 0; i < shown.size(); ++i) {
    if (shown.compare(i, 2, "\\x") == 0 && i + 3 < shown.size() && hex(shown[i + 2]) >= 0 &&
        hex(shown[i + 3]) >= 0) {
      const int byte = hex(shown[i + 2]) * 16 + hex(shown[i + 3]);
      if (byte >= 0x80 || byte < 0x20 || byte == 0x7F || byte == '\\') {  // what ShownName escapes
        bytes.push_back(static_cast<char>(byte));
        i += 3;
        continue;
      }
    }
    bytes.push_back(shown[i]);
  }
  return bytes;
}

}  // namespace zrt::check
