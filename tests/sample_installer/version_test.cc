// The versions the build stamps into programs, read back as the setup reads
// a file's version: from the ELF section on Linux, from the VERSIONINFO
// resource on Windows.

#include <gtest/gtest.h>

#include <string>

#include "common/text.h"
#include "platform/executable_section.h"
#include "platform/paths.h"
#include "system/file_trust.h"

namespace {

using FuntionImpl::GetFileVersion;
using FuntionImpl::GetFileVersionStrings;
using FuntionImpl::VersionStrings;

const std::string kArtefacts = SAMPLE_INSTALLER_DIR;

std::wstring wide(const std::string& path) { return common::utf8ToWide(path); }

// The version lines of `path`, as the system services see them.
std::string versionLines(const std::string& path) {
  std::string lines;
  if (platform::readExecutableSection(path, FuntionImpl::kVersionSection, &lines) !=
      platform::PlatformResult::kOk) {
    return "<none>";
  }
  return lines;
}

// This test program is stamped by its CMakeLists.txt with the version and
// names below. Catches a stamp that does not reach the program, fields
// swapped or dropped on the way, and a reader that finds another file's.
TEST(StampedVersionTest, ThisProgramReadsBackItsOwnStamp) {
  const std::string self = platform::modulePath();
  EXPECT_EQ(GetFileVersion(wide(self)), STAMPED_TEST_VERSION);
  const VersionStrings strings = GetFileVersionStrings(wide(self));
  EXPECT_EQ(strings.productName, L"Orlastra tests");
  EXPECT_EQ(strings.productVersion, common::utf8ToWide(STAMPED_TEST_VERSION));
  EXPECT_EQ(strings.fileDescription, L"Sample installer tests \"quoted\" \\ 100%");
  EXPECT_FALSE(strings.legalCopyright.empty());
  EXPECT_EQ(FuntionImpl::VersionValue(versionLines(self), "CompanyName"), "Orlastra test maker");
}

// Catches the product or installer stamped with the project's version
// instead of the product's, and a signature or payload that hides the
// version of the installer file a setup downloads.
TEST(StampedVersionTest, ProductAndInstallerCarryTheProductsVersion) {
  for (const std::string& path :
       {std::string(ORLASTRA_PRODUCT_PATH), kArtefacts + "/setup_orlastra.exe",
        kArtefacts + "/setup_orlastra_unsigned.exe"}) {
    EXPECT_EQ(GetFileVersion(wide(path)), SAMPLE_PRODUCT_VERSION) << path;
    const VersionStrings strings = GetFileVersionStrings(wide(path));
    EXPECT_EQ(strings.productName, L"Orlastra") << path;
    EXPECT_EQ(FuntionImpl::VersionValue(versionLines(path), "CompanyName"),
              "Orlastra demo publisher")
        << path;
  }
  EXPECT_EQ(GetFileVersionStrings(wide(ORLASTRA_PRODUCT_PATH)).fileDescription, L"Orlastra");
  EXPECT_EQ(GetFileVersionStrings(wide(kArtefacts + "/setup_orlastra.exe")).fileDescription,
            L"Orlastra Setup");
}

// Catches a reader that answers for files that carry no version.
TEST(StampedVersionTest, FilesWithoutAStampHaveNoVersion) {
  for (const char* name : {"test-ca.pem", "downloader.xml", "no-such-file.exe"}) {
    EXPECT_EQ(GetFileVersion(wide(kArtefacts + "/" + name)), "") << name;
    EXPECT_EQ(GetFileVersionStrings(wide(kArtefacts + "/" + name)).productName, L"") << name;
  }
}

}  // namespace
