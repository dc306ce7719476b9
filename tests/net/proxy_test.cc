// The system's proxy carries the program's requests: a real tinyproxy on
// loopback named by the environment, one that lets anyone through and one
// that demands credentials.

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

#include "common/text.h"
#include "engine/download_impl.h"
#include "engine/libcurl_tool.h"
#include "net/transport_policy.h"
#include "net_test_env.h"
#include "support/maker_services.h"
#include "support/subprocess.h"
#include "support/temp_dir.h"
#include "tinyproxy.h"
#include "weblog/curl_http_client.h"
#include "weblog/http_get.h"

namespace net_test {
namespace {

using testing_support::MakerServices;
using testing_support::TempDir;

class ProxyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"proxied.bin", "direct.bin", "allowed.bin"}) {
      ASSERT_TRUE(testing_support::writeFile(root_.file(name), std::string(3 << 20, 'p')));
    }
    ASSERT_TRUE(testing_support::writeFile(root_.file("note.txt"), "through the proxy"));
    server_ = std::make_unique<MakerServices>(root_.path());
    ClearLog();
  }
  void TearDown() override {
    unsetenv("http_proxy");
    unsetenv("HTTP_PROXY");
    unsetenv("no_proxy");
  }

  std::string Url(const std::string& path) const { return server_->baseUrl() + path; }

  int Download(const std::string& name) {
    std::string cdn;
    return engine::CDownLoadImpl::SuperDownloadFile(common::utf8ToWide(Url("/files/" + name)),
                                                    common::utf8ToWide(out_.file(name)), &cdn);
  }

  // Requests to `path` the server saw, and how many of them came through
  // tinyproxy (it names itself in Via).
  // `atLeast`: wait until the server has journaled that many.
  std::pair<size_t, size_t> Seen(const std::string& path, size_t atLeast = 0) const {
    server_->requestsTo(path, atLeast, std::chrono::seconds(5));
    size_t all = 0, proxied = 0;
    for (const Json::Value& line : server_->journal()) {
      if (line["path"].asString() != path) continue;
      ++all;
      proxied += line["headers"]["Via"].asString().find("tinyproxy") != std::string::npos ? 1 : 0;
    }
    return {all, proxied};
  }

  TempDir root_;
  TempDir out_;
  std::unique_ptr<MakerServices> server_;
};

// The environment's proxy carries the segmented download (probe and
// segments) and a telemetry hit; no_proxy sends the same host past it. The
// upper-case name counts as the install thread's proxy log reads it,
// although libcurl alone ignores it.
TEST_F(ProxyTest, EnvironmentProxyCarriesDownloadAndTelemetryUnlessBypassed) {
  Tinyproxy proxy;
  ASSERT_TRUE(proxy.ready()) << proxy.errors();
  setenv("HTTP_PROXY", proxy.url().c_str(), 1);
  EXPECT_EQ(net::SystemProxyFor(Url("/files/proxied.bin")), proxy.url());
  EXPECT_EQ(Download("proxied.bin"), 1) << LogText();
  EXPECT_EQ(testing_support::readFile(out_.file("proxied.bin")).size(), 3u << 20);
  weblog::CurlHttpClient client("");
  ASSERT_EQ(client.Post(Url("/collect"), "Content-Type: application/json", "{}"), 0);
  EXPECT_EQ(client.GetResponseCode(), 200);
  const auto [downloads, viaProxy] = Seen("/files/proxied.bin", 2);
  EXPECT_GE(downloads, 2u);
  EXPECT_EQ(viaProxy, downloads);
  EXPECT_EQ(Seen("/collect", 1), std::make_pair(size_t{1}, size_t{1}));

  setenv("no_proxy", "127.0.0.1", 1);
  EXPECT_EQ(Download("direct.bin"), 1) << LogText();
  const auto [direct, directViaProxy] = Seen("/files/direct.bin", 2);
  EXPECT_GE(direct, 2u);
  EXPECT_EQ(directViaProxy, 0u);
}

// A proxy that demands credentials refuses a request without them; the
// user and password of the proxy URL get it through.
TEST_F(ProxyTest, CredentialsOfTheProxyUrlSatisfyAProxyThatDemandsThem) {
  Tinyproxy proxy("websetup:s3cret");
  ASSERT_TRUE(proxy.ready()) << proxy.errors();
  setenv("http_proxy", proxy.url().c_str(), 1);
  std::string body;
  EXPECT_EQ(weblog::HttpGet(Url("/files/note.txt"), &body), -1);
  weblog::CurlHttpClient client("");
  // tinyproxy answers 407 and closes without reading the POST's body.
  const int refused = client.Post(Url("/collect"), "Content-Type: application/json", "{}");
  EXPECT_TRUE(refused != 0 || client.GetResponseCode() == 407) << refused;
  EXPECT_EQ(Seen("/files/note.txt").first, 0u);
  EXPECT_EQ(Seen("/collect").first, 0u);

  setenv("http_proxy", proxy.url("websetup:s3cret").c_str(), 1);
  EXPECT_EQ(weblog::HttpGet(Url("/files/note.txt"), &body), 0);
  EXPECT_EQ(body, "through the proxy");
  ASSERT_EQ(client.Post(Url("/collect"), "Content-Type: application/json", "{}"), 0);
  EXPECT_EQ(client.GetResponseCode(), 200);
  EXPECT_EQ(Download("allowed.bin"), 1) << LogText();
  const auto [allowed, allowedViaProxy] = Seen("/files/allowed.bin", 2);
  EXPECT_GE(allowed, 2u);
  EXPECT_EQ(allowedViaProxy, allowed);
}

}  // namespace
}  // namespace net_test
