#ifndef WEBSETUP_TOOLS_MAKER_SERVICES_BODY_PUMP_H_
#define WEBSETUP_TOOLS_MAKER_SERVICES_BODY_PUMP_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "fault_modes.h"
#include "routes.h"

namespace maker_services {

// Where a response body comes from: a byte range of an open file (read in
// chunks, never whole) or a short text. Shared by the response and its
// content provider.
class BodySource {
 public:
  // Takes ownership of `fd`; the body is bytes [offset, offset+length).
  BodySource(int fd, int64_t offset, int64_t length);
  explicit BodySource(std::string text);
  ~BodySource();
  BodySource(const BodySource&) = delete;
  BodySource& operator=(const BodySource&) = delete;

  int64_t length() const { return length_; }
  // Reads up to `n` body bytes from body position `pos` into `buf`.
  // Returns the count read, or -1 on a read error.
  int64_t read(int64_t pos, char* buf, int64_t n) const;

 private:
  int fd_ = -1;
  int64_t offset_ = 0;
  int64_t length_ = 0;
  std::string text_;
};

// The socket of the connection a request came on, found by its ports, so a
// handler can watch it (a stalled response ends when the client leaves) or
// write to it itself. Returns -1 when not found.
int findConnectionSocket(int localPort, int remotePort);

// Shuts down every accepted connection on `localPort` (the server's own
// port), so threads waiting in a keep-alive read return at once.
void shutdownConnections(int localPort);

// Re-listens on the listening socket of `localPort` with a backlog for
// hundreds of simultaneous connection attempts.
void widenListenBacklog(int localPort);

// True when the client has closed or reset its end of `fd`.
bool peerHasLeft(int fd);

// Writes all of `data` to `fd`. Returns false when the connection failed.
bool writeAll(int fd, const char* data, size_t n);

// Sends the body through `write` (which returns false when the connection
// failed), honouring the drop, stall and rate modes, and reports every byte
// that left with ServiceContext::addBytesSent. `findSocket` gives the
// connection's socket for a stall. Returns true when the whole body went
// out; false when the connection must now be closed.
bool pumpBody(const BodySource& source, const FaultModes& modes, const ServiceContext& context,
              const std::function<bool(const char*, size_t)>& write,
              const std::function<int()>& findSocket);

}  // namespace maker_services

#endif  // WEBSETUP_TOOLS_MAKER_SERVICES_BODY_PUMP_H_
