#ifndef WEBSETUP_TESTS_ENGINE_DOWNLOAD_HOST_FIXTURE_H_
#define WEBSETUP_TESTS_ENGINE_DOWNLOAD_HOST_FIXTURE_H_

// The fixture of the engine's tests against a real file host: whatever the
// fault, the download file never holds a wrong byte, so the checks here
// compare the task file's claims with the disk and the server's bytes.

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "engine/content_length_cache.h"
#include "engine/download_impl.h"
#include "engine/downloader.h"
#include "engine_test_env.h"
#include "platform/system_info.h"
#include "support/maker_services.h"
#include "support/subprocess.h"
#include "support/temp_dir.h"
#include "support/test_data.h"

namespace engine {

using std::chrono::milliseconds;
using testing_support::MakerServices;
using testing_support::randomBytes;
using testing_support::readFile;
using testing_support::TempDir;
using testing_support::waitFor;
using testing_support::writeFile;

constexpr int64_t kMiB = 1024 * 1024;

// The options of a download that reports progress (to nobody here).
inline DownloadOptions reporting() {
  DownloadOptions o;
  o.onProgress = [](int64_t, int64_t) {};
  return o;
}

// A file host on loopback, a work folder for the download and its task
// file, and the checks the engine's tests make of what is on disk.
// What every engine test against a real host starts from: no remembered
// sizes, recording hooks, loopback taken as a live network.
class EngineHostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ClearContentLengthCache();
    engine_test::installRecordingHooks();
    engine_test::Recorder::instance().clear();
    platform::setNetworkAliveOverride(true);
  }
  void TearDown() override {
    platform::setNetworkAliveOverride(std::nullopt);
    ClearContentLengthCache();
  }
};

class DownloadHostTest : public EngineHostTest {
 protected:
  // Serves `content` as `name` from a fresh host.
  void serve(const std::string& name, const std::string& content) {
    ASSERT_TRUE(writeFile(root_.file(name), content));
    content_ = content;
    if (!host_) host_ = std::make_unique<MakerServices>(root_.path());
  }
  std::string url(const std::string& path) const { return host_->baseUrl() + path; }

  // One run of the driver without the 60-second stall rule: it ends once
  // every segment has completed or failed. Returns the init result, or 1.
  // The workers write into `file` when given.
  int runOnce(const std::string& remote, int threads = 4, platform::IDownloadFile* file = nullptr) {
    ClearContentLengthCache();
    CDownloader d(remote, local_, local_ + ".xml", threads, file);
    const int init = d.downloadInit(0, "", 0);
    if (init == kErrSuccess) {
      d.setRunState(kRunRunning);
      EXPECT_TRUE(waitFor(
          [&] {
            if (d.runState() == kRunStop) return true;
            // A task loaded as failed keeps status 2 until handed out again;
            // only a failure of this run counts a request.
            for (const auto& t : d.taskManager().allTasks()) {
              const int32_t s = t->status.load();
              if (s != kTaskComplete && !(s == kTaskFailed && t->requestTimes.load() > 0))
                return false;
            }
            return true;
          },
          milliseconds(60000)));
    }
    d.setRunState(kRunStop);
    EXPECT_TRUE(d.waitDriver(60000));
    d.reset();
    return init;
  }

  // Every byte the task file counts as downloaded is the server's byte.
  // Returns the bytes still missing by the task file.
  int64_t expectTaskFileMatchesDisk() {
    CDownloadTaskManager m("", local_, local_ + ".xml");
    m.loadTaskFromFile(0);
    const std::string disk = readFile(local_);
    int64_t missing = 0;
    for (const auto& t : m.allTasks()) {
      const bool complete = t->status.load() == kTaskComplete;
      const int64_t upTo = complete ? t->writeLimit() : t->downloaded();
      if (!complete) missing += t->writeLimit() - t->downloaded();
      if (upTo <= t->start()) continue;
      EXPECT_LE(upTo, static_cast<int64_t>(disk.size())) << "task " << t->id.load();
      if (upTo > static_cast<int64_t>(disk.size())) continue;
      const size_t from = static_cast<size_t>(t->start());
      EXPECT_TRUE(disk.compare(from, size_t(upTo) - from, content_, from, size_t(upTo) - from) == 0)
          << "task " << t->id.load() << " holds foreign bytes";
    }
    return missing;
  }

  int64_t getBytesSent(size_t fromLine = 0) const {
    int64_t sum = 0;
    const auto lines = host_->journal();
    for (size_t i = fromLine; i < lines.size(); ++i) {
      if (lines[i]["method"].asString() == "GET") sum += lines[i]["bytes_sent"].asInt64();
    }
    return sum;
  }
  int countRequests(const std::string& method) const {
    int n = 0;
    for (const auto& l : host_->journal()) n += l["method"].asString() == method;
    return n;
  }

  TempDir root_;
  TempDir work_;
  std::string local_ = work_.file("setup.bin");
  std::string content_;
  std::unique_ptr<MakerServices> host_;
};

}  // namespace engine

#endif  // WEBSETUP_TESTS_ENGINE_DOWNLOAD_HOST_FIXTURE_H_
