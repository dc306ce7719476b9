#ifndef WEBSETUP_TESTS_SUPPORT_WIN32_POSIX_COMPAT_WIN_H_
#define WEBSETUP_TESTS_SUPPORT_WIN32_POSIX_COMPAT_WIN_H_

// The POSIX environment calls the shared tests set their variables with,
// which the Windows C runtime lacks. Read into every Windows test source
// (tests/CMakeLists.txt) so the shared files need no system switches for
// them. Both the C runtime's copy and the process's own environment
// (GetEnvironmentVariableW) change.

#ifdef __cplusplus
extern "C" {
#endif

int setenv(const char* name, const char* value, int overwrite);
int unsetenv(const char* name);

#ifdef __cplusplus
}
#endif

#endif  // WEBSETUP_TESTS_SUPPORT_WIN32_POSIX_COMPAT_WIN_H_
