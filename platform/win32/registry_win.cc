// The real registry. Key paths name keys the way a 64-bit program sees
// them, whatever this build is: a path without a "WOW6432Node" step is the
// machine's native view, and a "WOW6432Node" step (dropped from the path)
// picks the 32-bit view. The x86 and x64 builds therefore read and write
// the same keys, and the redirected node is never addressed by name, which
// the registry does not promise to keep working.

#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "platform/win32/win_util.h"

namespace platform {
namespace {

struct KeyPath {
  std::wstring path;
  REGSAM view = KEY_WOW64_64KEY;
};

HKEY hiveKey(RegistryHive hive) {
  return hive == RegistryHive::kLocalMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
}

bool sameName(const std::wstring& a, const wchar_t* b) {
  return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b, -1, TRUE) == CSTR_EQUAL;
}

// Splits `key` at '\' and '/' and drops empty steps. False for a path the
// file store rejects too ("." or ".." steps, an embedded NUL), so a path
// means the same on every backend.
bool parseKeyPath(const std::string& key, KeyPath* out) {
  if (key.find('\0') != std::string::npos) return false;
  const std::wstring wide = win::widen(key);
  out->path.clear();
  out->view = KEY_WOW64_64KEY;
  std::wstring step;
  auto flush = [&]() -> bool {
    if (step.empty()) return true;
    if (step == L"." || step == L"..") return false;
    if (sameName(step, L"WOW6432Node")) {
      out->view = KEY_WOW64_32KEY;
    } else {
      if (!out->path.empty()) out->path += L'\\';
      out->path += step;
    }
    step.clear();
    return true;
  };
  for (const wchar_t c : wide) {
    if (c == L'\\' || c == L'/') {
      if (!flush()) return false;
    } else {
      step += c;
    }
  }
  return flush();
}

class RegKey {
 public:
  RegKey() = default;
  ~RegKey() {
    if (key_ != nullptr) RegCloseKey(key_);
  }
  RegKey(const RegKey&) = delete;
  RegKey& operator=(const RegKey&) = delete;
  HKEY* put() { return &key_; }
  HKEY get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

PlatformResult openKey(RegistryHive hive, const KeyPath& path, REGSAM access, RegKey* key) {
  const LSTATUS status =
      RegOpenKeyExW(hiveKey(hive), path.path.c_str(), 0, access | path.view, key->put());
  return win::resultFromLastError(static_cast<DWORD>(status));
}

PlatformResult createKey(RegistryHive hive, const KeyPath& path, REGSAM access, RegKey* key) {
  const LSTATUS status = RegCreateKeyExW(hiveKey(hive), path.path.c_str(), 0, nullptr,
                                         REG_OPTION_NON_VOLATILE, access | path.view, nullptr,
                                         key->put(), nullptr);
  return win::resultFromLastError(static_cast<DWORD>(status));
}

// The UTF-16 units of registry string data. The registry keeps whatever
// bytes a writer gave, so the data may lack its terminating NUL or end in
// half a unit; the copy never reads past the data and drops a stray byte.
std::wstring unitsOf(const std::vector<BYTE>& data) {
  std::wstring units(data.size() / sizeof(wchar_t), L'\0');
  if (!units.empty()) std::memcpy(units.data(), data.data(), units.size() * sizeof(wchar_t));
  return units;
}

// A string ends at its first NUL, as every Win32 reader of it sees it.
std::string stringOf(const std::vector<BYTE>& data) {
  std::wstring units = unitsOf(data);
  const size_t nul = units.find(L'\0');
  if (nul != std::wstring::npos) units.resize(nul);
  return win::narrow(units);
}

// Strings each ended by a NUL, the list by one more. Empty strings inside
// the list are kept: PendingFileRenameOperations writes one as the target
// of every pending delete. A missing final NUL, or both, is tolerated.
std::vector<std::string> stringsOf(const std::vector<BYTE>& data) {
  std::wstring units = unitsOf(data);
  if (!units.empty() && units.back() == L'\0') units.pop_back();
  if (!units.empty() && units.back() == L'\0') units.pop_back();
  std::vector<std::string> texts;
  if (units.empty()) return texts;
  size_t start = 0;
  for (;;) {
    const size_t nul = units.find(L'\0', start);
    texts.push_back(win::narrow(std::wstring_view(units).substr(start, nul - start)));
    if (nul == std::wstring::npos) break;
    start = nul + 1;
  }
  return texts;
}

// The value's type and bytes. The size is asked again whenever another
// writer grew the value between the two calls.
PlatformResult queryValue(HKEY key, const std::wstring& name, DWORD* type,
                          std::vector<BYTE>* data) {
  data->assign(256, 0);
  for (;;) {
    DWORD size = static_cast<DWORD>(data->size());
    const LSTATUS status = RegQueryValueExW(key, name.c_str(), nullptr, type, data->data(), &size);
    if (status == ERROR_SUCCESS) {
      data->resize(size);
      return PlatformResult::kOk;
    }
    if (status != ERROR_MORE_DATA) return win::resultFromLastError(static_cast<DWORD>(status));
    data->assign(static_cast<size_t>(size) + 64, 0);
  }
}

// Serialises `value` as the registry stores it. False for text that could
// not be read back whole: a NUL inside it would end it early.
bool encode(const RegistryValue& value, DWORD* type, std::vector<BYTE>* data) {
  std::wstring units;
  auto addText = [&units](const std::string& text) {
    if (text.find('\0') != std::string::npos) return false;
    units += win::widen(text);
    units += L'\0';
    return true;
  };
  switch (value.type) {
    case RegistryType::kString:
      *type = REG_SZ;
      if (!addText(value.text)) return false;
      break;
    case RegistryType::kMultiString:
      *type = REG_MULTI_SZ;
      for (const std::string& text : value.texts) {
        if (!addText(text)) return false;
      }
      units += L'\0';
      break;
    case RegistryType::kDword:
      *type = REG_DWORD;
      data->resize(sizeof(DWORD));
      std::memcpy(data->data(), &value.number, sizeof(DWORD));
      return true;
    default: return false;
  }
  data->resize(units.size() * sizeof(wchar_t));
  std::memcpy(data->data(), units.data(), data->size());
  return data->size() <= MAXDWORD;
}

}  // namespace

std::string registryRoot() { return "the Windows registry"; }

bool registryKeyExists(RegistryHive hive, const std::string& key) {
  KeyPath path;
  if (!parseKeyPath(key, &path)) return false;
  RegKey handle;
  const PlatformResult r = openKey(hive, path, KEY_QUERY_VALUE, &handle);
  // A key we may not read is still there.
  return r == PlatformResult::kOk || r == PlatformResult::kAccessDenied;
}

PlatformResult registryCreateKey(RegistryHive hive, const std::string& key) {
  KeyPath path;
  if (!parseKeyPath(key, &path)) return PlatformResult::kInvalidArgument;
  RegKey handle;
  const PlatformResult r = createKey(hive, path, KEY_QUERY_VALUE, &handle);
  // Refused read access to a key that is there still leaves it existing.
  if (r == PlatformResult::kAccessDenied && registryKeyExists(hive, key))
    return PlatformResult::kOk;
  return r;
}

PlatformResult registryRead(RegistryHive hive, const std::string& key, const std::string& name,
                            RegistryValue* out) {
  KeyPath path;
  if (!parseKeyPath(key, &path) || name.find('\0') != std::string::npos) {
    return PlatformResult::kInvalidArgument;
  }
  RegKey handle;
  if (PlatformResult r = openKey(hive, path, KEY_QUERY_VALUE, &handle); r != PlatformResult::kOk) {
    return r;
  }
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
  if (PlatformResult r = queryValue(handle.get(), win::widen(name), &type, &data);
      r != PlatformResult::kOk) {
    return r;
  }
  RegistryValue value;
  switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ:
      // Left unexpanded: the caller gets what is stored, as it would from
      // a plain RegQueryValueExW.
      value.type = RegistryType::kString;
      value.text = stringOf(data);
      break;
    case REG_MULTI_SZ:
      value.type = RegistryType::kMultiString;
      value.texts = stringsOf(data);
      break;
    case REG_DWORD:
    case REG_DWORD_BIG_ENDIAN: {
      // Any other length is damaged data, which reads as missing.
      if (data.size() != sizeof(DWORD)) return PlatformResult::kNotFound;
      uint32_t n = 0;
      std::memcpy(&n, data.data(), sizeof n);
      if (type == REG_DWORD_BIG_ENDIAN) {
        n = (n >> 24) | ((n >> 8) & 0xff00u) | ((n << 8) & 0xff0000u) | (n << 24);
      }
      value.type = RegistryType::kDword;
      value.number = n;
      break;
    }
    case REG_QWORD: {
      if (data.size() != sizeof(uint64_t)) return PlatformResult::kNotFound;
      uint64_t n = 0;
      std::memcpy(&n, data.data(), sizeof n);
      // Callers ask for numbers of 32 bits; a larger one cannot be handed
      // over without losing its top.
      if (n > 0xffffffffull) return PlatformResult::kUnsupported;
      value.type = RegistryType::kDword;
      value.number = static_cast<uint32_t>(n);
      break;
    }
    default: return PlatformResult::kUnsupported;
  }
  *out = std::move(value);
  return PlatformResult::kOk;
}

PlatformResult registryWrite(RegistryHive hive, const std::string& key, const std::string& name,
                             const RegistryValue& value) {
  KeyPath path;
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
  if (!parseKeyPath(key, &path) || name.find('\0') != std::string::npos ||
      !encode(value, &type, &data)) {
    return PlatformResult::kInvalidArgument;
  }
  RegKey handle;
  if (PlatformResult r = createKey(hive, path, KEY_SET_VALUE, &handle); r != PlatformResult::kOk) {
    return r;
  }
  const LSTATUS status = RegSetValueExW(handle.get(), win::widen(name).c_str(), 0, type,
                                        data.data(), static_cast<DWORD>(data.size()));
  return win::resultFromLastError(static_cast<DWORD>(status));
}

PlatformResult registryDeleteValue(RegistryHive hive, const std::string& key,
                                   const std::string& name) {
  KeyPath path;
  if (!parseKeyPath(key, &path) || name.find('\0') != std::string::npos) {
    return PlatformResult::kInvalidArgument;
  }
  RegKey handle;
  if (PlatformResult r = openKey(hive, path, KEY_SET_VALUE, &handle); r != PlatformResult::kOk) {
    return r;
  }
  const LSTATUS status = RegDeleteValueW(handle.get(), win::widen(name).c_str());
  return win::resultFromLastError(static_cast<DWORD>(status));
}

}  // namespace platform
