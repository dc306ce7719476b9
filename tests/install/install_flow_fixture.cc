#include "install_flow_fixture.h"

#include <stdlib.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <sstream>

#include "common/log.h"
#include "common/text.h"
#include "engine/content_length_cache.h"
#include "platform/registry.h"
#include "platform/system_info.h"
#include "support/subprocess.h"
#include "support/temp_dir.h"
#include "system/file_trust.h"

namespace install {

const std::string kArtefacts = SAMPLE_INSTALLER_DIR;

namespace {

namespace fs = std::filesystem;

class LogCallback : public el::LogDispatchCallback {
 protected:
  void handle(const el::LogDispatchData* data) override {
    LogLines::instance().add(data->logMessage()->message());
  }
};

// The flow's log lines go to LogLines; to the terminal only with
// INSTALL_TEST_LOG set.
class LogEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    el::Configurations conf;
    conf.setToDefault();
    conf.setGlobally(el::ConfigurationType::ToFile, "false");
    conf.setGlobally(el::ConfigurationType::ToStandardOutput,
                     std::getenv("INSTALL_TEST_LOG") ? "true" : "false");
    el::Loggers::reconfigureLogger("default", conf);
    el::Helpers::installLogDispatchCallback<LogCallback>("install_test_log");
  }
};

const ::testing::Environment* const kLogEnvironment =
    ::testing::AddGlobalTestEnvironment(new LogEnvironment);

constexpr const char* kInstallerKnobs[] = {"SAMPLE_INSTALLER_SECONDS", "SAMPLE_INSTALLER_EXIT",
                                           "SAMPLE_INSTALLER_SUBDIR",
                                           "SAMPLE_INSTALLER_ARGS_FILE"};

}  // namespace

std::wstring wide(const std::string& text) { return common::utf8ToWide(text); }

LogLines& LogLines::instance() {
  static LogLines lines;
  return lines;
}

void LogLines::add(const std::string& line) {
  std::lock_guard<std::mutex> lock(mu_);
  lines_.push_back(line);
}

void LogLines::clear() {
  std::lock_guard<std::mutex> lock(mu_);
  lines_.clear();
}

std::vector<std::string> LogLines::containing(const std::string& part) const {
  std::lock_guard<std::mutex> lock(mu_);
  std::vector<std::string> out;
  for (const std::string& line : lines_) {
    if (line.find(part) != std::string::npos) out.push_back(line);
  }
  return out;
}

bool LogLines::waitFor(const std::string& part, std::chrono::milliseconds limit) const {
  return testing_support::waitFor([&] { return !containing(part).empty(); }, limit);
}

SetupRun::SetupRun(std::wstring installPath, const std::map<std::wstring, std::wstring>& labels,
         common::EventSink* events, InstallSettings settings)
    : window(std::move(installPath), labels) {
  record.fillFromLabels(window, false);
  flow = std::make_unique<CInstallFlow>(&record, &window, &window, &shared, events,
                                        std::move(settings));
}

InstallThread::InstallThread(CInstallFlow* flow)
    : flow_(flow), thread_([this] {
        result_ = flow_->InstallThreadFunc();
        done_ = true;
      }) {}

InstallThread::~InstallThread() {
  if (!thread_.joinable()) return;
  flow_->OnWindowClosing();
  thread_.join();
}

uint32_t InstallThread::join(std::chrono::seconds limit) {
  if (!testing_support::waitFor([this] { return done_.load(); }, limit)) {
    ADD_FAILURE() << "install thread still running after " << limit.count() << " s";
    flow_->OnWindowClosing();
  }
  thread_.join();
  return result_;
}

void InstallFlowTest::SetUp() {
  ServerFixture::SetUp();
  // Loopback is all these tests need, whatever the machine's interfaces say.
  platform::setNetworkAliveOverride(true);
  engine::ClearContentLengthCache();
  LogLines::instance().clear();
  fs::create_directories(cacheDir_);
  setenv("WEBSETUP_REGISTRY", work_.file("registry").c_str(), 1);
  setenv("WEBSETUP_TRUSTED_CA", (kArtefacts + "/test-ca.pem").c_str(), 1);
  setenv("SAMPLE_INSTALLER_SECONDS", "0", 1);
  setenv("SAMPLE_INSTALLER_ARGS_FILE", argsFile_.c_str(), 1);
  signerPin_ = testing_support::readFile(kArtefacts + "/signer.sha256");
  ASSERT_EQ(signerPin_.size(), 64u);
  serve("setup_orlastra.exe");
  scenario_ = testing_support::readFile(kArtefacts + "/downloader.xml");
  ASSERT_NE(scenario_.find("<Downloader>"), std::string::npos);
  writeScenario(scenario_);
}

void InstallFlowTest::TearDown() {
  // A failure seen once on a loaded machine is a guess without the flow's
  // own account of it.
  if (HasFailure()) {
    for (const std::string& line : LogLines::instance().containing("")) {
      std::fprintf(stderr, "log:%s\n", line.c_str());
    }
  }
  for (const char* knob : kInstallerKnobs) unsetenv(knob);
  unsetenv("WEBSETUP_TRUSTED_CA");
  unsetenv("WEBSETUP_REGISTRY");
  platform::setNetworkAliveOverride(std::nullopt);
}

InstallSettings InstallFlowTest::settings() {
  InstallSettings s;
  s.cacheDir = wide(cacheDir_);
  s.logDir = wide(logDir_);
  // One server plays the update server's hosts and the alert collector.
  s.query.comBase = server_->baseUrl() + "/com";
  s.query.cnBase = server_->baseUrl() + "/cn";
  s.query.testBase = server_->baseUrl() + "/test";
  s.query.systemName = [this](float* version) {
    ++configurationQueries_;
    *version = 11.0f;
    return std::string("Windows Test");
  };
  s.reports.exceptionBase = server_->baseUrl();
  s.reports.updateComBase = server_->baseUrl() + "/com";
  s.modulePath = work_.file("websetup");
  s.freeSpace = [this](const std::string& path, uint64_t* bytes) {
    ++freeSpaceCalls_;
    const int64_t free = path == cacheDir_ ? cacheFree_.load() : otherFree_.load();
    if (free < 0) return false;
    *bytes = static_cast<uint64_t>(free);
    return true;
  };
  s.bestDrive = [this](const std::wstring& path) {
    return bestDrivePath_.empty() ? path : bestDrivePath_;
  };
  const std::string pin = signerPin_;
  s.verifySignature = verifySignature_ ? verifySignature_ : [pin](const std::wstring& path) {
    return FuntionImpl::VerifyPinnedSignature(path, {pin});
  };
  s.openUrl = [this](const std::wstring& url) {
    std::lock_guard<std::mutex> lock(mu_);
    openedUrls_.push_back(url);
  };
  s.releaseInstanceLock = [] {};
  s.restartSelf = [](const std::string&) { return -1; };
  s.stopService = [this](const std::string& name) {
    stoppedServices_.push_back(name);
    return 0;
  };
  s.pendingRenames = [this] { return pendingRenames_; };
  s.runFolders = {work_.path()};
  s.downloadThreads = 4;
  return s;
}

std::unique_ptr<SetupRun> InstallFlowTest::newRun(
    const std::map<std::wstring, std::wstring>& labels) {
  return std::make_unique<SetupRun>(wide(installDir_), labels, &events_, settings());
}

uint32_t InstallFlowTest::runToEnd(SetupRun& run, std::chrono::seconds limit) {
  InstallThread thread(run.flow.get());
  return thread.join(limit);
}

bool InstallFlowTest::awaitProgressWait(const SetupRun& run, const InstallThread& thread) {
  testing_support::waitFor(
      [&] { return run.window.languageWrites() == 1 || thread.ended(); },
      std::chrono::milliseconds(60000));
  return run.window.languageWrites() == 1 && !thread.ended();
}

void InstallFlowTest::serve(const std::string& artefact, const std::string& as) {
  fs::copy_file(kArtefacts + "/" + artefact, root_.file(as), fs::copy_options::overwrite_existing);
}

void InstallFlowTest::setField(const std::string& tag, const std::string& value) {
  const std::string open = "<" + tag + ">";
  const size_t from = scenario_.find(open);
  const size_t to = scenario_.find("</" + tag + ">", from);
  ASSERT_TRUE(from != std::string::npos && to != std::string::npos) << tag;
  scenario_.replace(from + open.size(), to - from - open.size(), value);
  writeScenario(scenario_);
}

size_t InstallFlowTest::journalMark() {
  size_t n = server_->journal().size();
  // A response's line is written after the client saw its end.
  while (server_->waitForJournal(n + 1, std::chrono::milliseconds(200))) {
    n = server_->journal().size();
  }
  return n;
}

Transfers InstallFlowTest::segmentTransfers(size_t fromLine) {
  journalMark();
  const std::vector<Json::Value> lines = server_->journal();
  Transfers t;
  for (size_t i = fromLine; i < lines.size(); ++i) {
    if (lines[i]["method"].asString() != "GET" || !lines[i]["headers"].isMember("Range")) continue;
    ++t.requests;
    t.bytes += lines[i]["bytes_sent"].asInt64();
  }
  return t;
}

std::vector<std::string> InstallFlowTest::installerArgs() const {
  std::vector<std::string> out;
  std::istringstream in(testing_support::readFile(argsFile_));
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

std::string InstallFlowTest::uninstallValue(const std::string& name) {
  platform::RegistryValue v;
  if (platform::registryRead(platform::RegistryHive::kLocalMachine, kUninstallKey, name, &v) !=
      platform::PlatformResult::kOk) {
    return "<missing>";
  }
  return v.text;
}

std::vector<std::wstring> InstallFlowTest::openedUrls() const {
  std::lock_guard<std::mutex> lock(mu_);
  return openedUrls_;
}

ScopedEnv::ScopedEnv(const char* name, const std::string& value) : name_(name) {
  setenv(name, value.c_str(), 1);
}

ScopedEnv::~ScopedEnv() { unsetenv(name_); }

}  // namespace install
