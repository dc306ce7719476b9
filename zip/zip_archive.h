#ifndef WEBSETUP_ZIP_ZIP_ARCHIVE_H_
#define WEBSETUP_ZIP_ZIP_ARCHIVE_H_

// Reading a zip archive held in memory: the skin archive linked into the
// program (resource ZIPRES 138), or one from a file for tools and tests.
// Names use `/` or `\` alike and match case-insensitively, as the Windows
// archive reader does. Thread-safe. Both the configuration and the UI
// framework read the skin through this one reader.

#include <cstddef>
#include <memory>
#include <string>

#include "common/mutex.h"

namespace websetup_zip {

// Where the skin archive is linked into the program.
inline constexpr char kSkinResourceType[] = "ZIPRES";
inline constexpr int kSkinResourceId = 138;

class ZipArchive {
 public:
  // Opens the archive in resource (`type`, `id`) of the executable; null
  // when there is none or it is not a zip.
  static std::shared_ptr<ZipArchive> fromResource(const std::string& type, int id);
  // Opens a copy of `bytes`; null when they are not a zip.
  static std::shared_ptr<ZipArchive> fromBytes(std::string bytes);
  // Opens the zip file at `path`; null when unreadable or not a zip.
  static std::shared_ptr<ZipArchive> fromFile(const std::string& path);
  ~ZipArchive();
  ZipArchive(const ZipArchive&) = delete;
  ZipArchive& operator=(const ZipArchive&) = delete;

  // Stores the bytes of `name` in *out. Returns false (and leaves *out
  // empty) when it is missing or unreadable.
  bool read(const std::string& name, std::string* out) const LOCKS_EXCLUDED(mu_);
  bool contains(const std::string& name) const LOCKS_EXCLUDED(mu_);

 private:
  ZipArchive() = default;
  // Opens the zip in the `size` bytes at `data`, which are bytes_ or a
  // resource (alive as long as the program).
  bool open(const void* data, size_t size);
  long long find(const std::string& name) const EXCLUSIVE_LOCKS_REQUIRED(mu_);

  mutable common::Mutex mu_;
  std::string bytes_;    // the archive's bytes, unless they are a resource
  void* zip_ = nullptr;  // zip_t*
};

// The skin archive linked into this program, opened once; null when the
// program carries none.
std::shared_ptr<ZipArchive> LinkedSkinArchive();

}  // namespace websetup_zip

#endif  // WEBSETUP_ZIP_ZIP_ARCHIVE_H_
