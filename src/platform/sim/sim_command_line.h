// How a started program sees its command line on the simulated machine: the
// program's name as the platform finds it, and the arguments as the C
// runtime of a Windows program splits them.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/fixed_text.h"

namespace zrt::sim {

// The program name and the arguments after it.
struct SplitCommand {
  std::string program;
  std::vector<std::string> arguments;
};

// The program name is the text up to the first blank or tab, or, when it
// starts with a quotation mark, the text up to the next one. The arguments
// are separated by blanks and tabs outside quotation marks; a quotation mark
// starts or ends a quoted part, two inside a quoted part give one; 2n
// backslashes before a quotation mark give n backslashes, 2n + 1 give n and
// a literal quotation mark; other backslashes are kept. A lead byte of the
// code page (`isLeadByte`) and the byte after it are one character, as the
// C runtime of a program in a double-byte code page reads them: a trail byte
// 0x5C or 0x22 is neither a backslash nor a quotation mark.
SplitCommand SplitCommandLine(std::string_view commandLine, const LeadByteTest& isLeadByte = {});

}  // namespace zrt::sim
