#include "window/splash_wnd.h"

#include <atomic>
#include <cstdio>

#include "common/flow_errors.h"
#include "common/log.h"
#include "common/thread_tools.h"
#include "uiframework/message_loop.h"
#include "window/languages.h"
#include "window/message_box_wnd.h"

namespace window {
namespace {

constexpr uint32_t kPictureTimer = 1000;
constexpr int kPictures = 21;

std::atomic<int> g_pictureCounter{0};
CAlientWnd* g_active = nullptr;

}  // namespace

CAlientWnd::CAlientWnd(Launch launch)
    : launch_(std::move(launch)), closed_(std::make_shared<common::ManualResetEvent>()) {}

CAlientWnd::~CAlientWnd() {
  closed_->set();
  if (thread_.joinable()) thread_.join();
}

CAlientWnd* CAlientWnd::Active() { return g_active; }
int CAlientWnd::PictureCounter() { return g_pictureCounter.load(); }

int CAlientWnd::Show(Launch launch) {
  const std::wstring title = launch.title;
  auto* splash = new CAlientWnd(std::move(launch));
  if (!splash->Create(0, title, 0, 0, 600, 400)) {
    delete splash;
    return -1;
  }
  splash->CenterWindow();
  return splash->ShowModal();
}

void CAlientWnd::InitWindow() {
  g_active = this;
  foreImage_ = FindControl(L"foreImage");
  SetTimer(kPictureTimer, 50);
  const ui::WindowHandle self = GetHWND();
  Launch launch = launch_;
  std::shared_ptr<common::ManualResetEvent> closed = closed_;
  thread_ = common::StartThread([launch, closed, self] {
    const int started =
        launch.startProduct ? launch.startProduct(launch.executable, launch.adminFlag) : -1;
    if (started != 0) {
      if (launch.events != nullptr)
        launch.events->Event("Other", "FlowError", common::flow::kProductNotStarted, false);
      // The hint is a window of its own: the UI thread shows it, and the
      // splash closes when it has been read.
      const std::wstring hint =
          GetLanguageText(L"message_page", L"ClickShortcutToLaunchText", launch.language);
      ui::MessageLoop::Get()->PostTask([hint, launch, self] {
        (void)MessageBoxWnd::ShowPlain(hint, launch.language, launch.autoRun);
        if (ui::MessageLoop::Get()->IsWindow(self)) {
          (void)ui::MessageLoop::Get()->PostUiMessage(self, ui::kWmClose, 0, 0);
        }
      });
      return;
    }
    closed->wait(std::chrono::seconds(launch.durationSeconds));
    (void)ui::MessageLoop::Get()->PostUiMessage(self, ui::kWmClose, 0, 0);
  });
}

intptr_t CAlientWnd::HandleMessage(uint32_t message, uintptr_t wparam, intptr_t lparam) {
  if (message == ui::kWmTimer && foreImage_ != nullptr) {
    char name[32];
    std::snprintf(name, sizeof name, "skin/gif/bg%.2d.png", g_pictureCounter.load() % kPictures);
    foreImage_->SetBkImage(name);
    g_pictureCounter.fetch_add(1);
  }
  if (message == ui::kWmClose) closed_->set();
  return WindowImplBase::HandleMessage(message, wparam, lparam);
}

void CAlientWnd::OnClick(ui::TNotifyUI& msg) {
  if (msg.pSender == nullptr) return;
  if (msg.pSender->GetName() == L"closebtn") Close(2);
  if (msg.pSender->GetName() == L"minbtn") SendUiMessage(ui::kWmSysCommand, ui::kScMinimize);
}

void CAlientWnd::OnFinalMessage(ui::WindowHandle) {
  if (g_active == this) g_active = nullptr;
  delete this;
}

}  // namespace window
