#ifndef WEBSETUP_TOOLS_SAMPLE_INSTALLER_PAYLOAD_H_
#define WEBSETUP_TOOLS_SAMPLE_INSTALLER_PAYLOAD_H_

// The sample installer's payload: the product's files, appended to the
// installer program and found again from the end of the file.
//
//   [installer program][archive][trailer][signature, optional]
//
// archive  entries, each: u16 name length, the name (UTF-8, relative, '/'
//          between steps), u32 permission bits, u64 size, the bytes; then a
//          u16 0 that ends the list; then filler bytes, so the download is
//          as large as a real product's installer and its length a multiple
//          of 8.
// trailer  "SPAYLD01", u64 archive length, u64 entry count.
// Numbers are little-endian. A signature added later is skipped, so signing
// never hides the payload:
//  - Linux: what sign-file appends (DER signature, 12-byte module_signature
//    trailer, magic text), through its own trailer;
//  - Windows: the Authenticode certificate table that signtool or
//    osslsigncode appends to a PE program, through the PE's security
//    directory entry, which gives the table's offset. To a PE the archive
//    is the overlay after its last section, which Authenticode's digest
//    covers, so a changed payload byte breaks the signature. The signers
//    pad what they sign to 8 bytes; the filler keeps that padding from
//    coming between the trailer and the table.
// Free functions; thread-safe.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace sample_installer {

// Paths are UTF-8 text here; std::filesystem's narrow strings are the ANSI
// code page on Windows, so every path crosses over through these two.
std::filesystem::path filePath(const std::string& utf8);
std::string pathText(const std::filesystem::path& path);

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
// archive order, into *entries. Returns kOk, kUnreadable, kNoPayload (also
// when a signature's length or offset points past the end of the file), or
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
// filler and the trailer, so the whole file is `totalSize` bytes rounded up
// to a multiple of 8 (or just as long as needed when that is too small),
// runnable (0755). Returns kOk,
// kUnreadable when an input cannot be read, or kWriteFailed, with the file
// and the system's reason in *error; a failure leaves no file behind.
[[nodiscard]] PayloadResult writeInstaller(const std::string& stub,
                                           const std::vector<PayloadSource>& files,
                                           uint64_t totalSize, const std::string& out,
                                           std::string* error);

}  // namespace sample_installer

#endif  // WEBSETUP_TOOLS_SAMPLE_INSTALLER_PAYLOAD_H_
