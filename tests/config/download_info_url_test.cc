#include "config/download_info_url.h"

#include <gtest/gtest.h>

namespace config {
namespace {

TEST(QueryUrlTest, LegacyWindowsGetsPackageType) {
  struct Case {
    float version;
    const char* suffix;
  } cases[] = {{6.1f, "&package_type=5"}, {8.1f, "&package_type=5"}, {10.0f, ""}, {11.0f, ""}};
  for (const Case& k : cases) {
    EXPECT_EQ(buildQueryUrl("https://update.example", 1033, 630, 521, k.version),
              std::string("https://update.example/queryDownloaderV2?LanguageId=1033&SoftWareID=630"
                          "&SiteID=521") + k.suffix)
        << k.version;
  }
}

TEST(FrameTest, TakesFirstCompleteBlock) {
  struct Case {
    const char* body;
    bool framed;
    const char* block;
  } cases[] = {
      {"<Downloader></Downloader>", true, "<Downloader></Downloader>"},
      {"<html><Downloader><a>1</a></Downloader></html>", true, "<Downloader><a>1</a></Downloader>"},
      {"<Downloader><a>1</a></Downloader><Downloader><a>2</a></Downloader>", true,
       "<Downloader><a>1</a></Downloader>"},
      {"<Downloader><a>1</a>", false, ""},
      {"</Downloader><Downloader>", false, ""},
      {"<html>maintenance</html>", false, ""},
      {"", false, ""},
  };
  for (const Case& k : cases) {
    std::string block;
    EXPECT_EQ(frameDownloaderBlock(k.body, &block), k.framed) << k.body;
    EXPECT_EQ(block, k.block) << k.body;
  }
  std::string block;
  ASSERT_TRUE(frameDownloaderBlock("<Downloader></Downloader>", &block));
  EXPECT_EQ(block.size(), 25u);
}

}  // namespace
}  // namespace config
