#include "platform/sim/sim_code_page.h"

#include <algorithm>
#include <array>
#include <cstdint>

namespace zrt::sim {
namespace {

// Windows-1252 bytes 0x80 to 0x9F; everything else equals its Latin-1 value.
constexpr std::array<char16_t, 32> kHighControls = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  //
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  //
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  //
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

constexpr char16_t kReplacement = 0xFFFD;

void AppendUtf8(std::string& out, std::uint32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

void AppendUtf16(std::u16string& out, std::uint32_t cp) {
  if (cp < 0x10000) {
    out.push_back(static_cast<char16_t>(cp));
  } else {
    cp -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 | (cp >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 | (cp & 0x3FF)));
  }
}

char16_t AnsiToUnit(unsigned char byte) {
  if (byte >= 0x80 && byte <= 0x9F) return kHighControls[byte - 0x80];
  return byte;
}

bool UnitToAnsi(char16_t unit, unsigned char& byte) {
  if (unit < 0x80 || (unit >= 0xA0 && unit <= 0xFF)) {
    byte = static_cast<unsigned char>(unit);
    return true;
  }
  const auto* found = std::find(kHighControls.begin(), kHighControls.end(), unit);
  byte = static_cast<unsigned char>(0x80 + (found - kHighControls.begin()));
  return found != kHighControls.end();
}

char16_t FoldUnit(char16_t unit) {
  if (unit >= u'A' && unit <= u'Z') return unit + 0x20;
  if (unit >= 0xC0 && unit <= 0xDE && unit != 0xD7) return unit + 0x20;
  switch (unit) {
    case 0x0160:
      return 0x0161;
    case 0x0152:
      return 0x0153;
    case 0x017D:
      return 0x017E;
    case 0x0178:
      return 0x00FF;
    default:
      return unit;
  }
}

}  // namespace

std::size_t DecodeUtf8(std::string_view s, std::size_t pos, std::uint32_t& cp) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
  const unsigned char lead = byte(pos);
  std::size_t length = 0;
  std::uint32_t min = 0;
  if (lead < 0x80) {
    cp = lead;
    return 1;
  } else if ((lead & 0xE0) == 0xC0) {
    length = 2, cp = lead & 0x1F, min = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, cp = lead & 0x0F, min = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4, cp = lead & 0x07, min = 0x10000;
  } else {
    return 0;
  }
  if (pos + length > s.size()) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(pos + i) & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (byte(pos + i) & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return length;
}

std::u16string AnsiToUtf16(std::string_view ansi) {
  std::u16string wide;
  wide.reserve(ansi.size());
  for (char c : ansi) wide.push_back(AnsiToUnit(static_cast<unsigned char>(c)));
  return wide;
}

std::string Utf16ToAnsi(std::u16string_view wide, bool* usedDefault) {
  std::string ansi;
  ansi.reserve(wide.size());
  bool replaced = false;
  for (char16_t unit : wide) {
    unsigned char byte = 0;
    const bool exact = UnitToAnsi(unit, byte);
    replaced = replaced || !exact;
    ansi.push_back(exact ? static_cast<char>(byte) : '?');
  }
  if (usedDefault != nullptr) *usedDefault = replaced;
  return ansi;
}

std::u16string Utf8ToUtf16(std::string_view utf8) {
  std::u16string wide;
  wide.reserve(utf8.size());
  std::size_t pos = 0;
  while (pos < utf8.size()) {
    std::uint32_t cp = 0;
    const std::size_t length = DecodeUtf8(utf8, pos, cp);
    if (length == 0) {
      wide.push_back(AnsiToUnit(static_cast<unsigned char>(utf8[pos])));
      ++pos;
    } else {
      AppendUtf16(wide, cp);
      pos += length;
    }
  }
  return wide;
}

std::string Utf16ToUtf8(std::u16string_view wide) {
  std::string utf8;
  utf8.reserve(wide.size());
  for (std::size_t i = 0; i < wide.size(); ++i) {
    const char16_t unit = wide[i];
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 &&
        wide[i + 1] <= 0xDFFF) {
      const std::uint32_t cp = 0x10000 + ((unit - 0xD800u) << 10) + (wide[i + 1] - 0xDC00u);
      AppendUtf8(utf8, cp);
      ++i;
    } else if (unit >= 0xD800 && unit <= 0xDFFF) {
      AppendUtf8(utf8, kReplacement);
    } else {
      AppendUtf8(utf8, unit);
    }
  }
  return utf8;
}

std::string Utf8ToAnsi(std::string_view utf8) { return Utf16ToAnsi(Utf8ToUtf16(utf8)); }

std::string AnsiToUtf8(std::string_view ansi) {
  const auto ascii = [](char c) { return static_cast<unsigned char>(c) < 0x80; };
  if (std::all_of(ansi.begin(), ansi.end(), ascii)) return std::string(ansi);  // the same in both
  return Utf16ToUtf8(AnsiToUtf16(ansi));
}

std::u16string FoldUtf16(std::u16string_view wide) {
  std::u16string folded(wide);
  for (char16_t& unit : folded) unit = FoldUnit(unit);
  return folded;
}

int CompareAnsiNoCase(std::string_view left, std::string_view right) {
  const std::size_t common = std::min(left.size(), right.size());
  for (std::size_t i = 0; i < common; ++i) {
    const char16_t a = FoldUnit(AnsiToUnit(static_cast<unsigned char>(left[i])));
    const char16_t b = FoldUnit(AnsiToUnit(static_cast<unsigned char>(right[i])));
    if (a != b) return a < b ? -1 : 1;
  }
  if (left.size() == right.size()) return 0;
  return left.size() < right.size() ? -1 : 1;
}

bool EqualAnsiNoCase(std::string_view left, std::string_view right) {
  return CompareAnsiNoCase(left, right) == 0;
}

}  // namespace zrt::sim
