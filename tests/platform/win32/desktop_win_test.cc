// The Windows desktop services, JPEG decoding and the signature check,
// against the real system (or Wine).

#include <objbase.h>
#include <windows.h>
#include <wrl/client.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/file_signature.h"
#include "platform/file_uri.h"
#include "platform/folder_picker.h"

namespace {

using Microsoft::WRL::ComPtr;
using namespace std::chrono_literals;

std::string narrow(const std::wstring& wide) {
  const int n = WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), static_cast<int>(wide.size()),
                                    nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), static_cast<int>(wide.size()), out.data(), n,
                      nullptr, nullptr);
  return out;
}

// A folder of its own under the temporary folder, removed with its files.
class ScratchDir {
 public:
  ScratchDir() {
    wchar_t temp[MAX_PATH + 1];
    GetTempPathW(MAX_PATH + 1, temp);
    path_ = std::wstring(temp) + L"desktop_win_test_" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(path_.c_str(), nullptr);
    // The dialogs answer with long names; the temporary folder may be
    // given in its short form.
    wchar_t longPath[32768];
    const DWORD n = GetLongPathNameW(path_.c_str(), longPath, 32768);
    if (n > 0 && n < 32768) path_.assign(longPath, n);
  }
  ~ScratchDir() {
    for (const std::wstring& f : made_) {
      DeleteFileW(f.c_str());
      RemoveDirectoryW(f.c_str());
    }
    RemoveDirectoryW(path_.c_str());
  }
  std::wstring file(const std::wstring& name, const std::string& content) {
    const std::wstring p = path_ + L"\\" + name;
    HANDLE h = CreateFileW(p.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(h, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
    CloseHandle(h);
    made_.insert(made_.begin(), p);
    return p;
  }
  std::wstring dir(const std::wstring& name) {
    const std::wstring p = path_ + L"\\" + name;
    CreateDirectoryW(p.c_str(), nullptr);
    made_.push_back(p);
    return p;
  }
  const std::wstring& path() const { return path_; }

 private:
  std::wstring path_;
  std::vector<std::wstring> made_;
};

// Catches paths that do not survive the trip to a URI and back: drive
// colons, UNC servers, the long-path prefix, and bytes that must be
// escaped as UTF-8.
TEST(FileUriWinTest, WindowsPathsRoundTrip) {
  const std::pair<const char*, const char*> both[] = {
      {"C:\\a b\\\xC3\xBC.txt", "file:///C:/a%20b/%C3%BC.txt"},
      {"D:\\100%\\x#y?z", "file:///D:/100%25/x%23y%3Fz"},
      {"\\\\server\\share\\d i r", "file://server/share/d%20i%20r"},
      {"E:\\", "file:///E:/"},
  };
  for (const auto& [path, uri] : both) {
    EXPECT_EQ(platform::fileUriFromPath(path), uri);
    EXPECT_EQ(platform::pathFromFileUri(uri), std::optional<std::string>(path)) << uri;
  }
  // Forward slashes and the long-path prefixes name the same files.
  EXPECT_EQ(platform::fileUriFromPath("C:/a b/x"), "file:///C:/a%20b/x");
  EXPECT_EQ(platform::fileUriFromPath("\\\\?\\C:\\long"), "file:///C:/long");
  EXPECT_EQ(platform::fileUriFromPath("\\\\?\\UNC\\srv\\sh\\x"), "file://srv/sh/x");
  EXPECT_EQ(platform::pathFromFileUri("file://localhost/C:/y"), "C:\\y");
  EXPECT_EQ(platform::pathFromFileUri("file:///C|/old"), "C:\\old");
  EXPECT_EQ(platform::pathFromFileUri("FILE:///c:/%e4%b8%8b?q#f"), "c:\\\xE4\xB8\x8B");
  for (const char* bad : {"http://host/x", "file:///C:/%zz", "file:///C:/%2", "file:///C:/%00x",
                          "file://", "C:\\x"}) {
    EXPECT_EQ(platform::pathFromFileUri(bad), std::nullopt) << bad;
  }
}

// Catches unsigned, missing and foreign files told apart wrongly: each has
// its own status or detail, which the setup's messages depend on.
TEST(FileSignatureWinTest, UnsignedFilesHaveNoSignature) {
  wchar_t self[MAX_PATH];
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  const platform::FileSignature unsignedExe = platform::checkFileSignature(narrow(self), "");
  EXPECT_EQ(static_cast<uint32_t>(unsignedExe.status), platform::kTrustNoSignature);
  EXPECT_EQ(unsignedExe.lastError, platform::kTrustNoSignature);
  EXPECT_TRUE(unsignedExe.certificateSha256.empty());

  ScratchDir dir;
  const platform::FileSignature missing =
      platform::checkFileSignature(narrow(dir.path() + L"\\absent.exe"), "");
  EXPECT_EQ(static_cast<uint32_t>(missing.status), platform::kTrustNoSignature);
  EXPECT_EQ(missing.lastError, static_cast<uint32_t>(ERROR_FILE_NOT_FOUND));

  const std::wstring text = dir.file(L"notes \u4E0B.txt", "plain text, no program");
  const platform::FileSignature foreign = platform::checkFileSignature(narrow(text), "");
  EXPECT_EQ(static_cast<uint32_t>(foreign.status), platform::kTrustSubjectFormUnknown);
}

struct DialogSearch {
  const std::wstring* title;
  HWND found;
};

// Callbacks of the window enumerations, which on 32-bit Windows must be
// WINAPI functions (no lambda converts to one).
BOOL CALLBACK matchDialog(HWND window, LPARAM data) {
  auto* s = reinterpret_cast<DialogSearch*>(data);
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  wchar_t text[128] = {};
  GetWindowTextW(window, text, 128);
  if (pid != GetCurrentProcessId() || !IsWindowVisible(window) || *s->title != text) return TRUE;
  s->found = window;
  return FALSE;
}

BOOL CALLBACK matchVisibleEdit(HWND child, LPARAM data) {
  wchar_t cls[16] = {};
  GetClassNameW(child, cls, 16);
  if (wcscmp(cls, L"Edit") != 0 || !IsWindowVisible(child)) return TRUE;
  *reinterpret_cast<HWND*>(data) = child;
  return FALSE;
}

// The picker's dialog, once it is up: the top-level window of this process
// with `title`; null when none came within the limit (no desktop).
HWND waitForDialog(const std::wstring& title) {
  for (int i = 0; i < 200; ++i) {
    DialogSearch search{&title, nullptr};
    EnumWindows(matchDialog, reinterpret_cast<LPARAM>(&search));
    if (search.found != nullptr) return search.found;
    Sleep(50);
  }
  return nullptr;
}

class FolderPickerWinTest : public ::testing::Test {
 protected:
  // Starts the picker, waits for its dialog and hands it to `act`; the
  // answer, or "(no answer)" when none came within 10 s.
  std::optional<std::string> pickAndAct(const std::string& title, const std::string& startDir,
                                        void (*act)(HWND dialog)) {
    auto answer = std::make_shared<std::promise<std::optional<std::string>>>();
    auto future = answer->get_future();
    platform::pickFolder(title, startDir, [answer](std::optional<std::string> folder) {
      answer->set_value(std::move(folder));
    });
    HWND dialog = waitForDialog(std::wstring(title.begin(), title.end()));
    if (dialog == nullptr) {
      dialogMissing_ = true;
      return std::nullopt;
    }
    // A dialog acted on the moment it shows may still be filling itself in.
    Sleep(300);
    act(dialog);
    if (future.wait_for(10s) != std::future_status::ready) return "(no answer)";
    return future.get();
  }
  bool dialogMissing_ = false;
};

// Catches a picker whose closed dialog never answers (the window would
// wait on its Browse button for good).
TEST_F(FolderPickerWinTest, ClosedDialogAnswersNothing) {
  const auto answer = pickAndAct("Picker test close", "",
                                 [](HWND dialog) { PostMessageW(dialog, WM_CLOSE, 0, 0); });
  if (dialogMissing_) GTEST_SKIP() << "no dialog came up (no interactive desktop)";
  EXPECT_EQ(answer, std::nullopt);
}

// Catches a start folder that is not used when the path box names a
// folder yet to be made, and a choice handed back in another form than
// the platform layer's paths ('/' between names).
TEST_F(FolderPickerWinTest, ChoiceIsRelativeToNearestExistingStartFolder) {
  ScratchDir dir;
  dir.dir(L"inner dir");
  const std::string start = narrow(dir.path() + L"\\not made yet\\deeper");
  const auto answer = pickAndAct("Picker test choose", start, [](HWND dialog) {
    // Type a name relative to the folder shown, then press the button.
    HWND edit = nullptr;
    EnumChildWindows(dialog, matchVisibleEdit, reinterpret_cast<LPARAM>(&edit));
    SendMessageW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"inner dir"));
    PostMessageW(GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0);
  });
  if (dialogMissing_) GTEST_SKIP() << "no dialog came up (no interactive desktop)";
  std::string expected = narrow(dir.path() + L"\\inner dir");
  for (char& c : expected) {
    if (c == '\\') c = '/';
  }
  EXPECT_EQ(answer, std::optional<std::string>(expected));
}

}  // namespace
