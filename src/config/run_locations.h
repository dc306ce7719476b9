#ifndef WEBSETUP_CONFIG_RUN_LOCATIONS_H_
#define WEBSETUP_CONFIG_RUN_LOCATIONS_H_

// Where this run writes: the log file and its folder, the download cache and
// the run timestamp, all derived once at start-up from the installer's file
// name. Set up on the main thread before other threads exist; read-only
// (and so safe from any thread) afterwards.

#include <functional>
#include <string>

#include "platform/clock.h"

namespace config {

// The installer's file name without folder and extension: the text between
// the last '/' of `url` and the first '.' after it. Empty (with *found
// false) when there is no '/' or no '.' after the last one.
std::wstring logStemFromUrl(const std::wstring& url, bool* found);

// The run timestamp: local time as 17 digits, year to millisecond.
std::wstring formatRunTimestamp(const platform::LocalTime& t);

class RunLocations {
 public:
  // Moves a path onto the best local drive; identity until the system
  // services supply the real choice.
  using DriveChooser = std::function<std::wstring(const std::wstring&)>;

  // Computes every location for `stem` and creates the log folder and the
  // cache folder. `appData` is the roaming application-data folder, `now`
  // the start time. Returns 1, as the setup always completes.
  int setup(const std::wstring& stem, const std::wstring& appData, const platform::LocalTime& now,
            const DriveChooser& bestDrive);

  bool configured() const { return configured_; }
  std::wstring getLogFilePath() const { return logFile_; }
  std::wstring getLogDirectory() const { return logDir_; }
  std::wstring getCacheDirectory() const { return cacheDir_; }
  std::wstring getRunTimestamp() const { return timestamp_; }
  std::wstring getLogStem() const { return stem_; }

 private:
  bool configured_ = false;
  std::wstring stem_;
  std::wstring timestamp_;
  std::wstring logDir_;
  std::wstring logFile_;
  std::wstring cacheDir_;
};

// The locations of this process. Main thread writes once at start-up.
RunLocations& processRunLocations();

}  // namespace config

#endif  // WEBSETUP_CONFIG_RUN_LOCATIONS_H_
