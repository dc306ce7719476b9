#include "uiframework/window.h"

#include "common/log.h"
#include "uiframework/layout_builder.h"

namespace ui {

WindowImplBase::WindowImplBase() { paint_manager_.AddNotifier(this); }

WindowImplBase::~WindowImplBase() { paint_manager_.RemoveNotifier(this); }

void WindowImplBase::OnCreate() {
  std::shared_ptr<SkinArchive> archive = GetSkinArchive(GetResourceType(), GetResourceID());
  if (archive == nullptr) {
    load_error_ = "no skin archive";
    LOG(INFO) << " ui: " << load_error_;
    return;
  }
  paint_manager_.SetArchive(archive);
  std::string file = GetSkinFile();
  if (!archive->Contains(file) && archive->Contains(GetSkinFolder() + file)) {
    file = GetSkinFolder() + file;
  }
  CDialogBuilder builder;
  EnumUiResult result;
  std::unique_ptr<CControlUI> root =
      builder.Create(file, *archive, &paint_manager_, &result, &load_error_);
  if (root == nullptr) {
    LOG(INFO) << " ui: cannot load " << file << ": " << load_error_;
    return;
  }
  paint_manager_.AttachRoot(std::move(root));
  UiSize size = paint_manager_.GetInitSize();
  if (size.cx > 0 && size.cy > 0) ResizeClient(size.cx, size.cy);
  InitWindow();
}

void WindowImplBase::Notify(TNotifyUI& msg) {
  if (msg.sType == L"click") {
    OnClick(msg);
  } else if (msg.sType == L"itemselect") {
    OnItemSelect(msg);
  } else if (msg.sType == L"selectchanged") {
    OnSelectChanged(msg);
  } else if (msg.sType == L"headerclick") {
    OnHeaderClick(msg);
  } else if (msg.sType == L"link") {
    OnLink(msg);
  }
}

intptr_t WindowImplBase::OnClose(uint32_t message, uintptr_t wparam, intptr_t lparam,
                                 bool& handled) {
  (void)message;
  (void)wparam;
  (void)lparam;
  handled = false;
  return 0;
}

intptr_t WindowImplBase::HandleCustomMessage(uint32_t message, uintptr_t wparam, intptr_t lparam,
                                             bool& handled) {
  (void)message;
  (void)wparam;
  (void)lparam;
  handled = false;
  return 0;
}

intptr_t WindowImplBase::HandleMessage(uint32_t message, uintptr_t wparam, intptr_t lparam) {
  bool handled = false;
  intptr_t r = 0;
  if (message == kWmClose) {
    r = OnClose(message, wparam, lparam, handled);
  } else if (message >= kWmUser) {
    r = HandleCustomMessage(message, wparam, lparam, handled);
  }
  if (handled) return r;
  return CWindowWnd::HandleMessage(message, wparam, lparam);
}

}  // namespace ui
