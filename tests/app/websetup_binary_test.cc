// Facts of the built program that other processes rely on.


#include <gtest/gtest.h>

#include "common/text.h"
#include "support/subprocess.h"
#include "system/file_trust.h"

namespace {

// The trust and version checks of the install flow read this section; a
// build that forgets to stamp the program reports an empty version.
TEST(WebsetupBinaryTest, CarriesItsVersionSection) {
  const std::wstring path = common::utf8ToWide(testing_support::binPath("websetup"));
  EXPECT_EQ(FuntionImpl::GetFileVersion(path), "1.0.0.0");
  const FuntionImpl::VersionStrings strings = FuntionImpl::GetFileVersionStrings(path);
  EXPECT_EQ(strings.fileDescription, L"Web setup");
  EXPECT_EQ(strings.productName, L"websetup");
}

// Installer scripts of other processes look the web-log functions up in
// the program's dynamic symbol table.
TEST(WebsetupBinaryTest, ExportsTheWebLogFunctions) {
  std::string symbols;
  ASSERT_EQ(testing_support::runToEnd({"/usr/bin/nm", "-D", "--defined-only", testing_support::binPath("websetup")},
                                      std::chrono::seconds(30), &symbols),
            0);
  for (const char* name : {" CreateExportObj\n", " DestroyExportObj\n", " NSISLog\n"}) {
    EXPECT_NE(symbols.find(name), std::string::npos) << name;
  }
}

}  // namespace
