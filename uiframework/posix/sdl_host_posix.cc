#include <SDL2/SDL.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <vector>

#include "common/log.h"
#include "common/text.h"
#include "uiframework/host.h"
#include "uiframework/message_loop.h"
#include "uiframework/posix/x11_session_posix.h"
#include "uiframework/posix/x11_transparency_posix.h"

namespace ui {

namespace {

class SdlHost;

// Routes SDL's events to the host of the window they belong to. SDL cannot
// wake our loop, so the loop polls it while SDL windows exist.
class SdlPump : public EventPump {
 public:
  static SdlPump* Get() {
    static SdlPump* pump = new SdlPump();
    return pump;
  }
  void Add(uint32_t id, SdlHost* host) {
    hosts_[id] = host;
    MessageLoop::Get()->SetEventPump(this);
  }
  void Remove(uint32_t id) { hosts_.erase(id); }
  void Pump() override;
  bool NeedsPolling() const override { return !hosts_.empty(); }

 private:
  SdlHost* Find(uint32_t id) const {
    auto it = hosts_.find(id);
    return it == hosts_.end() ? nullptr : it->second;
  }
  std::map<uint32_t, SdlHost*> hosts_;
};

SDL_HitTestResult hitTest(SDL_Window* window, const SDL_Point* point, void* data);

// The desktop clipboard through SDL (on X11 SDL answers other programs'
// requests for it from inside its event pump, which our loop polls).
class SdlClipboard : public Clipboard {
 public:
  std::wstring GetText() override {
    char* text = SDL_GetClipboardText();
    std::wstring out = text != nullptr ? common::utf8ToWide(text) : std::wstring();
    SDL_free(text);
    return out;
  }
  void SetText(const std::wstring& text) override {
    SDL_SetClipboardText(common::wideToUtf8(text).c_str());
  }
};

// SDL's key codes → ours (the Win32 numbers); 0 for keys no control uses.
int translateKey(SDL_Keycode k) {
  if (k >= SDLK_a && k <= SDLK_z) return 'A' + (k - SDLK_a);
  if (k >= SDLK_0 && k <= SDLK_9) return '0' + (k - SDLK_0);
  switch (k) {
    case SDLK_BACKSPACE: return kKeyBackspace;
    case SDLK_TAB: return kKeyTab;
    case SDLK_RETURN:
    case SDLK_KP_ENTER: return kKeyReturn;
    case SDLK_ESCAPE: return kKeyEscape;
    case SDLK_SPACE: return kKeySpace;
    case SDLK_PAGEUP: return kKeyPageUp;
    case SDLK_PAGEDOWN: return kKeyPageDown;
    case SDLK_END: return kKeyEnd;
    case SDLK_HOME: return kKeyHome;
    case SDLK_LEFT: return kKeyLeft;
    case SDLK_UP: return kKeyUp;
    case SDLK_RIGHT: return kKeyRight;
    case SDLK_DOWN: return kKeyDown;
    case SDLK_INSERT: return kKeyInsert;
    case SDLK_DELETE: return kKeyDelete;
    default: return 0;
  }
}

unsigned translateModifiers(Uint16 mod) {
  unsigned out = kModNone;
  if (mod & KMOD_SHIFT) out |= kModShift;
  if (mod & KMOD_CTRL) out |= kModCtrl;
  if (mod & KMOD_ALT) out |= kModAlt;
  return out;
}

// The scale a new window on `display` gets when nobody asked for one: the
// display's DPI over the 96 that layouts are drawn for, in quarter steps.
// Screens a little denser than 96 DPI stay at 1 (a 1.1 scale only blurs),
// and an X server that cannot say (Xvfb) gives 1.
double displayScale(int display) {
  float dpi = 0;
  if (SDL_GetDisplayDPI(display < 0 ? 0 : display, nullptr, &dpi, nullptr) != 0 || dpi <= 0) {
    return 1.0;
  }
  double scale = std::round(dpi / 96.0 * 4) / 4;
  return scale < 1.25 ? 1.0 : std::min(scale, kMaxUiScale);
}

// The SDL host whose input method is on: SDL has one for the whole program.
SdlHost* g_text_input_owner = nullptr;

class SdlHost : public WindowHost {
 public:
  SdlHost(HostDelegate* delegate, SDL_Window* window, const UiRect& bounds)
      : delegate_(delegate), window_(window) {
    SDL_SetWindowHitTest(window_, hitTest, this);
    SdlPump::Get()->Add(SDL_GetWindowID(window_), this);
    ChooseScale(bounds);
  }
  void SetTransparent(bool transparent) override {
    if (transparent == transparent_) return;
    transparent_ = transparent;
    x11_ = transparent_ ? X11Transparency::For(window_) : nullptr;
  }
  ~SdlHost() override {
    if (g_text_input_owner == this) {
      SDL_StopTextInput();
      g_text_input_owner = nullptr;
    }
    SdlPump::Get()->Remove(SDL_GetWindowID(window_));
    SDL_DestroyWindow(window_);
    if (icon_ != nullptr) cairo_surface_destroy(icon_);
  }
  HostDelegate* delegate() const { return delegate_; }

  // Bounds are layout pixels; SDL's window coordinates are coord_scale_
  // times them.
  void SetBounds(const UiRect& b) override {
    placed_ = b;
    UiRect d = ToWindow(b);
    SDL_SetWindowPosition(window_, d.left, d.top);
    SDL_SetWindowSize(window_, std::max(1, d.width()), std::max(1, d.height()));
  }
  UiRect GetBounds() const override {
    const UiRect r = GetBoundsInWindowUnits();
    return UiRect{FromWindow(r.left), FromWindow(r.top), FromWindow(r.left) + FromWindow(r.width()),
                  FromWindow(r.top) + FromWindow(r.height())};
  }
  void Show(bool show) override {
    if (show) {
      // X drops moves of a window that was never mapped when no window
      // manager runs (Xvfb); a window created in place lands where asked.
      // A transparent window blended by a compositor must be born on an
      // ARGB visual; X cannot change a window's visual later.
      bool wants_alpha = transparent_ && !mapped_once_ && x11_ != nullptr &&
                         !x11_->HasAlphaVisual() && X11Transparency::CompositedVisual(window_) != 0;
      if (!mapped_once_ && (!placed_.empty() || wants_alpha)) Recreate();
      if (!mapped_once_ && x11_ != nullptr) x11_->HideUntilFirstFrame();
      mapped_once_ = true;
      repaint_all_ = true;
      SDL_ShowWindow(window_);
    } else {
      SDL_HideWindow(window_);
    }
  }
  bool IsShown() const override { return (SDL_GetWindowFlags(window_) & SDL_WINDOW_SHOWN) != 0; }
  void Minimize() override { SDL_MinimizeWindow(window_); }
  void Restore() override { SDL_RestoreWindow(window_); }
  bool IsMinimized() const override {
    return (SDL_GetWindowFlags(window_) & SDL_WINDOW_MINIMIZED) != 0;
  }
  void SetTitle(const std::string& utf8) override { SDL_SetWindowTitle(window_, utf8.c_str()); }
  void SetOpacity(double opacity) override {
    opacity_ = static_cast<float>(opacity);
    SDL_SetWindowOpacity(window_, opacity_);
  }
  void SetIcon(cairo_surface_t* icon) override {
    if (icon_ != nullptr) cairo_surface_destroy(icon_);
    icon_ = cairo_surface_reference(icon);
    SDL_Surface* s = wrap(icon);
    if (s == nullptr) return;
    SDL_SetWindowIcon(window_, s);
    SDL_FreeSurface(s);
  }
  void Focus() override { SDL_RaiseWindow(window_); }
  void Present(cairo_surface_t* frame) override {
    if (x11_ != nullptr && x11_->Present(frame)) {
      repaint_all_ = true;
      return;
    }
    SDL_Surface* dst = SDL_GetWindowSurface(window_);
    SDL_Surface* src = wrap(frame);
    if (src != nullptr && dst != nullptr) {
      // A plain X window has no per-pixel alpha: transparent parts of a
      // frame (the splash's corners) show over white instead of black.
      const Uint32 white = SDL_MapRGB(dst->format, 255, 255, 255);
      SDL_SetSurfaceBlendMode(src, SDL_BLENDMODE_BLEND);
      if (src->w == dst->w && src->h == dst->h) {
        if (dst != shown_surface_) repaint_all_ = true;
        shown_surface_ = dst;
        SDL_Rect damage = Damage(frame);
        if (damage.w > 0 && damage.h > 0) {
          SDL_FillRect(dst, &damage, white);
          SDL_Rect to = damage;
          SDL_BlitSurface(src, &damage, dst, &to);
          SDL_UpdateWindowSurfaceRects(window_, &damage, 1);
        }
      } else {
        // Only while a resize is on its way (or SDL's surface counts
        // points): better stretched for a frame than cut.
        SDL_FillRect(dst, nullptr, white);
        SDL_BlitScaled(src, nullptr, dst, nullptr);
        SDL_UpdateWindowSurface(window_);
        shown_.clear();
        shown_surface_ = nullptr;
      }
    }
    if (src != nullptr) SDL_FreeSurface(src);
  }
  // The window lost its pixels (exposed, resized, restored): the next
  // frame goes out whole.
  void RepaintAll() { repaint_all_ = true; }
  void Recreate() {
    UiRect d = placed_.empty() ? GetBoundsInWindowUnits() : ToWindow(placed_);
    unsigned long visual = transparent_ ? X11Transparency::CompositedVisual(window_) : 0;
    if (visual != 0) {
      SDL_SetHint(SDL_HINT_VIDEO_X11_WINDOW_VISUALID, std::to_string(visual).c_str());
    }
    SDL_Window* fresh = SDL_CreateWindow(SDL_GetWindowTitle(window_), d.left, d.top,
                                         std::max(1, d.width()), std::max(1, d.height()),
                                         SDL_GetWindowFlags(window_) & ~SDL_WINDOW_SHOWN);
    if (visual != 0) SDL_ResetHint(SDL_HINT_VIDEO_X11_WINDOW_VISUALID);
    if (fresh == nullptr) return;
    x11_.reset();
    repaint_all_ = true;
    shown_surface_ = nullptr;
    SdlPump::Get()->Remove(SDL_GetWindowID(window_));
    SDL_SetWindowOpacity(fresh, opacity_);
    SDL_DestroyWindow(window_);
    window_ = fresh;
    SDL_SetWindowHitTest(window_, hitTest, this);
    SdlPump::Get()->Add(SDL_GetWindowID(window_), this);
    if (SDL_Surface* icon = wrap(icon_)) {
      SDL_SetWindowIcon(window_, icon);
      SDL_FreeSurface(icon);
    }
    if (transparent_) x11_ = X11Transparency::For(window_);
  }
  UiSize ScreenSize() const override {
    SDL_Rect r;
    int display = SDL_GetWindowDisplayIndex(window_);
    if (SDL_GetDisplayBounds(display < 0 ? 0 : display, &r) != 0) return UiSize{0, 0};
    return UiSize{FromWindow(r.w), FromWindow(r.h)};
  }
  bool IsHeadless() const override { return false; }
  double GetScale() const override { return frame_scale_; }
  Clipboard* GetClipboard() override {
    static SdlClipboard* clipboard = new SdlClipboard();
    return clipboard;
  }
  void SetTextInput(bool active, const UiRect& caret) override {
    if (!active) {
      if (g_text_input_owner == this) {
        SDL_StopTextInput();
        g_text_input_owner = nullptr;
      }
      return;
    }
    // The candidate box of the input method opens at the caret.
    SDL_Rect r{ToWindow(caret.left), ToWindow(caret.top), std::max(1, ToWindow(caret.width())),
               std::max(1, ToWindow(caret.height()))};
    SDL_SetTextInputRect(&r);
    if (g_text_input_owner != this || !SDL_IsTextInputActive()) SDL_StartTextInput();
    g_text_input_owner = this;
  }
  bool IsTextInputActive() const override {
    return g_text_input_owner == this && SDL_IsTextInputActive();
  }
  // Window coordinates (mouse, hit test) → layout pixels.
  int FromWindow(int v) const { return static_cast<int>(std::floor(v / coord_scale_)); }

 private:
  // An SDL view of a cairo ARGB32 surface (the same byte layout).
  static SDL_Surface* wrap(cairo_surface_t* surface) {
    if (surface == nullptr) return nullptr;
    cairo_surface_flush(surface);
    return SDL_CreateRGBSurfaceWithFormatFrom(
        cairo_image_surface_get_data(surface), cairo_image_surface_get_width(surface),
        cairo_image_surface_get_height(surface), 32, cairo_image_surface_get_stride(surface),
        SDL_PIXELFORMAT_ARGB8888);
  }

  // The part of `frame` that differs from the frame shown before, which
  // becomes the shown one: a progress step or a blinking caret sends a
  // strip to the X server, not the window. The whole frame after
  // RepaintAll() or a change of size; empty when nothing changed.
  SDL_Rect Damage(cairo_surface_t* frame) {
    const int width = cairo_image_surface_get_width(frame);
    const int height = cairo_image_surface_get_height(frame);
    const int stride = cairo_image_surface_get_stride(frame);
    const unsigned char* data = cairo_image_surface_get_data(frame);
    const size_t row_bytes = static_cast<size_t>(width) * 4;
    auto row = [&](int y) {
      return reinterpret_cast<const uint32_t*>(data + static_cast<size_t>(y) * stride);
    };
    auto shown_row = [&](int y) { return shown_.data() + static_cast<size_t>(y) * width; };
    if (repaint_all_ || shown_width_ != width || shown_height_ != height) {
      shown_.resize(static_cast<size_t>(width) * height);
      for (int y = 0; y < height; ++y) std::memcpy(shown_row(y), row(y), row_bytes);
      shown_width_ = width;
      shown_height_ = height;
      repaint_all_ = false;
      return SDL_Rect{0, 0, width, height};
    }
    int top = height, bottom = -1, left = width, right = -1;
    for (int y = 0; y < height; ++y) {
      const uint32_t* now = row(y);
      uint32_t* before = shown_row(y);
      if (std::memcmp(now, before, row_bytes) == 0) continue;
      top = std::min(top, y);
      bottom = y;
      int l = 0;
      while (now[l] == before[l]) ++l;
      int r = width - 1;
      while (now[r] == before[r]) --r;
      left = std::min(left, l);
      right = std::max(right, r);
      std::memcpy(before + l, now + l, static_cast<size_t>(r - l + 1) * 4);
    }
    if (bottom < 0) return SDL_Rect{0, 0, 0, 0};
    return SDL_Rect{left, top, right - left + 1, bottom - top + 1};
  }

  // Picks the two scales once the window exists. Where the system scales
  // windows itself (Wayland, macOS: window size in points, drawable in
  // pixels), frames are drawn at that ratio and coordinates stay points;
  // elsewhere (X11) window pixels are device pixels and both scales are ours.
  void ChooseScale(const UiRect& bounds) {
    int w = 0, h = 0, pw = 0, ph = 0;
    SDL_GetWindowSize(window_, &w, &h);
    SDL_GetWindowSizeInPixels(window_, &pw, &ph);
    double system = w > 0 && pw > w ? static_cast<double>(pw) / w : 1.0;
    double wanted = GetRequestedUiScale();
    if (wanted <= 0)
      wanted = system > 1 ? system : displayScale(SDL_GetWindowDisplayIndex(window_));
    frame_scale_ = wanted;
    coord_scale_ = wanted / system;
    if (frame_scale_ != 1.0 || coord_scale_ != 1.0) SetBounds(bounds);
  }
  int ToWindow(int v) const { return static_cast<int>(std::lround(v * coord_scale_)); }
  UiRect GetBoundsInWindowUnits() const {
    int x = 0, y = 0, w = 0, h = 0;
    SDL_GetWindowPosition(window_, &x, &y);
    SDL_GetWindowSize(window_, &w, &h);
    return UiRect{x, y, x + w, y + h};
  }
  UiRect ToWindow(const UiRect& r) const {
    return UiRect{ToWindow(r.left), ToWindow(r.top), ToWindow(r.right), ToWindow(r.bottom)};
  }

  HostDelegate* delegate_;
  SDL_Window* window_;
  double frame_scale_ = 1;  // frame pixels per layout pixel
  double coord_scale_ = 1;  // SDL window coordinates per layout pixel
  UiRect placed_;
  bool mapped_once_ = false;
  cairo_surface_t* icon_ = nullptr;
  float opacity_ = 1;
  bool transparent_ = false;
  std::unique_ptr<X11Transparency> x11_;  // set while transparent on X11
  // The frame the window shows, to send only what changed.
  std::vector<uint32_t> shown_;
  int shown_width_ = 0;
  int shown_height_ = 0;
  SDL_Surface* shown_surface_ = nullptr;  // SDL's window surface it went to
  bool repaint_all_ = true;
};

SDL_HitTestResult hitTest(SDL_Window* window, const SDL_Point* point, void* data) {
  (void)window;
  auto* host = static_cast<SdlHost*>(data);
  bool caption =
      host->delegate()->OnHostHitCaption(host->FromWindow(point->x), host->FromWindow(point->y));
  return caption ? SDL_HITTEST_DRAGGABLE : SDL_HITTEST_NORMAL;
}

void dispatchMouse(SdlHost* host, const SDL_Event& e) {
  HostDelegate* d = host->delegate();
  if (e.type == SDL_MOUSEMOTION) {
    d->OnHostMouse(MouseEvent::kMove, host->FromWindow(e.motion.x), host->FromWindow(e.motion.y),
                   0);
  } else if (e.type == SDL_MOUSEWHEEL) {
    int x = 0, y = 0;
    SDL_GetMouseState(&x, &y);
    d->OnHostMouse(MouseEvent::kWheel, host->FromWindow(x), host->FromWindow(y), e.wheel.y);
  } else if (e.button.button == SDL_BUTTON_LEFT) {
    d->OnHostMouse(e.type == SDL_MOUSEBUTTONDOWN ? MouseEvent::kDown : MouseEvent::kUp,
                   host->FromWindow(e.button.x), host->FromWindow(e.button.y), 0);
  }
}

void dispatchWindowEvent(SdlHost* host, const SDL_WindowEvent& e) {
  if (e.event == SDL_WINDOWEVENT_CLOSE) host->delegate()->OnHostCloseRequest();
  if (e.event == SDL_WINDOWEVENT_LEAVE) {
    host->delegate()->OnHostMouse(MouseEvent::kLeave, -1, -1, 0);
  }
  if (e.event == SDL_WINDOWEVENT_EXPOSED || e.event == SDL_WINDOWEVENT_SIZE_CHANGED ||
      e.event == SDL_WINDOWEVENT_RESTORED) {
    host->RepaintAll();
    host->delegate()->OnHostExposed();
  }
}

uint32_t windowOf(const SDL_Event& e) {
  switch (e.type) {
    case SDL_MOUSEMOTION: return e.motion.windowID;
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP: return e.button.windowID;
    case SDL_MOUSEWHEEL: return e.wheel.windowID;
    case SDL_TEXTINPUT: return e.text.windowID;
    case SDL_TEXTEDITING: return e.edit.windowID;
    case SDL_TEXTEDITING_EXT: return e.editExt.windowID;
    case SDL_KEYDOWN: return e.key.windowID;
    case SDL_WINDOWEVENT: return e.window.windowID;
    default: return 0;
  }
}

void dispatch(SdlHost* host, const SDL_Event& e) {
  switch (e.type) {
    case SDL_MOUSEMOTION:
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP:
    case SDL_MOUSEWHEEL: dispatchMouse(host, e); break;
    case SDL_TEXTINPUT: host->delegate()->OnHostText(e.text.text); break;
    case SDL_TEXTEDITING: host->delegate()->OnHostTextEditing(e.edit.text, e.edit.start); break;
    case SDL_TEXTEDITING_EXT:
      host->delegate()->OnHostTextEditing(e.editExt.text != nullptr ? e.editExt.text : "",
                                          e.editExt.start);
      break;
    case SDL_KEYDOWN:
      if (int key = translateKey(e.key.keysym.sym); key != 0) {
        host->delegate()->OnHostKeyEvent(KeyEvent{key, translateModifiers(e.key.keysym.mod)});
      }
      break;
    case SDL_WINDOWEVENT: dispatchWindowEvent(host, e.window); break;
    default: break;
  }
}

void SdlPump::Pump() {
  SDL_Event e;
  while (SDL_PollEvent(&e) != 0) {
    if (SdlHost* host = Find(windowOf(e))) dispatch(host, e);
    // Long compositions come in memory SDL hands over to us.
    if (e.type == SDL_TEXTEDITING_EXT) SDL_free(e.editExt.text);
  }
}

}  // namespace

bool HasDesktop() {
  return std::getenv("DISPLAY") != nullptr || std::getenv("WAYLAND_DISPLAY") != nullptr;
}

std::unique_ptr<WindowHost> CreateDesktopHost(HostDelegate* delegate, const UiRect& bounds) {
  static bool initialised = false;
  if (!initialised) {
    // Compositions longer than SDL's 32-byte event (ten CJK characters)
    // arrive whole instead of cut.
    SDL_SetHint(SDL_HINT_IME_SUPPORT_EXTENDED_TEXT, "1");
    // The click that brings the window to the front also presses what is
    // under the pointer, as on any desktop: SDL drops a press that it
    // reads within 10 ms of the focus change, so on a busy machine the
    // first click on the close button, or on Install, did nothing.
    SDL_SetHint(SDL_HINT_MOUSE_FOCUS_CLICKTHROUGH, "1");
    if (SDL_Init(SDL_INIT_VIDEO) != 0) {
      LOG(INFO) << " ui: SDL cannot start: " << SDL_GetError();
      return nullptr;
    }
    if (SDL_strcmp(SDL_GetCurrentVideoDriver(), "x11") == 0) {
      EndProgramWhenDisplayIsLost();
      // Frames are finished by Cairo; X11 shows them from shared memory
      // (MIT-SHM) as they are. Left to itself SDL would put a GPU renderer
      // between them and the window (on a machine without a GPU driver,
      // Mesa's llvmpipe: some 60 MiB and a tenth of a second before the
      // first frame) only to copy the same pixels. Drivers without a window
      // surface of their own (Wayland) still need that renderer.
      SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
    }
    // SDL starts with the input method on; it belongs to text fields only,
    // which switch it on while they have the focus.
    SDL_StopTextInput();
    initialised = true;
  }
  SDL_Window* window = SDL_CreateWindow(
      "", bounds.left, bounds.top, std::max(1, bounds.width()), std::max(1, bounds.height()),
      SDL_WINDOW_BORDERLESS | SDL_WINDOW_HIDDEN | SDL_WINDOW_ALLOW_HIGHDPI);
  if (window == nullptr) {
    LOG(INFO) << " ui: SDL cannot create a window: " << SDL_GetError();
    return nullptr;
  }
  return std::make_unique<SdlHost>(delegate, window, bounds);
}

}  // namespace ui
