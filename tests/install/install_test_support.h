#ifndef WEBSETUP_TESTS_INSTALL_INSTALL_TEST_SUPPORT_H_
#define WEBSETUP_TESTS_INSTALL_INSTALL_TEST_SUPPORT_H_

// Shared pieces of the install-flow tests: a maker-services with its
// scenario folder, mode switches, and a recorder of the raised events.

#include <curl/curl.h>
#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "config/label_source.h"
#include "support/recording_event_sink.h"
#include "support/maker_services.h"
#include "support/temp_dir.h"

namespace install {

// Records every event raised while it lives.
class EventRecorder : public testing_support::RecordingEventSink {
 public:
  std::vector<testing_support::RaisedEvent> funnelEx() const { return ofKind("funnelEx"); }
};

// A maker-services whose root holds downloader.xml.
class ServerFixture : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { curl_global_init(CURL_GLOBAL_ALL); }
  void SetUp() override;

  // Sets a run-time mode of the server.
  void setMode(const std::string& key, const std::string& value);
  // Writes the scenario block the query route answers with.
  void writeScenario(const std::string& block);
  // Requests whose path ends in `suffix`, in journal order.
  std::vector<Json::Value> requests(const std::string& suffix) const;
  // Waits until the journal holds at least `count` such requests; returns
  // them (fewer at the limit). A response reaches the client before its
  // journal line is written, so tests wait rather than read at once.
  std::vector<Json::Value> awaitRequests(const std::string& suffix, size_t count,
                                         std::chrono::milliseconds limit = std::chrono::seconds(5));
  // Waits for exactly `count` such requests: at least that many, and no
  // further one within a short grace period.
  std::vector<Json::Value> exactRequests(const std::string& suffix, size_t count);

  testing_support::TempDir root_;
  std::unique_ptr<testing_support::MakerServices> server_;
};

// Labels served from a map (the window's controls stand-in).
class MapLabels : public config::ILabelSource {
 public:
  std::map<std::wstring, std::wstring> texts;
  std::wstring getLabelText(const std::wstring& name) const override;
};

}  // namespace install

#endif  // WEBSETUP_TESTS_INSTALL_INSTALL_TEST_SUPPORT_H_
