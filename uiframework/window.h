#ifndef WEBSETUP_UIFRAMEWORK_WINDOW_H_
#define WEBSETUP_UIFRAMEWORK_WINDOW_H_

// CWindowWnd: a top-level window known to the message loop by a handle,
// drawn by a host (SDL or headless). WindowImplBase builds its content from
// a layout of the skin archive and dispatches notifications by type.
// Windows belong to the UI thread; other threads use PostUiMessage on the
// handle (MessageLoop::PostUiMessage) and never call these objects.

#include <cairo.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "uiframework/host.h"
#include "uiframework/message_loop.h"
#include "uiframework/paint_manager.h"
#include "zip/zip_archive.h"

namespace ui {

class CWindowWnd : public MessageTarget, public HostDelegate {
 public:
  CWindowWnd();
  ~CWindowWnd() override;
  CWindowWnd(const CWindowWnd&) = delete;
  CWindowWnd& operator=(const CWindowWnd&) = delete;

  WindowHandle GetHWND() const { return handle_; }
  virtual std::string GetWindowClassName() const = 0;

  // Creates the window (hidden) with `owner` (0 for none) at the given
  // place; the content may then set its own size. Returns false when the
  // window could not be created.
  bool Create(WindowHandle owner, const std::wstring& title, int x, int y, int cx, int cy);
  void ShowWindow(bool show = true, bool take_focus = true);
  bool IsWindowVisible() const;
  // Runs a nested loop while the window lives, the owner disabled; returns
  // the result of the close request that ended it (-1 when a quit did).
  int ShowModal();
  // Posts a close request carrying `result`.
  void Close(int result = 1);
  void CenterWindow();
  void MoveWindow(const UiRect& bounds);
  UiRect GetWindowRect() const;
  void ResizeClient(int cx, int cy);
  void Minimize();
  void Restore();
  bool IsMinimized() const;
  void EnableWindow(bool enable) { enabled_ = enable; }
  bool IsWindowEnabled() const { return enabled_; }
  void SetOpacity(double opacity);
  // Sets the window icon from PNG resource ("ICON", `id`). Returns false
  // when there is no such resource.
  bool SetIcon(int id);
  WindowHandle GetOwner() const { return owner_; }

  // Calls HandleMessage now (UI thread); PostUiMessage queues it.
  intptr_t SendUiMessage(uint32_t message, uintptr_t wparam = 0, intptr_t lparam = 0);
  bool PostUiMessage(uint32_t message, uintptr_t wparam = 0, intptr_t lparam = 0);
  void SetTimer(uint32_t id, uint32_t period_ms);
  bool KillTimer(uint32_t id);

  // The window's paint manager (layout, controls, image cache).
  CPaintManagerUI& GetPaintManager() { return paint_manager_; }
  // The window's current pixels; drawing into it and calling PresentNow()
  // paints directly, as a device context does. Never null after Create.
  cairo_t* GetPaintContext();
  void PresentNow();
  // Renders the whole window now and writes it as PNG to `path`, at the
  // window's scale (a 650 x 560 window at scale 2 gives 1300 x 1120).
  bool SaveScreenshot(const std::string& path);
  // Renders the whole window now at its scale; the caller owns the surface.
  cairo_surface_t* RenderSnapshot();
  // Frame pixels per layout pixel (the host's; 1 before Create). Layout
  // positions, sizes and mouse points stay in layout pixels.
  double GetScale() const;
  WindowHost* GetHost() const { return host_.get(); }

  // Repaints every window whose content changed (the loop's idle handler).
  static void PaintDirtyWindows();

 protected:
  // The message handler. The default destroys the window on kWmClose and
  // handles minimise and restore.
  virtual intptr_t HandleMessage(uint32_t message, uintptr_t wparam, intptr_t lparam);
  // Called once the window was created and before it is shown.
  virtual void OnCreate() {}
  // Last call of the window; the object may delete itself here.
  virtual void OnFinalMessage(WindowHandle handle) { (void)handle; }
  // Destroys the window now: hides it, ends its modal loop with `result`.
  void DestroyWindow(int result);

  CPaintManagerUI paint_manager_;

 private:
  intptr_t DispatchMessage(uint32_t message, uintptr_t wparam, intptr_t lparam) override;
  void OnHostMouse(MouseEvent event, int x, int y, int wheel) override;
  void OnHostKey(int key) override;
  void OnHostKeyEvent(const KeyEvent& event) override;
  void OnHostText(const std::string& utf8) override;
  void OnHostTextEditing(const std::string& utf8, int cursor) override;
  void OnHostCloseRequest() override;
  bool OnHostHitCaption(int x, int y) override;
  void OnHostExposed() override;
  void Repaint();
  void EnsureSurface();
  // The client size in frame pixels.
  UiSize FrameSize() const;
  // A surface of the client size at the window's scale, with a context
  // that draws in layout pixels.
  cairo_surface_t* CreateScaledSurface(cairo_t** cr) const;

  class Services;

  struct ModalState {
    bool done = false;
    int result = -1;
  };

  WindowHandle handle_ = 0;
  WindowHandle owner_ = 0;
  std::unique_ptr<WindowHost> host_;
  cairo_surface_t* surface_ = nullptr;
  cairo_t* cr_ = nullptr;
  std::atomic<bool> dirty_{true};  // also set by a progress bar moved from a worker
  bool enabled_ = true;
  std::shared_ptr<ModalState> modal_ = std::make_shared<ModalState>();
  std::unique_ptr<Services> services_;
};

// A window built from a layout of the skin archive.
class WindowImplBase : public CWindowWnd, public INotifyUI {
 public:
  WindowImplBase();
  ~WindowImplBase() override;

  virtual std::string GetSkinFolder() const { return "skin/"; }
  virtual std::string GetSkinFile() const = 0;
  virtual std::string GetResourceType() const { return websetup_zip::kSkinResourceType; }
  virtual int GetResourceID() const { return websetup_zip::kSkinResourceId; }

  // Every notification of the window's controls; the default dispatches by
  // type: "click" → OnClick, "itemselect" → OnItemSelect, "selectchanged"
  // → OnSelectChanged, "headerclick" → OnHeaderClick, "link" → OnLink.
  void Notify(TNotifyUI& msg) override;

  template <typename T>
  T* FindControl(const std::wstring& name) {
    return paint_manager_.FindControl<T>(name);
  }
  CControlUI* FindControl(const std::wstring& name) { return paint_manager_.FindControl(name); }
  // Why the layout failed to load (empty when it loaded).
  const std::string& GetLoadError() const { return load_error_; }

 protected:
  virtual void InitWindow() {}
  virtual void OnClick(TNotifyUI& msg) { (void)msg; }
  virtual void OnItemSelect(TNotifyUI& msg) { (void)msg; }
  virtual void OnSelectChanged(TNotifyUI& msg) { (void)msg; }
  virtual void OnHeaderClick(TNotifyUI& msg) { (void)msg; }
  virtual void OnLink(TNotifyUI& msg) { (void)msg; }
  // kWmClose. Leave `handled` false to let the window be destroyed.
  virtual intptr_t OnClose(uint32_t message, uintptr_t wparam, intptr_t lparam, bool& handled);
  // Messages at or above kWmUser.
  virtual intptr_t HandleCustomMessage(uint32_t message, uintptr_t wparam, intptr_t lparam,
                                       bool& handled);
  intptr_t HandleMessage(uint32_t message, uintptr_t wparam, intptr_t lparam) override;
  void OnCreate() override;

 private:
  std::string load_error_;
};

// Runs `done` once on the window thread right after the process's first
// frame is on the screen, or at once when it already is: work the first
// frame does not need waits there instead of competing with it.
void AfterFirstFrame(std::function<void()> done);

// The skin archive of resource (`type`, `id`), opened once per process and
// shared. Null when there is none. Thread-safe.
std::shared_ptr<SkinArchive> GetSkinArchive(const std::string& type, int id);
// Makes every later GetSkinArchive call return `archive` (developer tools
// viewing a skin from disk). Null restores the resource.
void SetSkinArchiveOverride(std::shared_ptr<SkinArchive> archive);

}  // namespace ui

#endif  // WEBSETUP_UIFRAMEWORK_WINDOW_H_
