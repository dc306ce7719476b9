#ifndef WEBSETUP_TESTS_SUPPORT_MAKER_SERVICES_H_
#define WEBSETUP_TESTS_SUPPORT_MAKER_SERVICES_H_

#include <json/json.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace testing_support {

class Subprocess;

// A real build/bin/maker-services process on 127.0.0.1 and a free port,
// serving files from `root` and journaling every request. Started by the
// constructor (which waits until the port is known), stopped by the
// destructor. Owned by one test or fixture.
//
// The Windows tests run the Linux build's server (WEBSETUP_HOST_BUILD),
// which Wine starts as the Linux program it is: it gets Unix paths, and
// stops when the destructor removes its stop file, or at the latest after
// a lifetime that outlasts any test, should the test process die first.
class MakerServices {
 public:
  // `root` is the --root folder; `extraArgs` are passed on as they are.
  explicit MakerServices(const std::string& root, const std::vector<std::string>& extraArgs = {});
  ~MakerServices();
  MakerServices(const MakerServices&) = delete;
  MakerServices& operator=(const MakerServices&) = delete;

  int port() const { return port_; }
  // "http://127.0.0.1:<port>"
  std::string baseUrl() const;
  const std::string& journalPath() const { return journalPath_; }

  // Every journal line so far, parsed. Each is an object with at least
  // "time", "method", "path", "query", "headers" (object), "status",
  // "bytes_sent" and "body" (the request body as text).
  std::vector<Json::Value> journal() const;

  // Waits until the journal holds at least `count` lines (the server writes
  // a line when a response has ended). Returns false at the limit.
  bool waitForJournal(size_t count, std::chrono::milliseconds limit) const;

  // The journal lines of requests to `path`, in journal order, once there
  // are at least `atLeast` of them or `limit` has passed (then what there is).
  std::vector<Json::Value> requestsTo(const std::string& path, size_t atLeast,
                                      std::chrono::milliseconds limit) const;

 private:
  int pid_ = -1;
  int port_ = 0;
  std::string journalPath_;
  std::string portFile_;
#ifdef _WIN32
  std::unique_ptr<Subprocess> process_;
  std::string stopFile_;
#endif
};

}  // namespace testing_support

#endif  // WEBSETUP_TESTS_SUPPORT_MAKER_SERVICES_H_
