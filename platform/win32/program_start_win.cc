#include "platform/program_start.h"

#include <windows.h>
// windows.h first: shellapi.h needs its types.
#include <shellapi.h>

#include <cstdio>

#include "platform/win32/win_util.h"

namespace platform {

std::vector<std::string> programArguments(int argc, char** argv) {
  std::vector<std::string> args;
  int count = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr) {
    // Without the wide command line, the narrow one is all there is.
    for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
    return args;
  }
  for (int i = 1; i < count; ++i) args.push_back(win::narrow(wide[i]));
  LocalFree(wide);
  return args;
}

void routeStandardOutput(bool show) {
  if (!show) return;  // A GUI program's standard output already goes nowhere.
  if (!AttachConsole(ATTACH_PARENT_PROCESS) && !AllocConsole()) return;
  if (std::freopen("CONOUT$", "w", stdout) == nullptr) return;
  (void)std::freopen("CONOUT$", "w", stderr);
}

}  // namespace platform
