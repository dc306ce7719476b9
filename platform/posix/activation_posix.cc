#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <thread>

#include "platform/activation.h"
#include "common/thread_tools.h"
#include "platform/paths.h"
#include "platform/posix/runtime_dir_posix.h"

namespace platform {

namespace {

constexpr char kRequest[] = "activate\n";
constexpr char kAnswer[] = "ok\n";

// The socket lives in this user's private runtime folder, beside the lock
// files, so another user can neither claim the name nor swap the socket,
// and a test can isolate itself by pointing XDG_RUNTIME_DIR elsewhere.
// Empty when there is no safe folder.
std::string socketPath(const std::string& windowClass) {
  const std::string dir = runtimeDir();
  if (dir.empty()) return std::string();
  std::string name;
  for (char c : windowClass) name += (c == '/' || c == '\0') ? '_' : c;
  return dir + "/websetup-activate-" + name + ".sock";
}

// False when the path is empty or does not fit a socket address.
bool makeAddress(const std::string& path, sockaddr_un* addr) {
  std::memset(addr, 0, sizeof(*addr));
  addr->sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof(addr->sun_path)) return false;
  std::memcpy(addr->sun_path, path.data(), path.size());
  return true;
}

int connectTo(const sockaddr_un& addr) {
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  if (connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof(addr)) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// Binds `fd` to `addr`, taking over a socket file left by a process that
// died without removing it. Fails while a live process listens there.
bool bindClaiming(int fd, const sockaddr_un& addr) {
  if (bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof(addr)) == 0) return true;
  if (errno != EADDRINUSE) return false;
  const int probe = connectTo(addr);
  if (probe >= 0) {
    close(probe);
    return false;
  }
  unlink(addr.sun_path);
  return bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof(addr)) == 0;
}

}  // namespace

struct ActivationListener::State {
  int listenFd = -1;
  std::string path;
  int stopPipe[2] = {-1, -1};
  std::thread thread;
  std::mutex mu;
  Callback callback;

  void run() {
    pollfd fds[2] = {{listenFd, POLLIN, 0}, {stopPipe[0], POLLIN, 0}};
    for (;;) {
      if (poll(fds, 2, -1) < 0) continue;
      if (fds[1].revents != 0) return;
      if ((fds[0].revents & POLLIN) == 0) continue;
      const int conn = accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
      if (conn < 0) continue;
      serve(conn);
      close(conn);
    }
  }

  void serve(int conn) {
    char buf[32] = {};
    pollfd pfd{conn, POLLIN, 0};
    if (poll(&pfd, 1, 1000) <= 0) return;
    const ssize_t n = read(conn, buf, sizeof(buf) - 1);
    if (n <= 0 || std::strncmp(buf, kRequest, sizeof(kRequest) - 1) != 0) return;
    Callback cb;
    {
      std::lock_guard<std::mutex> lock(mu);
      cb = callback;
    }
    if (cb) cb();
    (void)!write(conn, kAnswer, sizeof(kAnswer) - 1);
  }
};

ActivationListener::ActivationListener(std::shared_ptr<State> state) : state_(std::move(state)) {}

std::unique_ptr<ActivationListener> ActivationListener::listen(const std::string& windowClass,
                                                               Callback onActivate) {
  auto state = std::make_shared<State>();
  state->callback = std::move(onActivate);
  sockaddr_un addr;
  state->path = socketPath(windowClass);
  if (!makeAddress(state->path, &addr)) return nullptr;
  state->listenFd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (state->listenFd < 0) return nullptr;
  if (!bindClaiming(state->listenFd, addr)) {
    close(state->listenFd);
    return nullptr;
  }
  // An elevated run's socket must still answer the user's own runs.
  adoptRuntimeNode(state->path);
  if (::listen(state->listenFd, 8) != 0 || pipe2(state->stopPipe, O_CLOEXEC) != 0) {
    close(state->listenFd);
    unlink(state->path.c_str());
    return nullptr;
  }
  state->thread = common::StartThread([s = state.get()] { s->run(); });
  return std::unique_ptr<ActivationListener>(new ActivationListener(std::move(state)));
}

ActivationListener::~ActivationListener() {
  (void)!write(state_->stopPipe[1], "x", 1);
  if (state_->thread.joinable()) state_->thread.join();
  unlink(state_->path.c_str());
  close(state_->listenFd);
  close(state_->stopPipe[0]);
  close(state_->stopPipe[1]);
}

void ActivationListener::setCallback(Callback onActivate) {
  std::lock_guard<std::mutex> lock(state_->mu);
  state_->callback = std::move(onActivate);
}

bool requestActivation(const std::string& windowClass) {
  sockaddr_un addr;
  if (!makeAddress(socketPath(windowClass), &addr)) return false;
  const int fd = connectTo(addr);
  if (fd < 0) return false;
  bool answered = false;
  if (write(fd, kRequest, sizeof(kRequest) - 1) == static_cast<ssize_t>(sizeof(kRequest) - 1)) {
    pollfd pfd{fd, POLLIN, 0};
    char buf[8] = {};
    answered = poll(&pfd, 1, 1000) > 0 && read(fd, buf, sizeof(buf) - 1) > 0 &&
               std::strncmp(buf, kAnswer, sizeof(kAnswer) - 1) == 0;
  }
  close(fd);
  return answered;
}

}  // namespace platform
