#include <errno.h>

#include "platform/result.h"
#include "platform/win32/win_util.h"

namespace platform {

// The C runtime still reports errno for the few calls the core makes
// through it (fopen and friends).
PlatformResult resultFromErrno(int err) {
  switch (err) {
    case 0: return PlatformResult::kOk;
    case ENOENT:
    case ENOTDIR: return PlatformResult::kNotFound;
    case EEXIST: return PlatformResult::kAlreadyExists;
    case ENOSPC: return PlatformResult::kDiskFull;
    case EACCES:
    case EPERM:
    case EROFS: return PlatformResult::kAccessDenied;
    case EINVAL:
    case ENAMETOOLONG: return PlatformResult::kInvalidArgument;
    case ETIMEDOUT: return PlatformResult::kTimedOut;
    case ENOSYS: return PlatformResult::kUnsupported;
    default: return PlatformResult::kIoError;
  }
}

namespace win {

PlatformResult resultFromLastError(DWORD code) {
  switch (code) {
    case ERROR_SUCCESS: return PlatformResult::kOk;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_NOT_READY: return PlatformResult::kNotFound;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS: return PlatformResult::kAlreadyExists;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
    case ERROR_NOT_ENOUGH_QUOTA: return PlatformResult::kDiskFull;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT:
    case ERROR_PRIVILEGE_NOT_HELD: return PlatformResult::kAccessDenied;
    case ERROR_INVALID_PARAMETER:
    case ERROR_INVALID_NAME:
    case ERROR_FILENAME_EXCED_RANGE:
    case ERROR_BAD_PATHNAME:
    case ERROR_DIRECTORY: return PlatformResult::kInvalidArgument;
    case ERROR_TIMEOUT:
    case WAIT_TIMEOUT:
    case ERROR_SEM_TIMEOUT: return PlatformResult::kTimedOut;
    case ERROR_NOT_SUPPORTED:
    case ERROR_CALL_NOT_IMPLEMENTED:
    case ERROR_PROC_NOT_FOUND: return PlatformResult::kUnsupported;
    default: return PlatformResult::kIoError;
  }
}

}  // namespace win
}  // namespace platform
