#include "weblog/machine_guid_store.h"

#include <filesystem>
#include <fstream>

#include "platform/registry.h"

namespace weblog {

namespace {

namespace fs = std::filesystem;

class FolderStore : public MachineGuidStore {
 public:
  explicit FolderStore(std::string dir) : dir_(std::move(dir)) {}

  bool Read(std::string* guid, std::string* userId) override {
    const bool a = ReadValue("guid", guid);
    const bool b = ReadValue("user_id", userId);
    return a && b;
  }

  void Write(const std::string& guid, const std::string& userId) override {
    std::error_code ec;
    fs::create_directories(dir_, ec);
    WriteValue("guid", guid);
    WriteValue("user_id", userId);
  }

 private:
  bool ReadValue(const char* name, std::string* out) const {
    out->clear();
    std::ifstream in(fs::path(dir_) / name, std::ios::binary);
    if (!in) return false;
    out->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
  }

  // Written beside and renamed over, so a reader never sees half a value.
  void WriteValue(const char* name, const std::string& value) const {
    const fs::path target = fs::path(dir_) / name;
    const fs::path temp = target.string() + ".tmp";
    {
      std::ofstream out(temp, std::ios::binary | std::ios::trunc);
      if (!out) return;
      out << value;
      if (!out.flush()) return;
    }
    std::error_code ec;
    fs::rename(temp, target, ec);
  }

  const std::string dir_;
};

constexpr char kGuidKey[] = "SOFTWARE\\GuidGuidold";

class RegistryStore : public MachineGuidStore {
 public:
  bool Read(std::string* guid, std::string* userId) override {
    const bool a = ReadValue("guid", guid);
    const bool b = ReadValue("user_id", userId);
    return a && b;
  }

  void Write(const std::string& guid, const std::string& userId) override {
    platform::RegistryValue value;
    value.text = guid;
    (void)platform::registryWrite(platform::RegistryHive::kLocalMachine, kGuidKey, "guid", value);
    value.text = userId;
    (void)platform::registryWrite(platform::RegistryHive::kLocalMachine, kGuidKey, "user_id",
                                  value);
  }

 private:
  static bool ReadValue(const char* name, std::string* out) {
    out->clear();
    platform::RegistryValue value;
    if (platform::registryRead(platform::RegistryHive::kLocalMachine, kGuidKey, name, &value) !=
            platform::PlatformResult::kOk ||
        value.type != platform::RegistryType::kString) {
      return false;
    }
    *out = value.text;
    return true;
  }
};

}  // namespace

std::unique_ptr<MachineGuidStore> FolderGuidStore(const std::string& dir) {
  return std::make_unique<FolderStore>(dir);
}

std::unique_ptr<MachineGuidStore> MachineRegistryGuidStore() {
  return std::make_unique<RegistryStore>();
}

}  // namespace weblog
