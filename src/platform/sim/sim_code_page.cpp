#include "platform/sim/sim_code_page.h"

#include <iconv.h>
#include <locale.h>
#include <wctype.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <mutex>
#include <stdexcept>
#include <utility>

#include "platform/text_conversion.h"

namespace zrt::sim {
namespace {

constexpr char16_t kReplacement = 0xFFFD;

struct CodePageName {
  std::uint32_t number;
  const char* iconvName;
  unsigned char firstLead, lastLead;  // 0, 0: none
  unsigned char firstLead2, lastLead2;
};

// The ANSI code pages of Windows XP and the names glibc's iconv knows them by.
constexpr std::array<CodePageName, 14> kCodePages = {{
    {874, "CP874", 0, 0, 0, 0},
    {932, "CP932", 0x81, 0x9F, 0xE0, 0xFC},
    {936, "CP936", 0x81, 0xFE, 0, 0},
    {949, "CP949", 0x81, 0xFE, 0, 0},
    {950, "CP950", 0x81, 0xFE, 0, 0},
    {1250, "CP1250", 0, 0, 0, 0},
    {1251, "CP1251", 0, 0, 0, 0},
    {1252, "CP1252", 0, 0, 0, 0},
    {1253, "CP1253", 0, 0, 0, 0},
    {1254, "CP1254", 0, 0, 0, 0},
    {1255, "CP1255", 0, 0, 0, 0},
    {1256, "CP1256", 0, 0, 0, 0},
    {1257, "CP1257", 0, 0, 0, 0},
    {1258, "CP1258", 0, 0, 0, 0},
}};

const CodePageName* Find(std::uint32_t number) {
  const auto* found = std::find_if(kCodePages.begin(), kCodePages.end(),
                                   [&](const CodePageName& page) { return page.number == number; });
  return found == kCodePages.end() ? nullptr : found;
}

class Iconv {
 public:
  Iconv(const char* to, const char* from) : cd_(iconv_open(to, from)) {
    if (reinterpret_cast<std::intptr_t>(cd_) == -1) {  // iconv_open's failure
      throw std::invalid_argument(std::string("iconv cannot convert ") + from + " to " + to);
    }
  }
  ~Iconv() { iconv_close(cd_); }
  Iconv(const Iconv&) = delete;
  Iconv& operator=(const Iconv&) = delete;

  // Converts all of `in` and flushes (a code page such as 1258 holds a base
  // letter back for a following accent); false when any of it fails.
  bool Convert(std::string_view in, std::string& out) {
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    std::array<char, 16> buffer{};
    char* inPtr = const_cast<char*>(in.data());  // iconv's signature; it only reads
    std::size_t inLeft = in.size();
    char* outPtr = buffer.data();
    std::size_t outLeft = buffer.size();
    if (iconv(cd_, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<std::size_t>(-1) ||
        iconv(cd_, nullptr, nullptr, &outPtr, &outLeft) == static_cast<std::size_t>(-1)) {
      return false;
    }
    out.assign(buffer.data(), outPtr);
    return true;
  }

 private:
  iconv_t cd_;
};

// UTF-16LE bytes <-> units.
std::u16string Units(const std::string& bytes) {
  std::u16string units;
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    units.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                          (static_cast<unsigned char>(bytes[i + 1]) << 8)));
  }
  return units;
}

std::string Bytes(std::u16string_view units) {
  std::string bytes;
  for (char16_t unit : units) {
    bytes.push_back(static_cast<char>(unit & 0xFF));
    bytes.push_back(static_cast<char>(unit >> 8));
  }
  return bytes;
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

bool IsHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

// The simple lower-case mappings of Unicode, from the C library's UTF-8
// locale (independent of the host's own locale).
char16_t FoldUnit(char16_t unit) {
  if (unit < 0x80) return unit >= u'A' && unit <= u'Z' ? unit + 0x20 : unit;
  static const locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
  if (utf8 == nullptr || IsHighSurrogate(unit) || IsLowSurrogate(unit)) return unit;
  const wint_t lower = towlower_l(unit, utf8);
  return lower < 0x10000 ? static_cast<char16_t>(lower) : unit;
}

}  // namespace

struct AnsiCodePage::Converters {
  explicit Converters(const char* name) : toWide("UTF-16LE", name), toAnsi(name, "UTF-16LE") {}
  Iconv toWide;
  Iconv toAnsi;
};

AnsiCodePage::AnsiCodePage(std::uint32_t number) : number_(number) {
  const CodePageName* page = Find(number);
  if (page == nullptr) {
    throw std::invalid_argument("no ANSI code page " + std::to_string(number));
  }
  // Only a double-byte code page converts beyond its single bytes, which
  // are tabled once per process.
  if (page->firstLead != 0) converters_ = std::make_shared<Converters>(page->iconvName);
  static std::mutex made;
  static std::map<std::uint32_t, std::shared_ptr<const SingleBytes>> byNumber;
  const std::lock_guard<std::mutex> lock(made);
  auto& single = byNumber[number];
  if (!single) single = MakeSingleBytes(page->iconvName);
  single_ = single;
}

std::shared_ptr<const AnsiCodePage::SingleBytes> AnsiCodePage::MakeSingleBytes(
    const char* iconvName) const {
  Iconv toWide("UTF-16LE", iconvName);
  auto single = std::make_shared<SingleBytes>();
  for (unsigned byte = 0; byte < 256; ++byte) {
    std::string wide;
    const bool known = !IsLeadByte(static_cast<unsigned char>(byte)) &&
                       toWide.Convert(std::string(1, static_cast<char>(byte)), wide);
    const std::u16string units = Units(wide);
    char16_t& unit = single->units[byte];
    if (known && units.size() == 1) {
      unit = units[0];
    } else {
      unit = byte >= 0x80 && byte <= 0x9F ? static_cast<char16_t>(byte) : kReplacement;
    }
    if (unit != kReplacement) single->bytes.emplace(unit, static_cast<char>(byte));
  }
  return single;
}

bool AnsiCodePage::Known(std::uint32_t number) { return Find(number) != nullptr; }

bool AnsiCodePage::IsLeadByte(unsigned char byte) const {
  const CodePageName& page = *Find(number_);
  return (byte >= page.firstLead && byte <= page.lastLead && page.firstLead != 0) ||
         (byte >= page.firstLead2 && byte <= page.lastLead2 && page.firstLead2 != 0);
}

std::u16string AnsiCodePage::Character(std::string_view ansi, std::size_t pos,
                                       std::size_t& length) const {
  const auto byte = static_cast<unsigned char>(ansi[pos]);
  if (!IsLeadByte(byte)) {
    length = 1;
    return std::u16string(1, single_->units[byte]);
  }
  // A pair the code page lacks gives U+FFFD for its lead byte alone, so a
  // byte such as '<' after a stray lead byte is still read.
  std::string wide;
  length = 2;
  if (pos + 1 < ansi.size() && converters_->toWide.Convert(ansi.substr(pos, 2), wide)) {
    return Units(wide);
  }
  length = 1;
  return std::u16string(1, kReplacement);
}

std::u16string AnsiCodePage::ToUtf16(std::string_view ansi) const {
  std::u16string wide;
  wide.reserve(ansi.size());
  for (std::size_t pos = 0, length = 0; pos < ansi.size(); pos += length) {
    wide += Character(ansi, pos, length);
  }
  return wide;
}

std::string AnsiCodePage::FromUtf16(std::u16string_view wide, bool* usedDefault) const {
  std::string ansi;
  ansi.reserve(wide.size());
  bool replaced = false;
  for (std::size_t i = 0; i < wide.size(); ++i) {
    const auto single = single_->bytes.find(wide[i]);
    if (single != single_->bytes.end()) {
      ansi.push_back(single->second);
      continue;
    }
    const bool pair =
        IsHighSurrogate(wide[i]) && i + 1 < wide.size() && IsLowSurrogate(wide[i + 1]);
    std::string bytes;
    // Only a double-byte code page, the one kind with converters, has more
    // characters than its single bytes.
    if (converters_ && !IsLowSurrogate(wide[i]) &&
        converters_->toAnsi.Convert(Bytes(wide.substr(i, pair ? 2 : 1)), bytes) &&
        bytes.size() == 2 && IsLeadByte(static_cast<unsigned char>(bytes[0]))) {
      ansi += bytes;
    } else {
      ansi.push_back('?');
      replaced = true;
    }
    if (pair) ++i;
  }
  if (usedDefault != nullptr) *usedDefault = replaced;
  return ansi;
}

std::string AnsiCodePage::ToUtf8(std::string_view ansi) const {
  const auto ascii = [](char c) { return static_cast<unsigned char>(c) < 0x80; };
  if (std::all_of(ansi.begin(), ansi.end(), ascii)) return std::string(ansi);  // the same in both
  return Utf16ToUtf8(ToUtf16(ansi));
}

int AnsiCodePage::CompareNoCase(std::string_view left, std::string_view right) const {
  const std::u16string a = FoldUtf16(ToUtf16(left));
  const std::u16string b = FoldUtf16(ToUtf16(right));
  const int order = a.compare(b);
  return order < 0 ? -1 : (order > 0 ? 1 : 0);
}

const AnsiCodePage& Windows1252() {
  static const AnsiCodePage western(1252);
  return western;
}

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

std::u16string Utf8ToUtf16(std::string_view utf8) {
  std::u16string wide;
  wide.reserve(utf8.size());
  std::size_t pos = 0;
  while (pos < utf8.size()) {
    std::uint32_t cp = 0;
    const std::size_t length = DecodeUtf8(utf8, pos, cp);
    if (length == 0) {
      wide += Windows1252().ToUtf16(utf8.substr(pos, 1));
      ++pos;
    } else {
      AppendUtf16(wide, cp);
      pos += length;
    }
  }
  return wide;
}

std::string Utf16ToUtf8(std::u16string_view wide) { return WideToUtf8(wide); }

std::u16string FoldUtf16(std::u16string_view wide) {
  std::u16string folded(wide);
  for (char16_t& unit : folded) unit = FoldUnit(unit);
  return folded;
}

}  // namespace zrt::sim
