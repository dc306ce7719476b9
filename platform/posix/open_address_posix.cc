// Web addresses go to xdg-open (or WEBSETUP_OPEN_COMMAND), started as the
// person a root setup runs for.

#include "platform/open_address.h"
#include "common/log.h"
#include "platform/paths.h"
#include "platform/posix/desktop_bus_posix.h"
#include "platform/process.h"

namespace platform {

bool openWebAddress(const std::string& address) {
  if (!isWebAddress(address)) {
    LOG(INFO) << " Open refused: not a web address";
    return false;
  }
  const std::string opener = getEnv("WEBSETUP_OPEN_COMMAND").value_or("");
  const std::string name = opener.empty() ? "xdg-open" : opener;
  const std::string program = desktop_bus::findProgram(name);
  if (program.empty()) {
    LOG(INFO) << " Open failed: no " << name;
    return false;
  }
  SpawnOptions options;
  options.argv = {program, address};
  options.asDesktopUser = true;
  int pid = 0, error = 0;
  if (spawnProcess(options, &pid, &error) != PlatformResult::kOk) {
    LOG(INFO) << " Open failed: " << program << " (" << error << ")";
    return false;
  }
  return true;
}

}  // namespace platform
