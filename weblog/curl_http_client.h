#ifndef WEBSETUP_WEBLOG_CURL_HTTP_CLIENT_H_
#define WEBSETUP_WEBLOG_CURL_HTTP_CLIENT_H_

#include <map>
#include <string>
#include <thread>

#include "common/mutex.h"

namespace weblog {

// The POST transport of the web-log object (analytics document, GA4,
// support ticket, Universal Analytics). Every request gets a libcurl handle
// of its own; the last response of each thread is kept apart, so several
// threads may post at once and each reads back its own answer. Failures
// are written to an error log file whose folder must already exist.
// Thread-safe.
class CurlHttpClient {
 public:
  // `errorLogPath`: where failures are appended; DefaultErrorLogPath() is
  // the "Logs/.log" file beside the executable.
  explicit CurlHttpClient(std::string errorLogPath = DefaultErrorLogPath());
  CurlHttpClient(const CurlHttpClient&) = delete;
  CurlHttpClient& operator=(const CurlHttpClient&) = delete;

  static std::string DefaultErrorLogPath();

  // Proxy of every connection made from now on, in place of the system's;
  // empty means the system's (net/transport_policy.h).
  void SetProxy(const std::string& proxy) LOCKS_EXCLUDED(connectionMu_);

  // POSTs `body` to `url` with the one request header line `header` (empty:
  // none). Returns the libcurl result code (0 = the transfer happened, which
  // says nothing about the status). On success the calling thread's response
  // text and status are replaced.
  [[nodiscard]] int Post(const std::string& url, const std::string& header,
                         const std::string& body);

  // Status of the calling thread's last successful request; 0 when none.
  long GetResponseCode() LOCKS_EXCLUDED(responseMu_);
  // Body of the calling thread's last successful request; empty when none.
  std::string GetResponse() LOCKS_EXCLUDED(responseMu_);

 private:
  struct Response {
    std::string text;
    long status = 0;
  };

  // A new handle with the shared options; null on failure (logged).
  void* OpenConnection() LOCKS_EXCLUDED(connectionMu_);
  // The program's transport policy for `url`, then this client's proxy.
  void ApplyPolicy(void* handle, const std::string& url) LOCKS_EXCLUDED(connectionMu_);
  void LogError(const char* format, int code) const;

  const std::string errorLogPath_;
  common::Mutex connectionMu_;
  std::string proxy_ GUARDED_BY(connectionMu_);
  common::Mutex responseMu_;
  std::map<std::thread::id, Response> responses_ GUARDED_BY(responseMu_);
};

}  // namespace weblog

#endif  // WEBSETUP_WEBLOG_CURL_HTTP_CLIENT_H_
