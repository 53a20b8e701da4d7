// The power-profile API (powrprof): EnumPwrSchemes, CanUserWritePwrScheme,
// GetActivePwrScheme, DeletePwrScheme.
#include <windows.h>
// Headers that expect the Windows types to be declared already.
#include <powrprof.h>

#include <exception>

#include "platform/win32/win32_adapters.h"

namespace zrt::win32 {
namespace {

// What the enumeration callback needs: the caller's callback, and the
// exception it threw, carried out of the system's call to be rethrown there.
struct EnumContext {
  const port::SchemeEnumCallback* callback;
  std::exception_ptr failure;
};

port::WideText WideFrom(const void* text) {
  if (text == nullptr) return {};
  return port::WideText(static_cast<const char16_t*>(text));
}

// The system passes the name and description as UTF-16 although the MinGW
// header declares them as narrow texts, so they are read as wide here.
//
// No exception may leave this function: the system's frames between
// EnumPwrSchemes and here cannot be unwound by a C++ exception. A throwing
// callback stops the enumeration instead; the exception is rethrown after
// EnumPwrSchemes has returned.
BOOLEAN CALLBACK EnumThunk(UINT index, DWORD /*nameSize*/, LPTSTR name, DWORD /*descriptionSize*/,
                           LPTSTR description, PPOWER_POLICY /*policy*/, LPARAM context) {
  auto* enumeration = reinterpret_cast<EnumContext*>(context);
  try {
    return (*enumeration->callback)(index, WideFrom(name), WideFrom(description)) ? TRUE : FALSE;
  } catch (...) {
    enumeration->failure = std::current_exception();
    return FALSE;
  }
}

class Win32PowerProfile final : public port::PowerProfile {
 public:
  bool EnumPwrSchemes(const port::SchemeEnumCallback& callback) override {
    EnumContext context{&callback, nullptr};
    const BOOLEAN result = ::EnumPwrSchemes(&EnumThunk, reinterpret_cast<LPARAM>(&context));
    if (context.failure) std::rethrow_exception(context.failure);
    return result != FALSE;
  }

  bool CanUserWritePwrScheme() override { return ::CanUserWritePwrScheme() != FALSE; }

  bool GetActivePwrScheme(std::uint32_t& index) override {
    UINT active = 0;
    if (!::GetActivePwrScheme(&active)) return false;
    index = active;
    return true;
  }

  bool DeletePwrScheme(std::uint32_t index) override { return ::DeletePwrScheme(index) != FALSE; }
};

}  // namespace

std::unique_ptr<port::PowerProfile> MakePowerProfile() {
  return std::make_unique<Win32PowerProfile>();
}

}  // namespace zrt::win32
