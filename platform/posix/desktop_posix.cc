#include "platform/desktop.h"

#include <dbus/dbus.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <deque>
#include <list>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "common/log.h"
#include "common/mutex.h"
#include "common/thread_tools.h"
#include "platform/paths.h"
#include "platform/process.h"

extern char** environ;

namespace platform {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// A bus that took the connection and then hangs must cost the worker no
// more than this.
constexpr int kConnectLimitMs = 1000;
// After a failed connection the same address is not tried again for a
// while, so a dead bus is not dialled for every progress step.
constexpr milliseconds kConnectRetryAfter{5000};
// A file manager started by bus activation needs a few seconds to answer.
constexpr milliseconds kShowItemsLimit{5000};
// The portal answers OpenFile with its request handle at once; the choice
// itself comes later in the Response signal, which has no limit.
constexpr milliseconds kOpenFileLimit{30000};
constexpr milliseconds kTaskbarInterval{100};

constexpr char kPortalName[] = "org.freedesktop.portal.Desktop";
constexpr char kPortalPath[] = "/org/freedesktop/portal/desktop";
constexpr char kRequestInterface[] = "org.freedesktop.portal.Request";
constexpr char kFileManagerName[] = "org.freedesktop.FileManager1";
constexpr char kFileManagerPath[] = "/org/freedesktop/FileManager1";
constexpr char kLauncherInterface[] = "com.canonical.Unity.LauncherEntry";

std::string sessionBusAddress() { return getEnv("DBUS_SESSION_BUS_ADDRESS").value_or(""); }

bool isMethodReturn(DBusMessage* reply) {
  return reply != nullptr && dbus_message_get_type(reply) == DBUS_MESSAGE_TYPE_METHOD_RETURN;
}

// For log lines: the error a reply carries, or why there was none.
std::string replyProblem(DBusMessage* reply) {
  if (reply == nullptr) return "no answer in time";
  const char* name = dbus_message_get_error_name(reply);
  return name != nullptr ? name : "unexpected answer";
}

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
    std::string dir =
        path.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (dir.empty()) dir = ".";
    if (runnable(dir + "/" + name)) return dir + "/" + name;
    if (end == std::string::npos) return {};
    start = end + 1;
  }
}

// ---- Folder picker ----------------------------------------------------

struct PickRequest {
  std::string address;
  std::string title;
  std::string startDir;
  std::function<void(std::optional<std::string>)> done;
};

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

// The portal takes folders as NUL-terminated bytes ("ay"), not as text.
void appendBytesOption(DBusMessageIter* dict, const char* key, const std::string& text) {
  DBusMessageIter entry, variant, bytes;
  const char* data = text.c_str();  // with its NUL
  dbus_message_iter_open_container(dict, DBUS_TYPE_DICT_ENTRY, nullptr, &entry);
  dbus_message_iter_append_basic(&entry, DBUS_TYPE_STRING, &key);
  dbus_message_iter_open_container(&entry, DBUS_TYPE_VARIANT, "ay", &variant);
  dbus_message_iter_open_container(&variant, DBUS_TYPE_ARRAY, "y", &bytes);
  dbus_message_iter_append_fixed_array(&bytes, DBUS_TYPE_BYTE, &data,
                                       static_cast<int>(text.size() + 1));
  dbus_message_iter_close_container(&variant, &bytes);
  dbus_message_iter_close_container(&entry, &variant);
  dbus_message_iter_close_container(dict, &entry);
}

DBusMessage* openFileCall(const PickRequest& req, const std::string& token) {
  DBusMessage* msg = dbus_message_new_method_call(kPortalName, kPortalPath,
                                                  "org.freedesktop.portal.FileChooser", "OpenFile");
  DBusMessageIter args, options;
  const char* parent = "";
  const char* title = req.title.c_str();
  const char* tokenText = token.c_str();
  const dbus_bool_t yes = TRUE;
  dbus_message_iter_init_append(msg, &args);
  dbus_message_iter_append_basic(&args, DBUS_TYPE_STRING, &parent);
  dbus_message_iter_append_basic(&args, DBUS_TYPE_STRING, &title);
  dbus_message_iter_open_container(&args, DBUS_TYPE_ARRAY, "{sv}", &options);
  appendOption(&options, "handle_token", DBUS_TYPE_STRING, &tokenText);
  appendOption(&options, "directory", DBUS_TYPE_BOOLEAN, &yes);
  appendOption(&options, "modal", DBUS_TYPE_BOOLEAN, &yes);
  if (!req.startDir.empty()) appendBytesOption(&options, "current_folder", req.startDir);
  dbus_message_iter_close_container(&args, &options);
  return msg;
}

// Where the portal puts the request object for `token`: the caller's
// unique name without ':' and with '.' as '_'. Known before the call, so
// a Response sent before OpenFile's own answer is not missed.
std::string requestPath(const char* uniqueName, const std::string& token) {
  std::string sender = uniqueName != nullptr ? uniqueName : "";
  if (!sender.empty() && sender[0] == ':') sender.erase(0, 1);
  std::replace(sender.begin(), sender.end(), '.', '_');
  return std::string(kPortalPath) + "/request/" + sender + "/" + token;
}

// The first entry of "uris" in the portal's a{sv} results.
std::optional<std::string> firstUri(DBusMessageIter* results) {
  DBusMessageIter dict;
  dbus_message_iter_recurse(results, &dict);
  for (; dbus_message_iter_get_arg_type(&dict) == DBUS_TYPE_DICT_ENTRY;
       dbus_message_iter_next(&dict)) {
    DBusMessageIter entry, variant, uris;
    dbus_message_iter_recurse(&dict, &entry);
    const char* key = nullptr;
    if (dbus_message_iter_get_arg_type(&entry) != DBUS_TYPE_STRING) continue;
    dbus_message_iter_get_basic(&entry, &key);
    if (std::strcmp(key, "uris") != 0 || !dbus_message_iter_next(&entry)) continue;
    dbus_message_iter_recurse(&entry, &variant);
    if (dbus_message_iter_get_arg_type(&variant) != DBUS_TYPE_ARRAY) return std::nullopt;
    dbus_message_iter_recurse(&variant, &uris);
    if (dbus_message_iter_get_arg_type(&uris) != DBUS_TYPE_STRING) return std::nullopt;
    const char* uri = nullptr;
    dbus_message_iter_get_basic(&uris, &uri);
    return std::string(uri);
  }
  return std::nullopt;
}

// The folder a portal Response carries: response 0 is a choice, 1 the
// person's cancel, 2 any other end.
std::optional<std::string> folderFromResponse(DBusMessage* signal) {
  DBusMessageIter args;
  if (!dbus_message_iter_init(signal, &args) ||
      dbus_message_iter_get_arg_type(&args) != DBUS_TYPE_UINT32) {
    return std::nullopt;
  }
  dbus_uint32_t response = 2;
  dbus_message_iter_get_basic(&args, &response);
  if (response != 0) {
    if (response != 1)
      LOG(INFO) << " Folder picker: the portal ended the dialog (" << response << ")";
    return std::nullopt;
  }
  if (!dbus_message_iter_next(&args) || dbus_message_iter_get_arg_type(&args) != DBUS_TYPE_ARRAY) {
    return std::nullopt;
  }
  const std::optional<std::string> uri = firstUri(&args);
  if (!uri) return std::nullopt;
  std::optional<std::string> path = pathFromFileUri(*uri);
  if (!path) LOG(INFO) << " Folder picker: the portal gave a URI that is no local path: " << *uri;
  return path;
}

void pickWithDialogProgram(PickRequest req) {
  std::vector<std::string> order = {"zenity", "kdialog"};
  const std::string session = getEnv("XDG_CURRENT_DESKTOP").value_or("");
  if (session.find("KDE") != std::string::npos) std::swap(order[0], order[1]);
  std::string program, chosen;
  for (const std::string& name : order) {
    program = findProgram(name);
    if (!program.empty()) {
      chosen = name;
      break;
    }
  }
  if (program.empty()) {
    LOG(INFO) << " Folder picker: no desktop portal, zenity or kdialog; only the path box remains";
    req.done(std::nullopt);
    return;
  }
  std::vector<std::string> argv;
  if (chosen == "zenity") {
    argv = {program, "--file-selection", "--directory", "--title=" + req.title};
    // A trailing '/' makes zenity open the folder rather than select it.
    if (!req.startDir.empty()) argv.push_back("--filename=" + req.startDir + "/");
  } else {
    argv = {program, "--title", req.title, "--getexistingdirectory",
            req.startDir.empty() ? homeDir() : req.startDir};
  }
  auto done = std::move(req.done);
  DesktopBus::instance().runDialog(std::move(argv), [done](bool ran, int code, std::string out) {
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    if (!ran || code != 0 || out.empty()) {
      done(std::nullopt);  // exit code 1 is the person's cancel
      return;
    }
    done(std::move(out));
  });
}

void pickWithPortal(PickRequest req) {
  static uint64_t counter = 0;  // worker only
  DesktopBus& bus = DesktopBus::instance();
  DBusConnection* conn = bus.connect(req.address);
  if (conn == nullptr) {
    pickWithDialogProgram(std::move(req));
    return;
  }
  const std::string token = "websetup" + std::to_string(++counter);
  const std::string expected = requestPath(dbus_bus_get_unique_name(conn), token);
  DBusMessage* msg = openFileCall(req, token);
  auto shared = std::make_shared<PickRequest>(std::move(req));
  bus.awaitResponse(expected, [shared](DBusMessage* signal) {
    shared->done(signal != nullptr ? folderFromResponse(signal) : std::nullopt);
  });
  bus.call(conn, msg, kOpenFileLimit, [&bus, shared, expected](DBusMessage* reply) {
    const char* handle = nullptr;
    if (isMethodReturn(reply) &&
        dbus_message_get_args(reply, nullptr, DBUS_TYPE_OBJECT_PATH, &handle, DBUS_TYPE_INVALID)) {
      bus.moveWaiter(expected, handle);  // a portal older than handle_token
      return;
    }
    if (!bus.dropWaiter(expected)) return;  // already answered
    LOG(INFO) << " Folder picker: the desktop portal did not serve us (" << replyProblem(reply)
              << "); trying a dialog program";
    pickWithDialogProgram(std::move(*shared));
  });
}

// ---- Showing a file in its folder ----------------------------------------

std::string absolutePath(const std::string& path) {
  if (!path.empty() && path[0] == '/') return path;
  char cwd[4096];
  if (getcwd(cwd, sizeof(cwd)) == nullptr) return path;
  return std::string(cwd) + "/" + path;
}

std::string parentFolder(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

void openContainingFolder(const std::string& path) {
  const std::string folder = parentFolder(path);
  const std::string opener = getEnv("WEBSETUP_OPEN_COMMAND").value_or("");
  const std::string program = findProgram(opener.empty() ? "xdg-open" : opener);
  if (program.empty()) {
    LOG(INFO) << " Show in folder: no program opens folders ("
              << (opener.empty() ? "xdg-open" : opener) << "); " << folder << " stays closed";
    return;
  }
  SpawnOptions options;
  options.argv = {program, folder};
  // The file manager belongs to the person, not to a setup running as root.
  options.detach = true;
  options.runAsUid = invokingUserId();
  int pid = 0, error = 0;
  if (spawnProcess(options, &pid, &error) != PlatformResult::kOk) {
    LOG(INFO) << " Show in folder: cannot start " << program << " (" << error << ")";
  }
}

void showWithFileManager(const std::string& address, const std::string& path) {
  DesktopBus& bus = DesktopBus::instance();
  DBusConnection* conn = bus.connect(address);
  if (conn == nullptr) {
    openContainingFolder(path);
    return;
  }
  DBusMessage* msg = dbus_message_new_method_call(kFileManagerName, kFileManagerPath,
                                                  kFileManagerName, "ShowItems");
  const std::string uri = fileUriFromPath(path);
  const char* uriText = uri.c_str();
  const char* startupId = "";
  DBusMessageIter args, uris;
  dbus_message_iter_init_append(msg, &args);
  dbus_message_iter_open_container(&args, DBUS_TYPE_ARRAY, "s", &uris);
  dbus_message_iter_append_basic(&uris, DBUS_TYPE_STRING, &uriText);
  dbus_message_iter_close_container(&args, &uris);
  dbus_message_iter_append_basic(&args, DBUS_TYPE_STRING, &startupId);
  bus.call(conn, msg, kShowItemsLimit, [path](DBusMessage* reply) {
    if (isMethodReturn(reply)) return;
    LOG(INFO) << " Show in folder: no file manager answered (" << replyProblem(reply)
              << "); opening the folder";
    openContainingFolder(path);
  });
}

// ---- Taskbar progress ------------------------------------------------------

struct LauncherProps {
  double progress = 0;
  bool visible = false;
  bool urgent = false;
  // A hidden bar's value is nobody's business, so it does not count.
  bool sameAs(const LauncherProps& o) const {
    return visible == o.visible && urgent == o.urgent && (!visible || progress == o.progress);
  }
};

LauncherProps propsFor(TaskbarState state, double fraction) {
  LauncherProps p;
  p.progress = fraction;
  p.visible = state == TaskbarState::kNormal || state == TaskbarState::kPaused ||
              state == TaskbarState::kError;
  p.urgent = state == TaskbarState::kError;
  return p;
}

// Docks find the entry by the app URI in the signal, not by the path; a
// path of its own per app keeps two setups' signals apart. FNV-1a.
std::string launcherPath(const std::string& appUri) {
  uint32_t hash = 2166136261u;
  for (unsigned char c : appUri) hash = (hash ^ c) * 16777619u;
  return "/com/canonical/unity/launcherentry/" + std::to_string(hash);
}

void emitLauncherUpdate(DBusConnection* conn, const std::string& objectPath,
                        const std::string& appUri, const LauncherProps& p) {
  DBusMessage* msg = dbus_message_new_signal(objectPath.c_str(), kLauncherInterface, "Update");
  DBusMessageIter args, props;
  const char* uri = appUri.c_str();
  const double progress = p.progress;
  const dbus_bool_t visible = p.visible, urgent = p.urgent;
  dbus_message_iter_init_append(msg, &args);
  dbus_message_iter_append_basic(&args, DBUS_TYPE_STRING, &uri);
  dbus_message_iter_open_container(&args, DBUS_TYPE_ARRAY, "{sv}", &props);
  appendOption(&props, "progress", DBUS_TYPE_DOUBLE, &progress);
  appendOption(&props, "progress-visible", DBUS_TYPE_BOOLEAN, &visible);
  appendOption(&props, "urgent", DBUS_TYPE_BOOLEAN, &urgent);
  dbus_message_iter_close_container(&args, &props);
  dbus_connection_send(conn, msg, nullptr);
  dbus_message_unref(msg);
}

}  // namespace

// The bar's state, shared by the owner's threads and the worker, which
// keeps it alive until the last change is sent.
struct TaskbarProgress::Entry : std::enable_shared_from_this<TaskbarProgress::Entry> {
  std::string address;
  std::string appUri;
  std::string objectPath;

  common::Mutex mu;
  double fraction GUARDED_BY(mu) = 0;
  TaskbarState state GUARDED_BY(mu) = TaskbarState::kNoProgress;
  bool flushQueued GUARDED_BY(mu) = false;

  // Worker only. The dock starts out showing no bar.
  LauncherProps sent;
  Clock::time_point sentAt;

  // Queues one send for any number of changes until it runs.
  void changed() LOCKS_EXCLUDED(mu) {
    {
      common::MutexLock lock(&mu);
      if (flushQueued) return;
      flushQueued = true;
    }
    DesktopBus::instance().post([self = shared_from_this()] {
      const auto wait =
          std::chrono::duration_cast<milliseconds>(self->sentAt + kTaskbarInterval - Clock::now());
      DesktopBus::instance().after(std::max(wait, milliseconds(0)), [self] { self->flush(); });
    });
  }

  void flush() LOCKS_EXCLUDED(mu) {
    LauncherProps now;
    {
      common::MutexLock lock(&mu);
      flushQueued = false;
      now = propsFor(state, fraction);
    }
    if (now.sameAs(sent)) return;
    DBusConnection* conn = DesktopBus::instance().connect(address);
    if (conn == nullptr) return;
    emitLauncherUpdate(conn, objectPath, appUri, now);
    sent = now;
    sentAt = Clock::now();
  }
};

TaskbarProgress::TaskbarProgress(const std::string& desktopId) : entry_(std::make_shared<Entry>()) {
  DesktopBus::instance();  // made first, so it outlives this object at exit
  entry_->address = sessionBusAddress();
  entry_->appUri = "application://" + desktopId + ".desktop";
  entry_->objectPath = launcherPath(entry_->appUri);
}

TaskbarProgress::~TaskbarProgress() { setState(TaskbarState::kNoProgress); }

void TaskbarProgress::setProgress(double fraction) {
  if (std::isnan(fraction)) fraction = 0;
  {
    common::MutexLock lock(&entry_->mu);
    entry_->fraction = std::clamp(fraction, 0.0, 1.0);
    if (entry_->state == TaskbarState::kNoProgress ||
        entry_->state == TaskbarState::kIndeterminate) {
      entry_->state = TaskbarState::kNormal;
    }
  }
  entry_->changed();
}

void TaskbarProgress::setState(TaskbarState state) {
  {
    common::MutexLock lock(&entry_->mu);
    entry_->state = state;
  }
  entry_->changed();
}

void pickFolder(const std::string& title, const std::string& startDir,
                std::function<void(std::optional<std::string> folder)> done) {
  PickRequest req{sessionBusAddress(), title, startDir, std::move(done)};
  DesktopBus::instance().post([req = std::move(req)]() mutable { pickWithPortal(std::move(req)); });
}

void showItemInFolder(const std::string& path) {
  const std::string address = sessionBusAddress();
  const std::string full = absolutePath(path);
  DesktopBus::instance().post([address, full] { showWithFileManager(address, full); });
}

std::string fileUriFromPath(const std::string& path) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string uri = "file://";
  for (unsigned char c : path) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                       c == '-' || c == '.' || c == '_' || c == '~' || c == '/';
    if (plain) {
      uri += static_cast<char>(c);
    } else {
      uri += '%';
      uri += kHex[c >> 4];
      uri += kHex[c & 15];
    }
  }
  return uri;
}

std::optional<std::string> pathFromFileUri(const std::string& uri) {
  auto lower = [](std::string s) {
    for (char& c : s) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    return s;
  };
  auto hexValue = [](char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  constexpr size_t kSchemeLength = 7;  // "file://"
  if (lower(uri.substr(0, kSchemeLength)) != "file://") return std::nullopt;
  const size_t slash = uri.find('/', kSchemeLength);
  if (slash == std::string::npos) return std::nullopt;
  const std::string host = lower(uri.substr(kSchemeLength, slash - kSchemeLength));
  if (!host.empty() && host != "localhost") return std::nullopt;
  std::string path;
  for (size_t i = slash; i < uri.size(); ++i) {
    const char c = uri[i];
    if (c == '?' || c == '#') break;  // a query or fragment is no part of the file
    if (c != '%') {
      path += c;
      continue;
    }
    const int hi = i + 2 < uri.size() ? hexValue(uri[i + 1]) : -1;
    const int lo = i + 2 < uri.size() ? hexValue(uri[i + 2]) : -1;
    if (hi < 0 || lo < 0 || (hi == 0 && lo == 0)) return std::nullopt;
    path += static_cast<char>(hi * 16 + lo);
    i += 2;
  }
  return path;
}

}  // namespace platform
