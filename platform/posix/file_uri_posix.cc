#include "platform/file_uri.h"

namespace platform {

std::string fileUriFromPath(const std::string& path) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string uri = "file://";
  for (unsigned char c : path) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                       c == '-' || c == '.' || c == '_' || c == '~' || c == '/';
    if (plain) {
      uri += static_cast<char>(c);
    } else {
      uri += '%';
      uri += kHex[c >> 4];
      uri += kHex[c & 15];
    }
  }
  return uri;
}

std::optional<std::string> pathFromFileUri(const std::string& uri) {
  auto lower = [](std::string s) {
    for (char& c : s) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    return s;
  };
  auto hexValue = [](char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  constexpr size_t kSchemeLength = 7;  // "file://"
  if (lower(uri.substr(0, kSchemeLength)) != "file://") return std::nullopt;
  const size_t slash = uri.find('/', kSchemeLength);
  if (slash == std::string::npos) return std::nullopt;
  const std::string host = lower(uri.substr(kSchemeLength, slash - kSchemeLength));
  if (!host.empty() && host != "localhost") return std::nullopt;
  std::string path;
  for (size_t i = slash; i < uri.size(); ++i) {
    const char c = uri[i];
    if (c == '?' || c == '#') break;  // a query or fragment is no part of the file
    if (c != '%') {
      path += c;
      continue;
    }
    const int hi = i + 2 < uri.size() ? hexValue(uri[i + 1]) : -1;
    const int lo = i + 2 < uri.size() ? hexValue(uri[i + 2]) : -1;
    if (hi < 0 || lo < 0 || (hi == 0 && lo == 0)) return std::nullopt;
    path += static_cast<char>(hi * 16 + lo);
    i += 2;
  }
  return path;
}

}  // namespace platform
