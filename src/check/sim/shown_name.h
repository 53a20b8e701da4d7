// Host names and texts as they can be shown in UTF-8, whatever their bytes.
#pragma once

#include <string>
#include <string_view>

namespace zrt::check {

// A name as it can be shown in UTF-8: bytes that are no UTF-8, and the
// backslash itself, as \xNN, so two names never read the same.
std::string ShownName(std::string_view bytes);
// A message as it can be shown in UTF-8: bytes that are no UTF-8 as \xNN;
// its backslashes (of Windows paths) as they are.
std::string ShownText(std::string_view bytes);
// A byte as two lowercase hexadecimal digits.
std::string HexByte(unsigned char byte);
// The bytes a shown name stands for: each \xNN that ShownName writes read
// back as its byte, so shown names sort as the names themselves.
std::string RawName(std::string_view shown);

}  // namespace zrt::check
