#include "platform/registry.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cwctype>
#include <functional>
#include <string>
#include <thread>

#include "common/text.h"

namespace platform {
namespace {

constexpr char kMagic[] = "websetup-registry 1\n";
constexpr char kValuesFile[] = "@values";
constexpr char kLockFile[] = "@lock";
constexpr char kCorruptFile[] = "@values.corrupt";

struct Entry {
  std::string name;
  RegistryValue value;
};

std::string hiveFolder(RegistryHive hive) {
  return hive == RegistryHive::kLocalMachine ? "HKLM" : "HKCU";
}

std::string foldCase(const std::string& text) {
  std::wstring wide = common::utf8ToWide(text);
  for (auto& c : wide) c = static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
  return common::wideToUtf8(wide);
}

// The folder of `key`, or empty when the key path is unusable. Steps are
// case-folded; a step beginning with '@' gets another one so it can never
// be taken for one of the key's own files.
std::string keyFolder(RegistryHive hive, const std::string& key) {
  std::string path = registryRoot() + "/" + hiveFolder(hive);
  std::string step;
  auto flush = [&]() -> bool {
    if (step.empty()) return true;
    if (step == "." || step == "..") return false;
    std::string folded = foldCase(step);
    step.clear();
    if (folded == "wow6432node") return true;
    if (folded[0] == '@') folded.insert(folded.begin(), '@');
    path += "/" + folded;
    return true;
  };
  for (char c : key) {
    if (c == '\\' || c == '/') {
      if (!flush()) return {};
    } else if (c == '\0') {
      return {};
    } else {
      step += c;
    }
  }
  if (!flush()) return {};
  return path;
}

bool makeFolders(const std::string& path) {
  for (size_t pos = 1; pos <= path.size(); ++pos) {
    if (pos == path.size() || path[pos] == '/') {
      const std::string prefix = path.substr(0, pos);
      if (mkdir(prefix.c_str(), 0755) != 0 && errno != EEXIST) return false;
    }
  }
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

uint64_t fnv1a(const std::string& data) {
  uint64_t h = 1469598103934665603ull;
  for (unsigned char c : data) {
    h ^= c;
    h *= 1099511628211ull;
  }
  return h;
}

std::string encodeData(const RegistryValue& v) {
  switch (v.type) {
    case RegistryType::kDword:
      return std::to_string(v.number);
    case RegistryType::kMultiString: {
      std::string data;
      for (const auto& t : v.texts) {
        data += t;
        data += '\0';
      }
      return data;
    }
    case RegistryType::kString:
      break;
  }
  return v.text;
}

bool decodeData(int type, const std::string& data, RegistryValue* v) {
  switch (type) {
    case static_cast<int>(RegistryType::kString):
      v->type = RegistryType::kString;
      v->text = data;
      return true;
    case static_cast<int>(RegistryType::kDword): {
      if (data.empty() || data.size() > 10) return false;
      uint64_t n = 0;
      for (char c : data) {
        if (c < '0' || c > '9') return false;
        n = n * 10 + static_cast<uint64_t>(c - '0');
      }
      if (n > 0xffffffffull) return false;
      v->type = RegistryType::kDword;
      v->number = static_cast<uint32_t>(n);
      return true;
    }
    case static_cast<int>(RegistryType::kMultiString): {
      v->type = RegistryType::kMultiString;
      v->texts.clear();
      size_t start = 0;
      for (size_t i = 0; i < data.size(); ++i) {
        if (data[i] == '\0') {
          v->texts.push_back(data.substr(start, i - start));
          start = i + 1;
        }
      }
      return start == data.size();
    }
    default:
      return false;
  }
}

std::string serialize(const std::vector<Entry>& entries) {
  std::string body = kMagic;
  for (const auto& e : entries) {
    const std::string data = encodeData(e.value);
    body += "v " + std::to_string(static_cast<int>(e.value.type)) + " " +
            std::to_string(e.name.size()) + " " + std::to_string(data.size()) + "\n";
    body += e.name;
    body += data;
    body += '\n';
  }
  char tail[40];
  std::snprintf(tail, sizeof(tail), "end %016llx\n", static_cast<unsigned long long>(fnv1a(body)));
  return body + tail;
}

// Parses a values file. False when anything about it is off: a torn or
// hand-edited file must not be half-believed.
bool parse(const std::string& file, std::vector<Entry>* entries) {
  entries->clear();
  const size_t magicLen = sizeof(kMagic) - 1;
  if (file.compare(0, magicLen, kMagic) != 0) return false;
  size_t pos = magicLen;
  for (;;) {
    if (file.compare(pos, 4, "end ") == 0) {
      char expect[40];
      std::snprintf(expect, sizeof(expect), "end %016llx\n",
                    static_cast<unsigned long long>(fnv1a(file.substr(0, pos))));
      return file.compare(pos, std::string::npos, expect) == 0;
    }
    const size_t eol = file.find('\n', pos);
    if (eol == std::string::npos) return false;
    int type = 0;
    unsigned long long nameLen = 0, dataLen = 0;
    char extra = 0;
    const std::string header = file.substr(pos, eol - pos);
    if (std::sscanf(header.c_str(), "v %d %llu %llu%c", &type, &nameLen, &dataLen, &extra) != 3) {
      return false;
    }
    pos = eol + 1;
    if (nameLen > file.size() || dataLen > file.size() || pos + nameLen + dataLen + 1 > file.size()) {
      return false;
    }
    Entry e;
    e.name = file.substr(pos, nameLen);
    if (!decodeData(type, file.substr(pos + nameLen, dataLen), &e.value)) return false;
    pos += nameLen + dataLen;
    if (file[pos] != '\n') return false;
    ++pos;
    entries->push_back(std::move(e));
  }
}

enum class LoadResult { kMissing, kOk, kCorrupt };

LoadResult load(const std::string& folder, std::vector<Entry>* entries) {
  entries->clear();
  const std::string path = folder + "/" + kValuesFile;
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return LoadResult::kMissing;
  std::string file;
  char buf[8192];
  ssize_t n;
  while ((n = read(fd, buf, sizeof(buf))) > 0) file.append(buf, static_cast<size_t>(n));
  const bool readFailed = n < 0;
  close(fd);
  if (readFailed || !parse(file, entries)) {
    entries->clear();
    return LoadResult::kCorrupt;
  }
  return LoadResult::kOk;
}

bool writeAll(int fd, const std::string& data) {
  size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = write(fd, data.data() + done, data.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

PlatformResult store(const std::string& folder, const std::vector<Entry>& entries) {
  const std::string tmp = folder + "/@tmp." + std::to_string(getpid()) + "." +
                          std::to_string(std::hash<std::thread::id>()(std::this_thread::get_id()));
  const int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return resultFromErrno(errno);
  const bool ok = writeAll(fd, serialize(entries)) && fsync(fd) == 0;
  const int err = errno;
  close(fd);
  if (!ok) {
    unlink(tmp.c_str());
    return resultFromErrno(err);
  }
  if (rename(tmp.c_str(), (folder + "/" + kValuesFile).c_str()) != 0) {
    const int renameErr = errno;
    unlink(tmp.c_str());
    return resultFromErrno(renameErr);
  }
  return PlatformResult::kOk;
}

// Holds the key's lock file for the life of the scope. Separate open file
// descriptions exclude each other, so this also serialises threads.
class KeyLock {
 public:
  explicit KeyLock(const std::string& folder) {
    fd_ = open((folder + "/" + kLockFile).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ >= 0) {
      while (flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
      }
    }
  }
  ~KeyLock() {
    if (fd_ >= 0) close(fd_);
  }
  bool held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

bool sameName(const std::string& a, const std::string& b) { return foldCase(a) == foldCase(b); }

// Loads the key's values for a change. A corrupt file is kept aside once
// so whatever it held stays recoverable by hand.
PlatformResult loadForUpdate(const std::string& folder, std::vector<Entry>* entries) {
  if (load(folder, entries) == LoadResult::kCorrupt) {
    const std::string corrupt = folder + "/" + kCorruptFile;
    const std::string values = folder + "/" + kValuesFile;
    if (access(corrupt.c_str(), F_OK) == 0) {
      unlink(values.c_str());
    } else if (rename(values.c_str(), corrupt.c_str()) != 0) {
      return resultFromErrno(errno);
    }
  }
  return PlatformResult::kOk;
}

}  // namespace

std::string registryRoot() {
  if (const char* root = std::getenv("WEBSETUP_REGISTRY"); root != nullptr && *root != '\0') {
    return root;
  }
  if (geteuid() == 0) return "/var/lib/websetup/registry";
  if (const char* state = std::getenv("XDG_STATE_HOME"); state != nullptr && *state == '/') {
    return std::string(state) + "/websetup/registry";
  }
  const char* home = std::getenv("HOME");
  return std::string(home != nullptr ? home : "/tmp") + "/.local/state/websetup/registry";
}

bool registryKeyExists(RegistryHive hive, const std::string& key) {
  const std::string folder = keyFolder(hive, key);
  struct stat st {};
  return !folder.empty() && stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

PlatformResult registryCreateKey(RegistryHive hive, const std::string& key) {
  const std::string folder = keyFolder(hive, key);
  if (folder.empty()) return PlatformResult::kInvalidArgument;
  return makeFolders(folder) ? PlatformResult::kOk : resultFromErrno(errno);
}

PlatformResult registryRead(RegistryHive hive, const std::string& key, const std::string& name,
                            RegistryValue* out) {
  const std::string folder = keyFolder(hive, key);
  if (folder.empty()) return PlatformResult::kInvalidArgument;
  std::vector<Entry> entries;
  if (load(folder, &entries) != LoadResult::kOk) return PlatformResult::kNotFound;
  for (const auto& e : entries) {
    if (sameName(e.name, name)) {
      *out = e.value;
      return PlatformResult::kOk;
    }
  }
  return PlatformResult::kNotFound;
}

PlatformResult registryWrite(RegistryHive hive, const std::string& key, const std::string& name,
                             const RegistryValue& value) {
  const std::string folder = keyFolder(hive, key);
  if (folder.empty()) return PlatformResult::kInvalidArgument;
  if (!makeFolders(folder)) return resultFromErrno(errno);
  KeyLock lock(folder);
  if (!lock.held()) return resultFromErrno(errno);
  std::vector<Entry> entries;
  if (PlatformResult r = loadForUpdate(folder, &entries); r != PlatformResult::kOk) return r;
  bool replaced = false;
  for (auto& e : entries) {
    if (sameName(e.name, name)) {
      e.value = value;
      replaced = true;
      break;
    }
  }
  if (!replaced) entries.push_back({name, value});
  return store(folder, entries);
}

PlatformResult registryDeleteValue(RegistryHive hive, const std::string& key,
                                   const std::string& name) {
  const std::string folder = keyFolder(hive, key);
  if (folder.empty()) return PlatformResult::kInvalidArgument;
  if (!registryKeyExists(hive, key)) return PlatformResult::kNotFound;
  KeyLock lock(folder);
  if (!lock.held()) return resultFromErrno(errno);
  std::vector<Entry> entries;
  if (load(folder, &entries) != LoadResult::kOk) return PlatformResult::kNotFound;
  for (auto it = entries.begin(); it != entries.end(); ++it) {
    if (sameName(it->name, name)) {
      entries.erase(it);
      return store(folder, entries);
    }
  }
  return PlatformResult::kNotFound;
}

}  // namespace platform
