#ifndef WEBSETUP_TESTS_INSTALL_INSTALL_FLOW_FIXTURE_H_
#define WEBSETUP_TESTS_INSTALL_INSTALL_FLOW_FIXTURE_H_

// The install flow end to end: a maker-services that serves the signed
// sample installer and its <Downloader> scenario, a temporary machine
// (cache, log folder, install folder, registry store), the test window and
// the log lines the flow writes. Each SetupRun is one process's worth of
// state, so a test can play a later start of the setup against the same
// cache.

#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "config/configure.h"
#include "install/install_flow.h"
#include "install_test_support.h"
#include "test_install_window.h"

namespace install {

// The build's sample installer: its folder and the files it holds.
extern const std::string kArtefacts;
constexpr char kUninstallKey[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{Orlastra}_is1";
constexpr int64_t kMiB = 1024 * 1024;

// The log lines of the whole binary, kept from the start of each test.
// Thread-safe.
class LogLines {
 public:
  static LogLines& instance();
  void add(const std::string& line);
  void clear();
  // The lines containing `part`, in order.
  std::vector<std::string> containing(const std::string& part) const;
  bool waitFor(const std::string& part, std::chrono::milliseconds limit) const;

 private:
  mutable std::mutex mu_;
  std::vector<std::string> lines_;
};

// One start of the setup: its window, configuration record, shared state
// and install flow. The record gets the window's first fill from the
// embedded configuration, as at start-up.
struct SetupRun {
  SetupRun(std::wstring installPath, const std::map<std::wstring, std::wstring>& labels,
      common::EventSink* events, InstallSettings settings);
  TestInstallWindow window;
  config::CConfigure record{630, 1033, 521};
  InstallShared shared;
  std::unique_ptr<CInstallFlow> flow;  // last: it goes first
};

// The install thread of one run, started by the constructor. A thread still
// running when the test gives up is released by closing the window, so a
// stuck flow fails the test instead of hanging it.
class InstallThread {
 public:
  explicit InstallThread(CInstallFlow* flow);
  ~InstallThread();
  // Waits at most `limit` for the thread's result.
  uint32_t join(std::chrono::seconds limit = std::chrono::seconds(60));
  bool ended() const { return done_.load(); }

 private:
  CInstallFlow* flow_;
  std::atomic<bool> done_{false};
  std::atomic<uint32_t> result_{0};
  std::thread thread_;
};

// GET requests carrying a Range header (the engine's segments).
struct Transfers {
  int requests = 0;
  int64_t bytes = 0;
};

class InstallFlowTest : public ServerFixture {
 protected:
  void SetUp() override;
  void TearDown() override;

  // A new start of the setup with the test's settings and `labels` over
  // the product configuration.
  std::unique_ptr<SetupRun> newRun(const std::map<std::wstring, std::wstring>& labels = {});
  // Runs the install thread of `run` to its end.
  uint32_t runToEnd(SetupRun& run, std::chrono::seconds limit = std::chrono::seconds(60));
  InstallSettings settings();
  // Waits until the installer has ended well and the thread waits for the
  // progress bar (it stores the product's language just before). False
  // when the thread ended instead, or at the limit.
  static bool awaitProgressWait(const SetupRun& run, const InstallThread& thread);

  // Copies `artefact` of the build into the served root as `as`.
  void serve(const std::string& artefact, const std::string& as = "setup_orlastra.exe");
  // Rewrites the text of <tag> in the served scenario.
  void setField(const std::string& tag, const std::string& value);
  // The number of journal lines once no further line arrives.
  size_t journalMark();
  Transfers segmentTransfers(size_t fromLine);

  // The cached installer and its two companions.
  std::string installerPath() const { return cacheDir_ + "/setup_orlastra_1.0.0.0.exe"; }
  std::string taskFile() const { return installerPath() + ".xml"; }
  std::string hashRecord() const { return installerPath() + ".db"; }
  // The lines of the installer's argument file (one per argument, runs
  // appended).
  std::vector<std::string> installerArgs() const;
  // A value under the product's uninstall key; "<missing>" when absent.
  static std::string uninstallValue(const std::string& name);
  std::vector<std::wstring> openedUrls() const;

  testing_support::TempDir work_;
  const std::string cacheDir_ = work_.file("cache");
  const std::string logDir_ = work_.file("setup logs");
  const std::string installDir_ = work_.file("Program Files/Orlastra");
  const std::string argsFile_ = work_.file("installer-args.txt");
  std::string scenario_;
  std::string signerPin_;
  EventRecorder events_;

  // Free bytes the space check sees: the cache folder's, and every other
  // folder's. Unset: the query fails, which counts as enough space.
  std::atomic<int64_t> cacheFree_{-1};
  std::atomic<int64_t> otherFree_{-1};
  std::atomic<int> freeSpaceCalls_{0};
  std::wstring bestDrivePath_;
  std::vector<std::string> pendingRenames_;
  std::vector<std::string> stoppedServices_;
  std::atomic<int> configurationQueries_{0};
  // Replaces the pinned signature check when set (before the run starts).
  std::function<bool(const std::wstring&)> verifySignature_;

 private:
  mutable std::mutex mu_;
  std::vector<std::wstring> openedUrls_;
};

// Sets an environment variable for the installer the flow starts, and
// removes it again.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value);
  ~ScopedEnv();

 private:
  const char* name_;
};

std::wstring wide(const std::string& text);

}  // namespace install

#endif  // WEBSETUP_TESTS_INSTALL_INSTALL_FLOW_FIXTURE_H_
