#ifndef WEBSETUP_PLATFORM_SYSTEM_PROXY_H_
#define WEBSETUP_PLATFORM_SYSTEM_PROXY_H_

// The proxies the system names for a URL: on Windows the user's Internet
// settings (WinHttpGetIEProxyConfigForCurrentUser: the fixed proxy and its
// bypass list, or the auto-configuration script, or WPAD), on Linux
// libproxy (the environment, PAC, WPAD and the desktop's settings).
// Thread-safe; a slow PAC or WPAD answer blocks only the caller.

#include <string>
#include <vector>

namespace platform {

// Candidates in the order to try, each as "direct://" or
// "<scheme>://[user:pass@]host:port" (http, https, socks, socks4, socks5).
// Empty when the system has no answer.
std::vector<std::string> systemProxiesFor(const std::string& url);

}  // namespace platform

#endif  // WEBSETUP_PLATFORM_SYSTEM_PROXY_H_
