#ifndef WEBSETUP_PLATFORM_REGISTRY_H_
#define WEBSETUP_PLATFORM_REGISTRY_H_

// A file-backed stand-in for the Windows registry. One folder per hive
// under registryRoot(), one folder per key (named by the key's case-folded
// name, so key names compare without regard to case), and the values of a
// key in one file "values" written atomically (temp file + rename) while a
// per-key lock file is held with flock, so concurrent writers in several
// processes lose nothing. A values file that does not parse reads as
// missing; a write then moves it aside to "values.corrupt" (keeping the
// first such copy) and starts afresh, so it is never made worse.
// A "WOW6432Node" step in a key path is dropped: the 32-bit and 64-bit
// views are one view here. Key paths use '\' or '/' between steps.
// Thread-safe.

#include <cstdint>
#include <string>
#include <vector>

#include "platform/result.h"

namespace platform {

enum class RegistryHive { kLocalMachine, kCurrentUser };

enum class RegistryType { kString = 1, kDword = 4, kMultiString = 7 };

struct RegistryValue {
  RegistryType type = RegistryType::kString;
  std::string text;                 // kString: UTF-8 text
  uint32_t number = 0;              // kDword
  std::vector<std::string> texts;   // kMultiString
};

// The store's root: $WEBSETUP_REGISTRY if set; else /var/lib/websetup/registry
// as root, else $XDG_STATE_HOME/websetup/registry (~/.local/state when unset).
std::string registryRoot();

// True when `key` exists in `hive`.
bool registryKeyExists(RegistryHive hive, const std::string& key);

// Creates `key` and its missing parents. kOk when it exists afterwards.
[[nodiscard]] PlatformResult registryCreateKey(RegistryHive hive, const std::string& key);

// Reads value `name` (compared without regard to case) of `key`. kNotFound
// when the key, the value or a readable values file is missing.
[[nodiscard]] PlatformResult registryRead(RegistryHive hive, const std::string& key,
                                          const std::string& name, RegistryValue* out);

// Creates `key` if needed and sets value `name` to `value`, keeping the
// key's other values.
[[nodiscard]] PlatformResult registryWrite(RegistryHive hive, const std::string& key,
                                           const std::string& name, const RegistryValue& value);

// Removes value `name` of `key`. kNotFound when it was not there.
[[nodiscard]] PlatformResult registryDeleteValue(RegistryHive hive, const std::string& key,
                                                 const std::string& name);

}  // namespace platform

#endif  // WEBSETUP_PLATFORM_REGISTRY_H_
