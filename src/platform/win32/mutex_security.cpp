#include "platform/win32/mutex_security.h"

namespace zrt::win32 {

EveryUserMutexSecurity::EveryUserMutexSecurity() {
  SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
  if (!::AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0,
                                  everyone_.put())) {
    return;
  }
  // One ACE: its header and mask, then the SID in place of SidStart.
  const DWORD aclSize =
      sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD) + ::GetLengthSid(everyone_.get());
  acl_.assign((aclSize + sizeof(DWORD) - 1) / sizeof(DWORD), 0);
  auto* acl = reinterpret_cast<PACL>(acl_.data());
  if (!::InitializeAcl(acl, aclSize, ACL_REVISION) ||
      !::AddAccessAllowedAce(acl, ACL_REVISION, kEveryUserMutexAccess, everyone_.get()) ||
      !::InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) ||
      !::SetSecurityDescriptorDacl(&descriptor_, TRUE, acl, FALSE)) {
    return;
  }
  attributes_.nLength = sizeof(attributes_);
  attributes_.lpSecurityDescriptor = &descriptor_;
  attributes_.bInheritHandle = FALSE;
  ready_ = true;
}

}  // namespace zrt::win32
