#include "uiframework/window.h"

#include <pango/pangocairo.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <set>

#include "common/mutex.h"
#include "common/text.h"
#include "platform/resources.h"
#include "uiframework/automation.h"

namespace ui {

namespace {

// What waits for the first frame; window thread only.
struct FirstFrameWaiters {
  bool shown = false;
  std::vector<std::function<void()>> waiting;
};

FirstFrameWaiters& firstFrame() {
  static FirstFrameWaiters* const waiters = new FirstFrameWaiters;
  return *waiters;
}

void firstFrameShown() {
  FirstFrameWaiters& f = firstFrame();
  if (f.shown) return;
  f.shown = true;
  std::vector<std::function<void()>> waiting;
  waiting.swap(f.waiting);
  for (std::function<void()>& done : waiting) done();
}

std::set<CWindowWnd*>& liveWindows() {
  static std::set<CWindowWnd*>* windows = new std::set<CWindowWnd*>();
  return *windows;
}

CWindowWnd* findWindow(WindowHandle handle) {
  for (CWindowWnd* w : liveWindows()) {
    if (w->GetHWND() == handle) return w;
  }
  return nullptr;
}

struct PngReader {
  const uint8_t* data;
  size_t size;
  size_t offset;
};

cairo_status_t readPng(void* closure, unsigned char* out, unsigned int length) {
  auto* r = static_cast<PngReader*>(closure);
  if (r->offset + length > r->size) return CAIRO_STATUS_READ_ERROR;
  std::copy_n(r->data + r->offset, length, out);
  r->offset += length;
  return CAIRO_STATUS_SUCCESS;
}

common::Mutex g_archive_mu;
std::map<std::pair<std::string, int>, std::shared_ptr<SkinArchive>> g_archives;
std::shared_ptr<SkinArchive> g_override;

}  // namespace

void AfterFirstFrame(std::function<void()> done) {
  if (!done) return;
  FirstFrameWaiters& f = firstFrame();
  if (f.shown) {
    done();
  } else {
    f.waiting.push_back(std::move(done));
  }
}

std::shared_ptr<SkinArchive> GetSkinArchive(const std::string& type, int id) {
  common::MutexLock lock(&g_archive_mu);
  if (g_override != nullptr) return g_override;
  auto key = std::make_pair(type, id);
  auto it = g_archives.find(key);
  if (it != g_archives.end()) return it->second;
  EnumUiResult result;
  std::shared_ptr<SkinArchive> archive = SkinArchive::FromResource(type, id, &result);
  if (archive != nullptr) g_archives[key] = archive;
  return archive;
}

void SetSkinArchiveOverride(std::shared_ptr<SkinArchive> archive) {
  common::MutexLock lock(&g_archive_mu);
  g_override = std::move(archive);
}

// The window's side of what its paint manager needs: the host's clipboard
// and input method, and framework timers on the window's handle.
class CWindowWnd::Services : public IWindowServices {
 public:
  explicit Services(CWindowWnd* window) : window_(window) {}
  Clipboard* GetClipboard() override {
    return window_->host_ != nullptr ? window_->host_->GetClipboard() : GetMemoryClipboard();
  }
  void SetTextInput(bool active, const UiRect& caret) override {
    if (window_->host_ != nullptr) window_->host_->SetTextInput(active, caret);
  }
  void SetUiTimer(uint32_t slot, uint32_t period_ms) override {
    window_->SetTimer(static_cast<uint32_t>(kUiTimerFirst + slot), period_ms);
  }
  void KillUiTimer(uint32_t slot) override {
    window_->KillTimer(static_cast<uint32_t>(kUiTimerFirst + slot));
  }

 private:
  CWindowWnd* window_;
};

CWindowWnd::CWindowWnd() : services_(std::make_unique<Services>(this)) {
  static bool idle_set = false;
  if (!idle_set) {
    MessageLoop::Get()->SetIdleHandler(&CWindowWnd::PaintDirtyWindows);
    MessageLoop::Get()->SetStallObserver(&automation::UpdateLoopProbe);
    idle_set = true;
  }
  paint_manager_.SetInvalidateCallback([this] { dirty_ = true; });
}

CWindowWnd::~CWindowWnd() {
  // The manager outlives this body; its controls must not reach the host.
  paint_manager_.SetWindowServices(nullptr);
  if (handle_ != 0) {
    automation::RemoveProbe(this);
    MessageLoop::Get()->Unregister(handle_);
    liveWindows().erase(this);
  }
  if (cr_ != nullptr) cairo_destroy(cr_);
  if (surface_ != nullptr) cairo_surface_destroy(surface_);
}

bool CWindowWnd::Create(WindowHandle owner, const std::wstring& title, int x, int y, int cx,
                        int cy) {
  owner_ = owner;
  // Pango reads fontconfig's configuration and caches on a thread of its
  // own, started with the font map; the first text measured waits for it.
  // Started here, it runs while the host opens the display and the layout
  // and its pictures are loaded, instead of after.
  static bool fonts_started = false;
  if (!fonts_started) {
    fonts_started = true;
    (void)pango_cairo_font_map_get_default();
  }
  EnumUiResult result;
  host_ = CreateHost(this, UiRect{x, y, x + cx, y + cy}, &result);
  if (host_ == nullptr) return false;
  host_->SetTitle(common::wideToUtf8(title));
  if (CWindowWnd* owner_window = findWindow(owner);
      owner_window != nullptr && owner_window->host_) {
    host_->SetOwner(owner_window->host_.get());
  }
  handle_ = MessageLoop::Get()->Register(this);
  liveWindows().insert(this);
  paint_manager_.SetClientSize(UiSize{cx, cy});
  paint_manager_.SetWindowServices(services_.get());
  OnCreate();
  return handle_ != 0;
}

void CWindowWnd::ShowWindow(bool show, bool take_focus) {
  if (host_ == nullptr) return;
  if (show) host_->SetTransparent(paint_manager_.IsTransparent());
  host_->Show(show);
  if (show) {
    dirty_ = true;
    Repaint();
    if (take_focus) host_->Focus();
  } else {
    automation::UpdateProbe(this);
  }
}

bool CWindowWnd::IsWindowVisible() const { return host_ != nullptr && host_->IsShown(); }

int CWindowWnd::ShowModal() {
  if (handle_ == 0) return -1;
  std::shared_ptr<ModalState> state = modal_;
  CWindowWnd* owner = findWindow(owner_);
  WindowHandle owner_handle = owner_;
  if (owner != nullptr) owner->EnableWindow(false);
  ShowWindow(true, true);
  MessageLoop::Get()->RunUntil([state] { return state->done; });
  // The owner may have gone while the box was up.
  if ((owner = findWindow(owner_handle)) != nullptr) owner->EnableWindow(true);
  return state->done ? state->result : -1;
}

void CWindowWnd::Close(int result) { PostUiMessage(kWmClose, static_cast<uintptr_t>(result)); }

void CWindowWnd::CenterWindow() {
  if (host_ == nullptr) return;
  UiRect bounds = host_->GetBounds();
  UiRect area{0, 0, 0, 0};
  CWindowWnd* owner = findWindow(owner_);
  if (owner != nullptr && owner->IsWindowVisible() && !owner->IsMinimized()) {
    area = owner->GetWindowRect();
  } else {
    UiSize screen = host_->ScreenSize();
    area = UiRect{0, 0, screen.cx, screen.cy};
  }
  int x = std::max(0, area.left + (area.width() - bounds.width()) / 2);
  int y = std::max(0, area.top + (area.height() - bounds.height()) / 2);
  host_->SetBounds(UiRect{x, y, x + bounds.width(), y + bounds.height()});
  dirty_ = true;
}

void CWindowWnd::MoveWindow(const UiRect& bounds) {
  if (host_ == nullptr) return;
  host_->SetBounds(bounds);
  paint_manager_.SetClientSize(UiSize{bounds.width(), bounds.height()});
  dirty_ = true;
}

UiRect CWindowWnd::GetWindowRect() const {
  return host_ != nullptr ? host_->GetBounds() : UiRect{};
}

void CWindowWnd::ResizeClient(int cx, int cy) {
  UiRect b = GetWindowRect();
  MoveWindow(UiRect{b.left, b.top, b.left + cx, b.top + cy});
}

void CWindowWnd::Minimize() {
  if (host_ != nullptr) host_->Minimize();
}

void CWindowWnd::Restore() {
  if (host_ != nullptr) host_->Restore();
}

bool CWindowWnd::IsMinimized() const { return host_ != nullptr && host_->IsMinimized(); }

void CWindowWnd::SetOpacity(double opacity) {
  if (host_ != nullptr) host_->SetOpacity(opacity);
}

bool CWindowWnd::SetIcon(int id) {
  platform::Resource res;
  if (host_ == nullptr || !platform::findResource("ICON", id, &res)) return false;
  PngReader reader{res.data, res.size, 0};
  cairo_surface_t* icon = cairo_image_surface_create_from_png_stream(readPng, &reader);
  bool ok = cairo_surface_status(icon) == CAIRO_STATUS_SUCCESS;
  if (ok) host_->SetIcon(icon);
  cairo_surface_destroy(icon);
  return ok;
}

intptr_t CWindowWnd::SendUiMessage(uint32_t message, uintptr_t wparam, intptr_t lparam) {
  return HandleMessage(message, wparam, lparam);
}

bool CWindowWnd::PostUiMessage(uint32_t message, uintptr_t wparam, intptr_t lparam) {
  return MessageLoop::Get()->PostUiMessage(handle_, message, wparam, lparam);
}

void CWindowWnd::SetTimer(uint32_t id, uint32_t period_ms) {
  if (handle_ != 0) MessageLoop::Get()->SetTimer(handle_, id, period_ms);
}

bool CWindowWnd::KillTimer(uint32_t id) { return MessageLoop::Get()->KillTimer(handle_, id); }

intptr_t CWindowWnd::DispatchMessage(uint32_t message, uintptr_t wparam, intptr_t lparam) {
  // The framework's own timers (caret, tooltips) never reach the window's
  // handler, so a window's timer code sees only the ids it set.
  if (message == kWmTimer && wparam >= kUiTimerFirst) {
    paint_manager_.OnUiTimer(static_cast<uint32_t>(wparam - kUiTimerFirst));
    return 0;
  }
  return HandleMessage(message, wparam, lparam);
}

intptr_t CWindowWnd::HandleMessage(uint32_t message, uintptr_t wparam, intptr_t lparam) {
  (void)lparam;
  if (message == kWmClose) {
    DestroyWindow(static_cast<int>(wparam));
  } else if (message == kWmSysCommand && wparam == kScMinimize) {
    Minimize();
  } else if (message == kWmSysCommand && wparam == kScRestore) {
    Restore();
  }
  return 0;
}

void CWindowWnd::DestroyWindow(int result) {
  if (handle_ == 0) return;
  automation::RemoveProbe(this);
  WindowHandle handle = handle_;
  if (host_ != nullptr) host_->Show(false);
  modal_->result = result;
  modal_->done = true;
  MessageLoop::Get()->Unregister(handle);
  liveWindows().erase(this);
  handle_ = 0;
  paint_manager_.SetWindowServices(nullptr);
  host_.reset();
  // Last: the object may delete itself here.
  OnFinalMessage(handle);
}

double CWindowWnd::GetScale() const { return host_ != nullptr ? host_->GetScale() : 1.0; }

UiSize CWindowWnd::FrameSize() const {
  UiSize size = paint_manager_.GetClientSize();
  double scale = GetScale();
  return UiSize{std::max(1, static_cast<int>(std::ceil(size.cx * scale))),
                std::max(1, static_cast<int>(std::ceil(size.cy * scale)))};
}

cairo_surface_t* CWindowWnd::CreateScaledSurface(cairo_t** cr) const {
  UiSize frame = FrameSize();
  double scale = GetScale();
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, frame.cx, frame.cy);
  *cr = cairo_create(surface);
  // Drawing stays in layout pixels; Cairo and Pango render text and
  // outlines at the device resolution, so a scaled window is crisp rather
  // than a magnified bitmap.
  cairo_scale(*cr, scale, scale);
  return surface;
}

void CWindowWnd::EnsureSurface() {
  UiSize frame = FrameSize();
  if (surface_ != nullptr && cairo_image_surface_get_width(surface_) == frame.cx &&
      cairo_image_surface_get_height(surface_) == frame.cy) {
    return;
  }
  if (cr_ != nullptr) cairo_destroy(cr_);
  if (surface_ != nullptr) cairo_surface_destroy(surface_);
  surface_ = CreateScaledSurface(&cr_);
  dirty_ = true;
}

void CWindowWnd::Repaint() {
  EnsureSurface();
  const bool changed = dirty_;
  if (changed) {
    dirty_ = false;
    cairo_save(cr_);
    cairo_set_operator(cr_, CAIRO_OPERATOR_CLEAR);
    cairo_paint(cr_);
    cairo_restore(cr_);
    paint_manager_.Paint(cr_);
    cairo_surface_flush(surface_);
  }
  if (host_ != nullptr && host_->IsShown() && !host_->IsHeadless()) host_->Present(surface_);
  // After the frame went out: a driver reading the probe finds on the
  // screen what the probe describes.
  if (changed) automation::UpdateProbe(this);
  if (changed && host_ != nullptr && host_->IsShown()) firstFrameShown();
}

cairo_t* CWindowWnd::GetPaintContext() {
  EnsureSurface();
  if (dirty_) Repaint();
  return cr_;
}

void CWindowWnd::PresentNow() {
  if (surface_ == nullptr) return;
  cairo_surface_flush(surface_);
  if (host_ != nullptr && host_->IsShown() && !host_->IsHeadless()) host_->Present(surface_);
}

cairo_surface_t* CWindowWnd::RenderSnapshot() {
  cairo_t* cr = nullptr;
  cairo_surface_t* s = CreateScaledSurface(&cr);
  paint_manager_.Paint(cr);
  cairo_destroy(cr);
  cairo_surface_flush(s);
  return s;
}

bool CWindowWnd::SaveScreenshot(const std::string& path) {
  cairo_surface_t* s = RenderSnapshot();
  bool ok = cairo_surface_write_to_png(s, path.c_str()) == CAIRO_STATUS_SUCCESS;
  cairo_surface_destroy(s);
  return ok;
}

void CWindowWnd::PaintDirtyWindows() {
  std::vector<CWindowWnd*> windows(liveWindows().begin(), liveWindows().end());
  for (CWindowWnd* w : windows) {
    if (w->dirty_ && w->host_ != nullptr && w->host_->IsShown() && !w->host_->IsHeadless()) {
      w->Repaint();
    }
  }
}

void CWindowWnd::OnHostMouse(MouseEvent event, int x, int y, int wheel) {
  if (!enabled_) return;  // the owner of a modal window takes no input
  paint_manager_.OnMouse(event, x, y, wheel);
}

void CWindowWnd::OnHostKey(int key) { OnHostKeyEvent(KeyEvent{key, kModNone}); }

void CWindowWnd::OnHostKeyEvent(const KeyEvent& event) {
  if (!enabled_) return;
  if (paint_manager_.OnKeyDown(event)) return;
  // Escape asks to close exactly as the window manager's close button does,
  // so the window's OnClose decides (an install in progress may refuse).
  if (event.key == kKeyEscape && event.modifiers == kModNone) OnHostCloseRequest();
}

void CWindowWnd::OnHostText(const std::string& utf8) {
  if (enabled_) paint_manager_.OnTextInput(utf8);
}

void CWindowWnd::OnHostTextEditing(const std::string& utf8, int cursor) {
  if (enabled_) paint_manager_.OnTextEditing(utf8, cursor);
}

void CWindowWnd::OnHostCloseRequest() {
  if (enabled_) PostUiMessage(kWmClose, 0);
}

bool CWindowWnd::OnHostHitCaption(int x, int y) {
  return enabled_ && paint_manager_.IsCaptionAt(x, y);
}

void CWindowWnd::OnHostExposed() {
  dirty_ = true;
  Repaint();
}

}  // namespace ui
