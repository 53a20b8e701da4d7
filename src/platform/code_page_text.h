// Byte rules that know the double-byte characters of the machine's ANSI code
// page: in 932, 936, 949 and 950 a byte such as 0x5C may be the second half
// of a character rather than a backslash of its own.
#pragma once

#include <string>
#include <string_view>

#include "platform/fixed_text.h"
#include "platform/port/system.h"

namespace zrt {

// The machine's lead-byte test, for cuts and byte rules.
LeadByteTest LeadBytesOf(port::System& system);

// Calls `visit(offset, width)` for each character of `text` in turn; width
// is 2 for a lead byte followed by its trail byte, otherwise 1.
template <class Visit>
void ForEachCharacter(std::string_view text, const LeadByteTest& isLeadByte, Visit&& visit) {
  for (std::size_t i = 0; i < text.size();) {
    const bool pair =
        isLeadByte && i + 1 < text.size() && isLeadByte(static_cast<unsigned char>(text[i]));
    const std::size_t width = pair ? 2 : 1;
    visit(i, width);
    i += width;
  }
}

// The last character of `text` is the single byte `c`, not the trail byte
// of a double-byte character.
bool EndsWithCharacter(std::string_view text, char c, const LeadByteTest& isLeadByte);

// `text` with every single-byte character passed through `map`; double-byte
// characters are copied unchanged.
std::string MapSingleByteCharacters(std::string_view text, const LeadByteTest& isLeadByte,
                                    char (*map)(char));

// "longer than N bytes in this machine's code page": widths count bytes, and
// a character of a double-byte code page takes two.
std::string LongerThanBytes(std::size_t bytes);

// `text` cut to at most `limit` bytes, ending at the last whole character.
std::string CutToWholeCharacters(std::string_view text, std::size_t limit,
                                 const LeadByteTest& isLeadByte);

}  // namespace zrt
