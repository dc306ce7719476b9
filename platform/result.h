#ifndef WEBSETUP_PLATFORM_RESULT_H_
#define WEBSETUP_PLATFORM_RESULT_H_

namespace platform {

// Outcome of a platform call. The numbers reach logs, so they never change:
// add values at the end only.
enum class [[nodiscard]] PlatformResult{
    kOk = 0,      kNotFound = 1,        kAlreadyExists = 2, kDiskFull = 3,    kAccessDenied = 4,
    kIoError = 5, kInvalidArgument = 6, kTimedOut = 7,      kUnsupported = 8,
};

// A short English name of `r` for log lines ("ok", "not found", ...).
const char* resultName(PlatformResult r);

// Maps an errno value onto the nearest result.
PlatformResult resultFromErrno(int err);

}  // namespace platform

#endif  // WEBSETUP_PLATFORM_RESULT_H_
