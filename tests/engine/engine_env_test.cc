// Process set-up of the engine tests: libcurl, the log sink and the
// telemetry hooks. No test cases live here.
#include <curl/curl.h>
#include <gtest/gtest.h>

#include "common/log.h"
#include "common/events.h"
#include "engine_test_env.h"

namespace engine_test {

Recorder& Recorder::instance() {
  static Recorder r;
  return r;
}

void Recorder::clear() {
  common::MutexLock lock(&mu_);
  logs_.clear();
  events_.clear();
}

void Recorder::addLog(const std::string& line) {
  common::MutexLock lock(&mu_);
  logs_.push_back(line);
}

void Recorder::addEvent(const std::string& text) {
  common::MutexLock lock(&mu_);
  events_.push_back(text);
}

bool Recorder::logged(const std::string& part) const {
  common::MutexLock lock(&mu_);
  for (const auto& l : logs_) {
    if (l.find(part) != std::string::npos) return true;
  }
  return false;
}

int Recorder::logCount(const std::string& part) const {
  common::MutexLock lock(&mu_);
  int n = 0;
  for (const auto& l : logs_) n += l.find(part) != std::string::npos;
  return n;
}

int Recorder::eventCount(const std::string& text) const {
  common::MutexLock lock(&mu_);
  int n = 0;
  for (const auto& e : events_) n += e == text;
  return n;
}

std::vector<std::string> Recorder::events() const {
  common::MutexLock lock(&mu_);
  return events_;
}

namespace {

// Reports go to the recorder as "category|action|label" (events) and
// "funnel|category|action" (funnel records).
class RecorderSink : public common::EventSink {
 public:
  void Event(const std::string& c, const std::string& a, const std::string& l, bool) override {
    Recorder::instance().addEvent(c + "|" + a + "|" + l);
  }
  void Funnel(const std::string&, const std::string&, int32_t, const std::string& c,
              const std::string& a, const std::string&, bool, bool) override {
    Recorder::instance().addEvent("funnel|" + c + "|" + a);
  }
  void FunnelEx(const std::string& c, const std::string& a, const common::FunnelMembers&, bool,
                bool) override {
    Recorder::instance().addEvent("funnel|" + c + "|" + a);
  }
  void ServerInteger(const std::string&, int32_t) override {}
};

}  // namespace

void installRecordingHooks() {
  static RecorderSink sink;
  common::SetEventSink(&sink);
}

namespace {

class LogSink : public el::LogDispatchCallback {
 protected:
  void handle(const el::LogDispatchData* data) override {
    Recorder::instance().addLog(data->logMessage()->message());
  }
};

class EngineEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    curl_global_init(CURL_GLOBAL_ALL);
    el::Configurations conf;
    conf.setToDefault();
    conf.setGlobally(el::ConfigurationType::ToFile, "false");
    conf.setGlobally(el::ConfigurationType::ToStandardOutput,
                     std::getenv("ENGINE_TEST_LOG") ? "true" : "false");
    el::Loggers::reconfigureLogger("default", conf);
    el::Helpers::installLogDispatchCallback<LogSink>("engine_test_sink");
    installRecordingHooks();
  }
  void TearDown() override { curl_global_cleanup(); }
};

const ::testing::Environment* const kEnvironment =
    ::testing::AddGlobalTestEnvironment(new EngineEnvironment);

}  // namespace
}  // namespace engine_test
