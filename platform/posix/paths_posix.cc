#include <pwd.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/paths.h"
#include "platform/posix/runtime_dir_posix.h"

namespace platform {

namespace {

std::string withoutTrailingSlash(std::string s) {
  while (s.size() > 1 && s.back() == '/') s.pop_back();
  return s;
}

// Mount points in /proc/self/mountinfo escape blanks as \040 and so on.
std::string unescapeMountPath(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 3 < s.size()) {
      out += static_cast<char>(std::strtol(s.substr(i + 1, 3).c_str(), nullptr, 8));
      i += 3;
    } else {
      out += s[i];
    }
  }
  return out;
}

// The nearest existing ancestor of `path` (or `path` itself), resolved.
std::string resolveExistingPrefix(const std::string& path) {
  std::error_code ec;
  std::filesystem::path p = std::filesystem::absolute(path.empty() ? "." : path, ec);
  if (ec) return "/";
  for (;;) {
    char buf[PATH_MAX];
    if (realpath(p.c_str(), buf) != nullptr) return buf;
    if (!p.has_parent_path() || p.parent_path() == p) return "/";
    p = p.parent_path();
  }
}

bool isUnder(const std::string& path, const std::string& dir) {
  if (dir == "/") return true;
  return path.compare(0, dir.size(), dir) == 0 && (path.size() == dir.size() || path[dir.size()] == '/');
}

}  // namespace

std::string modulePath() {
  char buf[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", buf, sizeof(buf) - 1);
  if (n <= 0) return "";
  return std::string(buf, static_cast<size_t>(n));
}

std::string runningImagePath() { return "/proc/self/exe"; }

std::string moduleDir() {
  const std::string path = modulePath();
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::optional<std::string> getEnv(const char* name) {
  const char* v = std::getenv(name);
  if (v == nullptr) return std::nullopt;
  return std::string(v);
}

std::string homeDir() {
  if (auto home = getEnv("HOME"); home && !home->empty()) return withoutTrailingSlash(*home);
  if (const passwd* pw = getpwuid(getuid()); pw != nullptr && pw->pw_dir != nullptr) return pw->pw_dir;
  return "/";
}

std::string appDataDir() {
  if (auto v = getEnv("APPDATA"); v && !v->empty()) return withoutTrailingSlash(*v);
  if (auto v = getEnv("XDG_DATA_HOME"); v && !v->empty()) return withoutTrailingSlash(*v);
  return homeDir() + "/.local/share";
}

std::string programFilesDir() {
  if (auto v = getEnv("ProgramFiles"); v && !v->empty()) return withoutTrailingSlash(*v);
  return geteuid() == 0 ? "/opt" : homeDir() + "/.local/opt";
}

std::string tempDir() {
  if (auto v = getEnv("TMPDIR"); v && !v->empty()) return withoutTrailingSlash(*v);
  return "/tmp";
}

std::string runtimeDir() { return resolveRuntimeDir(runtimeDirFactsOfProcess()); }

std::string driveRoot(const std::string& path) {
  const std::string resolved = resolveExistingPrefix(path);
  std::ifstream mounts("/proc/self/mountinfo");
  std::string line;
  std::string best = "/";
  while (std::getline(mounts, line)) {
    // Fields: id parent major:minor root mount-point ...
    std::istringstream fields(line);
    std::string id, parent, dev, root, mountPoint;
    if (!(fields >> id >> parent >> dev >> root >> mountPoint)) continue;
    mountPoint = unescapeMountPath(mountPoint);
    if (isUnder(resolved, mountPoint) && mountPoint.size() > best.size()) best = mountPoint;
  }
  return best == "/" ? best : best + "/";
}

PlatformResult freeSpace(const std::string& path, uint64_t* bytes) {
  struct statvfs st{};
  if (statvfs(path.c_str(), &st) != 0) return resultFromErrno(errno);
  *bytes = static_cast<uint64_t>(st.f_bavail) * static_cast<uint64_t>(st.f_frsize);
  return PlatformResult::kOk;
}

PlatformResult createDirectoryChain(const std::string& path) {
  if (path.empty()) return PlatformResult::kInvalidArgument;
  PlatformResult last = PlatformResult::kOk;
  auto makeOne = [&last](const std::string& prefix) {
    if (prefix.empty() || mkdir(prefix.c_str(), 0755) == 0 || errno == EEXIST) return true;
    last = resultFromErrno(errno);
    return last != PlatformResult::kDiskFull;
  };
  for (size_t i = 1; i < path.size(); ++i) {
    if (path[i] == '/' && !makeOne(path.substr(0, i))) return PlatformResult::kDiskFull;
  }
  if (!makeOne(path)) return PlatformResult::kDiskFull;
  struct stat st{};
  if (stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return PlatformResult::kOk;
  return last == PlatformResult::kOk ? PlatformResult::kIoError : last;
}

bool pathExists(const std::string& path) {
  struct stat st{};
  return stat(path.c_str(), &st) == 0;
}

PlatformResult makeExecutable(const std::string& path) {
  struct stat st{};
  if (stat(path.c_str(), &st) != 0) return resultFromErrno(errno);
  // Only the owner gains the right: the cache is the user's.
  if (chmod(path.c_str(), (st.st_mode & 07777) | S_IXUSR) != 0) return resultFromErrno(errno);
  return PlatformResult::kOk;
}

namespace {

// An ancestor of a private folder: nobody but root and us may rename or
// replace what lies in it, unless it is sticky (then only owners may).
bool trustedAncestor(const struct stat& st) {
  if (!S_ISDIR(st.st_mode)) return false;
  if (st.st_uid != 0 && st.st_uid != geteuid()) return false;
  return (st.st_mode & (S_IWGRP | S_IWOTH)) == 0 || (st.st_mode & S_ISVTX) != 0;
}

bool ownPrivate(const struct stat& st) {
  return S_ISDIR(st.st_mode) && st.st_uid == geteuid() && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

}  // namespace

PlatformResult ensurePrivateFolder(const std::string& path) {
  const std::string folder = withoutTrailingSlash(path);
  if (folder.empty() || folder[0] != '/' || folder == "/") return PlatformResult::kInvalidArgument;
  const std::string parent = folder.substr(0, std::max<size_t>(1, folder.rfind('/')));
  const PlatformResult made = createDirectoryChain(parent);
  if (made != PlatformResult::kOk) return made;
  // The walk follows links as the kernel will when the folder is used.
  for (size_t at = 0; at != std::string::npos; at = folder.find('/', at + 1)) {
    const std::string prefix = at == 0 ? "/" : folder.substr(0, at);
    struct stat st {};
    if (stat(prefix.c_str(), &st) != 0 || !trustedAncestor(st)) {
      return PlatformResult::kAccessDenied;
    }
  }
  struct stat st {};
  if (lstat(folder.c_str(), &st) == 0 && !ownPrivate(st)) {
    const std::string aside = folder + ".untrusted-" + std::to_string(getpid()) + "-" +
                              std::to_string(static_cast<long long>(time(nullptr)));
    if (rename(folder.c_str(), aside.c_str()) != 0) return PlatformResult::kAccessDenied;
  }
  if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return resultFromErrno(errno);
  if (lstat(folder.c_str(), &st) != 0 || !ownPrivate(st)) return PlatformResult::kAccessDenied;
  if ((st.st_mode & 0077) != 0 && chmod(folder.c_str(), 0700) != 0) return resultFromErrno(errno);
  return PlatformResult::kOk;
}

bool volumeRunsPrograms(const std::string& path) {
  struct statvfs vfs {};
  if (statvfs(resolveExistingPrefix(path).c_str(), &vfs) != 0) return false;
  if ((vfs.f_flag & ST_NOEXEC) != 0) return false;
  return geteuid() != 0 || (vfs.f_flag & ST_NOSUID) == 0;
}

PlatformResult makeUniqueFolder(const std::string& parent, const std::string& prefix,
                                std::string* out) {
  std::string pattern = withoutTrailingSlash(parent) + "/" + prefix + "XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) return resultFromErrno(errno);
  *out = pattern;
  return PlatformResult::kOk;
}

std::wstring pathForDisplay(const std::wstring& path) { return path; }

std::wstring pathFromDisplay(const std::wstring& text) { return text; }

}  // namespace platform
