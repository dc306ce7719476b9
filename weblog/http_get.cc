#include "weblog/http_get.h"

#include <curl/curl.h>

#include "net/transport_policy.h"

namespace weblog {

namespace {

constexpr long kConnectTimeoutMs = 6000;
constexpr long kReceiveTimeoutS = 6;
constexpr long kMaxRedirects = 5;
// The user id, the bootstrap address and the location line are a few
// bytes; anything near this is not an answer of the user-log service.
constexpr size_t kMaxAnswer = 1024 * 1024;

size_t AppendBlock(char* data, size_t size, size_t count, void* userdata) {
  auto* text = static_cast<std::string*>(userdata);
  if (text->size() + size * count > kMaxAnswer) return 0;
  text->append(data, size * count);
  return size * count;
}

}  // namespace

int HttpGet(const std::string& url, std::string* body) {
  CURL* curl = curl_easy_init();
  if (curl == nullptr) return -1;
  curl_slist* headers = nullptr;
  headers = curl_slist_append(headers, "Accept: */*");
  headers = curl_slist_append(headers, "Accept-Language: zh-cn");
  headers = curl_slist_append(headers,
                              "User-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0; "
                              "MyIE2; .NET CLR 1.1.4322)");
  // The answers must never come from a cache: the bootstrap file and the
  // user id change on the server.
  headers = curl_slist_append(headers, "Pragma: no-cache");
  headers = curl_slist_append(headers, "Cache-Control: no-cache");
  std::string received;
  // Query values (a city such as "New York") arrive unencoded; libcurl
  // refuses a URL that holds a space or a control byte.
  const std::string encoded = net::EncodeUrl(url);
  curl_easy_setopt(curl, CURLOPT_URL, encoded.c_str());
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
  // Asking through libcurl (not a raw header) makes it decode the body.
  curl_easy_setopt(curl, CURLOPT_ACCEPT_ENCODING, "gzip, deflate");
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(curl, CURLOPT_MAXREDIRS, kMaxRedirects);
  curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(kMaxAnswer));
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, kConnectTimeoutMs);
  // A receive limit is a limit on silence, not on the whole transfer.
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, kReceiveTimeoutS);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &AppendBlock);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &received);
  long status = 0;
  CURLcode rc = net::ApplyTransportPolicy(curl, encoded);
  if (rc == CURLE_OK) rc = curl_easy_perform(curl);
  net::LogTransportFailure(curl, rc, encoded);
  if (rc == CURLE_OK) curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
  curl_slist_free_all(headers);
  curl_easy_cleanup(curl);
  if (rc != CURLE_OK || status != 200) return -1;
  body->append(received);
  return 0;
}

}  // namespace weblog
