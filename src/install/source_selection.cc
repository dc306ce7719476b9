#include "install/source_selection.h"

#include <algorithm>
#include <cctype>

#include "common/log.h"
#include "common/text.h"
#include "config/download_info_url.h"
#include "config/product_config.h"
#include "config/services.h"
#include "engine/libcurl_tool.h"
#include "system/system_facts.h"

namespace install {

namespace {

// The product's uninstall key, in the registry's 32-bit view, where its
// 32-bit installer made it (the file store has one view).
constexpr wchar_t kUninstallKey[] =
    L"SoftWare\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
constexpr int kRequestLimit = 3;

bool startsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

}  // namespace

const CdnHosts& DefaultCdnHosts() {
  static const CdnHosts hosts = [] {
    const config::Services& services = config::processServices();
    CdnHosts h;
    h.aliCdn = services.cdnHosts("ali");
    const std::vector<std::string> aws = services.cdnHosts("aws");
    if (!aws.empty()) h.awsCdn = aws.front();
    return h;
  }();
  return hosts;
}

bool isForbidCDN(const std::wstring& softwareName) {
  const std::wstring text =
      FuntionImpl::GetRegString(kUninstallKey + softwareName, L"RequestTooMuchTimes");
  return common::parseLeadingInt64(text) > kRequestLimit;
}

std::wstring checkRemotePath(const std::vector<std::wstring>& urls, int mode,
                             const std::wstring& softwareName) {
  LOG(INFO) << " isForbidCDN: " << (isForbidCDN(softwareName) ? 1 : 0);
  if (mode == kSelectFirstDirect) {
    for (const std::wstring& url : urls) {
      if (config::isCdnUrl(url)) continue;
      LOG(INFO) << " UrlUsed: " << common::wideToUtf8(url);
      return url;
    }
  } else {
    LOG(INFO) << " checkRemotePath unknown mode: " << mode;
  }
  LOG(INFO) << " checkRemotePath fail: " << -1;
  return std::wstring();
}

std::string HostOfUrl(const std::wstring& wideUrl) {
  const std::string url = common::wideToUtf8(wideUrl);
  const size_t dot = url.find('.');
  if (dot == std::string::npos) return std::string();
  const size_t after = url.find('/', dot);
  if (after == std::string::npos) return std::string();
  const size_t before = url.rfind('/', dot);
  if (before == std::string::npos) return std::string();
  std::string host = url.substr(before + 1, after - before - 1);
  std::transform(host.begin(), host.end(), host.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return host;
}

int HostClass(const std::wstring& url, const CdnHosts& hosts) {
  const std::string host = HostOfUrl(url);
  if (host.size() < 2 || startsWith(host, "dl.") || startsWith(host, "cdn.")) return kHostMirror;
  if (std::find(hosts.aliCdn.begin(), hosts.aliCdn.end(), host) != hosts.aliCdn.end() ||
      host.find("ali") != std::string::npos) {
    return kHostAliCdn;
  }
  if (host == hosts.awsCdn) return kHostAwsCdn;
  return kHostDirect;
}

std::wstring CheckLegacyLink(const std::wstring& usedUrl, float osVersion,
                             const config::ILabelSource& labels) {
  if (osVersion >= config::kModernOsVersion || usedUrl.find(L"_hpwin.exe") == std::wstring::npos) {
    return usedUrl;
  }
  std::string headers;
  long status = 0;
  int code = 0;
  {
    engine::CLibcurlTool curl;
    code = curl.httpGet(common::wideToUtf8(usedUrl).c_str(), &headers, &status);
  }
  LOG(INFO) << " Curl check win78 link, http code is " << status << ", curl code is " << code;
  if (status != 404) return usedUrl;
  for (const wchar_t* name : {L"Download_url", L"Extra_download_url"}) {
    const std::wstring candidate = labels.getLabelText(name);
    // An empty label is no address at all: switching to it would turn a
    // missing file into a missing URL.
    if (candidate.empty() || config::isCdnUrl(candidate)) continue;
    LOG(INFO) << " UrlUsed change to: " << common::wideToUtf8(candidate);
    return candidate;
  }
  return usedUrl;
}

}  // namespace install
