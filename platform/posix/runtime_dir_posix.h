#ifndef WEBSETUP_PLATFORM_POSIX_RUNTIME_DIR_POSIX_H_
#define WEBSETUP_PLATFORM_POSIX_RUNTIME_DIR_POSIX_H_

// The private folder of the single-instance lock files, the file-write
// lock and the activation socket. A setup often runs elevated (sudo,
// pkexec), and those drop XDG_RUNTIME_DIR; in a world-writable /tmp another
// user could hold the lock or swap the socket, and a user run and an
// elevated run would not see each other. So the folder is always one that
// only its owner can enter (0700), opened without following a symbolic
// link, and the files in it are 0600.
//
// Which folder, first that qualifies:
//   1. $XDG_RUNTIME_DIR, when it is a folder of this user (or, as root, of
//      the invoking user) that nobody else may write to; read access of
//      others is taken away (0700);
//   2. <run root>/user/<uid> of the invoking user (SUDO_UID or PKEXEC_UID
//      when running as root, else this user), made by the login manager;
//   3. as root: <run root>/websetup, made here;
//   4. otherwise: <temp>/websetup-<uid>, made here.
// The run root is /run; $WEBSETUP_RUN_ROOT moves it (tests, which must
// never write to /run). A folder of the wrong owner, that others may write
// to, or that is a symbolic link, is skipped; the folders made here are
// always 0700.
//
// Thread-safe; nothing is cached, so a changed environment counts at once.

#include <sys/types.h>

#include <optional>
#include <string>

namespace platform {

// What the choice depends on.
struct RuntimeDirFacts {
  std::optional<std::string> xdgRuntimeDir;
  uid_t euid = 0;
  // The user an elevated run acts for; only read when euid is 0.
  std::optional<uid_t> invokingUid;
  std::string runRoot = "/run";
  std::string tempDir = "/tmp";
};

// The facts of this process (environment, effective user).
RuntimeDirFacts runtimeDirFactsOfProcess();

// The folder chosen for `facts`, made when it is one of ours to make. No
// trailing '/'. Empty when no folder qualifies: then nothing may be put
// anywhere.
std::string resolveRuntimeDir(const RuntimeDirFacts& facts);

// Opens (creating it 0600) the file `path` in a runtime folder for reading
// and writing, without following a symbolic link, and only when it is a
// regular file. Run as root in another user's folder, the file is given to
// that folder's owner, so the user's own runs can open it too. -1 with
// errno set on failure.
int openRuntimeFile(const std::string& path);

// Makes a node just created in a runtime folder (a socket after bind)
// 0600 and, run as root in another user's folder, that user's.
void adoptRuntimeNode(const std::string& path);

}  // namespace platform

#endif  // WEBSETUP_PLATFORM_POSIX_RUNTIME_DIR_POSIX_H_
