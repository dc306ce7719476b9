#ifndef WEBSETUP_PLATFORM_PATHS_H_
#define WEBSETUP_PLATFORM_PATHS_H_

// Files, folders and volumes. Paths are UTF-8 with '/' separators.
// All functions are thread-safe.

#include <cstdint>
#include <optional>
#include <string>

#include "platform/result.h"

namespace platform {

// Full path of the running executable (/proc/self/exe). Empty on failure.
std::string modulePath();

// A path that opens the file this process runs from, even after its name
// was given to another file: /proc/self/exe on Linux; the module's path on
// Windows, where a running program's file cannot be replaced. For a
// program that reads itself (an installer's appended payload).
std::string runningImagePath();

// Folder of the running executable, ending in '/'. Empty on failure.
std::string moduleDir();

// The value of environment variable `name`, or nullopt when it is unset.
std::optional<std::string> getEnv(const char* name);

// The user's home folder ($HOME, else the password database).
std::string homeDir();

// The roaming application-data folder: $APPDATA if set, else
// $XDG_DATA_HOME, else ~/.local/share. No trailing '/'.
std::string appDataDir();

// The program files folder: $ProgramFiles if set, else /opt as root and
// ~/.local/opt otherwise. No trailing '/'.
std::string programFilesDir();

// The temporary folder: $TMPDIR or /tmp. No trailing '/'.
std::string tempDir();

// The private folder where this user's lock files and sockets live (on
// Linux the choice of platform/posix/runtime_dir_posix.h; Windows names its
// mutexes in the kernel and needs none, so there it is the user's local
// application-data folder). No trailing '/'; empty when none is safe.
std::string runtimeDir();

// The "drive root" of `path`: the mount point of the file system that holds
// it (or would hold it, for a path that does not exist yet), ending in '/'.
// "/" when nothing better is known.
std::string driveRoot(const std::string& path);

// Stores in *bytes the space free to this user on the volume holding `path`.
// Returns kNotFound if `path` does not exist.
[[nodiscard]] PlatformResult freeSpace(const std::string& path, uint64_t* bytes);

// Creates `path` and every missing parent. Walks the path and creates the
// prefix ending at every '/', then the whole path; other failures (such as
// "already exists") are ignored, but a full disk stops the walk at once and
// returns kDiskFull. Returns kOk when the folder exists afterwards, else the
// result of the last failing step.
[[nodiscard]] PlatformResult createDirectoryChain(const std::string& path);

// True when `path` names an existing file or folder.
bool pathExists(const std::string& path);

// Lets the owner run the file at `path` (a downloaded program carries no
// such mark, as a Windows file needs none). kOk when it can be run.
[[nodiscard]] PlatformResult makeExecutable(const std::string& path);

// Makes `path` a folder that only this user may change, for files that are
// checked and then run: missing folders are made (the last one 0700); an
// existing last folder that is a link, belongs to another user or that
// others may write to is moved aside and made anew, since what lies in it
// may have been put there by them. Every folder above must be
// root's or ours, and writable by others only when sticky (as /tmp).
// kAccessDenied when that cannot be had.
[[nodiscard]] PlatformResult ensurePrivateFolder(const std::string& path);

// True when programs may be started from the volume of `path` (not mounted
// noexec; for a root run, not nosuid either, since a setup that runs
// elevated may start programs that expect their rights).
bool volumeRunsPrograms(const std::string& path);

// Makes a new folder below `parent` named `prefix` plus a unique tail,
// 0700, and stores its path in *out.
[[nodiscard]] PlatformResult makeUniqueFolder(const std::string& parent, const std::string& prefix,
                                              std::string* out);

// A path as this system shows it to a person, and what a person typed as
// a path the program's own way. The program writes '/' everywhere; on
// Windows people read and type '\\' ("C:\\Program Files"), and both turn
// into the program's form. Elsewhere both return the text unchanged.
std::wstring pathForDisplay(const std::wstring& path);
std::wstring pathFromDisplay(const std::wstring& text);

}  // namespace platform

#endif  // WEBSETUP_PLATFORM_PATHS_H_
