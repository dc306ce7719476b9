// The setup window: its initialisation, the clicks and links, the page
// flow and what the install flow asks of it.

#include "window/install_ui_main_wnd.h"

#include "common/log.h"
#include "common/text.h"
#include "install/window_messages.h"
#include "platform/clock.h"
#include "platform/fatal_signal.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "system/system_facts.h"
#include "uiframework/containers.h"
#include "uiframework/message_loop.h"
#include "uiframework/render.h"
#include "window/event_sequences.h"
#include "window/languages.h"
#include "window/message_box_wnd.h"
#include "window/product_rules.h"
#include "window/splash_wnd.h"

namespace window {
namespace {

constexpr wchar_t kGaPcKey[] = L"SOFTWARE\\Quillmont\\Downloader2.5.0";
constexpr int kWidth = 650;
constexpr int kHeightOpen = 560;
constexpr int kHeightClosed = 360;
// How long the banner thread is waited for: it stops within a second of
// being told to.
constexpr uint32_t kBannerWaitMs = 10000;
constexpr uint32_t kMillisecondsPerSecond = 1000;

std::string narrow(const std::wstring& text) { return common::wideToUtf8(text); }

std::wstring fileNameOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return common::utf8ToWide(slash == std::string::npos ? path : path.substr(slash + 1));
}

}  // namespace

InstallUIMainWnd::InstallUIMainWnd(std::wstring windowClass, WindowEnvironment environment)
    : windowClass_(std::move(windowClass)), env_(std::move(environment)), events_(env_.events) {
  DCHECK_CALLED_ON_VALID_THREAD(uiThread_);  // the window belongs to its maker's thread
  if (events_ == nullptr) events_ = &common::Events();
}

InstallUIMainWnd::~InstallUIMainWnd() {
  alive_ = false;
  if (carousel_) carousel_->StopBannerThread();
  if (flow_) flow_->OnWindowClosing();
  flow_.reset();  // joins its threads before the state they use goes
  // The carousel waits for its banner thread. Its runner frees a window
  // only once WaitForAllThreadExit saw every thread end, so that wait
  // returns at once there.
  carousel_.reset();
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
  auto number = [this](const wchar_t* name) {
    return common::parseLeadingInt32(getLabelText(name));
  };
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
  FindControls();
  shared_.setUsedUrl(L"");
  MakeCarousel();

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
  LogWhereItRuns();

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

void InstallUIMainWnd::FindControls() {
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
}

void InstallUIMainWnd::LogWhereItRuns() {
  int width = 0, height = 0;
  ScreenSize(&width, &height);
  LOG(INFO) << " Downloader file: " << env_.modulePath
            << (FuntionImpl::IsSystem64Bit() ? ", 64bit" : ", 32bit") << ", pid "
            << platform::currentProcessId() << ", screen " << width << "*" << height;
  (void)GetSystemRegion();
  LOG(INFO) << " Request For Product Config -- "
            << "[Downloader Id]: " << downloaderId_ << " [Site Id]: " << siteId_
            << " [Language Id]: " << languageId_;
}

void InstallUIMainWnd::SendLaunchEvents() {
  // The machine's facts go once per machine, marked in the registry.
  const bool firstOnMachine = FuntionImpl::GetRegString(kGaPcKey, L"GA_PC").empty();
  MachineFacts facts;
  if (firstOnMachine) {
    float version = 0;
    facts.os =
        FuntionImpl::GetSystemName(&version) + (FuntionImpl::IsSystem64Bit() ? " 64bit" : " 32bit");
    facts.language = FuntionImpl::GetSystemLanguageName();
    ScreenSize(&facts.screenWidth, &facts.screenHeight);
  }
  SendLaunchSequence(*events_, firstOnMachine ? &facts : nullptr);
  if (firstOnMachine) (void)FuntionImpl::SetRegString(kGaPcKey, L"GA_PC", L"1");
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
  VisitLanguageTexts(L"install_page", language,
                     [this](const std::wstring& name, const std::wstring& text) {
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
  const ProductLanguageEntry entry =
      ProductLanguageOf(record_->downloaderId, language, record_->softwareName);
  platform::RegistryValue v;
  v.text = entry.text;
  const bool ok = platform::registryWrite(entry.hive, entry.key, entry.name, v) ==
                  platform::PlatformResult::kOk;
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
    SendUiMessage(ui::kWmSysCommand, ui::kScMinimize);
  } else if (name == L"step_last") {
    if (carousel_) carousel_->Stop();
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
  SendInstallClickSequence(*events_, (shared_.installClickTick.load() - shared_.startTick.load()) /
                                         kMillisecondsPerSecond);
  if (env_.crashTest) platform::crashTest();  // CrashTest=1: a real fault, handled as any crash
  SendDownStartSequence(*events_);
  if (licenseCheck_ != nullptr && !licenseCheck_->GetCheck()) {
    if (ShowMessageBox(install::kMsgAgree) != 1) {
      LOG(INFO) << "not agree Privacy Policy and User License Agreement";
      SendLicenceAnswer(*events_, false);
      return;
    }
    SendLicenceAnswer(*events_, true);
    licenseCheck_->SetCheck(true);
  }
  if (!startTimeSent_) {
    startTimeSent_ = true;
    SendStartTimeSequence(*events_, FuntionImpl::GetFixedZoneTime());
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
    SendTryAgainSequence(*events_, shared_.firstOrRetry());
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
    SendProgramLaunchSequence(*events_, gifDuration_);
    StartProductAndClose();
  } else if (env_.showInFolder) {
    env_.showInFolder(flow_->InstallerPath(false));
  }
}

void InstallUIMainWnd::StartProductAndClose() {
  launching_ = true;
  const std::wstring exe = L"\"" + flow_->ProductExePath() + L"\"";
  SendStartWindowSequence(*events_, gifDuration_);
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
  if (address.empty()) address = AdviceAddress(record_->urlList, record_->downloaderType);
  if (address.empty()) return;
  if (addPackageParameters_) address += AdviceQuery(fileNameOf(env_.modulePath));
  LOG(INFO) << " Open Advice Url: " << narrow(address);
  if (env_.open) env_.open(address);
}

// --- the lower area ---

void InstallUIMainWnd::SetLowerAreaOpen(bool open) {
  lowerOpen_ = open;
  const ui::UiRect r = GetWindowRect();
  MoveWindow(
      ui::UiRect{r.left, r.top, r.left + kWidth, r.top + (open ? kHeightOpen : kHeightClosed)});
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

std::wstring InstallUIMainWnd::GetInstallPathText() const {
  return pathEdit_ != nullptr ? platform::pathFromDisplay(pathEdit_->GetText()) : L"";
}

std::wstring InstallUIMainWnd::GetInstallPath() const {
  common::MutexLock lock(&mu_);
  return InstallPathOf(pathText_, softwareName_);
}

void InstallUIMainWnd::SetInstallPathText(const std::wstring& path) {
  DCHECK_CALLED_ON_VALID_THREAD(uiThread_);
  if (pathEdit_ != nullptr) pathEdit_->SetText(platform::pathForDisplay(path));
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
  if (auto* label = FindControl(L"finish_label"))
    label->SetText(L"Install failed, please install again!");
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
  DCHECK_CALLED_ON_VALID_THREAD(uiThread_);
  if (pageTab_ != nullptr) pageTab_->SelectItem(1);
  if (mainTab_ != nullptr) mainTab_->SelectItem(1);
}

void InstallUIMainWnd::PrepareForInstall() {
  DCHECK_CALLED_ON_VALID_THREAD(uiThread_);
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
  if (background_ != nullptr) {
    background_->SetBkImage("skin/backgroud_complete.png");
    // The setting page's picture is never shown again: a megabyte decoded.
    GetPaintManager().RemoveImage("skin/backgroud.png");
  }
  SetTimer(kTimerOneSecond, 1000);
  StartCarousel();
}

// --- carousel ---

void InstallUIMainWnd::MakeCarousel() {
  Carousel::Setup setup;
  setup.images = &GetPaintManager();
  setup.area = FindControl(L"image_play");
  for (int i = 1;; ++i) {
    auto* dot = FindControl(L"image_play_option" + std::to_wstring(i));
    if (dot == nullptr) break;
    setup.dots.push_back(dot);
  }
  setup.findControl = [this](const std::wstring& name) { return FindControl(name); };
  setup.setTimer = [this](uint32_t id, uint32_t periodMs) { SetTimer(id, periodMs); };
  setup.killTimer = [this](uint32_t id) { KillTimer(id); };
  const ui::WindowHandle self = GetHWND();
  setup.bannersReady = [self] {
    (void)ui::MessageLoop::Get()->PostUiMessage(self, install::MSG_BANNERS_READY, 0, 0);
  };
  setup.transport = env_.banners;
  setup.bannerBase = env_.bannerBase;
  setup.cacheFolder = env_.install.cacheDir;
  setup.events = events_;
  carousel_ = std::make_unique<Carousel>(std::move(setup));
}

void InstallUIMainWnd::StartCarousel() {
  int32_t softwareId = common::parseLeadingInt32(getLabelText(L"Software_id"));
  if (record_ != nullptr && record_->fetchMutex()->tryLock()) {
    softwareId = record_->softwareId;
    record_->fetchMutex()->unlock();
  }
  carousel_->Start(softwareId, Language(language_.load()).carouselFont);
}

void InstallUIMainWnd::OnSelectChanged(ui::TNotifyUI& msg) {
  if (carousel_) carousel_->OnDotChanged(msg.pSender);
}

void InstallUIMainWnd::StartBannerThreadIfNeeded() {
  DCHECK_CALLED_ON_VALID_THREAD(uiThread_);
  if (carousel_) carousel_->FetchBannersIfNeeded(Language(language_.load()).webCode, mainPid_);
}

// --- IInstallWindow, any thread ---

std::wstring InstallUIMainWnd::getLabelText(const std::wstring& name) const {
  return productLabels_.getLabelText(name);
}

void InstallUIMainWnd::PostInstallMessage(uint32_t message, uintptr_t wparam) {
  (void)PostUiMessage(message, wparam, 0);
}

void InstallUIMainWnd::SetAnimationTimer(bool on) {
  // The carousel has one frame until banners arrive: nothing to animate.
  if (on && carousel_ != nullptr && carousel_->DotCount() > 1) {
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
  DCHECK_CALLED_ON_VALID_THREAD(uiThread_);
  return MessageBoxWnd::Show(this, kind, language_.load(), env_.autoRun);
}

bool InstallUIMainWnd::WaitForAllThreadExit() {
  // Each worker is told to stop before it is waited for; each wait has
  // its limit once.
  if (carousel_) carousel_->StopBannerThread();
  if (flow_) flow_->OnWindowClosing();
  const bool bannerEnded = !carousel_ || carousel_->WaitForBannerThread(kBannerWaitMs);
  const bool flowEnded = !flow_ || flow_->WaitForAllThreadExit() == 0;
  if (!bannerEnded && !carousel_->WaitForBannerThread(0)) {
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
  SendCloseSequence(*events_, report, (now - TickOf(report.durationFrom)) / kMillisecondsPerSecond);
}

uint32_t InstallUIMainWnd::TickOf(DurationStart start) const {
  switch (start) {
    case DurationStart::kInstallClick: return shared_.installClickTick.load();
    case DurationStart::kDownloadDone: return shared_.downloadDoneTick.load();
    case DurationStart::kInstallerStart: return shared_.installStartTick.load();
    case DurationStart::kWindowShown: break;
  }
  return shared_.startTick.load();
}

intptr_t InstallUIMainWnd::OnClose(uint32_t, uintptr_t, intptr_t, bool& handled) {
  ReportClose();
  if (carousel_) carousel_->StopBannerThread();
  if (flow_) flow_->OnWindowClosing();
  handled = false;
  return 0;
}

void InstallUIMainWnd::OnFinalMessage(ui::WindowHandle) { ui::MessageLoop::Get()->PostQuit(0); }

}  // namespace window
