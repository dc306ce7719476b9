#include <windows.h>

#include "common/text.h"
#include "sample_installer/sample_installer_support.h"

namespace sample_installer_test {

// The installer writes the 64-bit view, as platform/registry.h does for
// every key without a WOW6432Node step.
void removeRegistryKey(const std::string& key) {
  HKEY parent = nullptr;
  const std::wstring wide = common::utf8ToWide(key);
  const size_t cut = wide.rfind(L'\\');
  if (cut == std::wstring::npos) return;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, wide.substr(0, cut).c_str(), 0,
                    KEY_ALL_ACCESS | KEY_WOW64_64KEY, &parent) != ERROR_SUCCESS) {
    return;
  }
  RegDeleteTreeW(parent, wide.substr(cut + 1).c_str());
  RegDeleteKeyExW(parent, wide.substr(cut + 1).c_str(), KEY_WOW64_64KEY, 0);
  RegCloseKey(parent);
}

}  // namespace sample_installer_test
