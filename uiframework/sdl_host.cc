#include <SDL2/SDL.h>

#include <map>

#include "common/log.h"
#include "uiframework/host.h"
#include "uiframework/message_loop.h"

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

class SdlHost : public WindowHost {
 public:
  SdlHost(HostDelegate* delegate, SDL_Window* window) : delegate_(delegate), window_(window) {
    SDL_SetWindowHitTest(window_, hitTest, this);
    SdlPump::Get()->Add(SDL_GetWindowID(window_), this);
  }
  ~SdlHost() override {
    SdlPump::Get()->Remove(SDL_GetWindowID(window_));
    SDL_DestroyWindow(window_);
    if (icon_ != nullptr) cairo_surface_destroy(icon_);
  }
  HostDelegate* delegate() const { return delegate_; }

  void SetBounds(const UiRect& b) override {
    placed_ = b;
    SDL_SetWindowPosition(window_, b.left, b.top);
    SDL_SetWindowSize(window_, b.width(), b.height());
  }
  UiRect GetBounds() const override {
    int x = 0, y = 0, w = 0, h = 0;
    SDL_GetWindowPosition(window_, &x, &y);
    SDL_GetWindowSize(window_, &w, &h);
    return UiRect{x, y, x + w, y + h};
  }
  void Show(bool show) override {
    if (show) {
      // X drops moves of a window that was never mapped when no window
      // manager runs (Xvfb); a window created in place lands where asked.
      if (!mapped_once_ && !placed_.empty()) Recreate();
      mapped_once_ = true;
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
    SDL_Surface* src = wrap(frame);
    SDL_Surface* dst = SDL_GetWindowSurface(window_);
    if (src != nullptr && dst != nullptr) {
      // A plain X window has no per-pixel alpha: transparent parts of a
      // frame (the splash's corners) show over white instead of black.
      SDL_FillRect(dst, nullptr, SDL_MapRGB(dst->format, 255, 255, 255));
      SDL_SetSurfaceBlendMode(src, SDL_BLENDMODE_BLEND);
      SDL_BlitSurface(src, nullptr, dst, nullptr);
      SDL_UpdateWindowSurface(window_);
    }
    if (src != nullptr) SDL_FreeSurface(src);
  }
  void Recreate() {
    SDL_Window* fresh = SDL_CreateWindow(SDL_GetWindowTitle(window_), placed_.left, placed_.top,
                                         std::max(1, placed_.width()), std::max(1, placed_.height()),
                                         SDL_GetWindowFlags(window_) & ~SDL_WINDOW_SHOWN);
    if (fresh == nullptr) return;
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
  }
  UiSize ScreenSize() const override {
    SDL_Rect r;
    int display = SDL_GetWindowDisplayIndex(window_);
    if (SDL_GetDisplayBounds(display < 0 ? 0 : display, &r) != 0) return UiSize{0, 0};
    return UiSize{r.w, r.h};
  }
  bool IsHeadless() const override { return false; }

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

  HostDelegate* delegate_;
  SDL_Window* window_;
  UiRect placed_;
  bool mapped_once_ = false;
  cairo_surface_t* icon_ = nullptr;
  float opacity_ = 1;
};

SDL_HitTestResult hitTest(SDL_Window* window, const SDL_Point* point, void* data) {
  (void)window;
  auto* host = static_cast<SdlHost*>(data);
  return host->delegate()->OnHostHitCaption(point->x, point->y) ? SDL_HITTEST_DRAGGABLE
                                                                 : SDL_HITTEST_NORMAL;
}

void SdlPump::Pump() {
  SDL_Event e;
  while (SDL_PollEvent(&e) != 0) {
    SdlHost* host = nullptr;
    switch (e.type) {
      case SDL_MOUSEMOTION:
        if ((host = Find(e.motion.windowID)) != nullptr) {
          host->delegate()->OnHostMouse(MouseEvent::kMove, e.motion.x, e.motion.y, 0);
        }
        break;
      case SDL_MOUSEBUTTONDOWN:
      case SDL_MOUSEBUTTONUP:
        if (e.button.button == SDL_BUTTON_LEFT && (host = Find(e.button.windowID)) != nullptr) {
          host->delegate()->OnHostMouse(
              e.type == SDL_MOUSEBUTTONDOWN ? MouseEvent::kDown : MouseEvent::kUp, e.button.x,
              e.button.y, 0);
        }
        break;
      case SDL_MOUSEWHEEL:
        if ((host = Find(e.wheel.windowID)) != nullptr) {
          int x = 0, y = 0;
          SDL_GetMouseState(&x, &y);
          host->delegate()->OnHostMouse(MouseEvent::kWheel, x, y, e.wheel.y);
        }
        break;
      case SDL_TEXTINPUT:
        if ((host = Find(e.text.windowID)) != nullptr) host->delegate()->OnHostText(e.text.text);
        break;
      case SDL_KEYDOWN:
        if ((host = Find(e.key.windowID)) != nullptr) {
          SDL_Keycode k = e.key.keysym.sym;
          if (k == SDLK_BACKSPACE || k == SDLK_RETURN || k == SDLK_ESCAPE) {
            host->delegate()->OnHostKey(static_cast<int>(k));
          }
        }
        break;
      case SDL_WINDOWEVENT:
        if ((host = Find(e.window.windowID)) == nullptr) break;
        if (e.window.event == SDL_WINDOWEVENT_CLOSE) host->delegate()->OnHostCloseRequest();
        if (e.window.event == SDL_WINDOWEVENT_LEAVE) {
          host->delegate()->OnHostMouse(MouseEvent::kLeave, -1, -1, 0);
        }
        if (e.window.event == SDL_WINDOWEVENT_EXPOSED ||
            e.window.event == SDL_WINDOWEVENT_SIZE_CHANGED ||
            e.window.event == SDL_WINDOWEVENT_RESTORED) {
          host->delegate()->OnHostExposed();
        }
        break;
      default:
        break;
    }
  }
}

}  // namespace

std::unique_ptr<WindowHost> CreateSdlHost(HostDelegate* delegate, const UiRect& bounds) {
  static bool initialised = false;
  if (!initialised) {
    if (SDL_Init(SDL_INIT_VIDEO) != 0) {
      LOG(INFO) << " ui: SDL cannot start: " << SDL_GetError();
      return nullptr;
    }
    SDL_StartTextInput();
    initialised = true;
  }
  SDL_Window* window = SDL_CreateWindow("", bounds.left, bounds.top, std::max(1, bounds.width()),
                                        std::max(1, bounds.height()),
                                        SDL_WINDOW_BORDERLESS | SDL_WINDOW_HIDDEN);
  if (window == nullptr) {
    LOG(INFO) << " ui: SDL cannot create a window: " << SDL_GetError();
    return nullptr;
  }
  return std::make_unique<SdlHost>(delegate, window);
}

}  // namespace ui
