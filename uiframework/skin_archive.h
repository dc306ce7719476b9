#ifndef WEBSETUP_UIFRAMEWORK_SKIN_ARCHIVE_H_
#define WEBSETUP_UIFRAMEWORK_SKIN_ARCHIVE_H_

// The skin archive as the UI framework opens it: the one zip reader of
// zip/zip_archive.h, with the framework's result codes.

#include <memory>
#include <string>

#include "uiframework/ui_types.h"
#include "zip/zip_archive.h"

namespace ui {

class SkinArchive {
 public:
  // Opens the archive in resource (`type`, `id`) of the executable.
  static std::shared_ptr<SkinArchive> FromResource(const std::string& type, int id,
                                                   EnumUiResult* result);
  // Opens a copy of `bytes`.
  static std::shared_ptr<SkinArchive> FromBytes(std::string bytes, EnumUiResult* result);
  // Opens the zip file at `path` (developer tools).
  static std::shared_ptr<SkinArchive> FromFile(const std::string& path, EnumUiResult* result);

  // Stores the bytes of `name` in *out. Returns false when it is missing.
  bool Read(const std::string& name, std::string* out) const { return zip_->read(name, out); }
  bool Contains(const std::string& name) const { return zip_->contains(name); }

 private:
  explicit SkinArchive(std::shared_ptr<websetup_zip::ZipArchive> zip) : zip_(std::move(zip)) {}
  static std::shared_ptr<SkinArchive> Wrap(std::shared_ptr<websetup_zip::ZipArchive> zip,
                                           EnumUiResult* result);

  std::shared_ptr<websetup_zip::ZipArchive> zip_;
};

}  // namespace ui

#endif  // WEBSETUP_UIFRAMEWORK_SKIN_ARCHIVE_H_
