#include "system/system_facts.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>

#include "platform/drives.h"
#include "platform/os_info.h"
#include "support/temp_dir.h"
#include "system/system_rules.h"

namespace FuntionImpl {
namespace {

using testing_support::TempDir;
using testing_support::writeFile;

class NetFrameCheckTest : public ::testing::Test {
 protected:
  void SetUp() override { setenv("WEBSETUP_REGISTRY", registry_.path().c_str(), 1); }
  void TearDown() override { unsetenv("WEBSETUP_REGISTRY"); }
  void installed(const std::wstring& version) {
    ASSERT_TRUE(SetRegString(L"SOFTWARE\\Microsoft\\NET Framework Setup\\NDP\\v4\\Client",
                             L"Version", version));
  }
  void needed(const std::string& text) {
    ASSERT_TRUE(writeFile(product_.file("NetFrameCheck.db"), text));
  }
  std::wstring dir() const { return std::wstring(product_.path().begin(), product_.path().end()); }

  TempDir registry_;
  TempDir product_;
};

TEST_F(NetFrameCheckTest, ComparesNeededWithInstalledVersion) {
  EXPECT_FALSE(WillShowNetFrameCheck(dir()));  // no NetFrameCheck.db
  installed(L"4.7.2");
  needed("\xEF\xBB\xBF[Settings]\r\nNetFrameworkVersion=4.8\r\n[Text]\r\nMsg=x\r\n");
  EXPECT_TRUE(WillShowNetFrameCheck(dir()));
  needed("[Settings]\nNetFrameworkVersion=4.5\n");
  installed(L"4.8");
  EXPECT_FALSE(WillShowNetFrameCheck(dir()));
  needed("[Settings]\nOther=1\n[Text]\n");
  EXPECT_FALSE(WillShowNetFrameCheck(dir()));
}

TEST_F(NetFrameCheckTest, NothingInstalledMeansANeed) {
#ifdef _WIN32
  GTEST_SKIP() << "the Wine prefix's registry may already name an installed .NET version";
#endif
  needed("[Settings]\nNetFrameworkVersion=4.0\n");
  EXPECT_TRUE(WillShowNetFrameCheck(dir()));
  // A file past 1 MiB is no settings file: it asks for nothing.
  needed("[Settings]\nNetFrameworkVersion=4.0\n" + std::string(1 << 20, '#'));
  EXPECT_FALSE(WillShowNetFrameCheck(dir()));
}

// The facts come from this machine and hold together.
TEST(SystemFactsTest, ReportsThisMachine) {
  float number = -1.0f;
  EXPECT_FALSE(GetSystemName(&number).empty());
  // On Linux this machine's own version id (Debian's 12) is not what the
  // rules read; on Windows its own number is (the test below).
  if (platform::osRelease().windowsMajor == 0) {
    EXPECT_FLOAT_EQ(number, kWindowsEquivalentVersion);
  }

  const platform::OsRelease parsed = platform::parseOsRelease(
      "NAME=x\nPRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\nVERSION_ID='12'\n");
  EXPECT_EQ(parsed.prettyName, "Debian GNU/Linux 12 (bookworm)");
  EXPECT_EQ(parsed.versionId, "12");

  int width = -1, height = -1;
  EXPECT_DOUBLE_EQ(GetScreenSize(&width, &height), 1.0);
  EXPECT_EQ(width, 0);
  SetScreenSource([](int* w, int* h, int* logical) {
    *w = 2560;
    *h = 1440;
    *logical = 1280;
    return true;
  });
  EXPECT_DOUBLE_EQ(GetScreenSize(&width, &height), 2.0);
  EXPECT_EQ(height, 1440);
  SetScreenSource(nullptr);
}

TEST(SystemFactsTest, BrandLabelUsesTheTableSetLast) {
  EXPECT_EQ(GetSiteTrafficType(206), "PPC");
  SetBrandTable({{2, "Orlastra"}, {66, "Vexmora"}});
  EXPECT_EQ(GetBrandLabel(2, "http://x/setup_yahoo.exe"), "Orlastra-Yahoo");
  EXPECT_EQ(GetBrandLabel(66, "http://x/setup_vexmorafree.exe"), "VexmoraFree");
  EXPECT_EQ(GetBrandLabel(8, "http://x/setup.exe"), "8");
  SetBrandTable({{8, "Lumetra"}});
  EXPECT_EQ(GetBrandLabel(8, "http://x/setup_bing.exe"), "Lumetra-Bing");
  EXPECT_EQ(GetBrandLabel(2, "http://x/setup_yahoo.exe"), "2");
  SetBrandTable({});
  EXPECT_EQ(GetBrandLabel(8, "http://x/setup.exe"), "8");
}

// The version rules read Windows' own number on Windows (Wine's default
// prefix says Windows 7, 6.1: the legacy package), and never a legacy one
// anywhere else.
TEST(SystemFactsTest, RuleVersionIsWindowsOwnOnlyOnWindows) {
  float number = -1;
  const std::string name = GetSystemName(&number);
  const platform::OsRelease release = platform::osRelease();
  if (release.windowsMajor == 0) {
    EXPECT_EQ(number, kWindowsEquivalentVersion) << name;
    return;
  }
  EXPECT_NE(name.find("Windows"), std::string::npos) << name;
  EXPECT_FLOAT_EQ(number, static_cast<float>(release.windowsMajor) +
                              static_cast<float>(release.windowsMinor) / 10.0f)
      << name;
}

TEST(SystemFactsTest, LanguageFromLocale) {
  EXPECT_EQ(platform::languageIdOfLocale("zh_CN.UTF-8"), 0x0804);
  EXPECT_EQ(platform::languageIdOfLocale("ja_JP.UTF-8"), 0x0411);
  EXPECT_EQ(platform::languageIdOfLocale("pt_BR@x"), 0x0416);
  EXPECT_EQ(platform::languageIdOfLocale("de_BE"), 0x0407);  // unknown pair: the language
  EXPECT_EQ(platform::languageIdOfLocale("C"), 0x0409);
  EXPECT_EQ(platform::territoryOfLocale("zh_CN.UTF-8"), "CN");

#ifdef _WIN32
  GTEST_SKIP() << "Windows names the UI language itself; the locale variables do not count there";
#endif
  const char* saved = getenv("LC_ALL");
  const std::string keep = saved != nullptr ? saved : "";
  setenv("LC_ALL", "zh_CN.UTF-8", 1);
  EXPECT_EQ(GetSystemLanguageName(), "Chinese_PRC");
  if (saved != nullptr) {
    setenv("LC_ALL", keep.c_str(), 1);
  } else {
    unsetenv("LC_ALL");
  }
}

// The best drive of a path on this machine is a qualifying mount point, or
// the path itself when none qualifies.
TEST(SystemFactsTest, BestDriveIsAQualifyingMountPoint) {
  TempDir dir;
  const std::wstring path = std::wstring(dir.path().begin(), dir.path().end()) + L"/cache/x";
  const std::wstring best = GetBestDrivePath(path);
  bool found = best == path;
  for (const auto& d : platform::listDrives()) {
    EXPECT_EQ(d.root.back(), '/');
    EXPECT_TRUE(std::filesystem::is_directory(d.root));
    const std::wstring root(d.root.begin(), d.root.end());
    if (d.fixed && !d.usb && d.writable && best.compare(0, root.size(), root) == 0) found = true;
  }
  EXPECT_TRUE(found);
  EXPECT_TRUE(best.size() >= 8 && best.compare(best.size() - 8, 8, L"/cache/x") == 0);
}

TEST(SystemFactsTest, FirewallCountsEveryApplicationAuthorised) {
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(AuthorizeInFirewall(L"/opt/app/websetup"), 0);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(),
            "Authorized application /opt/app/websetup is enabled in the firewall.\n");
}

}  // namespace
}  // namespace FuntionImpl
