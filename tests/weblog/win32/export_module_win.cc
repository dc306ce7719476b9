#include <windows.h>

#include "common/text.h"
#include "support/win32/host_paths_win.h"
#include "tests/weblog/export_module.h"

namespace weblog_test {

void* LoadExportModule(const std::string& path, std::string* error) {
  // The build names its files by their Unix paths.
  const std::wstring wide = common::utf8ToWide(testing_support::win::windowsPath(path));
  HMODULE module = LoadLibraryW(wide.c_str());
  if (module == nullptr) *error = "LoadLibraryW error " + std::to_string(GetLastError());
  return module;
}

void* ExportedFunction(void* module, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module), name));
}

}  // namespace weblog_test
