#include "payload.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>

namespace sample_installer {
namespace {

namespace fs = std::filesystem;

constexpr char kPayloadMagic[8] = {'S', 'P', 'A', 'Y', 'L', 'D', '0', '1'};
constexpr uint64_t kPayloadTrailerLen = 24;
constexpr char kSignatureMagic[] = "~Module signature appended~\n";
constexpr uint64_t kSignatureMagicLen = sizeof(kSignatureMagic) - 1;
constexpr uint64_t kSignatureTrailerLen = 12;
constexpr size_t kChunk = 256 * 1024;
constexpr uint64_t kAlignment = 8;
// PE layout: the DOS header's pointer to the PE header, the optional
// header's magic numbers, and where each keeps its data directories.
constexpr uint64_t kPeHeaderPointer = 0x3c;
constexpr uint16_t kPe32Magic = 0x10b;
constexpr uint16_t kPe32PlusMagic = 0x20b;
constexpr uint64_t kPe32Directories = 96;
constexpr uint64_t kPe32PlusDirectories = 112;
constexpr uint64_t kSecurityDirectory = 4;

uint64_t littleEndian(const unsigned char* p, int bytes) {
  uint64_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

void putLittleEndian(std::string* out, uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) out->push_back(static_cast<char>((v >> (8 * i)) & 0xff));
}

bool readAt(std::ifstream& in, uint64_t offset, void* buf, size_t len) {
  in.clear();
  in.seekg(static_cast<std::streamoff>(offset));
  return static_cast<bool>(in.read(static_cast<char*>(buf), static_cast<std::streamsize>(len)));
}

// Where the content of a PE program ends: at its Authenticode certificate
// table, when its security directory entry names one. False when that
// table runs past the end of the file (a download cut short).
bool peContentLength(std::ifstream& in, uint64_t size, uint64_t* length) {
  unsigned char dos[kPeHeaderPointer + 4];
  if (size < sizeof(dos) || !readAt(in, 0, dos, sizeof(dos)) || dos[0] != 'M' || dos[1] != 'Z') {
    return true;
  }
  // Signature, COFF header, and the optional header up to its directories.
  const uint64_t pe = littleEndian(dos + kPeHeaderPointer, 4);
  unsigned char head[4 + 20 + kPe32PlusDirectories];
  if (pe > size || size - pe < sizeof(head) || !readAt(in, pe, head, sizeof(head)) ||
      std::memcmp(head, "PE\0\0", 4) != 0) {
    return true;
  }
  const uint64_t optionalSize = littleEndian(head + 4 + 16, 2);
  const uint64_t magic = littleEndian(head + 24, 2);
  if (magic != kPe32Magic && magic != kPe32PlusMagic) return true;
  const uint64_t directories = magic == kPe32Magic ? kPe32Directories : kPe32PlusDirectories;
  // The directory count is the last field before the directories.
  const uint64_t count = littleEndian(head + 24 + directories - 4, 4);
  const uint64_t entry = directories + kSecurityDirectory * 8;
  if (count <= kSecurityDirectory || optionalSize < entry + 8) return true;
  unsigned char security[8];
  if (!readAt(in, pe + 24 + entry, security, sizeof(security))) return true;
  // The one directory whose address is a file offset, not a memory one.
  const uint64_t offset = littleEndian(security, 4);
  const uint64_t tableSize = littleEndian(security + 4, 4);
  if (offset == 0 || tableSize == 0) return true;
  if (offset > size || tableSize > size - offset) return false;
  *length = offset;
  return true;
}

// Where the content ends: before the signature when there is one. False
// when a signature claims more bytes than the file has.
bool contentLength(std::ifstream& in, uint64_t size, uint64_t* length) {
  *length = size;
  unsigned char tail[kSignatureTrailerLen + kSignatureMagicLen];
  if (size < sizeof(tail) || !readAt(in, size - sizeof(tail), tail, sizeof(tail))) return true;
  if (std::memcmp(tail + kSignatureTrailerLen, kSignatureMagic, kSignatureMagicLen) != 0) {
    return peContentLength(in, size, length);
  }
  // sig_len is the one big-endian number of the module_signature trailer.
  const uint64_t sigLen = (uint64_t{tail[8]} << 24) | (uint64_t{tail[9]} << 16) |
                          (uint64_t{tail[10]} << 8) | tail[11];
  if (sigLen > size - sizeof(tail)) return false;
  *length = size - sizeof(tail) - sigLen;
  return true;
}

// A name that stays inside the install folder wherever it is joined.
bool safeName(const std::string& name) {
  if (name.empty() || name.front() == '/' || name.find('\0') != std::string::npos) return false;
  size_t pos = 0;
  while (pos <= name.size()) {
    size_t end = name.find('/', pos);
    if (end == std::string::npos) end = name.size();
    const std::string step = name.substr(pos, end - pos);
    if (step.empty() || step == "." || step == "..") return false;
    pos = end + 1;
  }
  return true;
}

// Reads the entry header at *pos (advancing it past the entry's bytes).
// *end is set when the header is the end marker.
PayloadResult readHeader(std::ifstream& in, uint64_t* pos, uint64_t archiveEnd, PayloadEntry* entry,
                         bool* end) {
  unsigned char len[2];
  if (*pos + 2 > archiveEnd || !readAt(in, *pos, len, 2)) return PayloadResult::kCorrupt;
  const uint64_t nameLen = littleEndian(len, 2);
  *pos += 2;
  *end = nameLen == 0;
  if (*end) return PayloadResult::kOk;
  if (*pos + nameLen + 12 > archiveEnd) return PayloadResult::kCorrupt;
  entry->name.assign(nameLen, '\0');
  unsigned char fixed[12];
  if (!in.read(entry->name.data(), static_cast<std::streamsize>(nameLen)) ||
      !in.read(reinterpret_cast<char*>(fixed), sizeof(fixed))) {
    return PayloadResult::kCorrupt;
  }
  entry->mode = static_cast<uint32_t>(littleEndian(fixed, 4)) & 07777;
  entry->size = littleEndian(fixed + 4, 8);
  entry->offset = *pos + nameLen + 12;
  if (!safeName(entry->name) || entry->size > archiveEnd - entry->offset) {
    return PayloadResult::kCorrupt;
  }
  *pos = entry->offset + entry->size;
  return PayloadResult::kOk;
}

}  // namespace

fs::path filePath(const std::string& utf8) {
  return fs::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string pathText(const fs::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

const char* payloadResultName(PayloadResult r) {
  switch (r) {
    case PayloadResult::kOk: return "ok";
    case PayloadResult::kUnreadable: return "unreadable";
    case PayloadResult::kNoPayload: return "no payload";
    case PayloadResult::kCorrupt: return "corrupt payload";
    case PayloadResult::kWriteFailed: return "write failed";
  }
  return "unknown";
}

PayloadResult readPayloadIndex(const std::string& path, std::vector<PayloadEntry>* entries) {
  entries->clear();
  std::ifstream in(filePath(path), std::ios::binary);
  if (!in) return PayloadResult::kUnreadable;
  in.seekg(0, std::ios::end);
  const std::streamoff end = in.tellg();
  if (end < 0) return PayloadResult::kUnreadable;
  uint64_t content = 0;
  if (!contentLength(in, static_cast<uint64_t>(end), &content)) return PayloadResult::kNoPayload;
  unsigned char trailer[kPayloadTrailerLen];
  if (content < kPayloadTrailerLen ||
      !readAt(in, content - kPayloadTrailerLen, trailer, sizeof(trailer)) ||
      std::memcmp(trailer, kPayloadMagic, sizeof(kPayloadMagic)) != 0) {
    return PayloadResult::kNoPayload;
  }
  const uint64_t archiveLen = littleEndian(trailer + 8, 8);
  const uint64_t count = littleEndian(trailer + 16, 8);
  const uint64_t archiveEnd = content - kPayloadTrailerLen;
  if (archiveLen > archiveEnd) return PayloadResult::kCorrupt;
  uint64_t pos = archiveEnd - archiveLen;
  for (uint64_t i = 0; i <= count; ++i) {
    PayloadEntry entry;
    bool last = false;
    const PayloadResult r = readHeader(in, &pos, archiveEnd, &entry, &last);
    if (r != PayloadResult::kOk) return r;
    // The end marker must come exactly after the counted entries; anything
    // else means the trailer and the archive disagree.
    if (last != (i == count)) return PayloadResult::kCorrupt;
    if (!last) entries->push_back(std::move(entry));
  }
  return PayloadResult::kOk;
}

PayloadResult readEntry(const std::string& path, const PayloadEntry& entry, std::string* out) {
  std::ifstream in(filePath(path), std::ios::binary);
  out->assign(entry.size, '\0');
  if (!in || !readAt(in, entry.offset, out->data(), out->size())) return PayloadResult::kUnreadable;
  return PayloadResult::kOk;
}

PayloadResult extractEntry(const std::string& path, const PayloadEntry& entry,
                           const std::string& target, std::string* error) {
  std::ifstream in(filePath(path), std::ios::binary);
  in.seekg(static_cast<std::streamoff>(entry.offset));
  if (!in) {
    *error = "cannot read " + path;
    return PayloadResult::kUnreadable;
  }
  const fs::path part = filePath(target + ".part");
  std::ofstream out(part, std::ios::binary | std::ios::trunc);
  std::vector<char> buf(kChunk);
  std::error_code ec;
  for (uint64_t left = entry.size; left > 0 && out;) {
    const auto n = static_cast<std::streamsize>(std::min<uint64_t>(left, buf.size()));
    if (!in.read(buf.data(), n)) {
      *error = "cannot read " + path;
      fs::remove(part, ec);
      return PayloadResult::kUnreadable;
    }
    out.write(buf.data(), n);
    left -= static_cast<uint64_t>(n);
  }
  out.close();
  const bool written = static_cast<bool>(out);
  const std::string reason = written ? "" : std::strerror(errno);
  // Windows keeps only the owner's write bit, as the read-only attribute.
  if (written) fs::permissions(part, static_cast<fs::perms>(entry.mode), ec);
  if (written && !ec) fs::rename(part, filePath(target), ec);
  if (!written || ec) {
    *error = "cannot write " + target + ": " + (ec ? ec.message() : reason);
    fs::remove(part, ec);
    return PayloadResult::kWriteFailed;
  }
  return PayloadResult::kOk;
}

PayloadResult writeInstaller(const std::string& stub, const std::vector<PayloadSource>& files,
                             uint64_t totalSize, const std::string& out, std::string* error) {
  const std::string tmp = out + ".tmp";
  std::ofstream dst(filePath(tmp), std::ios::binary | std::ios::trunc);
  if (!dst) {
    // Most often the output's folder is not there yet (a build step that
    // runs too early): the reason is what tells that apart.
    *error = "cannot write " + tmp + ": " + std::strerror(errno);
    return PayloadResult::kWriteFailed;
  }
  // A run that fails part way leaves no half-written file for the next one.
  auto fail = [&dst, &tmp](PayloadResult r) {
    dst.close();
    std::error_code ignored;
    fs::remove(filePath(tmp), ignored);
    return r;
  };
  auto copy = [&dst, error](const std::string& from) {
    std::ifstream src(filePath(from), std::ios::binary);
    if (!src) {
      *error = "cannot read " + from + ": " + std::strerror(errno);
      return false;
    }
    dst << src.rdbuf();
    return true;
  };
  if (!copy(stub)) return fail(PayloadResult::kUnreadable);
  const auto archiveStart = static_cast<uint64_t>(dst.tellp());
  for (const PayloadSource& file : files) {
    std::error_code ec;
    const uint64_t size = fs::file_size(filePath(file.path), ec);
    const fs::file_status status = ec ? fs::file_status() : fs::status(filePath(file.path), ec);
    if (ec) {
      *error = "cannot read " + file.path + ": " + ec.message();
      return fail(PayloadResult::kUnreadable);
    }
    std::string header;
    putLittleEndian(&header, file.name.size(), 2);
    header += file.name;
    putLittleEndian(&header, static_cast<uint64_t>(status.permissions()) & 07777, 4);
    putLittleEndian(&header, size, 8);
    dst.write(header.data(), static_cast<std::streamsize>(header.size()));
    if (!copy(file.path)) return fail(PayloadResult::kUnreadable);
  }
  dst.write("\0\0", 2);
  const uint64_t used = static_cast<uint64_t>(dst.tellp()) + kPayloadTrailerLen;
  const uint64_t wanted = std::max(totalSize, used);
  const uint64_t aligned = (wanted + kAlignment - 1) / kAlignment * kAlignment;
  const std::vector<char> zeros(kChunk, '\0');
  for (uint64_t left = aligned - used; left > 0 && dst;) {
    const auto n = static_cast<std::streamsize>(std::min<uint64_t>(left, zeros.size()));
    dst.write(zeros.data(), n);
    left -= static_cast<uint64_t>(n);
  }
  std::string trailer(kPayloadMagic, sizeof(kPayloadMagic));
  putLittleEndian(&trailer, static_cast<uint64_t>(dst.tellp()) - archiveStart, 8);
  putLittleEndian(&trailer, files.size(), 8);
  dst.write(trailer.data(), static_cast<std::streamsize>(trailer.size()));
  dst.close();
  const bool written = static_cast<bool>(dst);
  const std::string reason = written ? "" : std::strerror(errno);
  std::error_code ec;
  if (written) fs::permissions(filePath(tmp), static_cast<fs::perms>(0755), ec);
  if (written && !ec) fs::rename(filePath(tmp), filePath(out), ec);
  if (!written || ec) {
    *error = "cannot write " + out + ": " + (ec ? ec.message() : reason);
    fs::remove(filePath(tmp), ec);
    return PayloadResult::kWriteFailed;
  }
  return PayloadResult::kOk;
}

}  // namespace sample_installer
