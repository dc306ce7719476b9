#include "system/system_rules.h"

#include <gtest/gtest.h>

#include "system/text_functions.h"

namespace FuntionImpl {
namespace {

// Each row: facts → name and number (number starts at -1 so "unchanged"
// shows).
TEST(WindowsNameTest, DecidesByBuildThenNtVersionThenLegacyTable) {
  struct Row {
    WindowsVersionFacts facts;
    std::string name;
    float number;
  };
  auto legacy = [](uint32_t major, uint32_t minor, uint8_t type = 1, uint16_t arch = 0,
                   bool nt = true, bool r2 = false) {
    WindowsVersionFacts f;
    f.hasVersionEx = true;
    f.major = major;
    f.minor = minor;
    f.productType = type;
    f.processorArchitecture = arch;
    f.platformNt = nt;
    f.serverR2 = r2;
    return f;
  };
  WindowsVersionFacts win11 = legacy(6, 1);
  win11.currentBuild = L"22000";
  win11.hasNtVersion = true;
  win11.ntMajor = 10;
  WindowsVersionFacts win10;
  win10.currentBuild = L"19045";
  win10.hasNtVersion = true;
  win10.ntMajor = 10;
  WindowsVersionFacts win81;
  win81.hasNtVersion = true;
  win81.ntMajor = 6;
  win81.ntMinor = 3;
  WindowsVersionFacts build21999 = legacy(6, 1);
  build21999.currentBuild = L"21999";

  const Row rows[] = {
      {win11, "Windows 11", 11.0f},  // whatever the other sources say
      {win10, "Windows 10", 10.0f},
      {win81, "Windows 8.1", 8.1f},
      {build21999, "Windows 7", 7.0f},
      {legacy(4, 0, 1, 0, true), "Windows NT 4.0", 0.0f},
      {legacy(4, 0, 1, 0, false), "Windows 95", 0.0f},
      {legacy(4, 10), "Windows 98", 1.0f},
      {legacy(4, 90), "Microsoft Windows Me", 2.0f},
      {legacy(5, 0), "Windows 2000", 3.0f},
      {legacy(5, 1), "Windows XP", 4.0f},
      {legacy(5, 2, 1, 9), "Windows XP Professional x64 Edition", 5.0f},
      {legacy(5, 2, 3, 9, true, true), "Windows Server 2003 R2", 5.0f},
      {legacy(5, 2, 3, 0), "Windows Server 2003", 5.0f},
      {legacy(6, 0, 3), "Windows Server 2008", 6.0f},
      {legacy(6, 1, 3), "Windows Server 2008 R2", 7.0f},
      {legacy(6, 2), "Windows 8", 8.0f},
      {legacy(6, 2, 2), "Windows Server 2012", 8.0f},
      {legacy(7, 0), "Error", -1.0f},
      {legacy(6, 4), "", -1.0f},
      {WindowsVersionFacts{}, "", -1.0f},  // GetVersionEx failed
  };
  for (const auto& row : rows) {
    float number = -1.0f;
    EXPECT_EQ(WindowsNameFromFacts(row.facts, &number), row.name);
    EXPECT_FLOAT_EQ(number, row.number) << row.name;
  }
}

// A Linux version id is no Windows version: RHEL 9 or Alpine 3 read as
// such would ask for the legacy package and run the legacy link check.
TEST(WindowsNameTest, NonWindowsSystemsReadAsCurrentWindowsForTheRules) {
  struct Row {
    const char* prettyName;
    const char* versionId;
    const char* name;
  };
  const Row rows[] = {
      {"Red Hat Enterprise Linux 9.4 (Plow)", "9.4", "Red Hat Enterprise Linux 9.4 (Plow)"},
      {"Alpine Linux v3.19", "3.19.1", "Alpine Linux v3.19 3.19.1"},
      {"Debian GNU/Linux 12 (bookworm)", "12", "Debian GNU/Linux 12 (bookworm)"},
      {"Arch Linux", "", "Arch Linux"},
      {"", "7", "7"},
  };
  for (const Row& row : rows) {
    float number = -1.0f;
    EXPECT_EQ(SystemNameFromRelease(row.prettyName, row.versionId, &number), row.name);
    EXPECT_FLOAT_EQ(number, kWindowsEquivalentVersion) << row.prettyName;
  }
  EXPECT_GE(kWindowsEquivalentVersion, 10.0f);
}

TEST(LanguageNameTest, TableHoldsEveryEntryAndFormatsUnknownIds) {
  EXPECT_EQ(LanguageNameCount(), 143u);
  EXPECT_EQ(LanguageNameOfId(0x0804), "Chinese_PRC");
  EXPECT_EQ(LanguageNameOfId(0x0000), "Neutral_Neutral");
  EXPECT_EQ(LanguageNameOfId(0x500a), "Spanish_Puerto Rico");
  EXPECT_EQ(LanguageNameOfId(0x0414), "Norwegian_Norway (Bokm?l)");
  EXPECT_EQ(LanguageNameOfId(0x1234), "0x1234_0x1234");
  EXPECT_EQ(LanguageNameOfId(0x0417), "0x0417_0x0417");  // a gap inside the table
}

// The F:/G:/H: example, then the ways a drive fails to qualify.
TEST(BestDriveTest, PicksFixedNonUsbWritableDriveWithMostFreeSpace) {
  const uint64_t gb = 1ull << 30;
  const std::vector<DriveCandidate> drives = {
      {L"F:\\", true, false, true, 10 * gb},
      {L"G:\\", true, false, true, 50 * gb},
      {L"H:\\", true, true, true, 500 * gb},
  };
  EXPECT_EQ(MoveToBestDrive(L"F:\\x\\y", L"F:\\", drives), L"G:\\x\\y");

  const std::vector<DriveCandidate> ties = {
      {L"/a/", true, false, true, 5 * gb},
      {L"/b/", true, false, true, 5 * gb},
      {L"/c/", false, false, true, 900 * gb},  // removable
      {L"/d/", true, false, false, 900 * gb},  // read-only
  };
  EXPECT_EQ(MoveToBestDrive(L"/b/cache/x", L"/b/", ties), L"/a/cache/x");
  EXPECT_EQ(MoveToBestDrive(L"/b/x", L"/b/", {ties[2], ties[3]}), L"/b/x");
  EXPECT_EQ(MoveToBestDrive(L"relative/x", L"/b/", ties), L"relative/x");

  // A data volume mounted noexec has the most space, and no installer
  // could start from it.
  const DriveCandidate noexec{L"/data/", true, false, true, 900 * gb, false};
  EXPECT_EQ(MoveToBestDrive(L"/b/x", L"/b/", {ties[0], noexec}), L"/a/x");
}

TEST(VersionCompareTest, ComparesFirstFourPartsNumerically) {
  EXPECT_LT(CompareVersionTexts(L"4.7.2", L"4.8"), 0);
  EXPECT_GT(CompareVersionTexts(L"4.8", L"4.5"), 0);
  EXPECT_EQ(CompareVersionTexts(L"4.8", L"4.8.0.0"), 0);
  EXPECT_GT(CompareVersionTexts(L"4.10", L"4.9"), 0);  // numbers, not text
  EXPECT_EQ(CompareVersionTexts(L"1.2.3.4.9", L"1.2.3.4.1"), 0);
  EXPECT_LT(CompareVersionTexts(L"", L"4.8\n"), 0);
}

TEST(NetFrameCheckFileTest, ReadsSettingOnlyInsideSettingsSection) {
  EXPECT_EQ(NeededNetFrameVersion(L"[Settings]\nNetFrameworkVersion=4.8\n[Text]\n"), L"4.8\n");
  EXPECT_EQ(NeededNetFrameVersion(L"NetFrameworkVersion=4.8\n[Settings]\n"), L"");
  EXPECT_EQ(NeededNetFrameVersion(L"[Settings]\n[Text]\nNetFrameworkVersion=4.8\n"), L"");
  EXPECT_EQ(NeededNetFrameVersion(L"[Settings]\n=4.8\nNetFrameworkVersionX=1\n"), L"");
  EXPECT_EQ(NeededNetFrameVersion(L"[Settings]\nNetFrameworkVersion=4.7.2"), L"4.7.2");
}

// A brand table of the shape a deployment's services file carries.
const BrandTable kTestBrands = {
    {1, "Quillmont"},         {2, "QuillmontPDF"},      {8, "QuillmontEditor"},
    {61, "QuillmontConvert"}, {66, "QuillmontReader"},  {74, "QuillmontScan"},
    {84, "QuillmontNote"},    {206, "QuillmontSign"},
};

TEST(SiteRulesTest, TrafficTypeAndBrandLabel) {
  EXPECT_EQ(SiteTrafficType(2), "PPC");
  EXPECT_EQ(SiteTrafficType(338), "PPC");
  EXPECT_EQ(SiteTrafficType(354), "CN");
  EXPECT_EQ(SiteTrafficType(999), "SEO");
  EXPECT_EQ(BrandLabel(999, "anything", kTestBrands), "999");

  EXPECT_EQ(BrandLabel(2, "http://x/Setup_BING_1.exe", kTestBrands), "QuillmontPDF-Bing");
  EXPECT_EQ(BrandLabel(74, "http://x/setup_yahoo.exe", kTestBrands), "QuillmontScan-Yahoo");
  EXPECT_EQ(BrandLabel(206, "http://x/setup.exe", kTestBrands), "QuillmontSign");
  EXPECT_EQ(BrandLabel(8, "http://x/setup_yahoo.exe", kTestBrands), "QuillmontEditor");
  EXPECT_EQ(BrandLabel(61, "http://x/a_online.exe", kTestBrands), "QuillmontConvertOnline");
  EXPECT_EQ(BrandLabel(66, "http://x/setup_quillmontreaderfree.exe", kTestBrands),
            "QuillmontReaderFree");
  // "_bing_" does not count for 84.
  EXPECT_EQ(BrandLabel(84, "http://x/setup_bing_1.exe", kTestBrands), "QuillmontNote");
  EXPECT_EQ(BrandLabel(84, "http://x/setup_quillmontreaderbing.exe", kTestBrands),
            "QuillmontNote-Bing");
  EXPECT_EQ(BrandLabel(1, "http://x/setup_bing.exe", kTestBrands), "Quillmont");
}

TEST(SiteRulesTest, BrandLabelFollowsTheGivenTable) {
  // The marker of 66 and 84 is site 66's base, whatever the table names it.
  const BrandTable other = {{66, "Vexmora"}, {84, "Lumetra"}, {500, "Darodiridu"}};
  EXPECT_EQ(BrandLabel(66, "http://x/setup_vexmorafree.exe", other), "VexmoraFree");
  EXPECT_EQ(BrandLabel(66, "http://x/setup_quillmontreaderfree.exe", other), "Vexmora");
  EXPECT_EQ(BrandLabel(84, "http://x/setup_vexmorabing.exe", other), "Lumetra-Bing");
  EXPECT_EQ(BrandLabel(500, "http://x/setup_bing.exe", other), "Darodiridu");
  // A site id the rules name but the table lacks is labelled by its number.
  EXPECT_EQ(BrandLabel(2, "http://x/setup_bing.exe", other), "2");
  // Without site 66 in the table, 84 still takes the plain Bing marker.
  const BrandTable no66 = {{84, "Lumetra"}};
  EXPECT_EQ(BrandLabel(84, "http://x/setup_bing.exe", no66), "Lumetra-Bing");
  EXPECT_EQ(BrandLabel(84, "http://x/setup_free.exe", no66), "Lumetra");
  EXPECT_EQ(BrandLabel(2, "http://x/setup_bing.exe", {}), "2");
}

TEST(TextFunctionsTest, CdnExeReplaceBucket) {
  EXPECT_TRUE(IsCdnUrl(std::string("https://cdn.example.org/a")));
  EXPECT_TRUE(IsCdnUrl(std::wstring(L"http://dl.example.org/a")));
  EXPECT_FALSE(IsCdnUrl(std::string("https://CDN.example.org/a")));
  EXPECT_TRUE(IsExeName(L"setup.exe"));
  EXPECT_FALSE(IsExeName(L"setup.EXE"));
  EXPECT_TRUE(IsExeName(L"ab"));

  std::wstring text = L"aaa";
  EXPECT_EQ(ReplaceAll(&text, L"a", L"aa"), 3);  // does not rescan what it inserted
  EXPECT_EQ(text, L"aaaaaa");
  std::wstring empty;
  EXPECT_EQ(ReplaceAll(&empty, L"a", L"b"), 0);
  EXPECT_EQ(ReplaceAll(&text, L"", L"b"), 0);

  EXPECT_EQ(GetBucketLabel(7, "s"), "[6~9]s");
  EXPECT_EQ(GetBucketLabel(0, ""), "[0~3]");
  EXPECT_EQ(GetBucketLabel(9000000000LL, ""), "[9000000000~9000000003]");

  EXPECT_EQ(Utf8ToWide(WideToUtf8(L"\u4e2d\u6587")), L"\u4e2d\u6587");
#ifndef _WIN32
  // UTF-8 is the ANSI code page here; a test binary on Windows has the
  // system's legacy one (no manifest asks for UTF-8), where 0xFF is a letter.
  EXPECT_EQ(AnsiToUtf8("ok\xff"), "ok\xEF\xBF\xBD");
#endif
}

TEST(FixedZoneTimeTest, FormatsUtcPlusEight) {
  EXPECT_EQ(FormatFixedZoneTime(0), "1970-01-01 08:00:00");
  EXPECT_EQ(FormatFixedZoneTime(1704038400), "2024-01-01 00:00:00");  // 2023-12-31 16:00 UTC
}

}  // namespace
}  // namespace FuntionImpl
