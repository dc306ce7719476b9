// The Linux installers' appended signatures, read with OpenSSL itself
// rather than through the setup's own check.

#include <gtest/gtest.h>
#include <openssl/cms.h>
#include <openssl/evp.h>
#include <openssl/x509.h>
#include <stdlib.h>

#include <string>

#include "support/temp_dir.h"
#include "system/file_trust.h"

namespace {

using testing_support::readFile;

const std::string kArtefacts = SAMPLE_INSTALLER_DIR;

std::string artefact(const std::string& name) { return kArtefacts + "/" + name; }

std::string sha256Hex(const unsigned char* data, size_t size) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  EVP_Digest(data, size, digest, &len, EVP_sha256(), nullptr);
  static const char kHex[] = "0123456789abcdef";
  std::string hex;
  for (unsigned i = 0; i < len; ++i) {
    hex += kHex[digest[i] >> 4];
    hex += kHex[digest[i] & 15];
  }
  return hex;
}

// The SHA-256 of the certificate (or of its public key) that the signature
// block appended to `path` carries.
std::string embeddedSignerSha256(const std::string& path, bool publicKey) {
  const std::string file = readFile(path);
  constexpr size_t kTail = 12 + 28;
  if (file.size() < kTail) return {};
  const auto* t = reinterpret_cast<const unsigned char*>(file.data() + file.size() - kTail);
  const size_t sigLen = (size_t{t[8]} << 24) | (size_t{t[9]} << 16) | (size_t{t[10]} << 8) | t[11];
  const auto* p =
      reinterpret_cast<const unsigned char*>(file.data() + file.size() - kTail - sigLen);
  CMS_ContentInfo* cms = d2i_CMS_ContentInfo(nullptr, &p, static_cast<long>(sigLen));
  STACK_OF(X509)* certs = cms == nullptr ? nullptr : CMS_get1_certs(cms);
  std::string hex;
  if (certs != nullptr && sk_X509_num(certs) == 1) {
    unsigned char* der = nullptr;
    X509* cert = sk_X509_value(certs, 0);
    const int len = publicKey ? i2d_PUBKEY(X509_get0_pubkey(cert), &der) : i2d_X509(cert, &der);
    if (len > 0) hex = sha256Hex(der, static_cast<size_t>(len));
    OPENSSL_free(der);
  }
  sk_X509_pop_free(certs, X509_free);
  CMS_ContentInfo_free(cms);
  return hex;
}

// The installers' chain trust, with the deployment's CA file changed per
// case.
class SampleArtefactsPosixTest : public ::testing::Test {
 protected:
  void TearDown() override { unsetenv("WEBSETUP_TRUSTED_CA"); }
  static uint32_t status(const std::string& name) {
    return static_cast<uint32_t>(FuntionImpl::CheckAppendedSignature(artefact(name)).status);
  }
};

// Catches a signer the test CA did not issue, or a CA file the check
// cannot use.
TEST_F(SampleArtefactsPosixTest, InstallersVerifyThroughTheTestCaOnly) {
  setenv("WEBSETUP_TRUSTED_CA", artefact("test-ca.pem").c_str(), 1);
  EXPECT_EQ(status("setup_orlastra.exe"), 0u);
  EXPECT_EQ(status("setup_orlastra_foreign.exe"), 0u);
  EXPECT_EQ(status("setup_orlastra_unsigned.exe"), FuntionImpl::kTrustNoSignature);
  setenv("WEBSETUP_TRUSTED_CA", artefact("no-such-ca.pem").c_str(), 1);
  EXPECT_EQ(status("setup_orlastra.exe"), FuntionImpl::kTrustSubjectNotTrusted);
}

// Catches a pin taken of the wrong certificate (the CA's, the PEM text) or
// the wrong file signed by the wrong signer.
TEST_F(SampleArtefactsPosixTest, PinsNameTheSignerOfEachInstaller) {
  const std::string pin = readFile(artefact("signer.sha256"));
  ASSERT_EQ(pin.size(), 64u);
  EXPECT_EQ(pin.find_first_not_of("0123456789abcdef"), std::string::npos) << pin;
  EXPECT_EQ(embeddedSignerSha256(artefact("setup_orlastra.exe"), false), pin);
  EXPECT_EQ(embeddedSignerSha256(artefact("setup_orlastra.exe"), true),
            readFile(artefact("signer-pubkey.sha256")));
  const std::string foreign = embeddedSignerSha256(artefact("setup_orlastra_foreign.exe"), false);
  EXPECT_EQ(foreign, readFile(artefact("foreign.sha256")));
  EXPECT_NE(foreign, pin);
}

}  // namespace
