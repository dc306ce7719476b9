// Starting the product without the setup's elevation, for real: the test
// child (process_child.cc) is started through the desktop's shell, and
// from a process holding the person's limited token. Wine gives every
// program of its prefix an elevated token with a limited one linked to it,
// and its desktop (explorer.exe) answers the shell's automation calls, so
// both ways run here. That the product then runs at medium integrity only
// a real Windows shows: Wine's Explorer is elevated like everything else.

#include <objbase.h>
#include <windows.h>
// After windows.h, whose types they use.
#include <exdisp.h>
#include <shlobj.h>
#include <tlhelp32.h>
#include <wrl/client.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "common/text.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "support/subprocess.h"
#include "support/temp_dir.h"

namespace platform {
namespace {

namespace fs = std::filesystem;
using testing_support::readFile;
using testing_support::TempDir;
using testing_support::waitFor;

constexpr std::chrono::seconds kLimit{20};

// The test child copied to `path`.
void installChild(const std::string& path) {
  fs::create_directories(fs::path(path).parent_path());
  fs::copy_file(moduleDir() + PROCESS_CHILD_NAME, path, fs::copy_options::overwrite_existing);
}

std::string readWhenWritten(const std::string& path) {
  std::string text;
  waitFor([&] { return !(text = readFile(path)).empty(); }, kLimit);
  return text;
}

// The process that shows the desktop window the shell hands out, asked
// the way an outsider would; 0 while there is none (a Wine prefix's first
// moments, an Explorer that has crashed).
DWORD desktopShellProcess() {
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  DWORD pid = 0;
  {
    Microsoft::WRL::ComPtr<IShellWindows> windows;
    VARIANT location, root;
    VariantInit(&location);
    VariantInit(&root);
    location.vt = VT_I4;
    location.lVal = CSIDL_DESKTOP;
    long window = 0;
    Microsoft::WRL::ComPtr<IDispatch> desktop;
    if (SUCCEEDED(CoCreateInstance(CLSID_ShellWindows, nullptr, CLSCTX_LOCAL_SERVER,
                                   IID_PPV_ARGS(&windows))) &&
        windows->FindWindowSW(&location, &root, SWC_DESKTOP, &window, 0, &desktop) == S_OK) {
      GetWindowThreadProcessId(reinterpret_cast<HWND>(static_cast<LONG_PTR>(window)), &pid);
    }
  }
  if (SUCCEEDED(com)) CoUninitialize();
  return pid;
}

struct ProcessFacts {
  DWORD pid = 0;
  DWORD parent = 0;
};

// The process running a program called `name` (a name unique to the test),
// from a snapshot of our own; pid 0 when none runs.
ProcessFacts findByName(const std::wstring& name) {
  ProcessFacts facts;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return facts;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof(entry);
  for (BOOL more = Process32FirstW(snapshot, &entry); more;
       more = Process32NextW(snapshot, &entry)) {
    if (_wcsicmp(entry.szExeFile, name.c_str()) == 0) {
      facts = {entry.th32ProcessID, entry.th32ParentProcessID};
    }
  }
  CloseHandle(snapshot);
  return facts;
}

// Ends a process the test started through someone else, and waits until
// its image is free to delete.
void endProcess(DWORD pid) {
  HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
  EXPECT_EQ(killProcess(static_cast<int>(pid)), PlatformResult::kOk);
  if (process != nullptr) {
    WaitForSingleObject(process, 10000);
    CloseHandle(process);
  }
}

// The limited token Windows links to our elevated one: the token the
// person's own programs get. Null when we are not elevated.
HANDLE limitedToken() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return nullptr;
  TOKEN_ELEVATION_TYPE type{};
  TOKEN_LINKED_TOKEN linked{};
  DWORD size = 0;
  const bool full = GetTokenInformation(token, TokenElevationType, &type, sizeof(type), &size) &&
                    type == TokenElevationTypeFull &&
                    GetTokenInformation(token, TokenLinkedToken, &linked, sizeof(linked), &size);
  CloseHandle(token);
  return full ? linked.LinkedToken : nullptr;
}

// Runs `program` with `args` under `token` and waits for it. The exit
// code, or -1 when it did not start or end within the limit. Its id goes
// to *pid.
int runWithToken(HANDLE token, const std::string& program, const std::vector<std::string>& args,
                 DWORD* pid) {
  std::wstring line = L"\"" + common::utf8ToWide(program) + L"\"";
  for (const std::string& arg : args) line += L" \"" + common::utf8ToWide(arg) + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info{};
  if (!CreateProcessAsUserW(token, common::utf8ToWide(program).c_str(), line.data(), nullptr,
                            nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
    return -1;
  }
  CloseHandle(info.hThread);
  *pid = info.dwProcessId;
  DWORD code = static_cast<DWORD>(-1);
  if (WaitForSingleObject(info.hProcess, 30000) == WAIT_OBJECT_0) {
    GetExitCodeProcess(info.hProcess, &code);
  }
  CloseHandle(info.hProcess);
  return static_cast<int>(code);
}

class DesktopStartTest : public ::testing::Test {
 protected:
  void SetUp() override {
    child_ = dir_.file("child.exe");
    installChild(child_);
  }

  TempDir dir_;
  std::string child_;
};

// The fault: the elevation read from the wrong token field (or not at
// all), so an elevated setup would hand the product its own rights, or a
// limited one would look for a shell it does not need.
TEST_F(DesktopStartTest, ReadsElevationFromTheToken) {
  HANDLE limited = limitedToken();
  if (limited == nullptr) GTEST_SKIP() << "needs an elevated run, as Wine's prefix gives";
  const std::string ours = dir_.file("ours.txt"), theirs = dir_.file("theirs.txt");
  EXPECT_EQ(testing_support::runToEnd({child_, "--elevated", ours}, kLimit), 0);
  DWORD pid = 0;
  EXPECT_EQ(runWithToken(limited, child_, {"--elevated", theirs}, &pid), 0);
  CloseHandle(limited);
  EXPECT_EQ(readFile(ours), "1");
  EXPECT_EQ(readFile(theirs), "0");
}

// The fault: an elevated setup starting the product itself, which then
// inherits the setup's administrator token. The product must be the
// desktop shell's child, in its own folder, with its arguments.
TEST_F(DesktopStartTest, ElevatedStartGoesThroughTheDesktopShell) {
  if (!runsElevated()) GTEST_SKIP() << "needs an elevated run, as Wine's prefix gives";
  DWORD shell = 0;
  if (!waitFor([&] { return (shell = desktopShellProcess()) != 0; }, kLimit)) {
    GTEST_SKIP() << "no desktop shell answers in this session";
  }
  const std::wstring name = L"shell-started-" + std::to_wstring(GetCurrentProcessId()) + L".exe";
  const std::string folder = dir_.file("product folder");
  const std::string product = folder + "/" + common::wideToUtf8(name);
  installChild(product);
  const std::string cwd = dir_.file("cwd.txt"), ready = dir_.file("ready.txt");

  SpawnOptions options;
  options.argv = {product, "--cwd", cwd, "--ready", ready, "--sleep", "30"};
  options.workingDir = folder;
  options.asDesktopUser = true;
  int pid = -1;
  ASSERT_EQ(spawnProcess(options, &pid), PlatformResult::kOk);
  EXPECT_EQ(pid, 0);  // not ours to know

  ASSERT_EQ(readWhenWritten(ready), "ready");
  const ProcessFacts started = findByName(name);
  ASSERT_NE(started.pid, 0u);
  EXPECT_EQ(started.parent, shell);
  EXPECT_NE(started.parent, GetCurrentProcessId());
  EXPECT_TRUE(fs::equivalent(fs::path(readFile(cwd)), fs::path(folder))) << readFile(cwd);
  endProcess(started.pid);
}

// The fault: a setup that is not elevated sending the product through the
// shell anyway (a needless dependence on Explorer), or losing it. It starts
// the product itself, which then has the person's token as the setup does.
TEST_F(DesktopStartTest, LimitedStartIsDirect) {
  HANDLE limited = limitedToken();
  if (limited == nullptr) GTEST_SKIP() << "needs an elevated run, as Wine's prefix gives";
  const std::wstring name = L"direct-" + std::to_wstring(GetCurrentProcessId()) + L".exe";
  const std::string product = dir_.file(common::wideToUtf8(name));
  installChild(product);
  const std::string answer = dir_.file("answer.txt"), elevated = dir_.file("elevated.txt"),
                    ready = dir_.file("ready.txt");

  DWORD starter = 0;
  EXPECT_EQ(runWithToken(limited, child_,
                         {"--start-as-desktop-user", answer, product, "--elevated", elevated,
                          "--ready", ready, "--sleep", "30"},
                         &starter),
            0);
  CloseHandle(limited);
  ASSERT_EQ(readWhenWritten(ready), "ready");
  const ProcessFacts started = findByName(name);
  ASSERT_NE(started.pid, 0u);
  EXPECT_EQ(readFile(answer), "0 " + std::to_string(started.pid));
  EXPECT_EQ(started.parent, starter);
  EXPECT_EQ(readFile(elevated), "0");
  endProcess(started.pid);
}

}  // namespace
}  // namespace platform
