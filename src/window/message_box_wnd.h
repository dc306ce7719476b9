#ifndef WEBSETUP_WINDOW_MESSAGE_BOX_WND_H_
#define WEBSETUP_WINDOW_MESSAGE_BOX_WND_H_

// MessageBoxWnd: the skinned modal question or error of one kind
// (install::EnumMsgType), with the texts of one language. Created per
// question, shown with Show(), deleted by itself when its window is gone.
// UI thread only.

#include <string>

#include "install/install_window.h"
#include "uiframework/window.h"

namespace window {

class MessageBoxWnd : public ui::WindowImplBase {
 public:
  MessageBoxWnd(int kind, int language, bool autoRun);

  // Creates the box owned by `owner` (null for none), restores a minimised
  // owner, centres and runs it modally. Returns 1 for the first button, 2
  // for the second or the close button, -1 when a quit ended the loop.
  // `owner` must outlive the box.
  static int Show(ui::CWindowWnd* owner, int kind, int language, bool autoRun);

  // The plain notice where a desktop program would call its system message
  // box: `text` as given, the warning icon and one OK button in
  // `language`, no owner. Returns as Show() does.
  static int ShowPlain(const std::wstring& text, int language, bool autoRun);

  // The box being shown now (the innermost), or null. Automation only.
  static MessageBoxWnd* Active();
  int Kind() const { return kind_; }
  bool IsPlain() const { return plain_; }

  std::string GetWindowClassName() const override { return "MESSAGEBOX_UI_Frame"; }
  std::string GetSkinFile() const override {
    return kind_ == install::kMsgNetFramework ? "MessageBox_down.xml" : "MessageBox.xml";
  }

 protected:
  void InitWindow() override;
  void OnClick(ui::TNotifyUI& msg) override;
  intptr_t HandleMessage(uint32_t message, uintptr_t wparam, intptr_t lparam) override;
  // A close that no button asked for (Escape, the desktop's close) takes
  // the close button's road, so what that button does is never skipped.
  intptr_t OnClose(uint32_t message, uintptr_t wparam, intptr_t lparam, bool& handled) override;
  void OnFinalMessage(ui::WindowHandle handle) override;

 private:
  static int RunModal(MessageBoxWnd* box, ui::CWindowWnd* owner);
  void PostToOwner(uint32_t message);
  // The road of button `name`; every way out of the box goes through here.
  void Answer(const std::wstring& name);

  int kind_;
  int language_;
  bool plain_ = false;
  std::wstring plainText_;
  ui::CWindowWnd* ownerWindow_ = nullptr;
  bool autoRun_;
  MessageBoxWnd* outer_ = nullptr;  // the box that was active before this one
  bool answered_ = false;           // a button's road has been taken
};

}  // namespace window

#endif  // WEBSETUP_WINDOW_MESSAGE_BOX_WND_H_
