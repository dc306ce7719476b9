#ifndef WEBSETUP_TESTS_INSTALL_TEST_INSTALL_WINDOW_H_
#define WEBSETUP_TESTS_INSTALL_TEST_INSTALL_WINDOW_H_

// A setup window without any window: it serves the labels of the product
// configuration, keeps what the install flow posts and asks for, and lets
// a test play the parts of the window the flow waits on (the progress
// bar). Owned by one test; every member may be called from any thread,
// as the install thread, the downloader's threads and the test all call
// it.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "config/label_source.h"
#include "config/product_config.h"
#include "install/install_window.h"

namespace install {

class TestInstallWindow : public IInstallWindow, public config::ILabelSource {
 public:
  struct Posted {
    uint32_t message;
    uintptr_t wparam;
  };

  // The labels of the skin archive's product configuration with
  // `overrides` on top; the path box holds `installPath`.
  TestInstallWindow(std::wstring installPath,
                    const std::map<std::wstring, std::wstring>& overrides);

  // --- ILabelSource: the product configuration the flow is given ---
  std::wstring getLabelText(const std::wstring& name) const override;

  // --- IInstallWindow ---
  void PostInstallMessage(uint32_t message, uintptr_t wparam) override;
  int GetProgressValue() const override;
  std::wstring GetInstallPath() const override;
  void SetAnimationTimer(bool on) override;
  void OnDownloadProgress(int64_t downloaded, int64_t total) override;
  int LanguageIndex() const override;
  int ProductPageIndex() const override;
  void WriteProductLanguage() override;
  void ClickStartApp() override;
  void RequestClose() override;
  // Records the kind and answers with the first button.
  int ShowMessageBox(EnumMsgType kind) override;
  void SetInstallPathText(const std::wstring& path) override;
  void ShowProgressPage() override;
  void PrepareForInstall() override;
  void StartBannerThreadIfNeeded() override {}

  // --- what the test sets ---
  void setLabel(const std::wstring& name, const std::wstring& text);
  void setProgress(int value);
  void setLanguage(int languageIndex, int productPageIndex = -1);

  // --- what the flow did ---
  std::vector<Posted> posted() const;
  // The posted message numbers, in order.
  std::vector<uint32_t> messages() const;
  // Waits until `message` has been posted. False at the limit.
  bool waitForMessage(uint32_t message, std::chrono::milliseconds limit) const;
  // Waits until the download progress reached `fraction` of its total.
  bool waitForDownloaded(double fraction, std::chrono::milliseconds limit) const;
  std::vector<EnumMsgType> messageBoxes() const;
  bool animationTimerOn() const;
  int startAppClicks() const;
  int languageWrites() const;
  int closeRequests() const;
  int progressPages() const;
  int preparations() const;
  std::vector<std::wstring> pathTexts() const;

 private:
  mutable std::mutex mu_;
  mutable std::condition_variable changed_;
  const config::ProductLabels product_;
  std::map<std::wstring, std::wstring> labels_;  // over product_
  std::wstring installPath_;
  std::vector<Posted> posted_;
  std::vector<EnumMsgType> boxes_;
  std::vector<std::wstring> pathTexts_;
  int64_t downloaded_ = 0;
  int64_t total_ = 0;
  int progress_ = 100;
  int language_ = 0;
  int productPage_ = -1;
  bool animation_ = false;
  int startAppClicks_ = 0;
  int languageWrites_ = 0;
  int closeRequests_ = 0;
  int progressPages_ = 0;
  int preparations_ = 0;
};

}  // namespace install

#endif  // WEBSETUP_TESTS_INSTALL_TEST_INSTALL_WINDOW_H_
