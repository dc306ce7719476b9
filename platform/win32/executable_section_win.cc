// A named section of a PE image, and the version lines of a program.
//
// The version lines are answered from the file's VERSIONINFO resource
// (file_version_win.h): that is where websetup_stamp_version puts a
// Windows program's version, and where Windows and every other tool look
// for it. A file without one is still searched for a ".websetup_version"
// section, which programs built before the resource existed carry.
//
// PE section headers hold 8 bytes of name. A longer name lives in the
// COFF string table ("/<offset>"), which the linker writes only while the
// image keeps its symbols; a stripped image keeps the first 8 bytes alone
// (".websetu"). Both are found; the cut name only when no full one is.

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/executable_section.h"
#include "platform/win32/file_version_win.h"
#include "platform/win32/win_util.h"

namespace platform {
namespace {

constexpr uint16_t kPe32Magic = 0x10b;
constexpr uint16_t kPe32PlusMagic = 0x20b;
constexpr size_t kCoffSymbolSize = 18;
constexpr size_t kMaxLongName = 256;

bool readAt(HANDLE file, uint64_t offset, void* buf, size_t size) {
  size_t done = 0;
  while (done < size) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset + done);
    at.OffsetHigh = static_cast<DWORD>((offset + done) >> 32);
    DWORD n = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(size - done, 1u << 30));
    if (!ReadFile(file, static_cast<char*>(buf) + done, chunk, &n, &at) || n == 0) return false;
    done += n;
  }
  return true;
}

uint16_t le16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t le32(const unsigned char* p) {
  return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

// A section header's name: its 8 bytes, or the string-table name they
// point to.
std::string sectionName(HANDLE file, uint64_t fileSize, const unsigned char raw[8],
                        uint64_t stringTable) {
  std::string name(reinterpret_cast<const char*>(raw),
                   strnlen(reinterpret_cast<const char*>(raw), 8));
  if (name.size() < 2 || name[0] != '/' || stringTable == 0) return name;
  if (name.find_first_not_of("0123456789", 1) != std::string::npos) return name;
  const uint64_t at = stringTable + std::stoull(name.substr(1));
  if (at >= fileSize) return name;
  std::string full(static_cast<size_t>(std::min<uint64_t>(kMaxLongName, fileSize - at)), '\0');
  if (!readAt(file, at, full.data(), full.size())) return name;
  full.resize(strnlen(full.c_str(), full.size()));
  return full;
}

PlatformResult findSection(HANDLE file, const std::string& name, std::string* out,
                           size_t maxBytes) {
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file, &size)) return win::lastResult();
  const uint64_t fileSize = static_cast<uint64_t>(size.QuadPart);
  unsigned char dos[64];
  if (!readAt(file, 0, dos, sizeof dos) || dos[0] != 'M' || dos[1] != 'Z') {
    return PlatformResult::kInvalidArgument;
  }
  const uint64_t pe = le32(dos + 0x3c);
  // Signature, COFF header, and the optional header's magic.
  unsigned char head[4 + 20 + 2];
  if (pe + sizeof head > fileSize || !readAt(file, pe, head, sizeof head) ||
      std::memcmp(head, "PE\0\0", 4) != 0) {
    return PlatformResult::kInvalidArgument;
  }
  const unsigned char* coff = head + 4;
  const uint16_t sectionCount = le16(coff + 2);
  const uint32_t symbolTable = le32(coff + 8);
  const uint32_t symbolCount = le32(coff + 12);
  const uint16_t optionalSize = le16(coff + 16);
  const uint16_t magic = le16(head + 24);
  if (optionalSize < 2 || (magic != kPe32Magic && magic != kPe32PlusMagic)) {
    return PlatformResult::kInvalidArgument;
  }
  const uint64_t table = pe + 4 + 20 + optionalSize;
  if (sectionCount == 0) return PlatformResult::kNotFound;
  if (table + uint64_t{sectionCount} * IMAGE_SIZEOF_SECTION_HEADER > fileSize) {
    return PlatformResult::kInvalidArgument;
  }
  std::vector<unsigned char> headers(size_t{sectionCount} * IMAGE_SIZEOF_SECTION_HEADER);
  if (!readAt(file, table, headers.data(), headers.size())) return PlatformResult::kIoError;
  const uint64_t stringTable =
      symbolTable == 0 ? 0 : uint64_t{symbolTable} + uint64_t{symbolCount} * kCoffSymbolSize;

  const unsigned char* chosen = nullptr;
  const unsigned char* cut = nullptr;
  for (uint16_t i = 0; i < sectionCount; ++i) {
    const unsigned char* h = headers.data() + size_t{i} * IMAGE_SIZEOF_SECTION_HEADER;
    const std::string own = sectionName(file, fileSize, h, stringTable);
    if (own == name) {
      chosen = h;
      break;
    }
    if (cut == nullptr && name.size() > 8 && own.size() == 8 && name.compare(0, 8, own) == 0) {
      cut = h;
    }
  }
  if (chosen == nullptr) chosen = cut;
  if (chosen == nullptr) return PlatformResult::kNotFound;

  const uint32_t virtualSize = le32(chosen + 8);
  const uint32_t rawSize = le32(chosen + 16);
  const uint32_t rawOffset = le32(chosen + 20);
  // Uninitialised data (like .bss) has no bytes in the file.
  if (rawSize == 0 || rawOffset == 0) return PlatformResult::kNotFound;
  // The file rounds sections up to its alignment; the virtual size is the
  // section's own, unless the linker left it 0.
  const uint32_t length = virtualSize == 0 ? rawSize : std::min(virtualSize, rawSize);
  if (rawOffset > fileSize || length > fileSize - rawOffset || length > maxBytes) {
    return PlatformResult::kInvalidArgument;
  }
  out->assign(length, '\0');
  if (!readAt(file, rawOffset, out->data(), out->size())) return PlatformResult::kIoError;
  return PlatformResult::kOk;
}

}  // namespace

PlatformResult readExecutableSection(const std::string& path, const std::string& name,
                                     std::string* out, size_t maxBytes) {
  out->clear();
  if (name == win::kVersionSectionName) {
    const PlatformResult r = win::readVersionResourceLines(path, out, maxBytes);
    if (r != PlatformResult::kNotFound) return r;
  }
  // Every share mode: the file may be held for its start, or still open
  // in a download.
  win::UniqueHandle file(CreateFileW(win::widen(path).c_str(), GENERIC_READ,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) return win::lastResult();
  const PlatformResult r = findSection(file.get(), name, out, maxBytes);
  if (r != PlatformResult::kOk) out->clear();
  return r;
}

}  // namespace platform
