// Owners for the Windows handles the adapter holds: kernel handles, find
// handles, registry keys, SIDs, BSTRs, VARIANTs and COM interface pointers.
// Each kind of resource is released in exactly one place, its traits' Close.
#pragma once

#include <windows.h>
// Headers that expect the Windows types to be declared already.
#include <oleauto.h>

#include <utility>

namespace zrt::win32 {

// Move-only owner of one handle value; `Traits` names the invalid value and
// the release call.
template <typename Traits>
class UniqueResource {
 public:
  using Value = typename Traits::Value;

  UniqueResource() = default;
  explicit UniqueResource(Value value) : value_(value) {}
  ~UniqueResource() { reset(); }

  UniqueResource(UniqueResource&& other) noexcept : value_(other.release()) {}
  UniqueResource& operator=(UniqueResource&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueResource(const UniqueResource&) = delete;
  UniqueResource& operator=(const UniqueResource&) = delete;

  Value get() const { return value_; }
  bool valid() const { return value_ != Traits::Invalid(); }
  explicit operator bool() const { return valid(); }

  // Gives up ownership without releasing.
  Value release() { return std::exchange(value_, Traits::Invalid()); }

  void reset(Value value = Traits::Invalid()) {
    const Value old = std::exchange(value_, value);
    if (old != Traits::Invalid()) Traits::Close(old);
  }

  // For out-parameters: releases what is held and hands out the slot.
  Value* put() {
    reset();
    return &value_;
  }

 private:
  Value value_ = Traits::Invalid();
};

struct KernelHandleTraits {  // process and token handles: NULL when absent
  using Value = HANDLE;
  static Value Invalid() { return nullptr; }
  static void Close(Value v) { ::CloseHandle(v); }
};
struct FileHandleTraits {  // files and snapshots: INVALID_HANDLE_VALUE when absent
  using Value = HANDLE;
  static Value Invalid() { return INVALID_HANDLE_VALUE; }
  static void Close(Value v) { ::CloseHandle(v); }
};
struct FindHandleTraits {
  using Value = HANDLE;
  static Value Invalid() { return INVALID_HANDLE_VALUE; }
  static void Close(Value v) { ::FindClose(v); }
};
struct RegKeyTraits {
  using Value = HKEY;
  static Value Invalid() { return nullptr; }
  static void Close(Value v) { ::RegCloseKey(v); }
};
struct BstrTraits {
  using Value = BSTR;
  static Value Invalid() { return nullptr; }
  static void Close(Value v) { ::SysFreeString(v); }
};
struct SidTraits {  // SIDs made by AllocateAndInitializeSid
  using Value = PSID;
  static Value Invalid() { return nullptr; }
  static void Close(Value v) { ::FreeSid(v); }
};
struct LocalMemoryTraits {  // buffers the system allocates for us (FormatMessage)
  using Value = HLOCAL;
  static Value Invalid() { return nullptr; }
  static void Close(Value v) { ::LocalFree(v); }
};

using UniqueHandle = UniqueResource<KernelHandleTraits>;
using UniqueSid = UniqueResource<SidTraits>;
using UniqueFileHandle = UniqueResource<FileHandleTraits>;
using UniqueFindHandle = UniqueResource<FindHandleTraits>;
using UniqueHkey = UniqueResource<RegKeyTraits>;
using UniqueBstr = UniqueResource<BstrTraits>;
using UniqueLocalMemory = UniqueResource<LocalMemoryTraits>;

// A VARIANT that is cleared (VariantClear) when it goes out of scope.
class UniqueVariant {
 public:
  UniqueVariant() { ::VariantInit(&value_); }
  ~UniqueVariant() { ::VariantClear(&value_); }
  UniqueVariant(const UniqueVariant&) = delete;
  UniqueVariant& operator=(const UniqueVariant&) = delete;

  // For in-out parameters: the call sees, and may change, what is held.
  VARIANT* get() { return &value_; }
  const VARIANT& value() const { return value_; }

  // For out-parameters: clears what is held and hands out the slot.
  VARIANT* put() {
    ::VariantClear(&value_);
    return &value_;
  }

  // Takes ownership of `text` as a VT_BSTR.
  void SetBstr(UniqueBstr text) {
    ::VariantClear(&value_);
    value_.vt = VT_BSTR;
    value_.bstrVal = text.release();
  }

  // Forgets the contents without clearing them, for a variant whose contents
  // cannot be trusted (the callee that filled it was interrupted).
  void Abandon() { ::VariantInit(&value_); }

 private:
  VARIANT value_;
};

// Owner of one COM interface pointer (one Release per reference held).
template <typename Interface>
class ComPtr {
 public:
  ComPtr() = default;
  ~ComPtr() { reset(); }
  ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  ComPtr& operator=(ComPtr&& other) noexcept {
    if (this != &other) {
      reset();
      p_ = std::exchange(other.p_, nullptr);
    }
    return *this;
  }
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;

  // Adopts a reference the caller already owns.
  static ComPtr Attach(Interface* p) {
    ComPtr result;
    result.p_ = p;
    return result;
  }

  Interface* get() const { return p_; }
  Interface* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }

  Interface** put() {
    reset();
    return &p_;
  }
  void** put_void() { return reinterpret_cast<void**>(put()); }

  void reset() {
    if (p_ != nullptr) std::exchange(p_, nullptr)->Release();
  }

 private:
  Interface* p_ = nullptr;
};

}  // namespace zrt::win32
