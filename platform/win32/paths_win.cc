#include <aclapi.h>
#include <initguid.h>  // defines the known-folder ids here; no uuid library

#include <knownfolders.h>
#include <sddl.h>
#include <shlobj.h>

#include <random>
#include <vector>

#include "platform/paths.h"
#include "platform/win32/win_util.h"

namespace platform {

namespace {

std::string withoutTrailingSlash(std::string s) {
  while (s.size() > 1 && (s.back() == '/' || s.back() == '\\') && s[s.size() - 2] != ':') {
    s.pop_back();
  }
  return s;
}

std::string knownFolder(REFKNOWNFOLDERID id) {
  PWSTR path = nullptr;
  std::string out;
  if (SUCCEEDED(SHGetKnownFolderPath(id, KF_FLAG_DEFAULT, nullptr, &path)) && path != nullptr) {
    out = win::outwardPath(path);
  }
  CoTaskMemFree(path);
  return withoutTrailingSlash(out);
}

std::wstring fullPath(const std::wstring& path) {
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n =
        GetFullPathNameW(path.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
    if (n == 0) return {};
    if (n < buffer.size()) {
      buffer.resize(n);
      return buffer;
    }
    buffer.resize(n);
  }
}

// Where the root of a full path ends: after "C:\" or "\\server\share\".
size_t rootLength(const std::wstring& full) {
  if (full.size() >= 3 && full[1] == L':' && full[2] == L'\\') return 3;
  if (full.rfind(L"\\\\", 0) == 0) {
    size_t at = full.find(L'\\', 2);                              // end of the server
    if (at != std::wstring::npos) at = full.find(L'\\', at + 1);  // end of the share
    return at == std::wstring::npos ? full.size() : at + 1;
  }
  return 0;
}

DWORD attributesOf(const std::wstring& path) { return GetFileAttributesW(path.c_str()); }

bool isFolder(DWORD attributes) {
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// The nearest existing ancestor of the full path `full` (or itself).
std::wstring existingPrefix(std::wstring full) {
  const size_t root = rootLength(full);
  while (full.size() > root && attributesOf(full) == INVALID_FILE_ATTRIBUTES) {
    const size_t slash = full.rfind(L'\\');
    if (slash == std::wstring::npos || slash + 1 < root) return full.substr(0, root);
    full.resize(std::max(slash, root));
  }
  return full;
}

// The volume mount point that holds `path`, with its trailing backslash;
// empty when Windows names none.
std::wstring volumeOf(const std::string& path) {
  const std::wstring full = fullPath(win::widen(path.empty() ? "." : path));
  if (full.empty()) return {};
  const std::wstring existing = existingPrefix(full);
  std::wstring volume(existing.size() + 2, L'\0');
  if (!GetVolumePathNameW(existing.c_str(), volume.data(), static_cast<DWORD>(volume.size()))) {
    return {};
  }
  volume.resize(wcslen(volume.c_str()));
  if (!volume.empty() && volume.back() != L'\\') volume += L'\\';
  return volume;
}

// Who may change a folder that is checked and then run from: this user,
// the owner this process gives what it creates (Administrators when
// elevated), SYSTEM, Administrators and TrustedInstaller. The last three
// can do anything here anyway, as root can on Linux.
class Trust {
 public:
  Trust()
      : user_(win::processTokenInformation(TokenUser)),
        owner_(win::processTokenInformation(TokenOwner)) {
    DWORD size = sizeof system_;
    CreateWellKnownSid(WinLocalSystemSid, nullptr, system_, &size);
    size = sizeof admins_;
    CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, admins_, &size);
    ConvertStringSidToSidW(L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464",
                           &installer_);
  }
  ~Trust() { LocalFree(installer_); }
  Trust(const Trust&) = delete;
  Trust& operator=(const Trust&) = delete;

  PSID user() const {
    return user_.empty() ? nullptr : reinterpret_cast<const TOKEN_USER*>(user_.data())->User.Sid;
  }
  bool isUs(PSID sid) const {
    if (user() != nullptr && EqualSid(sid, user())) return true;
    return !owner_.empty() &&
           EqualSid(sid, reinterpret_cast<const TOKEN_OWNER*>(owner_.data())->Owner);
  }
  bool trusted(PSID sid) const {
    return isUs(sid) || EqualSid(sid, asSid(system_)) || EqualSid(sid, asSid(admins_)) ||
           (installer_ != nullptr && EqualSid(sid, installer_));
  }
  PSID system() { return system_; }

 private:
  static PSID asSid(const BYTE* bytes) { return const_cast<BYTE*>(bytes); }

  std::vector<BYTE> user_;
  std::vector<BYTE> owner_;
  BYTE system_[SECURITY_MAX_SID_SIZE] = {};
  BYTE admins_[SECURITY_MAX_SID_SIZE] = {};
  PSID installer_ = nullptr;
};

// Rights by which someone else could put another folder in this one's
// place, or in the place of what it holds.
constexpr ACCESS_MASK kReplaceRights = DELETE | FILE_DELETE_CHILD | WRITE_DAC | WRITE_OWNER;
// ... and by which they could add to it.
constexpr ACCESS_MASK kWriteRights = kReplaceRights | FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY;

struct FolderSecurity {
  bool link = false;
  bool ownerTrusted = false;
  bool ownerIsUs = false;
  ACCESS_MASK othersMay = 0;  // what any ACE grants someone untrusted
};

bool readSecurity(const std::wstring& path, const Trust& trust, FolderSecurity* out) {
  *out = FolderSecurity{};
  const DWORD attributes = attributesOf(path);
  if (!isFolder(attributes)) return false;
  out->link = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  PSID owner = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR sd = nullptr;
  if (GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT,
                            OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner, nullptr,
                            &dacl, nullptr, &sd) != ERROR_SUCCESS) {
    return false;
  }
  out->ownerTrusted = owner != nullptr && trust.trusted(owner);
  out->ownerIsUs = owner != nullptr && trust.isUs(owner);
  GENERIC_MAPPING mapping = {FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE,
                             FILE_ALL_ACCESS};
  if (dacl == nullptr) {
    out->othersMay = FILE_ALL_ACCESS;  // a null DACL lets everybody do everything
  } else {
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
      void* raw = nullptr;
      if (!GetAce(dacl, i, &raw)) continue;
      const auto* header = static_cast<const ACE_HEADER*>(raw);
      // Deny entries are left out, so this errs on the side of distrust.
      if (header->AceType != ACCESS_ALLOWED_ACE_TYPE || (header->AceFlags & INHERIT_ONLY_ACE)) {
        continue;
      }
      const auto* ace = static_cast<const ACCESS_ALLOWED_ACE*>(raw);
      PSID sid = const_cast<DWORD*>(&ace->SidStart);
      if (trust.trusted(sid)) continue;
      ACCESS_MASK mask = ace->Mask;
      MapGenericMask(&mask, &mapping);
      out->othersMay |= mask;
    }
  }
  LocalFree(sd);
  return true;
}

// A DACL of only this user and SYSTEM, inherited by all that is made in
// the folder and not by what lies above it: the Windows 0700.
class PrivateDescriptor {
 public:
  explicit PrivateDescriptor(Trust& trust) {
    if (trust.user() == nullptr) return;
    const DWORD aclSize = sizeof(ACL) + 2 * sizeof(ACCESS_ALLOWED_ACE) +
                          GetLengthSid(trust.user()) + GetLengthSid(trust.system());
    acl_.resize(aclSize);
    auto* acl = reinterpret_cast<PACL>(acl_.data());
    constexpr DWORD kInherit = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
    ok_ = InitializeAcl(acl, aclSize, ACL_REVISION) &&
          AddAccessAllowedAceEx(acl, ACL_REVISION, kInherit, FILE_ALL_ACCESS, trust.user()) &&
          AddAccessAllowedAceEx(acl, ACL_REVISION, kInherit, FILE_ALL_ACCESS, trust.system()) &&
          InitializeSecurityDescriptor(&sd_, SECURITY_DESCRIPTOR_REVISION) &&
          SetSecurityDescriptorDacl(&sd_, TRUE, acl, FALSE) &&
          SetSecurityDescriptorControl(&sd_, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
    attributes_.nLength = sizeof attributes_;
    attributes_.lpSecurityDescriptor = &sd_;
  }
  bool ok() const { return ok_; }
  SECURITY_ATTRIBUTES* attributes() { return &attributes_; }
  PACL acl() { return reinterpret_cast<PACL>(acl_.data()); }

 private:
  bool ok_ = false;
  std::vector<BYTE> acl_;
  SECURITY_DESCRIPTOR sd_{};
  SECURITY_ATTRIBUTES attributes_{};
};

}  // namespace

std::string modulePath() {
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return "";
    if (n < buffer.size()) {
      buffer.resize(n);
      return win::outwardPath(std::move(buffer));
    }
    if (buffer.size() >= 32768) return "";
    buffer.resize(buffer.size() * 2);
  }
}

std::string moduleDir() {
  const std::string path = modulePath();
  const size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? std::string() : path.substr(0, slash) + "/";
}

std::optional<std::string> getEnv(const char* name) {
  const std::wstring wideName = win::widen(name);
  std::wstring value(64, L'\0');
  for (;;) {
    SetLastError(ERROR_SUCCESS);
    const DWORD n =
        GetEnvironmentVariableW(wideName.c_str(), value.data(), static_cast<DWORD>(value.size()));
    // 0 is both "unset" and "set to nothing"; only the error tells them apart.
    if (n == 0) {
      if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
      return std::string();
    }
    if (n < value.size()) {
      value.resize(n);
      return win::narrow(value);
    }
    value.resize(n);
  }
}

std::string homeDir() {
  if (auto home = getEnv("USERPROFILE"); home && !home->empty()) {
    return win::outwardPath(win::widen(withoutTrailingSlash(*home)));
  }
  const std::string profile = knownFolder(FOLDERID_Profile);
  return profile.empty() ? "/" : profile;
}

std::string appDataDir() {
  if (auto v = getEnv("APPDATA"); v && !v->empty()) {
    return win::outwardPath(win::widen(withoutTrailingSlash(*v)));
  }
  return knownFolder(FOLDERID_RoamingAppData);
}

std::string programFilesDir() {
  if (auto v = getEnv("ProgramFiles"); v && !v->empty()) {
    return win::outwardPath(win::widen(withoutTrailingSlash(*v)));
  }
  return knownFolder(FOLDERID_ProgramFiles);
}

std::string tempDir() {
  // GetTempPathW reads TMP, then TEMP, then USERPROFILE, as Windows
  // programs expect.
  wchar_t buffer[MAX_PATH + 2] = {};
  const DWORD n = GetTempPathW(MAX_PATH + 2, buffer);
  if (n == 0 || n > MAX_PATH + 1) return withoutTrailingSlash(homeDir());
  return withoutTrailingSlash(win::outwardPath(std::wstring(buffer, n)));
}

std::string runtimeDir() { return knownFolder(FOLDERID_LocalAppData); }

std::string driveRoot(const std::string& path) {
  const std::wstring volume = volumeOf(path);
  if (volume.empty()) return "/";
  return win::outwardPath(volume);
}

PlatformResult freeSpace(const std::string& path, uint64_t* bytes) {
  std::wstring folder = win::widen(path);
  const DWORD attributes = attributesOf(folder);
  if (attributes == INVALID_FILE_ATTRIBUTES) return win::lastResult();
  // The call wants a folder; a file's volume is its folder's.
  if (!isFolder(attributes)) {
    folder = fullPath(folder);
    folder.resize(folder.rfind(L'\\') + 1);
  }
  ULARGE_INTEGER available{};
  if (!GetDiskFreeSpaceExW(folder.c_str(), &available, nullptr, nullptr)) return win::lastResult();
  *bytes = available.QuadPart;
  return PlatformResult::kOk;
}

PlatformResult createDirectoryChain(const std::string& path) {
  if (path.empty()) return PlatformResult::kInvalidArgument;
  const std::wstring wide = win::widen(path);
  PlatformResult last = PlatformResult::kOk;
  // Prefixes that are no folder ("C:", "\\server") fail harmlessly.
  auto makeOne = [&last](const std::wstring& prefix) {
    if (prefix.empty() || CreateDirectoryW(prefix.c_str(), nullptr)) return true;
    const DWORD err = GetLastError();
    if (err == ERROR_ALREADY_EXISTS) return true;
    last = win::resultFromLastError(err);
    return last != PlatformResult::kDiskFull;
  };
  for (size_t i = 1; i < wide.size(); ++i) {
    if ((wide[i] == L'/' || wide[i] == L'\\') && !makeOne(wide.substr(0, i))) {
      return PlatformResult::kDiskFull;
    }
  }
  if (!makeOne(wide)) return PlatformResult::kDiskFull;
  if (isFolder(attributesOf(wide))) return PlatformResult::kOk;
  return last == PlatformResult::kOk ? PlatformResult::kIoError : last;
}

bool pathExists(const std::string& path) {
  return attributesOf(win::widen(path)) != INVALID_FILE_ATTRIBUTES;
}

PlatformResult makeExecutable(const std::string& path) {
  // Windows runs a file by its name and its rights to read and execute,
  // which a file of ours has; there is no mark to set.
  if (attributesOf(win::widen(path)) == INVALID_FILE_ATTRIBUTES) return win::lastResult();
  return PlatformResult::kOk;
}

PlatformResult ensurePrivateFolder(const std::string& path) {
  const std::wstring folder = fullPath(win::widen(path));
  std::wstring trimmed = folder;
  while (!trimmed.empty() && trimmed.back() == L'\\') trimmed.pop_back();
  const size_t root = rootLength(folder);
  if (root == 0 || trimmed.size() <= root) return PlatformResult::kInvalidArgument;
  const std::wstring parent = trimmed.substr(0, std::max(trimmed.rfind(L'\\'), root));

  Trust trust;
  PrivateDescriptor priv(trust);
  if (!priv.ok()) return PlatformResult::kAccessDenied;
  // No folder above may be one that someone else could rename or replace:
  // a user may add folders to C:\ but not move ours. Missing ones are made
  // private too: made with the rights C:\ hands down, any signed-in user
  // could rename them. A link above counts by where it leads, as Windows
  // follows it.
  for (size_t at = root; at <= parent.size();) {
    const std::wstring prefix = parent.substr(0, at);
    if (at > root && !CreateDirectoryW(prefix.c_str(), priv.attributes())) {
      const DWORD err = GetLastError();
      if (err != ERROR_ALREADY_EXISTS) return win::resultFromLastError(err);
    }
    FolderSecurity sec;
    if (!readSecurity(prefix, trust, &sec) || !sec.ownerTrusted ||
        (sec.othersMay & kReplaceRights) != 0) {
      return PlatformResult::kAccessDenied;
    }
    if (at == parent.size()) break;
    const size_t next = parent.find(L'\\', at + 1);
    at = next == std::wstring::npos ? parent.size() : next;
  }

  FolderSecurity sec;
  const auto privateOfOurs = [&] {
    return readSecurity(trimmed, trust, &sec) && !sec.link && sec.ownerIsUs &&
           (sec.othersMay & kWriteRights) == 0;
  };
  if (attributesOf(trimmed) != INVALID_FILE_ATTRIBUTES && !privateOfOurs()) {
    // What lies in it may have been put there by someone else.
    const std::wstring aside = trimmed + L".untrusted-" + std::to_wstring(GetCurrentProcessId()) +
                               L"-" + std::to_wstring(GetTickCount64());
    if (!MoveFileExW(trimmed.c_str(), aside.c_str(), 0)) return PlatformResult::kAccessDenied;
  }
  if (!CreateDirectoryW(trimmed.c_str(), priv.attributes()) &&
      GetLastError() != ERROR_ALREADY_EXISTS) {
    return win::lastResult();
  }
  // Only a folder of ours is closed to others: one someone else put here
  // after the move aside stays theirs, and is refused.
  if (!readSecurity(trimmed, trust, &sec) || sec.link || !sec.ownerIsUs) {
    return PlatformResult::kAccessDenied;
  }
  // A new folder has these rights already; an existing one of ours that
  // others may only read is closed the same way.
  std::vector<wchar_t> name(trimmed.begin(), trimmed.end());
  name.push_back(L'\0');
  if (SetNamedSecurityInfoW(name.data(), SE_FILE_OBJECT,
                            DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                            nullptr, nullptr, priv.acl(), nullptr) != ERROR_SUCCESS ||
      !privateOfOurs()) {
    return PlatformResult::kAccessDenied;
  }
  return PlatformResult::kOk;
}

bool volumeRunsPrograms(const std::string& path) {
  // Windows has no volume that refuses programs by how it is mounted;
  // a policy that does (AppLocker) shows as a failed start instead.
  return !volumeOf(path).empty();
}

PlatformResult makeUniqueFolder(const std::string& parent, const std::string& prefix,
                                std::string* out) {
  static constexpr char kChars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  Trust trust;
  PrivateDescriptor priv(trust);
  if (!priv.ok()) return PlatformResult::kAccessDenied;
  std::random_device random;
  const std::string base = withoutTrailingSlash(parent) + "/" + prefix;
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = base;
    for (int i = 0; i < 8; ++i) name += kChars[random() % (sizeof kChars - 1)];
    if (CreateDirectoryW(win::widen(name).c_str(), priv.attributes())) {
      *out = name;
      return PlatformResult::kOk;
    }
    if (GetLastError() != ERROR_ALREADY_EXISTS) return win::lastResult();
  }
  return PlatformResult::kAlreadyExists;
}

std::string runningImagePath() { return modulePath(); }

std::wstring pathForDisplay(const std::wstring& path) {
  std::wstring shown = path;
  for (wchar_t& c : shown) {
    if (c == L'/') c = L'\\';
  }
  return shown;
}

std::wstring pathFromDisplay(const std::wstring& text) {
  std::wstring path = text;
  for (wchar_t& c : path) {
    if (c == L'\\') c = L'/';
  }
  return path;
}

}  // namespace platform
