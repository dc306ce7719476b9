#ifndef WEBSETUP_UIFRAMEWORK_SKIN_ARCHIVE_H_
#define WEBSETUP_UIFRAMEWORK_SKIN_ARCHIVE_H_

// Read access to a zip skin archive held in memory (the linked-in resource)
// or read from a file. Names use `/` or `\` alike and match
// case-insensitively, as the Windows archive reader does. Thread-safe.

#include <memory>
#include <string>

#include "common/mutex.h"
#include "uiframework/ui_types.h"

namespace ui {

class SkinArchive {
 public:
  // Opens the archive in resource (`type`, `id`) of the executable.
  static std::shared_ptr<SkinArchive> fromResource(const std::string& type, int id,
                                                   EnumUiResult* result);
  // Opens a copy of `bytes`.
  static std::shared_ptr<SkinArchive> fromBytes(std::string bytes, EnumUiResult* result);
  // Opens the zip file at `path` (developer tools).
  static std::shared_ptr<SkinArchive> fromFile(const std::string& path, EnumUiResult* result);
  ~SkinArchive();

  // Stores the bytes of `name` in *out. Returns false when it is missing.
  bool read(const std::string& name, std::string* out) const LOCKS_EXCLUDED(mu_);
  bool contains(const std::string& name) const LOCKS_EXCLUDED(mu_);

 private:
  SkinArchive() = default;
  // The index of `name`, or -1.
  long long find(const std::string& name) const EXCLUSIVE_LOCKS_REQUIRED(mu_);

  mutable common::Mutex mu_;
  std::string bytes_;
  void* zip_ = nullptr;  // zip_t*, reading from bytes_
};

}  // namespace ui

#endif  // WEBSETUP_UIFRAMEWORK_SKIN_ARCHIVE_H_
