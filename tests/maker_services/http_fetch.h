#ifndef WEBSETUP_TESTS_MAKER_SERVICES_HTTP_FETCH_H_
#define WEBSETUP_TESTS_MAKER_SERVICES_HTTP_FETCH_H_

#include <curl/curl.h>

#include <string>
#include <vector>

namespace maker_services_test {

// What one libcurl transfer saw.
struct Fetched {
  CURLcode code = CURLE_OK;
  long status = 0;
  long redirects = 0;
  long newConnections = 0;
  std::string headers;  // every header block received, as sent
  std::string body;
  double seconds = 0;
  // The value of the last header line named `name` (exact case), or "".
  std::string header(const std::string& name) const;
};

struct FetchOptions {
  std::string range;  // CURLOPT_RANGE, e.g. "10-29"
  bool head = false;
  bool follow = false;
  long maxRedirects = 5;
  long timeoutMs = 10000;
  std::string postBody;  // non-empty: POST it
  std::vector<std::string> extraHeaders;
};

inline FetchOptions withRange(std::string range) {
  FetchOptions o;
  o.range = std::move(range);
  return o;
}
inline FetchOptions asHead() {
  FetchOptions o;
  o.head = true;
  return o;
}
inline FetchOptions following(long maxRedirects = 5, std::string range = "") {
  FetchOptions o;
  o.follow = true;
  o.maxRedirects = maxRedirects;
  o.range = std::move(range);
  return o;
}
inline FetchOptions posting(std::string body) {
  FetchOptions o;
  o.postBody = std::move(body);
  return o;
}
inline FetchOptions withTimeoutMs(long ms) {
  FetchOptions o;
  o.timeoutMs = ms;
  return o;
}

// Runs one request on `handle` (reused, so keep-alive can show) or on a
// fresh handle when it is null.
Fetched fetch(const std::string& url, const FetchOptions& options = {}, CURL* handle = nullptr);

}  // namespace maker_services_test

#endif  // WEBSETUP_TESTS_MAKER_SERVICES_HTTP_FETCH_H_
