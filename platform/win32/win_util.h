#ifndef WEBSETUP_PLATFORM_WIN32_WIN_UTIL_H_
#define WEBSETUP_PLATFORM_WIN32_WIN_UTIL_H_

// What the Win32 files of the platform layer share: text in the system's
// UTF-16, error codes as platform results, and a handle that closes itself.
// Nothing outside platform/win32/ includes this header.

#include <windows.h>

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/text.h"
#include "platform/result.h"

namespace platform::win {

inline std::wstring widen(std::string_view utf8) { return common::utf8ToWide(utf8); }
inline std::string narrow(std::wstring_view wide) { return common::wideToUtf8(wide); }

// `path` as another process or the shell must be given it: whole, since
// their current folder is not ours, and with the system's own separators.
inline std::wstring fullNativePath(std::wstring path) {
  for (wchar_t& c : path) {
    if (c == L'/') c = L'\\';
  }
  const DWORD needed = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (needed == 0) return path;
  std::wstring full(needed, L'\0');
  const DWORD written = GetFullPathNameW(path.c_str(), needed, full.data(), nullptr);
  if (written == 0 || written >= needed) return path;
  full.resize(written);
  return full;
}

// Maps a GetLastError() code onto the nearest result (result_win.cc).
PlatformResult resultFromLastError(DWORD code);
inline PlatformResult lastResult() { return resultFromLastError(GetLastError()); }

// A path the system gave, as the platform layer hands paths out: '/'
// between names (every Win32 file call takes either), and without the
// "\\?\" prefix when the path is short enough to work without it. A longer
// one, or one of a volume without a drive letter, keeps the prefix and its
// backslashes, which it needs.
inline std::string outwardPath(std::wstring path) {
  if (path.rfind(L"\\\\?\\UNC\\", 0) == 0) {
    std::wstring shorter = L"\\\\" + path.substr(8);
    if (shorter.size() >= MAX_PATH) return narrow(path);
    path = std::move(shorter);
  } else if (path.rfind(L"\\\\?\\", 0) == 0) {
    const bool driveLetter = path.size() >= 6 && path[5] == L':';
    if (!driveLetter || path.size() - 4 >= MAX_PATH) return narrow(path);
    path.erase(0, 4);
  }
  for (wchar_t& c : path) {
    if (c == L'\\') c = L'/';
  }
  return narrow(path);
}

// What GetTokenInformation says of `token` for `what`; empty when it
// cannot be read.
inline std::vector<BYTE> tokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS what) {
  DWORD size = 0;
  GetTokenInformation(token, what, nullptr, 0, &size);
  std::vector<BYTE> bytes(size);
  if (size == 0 || !GetTokenInformation(token, what, bytes.data(), size, &size)) bytes.clear();
  return bytes;
}

// The bytes of one TOKEN_INFORMATION_CLASS of this process's token (its
// user, its default owner); empty when the token cannot be read.
inline std::vector<BYTE> processTokenInformation(TOKEN_INFORMATION_CLASS what) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return {};
  std::vector<BYTE> bytes = tokenInformation(token, what);
  CloseHandle(token);
  return bytes;
}

// Appends `arg` to a command line, written through `put(wchar_t)`, so that
// CommandLineToArgvW and the C runtime read it back as exactly one element,
// unchanged: always quoted (an empty element still counts, and no space or
// tab splits it); a run of backslashes is doubled where a quote follows it
// (an embedded quote, which is then escaped, or the closing one) and kept
// as it is elsewhere. No element can therefore end its own quotes and add a
// switch. Not for the program name, which the parsers read without
// escapes. Allocates nothing, so the crash handler may use it too.
template <typename Put>
void appendQuotedArgument(std::wstring_view arg, Put&& put) {
  put(L'"');
  size_t backslashes = 0;
  for (const wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    const size_t escapes = c == L'"' ? 2 * backslashes + 1 : backslashes;
    for (size_t i = 0; i < escapes; ++i) put(L'\\');
    put(c);
    backslashes = 0;
  }
  for (size_t i = 0; i < 2 * backslashes; ++i) put(L'\\');
  put(L'"');
}

// Owns a kernel handle; both null and INVALID_HANDLE_VALUE mean "none".
class UniqueHandle {
 public:
  UniqueHandle() = default;
  explicit UniqueHandle(HANDLE h) : h_(h) {}
  ~UniqueHandle() { reset(); }
  UniqueHandle(UniqueHandle&& other) noexcept : h_(other.release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;

  HANDLE get() const { return h_; }
  bool valid() const { return h_ != nullptr && h_ != INVALID_HANDLE_VALUE; }
  HANDLE release() {
    HANDLE h = h_;
    h_ = nullptr;
    return h;
  }
  void reset(HANDLE h = nullptr) {
    if (valid()) CloseHandle(h_);
    h_ = h;
  }

 private:
  HANDLE h_ = nullptr;
};

}  // namespace platform::win

#endif  // WEBSETUP_PLATFORM_WIN32_WIN_UTIL_H_
