// WebLog operations and the exported functions against maker-services.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <new>

#include "platform/executable_section.h"
#include "tests/support/maker_services.h"
#include "tests/support/subprocess.h"
#include "tests/support/temp_dir.h"
#include "tests/weblog/export_module.h"
#include "weblog/machine_identity.h"
#include "weblog/web_log.h"

// Allocations of the calling thread fail while this is set. Sanitizers
// supply their own operator new, so the replacement exists only without
// them.
static thread_local bool g_failAllocations = false;
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
static constexpr bool kCanFailAllocations = false;
#else
static constexpr bool kCanFailAllocations = true;
void* operator new(std::size_t size) {
  if (g_failAllocations) throw std::bad_alloc();
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
// The library's operator delete frees with free(), which matches.
#endif

namespace weblog {
namespace {

using testing_support::MakerServices;
using namespace std::chrono_literals;

class WebLogTest : public ::testing::Test {
 protected:
  WebLogTest() : services_(root_.path()) {}

  std::unique_ptr<WebLog> MakeWebLog(const std::string& userLogBase = "") {
    WebLogOptions options;
    const std::string base = services_.baseUrl();
    options.endpoints = {base, base, base, base, userLogBase.empty() ? base : userLogBase,
                         base, base, base};
    options.guidStore = FolderGuidStore(registry_.path());
    options.workingDir = work_.path();
    options.errorLogPath = "";
    return std::make_unique<WebLog>(std::move(options));
  }
  void SetMode(const std::string& key, const std::string& value) {
    std::string out;
    ASSERT_EQ(testing_support::runToEnd(
                  {"/usr/bin/curl", "-s", "-d", "",
                   services_.baseUrl() + "/control/mode?key=" + key + "&value=" + value},
                  10s, &out),
              0);
  }
  // Journal lines of `path`, waiting until the server has written `atLeast`.
  std::vector<Json::Value> Requests(const std::string& path, size_t atLeast = 0) {
    return services_.requestsTo(path, atLeast, 10s);
  }

  testing_support::TempDir root_;
  testing_support::TempDir registry_;
  testing_support::TempDir work_;
  MakerServices services_;
};

TEST_F(WebLogTest, Ga4HitOnlySucceedsOn204) {
  auto log = MakeWebLog();
  EXPECT_EQ(log->SendGa4Event(""), -2);
  EXPECT_EQ(log->SendGa4Event("&en=a b"), 0);
  SetMode("ga4.status", "200");
  EXPECT_EQ(log->SendGa4Event("&en=x"), -1);
  const auto hits = Requests("/g/collect", 2);
  ASSERT_EQ(hits.size(), 2u);
  const std::string query = hits[0]["query"].asString();
  EXPECT_EQ(query.rfind("v=2&cid=" + ClientId() + "&en=a%20b", 0), 0u) << query;
  EXPECT_EQ(hits[0]["body"], "");
  EXPECT_EQ(hits[0]["headers"]["Content-Type"], "application/json; charset=utf-8");
}

TEST_F(WebLogTest, AnalyticsDocumentGoesToTheRightCollector) {
  auto log = MakeWebLog();
  EXPECT_EQ(log->SoftDataReport("{\"is_new\": 1, \"pid\": 9666}"), 0);
  testing_support::writeFile(work_.file("test"), "");
  EXPECT_EQ(log->SoftDataReport("{}"), 0);
  SetMode("test_collector.status", "204");
  EXPECT_EQ(log->SoftDataReport("{}"), 4);
  const auto collect = Requests("/collect", 1);
  ASSERT_EQ(collect.size(), 1u);
  Json::Value doc;
  ASSERT_TRUE(Json::Reader().parse(collect[0]["body"].asString(), doc));
  EXPECT_EQ(doc["common"]["pid"], 9666);
  EXPECT_EQ(doc["common"]["session_id"], SessionId());
  EXPECT_EQ(doc["common"]["uid"], AnalyticsUid());
  EXPECT_EQ(Requests("/collector", 2).size(), 2u);
}

// The fault: a directory named test opened as a marker file, and every
// document went to the test collector.
TEST_F(WebLogTest, ADirectoryNamedTestIsNoTestRun) {
  auto log = MakeWebLog();
  ASSERT_TRUE(std::filesystem::create_directory(work_.file("test")));
  EXPECT_EQ(log->SoftDataReport("{}"), 0);
  EXPECT_EQ(Requests("/collect", 1).size(), 1u);
  EXPECT_EQ(Requests("/collector").size(), 0u);
}

TEST_F(WebLogTest, IdentityWithoutStoredGuidFallsBackAndStores) {
  auto log = MakeWebLog();
  const char* guid = nullptr;
  const char* userId = nullptr;
  EXPECT_EQ(log->GetUserIdentity(&guid, &userId), 0);
  EXPECT_EQ(std::string(userId), "1001");
  ASSERT_EQ(std::string(guid).size(), 36u);
  EXPECT_EQ(testing_support::readFile(registry_.file("guid")), guid);
  EXPECT_EQ(testing_support::readFile(registry_.file("user_id")), "1001");
  // The bootstrap file named this server; the location came from it too.
  EXPECT_EQ(log->LogServerBase(), services_.baseUrl());
  EXPECT_EQ(Requests("/QueryUser").size(), 0u);
  EXPECT_EQ(log->AddUserLog(10202, 1, "r", 42, 1033, 521, "1.0", "", 0, 0), 0);
  const auto add = Requests("/AddUserLog", 1);
  ASSERT_EQ(add.size(), 1u);
  const std::string q = add[0]["query"].asString();
  EXPECT_EQ(q.rfind("USER_ID=1001&OP_ID=00010202&SoftWareID=00000042&RegEmail=&UseTime=", 0), 0u)
      << q;
  EXPECT_NE(
      q.find("&Location=Norway&City=Oslo&OutIP=127.0.0.1&LanguageId=00001033&Result=00000001"
             "&ResultData=r&SiteID=00000521&CurVersion=1.0&ActivityID=00000000&VersionID=00000000"),
      std::string::npos)
      << q;
}

TEST_F(WebLogTest, IdentityWithStoredGuidAsksTheServer) {
  testing_support::writeFile(registry_.file("guid"), "G-1");
  testing_support::writeFile(registry_.file("user_id"), "77");
  auto log = MakeWebLog();
  const char* guid = nullptr;
  const char* userId = nullptr;
  log->GetUserIdentity(&guid, &userId);
  EXPECT_EQ(std::string(guid), "G-1");
  EXPECT_EQ(std::string(userId), "20260001");
  EXPECT_EQ(Requests("/QueryUser", 1)[0]["query"], "guid=G-1");
  // An empty answer keeps the stored values and rewrites the fallback id.
  SetMode("query_user.body", "-");
  log->GetUserIdentity(&guid, &userId);
  EXPECT_EQ(std::string(guid), "G-1");
  EXPECT_EQ(std::string(userId), "1001");
}

TEST_F(WebLogTest, UnreachableLogServerLeavesIdentityEmpty) {
  testing_support::writeFile(registry_.file("guid"), "G-1");
  testing_support::writeFile(registry_.file("user_id"), "77");
  SetMode("bootstrap.body", "no-address-here");
  auto log = MakeWebLog("http://127.0.0.1:1");
  const char* guid = nullptr;
  const char* userId = nullptr;
  EXPECT_EQ(log->GetUserIdentity(&guid, &userId), 0);
  // A bootstrap answer without "http" keeps the built-in base.
  EXPECT_EQ(log->LogServerBase(), "http://127.0.0.1:1");
  EXPECT_EQ(std::string(guid), "");
  EXPECT_EQ(std::string(userId), "");
  EXPECT_EQ(log->AddUserLog(1, 1, "", 42, 1033, 521, "", "", 0, 0), -1);
}

TEST_F(WebLogTest, PreconditionsFailWithoutRequest) {
  auto log = MakeWebLog();
  const char* response = nullptr;
  EXPECT_EQ(log->AddUserLog(0, 1, "", 42, 1, 1, "", "", 0, 0), -1);
  EXPECT_EQ(log->QueryDownloader(&response, 42, 1033, 0), -1);
  EXPECT_EQ(log->SendTicket(0, "", "", "", "c", ""), -1);
  EXPECT_EQ(log->SendUaEvent("UA-1", "app", "1", "", "a", "", "&x=1"), -2);
  EXPECT_EQ(log->QueryDownloader(&response, 42, 1033, 521), 0);
  EXPECT_STREQ(response, "<Downloader SiteID=\"00000521\" />");
  EXPECT_EQ(log->SendTicket(7, "1.0", "a@b", "s", "c", "L"), 0);
  EXPECT_EQ(log->SendUaEvent("UA-1", "app", "1", "c", "a", "", "&cd1=x"), 0);
  SetMode("ua.body", "OK");
  EXPECT_EQ(log->SendUaEvent("UA-1", "app", "1", "c", "a", "", "&cd1=x"), -3);
  for (const Json::Value& line : services_.journal()) {
    EXPECT_NE(line["path"], "/AddUserLog");
  }
  EXPECT_EQ(Requests("/api/v1/ticket/feedback", 1)[0]["body"],
            "product_id=00000007&useremail=a@b&content=c&log_id=L&version=1.0&subject=s");
}

// Another process's installer script loads the library shipped beside the
// program (glibc refuses to dlopen the program itself, and Windows runs no
// start-up code of a program loaded as a module) and calls NSISLog.
TEST_F(WebLogTest, NsisLogThroughTheShippedModule) {
  ::setenv("WEBSETUP_SERVICES_BASE", services_.baseUrl().c_str(), 1);
  ::setenv("WEBSETUP_REGISTRY", registry_.path().c_str(), 1);
  std::string error;
  void* module = weblog_test::LoadExportModule(WEBLOG_EXPORT_MODULE, &error);
  ASSERT_NE(module, nullptr) << error;
  using NsisLogFn = int (*)(int, int, int, int);
  using CreateFn = IWebLog* (*)();
  using DestroyFn = void (*)(IWebLog*);
  auto nsisLog = reinterpret_cast<NsisLogFn>(weblog_test::ExportedFunction(module, "NSISLog"));
  auto create =
      reinterpret_cast<CreateFn>(weblog_test::ExportedFunction(module, "CreateExportObj"));
  auto destroy =
      reinterpret_cast<DestroyFn>(weblog_test::ExportedFunction(module, "DestroyExportObj"));
  ASSERT_TRUE(nsisLog && create && destroy);
  destroy(nullptr);
  IWebLog* obj = create();
  ASSERT_NE(obj, nullptr);
  EXPECT_EQ(obj->SendGa4Event("&en=viaTable"), 0);
  destroy(obj);
  EXPECT_EQ(nsisLog(123, 45, 1033, 521), 0);
  const auto add = Requests("/AddUserLog", 1);
  ASSERT_EQ(add.size(), 1u);
  const std::string q = add[0]["query"].asString();
  EXPECT_NE(q.find("OP_ID=00000123&SoftWareID=00000045"), std::string::npos) << q;
  EXPECT_NE(q.find("&LanguageId=00001033&Result=00000001&ResultData=&SiteID=00000521"),
            std::string::npos)
      << q;
  // The module stays loaded: NSISLog's thread may outlive the call.
  ::unsetenv("WEBSETUP_SERVICES_BASE");
  ::unsetenv("WEBSETUP_REGISTRY");
}

// The shipped library carries the version lines, as the program does.
TEST(ExportLibraryTest, CarriesTheVersionSection) {
  std::string section;
  ASSERT_EQ(platform::readExecutableSection(WEBLOG_EXPORT_MODULE, ".websetup_version", &section),
            platform::PlatformResult::kOk);
  EXPECT_NE(section.find("FileDescription=Web setup log functions"), std::string::npos) << section;
}

// The fault: an exception in CreateExportObj (here: memory running out)
// crossed the C boundary and ended the calling process.
TEST(ExportLibraryTest, CreateExportObjReturnsNullInsteadOfThrowing) {
#ifdef _WIN32
  GTEST_SKIP() << "a Windows module has its own operator new, which this test cannot fail";
#endif
  if (!kCanFailAllocations) GTEST_SKIP() << "sanitizers own operator new";
  std::string error;
  void* module = weblog_test::LoadExportModule(WEBLOG_EXPORT_MODULE, &error);
  ASSERT_NE(module, nullptr) << error;
  auto create =
      reinterpret_cast<IWebLog* (*)()>(weblog_test::ExportedFunction(module, "CreateExportObj"));
  ASSERT_NE(create, nullptr);
  bool threw = false;
  IWebLog* obj = reinterpret_cast<IWebLog*>(1);
  g_failAllocations = true;
  try {
    obj = create();
  } catch (...) {
    threw = true;
  }
  g_failAllocations = false;
  EXPECT_FALSE(threw);
  EXPECT_EQ(obj, nullptr);
}

}  // namespace
}  // namespace weblog
