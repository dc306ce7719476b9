#ifndef WEBSETUP_CRASH_CRASH_HANDLER_H_
#define WEBSETUP_CRASH_CRASH_HANDLER_H_

// The setup's crash handler. On a fatal signal it releases the
// single-instance lock, writes a dump beside the log file (or in the
// temporary folder when logging has no file) and, when the server's
// Downloader_config is 1 or 2, starts the program again as
// "<program> -dmp <log file name>" so that a second process packs and
// uploads the report. Then the signal takes its default action.
//
// Everything it knows comes from CrashContext; it takes no lock and
// allocates nothing, so a crash while another thread holds malloc's, the
// logger's or any other lock still leaves a dump. docs/crash.md describes
// the dump's format.

#include "platform/result.h"

namespace crash {

// Installs the handler for the whole process and an alternate signal stack
// for the calling thread. Call it first thing in main(), on the main thread
// (after a sanitizer's own set-up, which runs before main). Returns the
// platform's result; the setup runs on without a handler when it fails.
[[nodiscard]] platform::PlatformResult InstallCrashHandler();

}  // namespace crash

#endif  // WEBSETUP_CRASH_CRASH_HANDLER_H_
