#include "platform/posix/runtime_dir_posix.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace platform {
namespace {

std::optional<std::string> env(const char* name) {
  const char* v = std::getenv(name);
  if (v == nullptr || *v == '\0') return std::nullopt;
  return std::string(v);
}

std::string withoutTrailingSlash(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

std::optional<uid_t> parseUid(const std::optional<std::string>& text) {
  if (!text) return std::nullopt;
  char* end = nullptr;
  errno = 0;
  const unsigned long long v = std::strtoull(text->c_str(), &end, 10);
  if (errno != 0 || end == text->c_str() || *end != '\0' || (*text)[0] == '-' ||
      v > static_cast<unsigned long long>(static_cast<uid_t>(-1) - 1)) {
    return std::nullopt;
  }
  return static_cast<uid_t>(v);
}

// True when `path` is a folder (not a link to one) owned by `owner` that
// nobody else may put anything into; one of this process's user is left
// 0700. With `make`, the folder is ours to make: it is created when
// missing, and also taken back from looser access bits.
bool privateFolder(const std::string& path, uid_t owner, bool make) {
  if (make && mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return false;
  const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st {};
  bool ok = fstat(fd, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == owner;
  // What others could write into a folder they were given may be waiting
  // in it; a folder they could only read is merely closed.
  if (ok && !make && (st.st_mode & 022) != 0) ok = false;
  if (ok && (st.st_mode & 077) != 0 && (make || st.st_uid == geteuid())) ok = fchmod(fd, 0700) == 0;
  close(fd);
  return ok;
}

// The owner of the folder holding `path`, when it is not this process's
// user and this process may give files away (root).
bool foreignOwner(const std::string& path, uid_t* uid, gid_t* gid) {
  if (geteuid() != 0) return false;
  const size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  struct stat st {};
  if (lstat(folder.c_str(), &st) != 0 || st.st_uid == 0) return false;
  *uid = st.st_uid;
  *gid = st.st_gid;
  return true;
}

}  // namespace

RuntimeDirFacts runtimeDirFactsOfProcess() {
  RuntimeDirFacts facts;
  facts.xdgRuntimeDir = env("XDG_RUNTIME_DIR");
  facts.euid = geteuid();
  facts.invokingUid = parseUid(env("SUDO_UID"));
  if (!facts.invokingUid) facts.invokingUid = parseUid(env("PKEXEC_UID"));
  if (auto root = env("WEBSETUP_RUN_ROOT")) facts.runRoot = withoutTrailingSlash(*root);
  if (auto tmp = env("TMPDIR")) facts.tempDir = withoutTrailingSlash(*tmp);
  return facts;
}

std::string resolveRuntimeDir(const RuntimeDirFacts& facts) {
  const bool root = facts.euid == 0;
  const uid_t user = root && facts.invokingUid && *facts.invokingUid != 0 ? *facts.invokingUid : facts.euid;
  if (facts.xdgRuntimeDir) {
    const std::string dir = withoutTrailingSlash(*facts.xdgRuntimeDir);
    // sudo -E keeps the user's own folder: root may use it as that user's.
    if (privateFolder(dir, facts.euid, false) || (user != facts.euid && privateFolder(dir, user, false))) {
      return dir;
    }
  }
  if (user != 0) {
    const std::string dir = facts.runRoot + "/user/" + std::to_string(user);
    if (privateFolder(dir, user, false)) return dir;
  }
  if (root) {
    // The run root exists on a real system; an overridden one may not yet.
    (void)mkdir(facts.runRoot.c_str(), 0755);
    const std::string dir = facts.runRoot + "/websetup";
    return privateFolder(dir, 0, true) ? dir : std::string();
  }
  const std::string dir = facts.tempDir + "/websetup-" + std::to_string(facts.euid);
  return privateFolder(dir, facts.euid, true) ? dir : std::string();
}

int openRuntimeFile(const std::string& path) {
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return -1;
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    errno = EINVAL;
    return -1;
  }
  uid_t uid;
  gid_t gid;
  if (foreignOwner(path, &uid, &gid) && st.st_uid != uid) (void)!fchown(fd, uid, gid);
  return fd;
}

void adoptRuntimeNode(const std::string& path) {
  uid_t uid;
  gid_t gid;
  if (foreignOwner(path, &uid, &gid)) (void)!lchown(path.c_str(), uid, gid);
  (void)chmod(path.c_str(), 0600);
}

}  // namespace platform
