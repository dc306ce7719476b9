#include "weblog/curl_http_client.h"

#include <curl/curl.h>

#include <cstdio>

#include "net/transport_policy.h"
#include "platform/clock.h"
#include "platform/paths.h"

namespace weblog {

namespace {

constexpr long kMaxRedirects = 5;

size_t AppendBlock(char* data, size_t size, size_t count, void* userdata) {
  static_cast<std::string*>(userdata)->append(data, size * count);
  return size * count;
}

}  // namespace

CurlHttpClient::CurlHttpClient(std::string errorLogPath) : errorLogPath_(std::move(errorLogPath)) {}

std::string CurlHttpClient::DefaultErrorLogPath() {
  const std::string dir = platform::moduleDir();
  return dir.empty() ? std::string() : dir + "Logs/.log";
}

void CurlHttpClient::SetProxy(const std::string& proxy) {
  common::MutexLock lock(&connectionMu_);
  proxy_ = proxy;
}

long CurlHttpClient::GetResponseCode() {
  common::MutexLock lock(&responseMu_);
  auto it = responses_.find(std::this_thread::get_id());
  return it == responses_.end() ? 0 : it->second.status;
}

std::string CurlHttpClient::GetResponse() {
  common::MutexLock lock(&responseMu_);
  auto it = responses_.find(std::this_thread::get_id());
  return it == responses_.end() ? std::string() : it->second.text;
}

void CurlHttpClient::LogError(const char* format, int code) const {
  if (errorLogPath_.empty()) return;
  // The folder is never created: a missing Logs folder is how a user turns
  // this log off.
  FILE* f = std::fopen(errorLogPath_.c_str(), "ab+");
  if (f == nullptr) return;
  const platform::LocalTime t = platform::localTime();
  std::fprintf(f, "[%u/%u/%u-%u:%u:%u] ", t.year, t.month, t.day, t.hour, t.minute, t.second);
  std::fprintf(f, format, code);
  std::fclose(f);
}

void* CurlHttpClient::OpenConnection() {
  common::MutexLock lock(&connectionMu_);
  CURL* curl = curl_easy_init();
  if (curl == nullptr) {
    LogError("Failed to create CURL connection\n", 0);
    return nullptr;
  }
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_ACCEPT_ENCODING, "");
  curl_easy_setopt(curl, CURLOPT_MAXREDIRS, kMaxRedirects);
  // A failing option leaves the rest unset; the request still goes out.
  CURLcode rc = curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, 30L);
  if (rc != CURLE_OK) {
    LogError("Failed to set connection time out [%d]\n", rc);
    return curl;
  }
  if ((rc = curl_easy_setopt(curl, CURLOPT_TIMEOUT, 40L)) != CURLE_OK) {
    LogError("Failed to set time out [%d]\n", rc);
    return curl;
  }
  if ((rc = curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &AppendBlock)) != CURLE_OK) {
    LogError("Failed to set CURLOPT_WRITEFUNCTION [%d]\n", rc);
    return curl;
  }
  if ((rc = curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L)) != CURLE_OK) {
    LogError("Failed to CURLOPT_FOLLOWLOCATION [%d]\n", rc);
  }
  return curl;
}

void CurlHttpClient::ApplyPolicy(void* handle, const std::string& url) {
  CURL* curl = static_cast<CURL*>(handle);
  net::ApplyTransportPolicy(curl, url);
  // A proxy set on this client (the proxy file, the self-test's debugging
  // proxy) is the user's explicit choice and wins over the system's.
  common::MutexLock lock(&connectionMu_);
  if (!proxy_.empty()) curl_easy_setopt(curl, CURLOPT_PROXY, proxy_.c_str());
}

int CurlHttpClient::Post(const std::string& url, const std::string& header,
                         const std::string& body) {
  CURL* curl = static_cast<CURL*>(OpenConnection());
  if (curl == nullptr) return CURLE_FAILED_INIT;
  ApplyPolicy(curl, url);
  curl_slist* headers = nullptr;
  if (!header.empty()) headers = curl_slist_append(nullptr, header.c_str());
  std::string text;
  long status = 0;
  CURLcode rc = CURLE_OK;
  do {
    if ((rc = curl_easy_setopt(curl, CURLOPT_URL, url.c_str())) != CURLE_OK) {
      LogError("Failed to set CURLOPT_URL [%d]\n", rc);
      break;
    }
    if ((rc = curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers)) != CURLE_OK) {
      LogError("Failed to set CURLOPT_HTTPHEADER [%d]\n", rc);
      break;
    }
    if ((rc = curl_easy_setopt(curl, CURLOPT_POST, 1L)) != CURLE_OK) {
      LogError("Failed to set CURLOPT_POST [%d]\n", rc);
      break;
    }
    // Without its size libcurl would take the body for a C string and cut
    // it at its first NUL.
    if ((rc = curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()))) !=
        CURLE_OK) {
      LogError("Failed to set CURLOPT_POSTFIELDSIZE [%d]\n", rc);
      break;
    }
    if ((rc = curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.c_str())) != CURLE_OK) {
      LogError("Failed to set CURLOPT_POSTFIELDS [%d]\n", rc);
      break;
    }
    if ((rc = curl_easy_setopt(curl, CURLOPT_WRITEDATA, &text)) != CURLE_OK) {
      LogError("Failed to set CURLOPT_WRITEDATA [%d]\n", rc);
      break;
    }
    if ((rc = curl_easy_perform(curl)) != CURLE_OK) {
      net::LogTransportFailure(curl, rc, url);
      LogError("Failed to perform request [%d]\n", rc);
      break;
    }
    if ((rc = curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status)) != CURLE_OK) {
      LogError("Failed to perform request [%d]\n", rc);
      break;
    }
    common::MutexLock lock(&responseMu_);
    responses_[std::this_thread::get_id()] = Response{std::move(text), status};
  } while (false);
  if (headers != nullptr) curl_slist_free_all(headers);
  curl_easy_cleanup(curl);
  return rc;
}

}  // namespace weblog
