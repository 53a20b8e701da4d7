// The sibling post library: LoadLibraryA, GetProcAddress and the call of its
// WebPostData entry point, on a thread of its own with a bound on the wait,
// guarded against structured exceptions.
#include <windows.h>
// Headers that expect the Windows types to be declared already.
#include <oleauto.h>
#include <process.h>

#include <cstdint>
#include <memory>
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

// One call of the entry point, shared by the caller and the thread that
// makes it: whichever lets go of it last frees it, so a call the caller has
// abandoned keeps its texts and results for as long as it runs.
struct PostCall {
  WebPostDataFn entry = nullptr;
  UniqueVariant in[7];
  UniqueVariant out[3];  // VT_EMPTY until the callee fills them
  UniqueHandle token;    // the caller's impersonation token, if it had one
  bool returned = false;
};

// The trampoline the guard runs: nothing here needs destroying if the entry
// point raises.
void CallEntry(void* context) {
  auto* call = static_cast<PostCall*>(context);
  UniqueVariant* in = call->in;
  UniqueVariant* out = call->out;
  call->entry(in[0].value(), in[1].value(), in[2].value(), in[3].value(), in[4].value(),
              in[5].value(), in[6].value(), out[0].get(), out[1].get(), out[2].get());
}

// Makes the call as the calling thread would: same security context, COM
// initialised as on the job's thread.
void MakeCall(PostCall& call) {
  std::uint32_t exceptionCode = 0;
  call.returned = CallGuarded(&CallEntry, &call, exceptionCode);
  if (!call.returned) {
    // The callee was interrupted; what it left in the results cannot be
    // trusted, so it is neither read nor cleared.
    for (auto& v : call.out) v.Abandon();
  }
}

unsigned __stdcall PostThread(void* parameter) {
  const std::unique_ptr<std::shared_ptr<PostCall>> share(
      static_cast<std::shared_ptr<PostCall>*>(parameter));
  PostCall& call = **share;
  if (call.token && !::SetThreadToken(nullptr, call.token.get())) return 1;  // never as another
  const HRESULT com = ::CoInitialize(nullptr);
  MakeCall(call);
  if (SUCCEEDED(com)) ::CoUninitialize();
  return 0;
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
                                port::WebPostResults& results, std::uint32_t boundMs) override {
    results = port::WebPostResults{};
    if (entry_ == nullptr) {  // nothing to call: no post, no answer
      ::SetLastError(ERROR_PROC_NOT_FOUND);
      return port::CallOutcome::Returned;
    }

    auto call = std::make_shared<PostCall>();
    call->entry = entry_;
    for (std::size_t i = 0; i < texts.size(); ++i) call->in[i].SetBstr(MakeBstr(texts[i]));
    HANDLE token = nullptr;
    if (::OpenThreadToken(::GetCurrentThread(), TOKEN_IMPERSONATE | TOKEN_QUERY, TRUE, &token)) {
      call->token = UniqueHandle(token);
    }

    auto share = std::make_unique<std::shared_ptr<PostCall>>(call);
    const std::uintptr_t started =
        ::_beginthreadex(nullptr, 0, &PostThread, share.get(), 0, nullptr);
    if (started == 0) {
      MakeCall(*call);  // no thread to spare: the call is made here, unbounded
    } else {
      share.release();  // the thread's now
      const UniqueHandle thread(reinterpret_cast<HANDLE>(started));
      // Left running when the bound runs out; the call is never read again.
      if (::WaitForSingleObject(thread.get(), boundMs) != WAIT_OBJECT_0) {
        return port::CallOutcome::TimedOut;
      }
    }
    if (!call->returned) return port::CallOutcome::Raised;

    const UniqueVariant* out = call->out;
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
