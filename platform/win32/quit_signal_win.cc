// Quit requests on Windows: the console's control events (Ctrl+C,
// Ctrl+Break, closing the console, logging off, shutting down). The system
// delivers each on a thread it makes for the purpose, so there is nothing
// to block per thread; the handler only records the request and sets an
// event, and a waiter takes it, as the signal watcher does on Linux.

#include "platform/quit_signal.h"

#include <csignal>
#include <mutex>

#include "common/thread_tools.h"
#include "platform/win32/win_util.h"

namespace platform {

namespace {

// Auto-reset: each request wakes one waiter once; requests made before a
// waiter comes are kept, as a blocked signal stays pending.
HANDLE g_quitEvent = nullptr;
std::atomic<int> g_lastSignal{0};
std::once_flag g_installed;
BOOL g_installResult = FALSE;
DWORD g_installError = 0;

BOOL WINAPI onConsoleControl(DWORD type) {
  const bool interrupt = type == CTRL_C_EVENT || type == CTRL_BREAK_EVENT;
  g_lastSignal = interrupt ? SIGINT : SIGTERM;
  SetEvent(g_quitEvent);
  // For a closing console, log-off or shut-down the system ends the
  // process as soon as the handler returns; holding on gives the program
  // the system's grace period to end on its own.
  if (!interrupt) Sleep(INFINITE);
  return TRUE;
}

PlatformResult install() {
  std::call_once(g_installed, [] {
    g_quitEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    g_installResult = g_quitEvent != nullptr && SetConsoleCtrlHandler(&onConsoleControl, TRUE);
    if (!g_installResult) g_installError = GetLastError();
  });
  return g_installResult ? PlatformResult::kOk : win::resultFromLastError(g_installError);
}

}  // namespace

// Installing the handler is what holds requests back for the waiters; left
// to the default, Ctrl+C would end the process on the spot.
PlatformResult blockQuitSignalsInThisThread() { return install(); }

int waitForQuitSignal() {
  if (install() != PlatformResult::kOk) {
    for (;;) Sleep(INFINITE);
  }
  while (WaitForSingleObject(g_quitEvent, INFINITE) != WAIT_OBJECT_0) {
  }
  return g_lastSignal.load();
}

void QuitSignalWatcher::start(std::function<void(int)> onQuit) {
  stop();
  stop_ = false;
  const bool installed = install() == PlatformResult::kOk;
  thread_ = common::StartThread([this, installed, onQuit = std::move(onQuit)] {
    // Waiting in slices lets stop() end the thread without a request.
    while (!stop_.load()) {
      if (!installed) {
        Sleep(200);
      } else if (WaitForSingleObject(g_quitEvent, 200) == WAIT_OBJECT_0) {
        onQuit(g_lastSignal.load());
      }
    }
  });
}

void QuitSignalWatcher::stop() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
}

}  // namespace platform
