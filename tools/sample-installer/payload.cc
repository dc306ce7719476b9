#include "payload.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace sample_installer {
namespace {

constexpr char kPayloadMagic[8] = {'S', 'P', 'A', 'Y', 'L', 'D', '0', '1'};
constexpr uint64_t kPayloadTrailerLen = 24;
constexpr char kSignatureMagic[] = "~Module signature appended~\n";
constexpr uint64_t kSignatureMagicLen = sizeof(kSignatureMagic) - 1;
constexpr uint64_t kSignatureTrailerLen = 12;
constexpr size_t kChunk = 256 * 1024;

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

// Where the content ends: before the appended signature when there is one.
// False when a signature trailer claims more bytes than the file has.
bool contentLength(std::ifstream& in, uint64_t size, uint64_t* length) {
  *length = size;
  unsigned char tail[kSignatureTrailerLen + kSignatureMagicLen];
  if (size < sizeof(tail) || !readAt(in, size - sizeof(tail), tail, sizeof(tail))) return true;
  if (std::memcmp(tail + kSignatureTrailerLen, kSignatureMagic, kSignatureMagicLen) != 0) {
    return true;
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
PayloadResult readHeader(std::ifstream& in, uint64_t* pos, uint64_t archiveEnd,
                         PayloadEntry* entry, bool* end) {
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
  std::ifstream in(path, std::ios::binary);
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
  std::ifstream in(path, std::ios::binary);
  out->assign(entry.size, '\0');
  if (!in || !readAt(in, entry.offset, out->data(), out->size())) return PayloadResult::kUnreadable;
  return PayloadResult::kOk;
}

PayloadResult extractEntry(const std::string& path, const PayloadEntry& entry,
                           const std::string& target, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  in.seekg(static_cast<std::streamoff>(entry.offset));
  if (!in) {
    *error = "cannot read " + path;
    return PayloadResult::kUnreadable;
  }
  const std::string part = target + ".part";
  std::ofstream out(part, std::ios::binary | std::ios::trunc);
  std::vector<char> buf(kChunk);
  for (uint64_t left = entry.size; left > 0 && out;) {
    const auto n = static_cast<std::streamsize>(std::min<uint64_t>(left, buf.size()));
    if (!in.read(buf.data(), n)) {
      *error = "cannot read " + path;
      std::remove(part.c_str());
      return PayloadResult::kUnreadable;
    }
    out.write(buf.data(), n);
    left -= static_cast<uint64_t>(n);
  }
  out.close();
  if (!out || ::chmod(part.c_str(), entry.mode) != 0 ||
      std::rename(part.c_str(), target.c_str()) != 0) {
    *error = "cannot write " + target + ": " + std::strerror(errno);
    std::remove(part.c_str());
    return PayloadResult::kWriteFailed;
  }
  return PayloadResult::kOk;
}

PayloadResult writeInstaller(const std::string& stub, const std::vector<PayloadSource>& files,
                             uint64_t totalSize, const std::string& out, std::string* error) {
  const std::string tmp = out + ".tmp";
  std::ofstream dst(tmp, std::ios::binary | std::ios::trunc);
  if (!dst) {
    // Most often the output's folder is not there yet (a build step that
    // runs too early): the reason is what tells that apart.
    *error = "cannot write " + tmp + ": " + std::strerror(errno);
    return PayloadResult::kWriteFailed;
  }
  // A run that fails part way leaves no half-written file for the next one.
  auto fail = [&dst, &tmp](PayloadResult r) {
    dst.close();
    std::remove(tmp.c_str());
    return r;
  };
  auto copy = [&dst, error](const std::string& from) {
    std::ifstream src(from, std::ios::binary);
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
    const uint64_t size = std::filesystem::file_size(file.path, ec);
    struct stat st {};
    if (ec || ::stat(file.path.c_str(), &st) != 0) {
      *error = "cannot read " + file.path + ": " + (ec ? ec.message() : std::strerror(errno));
      return fail(PayloadResult::kUnreadable);
    }
    std::string header;
    putLittleEndian(&header, file.name.size(), 2);
    header += file.name;
    putLittleEndian(&header, st.st_mode & 07777, 4);
    putLittleEndian(&header, size, 8);
    dst.write(header.data(), static_cast<std::streamsize>(header.size()));
    if (!copy(file.path)) return fail(PayloadResult::kUnreadable);
  }
  dst.write("\0\0", 2);
  const uint64_t used = static_cast<uint64_t>(dst.tellp()) + kPayloadTrailerLen;
  const std::vector<char> zeros(kChunk, '\0');
  for (uint64_t left = totalSize > used ? totalSize - used : 0; left > 0 && dst;) {
    const auto n = static_cast<std::streamsize>(std::min<uint64_t>(left, zeros.size()));
    dst.write(zeros.data(), n);
    left -= static_cast<uint64_t>(n);
  }
  std::string trailer(kPayloadMagic, sizeof(kPayloadMagic));
  putLittleEndian(&trailer, static_cast<uint64_t>(dst.tellp()) - archiveStart, 8);
  putLittleEndian(&trailer, files.size(), 8);
  dst.write(trailer.data(), static_cast<std::streamsize>(trailer.size()));
  dst.close();
  if (!dst || ::chmod(tmp.c_str(), 0755) != 0 || std::rename(tmp.c_str(), out.c_str()) != 0) {
    *error = "cannot write " + out + ": " + std::strerror(errno);
    std::remove(tmp.c_str());
    return PayloadResult::kWriteFailed;
  }
  return PayloadResult::kOk;
}

}  // namespace sample_installer
