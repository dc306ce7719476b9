#include "platform/executable_section.h"

#include <elf.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace platform {
namespace {

// Reads exactly `size` bytes at `offset`; false on a short read.
bool readAt(int fd, uint64_t offset, void* buf, size_t size) {
  size_t done = 0;
  while (done < size) {
    const ssize_t n = pread(fd, static_cast<char*>(buf) + done, size - done,
                            static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

struct Section {
  uint32_t nameOffset;
  uint32_t type;
  uint64_t offset;
  uint64_t size;
};

// The section table of an ELF file of class Ehdr/Shdr, normalised.
template <typename Ehdr, typename Shdr>
PlatformResult readSections(int fd, uint64_t fileSize, std::vector<Section>* sections,
                            uint16_t* nameIndex) {
  Ehdr eh{};
  if (!readAt(fd, 0, &eh, sizeof(eh))) return PlatformResult::kInvalidArgument;
  if (eh.e_shentsize != sizeof(Shdr) || eh.e_shnum == 0) return PlatformResult::kNotFound;
  const uint64_t tableEnd = static_cast<uint64_t>(eh.e_shoff) + uint64_t{eh.e_shnum} * sizeof(Shdr);
  if (tableEnd > fileSize || eh.e_shstrndx >= eh.e_shnum) return PlatformResult::kInvalidArgument;
  std::vector<Shdr> raw(eh.e_shnum);
  if (!readAt(fd, eh.e_shoff, raw.data(), raw.size() * sizeof(Shdr))) {
    return PlatformResult::kIoError;
  }
  for (const auto& s : raw) sections->push_back({s.sh_name, s.sh_type, s.sh_offset, s.sh_size});
  *nameIndex = eh.e_shstrndx;
  return PlatformResult::kOk;
}

bool fits(const Section& s, uint64_t fileSize) {
  return s.offset <= fileSize && s.size <= fileSize - s.offset;
}

PlatformResult findSection(int fd, const std::string& name, std::string* out, size_t maxBytes) {
  struct stat st {};
  if (fstat(fd, &st) != 0) return resultFromErrno(errno);
  const uint64_t fileSize = static_cast<uint64_t>(st.st_size);
  unsigned char ident[EI_NIDENT];
  if (!readAt(fd, 0, ident, sizeof(ident)) || std::memcmp(ident, ELFMAG, SELFMAG) != 0) {
    return PlatformResult::kInvalidArgument;
  }
  const unsigned char native = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__ ? ELFDATA2LSB : ELFDATA2MSB;
  if (ident[EI_DATA] != native) return PlatformResult::kInvalidArgument;
  std::vector<Section> sections;
  uint16_t nameIndex = 0;
  PlatformResult r = PlatformResult::kInvalidArgument;
  if (ident[EI_CLASS] == ELFCLASS64) {
    r = readSections<Elf64_Ehdr, Elf64_Shdr>(fd, fileSize, &sections, &nameIndex);
  } else if (ident[EI_CLASS] == ELFCLASS32) {
    r = readSections<Elf32_Ehdr, Elf32_Shdr>(fd, fileSize, &sections, &nameIndex);
  }
  if (r != PlatformResult::kOk) return r;

  const Section& names = sections[nameIndex];
  if (!fits(names, fileSize) || names.size > (16u << 20)) return PlatformResult::kInvalidArgument;
  std::string table(names.size, '\0');
  if (!readAt(fd, names.offset, table.data(), table.size())) return PlatformResult::kIoError;
  for (const auto& s : sections) {
    if (s.nameOffset >= table.size() || std::strncmp(table.c_str() + s.nameOffset, name.c_str(),
                                                     table.size() - s.nameOffset) != 0 ||
        std::strlen(table.c_str() + s.nameOffset) != name.size()) {
      continue;
    }
    // A section without bytes in the file (like .bss) has nothing to read.
    if (s.type == SHT_NOBITS) return PlatformResult::kNotFound;
    if (!fits(s, fileSize) || s.size > maxBytes) return PlatformResult::kInvalidArgument;
    out->assign(s.size, '\0');
    if (!readAt(fd, s.offset, out->data(), out->size())) return PlatformResult::kIoError;
    return PlatformResult::kOk;
  }
  return PlatformResult::kNotFound;
}

}  // namespace

PlatformResult readExecutableSection(const std::string& path, const std::string& name,
                                     std::string* out, size_t maxBytes) {
  out->clear();
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT ? PlatformResult::kNotFound : resultFromErrno(errno);
  const PlatformResult r = findSection(fd, name, out, maxBytes);
  close(fd);
  if (r != PlatformResult::kOk) out->clear();
  return r;
}

}  // namespace platform
