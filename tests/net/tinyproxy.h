#ifndef WEBSETUP_TESTS_NET_TINYPROXY_H_
#define WEBSETUP_TESTS_NET_TINYPROXY_H_

#include <memory>
#include <string>

#include "support/subprocess.h"
#include "support/temp_dir.h"

namespace net_test {

// tinyproxy in the foreground on a free loopback port, its configuration
// and log in a folder of its own; stopped with SIGTERM when the object goes.
class Tinyproxy {
 public:
  // `credentials` ("user:password"): the proxy demands them (BasicAuth).
  explicit Tinyproxy(const std::string& credentials = "");
  ~Tinyproxy();
  Tinyproxy(const Tinyproxy&) = delete;
  Tinyproxy& operator=(const Tinyproxy&) = delete;

  // False when it did not accept connections within 5 s.
  bool ready() const { return ready_; }
  // "http://[credentials@]127.0.0.1:<port>"
  std::string url(const std::string& credentials = "") const;
  std::string errors() const { return process_->errors(); }
  // Its log so far (a line per connection and request).
  std::string log() const;

 private:
  testing_support::TempDir dir_;
  int port_;
  std::unique_ptr<testing_support::Subprocess> process_;
  bool ready_ = false;
};

}  // namespace net_test

#endif  // WEBSETUP_TESTS_NET_TINYPROXY_H_
