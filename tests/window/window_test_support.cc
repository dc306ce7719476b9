#include "window_test_support.h"

#include <curl/curl.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "common/text.h"
#include "engine/download_impl.h"
#include "engine/libcurl_tool.h"
#include "system/file_trust.h"
#include "uiframework/automation.h"
#include "uiframework/message_loop.h"
#include "uiframework/skin_archive.h"
#include "uiframework/window.h"
#include "window/message_box_wnd.h"
#include "zip/zip_writer.h"

namespace window_test {

namespace fs = std::filesystem;

namespace {

std::string readAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

void WindowFixture::SetUpTestSuite() {
  curl_global_init(CURL_GLOBAL_ALL);
  ui::SetHostKind(ui::HostKind::kHeadless);
}

void WindowFixture::SetUp() {
  ui::MessageLoop::Get()->ResetQuit();
  const std::string root = dir_.file("served");
  fs::create_directories(root);
  fs::copy_file(std::string(SAMPLE_INSTALLER_DIR) + "/setup_orlastra.exe", root + "/setup_orlastra.exe");
  fs::copy_file(std::string(SAMPLE_INSTALLER_DIR) + "/downloader.xml", root + "/downloader.xml");
  server_ = std::make_unique<testing_support::MakerServices>(root);
  setenv("WEBSETUP_REGISTRY", dir_.file("registry").c_str(), 1);
  setenv("WEBSETUP_TRUSTED_CA", (std::string(SAMPLE_INSTALLER_DIR) + "/test-ca.pem").c_str(), 1);
  setenv("SAMPLE_INSTALLER_SECONDS", "0", 1);
  events_ = std::make_unique<testing_support::RecordingEventSink>();

  env_ = window::WindowEnvironment();
  env_.events = events_.get();
  env_.bannerBase = server_->baseUrl();
  env_.banners.get = [](const std::string& url, std::string* body) {
    engine::CLibcurlTool curl;
    return curl.httpGet(url.c_str(), *body, false);
  };
  env_.banners.download = [](const std::wstring& url, const std::wstring& path,
                             const std::atomic<bool>* stop) {
    engine::DownloadOptions options;
    options.stop = stop;
    std::string cdn;
    return engine::CDownLoadImpl::SuperDownloadFile(url, path, &cdn, options);
  };
  install::InstallSettings& s = env_.install;
  s.cacheDir = common::utf8ToWide(dir_.file("cache"));
  s.logDir = common::utf8ToWide(dir_.file("logs"));
  fs::create_directories(dir_.file("cache"));
  fs::create_directories(dir_.file("logs"));
  s.query.comBase = server_->baseUrl() + "/com";
  s.query.cnBase = server_->baseUrl() + "/cn";
  s.query.testBase = server_->baseUrl() + "/test";
  s.reports.exceptionBase = server_->baseUrl();
  s.reports.updateComBase = server_->baseUrl() + "/com";
  s.modulePath = "/opt/setup/setup.exe";
  s.freeSpace = [](const std::string&, uint64_t* bytes) {
    *bytes = uint64_t{1} << 40;
    return true;
  };
  const std::string pin = readAll(std::string(SAMPLE_INSTALLER_DIR) + "/signer.sha256");
  s.verifySignature = [pin](const std::wstring& path) {
    return FuntionImpl::VerifyPinnedSignature(path, {pin});
  };
  s.openUrl = [this](const std::wstring& url) { opened_.push_back(url); };
  s.stopService = [](const std::string&) { return 0; };
  s.pendingRenames = [] { return std::vector<std::string>(); };
  s.restartSelf = [](const std::string&) { return -1; };
  env_.programFilesDir = common::utf8ToWide(dir_.file("Program Files"));
  env_.modulePath = s.modulePath;
  env_.screenSize = [](int* w, int* h) { *w = 1920; *h = 1080; };
  env_.open = [this](const std::wstring& target) { opened_.push_back(target); };
  env_.startProduct = [this](const std::wstring& commandLine, int) {
    started_.push_back(commandLine);
    return 0;
  };
  env_.showInFolder = [this](const std::wstring& path) { opened_.push_back(path); };
}

void WindowFixture::TearDown() {
  if (window_) {
    window_->WaitForAllThreadExit();
    window_.reset();
  }
  ui::MessageLoop::Get()->ResetQuit();
  events_.reset();
  server_.reset();
  unsetenv("SAMPLE_INSTALLER_SECONDS");
  unsetenv("SAMPLE_INSTALLER_EXIT");
}

void WindowFixture::openWindow() {
  window_ = std::make_unique<window::InstallUIMainWnd>(L"", env_);
  ASSERT_TRUE(window_->Create(0, L"Setup", 0, 0, 650, 560)) << window_->GetLoadError();
  ASSERT_TRUE(window_->GetLoadError().empty()) << window_->GetLoadError();
  window_->ShowWindow(true);
}

bool WindowFixture::runUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  ui::MessageLoop* loop = ui::MessageLoop::Get();
  while (!done() && std::chrono::steady_clock::now() < end && !loop->QuitRequested()) {
    loop->RunPending();
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return done();
}

void WindowFixture::answerNextBox(const std::wstring& button, const std::string& shot) {
  dismissNextBox([button, shot](window::MessageBoxWnd* box) {
    if (!shot.empty()) {
      const std::string path = std::string(WINDOW_ARTIFACT_DIR) + "/" + shot;
      fs::create_directories(fs::path(path).parent_path());
      EXPECT_TRUE(ui::automation::Screenshot(box, path));
    }
    EXPECT_TRUE(ui::automation::Click(box, button));
  });
}

void WindowFixture::dismissNextBox(std::function<void(window::MessageBoxWnd* box)> dismiss) {
  auto* kinds = &boxKinds_;
  std::shared_ptr<std::function<void()>> poll = std::make_shared<std::function<void()>>();
  *poll = [kinds, dismiss = std::move(dismiss), poll] {
    window::MessageBoxWnd* box = window::MessageBoxWnd::Active();
    if (box == nullptr) {
      ui::MessageLoop::Get()->PostTask([poll] { (*poll)(); });
      return;
    }
    kinds->push_back(box->Kind());
    dismiss(box);
    *poll = nullptr;  // breaks the cycle
  };
  ui::MessageLoop::Get()->PostTask([poll] { (*poll)(); });
}

bool WindowFixture::click(const std::wstring& name) { return ui::automation::Click(window_.get(), name); }
std::wstring WindowFixture::text(const std::wstring& name) { return ui::automation::Text(window_.get(), name); }
bool WindowFixture::visible(const std::wstring& name) { return ui::automation::IsVisible(window_.get(), name); }
int WindowFixture::page(const std::wstring& tab) { return ui::automation::CurrentPage(window_.get(), tab); }
int WindowFixture::windowHeight() { return window_->GetWindowRect().height(); }

void WindowFixture::screenshot(const std::string& name) {
  const std::string path = std::string(WINDOW_ARTIFACT_DIR) + "/" + name;
  fs::create_directories(fs::path(path).parent_path());
  EXPECT_TRUE(ui::automation::Screenshot(window_.get(), path));
}

void WindowFixture::setMode(const std::string& key, const std::string& value) {
  engine::CLibcurlTool curl;
  std::string reply;
  ASSERT_EQ(curl.HttpPost(server_->baseUrl() + "/control/mode?key=" + key + "&value=" + value, "",
                          &reply, ""),
            0);
}

VariantArchive::VariantArchive(const std::map<std::string, std::string>& replaced) {
  const std::string zip = dir_.file("variant.zip");
  auto writer = websetup_zip::ZipWriter::create(zip);
  int n = 0;
  for (const auto& entry : fs::recursive_directory_iterator(SKIN_SOURCE_DIR)) {
    if (!entry.is_regular_file()) continue;
    const std::string name = fs::relative(entry.path(), SKIN_SOURCE_DIR).generic_string();
    if (name == "CMakeLists.txt") continue;
    std::string source = entry.path().string();
    if (auto it = replaced.find(name); it != replaced.end()) {
      if (it->second.empty()) continue;
      source = dir_.file("replaced_" + std::to_string(n++));
      std::ofstream(source, std::ios::binary) << it->second;
    }
    EXPECT_EQ(writer->addFile(common::utf8ToWide(name), source), websetup_zip::EnumZipResult::kOk);
  }
  EXPECT_EQ(writer->close(), websetup_zip::EnumZipResult::kOk);
  ui::EnumUiResult result;
  ui::SetSkinArchiveOverride(ui::SkinArchive::FromFile(zip, &result));
}

VariantArchive::~VariantArchive() { ui::SetSkinArchiveOverride(nullptr); }

std::string VariantArchive::Source(const std::string& name) {
  return readAll(std::string(SKIN_SOURCE_DIR) + "/" + name);
}

}  // namespace window_test
