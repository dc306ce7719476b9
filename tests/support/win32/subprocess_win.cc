#include <windows.h>

#include <cstdlib>
#include <stdexcept>
#include <thread>

#include "platform/win32/win_util.h"
#include "support/subprocess.h"
#include "support/temp_dir.h"
#include "support/win32/host_paths_win.h"

namespace testing_support {

namespace {

using platform::win::appendQuotedArgument;

// Wine runs a program of the build machine as a Unix process of its own:
// the child's handle and exit code never reach us, and TerminateProcess
// cannot end it. So such a child runs under this shell, which writes the
// program's Unix pid to $1.pid and, when it has ended, its status to $1
// (as the shell reports it: 128+signal for a signal). signal() sends the
// program its signal with kill(1).
constexpr const char* kHostWrapper =
    "st=$1; shift; \"$@\" </dev/null & echo $! >\"$st.pid\"; wait $!; echo $? >\"$st.tmp\"; "
    "mv \"$st.tmp\" \"$st\"";

std::wstring commandLine(const std::vector<std::string>& argv) {
  // The program name is read without escapes, so it is only quoted.
  std::wstring line = L"\"" + common::utf8ToWide(argv[0]) + L"\"";
  for (size_t i = 1; i < argv.size(); ++i) {
    line += L' ';
    appendQuotedArgument(common::utf8ToWide(argv[i]), [&](wchar_t c) { line += c; });
  }
  return line;
}

// Our environment with `extra` set over it, as CreateProcessW takes it.
std::wstring environmentBlock(const std::map<std::string, std::string>& extra) {
  std::map<std::wstring, std::wstring> vars;
  // Keyed case-blind, as Windows looks names up.
  auto key = [](std::wstring name) {
    for (wchar_t& c : name) c = static_cast<wchar_t>(towupper(c));
    return name;
  };
  std::map<std::wstring, std::wstring> names;
  wchar_t* block = GetEnvironmentStringsW();
  for (const wchar_t* p = block; *p != L'\0'; p += wcslen(p) + 1) {
    std::wstring entry = p;
    // Entries of the "=C:=C:\..." kind keep the drives' folders.
    const size_t eq = entry.find(L'=', 1);
    if (eq == std::wstring::npos) continue;
    vars[key(entry.substr(0, eq))] = entry;
  }
  FreeEnvironmentStringsW(block);
  for (const auto& [name, value] : extra) {
    const std::wstring wname = common::utf8ToWide(name);
    vars[key(wname)] = wname + L"=" + common::utf8ToWide(value);
  }
  std::wstring result;
  for (const auto& [k, entry] : vars) {
    result += entry;
    result += L'\0';
  }
  result += L'\0';
  return result;
}

HANDLE openForChild(const std::wstring& path, DWORD access, DWORD disposition) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  return CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                     &inherit, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

Subprocess::Subprocess(const std::vector<std::string>& argv,
                       const std::map<std::string, std::string>& env, const std::string& cwd)
    : outPath_(win::scratchPath("child", ".out")), errPath_(win::scratchPath("child", ".err")) {
  if (argv.empty()) throw std::invalid_argument("Subprocess: no program");
  std::vector<std::string> args = argv;
  std::string folder = cwd;
  if (win::isHostProgram(args[0])) {
    statusPath_ = win::scratchPath("child", ".status");
    std::vector<std::string> wrapped = {win::windowsPath("/bin/sh"), "-c", kHostWrapper, "sh",
                                        win::unixPath(statusPath_)};
    // The program reads Unix paths; ours are Windows ones.
    for (const std::string& a : args) wrapped.push_back(win::unixPath(a));
    args = std::move(wrapped);
    folder.clear();
    if (!cwd.empty()) {
      args[2] = "cd \"$0\" || exit 126; " + std::string(kHostWrapper);
      args[3] = win::unixPath(cwd);
    }
  } else {
    args[0] = win::windowsPath(args[0]);
    folder = win::windowsPath(folder);
  }
  // The shell's children close the Windows handles; theirs are the files.
  platform::win::UniqueHandle out(
      openForChild(common::utf8ToWide(outPath_), GENERIC_WRITE, CREATE_ALWAYS));
  platform::win::UniqueHandle err(
      openForChild(common::utf8ToWide(errPath_), GENERIC_WRITE, CREATE_ALWAYS));
  platform::win::UniqueHandle in(openForChild(L"NUL", GENERIC_READ, OPEN_EXISTING));
  if (!out.valid() || !err.valid())
    throw std::runtime_error("Subprocess: cannot open output files");

  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = in.get();
  si.hStdOutput = out.get();
  si.hStdError = err.get();
  std::wstring line = commandLine(args);
  std::wstring environment = environmentBlock(env);
  const std::wstring wfolder = common::utf8ToWide(folder);
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, CREATE_UNICODE_ENVIRONMENT,
                      environment.data(), wfolder.empty() ? nullptr : wfolder.c_str(), &si, &pi)) {
    throw std::runtime_error("Subprocess: cannot start " + argv[0] + " (error " +
                             std::to_string(GetLastError()) + ")");
  }
  if (pi.hThread != nullptr) CloseHandle(pi.hThread);
  process_ = pi.hProcess;
  pid_ = static_cast<int>(pi.dwProcessId);
  if (!statusPath_.empty()) {
    // The pid a test sees is the one the program has in its own system.
    waitFor([&] { return (pid_ = std::atoi(readFile(statusPath_ + ".pid").c_str())) > 0; },
            std::chrono::seconds(10));
  }
}

Subprocess::~Subprocess() {
  if (!reaped_) {
    signal(9);
    wait(std::chrono::seconds(10));
  }
  if (process_ != nullptr) CloseHandle(static_cast<HANDLE>(process_));
  DeleteFileW(common::utf8ToWide(outPath_).c_str());
  DeleteFileW(common::utf8ToWide(errPath_).c_str());
  if (!statusPath_.empty()) {
    DeleteFileW(common::utf8ToWide(statusPath_).c_str());
    DeleteFileW(common::utf8ToWide(statusPath_ + ".pid").c_str());
  }
}

int Subprocess::wait(std::chrono::milliseconds limit) {
  if (reaped_) return status_;
  if (!statusPath_.empty()) {
    std::string status;
    if (!waitFor([&] { return !(status = readFile(statusPath_)).empty(); }, limit)) return -1;
    status_ = std::atoi(status.c_str());
  } else {
    const auto ms = static_cast<DWORD>(std::min<int64_t>(limit.count(), INFINITE - 1));
    if (WaitForSingleObject(static_cast<HANDLE>(process_), ms) != WAIT_OBJECT_0) return -1;
    DWORD code = 0;
    GetExitCodeProcess(static_cast<HANDLE>(process_), &code);
    status_ = static_cast<int>(code);
  }
  reaped_ = true;
  return status_;
}

void Subprocess::signal(int sig) {
  if (reaped_) return;
  if (!statusPath_.empty()) {
    if (pid_ <= 0) return;
    // kill(1) runs in the build machine's system, where the program is.
    Subprocess killer({"/bin/kill", "-" + std::to_string(sig), std::to_string(pid_)});
    killer.wait(std::chrono::seconds(10));
    return;
  }
  // A Windows process has no signals: it ends with the code a POSIX parent
  // would read for that signal, so the tests' expectations hold on both.
  TerminateProcess(static_cast<HANDLE>(process_), static_cast<UINT>(128 + sig));
}

std::string Subprocess::output() const { return readFile(outPath_); }
std::string Subprocess::errors() const { return readFile(errPath_); }

int runToEnd(const std::vector<std::string>& argv, std::chrono::milliseconds limit,
             std::string* out, const std::map<std::string, std::string>& env) {
  Subprocess child(argv, env);
  int rc = child.wait(limit);
  if (out) *out = child.output();
  return rc;
}

std::string binPath(const std::string& name) {
  // The test servers are programs of the build machine, from its own build.
  if (name == "maker-services") return std::string(WEBSETUP_HOST_BUILD_DIR) + "/bin/" + name;
  return win::windowsPath(std::string(WEBSETUP_BUILD_DIR) + "/bin/" + name + ".exe");
}

}  // namespace testing_support
