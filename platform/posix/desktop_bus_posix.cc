// The desktop services' session-bus worker: connecting with a bounded
// wait, the queue, timers and call deadlines, portal signals, and the
// folder dialog programs it runs on threads of their own.

#include "platform/posix/desktop_bus_posix.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "common/log.h"
#include "common/thread_tools.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/result.h"

extern char** environ;

namespace platform {
namespace desktop_bus {
namespace {

// A bus that took the connection and then hangs must cost the worker no
// more than this.
constexpr int kConnectLimitMs = 1000;
// After a failed connection the same address is not tried again for a
// while, so a dead bus is not dialled for every progress step.
constexpr milliseconds kConnectRetryAfter{5000};

// Drives the authentication handshake until `deadline`. libdbus flushes
// before it blocks for a reply, and that flush waits for the handshake
// without any limit, so a bus that never answers would hold us there.
// Each iteration waits for whichever direction the handshake needs.
bool authenticate(DBusConnection* conn, Clock::time_point deadline) {
  for (;;) {
    if (dbus_connection_get_is_authenticated(conn)) return true;
    if (!dbus_connection_get_is_connected(conn)) return false;
    const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return false;
    dbus_connection_read_write(conn, static_cast<int>(left));
  }
}

// Opens a private connection to the bus at `address` and greets it. Null
// when nobody answers within kConnectLimitMs.
DBusConnection* openBus(const std::string& address) {
  const auto deadline = Clock::now() + milliseconds(kConnectLimitMs);
  DBusError err;
  dbus_error_init(&err);
  DBusConnection* conn = dbus_connection_open_private(address.c_str(), &err);
  if (conn == nullptr) {
    LOG(INFO) << " Desktop bus: cannot connect to " << address << " (" << err.message << ")";
    dbus_error_free(&err);
    return nullptr;
  }
  dbus_connection_set_exit_on_disconnect(conn, FALSE);
  DBusMessage* reply = nullptr;
  if (authenticate(conn, deadline)) {
    // dbus_bus_register() would wait 25 s for this answer.
    DBusMessage* hello = dbus_message_new_method_call(DBUS_SERVICE_DBUS, DBUS_PATH_DBUS,
                                                      DBUS_INTERFACE_DBUS, "Hello");
    const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now()).count();
    reply = dbus_connection_send_with_reply_and_block(
        conn, hello, static_cast<int>(std::max<int64_t>(left, 1)), &err);
    dbus_message_unref(hello);
  }
  const char* name = nullptr;
  const bool ok = reply != nullptr &&
                  dbus_message_get_args(reply, &err, DBUS_TYPE_STRING, &name, DBUS_TYPE_INVALID) &&
                  dbus_bus_set_unique_name(conn, name);
  if (reply != nullptr) dbus_message_unref(reply);
  if (!ok) {
    LOG(INFO) << " Desktop bus: " << address << " did not greet us ("
              << (dbus_error_is_set(&err) ? err.message : "no answer in time") << ")";
    dbus_error_free(&err);
    dbus_connection_close(conn);
    dbus_connection_unref(conn);
    return nullptr;
  }
  return conn;
}

}  // namespace

std::string sessionBusAddress() { return getEnv("DBUS_SESSION_BUS_ADDRESS").value_or(""); }

bool isMethodReturn(DBusMessage* reply) {
  return reply != nullptr && dbus_message_get_type(reply) == DBUS_MESSAGE_TYPE_METHOD_RETURN;
}

std::string replyProblem(DBusMessage* reply) {
  if (reply == nullptr) return "no answer in time";
  const char* name = dbus_message_get_error_name(reply);
  return name != nullptr ? name : "unexpected answer";
}

// Appends the a{sv} entry `key` holding a value of basic `type`.
void appendOption(DBusMessageIter* dict, const char* key, int type, const void* value) {
  const char signature[2] = {static_cast<char>(type), '\0'};
  DBusMessageIter entry, variant;
  dbus_message_iter_open_container(dict, DBUS_TYPE_DICT_ENTRY, nullptr, &entry);
  dbus_message_iter_append_basic(&entry, DBUS_TYPE_STRING, &key);
  dbus_message_iter_open_container(&entry, DBUS_TYPE_VARIANT, signature, &variant);
  dbus_message_iter_append_basic(&variant, type, value);
  dbus_message_iter_close_container(&entry, &variant);
  dbus_message_iter_close_container(dict, &entry);
}

DesktopBus::DesktopBus() {
  dbus_threads_init_default();
  wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  thread_ = common::StartThread([this] { run(); });
}

// Waits for the worker, which may be inside a connection attempt (at most
// kConnectLimitMs), and for open dialogs, which are killed first.
DesktopBus::~DesktopBus() {
  stop_.store(true);
  wake();
  if (thread_.joinable()) thread_.join();
  for (auto& dialog : dialogs_) {
    {
      std::lock_guard<std::mutex> lock(dialog->mu);
      if (dialog->pid > 0) kill(dialog->pid, SIGKILL);
    }
    if (dialog->thread.joinable()) dialog->thread.join();
  }
  close(wakeFd_);
}

void DesktopBus::run() {
  while (!stop_.load()) {
    runQueued();
    runDueTimers();
    expireCalls();
    pumpConnection();
    waitForWork();
  }
  dropConnection();
}

void DesktopBus::runGuarded(const Task& task) {
  // An escaping exception would end the process from this thread.
  try {
    task();
  } catch (const std::exception& e) {
    LOG(INFO) << " Desktop bus: a task failed: " << e.what();
  } catch (...) {
    LOG(INFO) << " Desktop bus: a task failed";
  }
}

void DesktopBus::runQueued() {
  std::deque<Task> tasks;
  {
    common::MutexLock lock(&mu_);
    tasks.swap(queue_);
  }
  for (const Task& task : tasks) runGuarded(task);
}

void DesktopBus::runDueTimers() {
  const auto now = Clock::now();
  while (!timers_.empty() && timers_.begin()->first <= now) {
    Task task = std::move(timers_.begin()->second);
    timers_.erase(timers_.begin());
    runGuarded(task);
  }
}

// libdbus only times calls out while blocked in them, so the worker keeps
// the deadlines of its asynchronous calls itself.
void DesktopBus::expireCalls() {
  const auto now = Clock::now();
  std::vector<ReplyHandler> expired;
  for (auto it = calls_.begin(); it != calls_.end();) {
    if (it->second.deadline > now) {
      ++it;
      continue;
    }
    dbus_pending_call_cancel(it->second.pending);
    dbus_pending_call_unref(it->second.pending);
    expired.push_back(std::move(it->second.onReply));
    it = calls_.erase(it);
  }
  for (const ReplyHandler& onReply : expired) runGuarded([&] { onReply(nullptr); });
}

void DesktopBus::pumpConnection() {
  if (conn_ == nullptr) return;
  dbus_connection_read_write(conn_, 0);
  while (dbus_connection_dispatch(conn_) == DBUS_DISPATCH_DATA_REMAINS) {
  }
  if (!dbus_connection_get_is_connected(conn_)) {
    LOG(INFO) << " Desktop bus: the session bus went away";
    dropConnection();
  }
}

void DesktopBus::waitForWork() {
  int timeoutMs = -1;
  auto nearest = Clock::time_point::max();
  if (!timers_.empty()) nearest = timers_.begin()->first;
  for (const auto& [id, call] : calls_) nearest = std::min(nearest, call.deadline);
  if (nearest != Clock::time_point::max()) {
    const auto left = std::chrono::duration_cast<milliseconds>(nearest - Clock::now()).count();
    timeoutMs = static_cast<int>(std::clamp<int64_t>(left + 1, 0, 60000));
  }
  pollfd fds[2] = {{wakeFd_, POLLIN, 0}, {-1, 0, 0}};
  int socket = -1;
  if (conn_ != nullptr && dbus_connection_get_socket(conn_, &socket)) {
    fds[1] = {
        socket,
        static_cast<short>(POLLIN | (dbus_connection_has_messages_to_send(conn_) ? POLLOUT : 0)),
        0};
  }
  if (poll(fds, 2, timeoutMs) > 0 && (fds[0].revents & POLLIN) != 0) {
    uint64_t count = 0;
    (void)!read(wakeFd_, &count, sizeof(count));
  }
}

DBusConnection* DesktopBus::connect(const std::string& address) {
  if (conn_ != nullptr && address == connAddress_) return conn_;
  // "autolaunch:" would start a bus of its own through X11; the setup only
  // uses a bus the session already has.
  if (address.empty() || address.rfind("autolaunch:", 0) == 0) return nullptr;
  if (address == failedAddress_ && Clock::now() < retryAt_) return nullptr;
  // The old connection stays until a new one works: a late request naming
  // a bus that is gone must not cut off the exchanges still running.
  DBusConnection* fresh = openBus(address);
  if (fresh == nullptr) {
    failedAddress_ = address;
    retryAt_ = Clock::now() + kConnectRetryAfter;
    return nullptr;
  }
  dropConnection();
  failedAddress_.clear();
  conn_ = fresh;
  connAddress_ = address;
  dbus_connection_add_filter(conn_, &DesktopBus::filter, this, nullptr);
  // Without a wait for the bus's answer: the rules are in place before any
  // later call of ours reaches the portal, since the bus keeps our order.
  dbus_bus_add_match(conn_,
                     "type='signal',interface='org.freedesktop.portal.Request',"
                     "member='Response'",
                     nullptr);
  dbus_bus_add_match(conn_,
                     "type='signal',sender='org.freedesktop.DBus',"
                     "member='NameOwnerChanged',arg0='org.freedesktop.portal.Desktop'",
                     nullptr);
  return conn_;
}

void DesktopBus::dropConnection() {
  if (conn_ == nullptr) return;
  DBusConnection* conn = conn_;
  conn_ = nullptr;
  connAddress_.clear();
  std::vector<ReplyHandler> orphans;
  for (auto& [id, call] : calls_) {
    dbus_pending_call_cancel(call.pending);
    dbus_pending_call_unref(call.pending);
    orphans.push_back(std::move(call.onReply));
  }
  calls_.clear();
  for (auto& [path, handler] : waiters_) orphans.push_back(std::move(handler));
  waiters_.clear();
  dbus_connection_remove_filter(conn, &DesktopBus::filter, this);
  dbus_connection_close(conn);
  dbus_connection_unref(conn);
  if (stop_.load()) return;  // at exit the callers' callbacks are dropped
  for (const ReplyHandler& onReply : orphans) runGuarded([&] { onReply(nullptr); });
}

void DesktopBus::call(DBusConnection* conn, DBusMessage* message, milliseconds limit,
                      ReplyHandler onReply) {
  DBusPendingCall* pending = nullptr;
  const bool sent = dbus_connection_send_with_reply(conn, message, &pending, DBUS_TIMEOUT_INFINITE);
  dbus_message_unref(message);
  if (!sent || pending == nullptr) {
    onReply(nullptr);
    return;
  }
  const uint64_t id = nextCallId_++;
  calls_[id] = PendingCall{pending, Clock::now() + limit, std::move(onReply)};
  dbus_pending_call_set_notify(pending, &DesktopBus::onCallDone, new Notify{this, id},
                               [](void* data) { delete static_cast<Notify*>(data); });
}

void DesktopBus::onCallDone(DBusPendingCall* pending, void* data) {
  const Notify* notify = static_cast<Notify*>(data);
  DesktopBus* bus = notify->bus;
  auto it = bus->calls_.find(notify->id);
  if (it == bus->calls_.end()) return;
  ReplyHandler onReply = std::move(it->second.onReply);
  bus->calls_.erase(it);
  DBusMessage* reply = dbus_pending_call_steal_reply(pending);
  dbus_pending_call_unref(pending);  // `notify` goes with the last reference
  runGuarded([&] { onReply(reply); });
  if (reply != nullptr) dbus_message_unref(reply);
}

void DesktopBus::moveWaiter(const std::string& from, const std::string& to) {
  auto it = waiters_.find(from);
  if (it == waiters_.end() || from == to) return;
  waiters_[to] = std::move(it->second);
  waiters_.erase(from);
}

bool DesktopBus::onMessage(DBusMessage* msg) {
  if (dbus_message_is_signal(msg, kRequestInterface, "Response")) {
    const char* path = dbus_message_get_path(msg);
    auto it = path != nullptr ? waiters_.find(path) : waiters_.end();
    if (it == waiters_.end()) return false;
    ReplyHandler handler = std::move(it->second);
    waiters_.erase(it);
    runGuarded([&] { handler(msg); });
    return true;
  }
  if (dbus_message_is_signal(msg, DBUS_INTERFACE_DBUS, "NameOwnerChanged")) {
    const char *name = nullptr, *oldOwner = nullptr, *newOwner = nullptr;
    if (dbus_message_get_args(msg, nullptr, DBUS_TYPE_STRING, &name, DBUS_TYPE_STRING, &oldOwner,
                              DBUS_TYPE_STRING, &newOwner, DBUS_TYPE_INVALID) &&
        std::strcmp(name, kPortalName) == 0 && *newOwner == '\0' && !waiters_.empty()) {
      // A portal that went away will never send the Response a dialog waits for.
      LOG(INFO) << " Folder picker: the desktop portal left the bus";
      auto waiters = std::move(waiters_);
      waiters_.clear();
      for (auto& entry : waiters) runGuarded([&] { entry.second(nullptr); });
    }
  }
  return false;
}

namespace {

// process.h gives a child our own standard output; a dialog program
// answers on its standard output, so it is started here with a pipe there.
PlatformResult spawnWithOutputPipe(const std::vector<std::string>& args, int* pid, int* readFd) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return resultFromErrno(errno);
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attr;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawnattr_init(&attr);
  sigset_t all, none;
  sigfillset(&all);
  sigemptyset(&none);
  posix_spawnattr_setsigdefault(&attr, &all);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  std::vector<std::string> store = args;
  std::vector<char*> argv;
  for (auto& a : store) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t child = 0;
  const int rc = posix_spawn(&child, argv[0], &actions, &attr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  close(fds[1]);
  if (rc != 0) {
    close(fds[0]);
    return resultFromErrno(rc);
  }
  *pid = child;
  *readFd = fds[0];
  return PlatformResult::kOk;
}

}  // namespace

void DesktopBus::runDialog(
    std::vector<std::string> argv,
    std::function<void(bool ran, int exitCode, std::string output)> finished) {
  for (auto it = dialogs_.begin(); it != dialogs_.end();) {
    if (!(*it)->finished.load()) {
      ++it;
      continue;
    }
    (*it)->thread.join();
    it = dialogs_.erase(it);
  }
  int pid = -1, fd = -1;
  const PlatformResult r = spawnWithOutputPipe(argv, &pid, &fd);
  if (r != PlatformResult::kOk) {
    LOG(INFO) << " Folder picker: cannot start " << argv[0] << " (" << resultName(r) << ")";
    finished(false, -1, {});
    return;
  }
  auto dialog = std::make_unique<Dialog>();
  dialog->pid = pid;
  Dialog* d = dialog.get();
  d->thread = common::StartThread([this, d, pid, fd, finished = std::move(finished)] {
    std::string output;
    char buf[4096];
    for (;;) {
      const ssize_t n = read(fd, buf, sizeof(buf));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      output.append(buf, static_cast<size_t>(n));
    }
    close(fd);
    // Waits for the end without reaping, so the id cannot be reused while
    // a stop may still signal it; the reap then happens under the lock.
    siginfo_t info{};
    while (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT) != 0 && errno == EINTR) {
    }
    int code = -1;
    {
      std::lock_guard<std::mutex> lock(d->mu);
      if (waitProcess(pid, milliseconds(0), &code) != PlatformResult::kOk) code = -1;
      d->pid = -1;
    }
    if (!stopping()) runGuarded([&] { finished(true, code, std::move(output)); });
    d->finished.store(true);
  });
  dialogs_.push_back(std::move(dialog));
}

// The full path of program `name`: as given when it holds a '/', else
// the first executable file of that name in $PATH. Empty when none.
std::string findProgram(const std::string& name) {
  auto runnable = [](const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
  };
  if (name.empty()) return {};
  if (name.find('/') != std::string::npos) return runnable(name) ? name : std::string();
  const std::string path = getEnv("PATH").value_or("/usr/local/bin:/usr/bin:/bin");
  size_t start = 0;
  for (;;) {
    const size_t end = path.find(':', start);
    const std::string entry =
        path.substr(start, end == std::string::npos ? std::string::npos : end - start);
    // Not assigned in place: GCC 12 warns falsely (-Wrestrict) on
    // `dir = "."` once this is inlined.
    const std::string dir = entry.empty() ? std::string(".") : entry;
    if (runnable(dir + "/" + name)) return dir + "/" + name;
    if (end == std::string::npos) return {};
    start = end + 1;
  }
}

}  // namespace desktop_bus
}  // namespace platform
