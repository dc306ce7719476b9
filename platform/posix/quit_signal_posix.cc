#include "platform/quit_signal.h"

#include <pthread.h>
#include <signal.h>
#include <time.h>

#include "common/thread_tools.h"

namespace platform {

PlatformResult blockQuitSignalsInThisThread() {
  sigset_t quit;
  sigemptyset(&quit);
  sigaddset(&quit, SIGINT);
  sigaddset(&quit, SIGTERM);
  const int rc = pthread_sigmask(SIG_BLOCK, &quit, nullptr);
  return rc == 0 ? PlatformResult::kOk : resultFromErrno(rc);
}

int waitForQuitSignal() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  int sig = 0;
  while (sigwait(&set, &sig) != 0) {
  }
  return sig;
}

void QuitSignalWatcher::start(std::function<void(int)> onQuit) {
  stop();
  stop_ = false;
  thread_ = common::StartThread([this, onQuit = std::move(onQuit)] {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    // Waiting in slices lets stop() end the thread without a signal.
    const timespec slice{0, 200 * 1000 * 1000};
    while (!stop_.load()) {
      const int sig = sigtimedwait(&set, nullptr, &slice);
      if (sig > 0) onQuit(sig);
    }
  });
}

void QuitSignalWatcher::stop() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
}

}  // namespace platform
