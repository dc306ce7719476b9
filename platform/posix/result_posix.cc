#include <cerrno>

#include "platform/result.h"

namespace platform {

PlatformResult resultFromErrno(int err) {
  switch (err) {
    case 0: return PlatformResult::kOk;
    case ENOENT:
    case ENOTDIR:
    case ESRCH: return PlatformResult::kNotFound;
    case EEXIST: return PlatformResult::kAlreadyExists;
    case ENOSPC:
    case EDQUOT: return PlatformResult::kDiskFull;
    case EACCES:
    case EPERM:
    case EROFS: return PlatformResult::kAccessDenied;
    case EINVAL:
    case ENAMETOOLONG: return PlatformResult::kInvalidArgument;
    case ETIMEDOUT: return PlatformResult::kTimedOut;
    case ENOSYS:
    case EOPNOTSUPP: return PlatformResult::kUnsupported;
    default: return PlatformResult::kIoError;
  }
}

}  // namespace platform
