#include "app/command_line.h"

#include <gtest/gtest.h>

#include "app/startup.h"
#include "common/text.h"

namespace app {
namespace {

TEST(CommandLineTest, ChoosesTheMode) {
  struct Case {
    const wchar_t* line;
    EnumRunMode mode;
  } cases[] = {
      {L"debug", EnumRunMode::kDebugSetup},
      {L"debug x", EnumRunMode::kSetup},  // only the exact text opens the console
      {L"Debug", EnumRunMode::kSetup},
      {L"", EnumRunMode::kSetup},
      {L"-dmp /tmp/a.dmp", EnumRunMode::kCrashReport},
      {L"x -close01 y -dmp z", EnumRunMode::kCrashReport},  // crash report wins
      {L"-close04 /tmp/r.zip", EnumRunMode::kCloseReport},
      {L"-dmp", EnumRunMode::kSetup},  // "-dmp " needs its blank
  };
  for (const auto& tc : cases) {
    EXPECT_EQ(ChooseRunMode(tc.line), tc.mode) << common::wideToUtf8(tc.line);
  }
}

TEST(CommandLineTest, SplitsReportArguments) {
  ReportArguments close = CloseReportArguments(L"-close04 /home/u/r.zip");
  EXPECT_EQ(close.label, "close04");
  EXPECT_EQ(close.argument, L"/home/u/r.zip");

  ReportArguments crash = CrashReportArguments(L" -dmp /tmp/a.dmp /tmp/a.log");
  EXPECT_EQ(crash.label, "CrashDmp");
  EXPECT_EQ(crash.argument, L"/tmp/a.dmp /tmp/a.log");

  // Short texts must not read past their end.
  EXPECT_EQ(CloseReportArguments(L"-close").argument, L"");
  EXPECT_EQ(CloseReportArguments(L"-close").label, "close");
  EXPECT_EQ(CrashReportArguments(L"-dmp ").argument, L"");
}

TEST(CommandLineTest, JoinsArgumentsWithBlanks) {
  char prog[] = "websetup", a[] = "-close03", b[] = "/tmp/x y.zip";
  char* argv[] = {prog, a, b};
  EXPECT_EQ(JoinArguments(3, argv), L"-close03 /tmp/x y.zip");
  EXPECT_EQ(JoinArguments(1, argv), L"");
}

TEST(StartupTest, RefusesOnlyAThirtyTwoBitSystemWhenAskedWithExactlyZero) {
  EXPECT_TRUE(ShouldRefuse32BitSystem(L"0", false));
  EXPECT_FALSE(ShouldRefuse32BitSystem(L"0", true));
  EXPECT_FALSE(ShouldRefuse32BitSystem(L"", false));
  EXPECT_FALSE(ShouldRefuse32BitSystem(L"00", false));
  EXPECT_FALSE(ShouldRefuse32BitSystem(L"1", false));
}

}  // namespace
}  // namespace app
