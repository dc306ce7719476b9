#include <curl/curl.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "common/log.h"
#include "common/mutex.h"
#include "net_test_env.h"

namespace net_test {
namespace {

common::Mutex logMu;
std::vector<std::string>& lines() {
  static std::vector<std::string> all;
  return all;
}

class LogSink : public el::LogDispatchCallback {
 protected:
  void handle(const el::LogDispatchData* data) override {
    common::MutexLock lock(&logMu);
    lines().push_back(data->logMessage()->message());
  }
};

class NetEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    curl_global_init(CURL_GLOBAL_ALL);
    el::Configurations conf;
    conf.setToDefault();
    conf.setGlobally(el::ConfigurationType::ToFile, "false");
    conf.setGlobally(el::ConfigurationType::ToStandardOutput,
                     std::getenv("NET_TEST_LOG") ? "true" : "false");
    el::Loggers::reconfigureLogger("default", conf);
    el::Helpers::installLogDispatchCallback<LogSink>("net_test_sink");
    // The machine's own proxy settings must not carry test traffic.
    for (const char* name : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy",
                             "ALL_PROXY", "no_proxy", "NO_PROXY"}) {
      unsetenv(name);
    }
  }
  void TearDown() override { curl_global_cleanup(); }
};

const ::testing::Environment* const kEnvironment =
    ::testing::AddGlobalTestEnvironment(new NetEnvironment);

}  // namespace

void ClearLog() {
  common::MutexLock lock(&logMu);
  lines().clear();
}

int LogCount(const std::string& part) {
  common::MutexLock lock(&logMu);
  int n = 0;
  for (const std::string& line : lines()) n += line.find(part) != std::string::npos ? 1 : 0;
  return n;
}

std::string LogText() {
  common::MutexLock lock(&logMu);
  std::string text;
  for (const std::string& line : lines()) text += line + "\n";
  return text;
}

}  // namespace net_test
