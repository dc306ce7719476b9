#include "window/message_box_wnd.h"

#include "common/log.h"
#include "install/window_messages.h"
#include "uiframework/render.h"
#include "window/languages.h"

namespace window {
namespace {

constexpr uint32_t kAutoConfirmTimer = 777;

MessageBoxWnd*& active() {
  static MessageBoxWnd* box = nullptr;
  return box;
}

struct KindTexts {
  const char* icon;  // skin image, null: the layout's
  const wchar_t* describe;
  const wchar_t* question;
  const wchar_t* yes;
  const wchar_t* no;
  bool noShown;
};

constexpr const char* kHelp = "skin/message_help.png";
constexpr const char* kWarning = "skin/message_exclamation.png";

// The rows of the kinds 0-14; any other kind shows an empty box.
const KindTexts& textsOf(int kind) {
  static const KindTexts kRows[] = {
      {kHelp, L"ReplaceDesText", L"ReplaceQueText", L"ReplaceText", L"CancelText", true},
      {nullptr, L"", L"", L"", L"", true},
      {kHelp, L"CancelDesText", L"CancelQueText", L"YesText", L"NoText", true},
      {kHelp, L"AppExistDesText", L"AppExistQueText", L"OkButtonText", L"NoText", false},
      {kWarning, L"PathErrorDesText", L"", L"OkButtonText", L"", false},
      {nullptr, L"", L"", L"", L"", false},
      {kWarning, L"InstallRunTimeOutDesText", L"InstallRunTimeOutQueText", L"ConfirmText",
       L"CancelText", false},
      {kWarning, L"MD5FailDesText", L"MD5FailQueText", L"ConfirmText", L"CancelText", false},
      {kWarning, L"UrlFailDexText", L"UrlFailQueText", L"ConfirmText", L"CancelText", false},
      {kWarning, L"InternetFailDesText", L"InternetFailQueText", L"ConfirmText", L"CancelText",
       false},
      {kWarning, L"InternetTimeoutDesText", L"InternetTimeoutQueText", L"ConfirmText",
       L"CancelText", false},
      {kWarning, L"NoEnoughSpaceDesText", L"", L"OkButtonText", L"", false},
      {kWarning, L"ClickShortcutToLaunchText", L"", L"ConfirmText", L"", false},
      {kWarning, L"NotSupportSystemDesText", L"", L"OkButtonText", L"", false},
      {kWarning, L"AgreeDesText", L"", L"AgreeInstallText", L"NotAgreeText", true},
  };
  static const KindTexts kOther = {nullptr, L"", L"", L"", L"", true};
  return kind >= 0 && kind <= 14 ? kRows[kind] : kOther;
}

std::wstring text(const wchar_t* key, int language) {
  return *key == L'\0' ? L"" : GetLanguageText(L"message_page", key, language);
}

// A button never shows blank: a language file without the key (or with it
// empty) gets the English word, which every user can at least read.
std::wstring buttonText(const wchar_t* key, int language) {
  std::wstring word = text(key, language);
  if (word.empty() && *key != L'\0') word = text(key, kEnglish);
  return word;
}

}  // namespace

MessageBoxWnd::MessageBoxWnd(int kind, int language, bool autoRun)
    : kind_(kind), language_(language), autoRun_(autoRun) {}

MessageBoxWnd* MessageBoxWnd::Active() { return active(); }

int MessageBoxWnd::ShowPlain(const std::wstring& text, int language, bool autoRun) {
  auto* box = new MessageBoxWnd(install::kMsgClickShortcut, language, autoRun);
  box->plain_ = true;
  box->plainText_ = text;
  return RunModal(box, nullptr);
}

int MessageBoxWnd::Show(ui::CWindowWnd* owner, int kind, int language, bool autoRun) {
  LOG(INFO) << " ShowMsgBox: " << kind;
  return RunModal(new MessageBoxWnd(kind, language, autoRun), owner);
}

int MessageBoxWnd::RunModal(MessageBoxWnd* box, ui::CWindowWnd* owner) {
  box->ownerWindow_ = owner;
  if (!box->Create(owner != nullptr ? owner->GetHWND() : 0, L"MSGUIDemo", 0, 0, 452, 190)) {
    delete box;
    return -1;
  }
  if (owner != nullptr && owner->IsMinimized()) owner->Restore();
  box->CenterWindow();
  return box->ShowModal();
}

void MessageBoxWnd::InitWindow() {
  outer_ = active();
  active() = this;
  if (kind_ == install::kMsgNetFramework) return;
  const KindTexts& row = textsOf(kind_);
  auto* icon = FindControl(L"iconimage");
  auto* yes = FindControl(L"btn_yes");
  auto* no = FindControl(L"btn_no");
  auto* describe = FindControl(L"msg_describe");
  auto* question = FindControl(L"msg_question");
  if (icon != nullptr && row.icon != nullptr) icon->SetBkImage(row.icon);
  ui::SetTextLanguage(Language(language_).textTag);
  if (yes != nullptr) yes->SetText(buttonText(plain_ ? L"OkButtonText" : row.yes, language_));
  if (no != nullptr) no->SetText(buttonText(row.no, language_));
  if (describe != nullptr) describe->SetText(plain_ ? plainText_ : text(row.describe, language_));
  if (question != nullptr) question->SetText(plain_ ? L"" : text(row.question, language_));
  // One button: it sits where the pair's centre was, as a lone OK does.
  if (no != nullptr && !row.noShown) {
    no->SetVisible(false);
    if (yes != nullptr) {
      const ui::UiRect pos = yes->GetFloatPos();
      const int width = pos.right - pos.left;
      const int left = (500 - width) / 2;
      yes->SetFloatPos(ui::UiRect{left, pos.top, left + width, pos.bottom});
    }
  }
  if (autoRun_ && !row.noShown) SetTimer(kAutoConfirmTimer, 1000);
}

intptr_t MessageBoxWnd::HandleMessage(uint32_t message, uintptr_t wparam, intptr_t lparam) {
  if (message == ui::kWmTimer && wparam == kAutoConfirmTimer && autoRun_) {
    KillTimer(kAutoConfirmTimer);
    ui::TNotifyUI click;
    click.sType = L"click";
    click.pSender = FindControl(L"btn_yes");
    if (click.pSender != nullptr) OnClick(click);
    return 0;
  }
  return WindowImplBase::HandleMessage(message, wparam, lparam);
}

void MessageBoxWnd::PostToOwner(uint32_t message) {
  if (GetOwner() != 0) ui::MessageLoop::Get()->PostUiMessage(GetOwner(), message, 0, 0);
}

void MessageBoxWnd::OnClick(ui::TNotifyUI& msg) {
  if (msg.pSender == nullptr) return;
  const std::wstring& name = msg.pSender->GetName();
  if (name == L"minbtn") {
    SendUiMessage(ui::kWmSysCommand, ui::kScMinimize);
  } else if (name == L"closebtn" || name == L"btn_yes" || name == L"btn_no") {
    Answer(name);
  }
}

void MessageBoxWnd::Answer(const std::wstring& name) {
  if (answered_) return;
  answered_ = true;
  const bool retryKind = kind_ == install::kMsgInstallTimeout || kind_ == install::kMsgVerifyFailed;
  if (name == L"closebtn") {
    if (retryKind) PostToOwner(install::MSG_CLEAR_DATA);
    Close(2);
  } else if (name == L"btn_yes") {
    if (kind_ == install::kMsgPlain || kind_ == install::kMsgCancelInstall) {
      // The confirmed cancel makes the setup disappear at once.
      ShowWindow(false);
      if (ownerWindow_ != nullptr) ownerWindow_->ShowWindow(false);
    }
    if (retryKind) PostToOwner(install::MSG_CLEAR_DATA);
    Close(1);
  } else if (name == L"btn_no") {
    if (retryKind) {
      PostToOwner(install::MSG_CLEAR_DATA);
      Close(1);
    } else if (kind_ == install::kMsgUrlFail || kind_ == install::kMsgInternetFail ||
               kind_ == install::kMsgInternetTimeout) {
      PostToOwner(ui::kWmClose);
      Close(2);
    } else {
      Close(2);
    }
  }
}

intptr_t MessageBoxWnd::OnClose(uint32_t, uintptr_t, intptr_t, bool& handled) {
  // Escape and the desktop's close arrive here without a button: they are
  // the close button, and the box ends once its road has been taken.
  handled = !answered_;
  if (!answered_) Answer(L"closebtn");
  return 0;
}

void MessageBoxWnd::OnFinalMessage(ui::WindowHandle) {
  if (active() == this) active() = outer_;
  delete this;
}

}  // namespace window
