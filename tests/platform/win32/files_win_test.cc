// The Windows files and folders layer, run for real in a private folder of
// the temporary folder: sharing modes, offsets, non-ASCII names, folder
// rights and PE sections are where this backend differs from the posix one.

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/download_file.h"
#include "platform/executable_section.h"
#include "platform/files.h"
#include "platform/folders.h"
#include "platform/held_file.h"
#include "platform/paths.h"
#include "platform/win32/win_util.h"

// This test program carries a version section the way stamped programs do.
extern "C" __attribute__((section(".websetup_version"), used))
const char websetup_version_files_win_test[] = "ProductName=files test\nFileVersion=1.2.3.4\n";

namespace platform {
namespace {

using win::widen;

class FilesWinTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(makeUniqueFolder(tempDir(), "files-win-test-", &dir_), PlatformResult::kOk);
  }
  void TearDown() override {
    std::error_code ec;
    std::filesystem::remove_all(std::filesystem::path(widen(dir_)), ec);
  }
  std::string file(const std::string& name) const { return dir_ + "/" + name; }

  static std::string read(const std::string& path) {
    win::UniqueHandle h(CreateFileW(widen(path).c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                    nullptr));
    if (!h.valid()) return "<unreadable>";
    std::string bytes(1 << 20, '\0');
    DWORD n = 0;
    if (!ReadFile(h.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &n, nullptr)) return "";
    bytes.resize(n);
    return bytes;
  }
  static HANDLE openWith(const std::string& path, DWORD access, DWORD share) {
    return CreateFileW(widen(path).c_str(), access, share, nullptr, OPEN_EXISTING, 0, nullptr);
  }

  std::string dir_;
};

TEST_F(FilesWinTest, DownloadFileTakesInterleavedWritesFromTwoThreadsAndKeepsThemOnReopen) {
  const std::string path = file("download.bin");
  constexpr size_t kBlock = 4096;
  constexpr int kBlocks = 64;
  DownloadFile out;
  ASSERT_EQ(out.open(path), 0);
  // Each thread writes every other block, from the far end too, so a shared
  // file position would scatter the blocks.
  auto worker = [&](int parity) {
    const std::string block(kBlock, static_cast<char>('a' + parity));
    for (int i = kBlocks - 2 + parity; i >= 0; i -= 2) {
      EXPECT_EQ(out.writeAt(int64_t{i} * kBlock, block.data(), kBlock), kBlock);
    }
  };
  std::thread even(worker, 0), odd(worker, 1);
  even.join();
  odd.join();
  // A reader may look in while the download is open.
  EXPECT_EQ(fileSize(path), int64_t{kBlock * kBlocks});
  out.close();

  ASSERT_EQ(out.open(path), 0);  // an existing download keeps its bytes
  EXPECT_EQ(out.writeAt(kBlock - 1, "XY", 2), 2u);
  out.close();
  const std::string bytes = read(path);
  ASSERT_EQ(bytes.size(), kBlock * kBlocks);
  EXPECT_EQ(bytes.substr(kBlock - 2, 4), "aXYb");
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (i == kBlock - 1 || i == kBlock) continue;
    ASSERT_EQ(bytes[i], 'a' + static_cast<char>((i / kBlock) % 2)) << "at byte " << i;
  }
  EXPECT_EQ(out.writeAt(0, "z", 1), 0u);  // closed
}

TEST_F(FilesWinTest, DownloadFileHeldElsewhereIsASharingViolationAndRefusesOtherWriters) {
  const std::string path = file("held-elsewhere.bin");
  ASSERT_TRUE(replaceFileAtomically(path, "old"));
  HANDLE other = openWith(path, GENERIC_READ, 0);
  ASSERT_NE(other, INVALID_HANDLE_VALUE);
  DownloadFile out;
  EXPECT_EQ(out.open(path), IDownloadFile::kSharingViolation);
  EXPECT_FALSE(out.isOpen());
  CloseHandle(other);

  ASSERT_EQ(out.open(path), 0);
  HANDLE writer = openWith(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE);
  EXPECT_EQ(writer, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
  // A missing folder is an error of its own, not a sharing violation.
  DownloadFile stray;
  const int err = stray.open(file("no-such-folder/x.bin"));
  EXPECT_NE(err, 0);
  EXPECT_NE(err, IDownloadFile::kSharingViolation);
}

TEST_F(FilesWinTest, HeldFileKeepsWritersAndRenamesOutAndNamesItselfByItsFinalPath) {
  const std::string path = file("installer-\xc3\xa9.exe");  // "é"
  ASSERT_TRUE(replaceFileAtomically(path, "installer bytes"));
  HeldFile held;
  int osError = -1;
  ASSERT_EQ(HeldFile::open(path, &held, &osError), PlatformResult::kOk);
  EXPECT_EQ(osError, 0);
  EXPECT_EQ(held.origin(), path);
  // The final path of a short path comes back in the layer's own form.
  EXPECT_EQ(std::filesystem::path(widen(held.path())), std::filesystem::path(widen(path)));

  HANDLE writer =
      openWith(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
  EXPECT_EQ(writer, INVALID_HANDLE_VALUE);
  if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
  EXPECT_FALSE(DeleteFileW(widen(path).c_str()));
  EXPECT_FALSE(MoveFileExW(widen(path).c_str(), widen(file("swapped.exe")).c_str(), 0));
  EXPECT_EQ(read(held.path()), "installer bytes");  // readers still may

  EXPECT_EQ(held.copyTo(file("copy.exe")), PlatformResult::kOk);
  EXPECT_EQ(read(file("copy.exe")), "installer bytes");
  EXPECT_EQ(held.copyTo(file("copy.exe")), PlatformResult::kAlreadyExists);

  held = HeldFile();  // released: the file may go now
  EXPECT_TRUE(deleteFile(path));
  EXPECT_EQ(HeldFile::open(path, &held, &osError), PlatformResult::kNotFound);
  EXPECT_EQ(osError, static_cast<int>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(HeldFile::open(dir_, &held, &osError), PlatformResult::kAccessDenied);
}

TEST_F(FilesWinTest, HeldFileRefusesAFileSomeoneStillWrites) {
  const std::string path = file("still-written.exe");
  ASSERT_TRUE(replaceFileAtomically(path, "partial"));
  HANDLE writer = openWith(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE);
  ASSERT_NE(writer, INVALID_HANDLE_VALUE);
  HeldFile held;
  int osError = 0;
  EXPECT_EQ(HeldFile::open(path, &held, &osError), PlatformResult::kAccessDenied);
  EXPECT_EQ(osError, static_cast<int>(ERROR_SHARING_VIOLATION));
  EXPECT_FALSE(held.isOpen());
  EXPECT_TRUE(held.path().empty());
  CloseHandle(writer);
}

TEST_F(FilesWinTest, NonAsciiNamesListReplaceAndMeasure) {
  const std::string folder = file("\xe6\x97\xa5\xe6\x9c\xac");  // "日本"
  const std::string inner = folder + "/\xf0\x9f\x93\xa6";       // a character beyond 16 bits
  ASSERT_EQ(createDirectoryChain(inner + "/deeper"), PlatformResult::kOk);
  const std::string text = folder + "/caf\xc3\xa9.txt";
  ASSERT_TRUE(replaceFileAtomically(text, "first"));
  ASSERT_TRUE(replaceFileAtomically(text, "second!"));
  EXPECT_FALSE(pathExists(text + ".tmp"));
  EXPECT_EQ(fileSize(text), 7);
  EXPECT_TRUE(isRegularFile(text));
  EXPECT_FALSE(isRegularFile(folder));

  std::vector<FolderEntry> entries;
  ASSERT_EQ(listFolder(folder, &entries), PlatformResult::kOk);
  ASSERT_EQ(entries.size(), 2u);
  std::sort(entries.begin(), entries.end(),
            [](const FolderEntry& a, const FolderEntry& b) { return a.name < b.name; });
  EXPECT_EQ(entries[0].name, "caf\xc3\xa9.txt");
  EXPECT_FALSE(entries[0].isFolder);
  EXPECT_EQ(entries[1].name, "\xf0\x9f\x93\xa6");
  EXPECT_TRUE(entries[1].isFolder);

  ASSERT_EQ(listFolder(inner + "/deeper/", &entries), PlatformResult::kOk);
  EXPECT_TRUE(entries.empty());
  EXPECT_EQ(listFolder(folder + "/missing", &entries), PlatformResult::kNotFound);
  EXPECT_EQ(listFolder(text, &entries), PlatformResult::kNotFound);
}

// Gives Everyone full control of `path`, as a careless tool might.
bool openToEveryone(const std::string& path) {
  PSECURITY_DESCRIPTOR sd = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;OICI;FA;;;WD)", SDDL_REVISION_1,
                                                            &sd, nullptr)) {
    return false;
  }
  BOOL present = FALSE, defaulted = FALSE;
  PACL dacl = nullptr;
  GetSecurityDescriptorDacl(sd, &present, &dacl, &defaulted);
  std::wstring name = widen(path);
  const DWORD r = SetNamedSecurityInfoW(
      name.data(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
      nullptr, nullptr, dacl, nullptr);
  LocalFree(sd);
  return r == ERROR_SUCCESS;
}

TEST_F(FilesWinTest, PrivateFolderSetsAnOpenOneAsideAndRefusesUnderAnOpenParent) {
  const std::string cache = file("cache");
  ASSERT_EQ(createDirectoryChain(cache), PlatformResult::kOk);
  ASSERT_TRUE(replaceFileAtomically(cache + "/planted.exe", "not ours"));
  ASSERT_TRUE(openToEveryone(cache));
  ASSERT_EQ(ensurePrivateFolder(cache), PlatformResult::kOk);
  EXPECT_FALSE(pathExists(cache + "/planted.exe"));
  std::vector<FolderEntry> entries;
  ASSERT_EQ(listFolder(dir_, &entries), PlatformResult::kOk);
  const bool setAside = std::any_of(entries.begin(), entries.end(), [](const FolderEntry& e) {
    return e.name.rfind("cache.untrusted-", 0) == 0;
  });
  EXPECT_TRUE(setAside);
  EXPECT_EQ(ensurePrivateFolder(cache), PlatformResult::kOk);  // ours now: kept
  EXPECT_TRUE(replaceFileAtomically(cache + "/kept", "x"));
  EXPECT_EQ(ensurePrivateFolder(cache), PlatformResult::kOk);
  EXPECT_TRUE(pathExists(cache + "/kept"));

  const std::string open = file("open");
  ASSERT_EQ(createDirectoryChain(open), PlatformResult::kOk);
  ASSERT_TRUE(openToEveryone(open));
  EXPECT_EQ(ensurePrivateFolder(open + "/vendor/cache"), PlatformResult::kAccessDenied);
  EXPECT_EQ(ensurePrivateFolder("C:/"), PlatformResult::kInvalidArgument);
}

TEST(ExecutableSectionWinTest, ReadsTheVersionSectionOfThisProgram) {
  std::string section;
  ASSERT_EQ(readExecutableSection(modulePath(), ".websetup_version", &section),
            PlatformResult::kOk);
  EXPECT_EQ(section.rfind("ProductName=files test\nFileVersion=1.2.3.4\n", 0), 0u);
  EXPECT_EQ(readExecutableSection(modulePath(), ".websetup_version", &section, 8),
            PlatformResult::kInvalidArgument);
  EXPECT_TRUE(section.empty());
  EXPECT_EQ(readExecutableSection(modulePath(), ".no_such_section", &section),
            PlatformResult::kNotFound);
}

// A PE image cut to what the reader looks at: the DOS stub's pointer, the
// COFF header, an optional header of `magic`, the section table, a string
// table for long names, and each section's bytes.
struct PeSection {
  std::string name;  // a header name of at most 8 bytes, or a long one
  std::string bytes;
};
std::string tinyPe(const std::vector<PeSection>& sections, uint16_t magic = 0x20b) {
  auto put16 = [](std::string& s, size_t at, uint16_t v) {
    s[at] = static_cast<char>(v);
    s[at + 1] = static_cast<char>(v >> 8);
  };
  auto put32 = [&](std::string& s, size_t at, uint32_t v) {
    put16(s, at, static_cast<uint16_t>(v));
    put16(s, at + 2, static_cast<uint16_t>(v >> 16));
  };
  constexpr size_t kPe = 0x40, kOptional = 0xf0;
  const size_t table = kPe + 24 + kOptional;
  size_t data = table + 40 * sections.size();
  std::string strings(4, '\0');
  std::string image(data, '\0');
  image[0] = 'M';
  image[1] = 'Z';
  put32(image, 0x3c, kPe);
  std::memcpy(&image[kPe], "PE\0\0", 4);
  put16(image, kPe + 4, 0x8664);
  put16(image, kPe + 6, static_cast<uint16_t>(sections.size()));
  put16(image, kPe + 20, kOptional);
  put16(image, kPe + 24, magic);
  for (size_t i = 0; i < sections.size(); ++i) {
    const size_t h = table + 40 * i;
    std::string name = sections[i].name;
    if (name.size() > 8) {
      const std::string ref = "/" + std::to_string(strings.size());
      strings += name + '\0';
      name = ref;
    }
    std::memcpy(&image[h], name.data(), name.size());
    put32(image, h + 8, static_cast<uint32_t>(sections[i].bytes.size()));
    put32(image, h + 16, static_cast<uint32_t>((sections[i].bytes.size() + 511) / 512 * 512));
    put32(image, h + 20, static_cast<uint32_t>(image.size()));
    image += sections[i].bytes;
    image.resize((image.size() + 511) / 512 * 512, '\0');
  }
  if (strings.size() > 4) {
    put32(image, kPe + 12, static_cast<uint32_t>(image.size()));  // symbols: none, then strings
    put32(strings, 0, static_cast<uint32_t>(strings.size()));
    image += strings;
  }
  return image;
}

TEST_F(FilesWinTest, SectionNamesLongShortAndCutAsTheLinkerWritesThem) {
  std::string section;
  const std::string full = file("full.exe");
  ASSERT_TRUE(replaceFileAtomically(
      full, tinyPe({{".websetu", "decoy"}, {".websetup_version", "A=1\n"}, {".data", "d"}})));
  // A long name in the string table wins over a cut one that only starts
  // the same way.
  ASSERT_EQ(readExecutableSection(full, ".websetup_version", &section), PlatformResult::kOk);
  EXPECT_EQ(section, "A=1\n");
  ASSERT_EQ(readExecutableSection(full, ".data", &section), PlatformResult::kOk);
  EXPECT_EQ(section, "d");  // the virtual size, not the file's padding

  const std::string stripped = file("stripped.exe");
  ASSERT_TRUE(replaceFileAtomically(stripped, tinyPe({{".websetu", "B=2\n"}}, 0x10b)));
  ASSERT_EQ(readExecutableSection(stripped, ".websetup_version", &section), PlatformResult::kOk);
  EXPECT_EQ(section, "B=2\n");
  EXPECT_EQ(readExecutableSection(stripped, ".webs", &section), PlatformResult::kNotFound);

  const std::string rom = file("rom.exe");
  ASSERT_TRUE(replaceFileAtomically(rom, tinyPe({{".data", "d"}}, 0x107)));
  EXPECT_EQ(readExecutableSection(rom, ".data", &section), PlatformResult::kInvalidArgument);
  std::string cut = tinyPe({{".data", "d"}});
  cut.resize(0x40 + 24 + 0xf0 + 20);  // the section table runs past the end
  ASSERT_TRUE(replaceFileAtomically(file("cut.exe"), cut));
  EXPECT_EQ(readExecutableSection(file("cut.exe"), ".data", &section),
            PlatformResult::kInvalidArgument);
  ASSERT_TRUE(replaceFileAtomically(file("text.exe"), std::string(512, 'M')));
  EXPECT_EQ(readExecutableSection(file("text.exe"), ".data", &section),
            PlatformResult::kInvalidArgument);
  EXPECT_EQ(readExecutableSection(file("missing.exe"), ".data", &section),
            PlatformResult::kNotFound);
}

}  // namespace
}  // namespace platform
