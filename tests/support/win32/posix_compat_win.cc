#include "support/win32/posix_compat_win.h"

#include <windows.h>

#include <cstdlib>
#include <string>

#include "common/text.h"

extern "C" int setenv(const char* name, const char* value, int overwrite) {
  if (name == nullptr || *name == '\0' || value == nullptr) return -1;
  if (!overwrite && std::getenv(name) != nullptr) return 0;
  const std::wstring wname = common::utf8ToWide(name);
  const std::wstring wvalue = common::utf8ToWide(value);
  // The C runtime drops a variable set to "" from its copy; Windows keeps
  // it, and the code under test asks Windows.
  if (_wputenv_s(wname.c_str(), wvalue.c_str()) != 0) return -1;
  return SetEnvironmentVariableW(wname.c_str(), wvalue.c_str()) ? 0 : -1;
}

extern "C" int unsetenv(const char* name) {
  if (name == nullptr || *name == '\0') return -1;
  const std::wstring wname = common::utf8ToWide(name);
  _wputenv_s(wname.c_str(), L"");
  SetEnvironmentVariableW(wname.c_str(), nullptr);
  return 0;
}
