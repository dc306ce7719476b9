#ifndef WEBSETUP_PLATFORM_QUIT_SIGNAL_H_
#define WEBSETUP_PLATFORM_QUIT_SIGNAL_H_

// The session's request to end the program (SIGTERM, SIGINT), delivered
// to a callback on a thread of its own. The entry point blocks both
// signals in every thread before any thread starts, so this watcher is the
// only taker. Owned by the program's main loop; start and stop on one
// thread.

#include <atomic>
#include <functional>
#include <thread>

#include "platform/result.h"

namespace platform {

// Holds quit requests back from the calling thread and from every thread it
// starts later, so that only a QuitSignalWatcher (or another explicit wait)
// takes them. The entry point calls it before any thread exists. Returns kOk
// or the failing system call's result.
[[nodiscard]] PlatformResult blockQuitSignalsInThisThread();

// Waits on the calling thread for the next quit request and returns its
// signal number: the quit message of a process that has no window (yet).
int waitForQuitSignal();

class QuitSignalWatcher {
 public:
  QuitSignalWatcher() = default;
  ~QuitSignalWatcher() { stop(); }
  QuitSignalWatcher(const QuitSignalWatcher&) = delete;
  QuitSignalWatcher& operator=(const QuitSignalWatcher&) = delete;

  // Calls `onQuit` (with the signal number) on the watcher's thread for
  // every quit signal until stop().
  void start(std::function<void(int signal)> onQuit);
  // Ends the watcher within 200 ms.
  void stop();

 private:
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace platform

#endif  // WEBSETUP_PLATFORM_QUIT_SIGNAL_H_
