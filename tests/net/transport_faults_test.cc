// Faults of the transports that a hostile or sloppy server exposes: URLs
// that carry spaces and line ends, endless redirects, bodies without end,
// a services file without its test host.

#include <gtest/gtest.h>

#include "config/services.h"
#include "engine/libcurl_tool.h"
#include "net/transport_policy.h"
#include "net_test_env.h"
#include "support/maker_services.h"
#include "support/subprocess.h"
#include "support/temp_dir.h"
#include "weblog/http_get.h"
#include "weblog/machine_guid_store.h"
#include "weblog/web_log.h"

namespace net_test {
namespace {

using namespace std::chrono_literals;
using testing_support::MakerServices;
using testing_support::TempDir;

class TransportFaultTest : public ::testing::Test {
 protected:
  TransportFaultTest() : server_(Root()) { ClearLog(); }

  const std::string& Root() {
    testing_support::writeFile(root_.file("note.txt"), "plain answer");
    testing_support::writeFile(root_.file("big.txt"), std::string(engine::CLibcurlTool::kMaxTextAnswer + 1, 'b'));
    testing_support::writeFile(root_.file("fits.txt"), std::string(engine::CLibcurlTool::kMaxTextAnswer, 'f'));
    return root_.path();
  }
  std::string Url(const std::string& path) const { return server_.baseUrl() + path; }
  void SetMode(const std::string& key, const std::string& value) {
    ASSERT_EQ(testing_support::runToEnd({"/usr/bin/curl", "-s", "-d", "",
                                         Url("/control/mode?key=" + key + "&value=" + value)},
                                        10s),
              0);
  }

  TempDir root_;
  MakerServices server_;
};

// A geolocation city such as "New York" and a stray line end reach the
// server encoded instead of making libcurl refuse the URL.
TEST_F(TransportFaultTest, UserLogGetEncodesSpacesAndControlBytes) {
  std::string body;
  EXPECT_EQ(weblog::HttpGet(Url("/files/note.txt?City=New York&x=a\nb\tc"), &body), 0);
  EXPECT_EQ(body, "plain answer");
  const auto sent = server_.requestsTo("/files/note.txt", 1, 5s);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0]["query"].asString(), "City=New%20York&x=a%0Ab%09c");
  EXPECT_EQ(net::EncodeUrl("http://h/p?q=%41\"<>|\x7f\xc3\xa9"), "http://h/p?q=%41%22%3C%3E%7C%7F%C3%A9");
}

// A bootstrap file and a QueryUser answer that end in a line end still
// name the log server and the user id.
TEST_F(TransportFaultTest, BootstrapAndUserIdAnswersLoseTheirLineEnds) {
  TempDir registry, work;
  testing_support::writeFile(registry.file("guid"), "G-1");
  testing_support::writeFile(registry.file("user_id"), "77");
  SetMode("bootstrap.body", server_.baseUrl() + "%0D%0A");
  SetMode("query_user.body", "20260002%0A");
  weblog::WebLogOptions options;
  const std::string base = server_.baseUrl();
  options.endpoints = {base, base, base, base, "http://127.0.0.1:1", base, base, base};
  options.guidStore = weblog::FolderGuidStore(registry.path());
  options.workingDir = work.path();
  options.errorLogPath = "";
  weblog::WebLog log(std::move(options));
  const char* guid = nullptr;
  const char* userId = nullptr;
  log.GetUserIdentity(&guid, &userId);
  EXPECT_EQ(log.LogServerBase(), base);
  EXPECT_EQ(std::string(userId), "20260002");
  EXPECT_EQ(server_.requestsTo("/QueryUser", 1, 5s).size(), 1u);
}

// Redirects are followed to a bounded depth: a chain of 8 hops is given up
// instead of being followed for as long as the server likes.
TEST_F(TransportFaultTest, UserLogGetStopsAfterFiveRedirects) {
  std::string body;
  EXPECT_EQ(weblog::HttpGet(Url("/faults/redirect=5/note.txt"), &body), 0);
  EXPECT_EQ(body, "plain answer");
  body.clear();
  EXPECT_EQ(weblog::HttpGet(Url("/faults/redirect=8/note.txt"), &body), -1);
  EXPECT_TRUE(body.empty());
}

// A text answer longer than 1 MiB fails as a whole, for the engine's
// plain GET (configuration query, banner list) and for the user-log GET.
TEST_F(TransportFaultTest, TextAnswersAreCappedAtOneMebibyte) {
  engine::CLibcurlTool tool;
  std::string body;
  EXPECT_EQ(tool.httpGet(Url("/files/fits.txt").c_str(), body, false), CURLE_OK);
  EXPECT_EQ(body.size(), engine::CLibcurlTool::kMaxTextAnswer);
  EXPECT_EQ(tool.httpGet(Url("/files/big.txt").c_str(), body, false), CURLE_FILESIZE_EXCEEDED);
  EXPECT_TRUE(body.empty());
  EXPECT_EQ(weblog::HttpGet(Url("/files/big.txt"), &body), -1);
  EXPECT_EQ(LogCount(" Answer longer than 1048576 bytes dropped"), 1) << LogText();
}

// A services file without the test host sends the test query to plain
// HTTP on the .com host rather than to a URL without a host.
TEST(ServicesTest, MissingTestHostFallsBackToPlainHttpOnTheComHost) {
  config::Services services;
  ASSERT_TRUE(config::Services::parse(
      "<Services><Service name=\"update_com\" url=\"https://update.example:8443/v\"/></Services>",
      &services));
  EXPECT_EQ(services.url(config::service::kUpdateTest), "http://update.example:8443/v");
  ASSERT_TRUE(config::Services::parse(
      "<Services><Service name=\"update_com\" url=\"https://update.example\"/>"
      "<Service name=\"update_test\" url=\"https://test.example\"/></Services>",
      &services));
  EXPECT_EQ(services.url(config::service::kUpdateTest), "https://test.example");
}

}  // namespace
}  // namespace net_test
