// Processes on Windows. A child is known by its process id in the shared
// interface, but Windows waits on handles and reuses ids as soon as the last
// handle closes, so every child we start keeps its handle in a table until it
// has been waited for or handed to reapInBackground(): that handle keeps the
// id from being reused, and gives waits and kills the right process.

#include "platform/process.h"

#include <windows.h>
// After windows.h, whose types it uses.
#include <tlhelp32.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>

#include "common/log.h"
#include "platform/win32/desktop_shell_start_win.h"
#include "platform/win32/win_util.h"

namespace platform {
namespace {

using win::UniqueHandle;

// Children we started and nobody has waited for yet, by id.
std::mutex g_childrenMutex;
std::map<int, std::shared_ptr<UniqueHandle>>& children() {
  static auto* table = new std::map<int, std::shared_ptr<UniqueHandle>>;
  return *table;
}

std::shared_ptr<UniqueHandle> childHandle(int pid) {
  std::lock_guard<std::mutex> lock(g_childrenMutex);
  const auto it = children().find(pid);
  return it == children().end() ? nullptr : it->second;
}

void forgetChild(int pid, const std::shared_ptr<UniqueHandle>& handle) {
  std::lock_guard<std::mutex> lock(g_childrenMutex);
  const auto it = children().find(pid);
  if (it != children().end() && it->second == handle) children().erase(it);
}

std::string imagePath(DWORD pid) {
  UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
  if (!process.valid()) return {};
  std::wstring buf(32768, L'\0');
  DWORD size = static_cast<DWORD>(buf.size());
  if (!QueryFullProcessImageNameW(process.get(), 0, buf.data(), &size)) return {};
  buf.resize(size);
  return win::outwardPath(std::move(buf));
}

// The elements after the program, each quoted so that it reads back
// unchanged, separated by blanks. False when an element cannot be carried
// at all.
bool buildArguments(const std::vector<std::string>& argv, std::wstring* out) {
  out->clear();
  for (size_t i = 1; i < argv.size(); ++i) {
    const std::wstring arg = win::widen(argv[i]);
    if (arg.find(L'\0') != std::wstring::npos) return false;
    if (i > 1) out->push_back(L' ');
    win::appendQuotedArgument(arg, [out](wchar_t c) { out->push_back(c); });
  }
  return true;
}

// The command line CreateProcessW is given: the program name quoted as is
// (the parsers read it up to the next quote, without escapes, and a quote
// cannot occur in a file name), then the arguments. False when an element
// cannot be carried at all.
bool buildCommandLine(const std::vector<std::string>& argv, std::wstring* out) {
  out->clear();
  const std::wstring program = win::widen(argv[0]);
  if (program.find_first_of(std::wstring_view(L"\"\0", 2)) != std::wstring::npos) return false;
  std::wstring arguments;
  if (!buildArguments(argv, &arguments)) return false;
  *out = L"\"" + program + L"\"";
  if (!arguments.empty()) *out += L" " + arguments;
  // CreateProcessW's own limit, terminating NUL included.
  return out->size() < 32767;
}

// Tries the desktop's shell for a start without our elevation. True when
// the shell took the start; false when the start is to be a direct one:
// we are not elevated (the direct start gives the person's own token
// already), the program is missing (the direct start fails with the
// number the caller reports, where the shell would show a box of its
// own), or no shell answers (the product then runs elevated, which beats
// not running: the log says so).
bool startThroughShell(const SpawnOptions& options, const std::wstring& application,
                       const std::wstring& workingDir) {
  if (!runsElevated()) {
    LOG(INFO) << " Start as the desktop user: directly, not elevated";
    return false;
  }
  if (GetFileAttributesW(application.c_str()) == INVALID_FILE_ATTRIBUTES) return false;
  std::wstring arguments;
  if (!buildArguments(options.argv, &arguments)) return false;
  std::wstring folder = workingDir;
  if (folder.empty()) {
    // "Ours", which the shell's process does not share.
    const DWORD needed = GetCurrentDirectoryW(0, nullptr);
    folder.resize(needed);
    const DWORD written = needed == 0 ? 0 : GetCurrentDirectoryW(needed, folder.data());
    folder.resize(written < needed ? written : 0);
  }
  win::DesktopShellFailure failure;
  if (win::startThroughDesktopShell(win::fullNativePath(application), arguments,
                                    win::fullNativePath(folder), &failure)) {
    LOG(INFO) << " Start as the desktop user: through the desktop's shell";
    return true;
  }
  char code[16];
  std::snprintf(code, sizeof(code), "0x%08lX", static_cast<unsigned long>(failure.code));
  LOG(INFO) << " Start as the desktop user: no desktop shell answered (" << failure.step << " "
            << code << "); directly and elevated";
  return false;
}

// A detached child leaves our job when the job lets it, so that closing the
// job (a console window, a test runner) does not end it with us.
BOOL createProcess(const std::wstring& application, std::wstring* commandLine, DWORD flags,
                   const wchar_t* workingDir, PROCESS_INFORMATION* info) {
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  if ((flags & CREATE_BREAKAWAY_FROM_JOB) != 0) {
    if (CreateProcessW(application.c_str(), commandLine->data(), nullptr, nullptr, FALSE, flags,
                       nullptr, workingDir, &startup, info)) {
      return TRUE;
    }
    if (GetLastError() != ERROR_ACCESS_DENIED) return FALSE;
    flags &= ~static_cast<DWORD>(CREATE_BREAKAWAY_FROM_JOB);
  }
  return CreateProcessW(application.c_str(), commandLine->data(), nullptr, nullptr, FALSE, flags,
                        nullptr, workingDir, &startup, info);
}

}  // namespace

// Windows has no zombies; the handle we kept is all there is to give back.
void reapInBackground(int pid) {
  std::shared_ptr<UniqueHandle> handle = childHandle(pid);
  if (handle) forgetChild(pid, handle);
}

std::vector<ProcessInfo> listProcesses() {
  std::vector<ProcessInfo> result;
  std::vector<ProcessEntry> entries;
  if (snapshotProcesses(&entries) != PlatformResult::kOk) return result;
  for (auto& e : entries) {
    if (!e.exePath.empty()) result.push_back({e.pid, std::move(e.exePath)});
  }
  return result;
}

PlatformResult snapshotProcesses(std::vector<ProcessEntry>* out) {
  out->clear();
  UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot.valid()) return PlatformResult::kIoError;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof(entry);
  for (BOOL more = Process32FirstW(snapshot.get(), &entry); more;
       more = Process32NextW(snapshot.get(), &entry)) {
    // Id 0 is the idle process: no program, and no process to end.
    if (entry.th32ProcessID == 0) continue;
    ProcessEntry e;
    e.pid = static_cast<int>(entry.th32ProcessID);
    e.name = win::narrow(entry.szExeFile);
    e.exePath = imagePath(entry.th32ProcessID);
    out->push_back(std::move(e));
  }
  return PlatformResult::kOk;
}

int currentProcessId() { return static_cast<int>(GetCurrentProcessId()); }

PlatformResult killProcess(int pid) {
  if (pid <= 0) return PlatformResult::kInvalidArgument;
  std::shared_ptr<UniqueHandle> child = childHandle(pid);
  UniqueHandle opened;
  HANDLE process = nullptr;
  if (child) {
    process = child->get();
  } else {
    opened.reset(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, static_cast<DWORD>(pid)));
    if (!opened.valid()) {
      const DWORD err = GetLastError();
      return err == ERROR_INVALID_PARAMETER ? PlatformResult::kNotFound
                                            : win::resultFromLastError(err);
    }
    process = opened.get();
  }
  // The setup has always ended processes with exit code 0.
  if (TerminateProcess(process, 0)) return PlatformResult::kOk;
  const DWORD err = GetLastError();
  // A process that has already ended refuses; our own child still counts
  // as there until waited for, as an unreaped child does for kill().
  if (WaitForSingleObject(process, 0) == WAIT_OBJECT_0) {
    return child ? PlatformResult::kOk : PlatformResult::kNotFound;
  }
  return win::resultFromLastError(err);
}

void endProcessNow(int code) {
  TerminateProcess(GetCurrentProcess(), static_cast<UINT>(code));
  for (;;) Sleep(INFINITE);
}

// Windows has no numeric user ids to run as. An elevated run is the same
// user with a fuller token, never a root acting for someone named, so
// invokingUserId() names nobody and runAsUid stays -1; a runAsUid given
// anyway is treated as it is by a process that is not root on Linux: the
// child simply starts with our own identity. Leaving the elevation behind
// is asDesktopUser's, through the shell.
PlatformResult spawnProcess(const SpawnOptions& options, int* pid, int* osError) {
  int ignored = 0;
  if (osError == nullptr) osError = &ignored;
  *osError = 0;
  if (options.argv.empty() || options.argv[0].empty()) {
    *osError = ERROR_INVALID_PARAMETER;
    return PlatformResult::kInvalidArgument;
  }
  std::wstring commandLine;
  if (!buildCommandLine(options.argv, &commandLine)) {
    *osError = ERROR_INVALID_PARAMETER;
    return PlatformResult::kInvalidArgument;
  }
  // The application name is given, so nothing is looked up on the search
  // path, and a program name with spaces cannot be read another way.
  const std::wstring application =
      win::widen(options.program.empty() ? options.argv[0] : options.program);
  const std::wstring workingDir = win::widen(options.workingDir);
  // CreateProcessW names a missing working folder only as an invalid
  // folder name, so it is checked first to name the cause.
  if (!workingDir.empty()) {
    const DWORD attributes = GetFileAttributesW(workingDir.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
      *osError = static_cast<int>(GetLastError());
      return win::resultFromLastError(static_cast<DWORD>(*osError));
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
      *osError = ERROR_DIRECTORY;
      return PlatformResult::kNotFound;
    }
  }
  if (options.asDesktopUser && startThroughShell(options, application, workingDir)) {
    // Explorer's child, not ours: no id, nothing to wait for.
    *pid = 0;
    return PlatformResult::kOk;
  }
  // Detached: no console of ours and a process group of its own, so our
  // console's Ctrl+C and closing do not reach it.
  const bool detach = options.detach || options.asDesktopUser;
  const DWORD flags =
      detach ? DETACHED_PROCESS | CREATE_NEW_PROCESS_GROUP | CREATE_BREAKAWAY_FROM_JOB : 0;
  PROCESS_INFORMATION info{};
  if (!createProcess(application, &commandLine, flags,
                     workingDir.empty() ? nullptr : workingDir.c_str(), &info)) {
    *osError = static_cast<int>(GetLastError());
    return win::resultFromLastError(static_cast<DWORD>(*osError));
  }
  CloseHandle(info.hThread);
  *pid = static_cast<int>(info.dwProcessId);
  if (detach) {
    CloseHandle(info.hProcess);
    return PlatformResult::kOk;
  }
  std::lock_guard<std::mutex> lock(g_childrenMutex);
  children()[*pid] = std::make_shared<UniqueHandle>(info.hProcess);
  return PlatformResult::kOk;
}

PlatformResult waitProcess(int pid, std::chrono::milliseconds limit, int* exitCode) {
  if (pid <= 0) return PlatformResult::kInvalidArgument;
  const std::shared_ptr<UniqueHandle> handle = childHandle(pid);
  if (!handle) return PlatformResult::kNotFound;
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    // A wait takes at most 2^32 - 2 ms at a time; INFINITE is the one above.
    DWORD timeoutMs = INFINITE;
    if (limit.count() >= 0) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      timeoutMs =
          left.count() <= 0 ? 0 : static_cast<DWORD>(std::min<int64_t>(left.count(), INFINITE - 1));
    }
    const DWORD w = WaitForSingleObject(handle->get(), timeoutMs);
    if (w == WAIT_OBJECT_0) break;
    if (w == WAIT_FAILED) return win::lastResult();
    if (timeoutMs != INFINITE - 1 ||
        (limit.count() >= 0 && std::chrono::steady_clock::now() >= deadline)) {
      return PlatformResult::kTimedOut;
    }
  }
  DWORD code = 0;
  if (!GetExitCodeProcess(handle->get(), &code)) return win::lastResult();
  forgetChild(pid, handle);
  *exitCode = static_cast<int>(code);
  return PlatformResult::kOk;
}

int invokingUserId() { return -1; }

bool runsElevated() {
  const std::vector<BYTE> bytes = win::processTokenInformation(TokenElevation);
  if (bytes.size() < sizeof(TOKEN_ELEVATION)) return false;
  TOKEN_ELEVATION elevation{};
  std::memcpy(&elevation, bytes.data(), sizeof(elevation));
  return elevation.TokenIsElevated != 0;
}

}  // namespace platform
