#ifndef WEBSETUP_SYSTEM_PROCESSES_H_
#define WEBSETUP_SYSTEM_PROCESSES_H_

// Other processes and the product's executable: finding (and ending) the
// processes that run a file, starting the installed product, and finding
// the product's executable below its install folder. Thread-safe.

#include <cstdint>
#include <string>
#include <vector>

#include "platform/result.h"

namespace FuntionImpl {

// Finds the processes running the executable at `path`, comparing file
// names and full paths without regard to case. With `includeTemporary`,
// processes named like the file with "tmp" in place of its last three
// characters (setup.exe → setup.tmp) also match when their folder path
// contains ".tmp", and the whole list is searched; otherwise the search stops at
// the first match. Our own process never matches. With `end`, every match
// is ended at once. Returns the id of the last match, -1 when none
// matched, -2 when the process list could not be read.
int32_t FindProcessByFullPath(const std::wstring& path, bool end, bool includeTemporary);

// The OS error number behind the result of ending a process, as the
// " Kill proc: " line logs it: 0 on success, ESRCH for a process already
// gone, EPERM for one we may not end, EINVAL for a bad id, EIO otherwise.
int KillErrorNumber(platform::PlatformResult result);

// Starts the installed product. `commandLine` begins with the executable's
// full path in double quotes, optionally followed by arguments. With
// `elevated` != 0 the product starts directly, in the folder of its
// executable; otherwise it starts without the setup's rights (as the user
// on whose behalf we run as root, else detached in a session of its own).
// Returns 0 when started; -1 on failure, which is logged and reported as
// the event ("Other", "StartWindowError", error number).
int StartTargetMainExe(const std::wstring& commandLine, int elevated);

// The full path of the first file named `fileName` in the sub-folders of
// `root` (a folder path ending in '/'), searched depth first in the order
// the file system lists entries; files directly in `root` are not looked
// at. Symbolic links to folders are not followed. Empty when none.
std::wstring FindFileInSubfolders(const std::wstring& root, const std::wstring& fileName);

// Splits a command line into arguments at blanks; double quotes group
// blanks into one argument and are removed.
std::vector<std::string> SplitCommandLine(const std::string& commandLine);

// Opens `target`, an http or https address, in the person's browser
// (platform::openWebAddress): with their rights, not the setup's. Anything
// else (a file, a program, another scheme) is refused and logged. False
// when refused or when no opener could be started.
bool ShellOpen(const std::wstring& target);

}  // namespace FuntionImpl

#endif  // WEBSETUP_SYSTEM_PROCESSES_H_
