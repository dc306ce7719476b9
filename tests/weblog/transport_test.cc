// The two transports against a real loopback maker-services.

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "tests/support/maker_services.h"
#include "tests/support/subprocess.h"
#include "tests/support/temp_dir.h"
#include "weblog/curl_http_client.h"
#include "weblog/http_get.h"

namespace weblog {
namespace {

using namespace std::chrono_literals;

// Answers of the ticket route and of the test collector, as modes make them.
constexpr char kTicketPath[] = "/api/v1/ticket/feedback";
constexpr char kTicketAnswer[] = "{\"status\":200,\"msg\":\"ok\"}";
constexpr char kCollectorPath[] = "/collector";

class TransportTest : public ::testing::Test {
 protected:
  TransportTest() : services_(root_.path()) {}

  std::string Url(const std::string& path) const { return services_.baseUrl() + path; }
  void SetMode(const std::string& key, const std::string& value) {
    ASSERT_EQ(testing_support::runToEnd({"/usr/bin/curl", "-s", "-d", "",
                                         Url("/control/mode?key=" + key + "&value=" + value)},
                                        10s),
              0);
  }

  testing_support::TempDir root_;
  testing_support::MakerServices services_;
};

// A non-200 answer must not leak its body into the caller's string; the
// request carries the headers the user-log server expects.
TEST_F(TransportTest, GetAcceptsOnly200) {
  std::string body;
  EXPECT_EQ(HttpGet(Url("/files/missing"), &body), -1);
  EXPECT_EQ(body, "");
  ASSERT_TRUE(testing_support::writeFile(root_.file("big"), std::string(100000, 'b') + "end"));
  EXPECT_EQ(HttpGet(Url("/files/big"), &body), 0);
  EXPECT_EQ(body.size(), 100003u);
  EXPECT_EQ(body.substr(body.size() - 3), "end");
  const auto sent = services_.requestsTo("/files/big", 1, 10s);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0]["headers"]["Accept-Language"], "zh-cn");
  EXPECT_EQ(sent[0]["headers"]["Pragma"], "no-cache");
  EXPECT_EQ(HttpGet("http://127.0.0.1:1/closed", &body), -1);
}

// Each thread reads back its own last response, never another thread's.
TEST_F(TransportTest, PostKeepsResponsesPerThread) {
  SetMode("test_collector.status", "503");
  SetMode("test_collector.body", "busy");
  testing_support::TempDir dir;
  CurlHttpClient client(dir.file(".log"));
  EXPECT_EQ(client.GetResponseCode(), 0);
  EXPECT_EQ(client.GetResponse(), "");
  auto worker = [&](const char* path, long status, const std::string& answer, bool* ok) {
    *ok = true;
    for (int i = 0; i < 20; ++i) {
      *ok &= client.Post(Url(path), "X-Test: 1", "b") == 0;
      *ok &= client.GetResponseCode() == status;
      *ok &= client.GetResponse() == answer;
    }
  };
  bool ok1 = false, ok2 = false;
  std::thread a(worker, kTicketPath, 200, kTicketAnswer, &ok1);
  std::thread b(worker, kCollectorPath, 503, "busy", &ok2);
  a.join();
  b.join();
  EXPECT_TRUE(ok1);
  EXPECT_TRUE(ok2);
  // On the main thread nothing has been asked yet.
  EXPECT_EQ(client.GetResponseCode(), 0);
  const auto posted = services_.requestsTo(kCollectorPath, 20, 10s);
  ASSERT_EQ(posted.size(), 20u);
  EXPECT_EQ(posted[0]["headers"]["X-Test"], "1");
  EXPECT_EQ(posted[0]["body"], "b");
}

// A failed transfer is logged and leaves the thread's last response as it was.
TEST_F(TransportTest, FailedPostIsLoggedAndKeepsLastResponse) {
  SetMode("ticket.status", "201");
  testing_support::TempDir dir;
  CurlHttpClient client(dir.file(".log"));
  ASSERT_EQ(client.Post(Url(kTicketPath), "", "x"), 0);
  EXPECT_NE(client.Post("http://127.0.0.1:1/closed", "", "x"), 0);
  EXPECT_EQ(client.GetResponseCode(), 201);
  const std::string log = testing_support::readFile(dir.file(".log"));
  EXPECT_NE(log.find("] Failed to perform request [7]\n"), std::string::npos) << log;
  // Without the folder nothing is written, and nothing fails.
  CurlHttpClient silent(dir.file("Logs/.log"));
  EXPECT_NE(silent.Post("http://127.0.0.1:1/closed", "", "x"), 0);
  EXPECT_EQ(testing_support::readFile(dir.file("Logs/.log")), "");
}

}  // namespace
}  // namespace weblog
