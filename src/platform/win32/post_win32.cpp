// The sibling post library: LoadLibraryA, GetProcAddress and the call of its
// WebPostData entry point, guarded against structured exceptions.
#include <windows.h>
// Headers that expect the Windows types to be declared already.
#include <oleauto.h>

#include <new>

#include "platform/win32/seh_guard.h"
#include "platform/win32/unique_resource.h"
#include "platform/win32/win32_adapters.h"

namespace zrt::win32 {
namespace {

// WebPostData: seven text variants by value, three result variants; the
// callee removes the arguments. Its return value carries nothing we use.
using WebPostDataFn = long(__stdcall*)(VARIANT, VARIANT, VARIANT, VARIANT, VARIANT, VARIANT,
                                       VARIANT, VARIANT*, VARIANT*, VARIANT*);

struct PostCall {
  WebPostDataFn entry;
  UniqueVariant* in;   // seven
  UniqueVariant* out;  // three
};

// The trampoline the guard runs: nothing here needs destroying if the entry
// point raises.
void CallEntry(void* context) {
  const auto* call = static_cast<const PostCall*>(context);
  UniqueVariant* in = call->in;
  UniqueVariant* out = call->out;
  call->entry(in[0].value(), in[1].value(), in[2].value(), in[3].value(), in[4].value(),
              in[5].value(), in[6].value(), out[0].get(), out[1].get(), out[2].get());
}

port::VariantResult ReadResult(const VARIANT& value) {
  port::VariantResult result;
  if (value.vt == VT_EMPTY) {
    result.kind = port::VariantResult::Kind::Empty;
  } else if (value.vt == VT_BSTR) {
    result.kind = port::VariantResult::Kind::Text;
    if (value.bstrVal != nullptr) {
      result.text.assign(reinterpret_cast<const char16_t*>(value.bstrVal),
                         ::SysStringLen(value.bstrVal));
    }
  } else {
    result.kind = port::VariantResult::Kind::Other;
  }
  return result;
}

UniqueBstr MakeBstr(const port::WideText& text) {
  UniqueBstr bstr(::SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text.data()),
                                      static_cast<UINT>(text.size())));
  if (!bstr) throw std::bad_alloc();
  return bstr;
}

class Win32PostLibrary final : public port::PostLibrary {
 public:
  // The library is never freed: it stays loaded until the process ends.
  bool LoadLibraryA(const char* path) override {
    HMODULE module = ::LoadLibraryA(path);
    if (module == nullptr) return false;
    module_ = module;
    return true;
  }

  bool GetProcAddress(const char* name) override {
    entry_ = nullptr;
    if (module_ == nullptr) {
      ::SetLastError(ERROR_INVALID_HANDLE);
      return false;
    }
    entry_ =
        reinterpret_cast<WebPostDataFn>(reinterpret_cast<void*>(::GetProcAddress(module_, name)));
    return entry_ != nullptr;
  }

  port::CallOutcome WebPostData(const std::array<port::WideText, 7>& texts,
                                port::WebPostResults& results) override {
    results = port::WebPostResults{};
    if (entry_ == nullptr) {  // nothing to call: no post, no answer
      ::SetLastError(ERROR_PROC_NOT_FOUND);
      return port::CallOutcome::Returned;
    }

    UniqueVariant in[7];
    for (std::size_t i = 0; i < texts.size(); ++i) in[i].SetBstr(MakeBstr(texts[i]));
    UniqueVariant out[3];  // VT_EMPTY until the callee fills them

    PostCall call{entry_, in, out};
    std::uint32_t exceptionCode = 0;
    if (!CallGuarded(&CallEntry, &call, exceptionCode)) {
      // The callee was interrupted; what it left in the results cannot be
      // trusted, so it is neither read nor cleared.
      for (auto& v : out) v.Abandon();
      return port::CallOutcome::Raised;
    }

    results.result = ReadResult(out[0].value());
    results.error = ReadResult(out[1].value());
    results.further = ReadResult(out[2].value());
    return port::CallOutcome::Returned;
  }

 private:
  HMODULE module_ = nullptr;
  WebPostDataFn entry_ = nullptr;
};

}  // namespace

std::unique_ptr<port::PostLibrary> MakePostLibrary() {
  return std::make_unique<Win32PostLibrary>();
}

}  // namespace zrt::win32
