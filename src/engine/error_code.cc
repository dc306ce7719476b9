#include "engine/error_code.h"

namespace engine {

const char* errorCodeName(int32_t code) {
  switch (code) {
    case kErrSuccess: return "success";
    case kErrContentLengthChanged: return "content length changed";
    case kErrTaskLayout: return "task layout error";
    case kErrNoContentLength: return "content length not obtained";
    case kErrFileNotOpened: return "download file not opened";
    case kErrNoWorkerThread: return "no worker thread started";
    case kErrNetworkNotAlive: return "network not alive";
    case kErrNoProgress: return "no progress for 60 seconds";
    case kErrCdnFailure: return "CDN failure";
    case kErrLengthShort: return "fewer bytes than the content length";
    case kErrStopped: return "stopped by the caller";
    case kErrTooManyRedirects: return "too many redirects";
    case kErrFileTooSmall: return "downloaded file smaller than 1 MiB";
    default: return "unknown";
  }
}

}  // namespace engine
