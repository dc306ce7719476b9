#ifndef WEBSETUP_ZIP_ZIP_WRITER_H_
#define WEBSETUP_ZIP_ZIP_WRITER_H_

// Writes zip archives for the crash and close reports: one archive per
// object, entries compressed with deflate, no password. Owned by one thread.

#include <memory>
#include <string>

namespace websetup_zip {

// Results of the zip writer. The numbers reach logs: add at the end only.
enum class [[nodiscard]] EnumZipResult{
    kOk = 0,
    kCreateFailed = 1,   // the archive file could not be created or truncated
    kNotOpen = 2,        // the archive was never opened or is already closed
    kSourceMissing = 3,  // the file to add cannot be read
    kAddFailed = 4,      // libzip refused the entry (bad or duplicate name)
    kWriteFailed = 5,    // completing the archive on disk failed
};

class ZipWriter {
 public:
  // Creates (or truncates) the archive at `path`. Returns nullptr when the
  // file cannot be created; the reason goes to the log.
  static std::unique_ptr<ZipWriter> create(const std::string& path);

  // Completes the archive if close() was not called; errors are only logged.
  ~ZipWriter();
  ZipWriter(const ZipWriter&) = delete;
  ZipWriter& operator=(const ZipWriter&) = delete;

  // Adds the file at `source_path` under `name_in_archive` (UTF-16, stored
  // as UTF-8; `\` becomes `/`), compressed with deflate. The source is read
  // when close() runs, so it must stay until then.
  // Returns kSourceMissing when `source_path` is not a readable regular file,
  // kAddFailed when the name is empty or already used, kNotOpen after close().
  [[nodiscard]] EnumZipResult addFile(const std::wstring& name_in_archive,
                                      const std::string& source_path);

  // Writes the archive to disk. An archive with no entries still becomes a
  // valid empty zip file. Returns kWriteFailed when that fails (the partial
  // file is removed), kNotOpen when already closed.
  [[nodiscard]] EnumZipResult close();

  const std::string& path() const { return path_; }

 private:
  ZipWriter(void* archive, std::string path);

  void* archive_;  // zip_t*, null once closed.
  std::string path_;
  int entries_ = 0;
};

}  // namespace websetup_zip

#endif  // WEBSETUP_ZIP_ZIP_WRITER_H_
