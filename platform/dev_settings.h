#ifndef WEBSETUP_PLATFORM_DEV_SETTINGS_H_
#define WEBSETUP_PLATFORM_DEV_SETTINGS_H_

#include <string>

namespace platform {

// Reads integer `key` of `[section]` from the INI file at `path`, the way
// GetPrivateProfileInt does: leading blanks skipped, an optional sign and the
// leading decimal digits, 0 when there are none; `fallback` when the file,
// the section or the key is missing. Section and key names are compared
// without regard to case. Thread-safe.
int readProfileInt(const std::string& path, const std::string& section,
                   const std::string& key, int fallback);

// The developer settings of the file qm_downloader.cfg beside the
// executable, section "Settings". A setting is on only when its value is
// exactly 1; a missing file turns everything off.
struct DevSettings {
  bool autoRun = false;
  bool testEnv = false;
  bool crashTest = false;
};

// Path of the developer settings file: the executable's folder +
// "qm_downloader.cfg".
std::string devSettingsPath();

// Reads the developer settings afresh. Thread-safe.
DevSettings readDevSettings();

}  // namespace platform

#endif  // WEBSETUP_PLATFORM_DEV_SETTINGS_H_
