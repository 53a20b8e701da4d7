// The security of the named mutex that keeps every user's jobs apart. A
// mutex made with the default security belongs to the user who made it, and
// a job run later as another user could not wait on it; this descriptor
// lets every user's job wait on the mutex and release it, and nothing more.
#pragma once

#include <windows.h>

#include <vector>

#include "platform/win32/unique_resource.h"

namespace zrt::win32 {

// What every user's job may do with the mutex: wait on it and release it.
inline constexpr DWORD kEveryUserMutexAccess = SYNCHRONIZE | MUTEX_MODIFY_STATE;

// Security attributes whose DACL allows Everyone kEveryUserMutexAccess. The
// descriptor points into the object, so it is neither copied nor moved.
class EveryUserMutexSecurity {
 public:
  // False (the thread's last error set) when a call failed: then
  // Attributes() must not be used.
  EveryUserMutexSecurity();
  EveryUserMutexSecurity(const EveryUserMutexSecurity&) = delete;
  EveryUserMutexSecurity& operator=(const EveryUserMutexSecurity&) = delete;

  explicit operator bool() const { return ready_; }
  SECURITY_ATTRIBUTES* Attributes() { return &attributes_; }

 private:
  UniqueSid everyone_;
  std::vector<DWORD> acl_;  // the ACL, in DWORD-aligned storage
  SECURITY_DESCRIPTOR descriptor_ = {};
  SECURITY_ATTRIBUTES attributes_ = {};
  bool ready_ = false;
};

}  // namespace zrt::win32
