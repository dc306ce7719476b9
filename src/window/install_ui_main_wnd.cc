// The setup window: its initialisation, the clicks and links, the page
// flow and what the install flow asks of it.

#include "window/install_ui_main_wnd.h"

#include <cairo.h>

#include <cstdio>
#include <ctime>

#include "common/log.h"
#include "common/text.h"
#include "engine/download_impl.h"
#include "engine/libcurl_tool.h"
#include "install/window_messages.h"
#include "platform/clock.h"
#include "platform/fatal_signal.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "system/system_facts.h"
#include "uiframework/containers.h"
#include "uiframework/image_decode.h"
#include "uiframework/message_loop.h"
#include "uiframework/render.h"
#include "window/languages.h"
#include "window/message_box_wnd.h"
#include "window/splash_wnd.h"

namespace window {
namespace {

constexpr wchar_t kDefaultProductFolder[] = L"OrlaStudio";
constexpr wchar_t kGaPcKey[] = L"SOFTWARE\\Quillmont\\Downloader2.5.0";
constexpr int kWidth = 650;
constexpr int kHeightOpen = 560;
constexpr int kHeightClosed = 360;
// How long the banner thread is waited for: it stops within a second of
// being told to.
constexpr uint32_t kBannerWaitMs = 10000;

std::string narrow(const std::wstring& text) { return common::wideToUtf8(text); }

std::wstring fileNameOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return common::utf8ToWide(slash == std::string::npos ? path : path.substr(slash + 1));
}

bool endsWith(const std::wstring& text, const std::wstring& tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

InstallUIMainWnd::InstallUIMainWnd(std::wstring windowClass, WindowEnvironment environment)
    : windowClass_(std::move(windowClass)), env_(std::move(environment)), events_(env_.events) {
  if (events_ == nullptr) events_ = &common::Events();
}

InstallUIMainWnd::~InstallUIMainWnd() {
  alive_ = false;
  bannerStop_ = true;
  if (flow_) flow_->OnWindowClosing();
  flow_.reset();  // joins its threads before the state they use goes
  // The banner thread writes into this object: it ends before anything
  // goes. Its runner frees a window only once WaitForAllThreadExit saw
  // every thread end, so this wait returns at once there.
  while (!bannerThread_.waitFor(kBannerWaitMs)) LOG(INFO) << " Waiting for the banner thread";
  bannerThread_.close();
}

std::string InstallUIMainWnd::GetWindowClassName() const {
  return windowClass_.empty() ? "QM_UI_Frame" : narrow(windowClass_);
}

// --- initialisation ---

void InstallUIMainWnd::ReadProductConfig() {
  if (auto* config = FindControl(L"Product_config")) {
    auto* box = dynamic_cast<ui::CContainerUI*>(config);
    for (int i = 0; box != nullptr && i < box->GetCount(); ++i) {
      ui::CControlUI* label = box->GetItemAt(i);
      productLabels_.set(label->GetName(), label->GetText());
    }
  }
  // The product pages live outside Product_config in some layouts.
  for (int i = 0; i < 20; ++i) {
    const std::wstring page = install::ProductPageControl(i);
    if (auto* c = FindControl(page)) productLabels_.set(page, c->GetText());
  }
  auto number = [this](const wchar_t* name) { return common::parseLeadingInt32(getLabelText(name)); };
  downloaderId_ = number(L"Downloader_id");
  siteId_ = number(L"Site_id");
  languageId_ = number(L"Language_id");
  gifDuration_ = number(L"Gif_duration");
  needStartFlag_ = number(L"NeedStart_flag");
  chooseLicense_ = number(L"ChooseLicense");
  adminFlag_ = number(L"admin_flag");
  softwareName_ = getLabelText(L"Software_name");
  if (FindControl(L"MainPid") != nullptr) mainPid_ = number(L"MainPid");
}

void InstallUIMainWnd::InitWindow() {
  // 1. Start state.
  shared_.startTick = platform::tickCount();
  shared_.packageSize = 0;
  shared_.abandon = false;
  shared_.retry = false;
  addPackageParameters_ = true;

  // 2-3. Controls.
  mainTab_ = FindControl<ui::CTabLayoutUI>(L"main_tablayout");
  pageTab_ = FindControl<ui::CTabLayoutUI>(L"page_layout");
  setTab_ = FindControl<ui::CTabLayoutUI>(L"set_layout");
  closeBtn_ = FindControl(L"closebtn");
  minBtn_ = FindControl(L"minbtn");
  licenseCheck_ = FindControl<ui::CCheckBoxUI>(L"license_checkbox");
  installBtn_ = FindControl(L"install_btn");
  progressBar_ = FindControl<ui::CProgressUI>(L"install_progress");
  progressLabel_ = FindControl(L"install_label");
  languageCombo_ = FindControl<ui::CComboUI>(L"language_combox");
  pathEdit_ = FindControl(L"install_file_path_edit");
  startApp_ = FindControl(L"start_app");
  failRetry_ = FindControl(L"text_fail_retry");
  failAdvice_ = FindControl(L"text_fail_advice");
  warning_ = FindControl(L"img_warning");
  startShortcut_ = FindControl(L"text_startshortcut");
  background_ = FindControl(L"backgroudlayout");
  for (ui::CControlUI* c : {failRetry_, failAdvice_, warning_}) {
    if (c != nullptr) c->SetVisible(false);
  }
  shared_.setUsedUrl(L"");
  for (int i = 1;; ++i) {
    auto* dot = FindControl(L"image_play_option" + std::to_wstring(i));
    if (dot == nullptr) break;
    optionDots_.push_back(dot);
  }
  imagePlay_ = FindControl(L"image_play");
  frameCount_ = CountAnimaFrames(&GetPaintManager());

  // 4-5. Product configuration and the licence box.
  ReadProductConfig();
  if (licenseCheck_ != nullptr) licenseCheck_->SetCheck(env_.autoRun || chooseLicense_ == 1);

  // 6. The download configuration, first from the embedded labels.
  record_ = std::make_unique<config::CConfigure>(downloaderId_, languageId_, siteId_);
  {
    common::MutexLock lock(record_->fetchMutex());
    record_->fillFromLabels(productLabels_, false);
  }
  install::InstallSettings settings = env_.install;
  settings.exeTagFlag = exeTagFlag_;
  flow_ = std::make_unique<install::CInstallFlow>(record_.get(), this, &productLabels_, &shared_,
                                                  events_, std::move(settings));

  // 7. The default install folder.
  defaultInstallFolder_ = env_.programFilesDir + L"/" + kDefaultProductFolder;
  SetInstallPathText(defaultInstallFolder_);

  // 8. The asynchronous configuration fetch.
  flow_->StartAsyncFetch();

  // 9. The progress-finished event starts clear.
  shared_.progressFinish100.reset();
  LOG(INFO) << " CreateEvent successfully ";

  // 10. What runs where.
  int width = 0, height = 0;
  ScreenSize(&width, &height);
  LOG(INFO) << " Downloader file: " << env_.modulePath << ", 64bit, pid "
            << platform::currentProcessId() << ", screen " << width << "*" << height;
  (void)GetSystemRegion();
  LOG(INFO) << " Request For Product Config -- " << "[Downloader Id]: " << downloaderId_
            << " [Site Id]: " << siteId_ << " [Language Id]: " << languageId_;

  // 11-13. Start events.
  SendLaunchEvents();
  (void)SetIcon(143);

  // 15. Language and the closed lower area.
  SelectLanguageItem(GetLanguageByLocalSystem());
  ApplyLanguage();
  SetLowerAreaOpen(false);

  // 16.
  events_->Event("Other", "ClickToShowTime",
                 std::to_string(platform::tickCount() - shared_.startTick.load()), false);
  // 18. Automated runs press Install by themselves.
  if (env_.autoRun) SetTimer(kTimerAutoInstall, 2000);
}

void InstallUIMainWnd::SendLaunchEvents() {
  events_->Event("CrashRate", "Start", "", false);
  events_->Funnel("Keypoint", "null", 0, "CorePublicModule", "Start", "null", false, false);
  SendOncePerMachineEvents();
  events_->Event("Download", "1.Launch", "", false);
  events_->Funnel("CoreFuncEvent", "BeforeDownload", 0, "Download", "CoreFuncStart", "null",
                  false, false);
  events_->Funnel("CoreFuncEvent", "BeforeDownload", 1, "Download", "Launch", "null", false,
                  false);
  events_->Funnel("CoreFuncEvent", "BeforeDownload", 0, "Download", "CoreFuncEnd", "null", false,
                  false);
}

void InstallUIMainWnd::ScreenSize(int* width, int* height) {
  *width = *height = 0;
  // The window's own host knows the display before anyone else does.
  if (ui::WindowHost* host = GetHost(); host != nullptr && !host->IsHeadless()) {
    const ui::UiSize size = host->ScreenSize();
    *width = size.cx;
    *height = size.cy;
  } else if (env_.screenSize) {
    env_.screenSize(width, height);
  }
}

void InstallUIMainWnd::SendOncePerMachineEvents() {
  if (!FuntionImpl::GetRegString(kGaPcKey, L"GA_PC").empty()) return;
  float version = 0;
  const std::string os = FuntionImpl::GetSystemName(&version);
  events_->Event("PC", "SysOS", os + (FuntionImpl::IsSystem64Bit() ? " 64bit" : " 32bit"), false);
  events_->Event("PC", "SysLanguage", FuntionImpl::GetSystemLanguageName(), false);
  int width = 0, height = 0;
  ScreenSize(&width, &height);
  char size[64];
  std::snprintf(size, sizeof(size), "%d*%d", width, height);
  events_->Event("PC", "SysScreenResolution", size, false);
  (void)FuntionImpl::SetRegString(kGaPcKey, L"GA_PC", L"1");
}

// --- languages ---

void InstallUIMainWnd::SelectLanguageItem(int language) {
  int chosen = 0;
  if (languageCombo_ != nullptr) {
    int firstVisible = -1;
    bool zeroVisible = false, wantedVisible = false;
    for (int i = 0; i < languageCombo_->GetCount(); ++i) {
      if (!languageCombo_->GetItemAt(i)->IsOwnVisible()) continue;
      if (firstVisible < 0) firstVisible = i;
      if (i == 0) zeroVisible = true;
      if (i == language) wantedVisible = true;
    }
    chosen = wantedVisible ? language : zeroVisible ? 0 : firstVisible >= 0 ? firstVisible : 0;
    languageCombo_->SelectItem(chosen, false, false);
  }
  language_ = chosen;
}

int32_t InstallUIMainWnd::RecordSiteId() const {
  // The background fetch may be parsing into the record: never wait for
  // it here; until it is done the product configuration's value stands.
  if (record_ == nullptr || !record_->fetchMutex()->tryLock()) return siteId_;
  const int32_t id = record_->siteId;
  record_->fetchMutex()->unlock();
  return id;
}

void InstallUIMainWnd::ApplyLanguage() {
  const int language = language_.load();
  if (auto* licence = FindControl(Language(language).licence)) {
    if (auto* text = FindControl(L"license_text")) text->SetText(licence->GetText());
    if (auto* area = FindControl(L"license_text_layout")) {
      area->SetFixedHeight(LicenceAreaHeight(language, RecordSiteId()));
    }
  }
  ui::SetTextLanguage(Language(language).textTag);
  VisitLanguageTexts(L"install_page", language, [this](const std::wstring& name, const std::wstring& text) {
    if (name == L"install_label") progressFormat_ = text;
    if (name == L"space_need") spaceNeedFormat_ = text;
    if (name == L"space_free") spaceFreeFormat_ = text;
    // The label shows the current value, not the format itself.
    if (name == L"install_label") return;
    if (auto* control = FindControl(name)) control->SetText(text);
  });
  ApplyProgressToControls();
  UpdateSpaceLabels(L"");
  for (const wchar_t* shown : {L"install_setting", L"license_link"}) {
    if (auto* c = FindControl(shown)) c->SetVisible(true);
  }
}

void InstallUIMainWnd::OnItemSelect(ui::TNotifyUI& msg) {
  if (msg.pSender != languageCombo_ || languageCombo_ == nullptr) return;
  language_ = languageCombo_->GetCurSel();
  LOG(INFO) << " ChangeLanguageTo: " << Language(language_.load()).file;
  ApplyLanguage();
}

void InstallUIMainWnd::WriteProductLanguage() {
  const int language = language_.load();
  const int32_t id = record_->downloaderId;
  bool ok = false;
  if (id == 104) {
    platform::RegistryValue v;
    v.text = language == kChineseSimplified ? "Chinese" : "English";
    ok = platform::registryWrite(platform::RegistryHive::kCurrentUser,
                                 "Software\\Velmora\\Clipwright", "kCurrentLanguage", v) ==
         platform::PlatformResult::kOk;
  } else if (id == 113 || id == 114 || id == 115) {
    static const char* const kLang[] = {"en_US", "ja_JP", "zh_CN", "es_ES", "de_DE",
                                        "fr_FR", "ru_RU", "pt_BR", "en_US", "en_US", "zh_TW"};
    platform::RegistryValue v;
    v.text = language >= 0 && language <= 10 ? kLang[language] : "en_US";
    ok = platform::registryWrite(platform::RegistryHive::kCurrentUser,
                                 "Software\\Quillmont\\Travento", "Lang", v) ==
         platform::PlatformResult::kOk;
  } else {
    platform::RegistryValue v;
    v.text = narrow(Language(language).productCode);
    // One view of the uninstall keys exists here, so both names are one key.
    const std::string key = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{" +
                            narrow(record_->softwareName) + "}_is1";
    ok = platform::registryWrite(platform::RegistryHive::kLocalMachine, key,
                                 "Inno Setup: Language", v) == platform::PlatformResult::kOk;
  }
  LOG(INFO) << " Write product language " << narrow(Language(language).productCode) << ": "
            << (ok ? 1 : 0);
}

// --- notifications and clicks ---

void InstallUIMainWnd::Notify(ui::TNotifyUI& msg) {
  if (msg.sType == L"link" && msg.pSender != nullptr) {
    const std::wstring& name = msg.pSender->GetName();
    if (name == L"license_link") ToggleLowerArea(false);
    if (name == L"text_fail_advice") OnAdviceLink();
  }
  WindowImplBase::Notify(msg);
}

void InstallUIMainWnd::OnClick(ui::TNotifyUI& msg) {
  ui::CControlUI* sender = msg.pSender;
  if (sender == nullptr) return;
  const std::wstring& name = sender->GetName();
  if (sender == closeBtn_ || name == L"install_closebtn" || name == L"cancel_btn") {
    OnCloseRequest();
  } else if (sender == minBtn_ || name == L"install_minbtn") {
    SendMessage(ui::kWmSysCommand, ui::kScMinimize);
  } else if (name == L"step_last") {
    StopCarousel();
    if (mainTab_ != nullptr) mainTab_->SelectItem(0);
  } else if (name == L"install_btn") {
    OnInstallClick();
  } else if (name == L"finish_btn") {
    Close(0);
  } else if (name == L"browser_btn") {
    OnBrowse();
  } else if (sender == licenseCheck_) {
    if (installBtn_ != nullptr && !pickerOpen_) installBtn_->SetEnabled(true);
  } else if (name == L"start_app") {
    OnStartAppClick();
  } else if (name == L"install_setting") {
    ToggleLowerArea(true);
  }
}

void InstallUIMainWnd::PressButton(const wchar_t* name) {
  ui::TNotifyUI click;
  click.sType = L"click";
  click.pSender = FindControl(name);
  if (click.pSender != nullptr) OnClick(click);
}

void InstallUIMainWnd::OnInstallClick() {
  if (pickerOpen_) {
    // The automatic run presses the button without the mouse.
    LOG(INFO) << " Install waits for the folder picker";
    return;
  }
  LOG(INFO) << " Click install button";
  shared_.installClickTick = platform::tickCount();
  events_->FunnelPair("RunningTime", "DurationFordownLoading", "LoadingStart",
                      std::to_string((shared_.installClickTick.load() - shared_.startTick.load()) /
                                     1000) + "S");
  if (env_.crashTest) platform::crashTest();  // CrashTest=1: a real fault, handled as any crash
  events_->Event("Download", "2.DownStart", "", false);
  events_->Funnel("CoreFuncEvent", "Downloading", 0, "Download", "CoreFuncStart", "null", false,
                  false);
  events_->Funnel("CoreFuncEvent", "Downloading", 1, "Download", "DownStart", "null", false, false);
  if (licenseCheck_ != nullptr && !licenseCheck_->GetCheck()) {
    if (ShowMessageBox(install::kMsgAgree) != 1) {
      LOG(INFO) << "not agree Privacy Policy and User License Agreement";
      events_->FunnelPair("StartDownloader", "PrivacyAgreementPopup", "PrivacyAgreementPopupType",
                          "Disagree");
      return;
    }
    events_->FunnelPair("StartDownloader", "PrivacyAgreementPopup", "PrivacyAgreementPopupType",
                        "Agree and install");
    licenseCheck_->SetCheck(true);
  }
  if (!startTimeSent_) {
    startTimeSent_ = true;
    const std::string now = FuntionImpl::GetFixedZoneTime();
    events_->Event("Download", "StartTimeDate", now.substr(0, 10), false);
    events_->Event("Download", "StartTimeHour", now.size() >= 13 ? now.substr(11, 2) : "", false);
  }
  events_->Event("Other", "SetLanguage", Language(language_.load()).eventName, false);
  const std::wstring text = GetInstallPathText();
  if (text != defaultInstallFolder_) events_->Event("Other", "SetPath", "", false);
  SetInstallPathText(text);
  (void)flow_->BeginInstallTask();
}

void InstallUIMainWnd::OnStartAppClick() {
  const bool tryAgain = failRetry_ != nullptr && failRetry_->IsOwnVisible() &&
                        failAdvice_ != nullptr && failAdvice_->IsOwnVisible() &&
                        warning_ != nullptr && warning_->IsOwnVisible();
  if (tryAgain) {
    LOG(INFO) << " User click try again button to retry";
    events_->Event("Download", "8-1.ClickTryAgain", shared_.firstOrRetry(), false);
    events_->Funnel("CoreFuncEvent", "Downloading", 0, "Download", "CoreFuncStart", "null", false,
                    false);
    shared_.retry = true;
    // The one place the bar goes back: a new run starts from nothing, and
    // no timer of the last run may raise it.
    StopProgressTimers();
    progress_ = 0;
    if (progressBar_ != nullptr) progressBar_->SetValue(0);
    ApplyProgressToControls();
    SetInstallPathText(GetInstallPathText());
    (void)flow_->BeginInstallTask();
    return;
  }
  (void)GetInstallPath();
  if (flow_->ExtraUrlIsExe(false)) {
    if (FuntionImpl::WillShowNetFrameCheck(GetInstallPath())) gifDuration_ = 0;
    events_->Event("Download", "7.ProgramLaunch", "", gifDuration_ == 0);
    events_->Funnel("CoreFuncEvent", "Starting", 0, "Download", "CoreFuncStart", "null", false,
                    false);
    events_->Funnel("CoreFuncEvent", "Starting", 1, "Download", "ProgramLaunch", "null", false,
                    false);
    StartProductAndClose();
  } else if (env_.showInFolder) {
    env_.showInFolder(flow_->InstallerPath(false));
  }
}

void InstallUIMainWnd::StartProductAndClose() {
  launching_ = true;
  const std::wstring exe = L"\"" + flow_->ProductExePath() + L"\"";
  events_->Event("Download", "9.StartWindow", std::to_string(gifDuration_), gifDuration_ == 0);
  events_->Funnel("CoreFuncEvent", "Starting", 2, "Download", "StartWindow", "null", false, false);
  events_->Funnel("CoreFuncEvent", "Starting", 0, "Download", "CoreFuncEnd", "null", false, false);
  ShowWindow(false);
  if (gifDuration_ != 0) {
    // The splash starts the product and reports a failure itself.
    CAlientWnd::Launch launch;
    launch.adminFlag = adminFlag_;
    launch.executable = exe;
    launch.title = record_ != nullptr ? record_->softwareName : softwareName_;
    launch.durationSeconds = gifDuration_;
    launch.language = language_.load();
    launch.autoRun = env_.autoRun;
    launch.events = events_;
    launch.startProduct = env_.startProduct;
    (void)CAlientWnd::Show(std::move(launch));
  } else {
    const int started = env_.startProduct ? env_.startProduct(exe, adminFlag_) : -1;
    if (started != 0) {
      events_->Event("Other", "FlowError", "DL019", false);
      (void)MessageBoxWnd::ShowPlain(
          GetLanguageText(L"message_page", L"ClickShortcutToLaunchText", language_.load()),
          language_.load(), env_.autoRun);
    }
  }
  Close(0);
}

void InstallUIMainWnd::OnAdviceLink() {
  events_->Event("Download", "8-2.ClickInstallLink", shared_.firstOrRetry(), false);
  std::wstring address = shared_.usedUrl();
  if (address.empty()) {
    for (const std::wstring& url : record_->urlList) {
      const bool cdn = url.find(L"//cdn.") != std::wstring::npos ||
                       url.find(L"//dl.") != std::wstring::npos;
      const int type = record_->downloaderType;
      if (((type == 1 || type == 3) && !cdn) || (type == 2 && cdn)) {
        address = url;
        break;
      }
    }
  }
  if (address.empty()) return;
  if (addPackageParameters_) address += AdviceQuery(fileNameOf(env_.modulePath));
  LOG(INFO) << " Open Advice Url: " << narrow(address);
  if (env_.open) env_.open(address);
}

std::wstring InstallUIMainWnd::AdviceQuery(const std::wstring& exeName) {
  const size_t underscore = exeName.find(L'_');
  if (underscore == std::wstring::npos) return L"";
  const size_t dot = exeName.find(L'.');
  // A "." before the "_" leaves everything after the "_" as the id.
  const std::wstring id = dot == std::wstring::npos || dot < underscore
                              ? exeName.substr(underscore + 1)
                              : exeName.substr(underscore + 1, dot - underscore - 1);
  return L"?rnclid=" + id + L"&package=" + exeName;
}

// --- the lower area ---

void InstallUIMainWnd::SetLowerAreaOpen(bool open) {
  lowerOpen_ = open;
  const ui::UiRect r = GetWindowRect();
  MoveWindow(ui::UiRect{r.left, r.top, r.left + kWidth, r.top + (open ? kHeightOpen : kHeightClosed)});
}

void InstallUIMainWnd::ToggleLowerArea(bool settings) {
  if (setTab_ == nullptr) return;
  const int page = settings ? 1 : 0;
  bool& open = settings ? settingsOpen_ : licenceOpen_;
  if (!open) {
    setTab_->SelectItem(page);
    SetLowerAreaOpen(true);
    open = true;
  } else if (setTab_->GetCurSel() == page) {
    SetLowerAreaOpen(false);
    open = false;
  } else {
    SetLowerAreaOpen(true);
    setTab_->SelectItem(page);
  }
}

// --- the install folder ---

std::wstring InstallUIMainWnd::InstallPathOf(const std::wstring& editText,
                                             const std::wstring& softwareName) {
  // Paths here use '/', as Windows paths use '\': either is taken.
  std::wstring path = editText;
  for (wchar_t& c : path) {
    if (c == L'\\') c = L'/';
  }
  if (path.find(softwareName) != std::wstring::npos) return path;
  return path + L"/" + softwareName;
}

std::wstring InstallUIMainWnd::PickedFolderPath(const std::wstring& chosen) {
  if (chosen.find(kDefaultProductFolder) != std::wstring::npos) return chosen;
  return chosen + (endsWith(chosen, L"/") ? L"" : L"/") + kDefaultProductFolder;
}

std::wstring InstallUIMainWnd::GetInstallPathText() const {
  return pathEdit_ != nullptr ? pathEdit_->GetText() : L"";
}

std::wstring InstallUIMainWnd::GetInstallPath() const {
  common::MutexLock lock(&mu_);
  return InstallPathOf(pathText_, softwareName_);
}

void InstallUIMainWnd::SetInstallPathText(const std::wstring& path) {
  if (pathEdit_ != nullptr) pathEdit_->SetText(path);
  common::MutexLock lock(&mu_);
  pathText_ = path;
}

void InstallUIMainWnd::OnBrowse() {
  if (!env_.pickFolder || pickerOpen_) return;
  // The picker's answer may come much later: until it has, no install may
  // start, or the folder would change under a run that checked another.
  SetPickerOpen(true);
  const ui::WindowHandle self = GetHWND();
  env_.pickFolder(GetInstallPathText(), [this, self](std::optional<std::wstring> folder) {
    // The answer may come on any thread; the window may be gone by then.
    ui::MessageLoop::Get()->PostTask([this, self, folder = std::move(folder)] {
      if (!ui::MessageLoop::Get()->IsWindow(self)) return;
      SetPickerOpen(false);
      if (!folder || folder->empty()) return;
      UpdateSpaceLabels(*folder);
      SetInstallPathText(PickedFolderPath(*folder));
    });
  });
}

void InstallUIMainWnd::SetPickerOpen(bool open) {
  pickerOpen_ = open;
  if (installBtn_ != nullptr) installBtn_->SetEnabled(!open);
  if (auto* browse = FindControl(L"browser_btn")) browse->SetEnabled(!open);
}

void InstallUIMainWnd::UpdateSpaceLabels(const std::wstring& folder) {
  uint64_t free = 0;
  if (!folder.empty() && env_.install.freeSpace && env_.install.freeSpace(narrow(folder), &free)) {
    freeGigabytes_ = static_cast<float>(double(free) / 1073741824.0);
    if (auto* label = FindControl(L"space_free")) {
      label->SetText(FormatLanguageNumber(spaceFreeFormat_, double(freeGigabytes_)));
    }
  } else if (folder.empty()) {
    // A language applied: the kept figure in the new words.
    if (auto* label = FindControl(L"space_free")) {
      label->SetText(FormatLanguageNumber(spaceFreeFormat_, double(freeGigabytes_)));
    }
  }
  if (auto* label = FindControl(L"space_need")) {
    label->SetText(FormatLanguageString(spaceNeedFormat_, getLabelText(L"ProductSize")));
  }
}

// --- pages ---

void InstallUIMainWnd::ShowRetryPage() {
  if (auto* label = FindControl(L"finish_label")) label->SetText(L"Install failed, please install again!");
  for (ui::CControlUI* c : {failRetry_, failAdvice_, warning_}) {
    if (c != nullptr) c->SetVisible(true);
  }
  if (startApp_ != nullptr) {
    startApp_->SetEnabled(true);
    startApp_->SetText(GetLanguageText(L"install_page", L"retry_btn", language_.load()));
    startApp_->SetVisible(true);
  }
  if (startShortcut_ != nullptr) startShortcut_->SetVisible(false);
  if (env_.autoRun) SetTimer(kTimerAutoRetry, 1000);
}

void InstallUIMainWnd::ShowProgressPage() {
  if (pageTab_ != nullptr) pageTab_->SelectItem(1);
  if (mainTab_ != nullptr) mainTab_->SelectItem(1);
}

void InstallUIMainWnd::PrepareForInstall() {
  const ui::UiRect r = GetWindowRect();
  MoveWindow(ui::UiRect{r.left, r.top, r.left + kWidth, r.top + kHeightClosed});
  CenterWindow();
  ApplyProgressToControls();
  for (ui::CControlUI* c : {failRetry_, failAdvice_, warning_}) {
    if (c != nullptr) c->SetVisible(false);
  }
  if (startApp_ != nullptr) {
    startApp_->SetText(GetLanguageText(L"install_page", L"start_app", language_.load()));
  }
  if (background_ != nullptr) background_->SetBkImage("skin/backgroud_complete.png");
  SetTimer(kTimerOneSecond, 1000);
  StartCarousel();
}

// --- carousel ---

void InstallUIMainWnd::StartCarousel() {
  CAnima::Setup setup;
  setup.images = &GetPaintManager();
  setup.area = imagePlay_;
  setup.frameCount = frameCount_;
  setup.findControl = [this](const std::wstring& name) { return FindControl(name); };
  setup.softwareId = common::parseLeadingInt32(getLabelText(L"Software_id"));
  if (record_ != nullptr && record_->fetchMutex()->tryLock()) {
    setup.softwareId = record_->softwareId;
    record_->fetchMutex()->unlock();
  }
  setup.fontFamily = Language(language_.load()).carouselFont;
  KillTimer(kTimerSlide);
  anima_ = std::make_unique<CAnima>(std::move(setup));
  anima_->Init(L"", L"");
  currentFrame_ = 1;
  SelectDot(0);
  anima_->ShowFrame(1);
  if (frameCount_ >= 2) SetTimer(kTimerCarousel, kCarouselIntervalMs);
}

void InstallUIMainWnd::SelectDot(size_t index) {
  auto* dot = dynamic_cast<ui::COptionUI*>(index < optionDots_.size() ? optionDots_[index] : nullptr);
  if (dot == nullptr) return;
  if (!dot->IsSelected()) {
    dot->Selected(true);  // notifies "selectchanged"
    return;
  }
  // Already chosen: the option sends nothing, but the interval restarts.
  ui::TNotifyUI changed;
  changed.sType = L"selectchanged";
  changed.pSender = dot;
  OnSelectChanged(changed);
}

void InstallUIMainWnd::OnSelectChanged(ui::TNotifyUI& msg) {
  size_t position = 0;
  for (size_t i = 0; i < optionDots_.size() && i < 10; ++i) {
    if (optionDots_[i] == msg.pSender) position = i + 1;
  }
  if (position == 0 || anima_ == nullptr) return;
  auto* dot = dynamic_cast<ui::COptionUI*>(msg.pSender);
  if (dot != nullptr && !dot->IsSelected()) return;  // the dot that was left
  SetTimer(kTimerCarousel, kCarouselIntervalMs);
  const int to = static_cast<int>(position);
  if (anima_->Play(currentFrame_, to)) SetTimer(kTimerSlide, CAnima::kStepMs);
  currentFrame_ = to;
}

void InstallUIMainWnd::OnBannersReady() {
  bannersReady_ = true;
  if (anima_ == nullptr) return;
  std::wstring extension;
  {
    common::MutexLock lock(&bannerMu_);
    auto first = banners_.find(1);
    if (first != banners_.end() && !optionDots_.empty()) {
      // The file's own extension: a folder of the path may hold dots too.
      const std::wstring& file = first->second.localFile;
      const size_t slash = file.find_last_of(L"/\\");
      const size_t dot = file.find(L'.', slash == std::wstring::npos ? 0 : slash + 1);
      if (dot != std::wstring::npos) extension = file.substr(dot);
    }
  }
  GetPaintManager().RemoveAllImages();
  anima_->Init(env_.install.cacheDir + L"/", extension);
  if (!anima_->Sliding()) anima_->ShowFrame(currentFrame_);
}

void InstallUIMainWnd::StartBannerThreadIfNeeded() {
  if (bannersReady_ || bannersFetched_.load() || env_.bannerBase.empty()) return;
  if (bannerThread_.started()) {
    // A fetch still under way is left to finish; one that ended without
    // banners is tried again with this run.
    if (!bannerThread_.waitFor(0)) return;
    bannerThread_.close();
  }
  BannerFetch fetch;
  fetch.queryUrl = GetBannerPicUrl(env_.bannerBase, Language(language_.load()).webCode, mainPid_,
                                   static_cast<int64_t>(std::time(nullptr)));
  fetch.cacheFolder = env_.install.cacheDir;
  fetch.events = events_;
  fetch.get = [](const std::string& url, std::string* body) {
    engine::CLibcurlTool curl;
    return curl.httpGet(url.c_str(), *body, false);
  };
  // A picture download ends within a second of the window closing.
  fetch.download = [stop = &bannerStop_](const std::wstring& url, const std::wstring& path) {
    engine::DownloadOptions options;
    options.stop = stop;
    std::string cdn;
    return engine::CDownLoadImpl::SuperDownloadFile(url, path, &cdn, options);
  };
  fetch.isPicture = [](const std::wstring& path) {
    cairo_surface_t* picture = ui::DecodeImageFile(common::wideToUtf8(path));
    if (picture == nullptr) return false;
    cairo_surface_destroy(picture);
    return true;
  };
  fetch.stopping = [this] { return bannerStop_.load(); };
  const ui::WindowHandle self = GetHWND();
  bannerStop_ = false;
  if (!bannerThread_.start([this, fetch, self] {
        std::map<int32_t, BannerRecord> banners;
        if (!GetCbsBanner(fetch, &banners)) return;
        {
          common::MutexLock lock(&bannerMu_);
          banners_ = std::move(banners);
        }
        bannersFetched_ = true;
        (void)ui::MessageLoop::Get()->PostMessage(self, install::MSG_BANNERS_READY, 0, 0);
      })) {
    LOG(INFO) << " banner thread not started";
  }
}

// --- IInstallWindow, any thread ---

std::wstring InstallUIMainWnd::getLabelText(const std::wstring& name) const {
  return productLabels_.getLabelText(name);
}

void InstallUIMainWnd::PostInstallMessage(uint32_t message, uintptr_t wparam) {
  (void)PostMessage(message, wparam, 0);
}

void InstallUIMainWnd::SetAnimationTimer(bool on) {
  // The carousel has one frame until banners arrive: nothing to animate.
  if (on && optionDots_.size() > 1) {
    SetTimer(kTimerAnimation, 1000);
  } else if (!on) {
    KillTimer(kTimerAnimation);
  }
}

void InstallUIMainWnd::ClickStartApp() {
  // The Start handling shows windows and closes this one: it belongs on the
  // UI thread, so the install thread hands it over.
  const ui::WindowHandle self = GetHWND();
  ui::MessageLoop::Get()->PostTask([this, self] {
    if (ui::MessageLoop::Get()->IsWindow(self)) PressButton(L"start_app");
  });
}

void InstallUIMainWnd::RequestClose() {
  closeMode_ = 1;
  Close(0);
}

std::string InstallUIMainWnd::SoftwareVersion() const {
  return narrow(getLabelText(L"Software_version"));
}

std::string InstallUIMainWnd::LanguageWebCode() const { return Language(language_.load()).webCode; }

int InstallUIMainWnd::ShowMessageBox(install::EnumMsgType kind) {
  return MessageBoxWnd::Show(this, kind, language_.load(), env_.autoRun);
}

bool InstallUIMainWnd::WaitForAllThreadExit() {
  // Each worker is told to stop before it is waited for; each wait has
  // its limit once.
  bannerStop_ = true;
  if (flow_) flow_->OnWindowClosing();
  const bool bannerEnded = bannerThread_.waitFor(kBannerWaitMs);
  const bool flowEnded = !flow_ || flow_->WaitForAllThreadExit() == 0;
  if (!bannerEnded && !bannerThread_.waitFor(0)) {
    LOG(INFO) << " The banner thread is still running";
    return false;
  }
  return flowEnded;
}

void InstallUIMainWnd::Activate() {
  LOG(INFO) << " Activation requested by another instance";
  if (IsMinimized()) Restore();
  ShowWindow(true, true);
}

// --- closing ---

CloseReport CloseReportOf(const CloseState& s) {
  if (s.mainPage == 0 && s.innerPage == 0) {
    return {"close01", "BeforeDownload", "DurationFordownLoading", "UserCloses"};
  }
  if (s.mainPage == 1) {
    if (s.progress < 85) return {"close02", "Downloading", "DownloadDuration", "UserCloses"};
    if (s.progress <= 90) {
      return {"close04", "Md5Check", "VerificationDuration", "UserVerificationUserCloses"};
    }
    return {"close03", "Installing", "ActualTime", "UserCloses"};
  }
  if (s.mainPage == 0 && s.innerPage == 1) {
    if (s.failed) return {"close05", "Installing", "", ""};
    return s.launching ? CloseReport{"close07", "Starting", "", ""}
                       : CloseReport{"close06", "Installing", "", ""};
  }
  return {};
}

void InstallUIMainWnd::OnHostCloseRequest() {
  if (IsWindowEnabled()) OnCloseRequest();
}

void InstallUIMainWnd::OnCloseRequest() {
  if (closeMode_.load() == 1) {
    ShowWindow(false);
    Close(0);
    return;
  }
  // Yes hides the box and this window at once; anything else goes on.
  if (ShowMessageBox(static_cast<install::EnumMsgType>(closeMode_.load())) == 1) Close(0);
}

void InstallUIMainWnd::ReportClose() {
  const uint32_t now = platform::tickCount();
  CloseState state;
  state.mainPage = mainTab_ != nullptr ? mainTab_->GetCurSel() : 0;
  state.innerPage = pageTab_ != nullptr ? pageTab_->GetCurSel() : 0;
  state.progress = progress_.load();
  state.failed = failRetry_ != nullptr && failRetry_->IsOwnVisible();
  state.launching = launching_;
  const CloseReport report = CloseReportOf(state);
  int32_t downloaderConfig = 0;
  if (record_ != nullptr && record_->fetchMutex()->tryLock()) {
    downloaderConfig = record_->downloaderConfig;
    record_->fetchMutex()->unlock();
  }
  LOG(INFO) << " Close: " << report.code << ", " << report.phase << ", config " << downloaderConfig;
  if (downloaderConfig == 2 && env_.startCloseReport) {
    const std::wstring& log = env_.logFilePath;
    const size_t slash = log.find_last_of(L"/\\");
    const std::wstring name = slash == std::wstring::npos ? log : log.substr(slash + 1);
    env_.startCloseReport({"-" + report.code, narrow(name)});
  }
  if (!report.durationAction.empty()) {
    uint32_t from = shared_.startTick.load();
    if (report.code == "close02") from = shared_.installClickTick.load();
    if (report.code == "close04") from = shared_.downloadDoneTick.load();
    if (report.code == "close03") from = shared_.installStartTick.load();
    events_->FunnelPair("RunningTime", report.durationAction, report.durationKey,
                        std::to_string((now - from) / 1000) + "S");
  }
  events_->Event("CrashRate", "Close", report.code, true);
  events_->Funnel("Keypoint", report.phase, 0, "CorePublicModule", "Close", "null", true, false);
}

intptr_t InstallUIMainWnd::OnClose(uint32_t, uintptr_t, intptr_t, bool& handled) {
  ReportClose();
  bannerStop_ = true;
  if (flow_) flow_->OnWindowClosing();
  handled = false;
  return 0;
}

void InstallUIMainWnd::OnFinalMessage(ui::WindowHandle) { ui::MessageLoop::Get()->PostQuit(0); }

}  // namespace window
