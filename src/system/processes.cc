#include "system/processes.h"

#include <cerrno>
#include <cwctype>
#include <optional>
#include <thread>

#include "common/events.h"
#include "common/log.h"
#include "common/text.h"
#include "platform/folders.h"
#include "platform/open_address.h"
#include "platform/paths.h"
#include "platform/process.h"

namespace FuntionImpl {
namespace {

std::wstring lowerWide(std::wstring text) {
  for (auto& c : text) c = static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
  return text;
}

std::wstring fileNameOf(const std::wstring& path) {
  const size_t slash = path.rfind(L'/');
  return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

void reportStartFailure(int error) {
  common::Events().Event("Other", "StartWindowError", std::to_string(error), false);
}

int startDirectly(const std::string& commandLine, const std::vector<std::string>& argv) {
  platform::SpawnOptions options;
  options.argv = argv;
  // The folder of the quoted executable, with its final '/'.
  const size_t closing = commandLine.find('"', 1);
  const size_t slash =
      commandLine.rfind('/', closing == std::string::npos ? std::string::npos : closing);
  if (slash != std::string::npos && slash >= 1) options.workingDir = commandLine.substr(1, slash);
  int pid = 0, error = 0;
  if (argv.empty() ||
      platform::spawnProcess(options, &pid, &error) != platform::PlatformResult::kOk) {
    if (argv.empty()) error = ENOENT;
    char message[64];
    std::snprintf(message, sizeof(message), "CreateProcess failed3 (%d)", error);
    LOG(INFO) << " " << message;
    reportStartFailure(error);
    return -1;
  }
  // Not ours to wait for, but ours to reap.
  platform::reapInBackground(pid);
  return 0;
}

int startAsUser(const std::vector<std::string>& argv) {
  // The quoted executable; the same as the command line without its first
  // and last character when it carries no arguments.
  const std::string path = argv.empty() ? std::string() : argv[0];
  if (path.empty() || !platform::pathExists(path)) {
    LOG(INFO) << " CreateProcess failed1 (" << 2 << ")";
    reportStartFailure(2);
    return -1;
  }
  platform::SpawnOptions options;
  options.argv = argv;
  options.asDesktopUser = true;
  const size_t slash = argv[0].rfind('/');
  if (slash != std::string::npos) options.workingDir = argv[0].substr(0, slash + 1);
  int pid = 0, error = 0;
  if (platform::spawnProcess(options, &pid, &error) != platform::PlatformResult::kOk) {
    LOG(INFO) << " CreateProcess failed2 (" << error << ")";
    reportStartFailure(error);
    return -1;
  }
  return 0;
}

std::string findBelow(const std::string& root, const std::string& fileName) {
  std::vector<platform::FolderEntry> entries;
  if (platform::listFolder(root, &entries) != platform::PlatformResult::kOk) return {};
  for (const auto& entry : entries) {
    if (!entry.isFolder) continue;
    const std::string folder = root + entry.name + "/";
    const std::string candidate = folder + fileName;
    if (platform::pathExists(candidate)) return candidate;
    std::string found = findBelow(folder, fileName);
    if (!found.empty()) return found;
  }
  return {};
}

}  // namespace

int KillErrorNumber(platform::PlatformResult result) {
  // kill(2) fails with only these three; the platform result names each.
  switch (result) {
    case platform::PlatformResult::kOk: return 0;
    case platform::PlatformResult::kNotFound: return ESRCH;
    case platform::PlatformResult::kAccessDenied: return EPERM;
    case platform::PlatformResult::kInvalidArgument: return EINVAL;
    default: return EIO;
  }
}

int32_t FindProcessByFullPath(const std::wstring& path, bool end, bool includeTemporary) {
  const std::wstring name = lowerWide(fileNameOf(path));
  const std::wstring full = lowerWide(path);
  std::wstring tempName;
  if (includeTemporary) tempName = name.substr(0, name.size() >= 3 ? name.size() - 3 : 0) + L"tmp";

  std::vector<platform::ProcessEntry> entries;
  if (platform::snapshotProcesses(&entries) != platform::PlatformResult::kOk) return -2;
  const int self = platform::currentProcessId();
  int32_t result = -1;
  for (const auto& entry : entries) {
    const std::wstring entryName = lowerWide(common::utf8ToWide(entry.name));
    if (entryName != name && !(includeTemporary && entryName == tempName)) continue;
    LOG(INFO) << " Find proc: " << entry.pid;
    if (entry.pid == self) continue;
    const std::wstring image = common::utf8ToWide(entry.exePath);
    LOG(INFO) << " Get proc info: " << entry.exePath.size() << ", " << image.size();
    if (image.empty()) continue;
    const std::wstring lowerImage = lowerWide(image);
    // The extracted copy runs from a folder like is-XXXXX.tmp; the test is
    // on the folder, since the temporary name itself always ends in "tmp"
    // and would otherwise let any program of that name anywhere match.
    const std::wstring folder = lowerImage.substr(0, lowerImage.rfind(L'/') + 1);
    const bool matches = lowerImage == full ||
                         (includeTemporary && folder.find(L".tmp") != std::wstring::npos);
    if (!matches) continue;
    result = entry.pid;
    if (end) {
      const platform::PlatformResult r = platform::killProcess(entry.pid);
      LOG(INFO) << " Kill proc: " << (r == platform::PlatformResult::kOk ? 1 : 0) << ", "
                << KillErrorNumber(r);
    }
    if (!includeTemporary) break;
  }
  return result;
}

int StartTargetMainExe(const std::wstring& commandLine, int elevated) {
  const std::string narrow = common::wideToUtf8(commandLine);
  const std::vector<std::string> argv = SplitCommandLine(narrow);
  return elevated != 0 ? startDirectly(narrow, argv) : startAsUser(argv);
}

std::wstring FindFileInSubfolders(const std::wstring& root, const std::wstring& fileName) {
  return common::utf8ToWide(findBelow(common::wideToUtf8(root), common::wideToUtf8(fileName)));
}

std::vector<std::string> SplitCommandLine(const std::string& commandLine) {
  std::vector<std::string> args;
  std::string current;
  bool quoted = false, inArg = false;
  for (char c : commandLine) {
    if (c == '"') {
      quoted = !quoted;
      inArg = true;
    } else if ((c == ' ' || c == '\t') && !quoted) {
      if (inArg) args.push_back(current);
      current.clear();
      inArg = false;
    } else {
      current += c;
      inArg = true;
    }
  }
  if (inArg) args.push_back(current);
  return args;
}

}  // namespace FuntionImpl

namespace FuntionImpl {

bool ShellOpen(const std::wstring& target) {
  // The addresses come from the download configuration and the language
  // files; an opener would just as well run a program or open a file named
  // to it, so nothing but a web address goes there.
  const std::string address = common::wideToUtf8(target);
  if (!platform::isWebAddress(address)) {
    LOG(INFO) << " Open refused, not a web address (" << address.size() << " bytes)";
    return false;
  }
  return platform::openWebAddress(address);
}

}  // namespace FuntionImpl
