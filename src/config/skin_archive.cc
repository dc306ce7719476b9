#include "config/skin_archive.h"

#include "zip/zip_archive.h"

namespace config {

bool readSkinFile(const std::string& nameInArchive, std::string* out) {
  out->clear();
  const auto archive = websetup_zip::LinkedSkinArchive();
  return archive != nullptr && archive->read(nameInArchive, out);
}

bool readZipFile(const std::string& zipBytes, const std::string& nameInArchive, std::string* out) {
  out->clear();
  const auto archive = websetup_zip::ZipArchive::fromBytes(zipBytes);
  return archive != nullptr && archive->read(nameInArchive, out);
}

}  // namespace config
