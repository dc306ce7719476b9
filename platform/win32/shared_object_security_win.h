#ifndef WEBSETUP_PLATFORM_WIN32_SHARED_OBJECT_SECURITY_WIN_H_
#define WEBSETUP_PLATFORM_WIN32_SHARED_OBJECT_SECURITY_WIN_H_

// The security of the named kernel objects that every run of the setup in
// a session shares: the instance lock, the named mutexes and the
// activation objects. Made without a descriptor, an object takes the
// default DACL of its creator's token; an elevated setup's then admits
// only Administrators and SYSTEM, and the person's own unelevated run can
// open none of them. It cannot take the lock the first run freed, nor ask
// it to come to the front.
//
// So these objects carry a descriptor of their own: full access for
// SYSTEM and Administrators; for every authenticated user, the person's
// own unelevated runs among them, only the rights a run uses (wait, and
// set or release), never those that change the descriptor or the owner;
// and a medium mandatory label, so an unelevated run (medium integrity)
// may use the object while a low-integrity process (a browser's sandbox)
// may not change it. The destructor keeps GetLastError() as the create
// call left it.
// Nothing outside platform/win32/ includes this header.

#include <windows.h>

#include <string>

namespace platform::win {

// What a run needs of each kind of shared object. Others open them with
// exactly these rights, so an object made by any run serves them all.
inline constexpr DWORD kSharedEventAccess = SYNCHRONIZE | EVENT_MODIFY_STATE;
inline constexpr DWORD kSharedMutexAccess = SYNCHRONIZE | MUTEX_MODIFY_STATE;
inline constexpr DWORD kSharedSectionAccess = SECTION_MAP_READ;

// Security attributes for creating one kind of shared object, built from
// this process's token. Owned by the caller; any thread.
class SharedObjectSecurity {
 public:
  // `useAccess` is one of the k...Access values above.
  explicit SharedObjectSecurity(DWORD useAccess);
  ~SharedObjectSecurity();
  SharedObjectSecurity(const SharedObjectSecurity&) = delete;
  SharedObjectSecurity& operator=(const SharedObjectSecurity&) = delete;

  // For Create...W; null when the descriptor could not be made, and the
  // creator's default applies as before.
  SECURITY_ATTRIBUTES* attributes() { return descriptor_ == nullptr ? nullptr : &attributes_; }

 private:
  PSECURITY_DESCRIPTOR descriptor_ = nullptr;  // LocalFree'd
  SECURITY_ATTRIBUTES attributes_{};
};

}  // namespace platform::win

#endif  // WEBSETUP_PLATFORM_WIN32_SHARED_OBJECT_SECURITY_WIN_H_
