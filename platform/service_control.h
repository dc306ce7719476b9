#ifndef WEBSETUP_PLATFORM_SERVICE_CONTROL_H_
#define WEBSETUP_PLATFORM_SERVICE_CONTROL_H_

// Stopping a system service of the product before its files are replaced
// (the service control manager's stand-in: systemd units through
// systemctl). Blocks until the service stopped or refused. Thread-safe.

#include <string>

namespace platform {

enum class ServiceStop {
  kDone = 0,         // stopped, not running, or no such service
  kNotOpened = 2,    // the service manager could not be asked
  kNoStatus = 3,     // its status could not be read
  kRefused = 4,      // the stop was refused or did not take
};

// Stops the unit named `name` (".service" implied) when it runs. Without
// systemd (no systemctl, or it does not answer) there is nothing to stop:
// kDone.
ServiceStop stopService(const std::string& name);

}  // namespace platform

#endif  // WEBSETUP_PLATFORM_SERVICE_CONTROL_H_
