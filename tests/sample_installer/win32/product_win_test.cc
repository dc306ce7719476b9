// The Windows product (Orlastra.exe) as a setup starts it. The same tests
// run twice: without a display (the product runs headless, as in every
// other Wine run here) and in an Xvfb of their own (the "xvfb/" tests),
// where it shows its window.

#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>

#include "common/text.h"
#include "support/subprocess.h"
#include "support/temp_dir.h"

namespace {

using testing_support::readFile;
using testing_support::Subprocess;
using testing_support::TempDir;
using testing_support::waitFor;
using testing_support::writeFile;

// Whether this process can show a window: a child of ours can then too.
bool desktopAvailable() {
  HWND probe = CreateWindowExW(0, L"STATIC", L"probe", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                               nullptr, nullptr);
  if (probe == nullptr) return false;
  DestroyWindow(probe);
  return true;
}

struct Found {
  DWORD pid;
  HWND window;
};

// The product's top-level window in process `pid`, or null.
HWND productWindow(int pid) {
  Found found{static_cast<DWORD>(pid), nullptr};
  EnumWindows(
      [](HWND window, LPARAM param) -> BOOL {
        auto* f = reinterpret_cast<Found*>(param);
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        wchar_t name[64] = {};
        GetClassNameW(window, name, 64);
        if (owner != f->pid || std::wstring(name) != L"OrlastraProductWindow") return TRUE;
        f->window = window;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&found));
  return found.window;
}

// The shown top-level windows, top of the stack first: what a test that
// reads the product's pixels found on the screen when it could not.
std::string shownWindows() {
  std::string out;
  EnumWindows(
      [](HWND window, LPARAM param) -> BOOL {
        if (!IsWindowVisible(window)) return TRUE;
        DWORD pid = 0;
        GetWindowThreadProcessId(window, &pid);
        wchar_t name[64] = {};
        wchar_t title[64] = {};
        GetClassNameW(window, name, 64);
        GetWindowTextW(window, title, 64);
        RECT r{};
        GetWindowRect(window, &r);
        *reinterpret_cast<std::string*>(param) +=
            "\n  pid " + std::to_string(pid) + " " + common::wideToUtf8(name) + " \"" +
            common::wideToUtf8(title) + "\" (" + std::to_string(r.left) + "," +
            std::to_string(r.top) + ")-(" + std::to_string(r.right) + "," +
            std::to_string(r.bottom) + ")" + (IsIconic(window) ? " minimized" : "");
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&out));
  return "screen " + std::to_string(GetSystemMetrics(SM_CXSCREEN)) + "x" +
         std::to_string(GetSystemMetrics(SM_CYSCREEN)) + ", shown windows:" + out;
}

class OrlastraProductWinTest : public ::testing::Test {
 protected:
  std::map<std::string, std::string> env() const {
    return {{"ORLASTRA_STARTED_FILE", started_}, {"ORLASTRA_STOP_FILE", stop_}};
  }

  TempDir tmp_;
  const std::string started_ = tmp_.file("started");
  const std::string stop_ = tmp_.file("stop");
  const bool desktop_ = desktopAvailable();
};

// Catches a report that is missing, partial, names another process or
// loses characters of an argument (main's argv is in the ANSI code page),
// a product that ends by itself, and one that ignores the stop file (a
// setup or a test would wait on it).
TEST_F(OrlastraProductWinTest, ReportsItsStartAndEndsOnTheStopFile) {
  Subprocess product({ORLASTRA_PRODUCT_PATH, "--from-setup", "two words", "\xc3\xbcn\xc3\xaf"},
                     env());
  ASSERT_TRUE(waitFor([&] { return std::filesystem::exists(started_); }, std::chrono::seconds(20)));
  EXPECT_EQ(readFile(started_), "pid=" + std::to_string(product.pid()) +
                                    "\nmode=" + (desktop_ ? "window" : "headless") +
                                    "\narg=--from-setup\narg=two words\narg=\xc3\xbcn\xc3\xaf\n");
  EXPECT_EQ(product.wait(std::chrono::milliseconds(300)), -1) << "ended by itself";
  ASSERT_TRUE(writeFile(stop_, ""));
  EXPECT_EQ(product.wait(std::chrono::seconds(10)), 0);
}

// Catches a window that is not shown, not painted (the text), or that
// does not end the product with exit code 0 when asked to close, as a
// person's click on its close button or a program's WM_CLOSE asks.
TEST_F(OrlastraProductWinTest, WindowSaysItRunsAndClosesOnRequest) {
  if (!desktop_) GTEST_SKIP() << "no display in this run; the xvfb/ run shows the window";
  Subprocess product({ORLASTRA_PRODUCT_PATH}, env());
  HWND window = nullptr;
  ASSERT_TRUE(waitFor([&] { return (window = productWindow(product.pid())) != nullptr; },
                      std::chrono::seconds(20)));
  wchar_t title[64] = {};
  GetWindowTextW(window, title, 64);
  EXPECT_EQ(std::wstring(title), L"Orlastra");
  RECT client{};
  GetClientRect(window, &client);
  EXPECT_EQ(client.right - client.left, 420);
  EXPECT_EQ(client.bottom - client.top, 150);

  // The background is blue; the name is drawn in white across its band.
  // The window is found as soon as it exists, which may be before it is
  // shown; a DC takes the window's visible part when it is made and is not
  // told when another process shows the window, so each look takes a new one.
  int white = 0;
  COLORREF corner = CLR_INVALID;
  waitFor(
      [&] {
        HDC dc = GetDC(window);
        corner = GetPixel(dc, 4, 4);
        white = 0;
        for (int x = 0; x < 420; ++x) white += GetPixel(dc, x, 50) == RGB(255, 255, 255);
        ReleaseDC(window, dc);
        return corner != CLR_INVALID && GetBValue(corner) > GetRValue(corner) + 60 && white > 0;
      },
      std::chrono::seconds(10));
  EXPECT_GT(GetBValue(corner), GetRValue(corner) + 60)
      << std::hex << corner << std::dec
      << (corner == CLR_INVALID ? " (CLR_INVALID: no part of it is visible)" : "") << "; "
      << shownWindows();
  EXPECT_GT(white, 0);

  PostMessageW(window, WM_CLOSE, 0, 0);
  EXPECT_EQ(product.wait(std::chrono::seconds(10)), 0);
}

}  // namespace
