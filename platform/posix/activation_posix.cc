#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <mutex>
#include <thread>

#include "platform/activation.h"

namespace platform {

namespace {

constexpr char kRequest[] = "activate\n";
constexpr char kAnswer[] = "ok\n";

// An abstract-namespace address: nothing on disk to clean up after a crash,
// and the name is free again the moment the owner dies.
socklen_t makeAddress(const std::string& windowClass, sockaddr_un* addr) {
  std::memset(addr, 0, sizeof(*addr));
  addr->sun_family = AF_UNIX;
  std::string name = "websetup-activate-" + windowClass;
  name.resize(std::min(name.size(), sizeof(addr->sun_path) - 2));
  std::memcpy(addr->sun_path + 1, name.data(), name.size());
  return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
}

}  // namespace

struct ActivationListener::State {
  int listenFd = -1;
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
  state->listenFd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (state->listenFd < 0) return nullptr;
  sockaddr_un addr;
  const socklen_t len = makeAddress(windowClass, &addr);
  if (bind(state->listenFd, reinterpret_cast<sockaddr*>(&addr), len) != 0 ||
      ::listen(state->listenFd, 8) != 0 || pipe2(state->stopPipe, O_CLOEXEC) != 0) {
    close(state->listenFd);
    return nullptr;
  }
  state->thread = std::thread([s = state.get()] { s->run(); });
  return std::unique_ptr<ActivationListener>(new ActivationListener(std::move(state)));
}

ActivationListener::~ActivationListener() {
  (void)!write(state_->stopPipe[1], "x", 1);
  if (state_->thread.joinable()) state_->thread.join();
  close(state_->listenFd);
  close(state_->stopPipe[0]);
  close(state_->stopPipe[1]);
}

void ActivationListener::setCallback(Callback onActivate) {
  std::lock_guard<std::mutex> lock(state_->mu);
  state_->callback = std::move(onActivate);
}

bool requestActivation(const std::string& windowClass) {
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_un addr;
  const socklen_t len = makeAddress(windowClass, &addr);
  bool answered = false;
  if (connect(fd, reinterpret_cast<sockaddr*>(&addr), len) == 0 &&
      write(fd, kRequest, sizeof(kRequest) - 1) == static_cast<ssize_t>(sizeof(kRequest) - 1)) {
    pollfd pfd{fd, POLLIN, 0};
    char buf[8] = {};
    answered = poll(&pfd, 1, 1000) > 0 && read(fd, buf, sizeof(buf) - 1) > 0 &&
               std::strncmp(buf, kAnswer, sizeof(kAnswer) - 1) == 0;
  }
  close(fd);
  return answered;
}

}  // namespace platform
