#ifndef WEBSETUP_TESTS_MAKER_SERVICES_FILE_HOST_FIXTURE_H_
#define WEBSETUP_TESTS_MAKER_SERVICES_FILE_HOST_FIXTURE_H_

#include <curl/curl.h>
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>

#include "http_fetch.h"
#include "support/subprocess.h"
#include "support/maker_services.h"
#include "support/temp_dir.h"

namespace maker_services_test {

// A maker-services process whose root holds "data.bin": kFileSize bytes of
// fixed pseudo-random content, also kept in content_.
class FileHostTest : public ::testing::Test {
 protected:
  static constexpr size_t kFileSize = 1 << 20;

  static void SetUpTestSuite() { curl_global_init(CURL_GLOBAL_DEFAULT); }

  void SetUp() override {
    std::mt19937 rng(1234);
    content_.resize(kFileSize);
    for (char& c : content_) c = static_cast<char>(rng());
    ASSERT_TRUE(testing_support::writeFile(dir_.file("data.bin"), content_));
    server_ = std::make_unique<testing_support::MakerServices>(dir_.path());
  }

  std::string url(const std::string& path) const { return server_->baseUrl() + path; }

  // The journal lines whose path is `path`, waiting until there are `count`.
  std::vector<Json::Value> linesFor(const std::string& path, size_t count) const {
    return server_->requestsTo(path, count, std::chrono::seconds(5));
  }

  testing_support::TempDir dir_;
  std::string content_;
  std::unique_ptr<testing_support::MakerServices> server_;
};

}  // namespace maker_services_test

#endif  // WEBSETUP_TESTS_MAKER_SERVICES_FILE_HOST_FIXTURE_H_
