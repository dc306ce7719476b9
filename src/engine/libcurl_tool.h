#ifndef WEBSETUP_ENGINE_LIBCURL_TOOL_H_
#define WEBSETUP_ENGINE_LIBCURL_TOOL_H_

// The setup's HTTP client: ranged segment downloads into the shared file,
// header probes, plain GETs and POSTs, over one reusable libcurl easy
// handle. Every request goes through the program's transport policy
// (net/transport_policy.h: verified TLS, the system's proxies). Owned by one
// thread at a time (each download worker owns one). Requires
// curl_global_init.

#include <curl/curl.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace engine {

class CDownloadThread;

class CLibcurlTool {
 public:
  CLibcurlTool();
  ~CLibcurlTool();
  CLibcurlTool(const CLibcurlTool&) = delete;
  CLibcurlTool& operator=(const CLibcurlTool&) = delete;

  // False when curl_easy_init failed; every request but the POST then
  // returns CURLE_FAILED_INIT.
  bool valid() const { return curl_ != nullptr; }

  // Downloads bytes from-to of `url` into the worker's shared file at its
  // current task's positions. `spare` is unused. Returns the libcurl result
  // (logged through figureError when not 0).
  [[nodiscard]] int httpDownloadContent(const char* url, int64_t from, int64_t to, int64_t spare,
                                        CDownloadThread* thread);

  // Header probe: fetches only the response headers of `url` (following up
  // to 5 redirects) into *headerText, every response's block in order, and
  // the last response's status into *status. from, to and n are unused.
  // The whole header text is kept, however long. Returns the libcurl result.
  [[nodiscard]] int httpGet(const char* url, int64_t from, int64_t to, int32_t n,
                            std::string* headerText, long* status);
  [[nodiscard]] int httpGet(const char* url, std::string* headerText, long* status);

  // Plain GET: *out receives the body (whatever arrived, also on failure;
  // nothing when the answer is longer than kMaxTextAnswer, which fails with
  // CURLE_FILESIZE_EXCEEDED). `flag` is unused. Returns the libcurl result.
  [[nodiscard]] int httpGet(const char* url, std::string& out, bool flag);

  // POST of `body` with a fresh handle; *response receives the reply (capped
  // as the plain GET's body). `extra` is unused. Returns the libcurl result.
  [[nodiscard]] int HttpPost(const std::string& url, const std::string& body, std::string* response,
                             const std::string& extra);

  // Logs the line for failed transfer `code`. Always returns 1.
  static int figureError(int code);
  // The text figureError logs for `code`.
  static std::string errorText(int code);

  // libcurl callbacks of the segment download; `worker` is the
  // CDownloadThread.
  static size_t downloadFunc(char* data, size_t size, size_t count, void* worker);
  // Progress callback of a segment request: non-zero ends it (the download
  // was stopped).
  static int abortCheck(void* worker, curl_off_t, curl_off_t, curl_off_t, curl_off_t);
  static size_t HeaderCallback(char* line, size_t size, size_t count, void* worker);

  // Longest body of a plain GET or a POST reply: far above any real answer.
  static constexpr size_t kMaxTextAnswer = 1024 * 1024;

  // Upper bound of probe steps through "Location:" answers.
  static constexpr int kMaxProbeSteps = 10;

 private:
  CURL* curl_;
};

}  // namespace engine

#endif  // WEBSETUP_ENGINE_LIBCURL_TOOL_H_
