#include "platform/process.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>

#include "common/thread_tools.h"

extern char** environ;

namespace platform {
namespace {

bool parsePid(const char* name, int* pid) {
  if (*name == '\0') return false;
  long value = 0;
  for (const char* p = name; *p != '\0'; ++p) {
    if (*p < '0' || *p > '9') return false;
    value = value * 10 + (*p - '0');
    if (value > 0x7fffffff) return false;
  }
  *pid = static_cast<int>(value);
  return true;
}

std::string readExeLink(int pid) {
  const std::string link = "/proc/" + std::to_string(pid) + "/exe";
  char buf[4096];
  const ssize_t n = readlink(link.c_str(), buf, sizeof(buf) - 1);
  if (n <= 0) return {};
  std::string path(buf, static_cast<size_t>(n));
  // The kernel marks an executable replaced or removed since it started;
  // the name it ran under is what callers compare.
  static const std::string kDeleted = " (deleted)";
  if (path.size() > kDeleted.size() &&
      path.compare(path.size() - kDeleted.size(), kDeleted.size(), kDeleted) == 0) {
    path.resize(path.size() - kDeleted.size());
  }
  return path;
}

// The kernel's short name (at most 15 bytes) for a process whose executable
// link we may not read.
std::string readComm(int pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/comm");
  std::string name;
  std::getline(in, name);
  return name;
}

// Whether `pid` has ended and only waits to be reaped (a zombie), or is
// being torn down: its name stays in /proc, but it runs no more.
bool hasEnded(int pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string stat;
  std::getline(in, stat);
  // The state follows the name, which is in parentheses and may hold any
  // character, ")" included.
  const size_t close = stat.rfind(')');
  if (close == std::string::npos || close + 2 >= stat.size()) return false;
  const char state = stat[close + 2];
  return state == 'Z' || state == 'X';
}

int exitCodeOf(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

// The environment of a child started as another user: ours, with the
// variables that name the user replaced.
std::vector<std::string> userEnvironment(const passwd& pw) {
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    if (std::strncmp(*e, "HOME=", 5) == 0 || std::strncmp(*e, "USER=", 5) == 0 ||
        std::strncmp(*e, "LOGNAME=", 8) == 0) {
      continue;
    }
    env.emplace_back(*e);
  }
  env.push_back(std::string("HOME=") + pw.pw_dir);
  env.push_back(std::string("USER=") + pw.pw_name);
  env.push_back(std::string("LOGNAME=") + pw.pw_name);
  return env;
}

// posix_spawn cannot change the user, so this branch forks. Everything the
// child needs is prepared before the fork; the child makes system calls
// only, as a child of a threaded process must.
PlatformResult spawnAsUser(const SpawnOptions& options, int* pid, int* osError) {
  passwd pwStorage{};
  passwd* pw = nullptr;
  std::vector<char> pwBuf(16384);
  if (getpwuid_r(static_cast<uid_t>(options.runAsUid), &pwStorage, pwBuf.data(), pwBuf.size(),
                 &pw) != 0 ||
      pw == nullptr) {
    *osError = ENOENT;
    return PlatformResult::kNotFound;
  }
  int groupCount = 64;
  std::vector<gid_t> groups(static_cast<size_t>(groupCount));
  if (getgrouplist(pw->pw_name, pw->pw_gid, groups.data(), &groupCount) < 0) {
    groups.resize(static_cast<size_t>(groupCount));
    getgrouplist(pw->pw_name, pw->pw_gid, groups.data(), &groupCount);
  }
  groups.resize(static_cast<size_t>(groupCount));

  std::vector<std::string> envStore = userEnvironment(*pw);
  std::vector<char*> envp;
  for (auto& e : envStore) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::vector<std::string> argStore = options.argv;
  std::vector<char*> argv;
  for (auto& a : argStore) argv.push_back(a.data());
  argv.push_back(nullptr);
  const char* program = options.program.empty() ? argv[0] : options.program.c_str();

  // The child reports a failing step through this pipe; a closed pipe
  // without data means exec succeeded.
  int errPipe[2];
  if (pipe2(errPipe, O_CLOEXEC) != 0) {
    *osError = errno;
    return resultFromErrno(errno);
  }
  const uid_t uid = static_cast<uid_t>(options.runAsUid);
  const gid_t gid = pw->pw_gid;
  const pid_t child = fork();
  if (child < 0) {
    const int err = errno;
    close(errPipe[0]);
    close(errPipe[1]);
    *osError = err;
    return resultFromErrno(err);
  }
  if (child == 0) {
    close(errPipe[0]);
    int err = 0;
    if (options.detach && setsid() < 0) err = errno;
    if (err == 0 && setgroups(groups.size(), groups.data()) != 0) err = errno;
    if (err == 0 && setgid(gid) != 0) err = errno;
    if (err == 0 && setuid(uid) != 0) err = errno;
    if (err == 0 && !options.workingDir.empty() && chdir(options.workingDir.c_str()) != 0) {
      err = errno;
    }
    if (err == 0) {
      execve(program, argv.data(), envp.data());
      err = errno;
    }
    (void)!write(errPipe[1], &err, sizeof(err));
    _exit(127);
  }
  close(errPipe[1]);
  int childErr = 0;
  ssize_t n;
  do {
    n = read(errPipe[0], &childErr, sizeof(childErr));
  } while (n < 0 && errno == EINTR);
  close(errPipe[0]);
  if (n == static_cast<ssize_t>(sizeof(childErr))) {
    waitpid(child, nullptr, 0);
    *osError = childErr;
    return resultFromErrno(childErr);
  }
  *pid = child;
  return PlatformResult::kOk;
}

}  // namespace

// A detached child is not waited for by its starter, so someone must reap
// it or it lingers as a zombie for as long as we run.
void reapInBackground(int pid) {
  common::StartThread([pid] {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }).detach();
}

std::vector<ProcessInfo> listProcesses() {
  std::vector<ProcessInfo> result;
  std::vector<ProcessEntry> entries;
  if (snapshotProcesses(&entries) != PlatformResult::kOk) return result;
  for (auto& e : entries) {
    if (!e.exePath.empty()) result.push_back({e.pid, std::move(e.exePath)});
  }
  return result;
}

PlatformResult snapshotProcesses(std::vector<ProcessEntry>* out) {
  out->clear();
  DIR* dir = opendir("/proc");
  if (dir == nullptr) return PlatformResult::kIoError;
  while (dirent* ent = readdir(dir)) {
    int pid = 0;
    if (!parsePid(ent->d_name, &pid)) continue;
    ProcessEntry entry;
    entry.pid = pid;
    entry.exePath = readExeLink(pid);
    if (!entry.exePath.empty()) {
      const size_t slash = entry.exePath.rfind('/');
      entry.name = entry.exePath.substr(slash == std::string::npos ? 0 : slash + 1);
    } else {
      // No program behind it: a kernel thread, or a process that has ended
      // and whose parent has not reaped it yet, which runs no more.
      if (hasEnded(pid)) continue;
      entry.name = readComm(pid);
      if (entry.name.empty()) continue;  // gone meanwhile
    }
    out->push_back(std::move(entry));
  }
  closedir(dir);
  return PlatformResult::kOk;
}

int currentProcessId() { return static_cast<int>(getpid()); }

PlatformResult killProcess(int pid) {
  if (pid <= 0) return PlatformResult::kInvalidArgument;
  if (kill(pid, SIGKILL) != 0) {
    return errno == ESRCH ? PlatformResult::kNotFound : resultFromErrno(errno);
  }
  return PlatformResult::kOk;
}

void endProcessNow(int code) { _exit(code); }

PlatformResult spawnProcess(const SpawnOptions& options, int* pid, int* osError) {
  int ignored = 0;
  if (osError == nullptr) osError = &ignored;
  *osError = 0;
  if (options.argv.empty() || options.argv[0].empty()) {
    *osError = EINVAL;
    return PlatformResult::kInvalidArgument;
  }
  if (options.asDesktopUser) {
    // The person is whoever root runs for; without one we are no more
    // than the person already.
    SpawnOptions asUser = options;
    asUser.asDesktopUser = false;
    asUser.detach = true;
    asUser.runAsUid = invokingUserId();
    return spawnProcess(asUser, pid, osError);
  }
  if (options.runAsUid >= 0 && geteuid() == 0 &&
      static_cast<uid_t>(options.runAsUid) != geteuid()) {
    const PlatformResult r = spawnAsUser(options, pid, osError);
    if (r == PlatformResult::kOk && options.detach) reapInBackground(*pid);
    return r;
  }
  // posix_spawn reports a bad working folder only as a failed exec, so it
  // is checked first to name the cause.
  if (!options.workingDir.empty()) {
    struct stat st {};
    if (stat(options.workingDir.c_str(), &st) != 0) {
      *osError = errno;
      return resultFromErrno(errno);
    }
    if (!S_ISDIR(st.st_mode)) {
      *osError = ENOTDIR;
      return PlatformResult::kNotFound;
    }
  }
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attr;
  posix_spawn_file_actions_init(&actions);
  posix_spawnattr_init(&attr);
  if (!options.workingDir.empty()) {
    posix_spawn_file_actions_addchdir_np(&actions, options.workingDir.c_str());
  }
  // The child starts with default signal handling and an empty mask, not
  // whatever the setup installed for itself.
  sigset_t all, none;
  sigfillset(&all);
  sigemptyset(&none);
  posix_spawnattr_setsigdefault(&attr, &all);
  posix_spawnattr_setsigmask(&attr, &none);
  short flags = POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK;
  if (options.detach) flags |= POSIX_SPAWN_SETSID;
  posix_spawnattr_setflags(&attr, flags);

  std::vector<std::string> argStore = options.argv;
  std::vector<char*> argv;
  for (auto& a : argStore) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t child = 0;
  const char* program = options.program.empty() ? argv[0] : options.program.c_str();
  const int rc = posix_spawn(&child, program, &actions, &attr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  if (rc != 0) {
    *osError = rc;
    return resultFromErrno(rc);
  }
  *pid = child;
  if (options.detach) reapInBackground(child);
  return PlatformResult::kOk;
}

PlatformResult waitProcess(int pid, std::chrono::milliseconds limit, int* exitCode) {
  if (pid <= 0) return PlatformResult::kInvalidArgument;
  // Through syscall(): this glibc's <sys/pidfd.h> lacks C linkage for C++.
  const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
  if (pidfd < 0) return errno == ESRCH ? PlatformResult::kNotFound : resultFromErrno(errno);
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    int timeoutMs = -1;
    if (limit.count() >= 0) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      timeoutMs = left.count() < 0 ? 0 : static_cast<int>(std::min<int64_t>(left.count(), 1 << 30));
    }
    pollfd pfd{pidfd, POLLIN, 0};
    const int n = poll(&pfd, 1, timeoutMs);
    if (n < 0 && errno == EINTR) continue;
    if (n == 0) {
      close(pidfd);
      return PlatformResult::kTimedOut;
    }
    break;
  }
  close(pidfd);
  int status = 0;
  pid_t r;
  do {
    r = waitpid(pid, &status, 0);
  } while (r < 0 && errno == EINTR);
  if (r < 0) return errno == ECHILD ? PlatformResult::kNotFound : resultFromErrno(errno);
  *exitCode = exitCodeOf(status);
  return PlatformResult::kOk;
}

bool runsElevated() { return geteuid() == 0; }

int invokingUserId() {
  if (geteuid() != 0) return -1;
  for (const char* var : {"PKEXEC_UID", "SUDO_UID"}) {
    const char* value = std::getenv(var);
    int uid = 0;
    if (value != nullptr && parsePid(value, &uid) && uid != 0) return uid;
  }
  return -1;
}

}  // namespace platform
