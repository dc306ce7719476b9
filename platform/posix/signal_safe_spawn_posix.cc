#include "platform/signal_safe_spawn.h"

#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

extern char** environ;

namespace platform {

int spawnDetachedFromSignalHandler(const char* program, const char* const* argv) {
  // _Fork, not fork: fork runs the atfork handlers, which take malloc's
  // and stdio's locks, perhaps held by the thread that faulted.
  const pid_t pid = _Fork();
  if (pid != 0) return pid < 0 ? -1 : pid;
  setsid();
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
#ifdef SYS_close_range
  if (syscall(SYS_close_range, 3U, ~0U, 0U) != 0)
#endif
  {
    for (int fd = 3; fd < 1024; ++fd) close(fd);
  }
  execve(program, const_cast<char* const*>(argv), environ);
  _exit(127);
}

}  // namespace platform
