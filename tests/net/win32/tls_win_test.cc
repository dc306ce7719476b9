// Certificate verification as the Windows program does it: libcurl's
// Schannel backend checks the server against the deployment's CA file that
// net::ApplyTransportPolicy names, here against maker-services over HTTPS.
//
// The certificates come from the build machine's openssl command (this
// build has no OpenSSL library), started under Wine as the Linux program it
// is. They name "localhost", not 127.0.0.1: Schannel's host check in this
// libcurl matches DNS names only.
//
// Every test names its CA file in WEBSETUP_TRUSTED_CA. With one, libcurl
// checks the chain and the host name itself against that file alone, as
// on a deployed machine. Without one it leaves the check to Schannel, and
// Wine's Schannel accepts what Windows refuses: a certificate of an unknown
// CA, or for another host, goes through.

#include <curl/curl.h>
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "common/text.h"
#include "net/transport_policy.h"
#include "support/maker_services.h"
#include "support/subprocess.h"
#include "support/temp_dir.h"

namespace net_test {
namespace {

using testing_support::MakerServices;
using testing_support::TempDir;

constexpr char kOpenssl[] = "/usr/bin/openssl";

// Runs the build machine's openssl with `args`; its error output when it
// fails, empty when it succeeds.
std::string Openssl(const std::vector<std::string>& args) {
  std::vector<std::string> argv = {kOpenssl};
  argv.insert(argv.end(), args.begin(), args.end());
  testing_support::Subprocess child(argv);
  const int rc = child.wait(std::chrono::seconds(60));
  if (rc == 0) return std::string();
  return "openssl " + args.front() + " ended with " + std::to_string(rc) + ": " + child.errors();
}

// A self-signed CA: `name`.pem and `name`.key in `dir`.
std::string MakeCa(const TempDir& dir, const std::string& name) {
  return Openssl({"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-sha256", "-days", "2", "-subj",
                  "/CN=websetup test " + name, "-keyout", dir.file(name + ".key"), "-out",
                  dir.file(name + ".pem"), "-addext", "basicConstraints=critical,CA:TRUE",
                  "-addext", "keyUsage=critical,keyCertSign,cRLSign"});
}

// A server certificate for `host` issued by the CA `ca`: `name`.pem and
// `name`.key in `dir`. Each certificate of one CA gets its own `serial`, as
// a CA's would.
std::string MakeServerCertificate(const TempDir& dir, const std::string& ca,
                                  const std::string& name, const std::string& host, int serial) {
  const std::string extensions = dir.file(name + ".ext");
  if (!testing_support::writeFile(extensions,
                                  "basicConstraints=CA:FALSE\n"
                                  "keyUsage=critical,digitalSignature,keyEncipherment\n"
                                  "extendedKeyUsage=serverAuth\n"
                                  "subjectAltName=DNS:" +
                                      host + "\n")) {
    return "cannot write " + extensions;
  }
  const std::string request = dir.file(name + ".csr");
  std::string failure =
      Openssl({"req", "-new", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=" + host, "-keyout",
               dir.file(name + ".key"), "-out", request});
  if (!failure.empty()) return failure;
  // A serial of our own: -CAcreateserial would leave a file beside the CA.
  return Openssl({"x509", "-req", "-sha256", "-days", "2", "-in", request, "-CA",
                  dir.file(ca + ".pem"), "-CAkey", dir.file(ca + ".key"), "-set_serial",
                  std::to_string(serial), "-extfile", extensions, "-out", dir.file(name + ".pem")});
}

// What one GET through the transport policy came to.
struct Fetched {
  CURLcode code = CURLE_OK;
  long status = 0;
  std::string body;
  std::string error;  // libcurl's own words, for the failure messages
};

size_t Append(char* data, size_t size, size_t count, void* to) {
  static_cast<std::string*>(to)->append(data, size * count);
  return size * count;
}

// A GET of `url` on a fresh easy handle, with the program's transport
// policy and `resolve` (CURLOPT_RESOLVE entries) as the only other options.
Fetched Get(const std::string& url, const std::vector<std::string>& resolve = {}) {
  Fetched result;
  std::unique_ptr<CURL, void (*)(CURL*)> curl(curl_easy_init(), curl_easy_cleanup);
  if (!curl) {
    result.code = CURLE_FAILED_INIT;
    return result;
  }
  result.code = net::ApplyTransportPolicy(curl.get(), url);
  if (result.code != CURLE_OK) {
    result.error = "ApplyTransportPolicy failed";
    return result;
  }
  curl_slist* hosts = nullptr;
  for (const std::string& entry : resolve) hosts = curl_slist_append(hosts, entry.c_str());
  char error[CURL_ERROR_SIZE] = {};
  curl_easy_setopt(curl.get(), CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl.get(), CURLOPT_RESOLVE, hosts);
  curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, Append);
  curl_easy_setopt(curl.get(), CURLOPT_WRITEDATA, &result.body);
  curl_easy_setopt(curl.get(), CURLOPT_ERRORBUFFER, error);
  curl_easy_setopt(curl.get(), CURLOPT_TIMEOUT, 60L);
  result.code = curl_easy_perform(curl.get());
  curl_easy_getinfo(curl.get(), CURLINFO_RESPONSE_CODE, &result.status);
  result.error = error;
  curl_slist_free_all(hosts);
  return result;
}

// "C:\\a\\b" for "C:/a/b": the form Windows itself hands out, as the
// default CA file's path is.
std::string Backslashed(std::string path) {
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

class TlsWinTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    pki_ = new TempDir;
    root_ = new TempDir;
    for (const std::string& failure :
         {MakeCa(*pki_, "ca"), MakeCa(*pki_, "stranger"),
          MakeServerCertificate(*pki_, "ca", "localhost", "localhost", 1001),
          MakeServerCertificate(*pki_, "ca", "elsewhere", "example.invalid", 1002)}) {
      ASSERT_EQ(failure, "");
    }
    // Every byte value, so a text-mode or encoding slip anywhere shows.
    for (int i = 0; i < (256 << 10); ++i) payload_ += static_cast<char>((i * 7 + i / 256) & 0xff);
    ASSERT_TRUE(testing_support::writeFile(root_->file("payload.bin"), payload_));
    localhost_ = new MakerServices(root_->path(), {"--tls-cert", pki_->file("localhost.pem"),
                                                   "--tls-key", pki_->file("localhost.key")});
    elsewhere_ = new MakerServices(root_->path(), {"--tls-cert", pki_->file("elsewhere.pem"),
                                                   "--tls-key", pki_->file("elsewhere.key")});
  }
  static void TearDownTestSuite() {
    delete localhost_;
    delete elsewhere_;
    delete root_;
    delete pki_;
    localhost_ = elsewhere_ = nullptr;
    root_ = pki_ = nullptr;
    curl_global_cleanup();
  }
  void SetUp() override {
    ASSERT_NE(localhost_, nullptr);
    ASSERT_NE(elsewhere_, nullptr);
  }
  void TearDown() override { unsetenv("WEBSETUP_TRUSTED_CA"); }

  static void TrustOnly(const std::string& caFile) {
    setenv("WEBSETUP_TRUSTED_CA", caFile.c_str(), 1);
    ASSERT_EQ(net::DeploymentCaFile(), caFile);
  }

  static std::string Url(const MakerServices* server, const std::string& host,
                         const std::string& path) {
    return "https://" + host + ":" + std::to_string(server->port()) + path;
  }

  static size_t RequestsTo(const MakerServices* server, const std::string& path) {
    return server->requestsTo(path, 0, std::chrono::milliseconds(0)).size();
  }

  static inline TempDir* pki_ = nullptr;
  static inline TempDir* root_ = nullptr;
  static inline std::string payload_;
  static inline MakerServices* localhost_ = nullptr;
  static inline MakerServices* elsewhere_ = nullptr;
};

// The deployment's CA carries the transfer whole, whether its file is
// named with '/' (as the tests and the platform layer write paths), with
// '\' (as Windows hands out the default location), or lies in a folder
// whose name is beyond ASCII (a user's own folder): libcurl's Schannel
// backend opens a CA file by name through the ANSI code page, where that
// name would be lost.
TEST_F(TlsWinTest, DeploymentCaCarriesTheTransfer) {
  const std::string wide = pki_->file("Zo\xc3\xab \xe6\x97\xa5\xe6\x9c\xac");  // "Zoë 日本"
  ASSERT_TRUE(CreateDirectoryW(common::utf8ToWide(wide).c_str(), nullptr));
  const std::string wideCa = wide + "/trusted-ca.pem";
  ASSERT_TRUE(testing_support::writeFile(wideCa, testing_support::readFile(pki_->file("ca.pem"))));
  const std::vector<std::string> caFiles = {pki_->file("ca.pem"), Backslashed(pki_->file("ca.pem")),
                                            wideCa};
  for (const std::string& caFile : caFiles) {
    SCOPED_TRACE(caFile);
    TrustOnly(caFile);
    const Fetched got = Get(Url(localhost_, "localhost", "/files/payload.bin"));
    ASSERT_EQ(got.code, CURLE_OK) << got.error;
    EXPECT_EQ(got.status, 200);
    EXPECT_EQ(got.body.size(), payload_.size());
    EXPECT_TRUE(got.body == payload_) << "the bytes served differ from the file";
  }
  EXPECT_EQ(
      localhost_->requestsTo("/files/payload.bin", caFiles.size(), std::chrono::seconds(5)).size(),
      caFiles.size());
}

// A CA file that did not issue the server's certificate: the chain ends
// nowhere the file knows (CertGetCertificateChain reports a partial chain)
// and libcurl fails the handshake before any request reaches the server.
TEST_F(TlsWinTest, CertificateOfAnotherCaIsRefused) {
  TrustOnly(pki_->file("stranger.pem"));
  const Fetched got = Get(Url(localhost_, "localhost", "/files/stranger.bin"));
  EXPECT_EQ(got.code, CURLE_PEER_FAILED_VERIFICATION) << got.error;
  EXPECT_TRUE(got.body.empty());
  EXPECT_EQ(RequestsTo(localhost_, "/files/stranger.bin"), 0u);
}

// A certificate of the trusted CA for another host name: refused under
// the name the URL holds (CertGetNameString finds no match), accepted
// under its own. The second transfer shows the first failed on the name,
// not on the chain.
TEST_F(TlsWinTest, CertificateForAnotherHostIsRefused) {
  TrustOnly(pki_->file("ca.pem"));
  const Fetched wrong = Get(Url(elsewhere_, "localhost", "/files/payload.bin"));
  EXPECT_EQ(wrong.code, CURLE_PEER_FAILED_VERIFICATION) << wrong.error;
  EXPECT_TRUE(wrong.body.empty());
  EXPECT_EQ(RequestsTo(elsewhere_, "/files/payload.bin"), 0u);

  const std::string own = "example.invalid:" + std::to_string(elsewhere_->port()) + ":127.0.0.1";
  const Fetched right = Get(Url(elsewhere_, "example.invalid", "/files/payload.bin"), {own});
  ASSERT_EQ(right.code, CURLE_OK) << right.error;
  EXPECT_TRUE(right.body == payload_) << "the bytes served differ from the file";
  EXPECT_EQ(elsewhere_->requestsTo("/files/payload.bin", 1, std::chrono::seconds(5)).size(), 1u);
}

}  // namespace
}  // namespace net_test
