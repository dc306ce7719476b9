// The C entry points installer scripts call: in the shared library shipped
// beside the program (which they dlopen; glibc will not dlopen an
// executable), and in the program itself, which exports them too.

#include <new>
#include <thread>

#include "weblog/iweblog.h"
#include "weblog/web_log.h"

extern "C" void DestroyExportObj(IWebLog* obj);

namespace {

constexpr int kIdentityAttempts = 3;

// Runs on the thread NSISLog starts, with the values of that call. The
// thread owns `log` and destroys it when done.
void SendOperationLog(IWebLog* log, int opId, int softwareId, int languageId, int siteId) {
  struct Owner {
    IWebLog* log;
    ~Owner() { DestroyExportObj(log); }
  } owner{log};
  const char* guid = nullptr;
  const char* userId = nullptr;
  bool identified = false;
  for (int i = 0; i < kIdentityAttempts && !identified; ++i) {
    log->GetUserIdentity(&guid, &userId);
    identified = guid != nullptr || userId != nullptr;
  }
  if (!identified) return;
  log->AddUserLog(opId, 1, "", softwareId, languageId, siteId, "", "", 0, 0);
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) IWebLog* CreateExportObj() {
  // The caller is C (or a script's plug-in): an exception escaping here
  // would end its process, so every failure is a null object.
  try {
    weblog::WebLogOptions options;
    options.endpoints = weblog::EndpointsFromServices();
    return new weblog::WebLog(std::move(options));
  } catch (...) {
    return nullptr;
  }
}

__attribute__((visibility("default"))) void DestroyExportObj(IWebLog* obj) {
  delete static_cast<weblog::WebLog*>(obj);
}

__attribute__((visibility("default"))) int NSISLog(int opId, int softwareId, int languageId,
                                                   int siteId) {
  // The object belongs to the thread, so the calling script may end the
  // process at any time without the thread being left on a freed object.
  IWebLog* log = CreateExportObj();
  if (log == nullptr) return 0;
  std::thread(SendOperationLog, log, opId, softwareId, languageId, siteId).detach();
  return 0;
}

}  // extern "C"
