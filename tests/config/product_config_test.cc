#include "config/product_config.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <cwchar>

#include "config/skin_archive.h"

namespace config {
namespace {

std::string configXml(const std::string& entries) {
  return "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<VerticalLayout><VerticalLayout name=\"Product_config\">" +
         entries + "</VerticalLayout></VerticalLayout>";
}

std::string entry(const std::string& key, const std::string& value) {
  return "<Label name=\"" + key + "\" text=\"" + value + "\" />";
}

TEST(ProductConfigTest, ReadsStartupValuesOfTheShippedShape) {
  ProductConfig c;
  ASSERT_TRUE(parseProductConfig(
      configXml(entry("Downloader_id", "630") + entry("Site_id", "521") + entry("MainPid", "9666") +
                entry("Software_name", "Orlastra") + entry("Software_version", "1.0.0.0") +
                entry("Support32System", "0") +
                entry("Download_url", "http://download.example/d/setup_x.exe")),
      &c));
  EXPECT_EQ(c.downloaderIdText, L"630");
  EXPECT_EQ(c.downloaderId, 630);
  EXPECT_EQ(c.siteId, 521);
  EXPECT_EQ(c.mainPid, 9666);
  EXPECT_EQ(c.softwareName, L"Orlastra");
  EXPECT_EQ(c.softwareVersion, L"1.0.0.0");
  EXPECT_EQ(c.support32System, L"0");
  EXPECT_EQ(c.downloadUrl, L"http://download.example/d/setup_x.exe");
}

// The direct parse goes by attribute position, not name: swapped
// attributes must not be read as if they were in order.
TEST(ProductConfigTest, SwappedAttributesMatchNoKey) {
  ProductConfig c;
  ASSERT_TRUE(parseProductConfig(
      configXml("<Label text=\"630\" name=\"Downloader_id\" /><Label text=\"7\" name=\"Site_id\" />"), &c));
  EXPECT_TRUE(c.downloaderIdText.empty());
  EXPECT_EQ(c.siteId, 0);
  // ...while the lookup by name still finds them.
  auto labels = ProductLabels::fromXml(
      configXml("<Label text=\"630\" name=\"Downloader_id\" />"));
  EXPECT_EQ(labels.getText(L"Downloader_id"), L"630");
}

TEST(ProductConfigTest, ConvertsNumbersByTheirLeadingDigits) {
  struct Case {
    const char* text;
    int32_t value;
  } cases[] = {{"630abc", 630}, {"abc", 0}, {"", 0}, {" -12", -12}, {"+7", 7}, {"99999999999", INT32_MAX}};
  for (const auto& tc : cases) {
    ProductConfig c;
    ASSERT_TRUE(parseProductConfig(configXml(entry("Downloader_id", tc.text)), &c));
    EXPECT_EQ(c.downloaderId, tc.value) << tc.text;
    EXPECT_EQ(c.downloaderIdText, std::wstring(tc.text, tc.text + strlen(tc.text))) << tc.text;
  }
}

TEST(ProductConfigTest, MissingOrEmptyEntriesKeepStartValues) {
  ProductConfig c;
  ASSERT_TRUE(parseProductConfig(configXml(entry("Support32System", "") + "<Label name=\"only\" />"), &c));
  EXPECT_EQ(c.mainPid, 0);
  EXPECT_TRUE(c.support32System.empty());
  EXPECT_TRUE(c.downloadUrl.empty());
}

TEST(ProductConfigTest, ChoosesTheFirstDirectUrlInDocumentOrder) {
  struct Case {
    std::string entries;
    std::wstring chosen;
  } cases[] = {
      {entry("Download_url", "http://cdn.x.example/a/setup_a.exe") +
           entry("Extra_download_url", "http://www.x.example/b/setup_b.exe"),
       L"http://www.x.example/b/setup_b.exe"},
      {entry("Download_url", "http://dl.x.example/a.exe") + entry("Extra_download_url", "http://cdn.x.example/b.exe"),
       L""},
      {entry("Download_url", "") + entry("Extra_download_url", "http://www.x.example/b.exe"),
       L"http://www.x.example/b.exe"},
      {entry("Extra_download_url", "http://e.example/e.exe") + entry("Download_url", "http://d.example/d.exe"),
       L"http://e.example/e.exe"},
  };
  for (const auto& tc : cases) {
    ProductConfig c;
    ASSERT_TRUE(parseProductConfig(configXml(tc.entries), &c));
    EXPECT_EQ(c.downloadUrl, tc.chosen) << tc.entries;
  }
}

TEST(ProductConfigTest, UnparsableTextGivesStartValues) {
  for (const char* text : {"", "not xml", "<VerticalLayout>", "<VerticalLayout/>"}) {
    ProductConfig c;
    c.siteId = 5;
    EXPECT_FALSE(parseProductConfig(text, &c)) << text;
    EXPECT_EQ(c.siteId, 0) << text;
    EXPECT_TRUE(c.downloaderIdText.empty()) << text;
  }
}

// The build links the shipped file in; a broken packing step shows here.
TEST(ProductConfigTest, LinkedInArchiveHoldsEveryRequiredEntry) {
  ProductConfig c;
  ASSERT_TRUE(loadProductConfig(&c));
  EXPECT_EQ(c.downloaderId, 630);
  EXPECT_FALSE(isCdnUrl(c.downloadUrl));
  const ProductLabels labels = ProductLabels::fromSkinArchive();
  for (const wchar_t* key :
       {L"Downloader_id", L"Software_id", L"Site_id", L"Language_id", L"Software_name", L"Software_version",
        L"Process_name", L"Install_url", L"Download_url", L"Extra_download_url", L"Banner_url",
        L"Licensefile_url", L"Md5", L"Filesize", L"ProductSize", L"Cnet_download_url", L"Md5_extra",
        L"Gif_duration", L"NeedStart_flag", L"admin_flag", L"InstallTimeout", L"Support32System",
        L"ChooseLicense"}) {
    EXPECT_TRUE(labels.has(key)) << std::string(key, key + wcslen(key));
  }
  std::string missing;
  EXPECT_FALSE(readSkinFile("configure/none.xml", &missing));
  EXPECT_TRUE(missing.empty());
}

}  // namespace
}  // namespace config
