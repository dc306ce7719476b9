#ifndef WEBSETUP_PLATFORM_POSIX_DESKTOP_BUS_POSIX_H_
#define WEBSETUP_PLATFORM_POSIX_DESKTOP_BUS_POSIX_H_

// The session-bus worker shared by the desktop services of this folder
// (folder picker, show in folder, taskbar progress): one thread owns the
// connection and runs every D-Bus exchange, so the services' calls only
// queue work. Internal to platform/posix.

#include <dbus/dbus.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/mutex.h"

namespace platform {
namespace desktop_bus {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Names the bus worker itself listens for.
constexpr char kPortalName[] = "org.freedesktop.portal.Desktop";
constexpr char kRequestInterface[] = "org.freedesktop.portal.Request";

// The session bus the environment names now; empty when none.
std::string sessionBusAddress();
// True when `reply` is a method return (not an error, not missing).
bool isMethodReturn(DBusMessage* reply);
// For log lines: the error a reply carries, or why there was none.
std::string replyProblem(DBusMessage* reply);
// Appends the a{sv} entry `key` holding a value of basic `type`.
void appendOption(DBusMessageIter* dict, const char* key, int type, const void* value);
// The full path of program `name`: as given when it holds a '/', else
// the first executable file of that name in $PATH. Empty when none.
std::string findProgram(const std::string& name);

// The module's worker: owns the session-bus connection and runs every
// D-Bus exchange, so callers never wait on the bus. Started on first use,
// stopped when the process exits. post() is thread-safe; every other
// member runs on the worker only.
class DesktopBus {
 public:
  using Task = std::function<void()>;
  // Gets the reply, or null when none came in time or the bus went away.
  using ReplyHandler = std::function<void(DBusMessage* reply)>;

  static DesktopBus& instance() {
    static DesktopBus bus;
    return bus;
  }

  void post(Task task) LOCKS_EXCLUDED(mu_) {
    {
      common::MutexLock lock(&mu_);
      queue_.push_back(std::move(task));
    }
    wake();
  }

  bool stopping() const { return stop_.load(); }

  // The connection to the bus at `address`, made now when needed (waits at
  // most kConnectLimitMs); null when there is none. A working connection
  // to a different address replaces the old one.
  DBusConnection* connect(const std::string& address);

  // Sends `call` (taken over) and hands its reply to `onReply` within `limit`.
  void call(DBusConnection* conn, DBusMessage* call, milliseconds limit, ReplyHandler onReply);

  // Hands the next Response signal of the portal request at `path` to
  // `handler`; null when the portal or the bus went away first.
  void awaitResponse(const std::string& path, ReplyHandler handler) {
    waiters_[path] = std::move(handler);
  }
  void moveWaiter(const std::string& from, const std::string& to);
  // Forgets the waiter of `path`. False when there was none.
  bool dropWaiter(const std::string& path) { return waiters_.erase(path) > 0; }

  // Runs `task` on the worker once `delay` has passed.
  void after(milliseconds delay, Task task) {
    timers_.emplace(Clock::now() + delay, std::move(task));
  }

  // Runs a folder dialog program on a thread of its own: its standard
  // output up to its end, and its exit code, go to `finished`.
  void runDialog(std::vector<std::string> argv,
                 std::function<void(bool ran, int exitCode, std::string output)> finished);

 private:
  struct PendingCall {
    DBusPendingCall* pending = nullptr;
    Clock::time_point deadline;
    ReplyHandler onReply;
  };
  struct Notify {
    DesktopBus* bus;
    uint64_t id;
  };
  struct Dialog {
    std::mutex mu;
    int pid = -1;  // -1 once reaped, so a stop never signals a reused id
    std::atomic<bool> finished{false};
    std::thread thread;
  };

  DesktopBus();
  ~DesktopBus();

  void wake() {
    const uint64_t one = 1;
    (void)!write(wakeFd_, &one, sizeof(one));
  }
  void run();
  void runQueued() LOCKS_EXCLUDED(mu_);
  void runDueTimers();
  void expireCalls();
  void pumpConnection();
  void waitForWork();
  void dropConnection();
  bool onMessage(DBusMessage* msg);
  static void runGuarded(const Task& task);
  static DBusHandlerResult filter(DBusConnection*, DBusMessage* msg, void* self) {
    return static_cast<DesktopBus*>(self)->onMessage(msg) ? DBUS_HANDLER_RESULT_HANDLED
                                                          : DBUS_HANDLER_RESULT_NOT_YET_HANDLED;
  }
  static void onCallDone(DBusPendingCall* pending, void* data);

  common::Mutex mu_;
  std::deque<Task> queue_ GUARDED_BY(mu_);
  std::atomic<bool> stop_{false};  // Set by the destructor, read by the worker.
  int wakeFd_ = -1;
  std::thread thread_;

  // Worker only.
  DBusConnection* conn_ = nullptr;
  std::string connAddress_;
  std::string failedAddress_;
  Clock::time_point retryAt_;
  uint64_t nextCallId_ = 1;
  std::map<uint64_t, PendingCall> calls_;
  std::map<std::string, ReplyHandler> waiters_;
  std::multimap<Clock::time_point, Task> timers_;
  std::list<std::unique_ptr<Dialog>> dialogs_;
};

}  // namespace desktop_bus
}  // namespace platform

#endif  // WEBSETUP_PLATFORM_POSIX_DESKTOP_BUS_POSIX_H_
