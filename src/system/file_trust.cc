#include "system/file_trust.h"

#include <openssl/bio.h>
#include <openssl/cms.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <vector>

#include "common/log.h"
#include "common/md5.h"
#include "common/text.h"
#include "net/transport_policy.h"
#include "platform/executable_section.h"

namespace FuntionImpl {
namespace {

constexpr char kMagic[] = "~Module signature appended~\n";
constexpr size_t kMagicLen = sizeof(kMagic) - 1;
constexpr size_t kTrailerLen = 12;
constexpr uint8_t kIdPkcs7 = 2;
// A CMS block holds a signature and a short chain: a few KiB, a few hundred
// with a long one. The length comes from the file, so it is capped before
// anything is allocated for it.
constexpr uint32_t kMaxSignatureLen = 1024 * 1024;

struct BioFree {
  void operator()(BIO* b) const { BIO_free_all(b); }
};
struct CmsFree {
  void operator()(CMS_ContentInfo* c) const { CMS_ContentInfo_free(c); }
};
struct StoreFree {
  void operator()(X509_STORE* s) const { X509_STORE_free(s); }
};

// A read-only BIO over the first `remaining` bytes of an open stream, so a
// large installer is digested as it is read instead of being held in
// memory.
struct RangeSource {
  std::ifstream* in;
  uint64_t remaining;
};

int rangeRead(BIO* bio, char* buf, int size) {
  auto* src = static_cast<RangeSource*>(BIO_get_data(bio));
  if (src->remaining == 0 || size <= 0) return 0;
  const auto want = static_cast<std::streamsize>(
      std::min<uint64_t>(src->remaining, static_cast<uint64_t>(size)));
  src->in->read(buf, want);
  const std::streamsize got = src->in->gcount();
  if (got <= 0) return -1;
  src->remaining -= static_cast<uint64_t>(got);
  return static_cast<int>(got);
}

long rangeCtrl(BIO* bio, int cmd, long, void*) {
  auto* src = static_cast<RangeSource*>(BIO_get_data(bio));
  switch (cmd) {
    case BIO_CTRL_EOF:
      return src->remaining == 0 ? 1 : 0;
    case BIO_CTRL_FLUSH:
      return 1;
    default:
      return 0;
  }
}

int rangeCreate(BIO* bio) {
  BIO_set_init(bio, 1);
  return 1;
}

const BIO_METHOD* rangeMethod() {
  static BIO_METHOD* method = [] {
    BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "websetup range");
    BIO_meth_set_read(m, rangeRead);
    BIO_meth_set_ctrl(m, rangeCtrl);
    BIO_meth_set_create(m, rangeCreate);
    return m;
  }();
  return method;
}

uint32_t bigEndian32(const unsigned char* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

std::unique_ptr<X509_STORE, StoreFree> trustStore() {
  std::unique_ptr<X509_STORE, StoreFree> store(X509_STORE_new());
  if (!store) return store;
  X509_STORE_set_default_paths(store.get());
  const std::string ca = net::DeploymentCaFile();
  // A deployment without its own CA relies on the system store alone.
  if (std::ifstream(ca).good()) X509_STORE_load_file(store.get(), ca.c_str());
  // Our signing certificates are code-signing ones, not e-mail ones.
  X509_STORE_set_purpose(store.get(), X509_PURPOSE_ANY);
  ERR_clear_error();
  return store;
}

// Maps the reason CMS_verify gave onto the status it stands for.
SignatureCheck verifyFailure() {
  SignatureCheck check{static_cast<int32_t>(kTrustNoSignature), kCryptBadSignatureBlock};
  while (const unsigned long err = ERR_get_error()) {
    if (ERR_GET_LIB(err) != ERR_LIB_CMS) continue;
    switch (ERR_GET_REASON(err)) {
      case CMS_R_CERTIFICATE_VERIFY_ERROR:
      case CMS_R_SIGNER_CERTIFICATE_NOT_FOUND:
        check = {static_cast<int32_t>(kTrustSubjectNotTrusted), 0};
        break;
      case CMS_R_VERIFICATION_FAILURE:
      case CMS_R_CONTENT_VERIFY_ERROR:
        check = {static_cast<int32_t>(kTrustBadDigest), 0};
        break;
      default:
        break;
    }
  }
  return check;
}

std::wstring format(const wchar_t* pattern, const std::wstring& path) {
  std::vector<wchar_t> text(pattern == nullptr ? 1 : 256 + path.size());
  std::swprintf(text.data(), text.size(), pattern, path.c_str());
  return text.data();
}

// Parses "a.b.c.d" (trailing parts may be missing) into four 16-bit parts.
bool parseFileVersion(const std::string& text, unsigned parts[4]) {
  size_t pos = 0;
  for (int i = 0; i < 4; ++i) {
    parts[i] = 0;
    if (pos >= text.size()) {
      if (i == 0) return false;
      continue;
    }
    size_t end = text.find('.', pos);
    if (end == std::string::npos) end = text.size();
    const std::string part = text.substr(pos, end - pos);
    if (part.empty() || part.size() > 5 || part.find_first_not_of("0123456789") != std::string::npos) {
      return false;
    }
    parts[i] = static_cast<unsigned>(std::stoul(part));
    if (parts[i] > 0xffff) return false;
    pos = end == text.size() ? end : end + 1;
    if (end != text.size() && pos == text.size()) return false;  // trailing '.'
  }
  return pos >= text.size();
}

std::string versionLines(const std::wstring& path) {
  std::string section;
  if (platform::readExecutableSection(common::wideToUtf8(path), kVersionSection, &section) !=
      platform::PlatformResult::kOk) {
    return {};
  }
  return section;
}

std::string hexOf(const unsigned char* bytes, unsigned int n) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (unsigned int i = 0; i < n; ++i) {
    out += kDigits[bytes[i] >> 4];
    out += kDigits[bytes[i] & 15];
  }
  return out;
}

// The fingerprints of the first signer of a verified signature.
SignerIdentity signerOf(CMS_ContentInfo* cms) {
  SignerIdentity id;
  STACK_OF(X509)* signers = CMS_get0_signers(cms);
  if (signers == nullptr || sk_X509_num(signers) == 0) return id;
  X509* cert = sk_X509_value(signers, 0);
  unsigned char md[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  if (X509_digest(cert, EVP_sha256(), md, &len) == 1) id.certificateSha256 = hexOf(md, len);
  if (X509_pubkey_digest(cert, EVP_sha256(), md, &len) == 1) id.publicKeySha256 = hexOf(md, len);
  sk_X509_free(signers);
  return id;
}

}  // namespace

bool SignerIdentity::matchesAny(const std::vector<std::string>& pins) const {
  for (std::string pin : pins) {
    std::erase(pin, ':');
    for (char& c : pin) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (pin.empty()) continue;
    if (pin == certificateSha256 || pin == publicKeySha256) return true;
  }
  return false;
}

bool VerifyPinnedSignature(const std::wstring& path, const std::vector<std::string>& pins) {
  SignerIdentity signer;
  const SignatureCheck check = CheckAppendedSignature(common::wideToUtf8(path), &signer);
  LOG(INFO) << " VerifyEmbeddedSignature result is " << check.status << ", "
            << common::wideToUtf8(SignatureMessage(check, path));
  if (check.status != 0) return false;
  if (signer.matchesAny(pins)) return true;
  LOG(INFO) << " Signer is not the maker's: certificate " << signer.certificateSha256
            << ", key " << signer.publicKeySha256 << " (" << pins.size() << " pinned)";
  return false;
}

SignatureCheck CheckAppendedSignature(const std::string& path) {
  return CheckAppendedSignature(path, nullptr);
}

SignatureCheck CheckAppendedSignature(const std::string& path, SignerIdentity* signer) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {static_cast<int32_t>(kTrustNoSignature), 2 /* file not found */};
  in.seekg(0, std::ios::end);
  const auto size = static_cast<uint64_t>(in.tellg());
  const SignatureCheck unsigned_{static_cast<int32_t>(kTrustNoSignature), kTrustNoSignature};
  if (size < kTrailerLen + kMagicLen) return unsigned_;
  unsigned char tail[kTrailerLen + kMagicLen];
  in.seekg(static_cast<std::streamoff>(size - sizeof(tail)));
  if (!in.read(reinterpret_cast<char*>(tail), sizeof(tail))) return unsigned_;
  if (std::memcmp(tail + kTrailerLen, kMagic, kMagicLen) != 0) return unsigned_;

  const SignatureCheck badBlock{static_cast<int32_t>(kTrustNoSignature), kCryptBadSignatureBlock};
  const uint8_t idType = tail[2];
  const uint32_t sigLen = bigEndian32(tail + 8);
  if (idType != kIdPkcs7 || sigLen == 0 || sigLen > kMaxSignatureLen || sigLen > size - sizeof(tail)) {
    return badBlock;
  }
  const uint64_t contentLen = size - sizeof(tail) - sigLen;
  std::string der(sigLen, '\0');
  in.seekg(static_cast<std::streamoff>(contentLen));
  if (!in.read(der.data(), sigLen)) return badBlock;

  ERR_clear_error();
  const auto* p = reinterpret_cast<const unsigned char*>(der.data());
  std::unique_ptr<CMS_ContentInfo, CmsFree> cms(d2i_CMS_ContentInfo(nullptr, &p, sigLen));
  if (!cms || p != reinterpret_cast<const unsigned char*>(der.data()) + sigLen) {
    ERR_clear_error();
    return badBlock;
  }
  auto store = trustStore();
  RangeSource source{&in, contentLen};
  in.clear();
  in.seekg(0);
  std::unique_ptr<BIO, BioFree> content(BIO_new(rangeMethod()));
  if (!store || !content) return badBlock;
  BIO_set_data(content.get(), &source);
  const int ok = CMS_verify(cms.get(), nullptr, store.get(), content.get(), nullptr, CMS_BINARY);
  if (ok == 1) {
    if (signer != nullptr) *signer = signerOf(cms.get());
    ERR_clear_error();
    return {0, 0};
  }
  return verifyFailure();
}

std::wstring SignatureMessage(const SignatureCheck& check, const std::wstring& path) {
  const auto status = static_cast<uint32_t>(check.status);
  if (status == 0) return format(L"The file \"%ls\" is signed and the signature was verified.", path);
  if (status == kTrustNoSignature) {
    if (check.lastError == kTrustNoSignature || check.lastError == kTrustSubjectFormUnknown ||
        check.lastError == kTrustProviderUnknown) {
      return format(L"The file \"%ls\" is not signed.", path);
    }
    return format(L"An unknown error occurred trying to verify the signature of the \"%ls\" file.",
                  path);
  }
  if (status == kTrustExplicitDistrust) return L"The signature is present, but specifically disallowed.";
  if (status == kTrustSubjectNotTrusted) return L"The signature is present, but not trusted.";
  if (status == kCryptSecuritySettings) {
    return L"CRYPT_E_SECURITY_SETTINGS - The hash representing the subject or the publisher wasn't "
           L"explicitly trusted by the admin and admin policy has disabled user trust. No signature, "
           L"publisher or timestamp errors.";
  }
  wchar_t text[64];
  std::swprintf(text, 64, L"Error is: 0x%x.", status);
  return text;
}

bool VerifyEmbeddedSignature(const std::wstring& path) {
  const SignatureCheck check = CheckAppendedSignature(common::wideToUtf8(path));
  LOG(INFO) << " VerifyEmbeddedSignature result is " << check.status << ", "
            << common::wideToUtf8(SignatureMessage(check, path));
  return check.status == 0;
}

std::string VersionValue(const std::string& lines, const std::string& key) {
  size_t pos = 0;
  while (pos < lines.size()) {
    size_t end = lines.find('\n', pos);
    if (end == std::string::npos) end = lines.size();
    const std::string line = lines.substr(pos, end - pos);
    if (line.size() > key.size() && line.compare(0, key.size(), key) == 0 && line[key.size()] == '=') {
      std::string value = line.substr(key.size() + 1);
      const size_t nul = value.find('\0');
      if (nul != std::string::npos) value.resize(nul);
      return value;
    }
    pos = end + 1;
  }
  return {};
}

std::string GetFileVersion(const std::wstring& path) {
  unsigned parts[4];
  if (!parseFileVersion(VersionValue(versionLines(path), "FileVersion"), parts)) return {};
  char text[32];
  std::snprintf(text, sizeof(text), "%u.%u.%u.%u", parts[0], parts[1], parts[2], parts[3]);
  return text;
}

std::wstring GetFileVersionW(const std::wstring& path) {
  return common::utf8ToWide(GetFileVersion(path));
}

VersionStrings GetFileVersionStrings(const std::wstring& path) {
  const std::string lines = versionLines(path);
  VersionStrings strings;
  strings.productName = common::utf8ToWide(VersionValue(lines, "ProductName"));
  strings.productVersion = common::utf8ToWide(VersionValue(lines, "ProductVersion"));
  strings.legalCopyright = common::utf8ToWide(VersionValue(lines, "LegalCopyright"));
  strings.fileDescription = common::utf8ToWide(VersionValue(lines, "FileDescription"));
  return strings;
}

std::string GetTextMd5(const std::string& text) { return common::md5OfText(text); }

}  // namespace FuntionImpl
