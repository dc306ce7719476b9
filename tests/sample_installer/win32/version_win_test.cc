// What only a Windows version resource holds: the file name the program
// was built as, which Explorer shows for a renamed copy.

#include <gtest/gtest.h>

#include <string>

#include "platform/executable_section.h"
#include "system/file_trust.h"

namespace {

std::string lineOf(const std::string& path, const std::string& key) {
  std::string lines;
  if (platform::readExecutableSection(path, FuntionImpl::kVersionSection, &lines) !=
      platform::PlatformResult::kOk) {
    return "<none>";
  }
  return FuntionImpl::VersionValue(lines, key);
}

// Catches the build's own target name ("orlastra-product.exe") written
// where the name the product is installed as belongs.
TEST(VersionResourceWinTest, NamesTheFileAsItIsShipped) {
  EXPECT_EQ(lineOf(ORLASTRA_PRODUCT_PATH, "OriginalFilename"), SAMPLE_PRODUCT_EXE);
  EXPECT_EQ(lineOf(std::string(SAMPLE_INSTALLER_DIR) + "/setup_orlastra.exe", "OriginalFilename"),
            "setup_orlastra.exe");
  // Too little room for the lines is refused, not cut.
  std::string lines;
  EXPECT_EQ(platform::readExecutableSection(ORLASTRA_PRODUCT_PATH, FuntionImpl::kVersionSection,
                                            &lines, 16),
            platform::PlatformResult::kInvalidArgument);
  EXPECT_TRUE(lines.empty());
}

}  // namespace
