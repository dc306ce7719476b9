// Named locks on Windows: kernel mutexes named in the session's namespace,
// so every run of this desktop session shares them, and the kernel lets go
// of one whose holder died (the mutex is abandoned, and the next waiter
// takes it). Their descriptor (shared_object_security_win.h) lets an
// elevated and an unelevated run both use a mutex the other made; each
// opens it with no more than waiting and releasing.
//
// Descriptors in the shared interface are ints; a kernel handle is one,
// since 64-bit Windows keeps handle values within 32 bits so that 32- and
// 64-bit processes can exchange them. The crash handler closes the
// instance lock's handle through that number.

#include "platform/named_mutex.h"

#include "platform/win32/shared_object_security_win.h"
#include "platform/win32/win_util.h"

namespace platform {

namespace {

// A name may not carry a backslash, which separates namespaces.
std::wstring objectName(const std::string& name) {
  std::wstring out = L"Local\\websetup-";
  for (const wchar_t c : win::widen(name)) out += c == L'\\' ? L'_' : c;
  return out;
}

// Creates the mutex `name`, or opens it when it exists; initially owned
// only when this call created it and `owned` asks for that.
HANDLE createShared(const std::string& name, bool owned) {
  win::SharedObjectSecurity security(win::kSharedMutexAccess);
  return CreateMutexExW(security.attributes(), objectName(name).c_str(),
                        owned ? CREATE_MUTEX_INITIAL_OWNER : 0, win::kSharedMutexAccess);
}

int toDescriptor(HANDLE h) { return static_cast<int>(HandleToLong(h)); }
HANDLE toHandle(int descriptor) { return LongToHandle(descriptor); }

// Waits for `mutex`. A holder that ended without releasing it leaves it
// abandoned: it is ours then all the same, and what it guarded is no worse
// off than after a crash under a lock file.
bool take(HANDLE mutex, DWORD timeoutMs) {
  const DWORD w = WaitForSingleObject(mutex, timeoutMs);
  return w == WAIT_OBJECT_0 || w == WAIT_ABANDONED;
}

}  // namespace

// Windows names these locks in the kernel, not in a folder.
std::string lockFilePath(const std::string&) { return std::string(); }

NamedMutex::NamedMutex(const std::string& name) {
  // A mutex an older setup made without our descriptor may refuse us
  // (access denied); the in-process mutex then still excludes our threads.
  HANDLE h = createShared(name, false);
  fd_ = h == nullptr ? -1 : toDescriptor(h);
}

NamedMutex::~NamedMutex() {
  if (fd_ >= 0) CloseHandle(toHandle(fd_));
}

// Win32 mutexes are owned by a thread and recursive; local_ makes this one
// exclusive between our own threads as well, and every ReleaseMutex comes
// from the thread that waited.
void NamedMutex::lock() {
  local_.lock();
  if (fd_ >= 0) (void)take(toHandle(fd_), INFINITE);
}

void NamedMutex::unlock() {
  if (fd_ >= 0) ReleaseMutex(toHandle(fd_));
  local_.unlock();
}

PlatformResult InstanceLock::acquire(const std::string& name, std::unique_ptr<InstanceLock>* out) {
  out->reset();
  HANDLE h = createShared(name, true);
  if (h == nullptr) {
    // It exists, made by a run we may not open (an older elevated setup's,
    // without our descriptor): held.
    const DWORD err = GetLastError();
    return err == ERROR_ACCESS_DENIED ? PlatformResult::kAlreadyExists
                                      : win::resultFromLastError(err);
  }
  // The mutex already existed, so the initial ownership was not granted.
  // It is still ours when nobody owns it: its holder released it, or died.
  if (GetLastError() == ERROR_ALREADY_EXISTS && !take(h, 0)) {
    CloseHandle(h);
    return PlatformResult::kAlreadyExists;
  }
  out->reset(new InstanceLock(toDescriptor(h)));
  return PlatformResult::kOk;
}

InstanceLock::~InstanceLock() { release(); }

void InstanceLock::release() {
  const int fd = fd_.exchange(-1);
  if (fd < 0) return;
  // From the owning thread this frees it at once; from any other thread
  // ReleaseMutex refuses, and closing the last handle removes the mutex,
  // which frees the name just the same.
  ReleaseMutex(toHandle(fd));
  CloseHandle(toHandle(fd));
}

void InstanceLock::releaseFromSignalHandler() {
  const int fd = fd_.exchange(-1);
  if (fd >= 0) CloseHandle(toHandle(fd));
}

}  // namespace platform
