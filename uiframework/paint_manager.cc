#include "uiframework/paint_manager.h"

#include <algorithm>
#include <cctype>

#include "common/log.h"
#include "uiframework/containers.h"
#include "uiframework/controls.h"
#include "uiframework/focus_order.h"
#include "uiframework/image_decode.h"
#include "uiframework/message_loop.h"
#include "uiframework/render.h"

namespace ui {

namespace {

std::string imageKey(const std::string& name) {
  std::string key = name;
  std::replace(key.begin(), key.end(), '\\', '/');
  for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return key;
}

}  // namespace

CPaintManagerUI::CPaintManagerUI() {
  measure_surface_ = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 4, 4);
  measure_cr_ = cairo_create(measure_surface_);
}

CPaintManagerUI::~CPaintManagerUI() {
  // Controls call ReapControl while they go; clear the pointers first. The
  // window's services may already be gone with the window.
  services_ = nullptr;
  hot_ = pushed_ = focus_ = overlay_ = nullptr;
  root_.reset();
  alive_.reset();
  for (std::thread& loader : loaders_) loader.join();
  RemoveAllImages();
  cairo_destroy(measure_cr_);
  cairo_surface_destroy(measure_surface_);
}

void CPaintManagerUI::AttachRoot(std::unique_ptr<CControlUI> root) {
  root_ = std::move(root);
  if (root_ != nullptr) root_->SetManager(this, nullptr);
  NeedUpdate();
}

CControlUI* CPaintManagerUI::FindSubControlByName(CControlUI* parent, const std::wstring& name) {
  if (parent == nullptr || name.empty()) return nullptr;
  if (parent->GetName() == name) return parent;
  auto* container = dynamic_cast<CContainerUI*>(parent);
  if (container == nullptr) return nullptr;
  for (int i = 0; i < container->GetCount(); ++i) {
    CControlUI* found = FindSubControlByName(container->GetItemAt(i), name);
    if (found != nullptr) return found;
  }
  return nullptr;
}

CControlUI* CPaintManagerUI::FindControl(const std::wstring& name) const {
  return FindSubControlByName(root_.get(), name);
}

void CPaintManagerUI::SetFont(int id, const FontSpec& font) {
  if (id < 0 || id > 1000) return;
  if (static_cast<int>(fonts_.size()) <= id) fonts_.resize(static_cast<size_t>(id) + 1);
  fonts_[static_cast<size_t>(id)] = font;
}

FontSpec CPaintManagerUI::ResolveFont(int id) const {
  if (id < 0) id = default_font_;
  if (id >= 0 && id < static_cast<int>(fonts_.size())) return fonts_[static_cast<size_t>(id)];
  return fonts_.empty() ? FontSpec() : fonts_.front();
}

void CPaintManagerUI::SetLinkColors(UiColor normal, UiColor hover) {
  link_color_ = normal;
  link_hover_color_ = hover;
}

void CPaintManagerUI::AddDefaultAttributes(const std::string& cls, const std::string& attributes) {
  std::string key;
  for (char c : cls) key.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
  defaults_[key] = attributes;
}

const std::string* CPaintManagerUI::GetDefaultAttributes(const std::string& cls) const {
  std::string key;
  for (char c : cls) key.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
  auto it = defaults_.find(key);
  return it == defaults_.end() ? nullptr : &it->second;
}

cairo_surface_t* CPaintManagerUI::GetImage(const std::string& name) {
  if (name.empty()) return nullptr;
  std::string key = imageKey(name);
  auto it = images_.find(key);
  if (it != images_.end()) return it->second;
  cairo_surface_t* image = nullptr;
  if (name.front() == '/') {
    // A picture the program stored itself (a banner in the cache).
    image = DecodeImageFile(name);
    if (image == nullptr) return nullptr;
  } else {
    std::string bytes;
    if (archive_ == nullptr || !archive_->Read(name, &bytes)) return nullptr;
    image = DecodeImage(bytes);
    if (image == nullptr) {
      LOG(INFO) << " skin: cannot decode image " << name;
      return nullptr;
    }
  }
  images_[key] = image;
  return image;
}

bool CPaintManagerUI::HasImage(const std::string& name) {
  if (name.empty()) return false;
  if (images_.count(imageKey(name)) != 0) return true;
  if (name.front() == '/') return GetImage(name) != nullptr;
  return archive_ != nullptr && archive_->Contains(name);
}

void CPaintManagerUI::LoadImagesInBackground(std::vector<std::string> names) {
  std::weak_ptr<int> alive = alive_;
  MessageLoop::Get()->PostTask([this, alive, names = std::move(names)]() mutable {
    if (alive.expired()) return;
    std::vector<std::string> wanted;
    for (std::string& name : names) {
      if (!name.empty() && images_.count(imageKey(name)) == 0) wanted.push_back(std::move(name));
    }
    if (wanted.empty()) return;
    loaders_.emplace_back([this, alive, archive = archive_, wanted = std::move(wanted)] {
      std::vector<cairo_surface_t*> decoded;
      for (const std::string& name : wanted) {
        std::string bytes;
        if (name.front() == '/') {
          decoded.push_back(DecodeImageFile(name));
        } else if (archive != nullptr && archive->Read(name, &bytes)) {
          decoded.push_back(DecodeImage(bytes));
        } else {
          decoded.push_back(nullptr);
        }
      }
      MessageLoop::Get()->PostTask([this, alive, wanted, decoded] {
        const bool here = !alive.expired();
        for (size_t i = 0; i < wanted.size(); ++i) {
          if (decoded[i] == nullptr) continue;
          if (here && images_.count(imageKey(wanted[i])) == 0) {
            images_[imageKey(wanted[i])] = decoded[i];
          } else {
            cairo_surface_destroy(decoded[i]);
          }
        }
      });
    });
  });
}

void CPaintManagerUI::AddImage(const std::string& name, cairo_surface_t* image) {
  if (image == nullptr) return;
  RemoveImage(name);
  images_[imageKey(name)] = cairo_surface_reference(image);
  Invalidate();
}

void CPaintManagerUI::RemoveImage(const std::string& name) {
  auto it = images_.find(imageKey(name));
  if (it == images_.end()) return;
  cairo_surface_destroy(it->second);
  images_.erase(it);
}

void CPaintManagerUI::RemoveAllImages() {
  for (auto& [key, image] : images_) cairo_surface_destroy(image);
  images_.clear();
}

void CPaintManagerUI::AddNotifier(INotifyUI* notifier) {
  if (std::find(notifiers_.begin(), notifiers_.end(), notifier) == notifiers_.end()) {
    notifiers_.push_back(notifier);
  }
}

void CPaintManagerUI::RemoveNotifier(INotifyUI* notifier) {
  notifiers_.erase(std::remove(notifiers_.begin(), notifiers_.end(), notifier), notifiers_.end());
}

void CPaintManagerUI::SendNotify(CControlUI* sender, const std::wstring& type, uintptr_t wparam,
                                 intptr_t lparam) {
  TNotifyUI msg{type, sender, wparam, lparam};
  // A handler may add or remove notifiers (a modal box, say): iterate a copy.
  std::vector<INotifyUI*> targets = notifiers_;
  for (INotifyUI* target : targets) target->Notify(msg);
}

void CPaintManagerUI::Invalidate() {
  if (on_invalidate_) on_invalidate_();
}

void CPaintManagerUI::SetClientSize(UiSize size) {
  if (size.cx == client_size_.cx && size.cy == client_size_.cy) return;
  client_size_ = size;
  NeedUpdate();
}

void CPaintManagerUI::LayoutIfNeeded() {
  if (!need_layout_ || root_ == nullptr) return;
  need_layout_ = false;
  root_->SetPos(UiRect{0, 0, client_size_.cx, client_size_.cy});
}

void CPaintManagerUI::Paint(cairo_t* cr) {
  if (root_ == nullptr) return;
  LayoutIfNeeded();
  cairo_save(cr);
  if (round_corner_ > 0) {
    RoundRectPath(cr, 0, 0, client_size_.cx, client_size_.cy, round_corner_);
    cairo_clip(cr);
  }
  root_->DoPaint(cr);
  // The ring only answers "where am I?" for someone on the keyboard; a
  // mouse user sees what they clicked.
  CControlUI* focus = InputFocus();
  if (keyboard_focus_ && focus != nullptr && focus->ShowsFocusRing()) {
    DrawFocusRing(cr, focus->GetPos());
  }
  if (auto* combo = dynamic_cast<CComboUI*>(overlay_)) combo->PaintList(cr);
  tooltip_.Paint(cr);
  cairo_restore(cr);
}

void CPaintManagerUI::OnMouse(MouseEvent event, int x, int y, int wheel) {
  if (root_ == nullptr) return;
  LayoutIfNeeded();
  if (event == MouseEvent::kMove || event == MouseEvent::kLeave) {
    // An open list covers what is under it, tooltips included.
    bool covered = event == MouseEvent::kLeave ||
                   (overlay_ != nullptr && overlay_->FindControlAt(x, y) != nullptr);
    tooltip_.OnPointerMove(covered ? nullptr : root_.get(), x, y);
  } else if (event != MouseEvent::kWheel) {
    tooltip_.Hide(true);
  }
  CControlUI* target = overlay_ != nullptr ? overlay_->FindControlAt(x, y) : nullptr;
  if (target == nullptr) target = root_->FindControlAt(x, y);
  if (target != nullptr && !target->IsEnabled()) target = nullptr;
  switch (event) {
    case MouseEvent::kMove:
    case MouseEvent::kLeave:
      if (event == MouseEvent::kLeave) target = nullptr;
      if (target != hot_) {
        CControlUI* old = hot_;
        hot_ = target;
        if (old != nullptr) old->OnMouse(MouseEvent::kLeave, x, y, 0);
      }
      if (hot_ != nullptr) hot_->OnMouse(MouseEvent::kMove, x, y, 0);
      if (pushed_ != nullptr && pushed_ != hot_) pushed_->OnMouse(MouseEvent::kMove, x, y, 0);
      break;
    case MouseEvent::kDown:
      hot_ = target;
      pushed_ = target;
      if (overlay_ != nullptr && target != overlay_) {
        // A click outside an open list closes it.
        if (auto* combo = dynamic_cast<CComboUI*>(overlay_)) combo->SetDropped(false);
      }
      SetFocus(target != nullptr && target->WantsFocus() ? target : nullptr);
      if (target != nullptr) target->OnMouse(MouseEvent::kDown, x, y, 0);
      break;
    case MouseEvent::kUp: {
      CControlUI* pushed = pushed_;
      if (pushed != nullptr) pushed->OnMouse(MouseEvent::kUp, x, y, 0);
      // The handler may have destroyed the control tree (a closed window).
      pushed_ = nullptr;
      break;
    }
    case MouseEvent::kWheel:
      if (target != nullptr && target == overlay_) {
        // An open list scrolls itself, not the page behind it.
        target->OnMouse(MouseEvent::kWheel, x, y, wheel);
        break;
      }
      for (CControlUI* c = target; c != nullptr; c = c->GetParent()) {
        auto* container = dynamic_cast<CContainerUI*>(c);
        if (container != nullptr && container->GetScrollRange() > 0) {
          container->OnMouse(MouseEvent::kWheel, x, y, wheel);
          break;
        }
      }
      if (target == nullptr) {
        // Scroll a scrollable area under the point even where no child takes the mouse.
        std::function<CContainerUI*(CControlUI*)> find = [&](CControlUI* c) -> CContainerUI* {
          auto* container = dynamic_cast<CContainerUI*>(c);
          if (container == nullptr || !c->IsVisible() || !c->GetPos().contains(x, y)) return nullptr;
          for (int i = container->GetCount() - 1; i >= 0; --i) {
            CContainerUI* inner = find(container->GetItemAt(i));
            if (inner != nullptr) return inner;
          }
          return container->GetScrollRange() > 0 ? container : nullptr;
        };
        CContainerUI* area = find(root_.get());
        if (area != nullptr) area->OnMouse(MouseEvent::kWheel, x, y, wheel);
      }
      break;
  }
  Invalidate();
}

void CPaintManagerUI::OnKey(int key) { OnKeyDown(KeyEvent{key, kModNone}); }

bool CPaintManagerUI::OnKeyDown(const KeyEvent& event) {
  tooltip_.Hide(true);
  if (event.key == kKeyEscape && overlay_ != nullptr) {
    if (auto* combo = dynamic_cast<CComboUI*>(overlay_)) combo->SetDropped(false);
    return true;
  }
  if (event.key == kKeyTab && !event.ctrl() && !event.alt()) {
    LayoutIfNeeded();
    return MoveFocus(!event.shift());
  }
  CControlUI* focus = InputFocus();
  return focus != nullptr && focus->OnKeyDown(event);
}

void CPaintManagerUI::OnTextInput(const std::string& utf8) {
  if (CControlUI* focus = InputFocus()) focus->OnTextInput(utf8);
}

void CPaintManagerUI::OnTextEditing(const std::string& utf8, int cursor) {
  if (CControlUI* focus = InputFocus()) focus->OnTextEditing(utf8, cursor);
}

CControlUI* CPaintManagerUI::InputFocus() const {
  // A page switch can hide the focused button: Enter must not press it
  // again where nobody sees it.
  if (focus_ == nullptr || !focus_->IsVisible() || !focus_->IsEnabled()) return nullptr;
  return focus_;
}

void CPaintManagerUI::SetFocus(CControlUI* control) { SetFocus(control, false); }

void CPaintManagerUI::SetFocus(CControlUI* control, bool from_keyboard) {
  bool ring = from_keyboard && control != nullptr;
  if (control == focus_ && ring == keyboard_focus_) return;
  keyboard_focus_ = ring;
  CControlUI* old = focus_;
  focus_ = control;
  if (old != focus_) {
    if (old != nullptr) old->OnFocus(false);
    if (focus_ != nullptr) focus_->OnFocus(true);
    UpdateTextInput();
  }
  Invalidate();
}

bool CPaintManagerUI::MoveFocus(bool forward) {
  CControlUI* next = NextTabStop(root_.get(), focus_, forward);
  if (next == nullptr) return false;
  SetFocus(next, true);
  return true;
}

void CPaintManagerUI::SetTextInputRect(CControlUI* control, const UiRect& caret) {
  if (control != focus_ || caret == caret_rect_) return;
  caret_rect_ = caret;
  UpdateTextInput();
}

void CPaintManagerUI::UpdateTextInput() {
  if (services_ == nullptr) return;
  bool active = focus_ != nullptr && focus_->WantsTextInput();
  services_->SetTextInput(active, caret_rect_);
}

void CPaintManagerUI::SetWindowServices(IWindowServices* services) {
  services_ = services;
  UpdateTextInput();
}

Clipboard* CPaintManagerUI::GetClipboard() const {
  return services_ != nullptr ? services_->GetClipboard() : GetMemoryClipboard();
}

bool CPaintManagerUI::SetTimer(CControlUI* control, uint32_t id, uint32_t period_ms) {
  if (services_ == nullptr || control == nullptr) return false;
  auto key = std::make_pair(control, id);
  auto it = timers_.find(key);
  uint32_t slot = 0;
  if (it != timers_.end()) {
    slot = it->second;
  } else {
    // The lowest free slot above the tooltip's; a window has a handful.
    for (slot = kToolTipTimerSlot + 1;; ++slot) {
      bool used = false;
      for (const auto& [k, s] : timers_) used = used || s == slot;
      if (!used) break;
    }
    timers_[key] = slot;
  }
  services_->SetUiTimer(slot, period_ms);
  return true;
}

void CPaintManagerUI::KillTimer(CControlUI* control, uint32_t id) {
  auto it = timers_.find(std::make_pair(control, id));
  if (it == timers_.end()) return;
  KillUiTimer(it->second);
  timers_.erase(it);
}

void CPaintManagerUI::OnUiTimer(uint32_t slot) {
  if (slot == kToolTipTimerSlot) {
    tooltip_.OnDelayElapsed();
    return;
  }
  for (const auto& [key, s] : timers_) {
    if (s == slot) {
      key.first->OnTimer(key.second);
      return;
    }
  }
  KillUiTimer(slot);  // its control is gone
}

void CPaintManagerUI::SetUiTimer(uint32_t slot, uint32_t period_ms) {
  if (services_ != nullptr) services_->SetUiTimer(slot, period_ms);
}

void CPaintManagerUI::KillUiTimer(uint32_t slot) {
  if (services_ != nullptr) services_->KillUiTimer(slot);
}

bool CPaintManagerUI::IsCaptionAt(int x, int y) {
  // caption="0,0,0,310": a right or bottom of 0 or less counts from the far edge.
  UiRect band = caption_;
  if (band.right <= 0) band.right += client_size_.cx;
  if (band.bottom <= 0) band.bottom += client_size_.cy;
  if (!band.contains(x, y)) return false;
  if (root_ == nullptr) return true;
  CControlUI* target = overlay_ != nullptr ? overlay_->FindControlAt(x, y) : nullptr;
  if (target == nullptr) target = root_->FindControlAt(x, y);
  if (target == nullptr) return true;
  // A scrollable area under the caption still drags; real controls do not.
  return dynamic_cast<CContainerUI*>(target) != nullptr && dynamic_cast<CComboUI*>(target) == nullptr;
}

void CPaintManagerUI::ReapControl(CControlUI* control) {
  if (hot_ == control) hot_ = nullptr;
  if (pushed_ == control) pushed_ = nullptr;
  if (focus_ == control) {
    focus_ = nullptr;
    UpdateTextInput();
  }
  if (overlay_ == control) overlay_ = nullptr;
  tooltip_.Forget(control);
  for (auto it = timers_.begin(); it != timers_.end();) {
    if (it->first.first != control) {
      ++it;
      continue;
    }
    KillUiTimer(it->second);
    it = timers_.erase(it);
  }
}

}  // namespace ui
