#ifndef WEBSETUP_ENGINE_ERROR_CODE_H_
#define WEBSETUP_ENGINE_ERROR_CODE_H_

#include <cstdint>

namespace engine {

// Results of the download engine. The numbers reach logs, telemetry and the
// install flow's retry logic, so they never change.
enum EnumErrorCode : int32_t {
  kErrSuccess = 1,
  kErrContentLengthChanged = 2,  // loaded task file: size differs (DL025)
  kErrTaskLayout = 3,            // loaded task file: segments misplaced (DL026)
  kErrNoContentLength = 6,
  kErrFileNotOpened = 7,
  kErrNoWorkerThread = 8,
  kErrNetworkNotAlive = 9,
  kErrNoProgress = 10,
  kErrCdnFailure = 11,  // reserved for the install flow
  kErrLengthShort = 12,
  kErrTooManyRedirects = 13,
  kErrFileTooSmall = 15,
  kErrStopped = 16,  // the caller stopped the download (the window closed)
};

// A short English name of `code` ("success", "no progress", ...), or
// "unknown" for a number outside the table.
const char* errorCodeName(int32_t code);

}  // namespace engine

#endif  // WEBSETUP_ENGINE_ERROR_CODE_H_
