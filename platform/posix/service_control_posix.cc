#include "platform/service_control.h"

#include <chrono>

#include "platform/paths.h"
#include "platform/process.h"

namespace platform {
namespace {

// Runs systemctl with `args`; the exit code, or -1 when it did not run.
int systemctl(const std::vector<std::string>& args) {
  SpawnOptions options;
  options.argv = {"systemctl"};
  options.argv.insert(options.argv.end(), args.begin(), args.end());
  int pid = -1;
  for (const char* dir : {"/usr/bin/systemctl", "/bin/systemctl"}) {
    if (!pathExists(dir)) continue;
    options.argv[0] = dir;
    if (spawnProcess(options, &pid) != PlatformResult::kOk) return -1;
    int code = -1;
    if (waitProcess(pid, std::chrono::minutes(2), &code) != PlatformResult::kOk) return -1;
    return code;
  }
  return -1;
}

}  // namespace

ServiceStop stopService(const std::string& name) {
  // Only a running systemd manages units; in a container without one
  // there is no service to stop.
  if (!pathExists("/run/systemd/system")) return ServiceStop::kDone;
  const std::string unit = name + ".service";
  const int active = systemctl({"is-active", "--quiet", unit});
  if (active < 0) return ServiceStop::kNotOpened;
  if (active != 0) return ServiceStop::kDone;  // inactive or unknown: nothing runs
  if (systemctl({"stop", unit}) != 0) return ServiceStop::kRefused;
  const int after = systemctl({"is-active", "--quiet", unit});
  if (after < 0) return ServiceStop::kNoStatus;
  return after == 0 ? ServiceStop::kRefused : ServiceStop::kDone;
}

}  // namespace platform
