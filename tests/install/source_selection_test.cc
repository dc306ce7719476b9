#include "install/source_selection.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "common/text.h"
#include "config/services.h"
#include "install_test_support.h"
#include "system/system_facts.h"

namespace install {
namespace {

TEST(CheckRemotePathTest, PicksFirstDirectUrl) {
  struct Case {
    std::vector<std::wstring> urls;
    std::wstring used;
  } cases[] = {
      {{L"https://a.example/1.exe", L"https://b.example/2.exe"}, L"https://a.example/1.exe"},
      {{L"https://cdn.example/1.exe", L"https://b.example/2.exe"}, L"https://b.example/2.exe"},
      {{L"https://dl.example/1.exe"}, L""},
      {{}, L""},
  };
  for (const Case& k : cases) {
    EXPECT_EQ(checkRemotePath(k.urls, kSelectFirstDirect, L"NoSuchProduct"), k.used);
  }
  EXPECT_EQ(checkRemotePath({L"https://a.example/1.exe"}, 2, L"NoSuchProduct"), L"");
}

// The CDN hosts are deployment data: a build for another maker changes the
// services file, never the code.
TEST(HostClassTest, ShippedCdnHostsComeFromTheServicesFile) {
  const CdnHosts& shipped = DefaultCdnHosts();
  EXPECT_EQ(shipped.aliCdn.size(), 3u);
  EXPECT_EQ(shipped.awsCdn, "awscdn.orlastra.example");
  EXPECT_EQ(HostClass(L"https://alicdn.orlastra-cn.example/p/x.exe"), kHostAliCdn);
  EXPECT_EQ(HostClass(L"https://awscdn.orlastra.example/p/x.exe"), kHostAwsCdn);

  config::Services parsed;
  ASSERT_TRUE(config::Services::parse(
      "<Services><CdnHosts><Host kind=\"ali\" name=\"a.example\"/><Host kind=\"aws\"/>"
      "</CdnHosts></Services>",
      &parsed));
  EXPECT_EQ(parsed.cdnHosts("ali"), std::vector<std::string>{"a.example"});
  EXPECT_TRUE(parsed.cdnHosts("aws").empty());  // a host without a name is skipped
}

TEST(HostClassTest, ClassifiesHosts) {
  const CdnHosts hosts{{"alicdn.orlastra.example"}, "awscdn.orlastra.example"};
  struct Case {
    const wchar_t* url;
    int hostClass;
  } cases[] = {
      {L"https://cdn.orlastra.example/p/x.exe", kHostMirror},
      {L"https://DL.Orlastra.example/p/x.exe", kHostMirror},
      {L"no dot at all", kHostMirror},
      {L"https://files.orlastra.example", kHostMirror},  // no '/' after the host
      {L"https://files.orlastra.example/p/x.exe", kHostDirect},
      {L"http://127.0.0.1:8080/files/x.exe", kHostDirect},
      {L"https://alicdn.orlastra.example/p/x.exe", kHostAliCdn},
      {L"https://downloads.vitalink.example/x.exe", kHostAliCdn},  // "ali" anywhere
      {L"https://awscdn.orlastra.example/p/x.exe", kHostAwsCdn},
      {L"https://awscdn.other.example/p/x.exe", kHostDirect},
  };
  for (const Case& k : cases) {
    EXPECT_EQ(HostClass(k.url, hosts), k.hostClass) << common::wideToUtf8(k.url);
  }
  EXPECT_EQ(HostOfUrl(L"https://Files.Example.COM/a/b"), "files.example.com");
}

class ForbidCdnTest : public ::testing::Test {
 protected:
  void SetUp() override { setenv("WEBSETUP_REGISTRY", registry_.path().c_str(), 1); }
  void TearDown() override { unsetenv("WEBSETUP_REGISTRY"); }
  void setCount(const std::wstring& text) {
    ASSERT_TRUE(FuntionImpl::SetRegString(
        L"SoftWare\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Orlastra",
        L"RequestTooMuchTimes", text));
  }
  testing_support::TempDir registry_;
};

TEST_F(ForbidCdnTest, MoreThanThreeRequestsForbidCdn) {
  EXPECT_FALSE(isForbidCDN(L"Orlastra"));  // missing counts as 0
  setCount(L"3");
  EXPECT_FALSE(isForbidCDN(L"Orlastra"));
  setCount(L"4");
  EXPECT_TRUE(isForbidCDN(L"Orlastra"));
  EXPECT_FALSE(isForbidCDN(L"Other"));
  setCount(L"many");
  EXPECT_FALSE(isForbidCDN(L"Orlastra"));
}

class LegacyLinkTest : public ServerFixture {
 protected:
  void SetUp() override {
    ServerFixture::SetUp();
    ASSERT_TRUE(testing_support::writeFile(root_.file("present_hpwin.exe"), "MZ installer"));
    labels_.texts = {{L"Download_url", L"https://dl.orlastra.example/d/setup_hpwin.exe"},
                     {L"Extra_download_url", L"https://files.orlastra.example/d/setup_x.exe"}};
  }
  std::wstring fileUrl(const std::string& name) const {
    return common::utf8ToWide(server_->baseUrl() + "/files/" + name);
  }
  MapLabels labels_;
};

TEST_F(LegacyLinkTest, MissingHpwinLinkOnLegacyWindowsFallsBackToDirectLabel) {
  // Download_url is a mirror address, so the extra URL is taken.
  EXPECT_EQ(CheckLegacyLink(fileUrl("missing_hpwin.exe"), 8.1f, labels_),
            L"https://files.orlastra.example/d/setup_x.exe");
  labels_.texts[L"Download_url"] = L"https://files.orlastra.example/d/setup_hpwin_old.exe";
  EXPECT_EQ(CheckLegacyLink(fileUrl("missing_hpwin.exe"), 6.1f, labels_),
            L"https://files.orlastra.example/d/setup_hpwin_old.exe");
  // Neither label direct: the used URL stays.
  labels_.texts[L"Download_url"] = L"https://cdn.orlastra.example/d/a.exe";
  labels_.texts[L"Extra_download_url"] = L"";
  EXPECT_EQ(CheckLegacyLink(fileUrl("missing_hpwin.exe"), 8.1f, labels_),
            fileUrl("missing_hpwin.exe"));
  EXPECT_EQ(exactRequests("_hpwin.exe", 3).size(), 3u);
}

TEST_F(LegacyLinkTest, PresentLinkOrModernWindowsKeepsUsedUrl) {
  EXPECT_EQ(CheckLegacyLink(fileUrl("present_hpwin.exe"), 8.1f, labels_),
            fileUrl("present_hpwin.exe"));
  EXPECT_EQ(CheckLegacyLink(fileUrl("missing_hpwin.exe"), 10.0f, labels_),
            fileUrl("missing_hpwin.exe"));
  EXPECT_EQ(CheckLegacyLink(fileUrl("missing.exe"), 8.1f, labels_), fileUrl("missing.exe"));
  // Only the legacy system with an _hpwin.exe link was probed.
  EXPECT_EQ(exactRequests(".exe", 1).size(), 1u);
}

}  // namespace
}  // namespace install
