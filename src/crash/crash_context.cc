#include "crash/crash_context.h"

namespace crash {

CrashContext& CrashContext::Get() {
  // Constant-initialised: it exists before any handler can run.
  static CrashContext context;
  return context;
}

}  // namespace crash
