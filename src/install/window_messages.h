#ifndef WEBSETUP_INSTALL_WINDOW_MESSAGES_H_
#define WEBSETUP_INSTALL_WINDOW_MESSAGES_H_

// The custom messages worker threads post to the setup window (WM_USER +
// 1919 ... 1928). The install flow owns them because it posts most; the
// window handles them. The numbers reach logs and the message boxes'
// owners, so they never change.

#include <cstdint>

namespace install {

inline constexpr uint32_t kWmUser = 0x0400;

inline constexpr uint32_t MSG_CLEAR_DATA = kWmUser + 1919;          // 0x0B7F
inline constexpr uint32_t MSG_DOWNLOAD_FAILED = kWmUser + 1920;     // 0x0B80, wParam result
inline constexpr uint32_t MSG_PACKAGE_DOWNLOADED = kWmUser + 1921;  // 0x0B81
inline constexpr uint32_t MSG_VERIFY_STARTED = kWmUser + 1922;      // 0x0B82
inline constexpr uint32_t MSG_INSTALLER_STARTED = kWmUser + 1923;   // 0x0B83
inline constexpr uint32_t MSG_INSTALL_TIMEOUT = kWmUser + 1924;     // 0x0B84
inline constexpr uint32_t MSG_INSTALL_COMPLETED = kWmUser + 1925;   // 0x0B85
inline constexpr uint32_t MSG_VERIFY_FAILED = kWmUser + 1926;       // 0x0B86
inline constexpr uint32_t MSG_BANNERS_READY = kWmUser + 1928;       // 0x0B88

// wParam of MSG_DOWNLOAD_FAILED when no download address was found.
inline constexpr uintptr_t kNoUrlResult = 14;

}  // namespace install

#endif  // WEBSETUP_INSTALL_WINDOW_MESSAGES_H_
