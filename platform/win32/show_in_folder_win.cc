// "Show in folder": the shell opens the file's folder with the file
// selected; when the shell cannot name the file, Explorer is started with
// "/select," instead.

#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>
#include <windows.h>

#include <string>
#include <system_error>
#include <thread>

#include "platform/show_in_folder.h"
#include "platform/win32/win_util.h"

namespace platform {
namespace {

bool selectWithShell(const std::wstring& path) {
  PIDLIST_ABSOLUTE item = nullptr;
  SFGAOF attributes = 0;
  if (FAILED(SHParseDisplayName(path.c_str(), nullptr, &item, 0, &attributes))) return false;
  const HRESULT hr = SHOpenFolderAndSelectItems(item, 0, nullptr, 0);
  CoTaskMemFree(item);
  return SUCCEEDED(hr);
}

// Explorer reads its arguments its own way, not as CommandLineToArgvW
// does: the path is one quoted run, which a quote inside it would end, so
// that the rest would reach Explorer as switches of its own. No Windows
// file name holds a quote, so such a path is refused, not escaped.
void selectWithExplorer(const std::wstring& path) {
  if (path.find(L'"') != std::wstring::npos) return;
  const std::wstring arguments = L"/select,\"" + path + L"\"";
  ShellExecuteW(nullptr, L"open", L"explorer.exe", arguments.c_str(), nullptr, SW_SHOWNORMAL);
}

void show(const std::wstring& path) {
  // The shell's namespace needs COM on this thread.
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  if (!SUCCEEDED(com) || !selectWithShell(path)) selectWithExplorer(path);
  if (SUCCEEDED(com)) CoUninitialize();
}

}  // namespace

// Each request on a thread of its own: asked for by a click, so rare, and
// the shell may take seconds to bring Explorer up. Nothing waits for the
// thread; at exit the process ends it.
void showItemInFolder(const std::string& path) {
  std::wstring full = win::fullNativePath(win::widen(path));
  try {
    std::thread([full = std::move(full)] { show(full); }).detach();
  } catch (const std::system_error&) {
    // No thread: the folder is simply not shown.
  }
}

}  // namespace platform
