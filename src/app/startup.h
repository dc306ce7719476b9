#ifndef WEBSETUP_APP_STARTUP_H_
#define WEBSETUP_APP_STARTUP_H_

#include <string>

#include "app/startup_hooks.h"

namespace app {

// The whole life of the process for `commandLine` (the arguments after the
// program name): reads the product configuration, sets up logging, picks
// the mode, keeps one setup per downloader id, runs the window and shuts
// down in order. Main thread only. Always returns 0: the exit code carries
// no information.
int RunWebsetup(const std::wstring& commandLine, const StartupHooks& hooks);

// True when start-up must refuse to run: the product configuration says
// exactly "0" for Support32System and the system is not 64-bit. Any other
// text, an empty one included, allows it.
bool ShouldRefuse32BitSystem(const std::wstring& support32System, bool is64BitSystem);

}  // namespace app

#endif  // WEBSETUP_APP_STARTUP_H_
