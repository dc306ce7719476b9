#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "uiframework/host.h"

namespace ui {

namespace {

HostKind g_kind = HostKind::kAuto;
double g_scale = 0;

class MemoryClipboard : public Clipboard {
 public:
  std::wstring GetText() override { return text_; }
  void SetText(const std::wstring& text) override { text_ = text; }

 private:
  std::wstring text_;
};

// Keeps the window's state in memory; nothing is shown anywhere.
class HeadlessHost : public WindowHost {
 public:
  HeadlessHost(const UiRect& bounds, double scale) : bounds_(bounds), scale_(scale) {}
  void SetBounds(const UiRect& bounds) override { bounds_ = bounds; }
  UiRect GetBounds() const override { return bounds_; }
  void Show(bool show) override { shown_ = show; }
  bool IsShown() const override { return shown_; }
  void Minimize() override { minimized_ = true; }
  void Restore() override { minimized_ = false; }
  bool IsMinimized() const override { return minimized_; }
  void SetTitle(const std::string& utf8) override { title_ = utf8; }
  void SetOpacity(double opacity) override { opacity_ = opacity; }
  void SetIcon(cairo_surface_t* icon) override { (void)icon; }
  void Focus() override {}
  void Present(cairo_surface_t* frame) override { (void)frame; }
  UiSize ScreenSize() const override { return UiSize{0, 0}; }
  bool IsHeadless() const override { return true; }
  double GetScale() const override { return scale_; }
  void SetTextInput(bool active, const UiRect& caret) override {
    (void)caret;
    text_input_ = active;
  }
  bool IsTextInputActive() const override { return text_input_; }

 private:
  UiRect bounds_;
  double scale_;
  bool text_input_ = false;
  bool shown_ = false;
  bool minimized_ = false;
  std::string title_;
  double opacity_ = 1;
};

}  // namespace

Clipboard* GetMemoryClipboard() {
  static Clipboard* clipboard = new MemoryClipboard();
  return clipboard;
}

void SetHostKind(HostKind kind) { g_kind = kind; }

void SetUiScale(double scale) { g_scale = scale; }

double GetRequestedUiScale() {
  double scale = g_scale;
  if (scale <= 0) {
    const char* env = std::getenv("WEBSETUP_UI_SCALE");
    scale = env != nullptr ? std::atof(env) : 0;
  }
  // A typo in the variable (0, "abc") must not make the window vanish.
  if (!(scale > 0)) return 0;
  return std::clamp(scale, kMinUiScale, kMaxUiScale);
}

HostKind GetHostKind() {
  if (g_kind != HostKind::kAuto) return g_kind;
  const char* env = std::getenv("WEBSETUP_UI_HOST");
  if (env != nullptr && std::strcmp(env, "headless") == 0) return HostKind::kHeadless;
  if (env != nullptr && std::strcmp(env, "sdl") == 0) return HostKind::kSdl;
  return HostKind::kAuto;
}

std::unique_ptr<WindowHost> CreateHeadlessHost(const UiRect& bounds) {
  double scale = GetRequestedUiScale();
  return std::make_unique<HeadlessHost>(bounds, scale > 0 ? scale : 1.0);
}

std::unique_ptr<WindowHost> CreateHost(HostDelegate* delegate, const UiRect& bounds,
                                       EnumUiResult* result) {
  *result = EnumUiResult::kOk;
  HostKind kind = GetHostKind();
  if (kind == HostKind::kHeadless) return CreateHeadlessHost(bounds);
  if (kind == HostKind::kAuto && !HasDesktop()) return CreateHeadlessHost(bounds);
  std::unique_ptr<WindowHost> host = CreateDesktopHost(delegate, bounds);
  if (host != nullptr) return host;
  if (kind == HostKind::kSdl) {
    *result = EnumUiResult::kNoHost;
    return nullptr;
  }
  return CreateHeadlessHost(bounds);
}

}  // namespace ui
