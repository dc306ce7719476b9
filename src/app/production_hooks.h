#ifndef WEBSETUP_APP_PRODUCTION_HOOKS_H_
#define WEBSETUP_APP_PRODUCTION_HOOKS_H_

#include "app/startup_hooks.h"

namespace app {

// The hooks of the shipped program: the defaults, with every subsystem that
// exists wired in (best drive and firewall from the system services,
// telemetry from CSingleUserLog, the install flow's events bound to it).
StartupHooks ProductionStartupHooks();

}  // namespace app

#endif  // WEBSETUP_APP_PRODUCTION_HOOKS_H_
