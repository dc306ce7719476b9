// Certificate verification of every transport against maker-services over
// HTTPS: what a trusted certificate serves, what an untrusted issuer, a
// wrong host name and an expired certificate are refused with, and the
// services file's escape for one service.

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

#include "common/text.h"
#include "config/configure.h"
#include "config/run_locations.h"
#include "config/services.h"
#include "engine/download_impl.h"
#include "engine/libcurl_tool.h"
#include "install/download_info_query.h"
#include "net/transport_policy.h"
#include "net_test_env.h"
#include "platform/clock.h"
#include "support/maker_services.h"
#include "support/temp_dir.h"
#include "telemetry/single_user_log.h"
#include "test_certificates.h"
#include "tinyproxy.h"
#include "weblog/curl_http_client.h"
#include "weblog/http_get.h"
#include "weblog/machine_guid_store.h"
#include "weblog/web_log.h"

namespace net_test {
namespace {

using testing_support::MakerServices;
using testing_support::TempDir;

constexpr char kBlock[] =
    "<Downloader><Software_name>Orlastra</Software_name>"
    "<Download_url>https://cdn.orlastra.example/p/setup_x.exe</Download_url>"
    "<Md5>abc</Md5></Downloader>";

class TlsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    pki_ = new TempDir;
    root_ = new TempDir;
    ASSERT_TRUE(MakeTestCertificates(pki_->path(), &certs_));
    ASSERT_TRUE(testing_support::writeFile(root_->file("hello.txt"), "hello over TLS"));
    ASSERT_TRUE(testing_support::writeFile(root_->file("downloader.xml"), kBlock));
    // One file per test: the engine remembers a length per URL for the run.
    for (const char* name : {"setup.bin", "refused.bin"}) {
      ASSERT_TRUE(testing_support::writeFile(root_->file(name), std::string(2 << 20, 'x')));
    }
    valid_ = new MakerServices(root_->path(), {"--tls-cert", certs_.serverCert, "--tls-key",
                                               certs_.serverKey});
    expired_ = new MakerServices(root_->path(), {"--tls-cert", certs_.expiredCert, "--tls-key",
                                                 certs_.expiredKey});
  }
  static void TearDownTestSuite() {
    delete valid_;
    delete expired_;
    delete root_;
    delete pki_;
  }
  void SetUp() override {
    setenv("WEBSETUP_TRUSTED_CA", certs_.caCert.c_str(), 1);
    ClearLog();
  }
  void TearDown() override { unsetenv("WEBSETUP_TRUSTED_CA"); }

  static std::string Https(const MakerServices* server, const char* host = "127.0.0.1") {
    return std::string("https://") + host + ":" + std::to_string(server->port());
  }

  // The engine's plain GET of `url`; its result.
  static int EngineGet(const std::string& url, std::string* body) {
    engine::CLibcurlTool tool;
    return tool.httpGet(url.c_str(), *body, false);
  }

  static int Download(const std::string& url, const TempDir& to) {
    std::string cdn;
    return engine::CDownLoadImpl::SuperDownloadFile(common::utf8ToWide(url),
                                                    common::utf8ToWide(to.file("setup.bin")), &cdn);
  }

  static inline TempDir* pki_ = nullptr;
  static inline TempDir* root_ = nullptr;
  static inline TestCertificates certs_;
  static inline MakerServices* valid_ = nullptr;
  static inline MakerServices* expired_ = nullptr;
};

// A certificate of the deployment's CA carries every transport: engine GET
// and download, the user-log GET and the telemetry POST.
TEST_F(TlsTest, TrustedCertificateCarriesEveryTransport) {
  const std::string base = Https(valid_);
  std::string body;
  EXPECT_EQ(EngineGet(base + "/files/hello.txt", &body), 0) << LogText();
  EXPECT_EQ(body, "hello over TLS");
  body.clear();
  EXPECT_EQ(weblog::HttpGet(base + "/files/hello.txt", &body), 0);
  EXPECT_EQ(body, "hello over TLS");
  weblog::CurlHttpClient client("");
  EXPECT_EQ(client.Post(base + "/collect", "Content-Type: application/json", "{}"), 0);
  EXPECT_EQ(client.GetResponseCode(), 200);
  TempDir out;
  EXPECT_EQ(Download(base + "/files/setup.bin", out), 1) << LogText();
  EXPECT_EQ(testing_support::readFile(out.file("setup.bin")).size(), 2u << 20);
  EXPECT_EQ(LogCount("TLS refused"), 0) << LogText();
}

// Without the deployment's CA the server's issuer is unknown: every
// transport fails as against a dead server, the download with result 6,
// and the log says why.
TEST_F(TlsTest, UntrustedIssuerFailsEveryTransportLikeADeadServer) {
  setenv("WEBSETUP_TRUSTED_CA", certs_.strangerCa.c_str(), 1);
  const std::string base = Https(valid_);
  std::string body;
  EXPECT_EQ(EngineGet(base + "/files/hello.txt", &body), CURLE_PEER_FAILED_VERIFICATION);
  EXPECT_TRUE(body.empty());
  EXPECT_EQ(weblog::HttpGet(base + "/files/hello.txt", &body), -1);
  weblog::CurlHttpClient client("");
  EXPECT_EQ(client.Post(base + "/g/collect", "Content-Type: application/json", "{}"),
            CURLE_PEER_FAILED_VERIFICATION);
  TempDir out;
  EXPECT_EQ(Download(base + "/files/refused.bin", out), 6);
  EXPECT_GE(LogCount(" TLS refused " + base + ": unable to get local issuer certificate"), 4)
      << LogText();
  // Nothing got past the handshake.
  EXPECT_EQ(valid_->requestsTo("/files/refused.bin", 0, std::chrono::milliseconds(0)).size(), 0u);
  EXPECT_EQ(valid_->requestsTo("/g/collect", 0, std::chrono::milliseconds(0)).size(), 0u);
}

// The configuration query to a host with an untrusted certificate gets no
// answer, so the flow goes on with the embedded configuration.
TEST_F(TlsTest, ConfigurationQueryToUntrustedHostLeavesTheEmbeddedConfiguration) {
  install::QueryEnvironment env;
  env.comBase = env.cnBase = env.testBase = Https(valid_);
  config::CConfigure trusted{630, 1033, 521};
  EXPECT_EQ(install::getDownloadInfoXml(&trusted, true, false, env), 1);
  EXPECT_EQ(trusted.rawAnswer, kBlock);

  setenv("WEBSETUP_TRUSTED_CA", certs_.strangerCa.c_str(), 1);
  config::CConfigure refused{630, 1033, 521};
  EXPECT_EQ(install::getDownloadInfoXml(&refused, true, false, env), 0);
  EXPECT_TRUE(refused.rawAnswer.empty());
  EXPECT_EQ(LogCount("TLS refused"), 1) << LogText();
}

// A telemetry record bound for a host with an untrusted certificate is
// retried and then dropped, as for a dead host, and never reaches it.
TEST_F(TlsTest, TelemetryToUntrustedHostIsRetriedThenDropped) {
  setenv("WEBSETUP_TRUSTED_CA", certs_.strangerCa.c_str(), 1);
  TempDir registry, work;
  config::RunLocations locations;
  const std::wstring drive = common::utf8ToWide(work.file("drive/setup_x"));
  locations.setup(L"setup_x", common::utf8ToWide(work.path()), platform::localTime(),
                  [drive](const std::wstring&) { return drive; });
  telemetry::SingleUserLogOptions options;
  const std::string base = Https(valid_);
  const std::string store = registry.path();
  options.createWebLog = [base, store] {
    weblog::WebLogOptions o;
    o.endpoints = {base, base, base, base, base, base, base, base};
    o.guidStore = weblog::FolderGuidStore(store);
    o.errorLogPath = "";
    return static_cast<IWebLog*>(new weblog::WebLog(std::move(o)));
  };
  options.destroyWebLog = [](IWebLog* p) { delete static_cast<weblog::WebLog*>(p); };
  options.facts = {"2.3.4.5", "/opt/dl/Setup_ab12.exe", "Windows 10", true, "English"};
  options.exitWait = std::chrono::seconds(60);
  options.idlePause = std::chrono::milliseconds(20);
  options.runLocations = &locations;
  {
    telemetry::CSingleUserLog log(std::move(options));
    log.AddUserLog_event("Other", "SetPath", "", false);
    EXPECT_TRUE(log.WaitThreadForExit());
  }
  EXPECT_EQ(LogCount("send ga4 fail in ga4 queue, retry is max, retcode = -3, Other###SetPath"), 2)
      << LogText();
  // The four GA4 attempts and the identity lookups before them.
  EXPECT_GE(LogCount(" TLS refused " + base + ": unable to get local issuer certificate"), 4)
      << LogText();
  EXPECT_EQ(valid_->requestsTo("/g/collect", 0, std::chrono::milliseconds(0)).size(), 0u);
}

// Through the system's proxy an https:// request tunnels (CONNECT) and the
// server behind the tunnel is verified as on a direct connection.
TEST_F(TlsTest, ProxiedRequestsAreVerifiedThroughTheTunnel) {
  Tinyproxy proxy;
  ASSERT_TRUE(proxy.ready()) << proxy.errors();
  setenv("https_proxy", proxy.url().c_str(), 1);
  const std::string base = Https(valid_);
  std::string body;
  EXPECT_EQ(EngineGet(base + "/files/hello.txt", &body), 0) << LogText();
  EXPECT_EQ(body, "hello over TLS");
  setenv("WEBSETUP_TRUSTED_CA", certs_.strangerCa.c_str(), 1);
  EXPECT_EQ(EngineGet(base + "/files/hello.txt", &body), CURLE_PEER_FAILED_VERIFICATION);
  unsetenv("https_proxy");
  const std::string log = proxy.log();
  size_t tunnels = 0;
  for (size_t at = log.find("CONNECT 127.0.0.1:"); at != std::string::npos;
       at = log.find("CONNECT 127.0.0.1:", at + 1)) {
    ++tunnels;
  }
  EXPECT_EQ(tunnels, 2u) << log;
}

// The certificate names 127.0.0.1; the same server reached as localhost
// is refused.
TEST_F(TlsTest, WrongHostNameIsRefused) {
  const std::string base = Https(valid_, "localhost");
  std::string body;
  EXPECT_EQ(EngineGet(base + "/files/hello.txt", &body), CURLE_PEER_FAILED_VERIFICATION);
  EXPECT_EQ(LogCount(" TLS refused " + base + ": the certificate does not name this host"), 1)
      << LogText();
}

TEST_F(TlsTest, ExpiredCertificateIsRefused) {
  const std::string base = Https(expired_);
  std::string body;
  EXPECT_EQ(EngineGet(base + "/files/hello.txt", &body), CURLE_PEER_FAILED_VERIFICATION);
  EXPECT_EQ(weblog::HttpGet(base + "/files/hello.txt", &body), -1);
  EXPECT_EQ(LogCount(" TLS refused " + base + ": certificate has expired"), 2) << LogText();
}

// tls="insecure" lets exactly that service's origin through unverified,
// says so once per run, and leaves every other origin verified.
TEST_F(TlsTest, InsecureServiceIsReachedUnverifiedAndSaidOnce) {
  const std::string insecure = Https(expired_, "localhost");
  config::Services services;
  ASSERT_TRUE(config::Services::parse("<Services><Service name=\"banner\" url=\"" + insecure +
                                          "\" tls=\"insecure\"/><Service name=\"ga4\" url=\"" +
                                          Https(expired_) + "\"/></Services>",
                                      &services));
  EXPECT_TRUE(services.insecureTls(config::service::kBanner));
  EXPECT_FALSE(services.insecureTls(config::service::kGa4));
  services.allowInsecureTls();

  std::string body;
  EXPECT_EQ(EngineGet(services.url(config::service::kBanner) + "/files/hello.txt", &body), 0);
  EXPECT_EQ(body, "hello over TLS");
  EXPECT_EQ(weblog::HttpGet(insecure + "/files/hello.txt", &body), 0);
  EXPECT_EQ(LogCount(" TLS verification is off for " + insecure), 1) << LogText();
  EXPECT_EQ(EngineGet(services.url(config::service::kGa4) + "/files/hello.txt", &body),
            CURLE_PEER_FAILED_VERIFICATION);
}

}  // namespace
}  // namespace net_test
