#include "config/run_locations.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <filesystem>
#include <fstream>
#include <string>

#include "common/log.h"
#include "common/text.h"
#include "config/logging_setup.h"
#include "platform/paths.h"
#include "support/temp_dir.h"

namespace config {
namespace {

TEST(LogStemTest, TakesTheTextBetweenLastSlashAndFirstDotAfterIt) {
  struct Case {
    const wchar_t* url;
    bool found;
    const wchar_t* stem;
  } cases[] = {
      {L"http://h.example/d/setup_x.exe", true, L"setup_x"},
      {L"http://h.example/d/x.y.exe", true, L"x"},
      {L"http://h.example/d.dir/setup", false, L""},  // no dot after the last slash
      {L"http://h.example/d/", false, L""},
      {L"setup.exe", false, L""},  // no slash at all
      {L"http://h.example/.exe", true, L""},
  };
  for (const auto& tc : cases) {
    bool found = !tc.found;
    EXPECT_EQ(logStemFromUrl(tc.url, &found), tc.stem) << common::wideToUtf8(tc.url);
    EXPECT_EQ(found, tc.found) << common::wideToUtf8(tc.url);
  }
}

TEST(RunLocationsTest, TimestampHasSeventeenDigits) {
  platform::LocalTime t;
  t.year = 2025, t.month = 7, t.day = 10, t.hour = 9, t.minute = 30, t.second = 15,
  t.millisecond = 123;
  EXPECT_EQ(formatRunTimestamp(t), L"20250710093015123");
  t.millisecond = 4;
  EXPECT_EQ(formatRunTimestamp(t), L"20250710093015004");
}

TEST(RunLocationsTest, DerivesEveryLocationAndCreatesTheFolders) {
  testing_support::TempDir tmp;
  const std::wstring appData = common::utf8ToWide(tmp.path());
  platform::LocalTime t;
  t.year = 2025, t.month = 7, t.day = 10, t.hour = 9, t.minute = 30, t.second = 15,
  t.millisecond = 123;
  const std::wstring cacheTarget = appData + L"/drive/RUDarodiridu/setup_x";
  RunLocations loc;
  ASSERT_EQ(loc.setup(L"setup_x", appData, t,
                      [&](const std::wstring& p) {
                        // The chooser sees the path on the log folder's volume.
                        EXPECT_NE(p.find(L"RUDarodiridu/setup_x"), std::wstring::npos);
                        return cacheTarget;
                      }),
            1);
  EXPECT_EQ(loc.getLogDirectory(), appData + L"/RUDarodiridu/logs/setup_x");
  EXPECT_EQ(loc.getLogFilePath(),
            appData + L"/RUDarodiridu/logs/setup_x/setup_x_20250710093015123.log");
  EXPECT_EQ(loc.getCacheDirectory(), cacheTarget);
  EXPECT_EQ(loc.getRunTimestamp(), L"20250710093015123");
  EXPECT_TRUE(platform::pathExists(common::wideToUtf8(loc.getLogDirectory())));
  EXPECT_TRUE(platform::pathExists(common::wideToUtf8(cacheTarget)));
}

// A cache folder that cannot be made would leave the install flow without a
// cache: it falls back beside the logs.
TEST(RunLocationsTest, UnwritableCacheFallsBackBesideTheLogs) {
  testing_support::TempDir tmp;
  const std::wstring appData = common::utf8ToWide(tmp.path());
  testing_support::writeFile(tmp.file("blocker"), "a file, not a folder");
  RunLocations loc;
  loc.setup(L"s", appData, platform::localTime(),
            [&](const std::wstring&) { return appData + L"/blocker/RUDarodiridu/s"; });
  EXPECT_EQ(loc.getCacheDirectory(), appData + L"/RUDarodiridu/s");
  EXPECT_TRUE(platform::pathExists(common::wideToUtf8(loc.getCacheDirectory())));
}

// Catches a cache folder that another user can change: the installer is
// checked there and then started with the setup's rights, so a file put
// there by them could run in its place.
TEST(RunLocationsTest, CacheFolderOthersCouldChangeIsReplacedByOurOwn) {
#ifdef _WIN32
  GTEST_SKIP() << "POSIX modes and owners; Windows folder rights are tested in "
                  "tests/platform/win32/files_win_test.cc";
#else
  testing_support::TempDir tmp;
  const std::wstring appData = common::utf8ToWide(tmp.path());
  const std::string cache = tmp.path() + "/drive/RUDarodiridu/setup_x";
  struct Case {
    const char* name;
    mode_t mode;
    bool otherOwner;  // only a root run can give the folder away
  } cases[] = {
      {"others may write", 0777, false},
      {"the group may write", 0770, false},
      {"another user's", 0755, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.otherOwner && geteuid() != 0) continue;
    std::filesystem::remove_all(tmp.path() + "/drive");
    ASSERT_EQ(platform::createDirectoryChain(cache), platform::PlatformResult::kOk);
    testing_support::writeFile(cache + "/setup_x_1.0.exe", "planted");
    ASSERT_EQ(chmod(cache.c_str(), c.mode), 0);
    if (c.otherOwner) {
      ASSERT_EQ(chown(cache.c_str(), 65534, 65534), 0);
    }

    RunLocations loc;
    loc.setup(L"setup_x", appData, platform::localTime(),
              [&](const std::wstring&) { return common::utf8ToWide(cache); });
    ASSERT_EQ(loc.getCacheDirectory(), common::utf8ToWide(cache));
    struct stat st {};
    ASSERT_EQ(lstat(cache.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, geteuid());
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_FALSE(platform::pathExists(cache + "/setup_x_1.0.exe"))
        << "the planted file is still there";
  }
  // Our own folder is kept with what it holds (a resumable download).
  testing_support::writeFile(cache + "/setup_x_1.0.exe", "partial");
  RunLocations again;
  again.setup(L"setup_x", appData, platform::localTime(),
              [&](const std::wstring&) { return common::utf8ToWide(cache); });
  EXPECT_TRUE(platform::pathExists(cache + "/setup_x_1.0.exe"));
#endif
}

// A folder above the cache that others may write lets them move the cache
// away and put their own in its place: it is not used.
TEST(RunLocationsTest, CacheBelowAFolderOthersMayWriteFallsBackBesideTheLogs) {
#ifdef _WIN32
  GTEST_SKIP() << "POSIX modes and owners; Windows folder rights are tested in "
                  "tests/platform/win32/files_win_test.cc";
#else
  testing_support::TempDir tmp;
  const std::wstring appData = common::utf8ToWide(tmp.path());
  const std::string open = tmp.path() + "/shared";
  ASSERT_EQ(platform::createDirectoryChain(open), platform::PlatformResult::kOk);
  ASSERT_EQ(chmod(open.c_str(), 0777), 0);
  RunLocations loc;
  loc.setup(L"s", appData, platform::localTime(),
            [&](const std::wstring&) { return common::utf8ToWide(open + "/RUDarodiridu/s"); });
  EXPECT_EQ(loc.getCacheDirectory(), appData + L"/RUDarodiridu/s");
#endif
}

TEST(RunLocationsTest, TwoRunsInOneSecondGetDistinctLogFiles) {
  testing_support::TempDir tmp;
  const std::wstring appData = common::utf8ToWide(tmp.path());
  platform::LocalTime t;
  t.year = 2026, t.month = 1, t.day = 2, t.hour = 3, t.minute = 4, t.second = 5, t.millisecond = 6;
  RunLocations first, second;
  // The cache stays in the test's folder, not at the volume's root.
  auto intoTmp = [&](const std::wstring&) { return appData + L"/cache/s"; };
  first.setup(L"s", appData, t, intoTmp);
  t.millisecond = 7;
  second.setup(L"s", appData, t, intoTmp);
  EXPECT_NE(first.getLogFilePath(), second.getLogFilePath());
}

// WEBSETUP_CACHE_ROOT stands for the volume root: the cache goes below it
// and no drive choice moves it elsewhere.
TEST(RunLocationsTest, CacheRootOverrideKeepsTheCacheBelowIt) {
  testing_support::TempDir tmp;
  const std::wstring appData = common::utf8ToWide(tmp.path());
  setenv("WEBSETUP_CACHE_ROOT", tmp.file("root").c_str(), 1);
  bool chooserCalled = false;
  RunLocations loc;
  loc.setup(L"setup_x", appData, platform::localTime(), [&](const std::wstring& p) {
    chooserCalled = true;
    return p;
  });
  unsetenv("WEBSETUP_CACHE_ROOT");
  EXPECT_EQ(loc.getCacheDirectory(),
            common::utf8ToWide(tmp.file("root")) + L"/RUDarodiridu/setup_x");
  EXPECT_FALSE(chooserCalled);
  EXPECT_TRUE(platform::pathExists(tmp.file("root/RUDarodiridu/setup_x")));
}

TEST(LoggingSetupTest, UrlWithoutFileNameLeavesLoggingUnconfigured) {
  RunLocations loc;
  EXPECT_FALSE(setUpLogging(L"http://h.example/d/", &loc, nullptr));
  EXPECT_FALSE(loc.configured());
}

TEST(LoggingSetupTest, WritesLinesInTheLogFormatToTheRunFile) {
  testing_support::TempDir tmp;
  setenv("APPDATA", tmp.path().c_str(), 1);
  RunLocations loc;
  const std::wstring cache = common::utf8ToWide(tmp.file("cache"));
  ASSERT_TRUE(setUpLogging(L"http://h.example/d/setup_z.exe", &loc,
                           [&](const std::wstring&) { return cache; }));
  LOG(INFO) << " Wait exit 1";
  el::Loggers::flushAll();
  std::string log = testing_support::readFile(common::wideToUtf8(loc.getLogFilePath()));
  // Windows writes the log's lines with CR LF.
  std::erase(log, '\r');
  // "2026-01-02 03:04:05,678--[Thread](1234)  Wait exit 1"
  const size_t at = log.find("--[Thread](");
  ASSERT_NE(at, std::string::npos) << log;
  EXPECT_EQ(log[at - 4], ',') << "milliseconds in the time stamp: " << log;
  EXPECT_NE(log.find(")  Wait exit 1\n", at), std::string::npos) << log;
  unsetenv("APPDATA");
}

}  // namespace
}  // namespace config
