#ifndef WEBSETUP_CONFIG_LOGGING_SETUP_H_
#define WEBSETUP_CONFIG_LOGGING_SETUP_H_

#include <string>

#include "config/run_locations.h"

namespace config {

// Line format of every log line: date and time to the millisecond, the
// thread, then the message (which begins with a space by convention).
constexpr char kLogFormat[] = "%datetime--[Thread](%thread) %msg";

// Points the "default" logger at `logFile` (UTF-8 path): INFO to the file
// and to standard output in kLogFormat; fatal logs do not abort the process
// and no detailed crash reason is written. Main thread, before other threads.
void configureLogger(const std::string& logFile);

// The whole logging set-up of a run: derives the stem from `downloadUrl`;
// when it has one, fills `locations` (creating the folders, the cache moved
// by `bestDrive`) and configures the logger. Returns false, leaving the
// logger at the library's defaults, when the URL names no file.
[[nodiscard]] bool setUpLogging(const std::wstring& downloadUrl, RunLocations* locations,
                                const RunLocations::DriveChooser& bestDrive);

}  // namespace config

#endif  // WEBSETUP_CONFIG_LOGGING_SETUP_H_
