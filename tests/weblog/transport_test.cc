// The two transports against a real loopback server run by the test.

#include <httplib.h>

#include <gtest/gtest.h>

#include <thread>

#include "tests/support/temp_dir.h"
#include "weblog/curl_http_client.h"
#include "weblog/http_get.h"

namespace weblog {
namespace {

class TransportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server_.Get("/missing", [](const httplib::Request&, httplib::Response& res) {
      res.status = 404;
      res.set_content("not here", "text/plain");
    });
    server_.Get("/big", [](const httplib::Request&, httplib::Response& res) {
      res.set_content(std::string(100000, 'b') + "end", "text/plain");
    });
    server_.Get("/headers", [](const httplib::Request& req, httplib::Response& res) {
      res.set_content(req.get_header_value("Accept-Language") + "|" +
                          req.get_header_value("Pragma"),
                      "text/plain");
    });
    server_.Post(R"(/status/(\d+))", [](const httplib::Request& req, httplib::Response& res) {
      res.status = std::stoi(req.matches[1]);
      res.set_content("answer " + std::string(req.matches[1]) + " " + req.body, "text/plain");
    });
    port_ = server_.bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    while (!server_.is_running()) std::this_thread::yield();
  }
  void TearDown() override {
    server_.stop();
    thread_.join();
  }
  std::string Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
  }

  httplib::Server server_;
  std::thread thread_;
  int port_ = 0;
};

// A non-200 answer must not leak its body into the caller's string.
TEST_F(TransportTest, GetAcceptsOnly200) {
  std::string body;
  EXPECT_EQ(HttpGet(Url("/missing"), &body), -1);
  EXPECT_EQ(body, "");
  EXPECT_EQ(HttpGet(Url("/big"), &body), 0);
  EXPECT_EQ(body.size(), 100003u);
  EXPECT_EQ(body.substr(body.size() - 3), "end");
  body.clear();
  EXPECT_EQ(HttpGet(Url("/headers"), &body), 0);
  EXPECT_EQ(body, "zh-cn|no-cache");
  EXPECT_EQ(HttpGet("http://127.0.0.1:1/closed", &body), -1);
}

// Each thread reads back its own last response, never another thread's.
TEST_F(TransportTest, PostKeepsResponsesPerThread) {
  testing_support::TempDir dir;
  CurlHttpClient client(dir.file(".log"));
  EXPECT_EQ(client.GetResponseCode(), 0);
  EXPECT_EQ(client.GetResponse(), "");
  auto worker = [&](int status, bool* ok) {
    *ok = true;
    for (int i = 0; i < 20; ++i) {
      *ok &= client.Post(Url("/status/" + std::to_string(status)), "X-Test: 1", "b") == 0;
      *ok &= client.GetResponseCode() == status;
      *ok &= client.GetResponse() == "answer " + std::to_string(status) + " b";
    }
  };
  bool ok1 = false, ok2 = false;
  std::thread a(worker, 200, &ok1);
  std::thread b(worker, 503, &ok2);
  a.join();
  b.join();
  EXPECT_TRUE(ok1);
  EXPECT_TRUE(ok2);
  // On the main thread nothing has been asked yet.
  EXPECT_EQ(client.GetResponseCode(), 0);
}

// A failed transfer is logged and leaves the thread's last response as it was.
TEST_F(TransportTest, FailedPostIsLoggedAndKeepsLastResponse) {
  testing_support::TempDir dir;
  CurlHttpClient client(dir.file(".log"));
  ASSERT_EQ(client.Post(Url("/status/201"), "", "x"), 0);
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
