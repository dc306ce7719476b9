#include "config/download_info_url.h"

namespace config {

namespace {
constexpr char kOpenTag[] = "<Downloader>";
constexpr char kCloseTag[] = "</Downloader>";
constexpr size_t kOpenTagLength = sizeof(kOpenTag) - 1;
constexpr size_t kCloseTagLength = sizeof(kCloseTag) - 1;
}  // namespace

std::string buildQueryUrl(const std::string& base, int32_t languageId, int32_t downloaderId,
                          int32_t siteId, float osVersion) {
  std::string url = base + kQueryDownloaderPath + "?LanguageId=" + std::to_string(languageId) +
                    "&SoftWareID=" + std::to_string(downloaderId) +
                    "&SiteID=" + std::to_string(siteId);
  if (osVersion < kModernOsVersion) url += "&package_type=5";
  return url;
}

bool frameDownloaderBlock(const std::string& body, std::string* block) {
  const size_t open = body.find(kOpenTag);
  if (open == std::string::npos) return false;
  const size_t close = body.find(kCloseTag, open + kOpenTagLength);
  if (close == std::string::npos) return false;
  *block = body.substr(open, close + kCloseTagLength - open);
  return true;
}

std::string hostOfBaseUrl(const std::string& base) {
  const size_t scheme = base.find("://");
  const size_t from = scheme == std::string::npos ? 0 : scheme + 3;
  const size_t end = base.find_first_of(":/", from);
  return base.substr(from, end == std::string::npos ? std::string::npos : end - from);
}

}  // namespace config
