#ifndef WEBSETUP_TOOLS_SAMPLE_INSTALLER_PAYLOAD_H_
#define WEBSETUP_TOOLS_SAMPLE_INSTALLER_PAYLOAD_H_

// The sample installer's payload: the product's files, appended to the
// installer program and found again from the end of the file.
//
//   [installer program][archive][trailer][appended signature, optional]
//
// archive  entries, each: u16 name length, the name (UTF-8, relative, '/'
//          between steps), u32 permission bits, u64 size, the bytes; then a
//          u16 0 that ends the list; then filler bytes, so the download is
//          as large as a real product's installer.
// trailer  "SPAYLD01", u64 archive length, u64 entry count.
// Numbers are little-endian. The signature that sign-file appends later
// (content, DER signature, 12-byte module_signature trailer, magic text)
// is skipped through its own trailer, so signing never hides the payload.
// Free functions; thread-safe.

#include <cstdint>
#include <string>
#include <vector>

namespace sample_installer {

// Outcome of reading or writing a payload. The numbers reach the log.
enum class PayloadResult {
  kOk = 0,
  kUnreadable = 1,  // the file cannot be opened or read
  kNoPayload = 2,   // no trailer: a bare program, or a damaged end
  kCorrupt = 3,     // a trailer, but entries that do not fit or are unsafe
  kWriteFailed = 4,
};

const char* payloadResultName(PayloadResult r);

// One file in the archive.
struct PayloadEntry {
  std::string name;
  uint32_t mode = 0644;
  uint64_t offset = 0;  // of the first byte, from the start of the file
  uint64_t size = 0;
};

// Lists the entries of the payload that the file at `path` carries, in
// archive order, into *entries. Returns kOk, kUnreadable, kNoPayload, or
// kCorrupt when an entry runs past the archive or names a path outside the
// install folder (absolute, empty step, "..").
[[nodiscard]] PayloadResult readPayloadIndex(const std::string& path,
                                             std::vector<PayloadEntry>* entries);

// Reads the bytes of `entry` of the file at `path` into *out (for small
// entries such as the manifest). Returns kOk or kUnreadable.
[[nodiscard]] PayloadResult readEntry(const std::string& path, const PayloadEntry& entry,
                                      std::string* out);

// Copies the bytes of `entry` of the file at `path` to `target`, through a
// temporary file renamed into place so a half-written file never carries
// the real name, and gives it the entry's permission bits. Returns kOk,
// kUnreadable, or kWriteFailed with the reason in *error.
[[nodiscard]] PayloadResult extractEntry(const std::string& path, const PayloadEntry& entry,
                                         const std::string& target, std::string* error);

// A file to put into a new archive: its name there and where it is now.
struct PayloadSource {
  std::string name;
  std::string path;
};

// Writes to `out` the program `stub` followed by an archive of `files`,
// filler and the trailer, so the whole file is `totalSize` bytes (or just
// as long as needed when that is too small), runnable (0755). Returns kOk,
// kUnreadable when an input cannot be read, or kWriteFailed, with the file
// and the system's reason in *error; a failure leaves no file behind.
[[nodiscard]] PayloadResult writeInstaller(const std::string& stub,
                                           const std::vector<PayloadSource>& files,
                                           uint64_t totalSize, const std::string& out,
                                           std::string* error);

}  // namespace sample_installer

#endif  // WEBSETUP_TOOLS_SAMPLE_INSTALLER_PAYLOAD_H_
