// Text encodings of the simulated machine. Its ANSI code page is one of those
// Windows XP uses (Windows-1252 unless machine.json says otherwise),
// converted through the C library's iconv; the machine's own files are
// UTF-8; the wide texts of the platform are UTF-16.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>

namespace zrt::sim {

// UTF-8 <-> UTF-16. Malformed UTF-8 bytes are read as Windows-1252 bytes;
// unpaired surrogates become U+FFFD.
std::u16string Utf8ToUtf16(std::string_view utf8);
std::string Utf16ToUtf8(std::u16string_view wide);

// Decodes one well-formed UTF-8 sequence at `pos` (no overlong forms, no
// surrogates, nothing above U+10FFFF); its length, or 0 when the bytes there
// are not one.
std::size_t DecodeUtf8(std::string_view utf8, std::size_t pos, std::uint32_t& cp);

// Lower-case form for case-insensitive comparison: every letter with a
// simple lower-case form (Latin, Greek, Cyrillic, full-width ...). Other
// units unchanged.
std::u16string FoldUtf16(std::u16string_view wide);

// One ANSI code page: 874, 932, 936, 949, 950 or 1250 to 1258.
//
// Conversions go character by character, as Windows walks the text: a lead
// byte and the byte after it are one character. Bytes 0x80 to 0x9F that the
// code page leaves undefined stand for the C1 control of the same value, both
// ways; any other byte it lacks, and the lead byte of a pair it lacks, reads
// as U+FFFD. Units without a
// character in the code page become '?' (no best fit).
class AnsiCodePage {
 public:
  // Throws std::invalid_argument for any other number.
  explicit AnsiCodePage(std::uint32_t number = 1252);

  // Whether `number` is one of the code pages above.
  static bool Known(std::uint32_t number);

  std::uint32_t Number() const { return number_; }

  // Lead bytes as Windows has them: 932 0x81-0x9F and 0xE0-0xFC; 936, 949
  // and 950 0x81-0xFE; none in the single-byte code pages.
  bool IsLeadByte(unsigned char byte) const;

  // Whole-text conversions. `usedDefault`, when given, tells whether any
  // unit became '?'.
  std::u16string ToUtf16(std::string_view ansi) const;
  std::string FromUtf16(std::u16string_view wide, bool* usedDefault = nullptr) const;
  std::string ToUtf8(std::string_view ansi) const;
  std::string FromUtf8(std::string_view utf8) const { return FromUtf16(Utf8ToUtf16(utf8)); }

  // Case-insensitive comparison, character against character (a double-byte
  // character whole): negative, zero or positive.
  int CompareNoCase(std::string_view left, std::string_view right) const;
  bool EqualNoCase(std::string_view left, std::string_view right) const {
    return CompareNoCase(left, right) == 0;
  }

 private:
  struct Converters;

  // The character at `pos` (one or two bytes) as UTF-16; `length` its bytes.
  std::u16string Character(std::string_view ansi, std::size_t pos, std::size_t& length) const;

  // Each byte read alone, and back: the same for every machine of a code
  // page, so made once per process and shared.
  struct SingleBytes {
    std::array<char16_t, 256> units{};
    std::unordered_map<char16_t, char> bytes;
  };
  std::shared_ptr<const SingleBytes> MakeSingleBytes(const char* iconvName) const;

  std::uint32_t number_;
  std::shared_ptr<Converters> converters_;
  std::shared_ptr<const SingleBytes> single_;
};

// The Western code page, for texts not tied to a machine.
const AnsiCodePage& Windows1252();

}  // namespace zrt::sim
