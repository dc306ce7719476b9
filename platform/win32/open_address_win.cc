// Web addresses go to the shell's "open" (the default browser). An
// elevated setup asks the desktop's shell instead, so the browser runs
// with the person's rights and not with the administrator's.

#include <objbase.h>
#include <shellapi.h>
#include <windows.h>

#include <string>
#include <system_error>
#include <thread>

#include "common/log.h"
#include "platform/open_address.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/win32/desktop_shell_start_win.h"
#include "platform/win32/win_util.h"

namespace platform {
namespace {

void openOnThisThread(const std::wstring& address) {
  if (runsElevated()) {
    win::DesktopShellFailure failure;
    if (win::startThroughDesktopShell(address, L"", L"", &failure)) return;
    LOG(INFO) << " Open through the desktop's shell failed at " << failure.step << " (0x"
              << std::hex << static_cast<unsigned long>(failure.code) << std::dec
              << "); opening it ourselves";
  }
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  const HINSTANCE result =
      ShellExecuteW(nullptr, L"open", address.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
  // ShellExecuteW's answer is an error number below 33, a handle above.
  if (reinterpret_cast<INT_PTR>(result) <= 32) {
    LOG(INFO) << " Open failed (" << reinterpret_cast<INT_PTR>(result) << ")";
  }
  if (SUCCEEDED(com)) CoUninitialize();
}

}  // namespace

bool openWebAddress(const std::string& address) {
  if (!isWebAddress(address)) {
    LOG(INFO) << " Open refused: not a web address";
    return false;
  }
  const std::string opener = getEnv("WEBSETUP_OPEN_COMMAND").value_or("");
  if (!opener.empty()) {
    SpawnOptions options;
    options.argv = {opener, address};
    options.detach = true;
    int pid = 0, error = 0;
    if (spawnProcess(options, &pid, &error) == PlatformResult::kOk) return true;
    LOG(INFO) << " Open failed: " << opener << " (" << error << ")";
    return false;
  }
  // The shell may take seconds to bring a browser up, and a click asked
  // for it: a thread of its own, which nothing waits for.
  try {
    std::thread([wide = win::widen(address)] { openOnThisThread(wide); }).detach();
  } catch (const std::system_error&) {
    return false;
  }
  return true;
}

}  // namespace platform
