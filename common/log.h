#ifndef WEBSETUP_COMMON_LOG_H_
#define WEBSETUP_COMMON_LOG_H_

// The one logger of the program: easylogging++'s "default" logger at INFO.
// Write `LOG(INFO) << " text";` (messages begin with a space). The file and
// format are set once at start-up by config/logging_setup.h.
#include <easylogging++.h>

#endif  // WEBSETUP_COMMON_LOG_H_
