#include "install/error_report.h"

#include <gtest/gtest.h>

#include <set>

#include "install_test_support.h"

namespace install {
namespace {

constexpr char kQueryUrl[] =
    "https://update.orlastra.example/queryDownloaderV2?LanguageId=1033&SoftWareID=630&SiteID=521";

class ErrorReportTest : public ServerFixture {
 protected:
  void SetUp() override {
    ServerFixture::SetUp();
    env_.exceptionBase = server_->baseUrl() + "/alert";
    env_.updateComBase = server_->baseUrl() + "/com";
    record_.queryUrl = kQueryUrl;
  }
  // The reports received so far, after waiting for `count` of them.
  std::vector<Json::Value> received(size_t count) {
    return exactRequests("/api/exception/send", count);
  }

  ReportEnvironment env_;
  config::CConfigure record_{630, 1033, 521};
  const std::wstring used_ = L"https://files.orlastra.example/d/setup_x.exe";
};

TEST_F(ErrorReportTest, ServerReceivesExactBodies) {
  EXPECT_EQ(SendErrorReport1(record_, used_, env_), 0);
  record_.source = config::CConfigure::kSourceEmbedded;
  EXPECT_EQ(SendErrorReport2(EnumVerifyFailure::kSignature, 631, record_, used_, env_), 0);
  record_.source = config::CConfigure::kSourceServer;
  EXPECT_EQ(SendErrorReport2(EnumVerifyFailure::kMd5, 631, record_, used_, env_), 0);
  EXPECT_EQ(SendErrorReport2(EnumVerifyFailure::kBoth, 631, record_, used_, env_), 0);
  const auto reports = received(4);
  ASSERT_EQ(reports.size(), 4u);
  const std::string other =
      std::string("&other=") + kQueryUrl + ",https://files.orlastra.example/d/setup_x.exe";
  // Each POST has its own connection, so the journal may hold them in any
  // order.
  std::set<std::string> bodies;
  for (const auto& r : reports) bodies.insert(r["body"].asString());
  EXPECT_EQ(bodies, (std::set<std::string>{
                        "pid=630&type=2&exception_code=Url_Too_Many_Redirects" + other,
                        "pid=631&type=2&exception_code=Hash_Check_Fail_Cfg2" + other,
                        "pid=631&type=2&exception_code=MD5_Check_Fail_Cfg1" + other,
                        "pid=631&type=2&exception_code=MD5_Hash_Check_Fail_Cfg1" + other}));
  for (const auto& r : reports) {
    EXPECT_EQ(r["method"].asString(), "POST");
    EXPECT_EQ(r["path"].asString(), "/alert/api/exception/send");
  }
}

TEST_F(ErrorReportTest, TestEnvSendsToUpdateComHost) {
  env_.testEnv = true;
  EXPECT_EQ(SendErrorReport1(record_, used_, env_), 0);
  const auto reports = received(1);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0]["path"].asString(), "/com/api/exception/send");
}

// An endless used URL must not run past the report's buffer.
TEST_F(ErrorReportTest, OverlongBodiesAreCutAtTheirLimits) {
  const std::wstring longUrl = L"https://files.example/" + std::wstring(5000, L'a');
  const std::string body1 = ErrorReport1Body(record_, longUrl);
  const std::string body2 = ErrorReport2Body(EnumVerifyFailure::kMd5, 630, record_, longUrl);
  EXPECT_EQ(body1.size(), 2047u);
  EXPECT_EQ(body2.size(), 1023u);
  EXPECT_EQ(body2.rfind("pid=630&type=2&exception_code=MD5_Check_Fail_Cfg0&other=", 0), 0u);
}

}  // namespace
}  // namespace install
