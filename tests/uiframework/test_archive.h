#ifndef WEBSETUP_TESTS_UIFRAMEWORK_TEST_ARCHIVE_H_
#define WEBSETUP_TESTS_UIFRAMEWORK_TEST_ARCHIVE_H_

// Builds a small skin archive for a test from (name, content) pairs.

#include <map>
#include <memory>
#include <string>

#include "support/temp_dir.h"
#include "uiframework/skin_archive.h"
#include "zip/zip_writer.h"

namespace ui::testing_archive {

inline std::shared_ptr<SkinArchive> make(const std::map<std::string, std::string>& files) {
  testing_support::TempDir dir;
  std::string zip_path = dir.file("skin.zip");
  auto writer = websetup_zip::ZipWriter::create(zip_path);
  int n = 0;
  for (const auto& [name, content] : files) {
    std::string src = dir.file("f" + std::to_string(n++));
    testing_support::writeFile(src, content);
    if (writer->addFile(std::wstring(name.begin(), name.end()), src) != websetup_zip::EnumZipResult::kOk) {
      return nullptr;
    }
  }
  if (writer->close() != websetup_zip::EnumZipResult::kOk) return nullptr;
  EnumUiResult result;
  return SkinArchive::FromFile(zip_path, &result);
}

}  // namespace ui::testing_archive

#endif  // WEBSETUP_TESTS_UIFRAMEWORK_TEST_ARCHIVE_H_
