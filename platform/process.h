#ifndef WEBSETUP_PLATFORM_PROCESS_H_
#define WEBSETUP_PLATFORM_PROCESS_H_

// Processes of this machine (the stand-in for Toolhelp snapshots,
// QueryFullProcessImageName and TerminateProcess). Thread-safe.

#include <string>
#include <vector>

#include "platform/result.h"

namespace platform {

struct ProcessInfo {
  int pid = 0;
  std::string exePath;  // readlink /proc/PID/exe; empty when not readable
};

// Every process whose executable path can be read.
std::vector<ProcessInfo> listProcesses();

// Id of this process.
int currentProcessId();

// Ends process `pid` at once (SIGKILL). kNotFound when it is gone.
[[nodiscard]] PlatformResult killProcess(int pid);

}  // namespace platform

#endif  // WEBSETUP_PLATFORM_PROCESS_H_
