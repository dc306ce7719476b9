// orlastra-product on Windows: the demo product that the sample installer
// installs as Orlastra.exe and a web setup then starts. Plain Win32 and
// GDI, so the program needs nothing beside it.
//
// It shows a small window saying "Orlastra is running" with its version and
// process id. Without a desktop to show it on (a service session, or Wine
// without an X display) it runs headless. It ends, with exit code 0, when
// its window is closed (WM_CLOSE: the close button, or a program asking it
// to), when the session ends, or once the file named by ORLASTRA_STOP_FILE
// exists (polled every 100 ms). When ORLASTRA_STARTED_FILE is set it
// writes there, once it runs (UTF-8, whole, through a rename):
//   pid=<pid>
//   mode=window|headless
//   arg=<argument>        one line per argument

#include <windows.h>

#include <shellapi.h>

#include <string>

#ifndef ORLASTRA_VERSION
#define ORLASTRA_VERSION "1.0.0.0"
#endif

namespace {

constexpr wchar_t kWindowClass[] = L"OrlastraProductWindow";
constexpr int kWidth = 420;
constexpr int kHeight = 150;
constexpr UINT kPollMilliseconds = 100;
constexpr UINT_PTR kStopTimer = 1;

std::wstring env(const wchar_t* name) {
  wchar_t value[32768];
  const DWORD n = GetEnvironmentVariableW(name, value, 32768);
  return n == 0 || n >= 32768 ? std::wstring() : std::wstring(value, n);
}

std::string utf8(const std::wstring& text) {
  if (text.empty()) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr,
                                    0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n,
                      nullptr, nullptr);
  return out;
}

bool stopFileExists() {
  const std::wstring path = env(L"ORLASTRA_STOP_FILE");
  return !path.empty() && GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// main's argv is in the ANSI code page; the report keeps every character.
void reportStarted(const char* mode) {
  const std::wstring path = env(L"ORLASTRA_STARTED_FILE");
  if (path.empty()) return;
  std::string text = "pid=" + std::to_string(GetCurrentProcessId()) + "\nmode=" + mode + "\n";
  int argc = 0;
  if (wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc)) {
    for (int i = 1; i < argc; ++i) text += "arg=" + utf8(argv[i]) + "\n";
    LocalFree(argv);
  }
  const std::wstring tmp = path + L".tmp";
  HANDLE file = CreateFileW(tmp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  const bool ok =
      WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
      written == text.size();
  CloseHandle(file);
  if (!ok || !MoveFileExW(tmp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    DeleteFileW(tmp.c_str());
  }
}

void drawLine(HDC dc, const std::wstring& text, int height, int weight, COLORREF color, int top,
              int bottom) {
  HFONT font = CreateFontW(-height, 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                           OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY,
                           DEFAULT_PITCH | FF_SWISS, L"Segoe UI");
  HGDIOBJ old = SelectObject(dc, font);
  SetTextColor(dc, color);
  RECT band{0, top, kWidth, bottom};
  DrawTextW(dc, text.c_str(), -1, &band, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
  SelectObject(dc, old);
  DeleteObject(font);
}

// The same picture as the Linux window: a blue gradient, the name and the
// version. Row by row, so no library beyond GDI is needed.
void paint(HWND window) {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(window, &ps);
  for (int y = 0; y < kHeight; ++y) {
    const double t = static_cast<double>(y) / (kHeight - 1);
    const auto mix = [t](double from, double to) {
      return static_cast<BYTE>(255 * (from + (to - from) * t));
    };
    HBRUSH brush = CreateSolidBrush(RGB(mix(0.13, 0.05), mix(0.29, 0.12), mix(0.53, 0.25)));
    RECT row{0, y, kWidth, y + 1};
    FillRect(dc, &row, brush);
    DeleteObject(brush);
  }
  SetBkMode(dc, TRANSPARENT);
  drawLine(dc, L"Orlastra is running", 26, FW_BOLD, RGB(255, 255, 255), 28, 72);
  const std::wstring version = L"version " + std::wstring(L"" ORLASTRA_VERSION) +
                               L"  \u00b7  pid " + std::to_wstring(GetCurrentProcessId());
  drawLine(dc, version, 15, FW_NORMAL, RGB(191, 212, 242), 80, 110);
  EndPaint(window, &ps);
}

LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT: paint(window); return 0;
    case WM_TIMER:
      if (wParam == kStopTimer && stopFileExists()) DestroyWindow(window);
      return 0;
    case WM_ENDSESSION:
      if (wParam) DestroyWindow(window);
      return 0;
    case WM_DESTROY: PostQuitMessage(0); return 0;
    default: return DefWindowProcW(window, message, wParam, lParam);
  }
}

// Returns false without a window when none can be made.
bool runWindow() {
  const HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = windowProc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.lpszClassName = kWindowClass;
  if (!RegisterClassExW(&wc)) return false;
  const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
  RECT frame{0, 0, kWidth, kHeight};
  AdjustWindowRectEx(&frame, style, FALSE, 0);
  const int width = frame.right - frame.left;
  const int height = frame.bottom - frame.top;
  HWND window = CreateWindowExW(0, kWindowClass, L"Orlastra", style,
                                (GetSystemMetrics(SM_CXSCREEN) - width) / 2,
                                (GetSystemMetrics(SM_CYSCREEN) - height) / 2, width, height,
                                nullptr, nullptr, instance, nullptr);
  if (window == nullptr) return false;
  ShowWindow(window, SW_SHOWNORMAL);
  UpdateWindow(window);
  SetTimer(window, kStopTimer, kPollMilliseconds, nullptr);
  reportStarted("window");
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return true;
}

int runHeadless() {
  reportStarted("headless");
  while (!stopFileExists()) Sleep(kPollMilliseconds);
  return 0;
}

}  // namespace

int main() {
  if (runWindow()) return 0;
  return runHeadless();
}
