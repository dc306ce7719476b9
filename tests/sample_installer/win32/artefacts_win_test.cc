// The Windows installers as Authenticode sees them: where the signature
// sits in the file, the signer's key as a deployment pins it, and what
// Wine's trust decision can show.

#include <windows.h>

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstring>
#include <string>
#include <vector>

#include "common/text.h"
#include "platform/file_signature.h"
#include "support/temp_dir.h"
#include "system/file_trust.h"

namespace {

using testing_support::readFile;

const std::string kArtefacts = SAMPLE_INSTALLER_DIR;

std::string artefact(const std::string& name) { return kArtefacts + "/" + name; }
std::wstring wide(const std::string& path) { return common::utf8ToWide(path); }

uint32_t le32(const std::string& bytes, size_t at) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(bytes[at + i]);
  return v;
}

// Where a PE file's header fields are that signing changes.
struct PeFields {
  size_t checksum = 0;  // the optional header's CheckSum
  size_t security = 0;  // the security directory entry (offset, size)
};

PeFields peFields(const std::string& file) {
  const size_t pe = le32(file, 0x3c);
  const size_t optional = pe + 24;
  const bool plus = (le32(file, optional) & 0xffff) == 0x20b;
  return {optional + 64, optional + (plus ? 112 : 96) + 4 * 8};
}

bool underWine() {
  return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

// Catches a packer or signer that puts padding or the signature between
// the payload and its trailer (the installer would no longer find its
// payload from the end), and a signer that changes the content itself.
TEST(SampleArtefactsWinTest, SignatureFollowsTheUnsignedFileInTheCertificateTable) {
  std::string unsignedFile = readFile(artefact("setup_orlastra_unsigned.exe"));
  ASSERT_GT(unsignedFile.size(), 1u << 20);
  EXPECT_EQ(unsignedFile.size() % 8, 0u);
  for (const char* name : {"setup_orlastra.exe", "setup_orlastra_foreign.exe"}) {
    std::string signedFile = readFile(artefact(name));
    const PeFields fields = peFields(signedFile);
    const uint32_t offset = le32(signedFile, fields.security);
    const uint32_t size = le32(signedFile, fields.security + 4);
    EXPECT_EQ(offset, unsignedFile.size()) << name;
    ASSERT_EQ(signedFile.size(), uint64_t{offset} + size) << name;
    // WIN_CERTIFICATE: revision 2.0, a PKCS#7 SignedData.
    EXPECT_EQ(le32(signedFile, offset + 4), 0x00020200u) << name;
    // Apart from the two header fields signing fills in, the signed file
    // starts with the unsigned one, byte for byte.
    for (std::string* file : {&signedFile, &unsignedFile}) {
      std::memset(&(*file)[fields.checksum], 0, 4);
      std::memset(&(*file)[fields.security], 0, 8);
    }
    EXPECT_TRUE(signedFile.compare(0, offset, unsignedFile) == 0) << name;
  }
}

// Catches a key pin (the SubjectPublicKeyInfo's digest, as
// docs/deployment.md makes it) that the setup's check hashes another way,
// so a maker who pins the key, to keep it across certificate renewals,
// would have every installer refused.
TEST(SampleArtefactsWinTest, KeyPinNamesTheMakersSignerOnly) {
  setenv("WEBSETUP_TRUSTED_CA", artefact("test-ca.pem").c_str(), 1);
  const std::vector<std::string> pins = {readFile(artefact("signer-pubkey.sha256"))};
  EXPECT_TRUE(FuntionImpl::VerifyPinnedSignature(wide(artefact("setup_orlastra.exe")), pins));
  EXPECT_FALSE(
      FuntionImpl::VerifyPinnedSignature(wide(artefact("setup_orlastra_foreign.exe")), pins));
  unsetenv("WEBSETUP_TRUSTED_CA");
}

// Catches a check that trusts a root only because it came with the file:
// without the deployment's CA file the test CA is nobody's root. Windows
// refuses it there; Wine's WinVerifyTrust does not, which is why the
// setup pins the signer as well.
TEST(SampleArtefactsWinTest, TestCaIsTrustedOnlyAsTheDeploymentsCa) {
  const std::string installer = artefact("setup_orlastra.exe");
  EXPECT_EQ(platform::checkFileSignature(installer, artefact("test-ca.pem")).status, 0);
  const platform::FileSignature alone = platform::checkFileSignature(installer, "");
  if (alone.status == 0 && underWine()) {
    GTEST_SKIP() << "Wine's WinVerifyTrust accepts a root no store holds; the pin refuses instead";
  }
  EXPECT_NE(alone.status, 0);
}

}  // namespace
