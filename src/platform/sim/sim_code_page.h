// Text encodings of the simulated machine. Its ANSI code page is
// Windows-1252; the machine's own files are UTF-8; the wide texts of the
// platform are UTF-16.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace zrt::sim {

// Whole-text conversions. Units without a Windows-1252 byte become '?';
// `usedDefault`, when given, tells whether any did.
std::u16string AnsiToUtf16(std::string_view ansi);
std::string Utf16ToAnsi(std::u16string_view wide, bool* usedDefault = nullptr);

// UTF-8 <-> UTF-16. Malformed UTF-8 bytes are read as Windows-1252 bytes;
// unpaired surrogates become U+FFFD.
std::u16string Utf8ToUtf16(std::string_view utf8);
std::string Utf16ToUtf8(std::u16string_view wide);

// Decodes one well-formed UTF-8 sequence at `pos` (no overlong forms, no
// surrogates, nothing above U+10FFFF); its length, or 0 when the bytes there
// are not one.
std::size_t DecodeUtf8(std::string_view utf8, std::size_t pos, std::uint32_t& cp);

// UTF-8 <-> Windows-1252, through UTF-16.
std::string Utf8ToAnsi(std::string_view utf8);
std::string AnsiToUtf8(std::string_view ansi);

// Lower-case form for case-insensitive comparison: ASCII letters, the
// Latin-1 letters and the letter pairs of Windows-1252 (S, Z and OE with
// caron or ligature, Y with diaeresis). Other units unchanged.
std::u16string FoldUtf16(std::u16string_view wide);

// Case-insensitive comparison of two Windows-1252 texts, as a negative
// number, zero or a positive number.
int CompareAnsiNoCase(std::string_view left, std::string_view right);

// True when two Windows-1252 texts are equal ignoring case.
bool EqualAnsiNoCase(std::string_view left, std::string_view right);

}  // namespace zrt::sim
