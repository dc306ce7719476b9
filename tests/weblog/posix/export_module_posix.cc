#include <dlfcn.h>

#include "tests/weblog/export_module.h"

namespace weblog_test {

void* LoadExportModule(const std::string& path, std::string* error) {
  void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (module == nullptr) *error = dlerror();
  return module;
}

void* ExportedFunction(void* module, const char* name) { return dlsym(module, name); }

}  // namespace weblog_test
