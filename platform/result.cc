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

}  // namespace platform
