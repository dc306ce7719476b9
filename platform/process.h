#ifndef WEBSETUP_PLATFORM_PROCESS_H_
#define WEBSETUP_PLATFORM_PROCESS_H_

// Processes of this machine (the stand-in for Toolhelp snapshots,
// QueryFullProcessImageName, TerminateProcess and CreateProcess).
// Thread-safe.

#include <chrono>
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

// Every process of the machine in /proc order, with the file name of its
// executable (the kernel's short name when the path is hidden from us) in
// `name` and the full path in `exePath` (empty when not readable). Returns
// kIoError and leaves *out empty when /proc cannot be listed.
struct ProcessEntry {
  int pid = 0;
  std::string name;
  std::string exePath;
};
[[nodiscard]] PlatformResult snapshotProcesses(std::vector<ProcessEntry>* out);

// Id of this process.
int currentProcessId();

// Ends this process at once with `code`: no static destructors, no atexit
// handlers (the stand-in for TerminateProcess on ourselves), for a process
// whose threads may still use what those would destroy.
[[noreturn]] void endProcessNow(int code);

// Reaps child `pid` whenever it ends, on a thread of its own, for a child
// nobody waits for (it would stay a zombie while we run).
void reapInBackground(int pid);

// Ends process `pid` at once (SIGKILL). kNotFound when it is gone.
[[nodiscard]] PlatformResult killProcess(int pid);

// How to start a program.
struct SpawnOptions {
  std::vector<std::string> argv;  // argv[0] is the program's path
  // The file to start when it is not argv[0]'s path (a HeldFile's path).
  std::string program;
  std::string workingDir;  // empty: ours
  // Starts the child in a session of its own, detached from our terminal
  // and process group, so it outlives us and our signals.
  bool detach = false;
  // Starts the child as this user (and the user's primary group) when we
  // are root; -1 keeps our own identity.
  int runAsUid = -1;
  // Starts the child with the rights of the person at the desktop rather
  // than ours, when ours are greater (runsElevated()): on Linux as the
  // user a root process runs for (invokingUserId(), in place of
  // runAsUid); on Windows through the desktop's shell, which runs at the
  // user's own level. When we hold no more than the user, or no shell
  // answers, the child starts as any other. Implies `detach`.
  bool asDesktopUser = false;
};

// Starts a program with posix_spawn. Stores its id in *pid. Returns kOk,
// kNotFound when the program (or working folder) does not exist,
// kAccessDenied when it may not be run, or another result from errno; the
// errno value itself goes to *osError when given. The caller owns the
// child: reap it with waitProcess() unless detached (a detached child is
// reaped in the background). A child the desktop's shell started
// (`asDesktopUser` on Windows) is not ours at all: *pid is then 0, and a
// failure inside the shell is the shell's to show, not ours to return.
[[nodiscard]] PlatformResult spawnProcess(const SpawnOptions& options, int* pid,
                                          int* osError = nullptr);

// Waits up to `limit` (negative: forever) for our child `pid` to end
// (pidfd_open + poll), and reaps it. Stores its exit code, or 128 + signal
// when a signal ended it, in *exitCode. Returns kOk, kTimedOut when it still
// runs at the limit, kNotFound when it is not our child.
[[nodiscard]] PlatformResult waitProcess(int pid, std::chrono::milliseconds limit, int* exitCode);

// The user on whose behalf a root process runs (SUDO_UID or PKEXEC_UID),
// or -1 when we are not root or nobody is named.
int invokingUserId();

// Whether this process holds rights the person at the desktop does not:
// root on Linux, an elevated token on Windows (the setup's manifest asks
// for one). False when the token cannot be read.
bool runsElevated();

}  // namespace platform

#endif  // WEBSETUP_PLATFORM_PROCESS_H_
