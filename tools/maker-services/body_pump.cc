#include "body_pump.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <thread>
#include <vector>

namespace maker_services {
namespace {

// Large chunks keep a fast local download cheap in system calls.
constexpr int64_t kChunk = 256 * 1024;
// How often a stalled or rate-limited response looks at the stop flag.
constexpr auto kPollSlice = std::chrono::milliseconds(20);

int portOf(const sockaddr_storage& addr) {
  if (addr.ss_family == AF_INET) return ntohs(reinterpret_cast<const sockaddr_in&>(addr).sin_port);
  if (addr.ss_family == AF_INET6) {
    return ntohs(reinterpret_cast<const sockaddr_in6&>(addr).sin6_port);
  }
  return -1;
}

// Holds the connection open without sending, until the client leaves or
// the server stops.
void stall(const ServiceContext& context, const std::function<int()>& findSocket) {
  int fd = findSocket();
  while (!context.stopping()) {
    if (fd >= 0 && peerHasLeft(fd)) return;
    std::this_thread::sleep_for(kPollSlice);
  }
}

// Sleeps until `sent` bytes are due at `rate` bytes per second since `start`.
void pace(const ServiceContext& context, std::chrono::steady_clock::time_point start,
          int64_t sent, int64_t rate) {
  auto due = start + std::chrono::microseconds(sent * 1000000 / rate);
  while (!context.stopping()) {
    auto now = std::chrono::steady_clock::now();
    if (now >= due) return;
    std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(due - now, kPollSlice));
  }
}

}  // namespace

BodySource::BodySource(int fd, int64_t offset, int64_t length)
    : fd_(fd), offset_(offset), length_(length) {}

BodySource::BodySource(std::string text)
    : length_(static_cast<int64_t>(text.size())), text_(std::move(text)) {}

BodySource::~BodySource() {
  if (fd_ >= 0) ::close(fd_);
}

int64_t BodySource::read(int64_t pos, char* buf, int64_t n) const {
  n = std::min(n, length_ - pos);
  if (n <= 0) return 0;
  if (fd_ < 0) {
    std::copy_n(text_.data() + pos, n, buf);
    return n;
  }
  int64_t done = 0;
  while (done < n) {
    ssize_t got = ::pread(fd_, buf + done, static_cast<size_t>(n - done), offset_ + pos + done);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return done > 0 ? done : -1;
    done += got;
  }
  return done;
}

// Calls `fn(fd, connected)` for each socket of ours bound to `localPort`.
template <typename Fn>
void forEachSocketOnPort(int localPort, Fn fn) {
  DIR* dir = opendir("/proc/self/fd");
  if (dir == nullptr) return;
  while (dirent* entry = readdir(dir)) {
    if (entry->d_name[0] == '.') continue;
    int fd = std::atoi(entry->d_name);
    sockaddr_storage local{}, peer{};
    socklen_t local_len = sizeof local, peer_len = sizeof peer;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&local), &local_len) != 0) continue;
    if (portOf(local) != localPort) continue;
    fn(fd, getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peer_len) == 0);
  }
  closedir(dir);
}

int findConnectionSocket(int localPort, int remotePort) {
  int found = -1;
  forEachSocketOnPort(localPort, [&](int fd, bool connected) {
    if (found >= 0 || !connected) return;
    sockaddr_storage peer{};
    socklen_t peer_len = sizeof peer;
    if (getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peer_len) == 0 && portOf(peer) == remotePort) {
      found = fd;
    }
  });
  return found;
}

void shutdownConnections(int localPort) {
  forEachSocketOnPort(localPort, [](int fd, bool connected) {
    if (connected) ::shutdown(fd, SHUT_RDWR);
  });
}

void widenListenBacklog(int localPort) {
  forEachSocketOnPort(localPort, [](int fd, bool connected) {
    if (!connected) ::listen(fd, 1024);
  });
}

bool peerHasLeft(int fd) {
  pollfd p{fd, POLLRDHUP, 0};
  if (poll(&p, 1, 0) <= 0) return false;
  return (p.revents & (POLLRDHUP | POLLHUP | POLLERR | POLLNVAL)) != 0;
}

bool writeAll(int fd, const char* data, size_t n) {
  while (n > 0) {
    ssize_t sent = ::send(fd, data, n, MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return false;
    data += sent;
    n -= static_cast<size_t>(sent);
  }
  return true;
}

bool pumpBody(const BodySource& source, const FaultModes& modes, const ServiceContext& context,
              const std::function<bool(const char*, size_t)>& write,
              const std::function<int()>& findSocket) {
  const int64_t length = source.length();
  int64_t limit = length;  // where this response stops sending
  if (modes.dropAfter >= 0) limit = std::min(limit, modes.dropAfter);
  if (modes.stallAfter >= 0) limit = std::min(limit, modes.stallAfter);
  // A rate-limited body goes in slices of about 1/20 s, so the pace is even.
  int64_t chunk = modes.rate > 0 ? std::clamp<int64_t>(modes.rate / 20, 1, kChunk) : kChunk;
  std::vector<char> buf(static_cast<size_t>(std::min(chunk, std::max<int64_t>(limit, 1))));
  const auto start = std::chrono::steady_clock::now();
  int64_t sent = 0;
  while (sent < limit) {
    if (context.stopping()) return false;
    if (modes.rate > 0) pace(context, start, sent, modes.rate);
    int64_t n = source.read(sent, buf.data(), std::min<int64_t>(chunk, limit - sent));
    if (n <= 0) return false;
    if (!write(buf.data(), static_cast<size_t>(n))) return false;
    sent += n;
    ServiceContext::addBytesSent(static_cast<uint64_t>(n));
  }
  if (sent == length) return true;
  if (modes.stallAfter >= 0 && sent == modes.stallAfter &&
      (modes.dropAfter < 0 || modes.dropAfter > modes.stallAfter)) {
    stall(context, findSocket);
  }
  return false;
}

}  // namespace maker_services
