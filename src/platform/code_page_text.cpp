#include "platform/code_page_text.h"

namespace zrt {

LeadByteTest LeadBytesOf(port::System& system) {
  return [&system](unsigned char byte) { return system.IsDBCSLeadByte(byte); };
}

bool EndsWithCharacter(std::string_view text, char c, const LeadByteTest& isLeadByte) {
  bool ends = false;
  ForEachCharacter(text, isLeadByte,
                   [&](std::size_t at, std::size_t width) { ends = width == 1 && text[at] == c; });
  return ends;
}

std::string MapSingleByteCharacters(std::string_view text, const LeadByteTest& isLeadByte,
                                    char (*map)(char)) {
  std::string out(text);
  ForEachCharacter(text, isLeadByte, [&](std::size_t at, std::size_t width) {
    if (width == 1) out[at] = map(out[at]);
  });
  return out;
}

std::string LongerThanBytes(std::size_t bytes) {
  return "longer than " + std::to_string(bytes) + " bytes in this machine's code page";
}

std::string CutToWholeCharacters(std::string_view text, std::size_t limit,
                                 const LeadByteTest& isLeadByte) {
  return std::string(text.substr(0, WholeCharacterLength(text, limit, isLeadByte)));
}

}  // namespace zrt
