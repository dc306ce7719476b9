#ifndef WEBSETUP_WEBLOG_MACHINE_GUID_STORE_H_
#define WEBSETUP_WEBLOG_MACHINE_GUID_STORE_H_

#include <memory>
#include <string>

namespace weblog {

// Where the user log's machine GUID and user id outlive the process: the
// values "guid" and "user_id" of HKEY_LOCAL_MACHINE\SOFTWARE\GuidGuidold.
// Implementations are thread-safe.
class MachineGuidStore {
 public:
  virtual ~MachineGuidStore() = default;
  // Reads both values. Returns true only when both could be read; the
  // values that could be read are stored either way, the others cleared.
  virtual bool Read(std::string* guid, std::string* userId) = 0;
  // Writes both values; a failure is ignored.
  virtual void Write(const std::string& guid, const std::string& userId) = 0;
};

// A store keeping each value in a file of that name in `dir` (created on
// the first write).
std::unique_ptr<MachineGuidStore> FolderGuidStore(const std::string& dir);

// The store of this machine: the registry key above (platform/registry.h).
std::unique_ptr<MachineGuidStore> MachineRegistryGuidStore();

}  // namespace weblog

#endif  // WEBSETUP_WEBLOG_MACHINE_GUID_STORE_H_
