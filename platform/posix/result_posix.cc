#include <cerrno>

#include "platform/result.h"

namespace platform {

const char* resultName(PlatformResult r) {
  switch (r) {
    case PlatformResult::kOk: return "ok";
    case PlatformResult::kNotFound: return "not found";
    case PlatformResult::kAlreadyExists: return "already exists";
    case PlatformResult::kDiskFull: return "disk full";
    case PlatformResult::kAccessDenied: return "access denied";
    case PlatformResult::kIoError: return "i/o error";
    case PlatformResult::kInvalidArgument: return "invalid argument";
    case PlatformResult::kTimedOut: return "timed out";
    case PlatformResult::kUnsupported: return "unsupported";
  }
  return "unknown";
}

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
