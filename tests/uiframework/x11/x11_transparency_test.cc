// What the screen shows of a window whose layout is transparent (the
// launch splash), read back from a private Xvfb: without a compositor the
// window is cut to its opaque pixels, with one its alpha is blended.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>

#include "../test_archive.h"
#include "../test_window.h"
#include "uiframework/host.h"
#include "uiframework/message_loop.h"
// Last: Xlib's macros (None, Bool, Status) clash with the names above.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

// SDL opens a D-Bus connection for input methods and keeps libdbus's
// process-wide memory to the end; the leak checker of the sanitizer build
// would count that against this test. Only this binary talks to SDL.
extern "C" const char* __lsan_default_suppressions() { return "leak:libdbus-1.so\n"; }

namespace ui {
namespace {

using testing_window::RecordingWindow;

constexpr unsigned long kBackdrop = 0x3366cc;

// 200 x 200: a half-transparent red square at the top left, an opaque
// white one in the middle, nothing elsewhere.
const char kCard[] = R"(<?xml version="1.0" encoding="UTF-8"?>
<Window size="200,200" caption="0,0,0,0" bktrans="%s">
  <VerticalLayout>
    <Control float="true" pos="0,0,40,40" bkcolor="#80FF0000" />
    <Control float="true" pos="50,50,150,150" bkcolor="#FFFFFFFF" />
  </VerticalLayout>
</Window>)";

// 200 x 200 of dark blue with two named strips, to change parts of a
// frame.
const char kStrips[] = R"(<?xml version="1.0" encoding="UTF-8"?>
<Window size="200,200" caption="0,0,0,0">
  <VerticalLayout bkcolor="#FF204060">
    <Control name="a" float="true" pos="10,10,60,30" bkcolor="#FF00FF00" />
    <Control name="b" float="true" pos="120,150,190,190" bkcolor="#FF0000FF" />
  </VerticalLayout>
</Window>)";

std::string card(bool transparent) {
  char text[sizeof kCard + 8];
  std::snprintf(text, sizeof text, kCard, transparent ? "true" : "false");
  return text;
}

// A child started with fork/exec, killed and reaped at the end.
class Child {
 public:
  Child() = default;
  explicit Child(pid_t pid) : pid_(pid) {}
  ~Child() { Stop(); }
  Child& operator=(Child&& other) noexcept {
    Stop();
    pid_ = other.pid_;
    other.pid_ = -1;
    return *this;
  }
  void Stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }
  bool Running() const { return pid_ > 0 && waitpid(pid_, nullptr, WNOHANG) == 0; }

 private:
  pid_t pid_ = -1;
};

// Starts a private Xvfb into `server`; its display name, or empty.
std::string StartXvfb(Child* server) {
  int fds[2];
  if (pipe(fds) != 0) return "";
  pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    std::string fd = std::to_string(fds[1]);
    execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "400x300x24", "-nolisten",
           "tcp", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(fds[1]);
  *server = Child(pid);
  std::string number;
  char c = 0;
  while (read(fds[0], &c, 1) == 1 && c != '\n') number += c;
  close(fds[0]);
  return number.empty() ? "" : ":" + number;
}

class X11TransparencyTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (std::system("command -v Xvfb >/dev/null && command -v xcompmgr >/dev/null") != 0) {
      return;
    }
    server_ = new Child();
    display_name_ = StartXvfb(server_);
    if (display_name_.empty()) return;
    setenv("DISPLAY", display_name_.c_str(), 1);
    display_ = XOpenDisplay(display_name_.c_str());
    if (display_ == nullptr) return;

    // Something to see through the transparent parts.
    Window root = DefaultRootWindow(display_);
    Window backdrop = XCreateSimpleWindow(display_, root, 0, 0, 400, 300, 0, 0, kBackdrop);
    XMapWindow(display_, backdrop);
    XSync(display_, False);
    SetHostKind(HostKind::kSdl);
  }

  static void TearDownTestSuite() {
    compositor_.Stop();
    if (display_ != nullptr) XCloseDisplay(display_);
    display_ = nullptr;
    delete server_;
    server_ = nullptr;
  }

  void SetUp() override {
    if (display_ == nullptr) GTEST_SKIP() << "needs Xvfb and xcompmgr";
    archive_ = testing_archive::make(
        {{"trans.xml", card(true)}, {"plain.xml", card(false)}, {"strips.xml", kStrips}});
    ASSERT_NE(archive_, nullptr);
    SetSkinArchiveOverride(archive_);
  }
  void TearDown() override { SetSkinArchiveOverride(nullptr); }

  static void StartCompositor() {
    pid_t pid = fork();
    if (pid == 0) {
      execlp("xcompmgr", "xcompmgr", "-d", display_name_.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    compositor_ = Child(pid);
    Atom selection = XInternAtom(display_, "_NET_WM_CM_S0", False);
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (XGetSelectionOwner(display_, selection) == None &&
           std::chrono::steady_clock::now() < end) {
      usleep(10000);
    }
    ASSERT_NE(XGetSelectionOwner(display_, selection), static_cast<Window>(None));
  }

  // The screen's colour at (x, y), as 0xRRGGBB.
  static unsigned long ScreenAt(int x, int y) {
    XSync(display_, False);
    XImage* image =
        XGetImage(display_, DefaultRootWindow(display_), x, y, 1, 1, AllPlanes, ZPixmap);
    if (image == nullptr) return ~0ul;
    unsigned long pixel = XGetPixel(image, 0, 0) & 0xffffff;
    XDestroyImage(image);
    return pixel;
  }

  // Shows `layout` at (100, 50) and runs the loop until the screen shows
  // the white middle square, or a few seconds have passed.
  std::unique_ptr<RecordingWindow> Show(const std::string& layout) {
    auto window = std::make_unique<RecordingWindow>(layout);
    if (!window->Create(0, L"card", 100, 50, 200, 200)) return nullptr;
    window->ShowWindow(true);
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    MessageLoop::Get()->RunUntil(
        [&] { return ScreenAt(200, 150) == 0xffffff || std::chrono::steady_clock::now() > end; });
    // A compositor paints a little after the window changes.
    auto settle = std::chrono::steady_clock::now() + std::chrono::milliseconds(300);
    MessageLoop::Get()->RunUntil([&] { return std::chrono::steady_clock::now() > settle; });
    return window;
  }

  // Runs the loop until the screen shows `colour` at (x, y) or a few
  // seconds have passed.
  static void WaitFor(int x, int y, unsigned long colour) {
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    MessageLoop::Get()->RunUntil(
        [&] { return ScreenAt(x, y) == colour || std::chrono::steady_clock::now() > end; });
  }

  // How many pixels of the 200 x 200 window at (100, 50) differ on the
  // screen from the window's own frame.
  static int DifferingPixels(RecordingWindow* window) {
    cairo_surface_t* frame = cairo_get_target(window->GetPaintContext());
    cairo_surface_flush(frame);
    XSync(display_, False);
    XImage* image =
        XGetImage(display_, DefaultRootWindow(display_), 100, 50, 200, 200, AllPlanes, ZPixmap);
    if (image == nullptr) return -1;
    const unsigned char* data = cairo_image_surface_get_data(frame);
    const int stride = cairo_image_surface_get_stride(frame);
    int differing = 0;
    for (int y = 0; y < 200; ++y) {
      const auto* row = reinterpret_cast<const uint32_t*>(data + y * stride);
      for (int x = 0; x < 200; ++x) {
        differing += (XGetPixel(image, x, y) & 0xffffff) != (row[x] & 0xffffff);
      }
    }
    XDestroyImage(image);
    return differing;
  }

  static bool Near(unsigned long got, unsigned long want) {
    for (int shift : {16, 8, 0}) {
      int a = static_cast<int>((got >> shift) & 0xff), b = static_cast<int>((want >> shift) & 0xff);
      if (std::abs(a - b) > 3) return false;
    }
    return true;
  }

  static Child* server_;
  static Child compositor_;
  static Display* display_;
  static std::string display_name_;
  std::shared_ptr<SkinArchive> archive_;
};

Child* X11TransparencyTest::server_ = nullptr;
Child X11TransparencyTest::compositor_;
Display* X11TransparencyTest::display_ = nullptr;
std::string X11TransparencyTest::display_name_;

// Frames go to the window from SDL's window surface, sending only the part
// that changed: after any mix of changes, hiding and showing again, the
// screen holds exactly the last frame. And no OpenGL library is loaded to
// get it there (a GPU renderer weighed some 60 MiB for copying pixels).
TEST_F(X11TransparencyTest, ScreenFollowsEveryFrameWithoutOpenGl) {
  auto window = std::make_unique<RecordingWindow>("strips.xml");
  ASSERT_TRUE(window->Create(0, L"strips", 100, 50, 200, 200));
  window->ShowWindow(true);
  WaitFor(135, 70, 0x00ff00);
  EXPECT_EQ(DifferingPixels(window.get()), 0);

  CPaintManagerUI& pm = window->GetPaintManager();
  CControlUI* a = pm.FindControl(L"a");
  CControlUI* b = pm.FindControl(L"b");
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  a->SetBkColor(0xFFFF0000);
  WaitFor(135, 70, 0xff0000);
  EXPECT_EQ(ScreenAt(255, 220), 0x0000ffu) << "an unchanged part stays";
  EXPECT_EQ(DifferingPixels(window.get()), 0);

  // Two changes far apart in one frame, then one back to an earlier colour.
  a->SetBkColor(0xFF00FF00);
  b->SetBkColor(0xFFFFFF00);
  WaitFor(255, 220, 0xffff00);
  EXPECT_EQ(DifferingPixels(window.get()), 0);
  a->SetBkColor(0xFFFF0000);
  WaitFor(135, 70, 0xff0000);
  EXPECT_EQ(DifferingPixels(window.get()), 0);

  // Unmapped, the window loses its pixels; shown again it gets them all.
  window->ShowWindow(false);
  MessageLoop::Get()->RunPending();
  window->ShowWindow(true);
  WaitFor(135, 70, 0xff0000);
  auto settle = std::chrono::steady_clock::now() + std::chrono::milliseconds(200);
  MessageLoop::Get()->RunUntil([&] { return std::chrono::steady_clock::now() > settle; });
  EXPECT_EQ(DifferingPixels(window.get()), 0);

  std::ifstream maps("/proc/self/maps");
  std::string line;
  while (std::getline(maps, line)) {
    for (const char* gl : {"libGL.so", "libGLX", "libEGL", "_dri.so", "libLLVM"}) {
      EXPECT_EQ(line.find(gl), std::string::npos) << line;
    }
  }
  window->Close();
  MessageLoop::Get()->RunPending();
}

// One test walks both desktops in order: the choice of visual is made when
// a window is created, and the compositor, once started, stays.
TEST_F(X11TransparencyTest, TransparentPartsShowWhatLiesBehind) {
  {
    SCOPED_TRACE("no compositor: an opaque layout keeps its whole rectangle");
    auto plain = Show("plain.xml");
    ASSERT_NE(plain, nullptr);
    EXPECT_EQ(ScreenAt(200, 150), 0xffffffu);
    EXPECT_NE(ScreenAt(280, 230), kBackdrop) << "a window without bktrans was cut";
    plain->Close();
    MessageLoop::Get()->RunPending();
  }
  {
    SCOPED_TRACE("no compositor: the window is cut to its opaque pixels");
    auto window = Show("trans.xml");
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(ScreenAt(200, 150), 0xffffffu) << "the opaque middle";
    EXPECT_EQ(ScreenAt(280, 230), kBackdrop) << "a transparent part shows the desktop";
    EXPECT_EQ(ScreenAt(120, 70), 0xff0000u) << "half alpha is inside, at its own colour";
    EXPECT_EQ(ScreenAt(90, 40), kBackdrop) << "outside the window";
    window->Close();
    MessageLoop::Get()->RunPending();
  }
  StartCompositor();
  {
    SCOPED_TRACE("with a compositor: alpha is blended over the desktop");
    auto window = Show("trans.xml");
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(ScreenAt(200, 150), 0xffffffu);
    EXPECT_TRUE(Near(ScreenAt(280, 230), kBackdrop)) << std::hex << ScreenAt(280, 230);
    // 50 % red over #3366CC.
    unsigned long blended = 0x99 << 16 | 0x33 << 8 | 0x66;
    EXPECT_TRUE(Near(ScreenAt(120, 70), blended)) << std::hex << ScreenAt(120, 70);
    window->Close();
    MessageLoop::Get()->RunPending();
  }
}

// Xlib's own answer to a lost display is exit(), which tears the program's
// statics down under its running threads; the setup ends at once instead,
// like a setup whose session ended. Run in a fresh process of its own.
TEST(X11DisplayLossTest, ALostDisplayEndsTheProgramAtOnce) {
  if (std::system("command -v Xvfb >/dev/null") != 0) GTEST_SKIP() << "needs Xvfb";
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        Child server;
        std::string name = StartXvfb(&server);
        if (name.empty()) _exit(2);
        setenv("DISPLAY", name.c_str(), 1);
        SetHostKind(HostKind::kSdl);
        SetSkinArchiveOverride(testing_archive::make({{"plain.xml", card(false)}}));
        RecordingWindow window("plain.xml");
        if (!window.Create(0, L"card", 0, 0, 200, 200)) _exit(2);
        window.ShowWindow(true);
        MessageLoop::Get()->RunPending();
        server.Stop();
        // The loop's next look at the display finds it gone.
        auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        MessageLoop::Get()->RunUntil([&] { return std::chrono::steady_clock::now() > end; });
        _exit(3);  // still running without a display
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace ui
