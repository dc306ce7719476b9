#include "platform/system_proxy.h"

#include <windows.h>
// windows.h first: winhttp.h needs its types.
#include <winhttp.h>

#include <sstream>

#include "platform/win32/win_util.h"

namespace platform {
namespace {

// Frees the strings WinHTTP hands out.
struct GlobalText {
  LPWSTR text = nullptr;
  ~GlobalText() {
    if (text != nullptr) GlobalFree(text);
  }
};

// WinHTTP's proxy lists: entries separated by ';' or blanks, each
// "host:port", "scheme=host:port" or "scheme://host:port". Entries for
// another scheme than the URL's are left out; "socks=" means SOCKS4.
void appendProxyList(const std::wstring& list, const std::string& urlScheme,
                     std::vector<std::string>* out) {
  std::wstring entry;
  std::wstringstream in(list);
  while (std::getline(in, entry, L';')) {
    std::wstringstream words(entry);
    std::wstring word;
    while (words >> word) {
      std::string text = win::narrow(word);
      const size_t eq = text.find('=');
      std::string scheme = "http";
      if (eq != std::string::npos) {
        const std::string forScheme = text.substr(0, eq);
        text.erase(0, eq + 1);
        if (forScheme == "socks") {
          scheme = "socks4";
        } else if (forScheme != urlScheme) {
          continue;
        }
      }
      if (text.empty()) continue;
      out->push_back(text.find("://") == std::string::npos ? scheme + "://" + text : text);
    }
  }
}

// Whether `host` matches the bypass list ("<local>" and "*.example.com"
// patterns, separated by ';' or blanks).
bool bypassed(const std::wstring& bypass, const std::wstring& host) {
  std::wstring entry;
  std::wstringstream in(bypass);
  while (std::getline(in, entry, L';')) {
    std::wstringstream words(entry);
    std::wstring pattern;
    while (words >> pattern) {
      if (_wcsicmp(pattern.c_str(), L"<local>") == 0) {
        if (host.find(L'.') == std::wstring::npos) return true;
        continue;
      }
      if (pattern.size() > 1 && pattern[0] == L'*') {
        const std::wstring tail = pattern.substr(1);
        if (host.size() >= tail.size() &&
            _wcsicmp(host.c_str() + host.size() - tail.size(), tail.c_str()) == 0) {
          return true;
        }
      } else if (_wcsicmp(pattern.c_str(), host.c_str()) == 0) {
        return true;
      }
    }
  }
  return false;
}

std::wstring hostOf(const std::wstring& url) {
  URL_COMPONENTS parts{};
  parts.dwStructSize = sizeof(parts);
  parts.dwHostNameLength = static_cast<DWORD>(-1);
  if (!WinHttpCrackUrl(url.c_str(), 0, 0, &parts) || parts.lpszHostName == nullptr) {
    return std::wstring();
  }
  return std::wstring(parts.lpszHostName, parts.dwHostNameLength);
}

// Runs the auto-configuration script (named, or found by WPAD) for `url`.
bool askScript(const std::wstring& url, const WINHTTP_CURRENT_USER_IE_PROXY_CONFIG& ie,
               std::vector<std::string>* out, const std::string& scheme) {
  HINTERNET session = WinHttpOpen(L"websetup", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                  WINHTTP_NO_PROXY_BYPASS, 0);
  if (session == nullptr) return false;
  WINHTTP_AUTOPROXY_OPTIONS options{};
  if (ie.lpszAutoConfigUrl != nullptr) {
    options.dwFlags = WINHTTP_AUTOPROXY_CONFIG_URL;
    options.lpszAutoConfigUrl = ie.lpszAutoConfigUrl;
  } else {
    options.dwFlags = WINHTTP_AUTOPROXY_AUTO_DETECT;
    options.dwAutoDetectFlags = WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
  }
  options.fAutoLogonIfChallenged = TRUE;
  WINHTTP_PROXY_INFO info{};
  const bool ok = WinHttpGetProxyForUrl(session, url.c_str(), &options, &info) != FALSE;
  if (ok) {
    if (info.dwAccessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY && info.lpszProxy != nullptr) {
      appendProxyList(info.lpszProxy, scheme, out);
    } else {
      out->push_back("direct://");
    }
  }
  if (info.lpszProxy != nullptr) GlobalFree(info.lpszProxy);
  if (info.lpszProxyBypass != nullptr) GlobalFree(info.lpszProxyBypass);
  WinHttpCloseHandle(session);
  return ok;
}

}  // namespace

std::vector<std::string> systemProxiesFor(const std::string& url) {
  std::vector<std::string> out;
  WINHTTP_CURRENT_USER_IE_PROXY_CONFIG ie{};
  if (!WinHttpGetIEProxyConfigForCurrentUser(&ie)) return out;
  GlobalText autoUrl{ie.lpszAutoConfigUrl}, proxy{ie.lpszProxy}, bypass{ie.lpszProxyBypass};
  const std::wstring wideUrl = win::widen(url);
  const std::string scheme = url.substr(0, url.find(':'));
  if ((ie.fAutoDetect || ie.lpszAutoConfigUrl != nullptr) && askScript(wideUrl, ie, &out, scheme)) {
    return out;
  }
  if (ie.lpszProxy != nullptr) {
    if (ie.lpszProxyBypass != nullptr && bypassed(ie.lpszProxyBypass, hostOf(wideUrl))) {
      out.push_back("direct://");
    } else {
      appendProxyList(ie.lpszProxy, scheme, &out);
    }
  }
  return out;
}

}  // namespace platform
