// Conversion between the thread's ANSI code page and UTF-16.
#pragma once

#include <string>
#include <string_view>

#include "platform/code_page_text.h"
#include "platform/fixed_text.h"
#include "platform/port/system.h"

namespace zrt {

// ANSI to UTF-16 with a destination sized from the source (twice the
// source's length, terminator included). False when conversion fails.
bool ToWide(port::System& system, std::string_view narrow, port::WideText& wide);

// UTF-16 to ANSI with a destination sized from the source, as above. False
// when conversion fails; `narrow` is then empty. With `lossy`, characters the
// code page lacks are not mapped to look-alikes but to the default character,
// and `*lossy` tells whether any was (a failed conversion counts as lossy).
bool ToNarrow(port::System& system, const port::WideText& wide, std::string& narrow,
              bool* lossy = nullptr);

// UTF-16 to UTF-8, whatever the code page; a lone surrogate becomes U+FFFD.
std::string WideToUtf8(std::u16string_view wide);

// UTF-16 to ANSI, stored into a fixed field (cut to its width, at the last
// whole character). An
// unconvertible text is stored empty.
template <std::size_t N>
bool ToNarrow(port::System& system, const port::WideText& wide, FixedText<N>& field) {
  std::string narrow;
  const bool ok = ToNarrow(system, wide, narrow);
  field.Assign(narrow, LeadBytesOf(system));
  return ok;
}

}  // namespace zrt
