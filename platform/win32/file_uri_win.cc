// "file://" URIs of Windows paths, written and read by hand: shlwapi's
// UrlCreateFromPathW leaves non-ASCII characters unescaped (or escapes them
// in the ANSI code page on older systems), while the shell and browsers
// expect percent-encoded UTF-8, which is also what the other backend
// writes.
//
// C:\a b\x.txt      <-> file:///C:/a%20b/x.txt
// \\server\share\x  <-> file://server/share/x
//
// A host other than "localhost" is a UNC server here: Windows reaches it
// through its own file calls, so such a URI still names a path.

#include <optional>
#include <string>

#include "platform/file_uri.h"

namespace platform {
namespace {

bool isAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// "C:" at the start of `s`.
bool startsWithDrive(const std::string& s) {
  return s.size() >= 2 && isAsciiLetter(s[0]) && (s[1] == ':' || s[1] == '|');
}

std::string lower(std::string s) {
  for (char& c : s) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  return s;
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// `text` percent-decoded up to a query or fragment, which are no part of
// a file; false on a broken escape or an escaped NUL.
bool percentDecode(const std::string& text, std::string* out) {
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '?' || c == '#') break;
    if (c != '%') {
      *out += c;
      continue;
    }
    const int hi = i + 2 < text.size() ? hexValue(text[i + 1]) : -1;
    const int lo = i + 2 < text.size() ? hexValue(text[i + 2]) : -1;
    if (hi < 0 || lo < 0 || (hi == 0 && lo == 0)) return false;
    *out += static_cast<char>(hi * 16 + lo);
    i += 2;
  }
  return true;
}

void appendEncoded(std::string* uri, const std::string& part) {
  static const char kHex[] = "0123456789ABCDEF";
  for (const unsigned char c : part) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                       c == '-' || c == '.' || c == '_' || c == '~' || c == '/';
    if (plain) {
      *uri += static_cast<char>(c);
    } else {
      *uri += '%';
      *uri += kHex[c >> 4];
      *uri += kHex[c & 15];
    }
  }
}

}  // namespace

std::string fileUriFromPath(const std::string& path) {
  std::string p = path;
  for (char& c : p) {
    if (c == '\\') c = '/';
  }
  // The long-path prefixes are the Win32 layer's business, not part of
  // the file's name.
  if (p.rfind("//?/UNC/", 0) == 0) {
    p = "//" + p.substr(8);
  } else if (p.rfind("//?/", 0) == 0) {
    p.erase(0, 4);
  }
  std::string uri = "file://";
  if (p.rfind("//", 0) == 0) {
    // A UNC path: the server becomes the host.
    const size_t end = p.find('/', 2);
    appendEncoded(&uri, p.substr(2, end == std::string::npos ? std::string::npos : end - 2));
    if (end != std::string::npos) appendEncoded(&uri, p.substr(end));
    return uri;
  }
  if (startsWithDrive(p)) {
    // The drive's colon stays as it is, the way the shell writes it.
    uri += '/';
    uri += p[0];
    uri += ':';
    p.erase(0, 2);
  }
  appendEncoded(&uri, p);
  return uri;
}

std::optional<std::string> pathFromFileUri(const std::string& uri) {
  constexpr size_t kSchemeLength = 7;  // "file://"
  if (lower(uri.substr(0, kSchemeLength)) != "file://") return std::nullopt;
  const size_t slash = uri.find('/', kSchemeLength);
  if (slash == std::string::npos) return std::nullopt;
  std::string host = uri.substr(kSchemeLength, slash - kSchemeLength);
  if (lower(host) == "localhost") host.clear();
  std::string path;
  if (!percentDecode(uri.substr(slash), &path)) return std::nullopt;
  if (!host.empty()) {
    std::string server;
    if (!percentDecode(host, &server) || server.find('/') != std::string::npos) return std::nullopt;
    path = "//" + server + path;
  } else if (path.size() >= 3 && startsWithDrive(path.substr(1))) {
    // "/C:/x": the slash before the drive belongs to the URI, not the path;
    // "C|" is the old spelling of "C:".
    path.erase(0, 1);
    path[1] = ':';
  }
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

}  // namespace platform
