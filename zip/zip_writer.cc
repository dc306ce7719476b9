#include "zip/zip_writer.h"

#include <zip.h>

#include <algorithm>
#include <cstdio>

#include "common/log.h"
#include "common/text.h"
#include "platform/files.h"

namespace websetup_zip {

namespace {

zip_t* asZip(void* p) { return static_cast<zip_t*>(p); }

}  // namespace

std::unique_ptr<ZipWriter> ZipWriter::create(const std::string& path) {
  int error = 0;
  zip_t* archive = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
  if (archive == nullptr) {
    zip_error_t ze;
    zip_error_init_with_code(&ze, error);
    LOG(INFO) << " zip: cannot create " << path << ": " << zip_error_strerror(&ze);
    zip_error_fini(&ze);
    return nullptr;
  }
  // libzip creates the file only when the archive is closed; an empty
  // truncating open of an existing file must not leave stale content, and a
  // path in a missing folder must fail now rather than at close(). Touching
  // the file checks both.
  FILE* probe = std::fopen(path.c_str(), "wb");
  if (probe == nullptr) {
    LOG(INFO) << " zip: cannot create " << path;
    zip_discard(archive);
    return nullptr;
  }
  std::fclose(probe);
  return std::unique_ptr<ZipWriter>(new ZipWriter(archive, path));
}

ZipWriter::ZipWriter(void* archive, std::string path)
    : archive_(archive), path_(std::move(path)) {}

ZipWriter::~ZipWriter() {
  if (archive_ != nullptr && close() != EnumZipResult::kOk) {
    LOG(INFO) << " zip: archive " << path_ << " not completed";
  }
}

EnumZipResult ZipWriter::addFile(const std::wstring& name_in_archive,
                                 const std::string& source_path) {
  if (archive_ == nullptr) return EnumZipResult::kNotOpen;
  if (!platform::isRegularFile(source_path)) {
    LOG(INFO) << " zip: no file " << source_path;
    return EnumZipResult::kSourceMissing;
  }
  std::string name = common::wideToUtf8(name_in_archive);
  std::replace(name.begin(), name.end(), '\\', '/');
  if (name.empty()) return EnumZipResult::kAddFailed;
  zip_source_t* source = zip_source_file(asZip(archive_), source_path.c_str(), 0, -1);
  if (source == nullptr) return EnumZipResult::kSourceMissing;
  zip_int64_t index =
      zip_file_add(asZip(archive_), name.c_str(), source, ZIP_FL_ENC_UTF_8);
  if (index < 0) {
    LOG(INFO) << " zip: cannot add " << name << ": " << zip_strerror(asZip(archive_));
    zip_source_free(source);
    return EnumZipResult::kAddFailed;
  }
  if (zip_set_file_compression(asZip(archive_), static_cast<zip_uint64_t>(index),
                               ZIP_CM_DEFLATE, 9) != 0) {
    return EnumZipResult::kAddFailed;
  }
  ++entries_;
  return EnumZipResult::kOk;
}

EnumZipResult ZipWriter::close() {
  if (archive_ == nullptr) return EnumZipResult::kNotOpen;
  zip_t* archive = asZip(archive_);
  archive_ = nullptr;
  if (entries_ == 0) {
    // libzip deletes the file of an archive without entries; a report
    // archive must still exist, so write the 22-byte end record ourselves.
    zip_discard(archive);
    static const unsigned char kEmpty[22] = {0x50, 0x4b, 0x05, 0x06};
    FILE* f = std::fopen(path_.c_str(), "wb");
    if (f == nullptr) return EnumZipResult::kWriteFailed;
    bool ok = std::fwrite(kEmpty, 1, sizeof kEmpty, f) == sizeof kEmpty;
    ok = std::fclose(f) == 0 && ok;
    return ok ? EnumZipResult::kOk : EnumZipResult::kWriteFailed;
  }
  if (zip_close(archive) != 0) {
    LOG(INFO) << " zip: cannot write " << path_ << ": " << zip_strerror(archive);
    zip_discard(archive);
    std::remove(path_.c_str());
    return EnumZipResult::kWriteFailed;
  }
  return EnumZipResult::kOk;
}

}  // namespace websetup_zip
