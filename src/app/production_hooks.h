#ifndef WEBSETUP_APP_PRODUCTION_HOOKS_H_
#define WEBSETUP_APP_PRODUCTION_HOOKS_H_

// The composition root of the shipped program: the subsystems start-up
// runs, each behind its start-up interface. Built once by main().

#include <memory>

#include "app/startup_hooks.h"

namespace app {

class ProductionServices {
 public:
  ProductionServices();
  ~ProductionServices();
  ProductionServices(const ProductionServices&) = delete;
  ProductionServices& operator=(const ProductionServices&) = delete;

  // Telemetry from CSingleUserLog (which also becomes every module's event
  // sink), the setup window, the crash and close report upload, and the
  // best drive and firewall of the system services. Valid while this
  // object lives.
  StartupHooks Hooks();

 private:
  struct Parts;
  std::unique_ptr<Parts> parts_;
};

}  // namespace app

#endif  // WEBSETUP_APP_PRODUCTION_HOOKS_H_
