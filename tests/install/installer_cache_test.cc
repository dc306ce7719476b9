// The names of an installer's files in the cache: a later start of the
// setup finds its resumable download by them, and server text must never
// move them out of the cache.

#include "install/installer_cache.h"

#include <gtest/gtest.h>

#include "common/text.h"

namespace install {
namespace {

// Catches a stem taken from the wrong part of the URL, a package named as a
// program, and a server version that leaves the cache or breaks the name.
TEST(InstallerCacheTest, NamesFollowTheEmbeddedUrlAndASafeVersion) {
  struct Case {
    const wchar_t* embeddedUrl;
    const wchar_t* version;
    const wchar_t* extraUrl;
    const wchar_t* installer;
  } cases[] = {
      {L"https://h.example/d/setup_orlastra.exe", L"1.0.0.0", L"",
       L"/c/setup_orlastra_1.0.0.0.exe"},
      {L"https://h.example/d.v2/setup.x.exe", L"2", L"https://h.example/p.exe", L"/c/setup_2.exe"},
      {L"setup_orlastra.exe", L"1", L"https://h.example/app.apk", L"/c/setup_orlastra_1.apk"},
      {L"https://h.example/setup.exe", L"../../1", L"", L"/c/setup_.exe"},
      {L"https://h.example/setup.exe", L"1/2", L"", L"/c/setup_.exe"},
      {L"https://h.example/setup.exe", L"1\\2", L"", L"/c/setup_.exe"},
      {L"https://h.example/setup.exe", L"1\n2", L"", L"/c/setup_.exe"},
      {L"https://h.example/setup.exe", L"1.2..3", L"", L"/c/setup_.exe"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(common::wideToUtf8(c.version));
    const InstallerFiles files = InstallerFilesFor(L"/c", c.embeddedUrl, c.version, c.extraUrl);
    EXPECT_EQ(files.installer, c.installer);
    EXPECT_EQ(files.taskFile(), std::wstring(c.installer) + L".xml");
    EXPECT_EQ(files.hashRecord(), std::wstring(c.installer) + L".db");
  }
}

}  // namespace
}  // namespace install
