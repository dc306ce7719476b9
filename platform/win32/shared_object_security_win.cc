#include "platform/win32/shared_object_security_win.h"

#include <sddl.h>

#include <cwchar>
#include <vector>

#include "platform/win32/win_util.h"

namespace platform::win {

namespace {

// The token access checks use for this thread: the one it impersonates,
// else the process's.
std::vector<BYTE> effectiveTokenInformation(TOKEN_INFORMATION_CLASS what) {
  HANDLE token = nullptr;
  if (!OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token) &&
      !OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
    return {};
  }
  std::vector<BYTE> bytes = tokenInformation(token, what);
  CloseHandle(token);
  return bytes;
}

// A token we cannot read counts as below medium: labelling then is left
// to the system, which never refuses that.
bool atLeastMediumIntegrity() {
  const std::vector<BYTE> label = effectiveTokenInformation(TokenIntegrityLevel);
  if (label.empty()) return false;
  PSID sid = reinterpret_cast<const TOKEN_MANDATORY_LABEL*>(label.data())->Label.Sid;
  const UCHAR parts = *GetSidSubAuthorityCount(sid);
  return parts > 0 && *GetSidSubAuthority(sid, parts - 1) >= SECURITY_MANDATORY_MEDIUM_RID;
}

// The creator holds the handle it made the object with, with every right
// it asked for whatever the DACL says, and no later run needs more than
// the use rights: the person's own runs get those as authenticated users
// and have no entry of their own, so an unelevated run cannot rewrite the
// descriptor of an object its elevated run made.
std::wstring sharedObjectSddl(DWORD useAccess, bool labelMedium) {
  wchar_t use[16];
  std::swprintf(use, sizeof use / sizeof use[0], L"0x%lX", static_cast<unsigned long>(useAccess));
  // Protected ("P"): nothing is inherited from the namespace's own DACL.
  std::wstring sddl = L"D:P(A;;GA;;;SY)(A;;GA;;;BA)(A;;" + std::wstring(use) + L";;;AU)";
  // No write up: a process below medium integrity may wait on the object
  // but not set, reset or release it.
  if (labelMedium) sddl += L"S:(ML;;NW;;;ME)";
  return sddl;
}

}  // namespace

SharedObjectSecurity::SharedObjectSecurity(DWORD useAccess) {
  const std::wstring sddl = sharedObjectSddl(useAccess, atLeastMediumIntegrity());
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1,
                                                            &descriptor_, nullptr)) {
    descriptor_ = nullptr;
    return;
  }
  attributes_.nLength = sizeof attributes_;
  attributes_.lpSecurityDescriptor = descriptor_;
  attributes_.bInheritHandle = FALSE;
}

SharedObjectSecurity::~SharedObjectSecurity() {
  // Callers still read the create call's ERROR_ALREADY_EXISTS after this.
  const DWORD error = GetLastError();
  if (descriptor_ != nullptr) LocalFree(descriptor_);
  SetLastError(error);
}

}  // namespace platform::win
