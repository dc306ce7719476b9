#include "test_install_window.h"

#include <algorithm>
#include <utility>

namespace install {
namespace {

// The skin archive is read once: every window of the binary starts from
// the same product configuration.
const config::ProductLabels& skinLabels() {
  static const config::ProductLabels labels = config::ProductLabels::fromSkinArchive();
  return labels;
}

}  // namespace

TestInstallWindow::TestInstallWindow(std::wstring installPath,
                                     const std::map<std::wstring, std::wstring>& overrides)
    : product_(skinLabels()), labels_(overrides), installPath_(std::move(installPath)) {}

std::wstring TestInstallWindow::getLabelText(const std::wstring& name) const {
  std::lock_guard<std::mutex> lock(mu_);
  auto it = labels_.find(name);
  return it != labels_.end() ? it->second : product_.getText(name);
}

void TestInstallWindow::PostInstallMessage(uint32_t message, uintptr_t wparam) {
  std::lock_guard<std::mutex> lock(mu_);
  posted_.push_back({message, wparam});
  changed_.notify_all();
}

int TestInstallWindow::GetProgressValue() const {
  std::lock_guard<std::mutex> lock(mu_);
  return progress_;
}

std::wstring TestInstallWindow::GetInstallPath() const {
  std::lock_guard<std::mutex> lock(mu_);
  return installPath_;
}

void TestInstallWindow::SetAnimationTimer(bool on) {
  std::lock_guard<std::mutex> lock(mu_);
  animation_ = on;
}

void TestInstallWindow::OnDownloadProgress(int64_t downloaded, int64_t total) {
  std::lock_guard<std::mutex> lock(mu_);
  downloaded_ = downloaded;
  total_ = total;
  changed_.notify_all();
}

int TestInstallWindow::LanguageIndex() const {
  std::lock_guard<std::mutex> lock(mu_);
  return language_;
}

int TestInstallWindow::ProductPageIndex() const {
  std::lock_guard<std::mutex> lock(mu_);
  return productPage_;
}

void TestInstallWindow::WriteProductLanguage() {
  std::lock_guard<std::mutex> lock(mu_);
  ++languageWrites_;
}

void TestInstallWindow::ClickStartApp() {
  std::lock_guard<std::mutex> lock(mu_);
  ++startAppClicks_;
}

void TestInstallWindow::RequestClose() {
  std::lock_guard<std::mutex> lock(mu_);
  ++closeRequests_;
}

int TestInstallWindow::ShowMessageBox(EnumMsgType kind) {
  std::lock_guard<std::mutex> lock(mu_);
  boxes_.push_back(kind);
  return 1;
}

void TestInstallWindow::SetInstallPathText(const std::wstring& path) {
  std::lock_guard<std::mutex> lock(mu_);
  pathTexts_.push_back(path);
  installPath_ = path;
}

void TestInstallWindow::ShowProgressPage() {
  std::lock_guard<std::mutex> lock(mu_);
  ++progressPages_;
}

void TestInstallWindow::PrepareForInstall() {
  std::lock_guard<std::mutex> lock(mu_);
  ++preparations_;
}

void TestInstallWindow::setLabel(const std::wstring& name, const std::wstring& text) {
  std::lock_guard<std::mutex> lock(mu_);
  labels_[name] = text;
}

void TestInstallWindow::setProgress(int value) {
  std::lock_guard<std::mutex> lock(mu_);
  progress_ = value;
}

void TestInstallWindow::setLanguage(int languageIndex, int productPageIndex) {
  std::lock_guard<std::mutex> lock(mu_);
  language_ = languageIndex;
  productPage_ = productPageIndex;
}

std::vector<TestInstallWindow::Posted> TestInstallWindow::posted() const {
  std::lock_guard<std::mutex> lock(mu_);
  return posted_;
}

std::vector<uint32_t> TestInstallWindow::messages() const {
  std::vector<uint32_t> out;
  for (const Posted& p : posted()) out.push_back(p.message);
  return out;
}

bool TestInstallWindow::waitForMessage(uint32_t message, std::chrono::milliseconds limit) const {
  std::unique_lock<std::mutex> lock(mu_);
  return changed_.wait_for(lock, limit, [&] {
    return std::any_of(posted_.begin(), posted_.end(),
                       [&](const Posted& p) { return p.message == message; });
  });
}

bool TestInstallWindow::waitForDownloaded(double fraction, std::chrono::milliseconds limit) const {
  std::unique_lock<std::mutex> lock(mu_);
  return changed_.wait_for(lock, limit, [&] {
    return total_ > 0 && double(downloaded_) >= fraction * double(total_);
  });
}

std::vector<EnumMsgType> TestInstallWindow::messageBoxes() const {
  std::lock_guard<std::mutex> lock(mu_);
  return boxes_;
}

bool TestInstallWindow::animationTimerOn() const {
  std::lock_guard<std::mutex> lock(mu_);
  return animation_;
}

int TestInstallWindow::startAppClicks() const {
  std::lock_guard<std::mutex> lock(mu_);
  return startAppClicks_;
}

int TestInstallWindow::languageWrites() const {
  std::lock_guard<std::mutex> lock(mu_);
  return languageWrites_;
}

int TestInstallWindow::closeRequests() const {
  std::lock_guard<std::mutex> lock(mu_);
  return closeRequests_;
}

int TestInstallWindow::progressPages() const {
  std::lock_guard<std::mutex> lock(mu_);
  return progressPages_;
}

int TestInstallWindow::preparations() const {
  std::lock_guard<std::mutex> lock(mu_);
  return preparations_;
}

std::vector<std::wstring> TestInstallWindow::pathTexts() const {
  std::lock_guard<std::mutex> lock(mu_);
  return pathTexts_;
}

}  // namespace install
