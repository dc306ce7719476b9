#ifndef WEBSETUP_INSTALL_SOURCE_SELECTION_H_
#define WEBSETUP_INSTALL_SOURCE_SELECTION_H_

// Choosing the URL the installer is downloaded from (the used URL), the
// legacy-Windows link check that may replace it, the host class that names
// the address kind in the download events, and the per-product
// RequestTooMuchTimes mark behind isForbidCDN. Called on the install
// thread; every function is thread-safe.

#include <string>
#include <vector>

#include "config/label_source.h"

namespace install {

// The maker's CDN host names the host class compares with. Deployment data:
// DefaultCdnHosts() reads them from the services file (CdnHosts) once.
struct CdnHosts {
  std::vector<std::string> aliCdn;  // the Alibaba-cloud CDN hosts ("alicdn.…")
  std::string awsCdn;               // the AWS CDN host ("awscdn.…")
};
const CdnHosts& DefaultCdnHosts();

// Host classes of HostClass().
constexpr int kHostMirror = 10;  // dl. or cdn. host, or no usable host
constexpr int kHostDirect = 11;
constexpr int kHostAliCdn = 12;
constexpr int kHostAwsCdn = 13;

// The only selection mode: the first direct URL of the list.
constexpr int kSelectFirstDirect = 1;

// True when RequestTooMuchTimes under the product's uninstall key
// (HKLM\SoftWare\Microsoft\Windows\CurrentVersion\Uninstall\<softwareName>
// of the registry's 32-bit view) reads as a number above 3. A missing or
// unreadable value counts as 0.
bool isForbidCDN(const std::wstring& softwareName);

// Logs isForbidCDN for `softwareName`, then returns the first URL of `urls`
// that is neither a CDN nor a mirror address (logging it as the used URL),
// or an empty text when there is none or `mode` is not kSelectFirstDirect.
std::wstring checkRemotePath(const std::vector<std::wstring>& urls, int mode,
                             const std::wstring& softwareName);

// The host of `url` as the host class sees it: from the last '/' before the
// URL's first '.' to the first '/' after that '.', in lower case; empty when
// one of these three is missing.
std::string HostOfUrl(const std::wstring& url);

// 10 for a dl./cdn. host or one shorter than two characters, 12 for one of
// the Alibaba-cloud hosts or any host containing "ali", 13 for the AWS CDN
// host, else 11.
int HostClass(const std::wstring& url, const CdnHosts& hosts = DefaultCdnHosts());

// The legacy-Windows link check. Only below version 10.0 and for a used URL
// containing "_hpwin.exe": probes the URL's headers and, when the server
// answers 404, returns the embedded Download_url label if it is direct,
// else the embedded Extra_download_url label if that is direct. Returns
// `usedUrl` in every other case.
std::wstring CheckLegacyLink(const std::wstring& usedUrl, float osVersion,
                             const config::ILabelSource& labels);

}  // namespace install

#endif  // WEBSETUP_INSTALL_SOURCE_SELECTION_H_
