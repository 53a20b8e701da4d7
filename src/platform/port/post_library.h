// The sibling post library: LoadLibraryA, GetProcAddress("WebPostData") and
// the call through that entry point.
#pragma once

#include <array>
#include <cstdint>

#include "platform/port/platform_types.h"

namespace zrt::port {

// One result variant of WebPostData, read after the call and then cleared.
struct VariantResult {
  enum class Kind { Empty, Text, Other };
  Kind kind = Kind::Empty;
  WideText text;  // the BSTR when kind is Text
};

struct WebPostResults {
  VariantResult result;
  VariantResult error;
  VariantResult further;
};

enum class CallOutcome {
  Returned,  // the entry point returned normally
  Raised,    // the entry point raised an exception
  TimedOut,  // the entry point had not returned when the bound ran out
};

class PostLibrary {
 public:
  virtual ~PostLibrary() = default;

  // LoadLibraryA. The library stays loaded until the process ends.
  virtual bool LoadLibraryA(const char* path) = 0;

  // GetProcAddress of `name` in the library loaded last; false when no
  // library is loaded or it has no such export.
  virtual bool GetProcAddress(const char* name) = 0;

  // Calls the entry point found by GetProcAddress with seven text variants
  // (by value) and three result variants, on a thread of its own that runs
  // in the caller's security context, and waits at most `boundMs`
  // milliseconds for it. A call that has not returned by then is abandoned
  // (TimedOut): it may go on, or never end, but what it leaves is never read,
  // and the library must not be called again.
  virtual CallOutcome WebPostData(const std::array<WideText, 7>& texts, WebPostResults& results,
                                  std::uint32_t boundMs) = 0;
};

}  // namespace zrt::port
