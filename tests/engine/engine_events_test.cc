#include "engine/engine_events.h"

#include <gtest/gtest.h>

#include <map>

namespace engine {
namespace {

// The program keeps the size cache with telemetry; a resumed download that
// looked in the engine's own map instead would probe the server again and
// lose the "ResumUpload" path.
TEST(EngineEventsTest, ContentLengthCacheFollowsTheHooks) {
  ClearContentLengthCache();
  std::map<std::string, int64_t> home;
  EngineEvents hooks;
  hooks.rememberContentLength = [&](const std::string& url, int64_t n) { home[url] = n; };
  hooks.lookupContentLength = [&](const std::string& url) {
    auto it = home.find(url);
    return it == home.end() ? int64_t{0} : it->second;
  };
  setEngineEvents(hooks);
  RememberContentLength("http://h/a.exe", 4194304);
  RememberContentLength("http://h/zero.exe", 0);  // never cached
  EXPECT_EQ(home.size(), 1u);
  EXPECT_EQ(LookupContentLength("http://h/a.exe"), 4194304);

  resetEngineEvents();
  EXPECT_EQ(LookupContentLength("http://h/a.exe"), 0);  // the engine's own map is separate
  RememberContentLength("http://h/a.exe", 7);
  EXPECT_EQ(LookupContentLength("http://h/a.exe"), 7);
  ClearContentLengthCache();
}

}  // namespace
}  // namespace engine
