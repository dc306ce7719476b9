#ifndef WEBSETUP_CONFIG_DOWNLOAD_INFO_URL_H_
#define WEBSETUP_CONFIG_DOWNLOAD_INFO_URL_H_

// The pure halves of the download-configuration query: the query URL and
// the framing of the <Downloader> block in the answer. Stateless;
// thread-safe.

#include <cstdint>
#include <string>

namespace config {

constexpr char kQueryDownloaderPath[] = "/queryDownloaderV2";

// Windows versions below this number get the legacy package type.
constexpr float kModernOsVersion = 10.0f;

// `base` (scheme://host[:port][/prefix], no trailing '/') +
// "/queryDownloaderV2?LanguageId=%d&SoftWareID=%d&SiteID=%d" and, when
// `osVersion` is below 10.0, "&package_type=5". SoftWareID is the
// downloader id.
std::string buildQueryUrl(const std::string& base, int32_t languageId, int32_t downloaderId,
                          int32_t siteId, float osVersion);

// Stores in *block the text of `body` from its first "<Downloader>" to the
// end of the first "</Downloader>" after it, tags included, and returns
// true; returns false (leaving *block alone) when either tag is missing.
[[nodiscard]] bool frameDownloaderBlock(const std::string& body, std::string* block);

// The host name of a base URL: what follows "://" up to the first ':' or
// '/'; "update.example" for "https://update.example:8443/p".
std::string hostOfBaseUrl(const std::string& base);

}  // namespace config

#endif  // WEBSETUP_CONFIG_DOWNLOAD_INFO_URL_H_
