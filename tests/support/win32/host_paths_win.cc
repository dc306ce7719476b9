#include "support/win32/host_paths_win.h"

#include <windows.h>

#include <atomic>
#include <cctype>
#include <cstring>
#include <fstream>

#include "common/text.h"

namespace testing_support::win {

bool isDrivePath(const std::string& path) {
  return path.size() >= 3 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':' &&
         (path[2] == '\\' || path[2] == '/');
}

std::string unixPath(const std::string& path) {
  if (!isDrivePath(path)) return path;
  using ToUnix = char*(CDECL*)(LPCWSTR);
  static const auto toUnix = reinterpret_cast<ToUnix>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  if (toUnix == nullptr) return path;  // not under Wine: nothing to translate for
  std::wstring wide = common::utf8ToWide(path);
  for (wchar_t& c : wide) {
    if (c == L'/') c = L'\\';
  }
  char* unix = toUnix(wide.c_str());
  if (unix == nullptr) return path;
  std::string result = unix;
  HeapFree(GetProcessHeap(), 0, unix);
  return result;
}

std::string windowsPath(const std::string& path) {
  if (path.empty() || path[0] != '/') return path;
  std::string windows = "Z:" + path;
  for (char& c : windows) {
    if (c == '/') c = '\\';
  }
  return windows;
}

bool isHostProgram(const std::string& path) {
  std::ifstream in(common::utf8ToWide(windowsPath(path)).c_str(), std::ios::binary);
  char head[4] = {};
  in.read(head, sizeof head);
  return (in.gcount() == 4 && std::memcmp(head,
                                          "\x7f"
                                          "ELF",
                                          4) == 0) ||
         (in.gcount() >= 2 && head[0] == '#' && head[1] == '!');
}

std::string scratchPath(const std::string& tag, const std::string& suffix) {
  static std::atomic<int> counter{0};
  wchar_t temp[MAX_PATH + 1];
  const DWORD n = GetTempPathW(MAX_PATH + 1, temp);
  std::string dir = common::wideToUtf8(std::wstring(temp, n));
  for (char& c : dir) {
    if (c == '\\') c = '/';
  }
  if (!dir.empty() && dir.back() != '/') dir += '/';
  return dir + "websetup-" + tag + "-" + std::to_string(GetCurrentProcessId()) + "-" +
         std::to_string(++counter) + suffix;
}

}  // namespace testing_support::win
