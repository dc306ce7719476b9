#include "app/command_line.h"

#include <algorithm>

#include "common/text.h"

namespace app {

namespace {

constexpr wchar_t kDebug[] = L"debug";
constexpr wchar_t kDump[] = L"-dmp ";
constexpr wchar_t kClose[] = L"-close";

// substr() that never throws: a position past the end gives an empty text.
std::wstring tail(const std::wstring& text, size_t from, size_t count = std::wstring::npos) {
  return from >= text.size() ? std::wstring() : text.substr(from, count);
}

}  // namespace

std::wstring JoinArguments(const std::vector<std::string>& args) {
  std::wstring line;
  for (size_t i = 0; i < args.size(); ++i) {
    if (i > 0) line += L' ';
    line += common::utf8ToWide(args[i]);
  }
  return line;
}

std::wstring JoinArguments(int argc, char** argv) {
  return JoinArguments(std::vector<std::string>(argv + std::min(argc, 1), argv + argc));
}

EnumRunMode ChooseRunMode(const std::wstring& commandLine) {
  if (commandLine == kDebug) return EnumRunMode::kDebugSetup;
  if (commandLine.find(kDump) != std::wstring::npos) return EnumRunMode::kCrashReport;
  if (commandLine.find(kClose) != std::wstring::npos) return EnumRunMode::kCloseReport;
  return EnumRunMode::kSetup;
}

ReportArguments CrashReportArguments(const std::wstring& commandLine) {
  const size_t at = commandLine.find(kDump);
  return {"CrashDmp", at == std::wstring::npos ? std::wstring() : tail(commandLine, at + 5)};
}

ReportArguments CloseReportArguments(const std::wstring& commandLine) {
  const size_t at = commandLine.find(kClose);
  ReportArguments args;
  args.label = common::wideToUtf8(tail(commandLine, 1, 7));
  args.argument = at == std::wstring::npos ? std::wstring() : tail(commandLine, at + 9);
  return args;
}

}  // namespace app
