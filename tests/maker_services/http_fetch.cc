#include "http_fetch.h"

namespace maker_services_test {
namespace {

size_t append(char* data, size_t size, size_t count, void* out) {
  static_cast<std::string*>(out)->append(data, size * count);
  return size * count;
}

}  // namespace

std::string Fetched::header(const std::string& name) const {
  std::string found;
  const std::string prefix = name + ": ";
  size_t pos = 0;
  while ((pos = headers.find(prefix, pos)) != std::string::npos) {
    if (pos == 0 || headers[pos - 1] == '\n') {
      size_t end = headers.find("\r\n", pos);
      found = headers.substr(pos + prefix.size(), end - pos - prefix.size());
    }
    pos += prefix.size();
  }
  return found;
}

Fetched fetch(const std::string& url, const FetchOptions& options, CURL* handle) {
  CURL* curl = handle != nullptr ? handle : curl_easy_init();
  curl_easy_reset(curl);
  Fetched out;
  curl_slist* extra = nullptr;
  for (const auto& h : options.extraHeaders) extra = curl_slist_append(extra, h.c_str());
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_PATH_AS_IS, 1L);
  curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, options.timeoutMs);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, append);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &out.body);
  curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, append);
  curl_easy_setopt(curl, CURLOPT_HEADERDATA, &out.headers);
  if (extra != nullptr) curl_easy_setopt(curl, CURLOPT_HTTPHEADER, extra);
  if (!options.range.empty()) curl_easy_setopt(curl, CURLOPT_RANGE, options.range.c_str());
  if (options.head) curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
  if (options.follow) {
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, options.maxRedirects);
  }
  if (!options.postBody.empty()) curl_easy_setopt(curl, CURLOPT_POSTFIELDS, options.postBody.c_str());
  out.code = curl_easy_perform(curl);
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &out.status);
  curl_easy_getinfo(curl, CURLINFO_REDIRECT_COUNT, &out.redirects);
  curl_easy_getinfo(curl, CURLINFO_NUM_CONNECTS, &out.newConnections);
  curl_easy_getinfo(curl, CURLINFO_TOTAL_TIME, &out.seconds);
  curl_slist_free_all(extra);
  if (handle == nullptr) curl_easy_cleanup(curl);
  return out;
}

}  // namespace maker_services_test
