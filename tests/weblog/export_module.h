#ifndef WEBSETUP_TESTS_WEBLOG_EXPORT_MODULE_H_
#define WEBSETUP_TESTS_WEBLOG_EXPORT_MODULE_H_

// The web-log module shipped beside the program, loaded the way an
// installer script loads it: dlopen on Linux, LoadLibraryW on Windows.

#include <string>

namespace weblog_test {

// Loads the module at `path` (a path of the build) and keeps it loaded for
// the rest of the process: a thread NSISLog starts may outlive the call.
// Null on failure, with the system's reason in *error.
void* LoadExportModule(const std::string& path, std::string* error);

// The exported function `name` of `module`; null when it has none.
void* ExportedFunction(void* module, const char* name);

}  // namespace weblog_test

#endif  // WEBSETUP_TESTS_WEBLOG_EXPORT_MODULE_H_
