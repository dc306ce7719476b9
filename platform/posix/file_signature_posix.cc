#include "platform/file_signature.h"

#include <openssl/bio.h>
#include <openssl/cms.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <memory>

namespace platform {
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
  const auto want =
      static_cast<std::streamsize>(std::min<uint64_t>(src->remaining, static_cast<uint64_t>(size)));
  src->in->read(buf, want);
  const std::streamsize got = src->in->gcount();
  if (got <= 0) return -1;
  src->remaining -= static_cast<uint64_t>(got);
  return static_cast<int>(got);
}

long rangeCtrl(BIO* bio, int cmd, long, void*) {
  auto* src = static_cast<RangeSource*>(BIO_get_data(bio));
  switch (cmd) {
    case BIO_CTRL_EOF: return src->remaining == 0 ? 1 : 0;
    case BIO_CTRL_FLUSH: return 1;
    default: return 0;
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

std::unique_ptr<X509_STORE, StoreFree> trustStore(const std::string& extraCaFile) {
  std::unique_ptr<X509_STORE, StoreFree> store(X509_STORE_new());
  if (!store) return store;
  X509_STORE_set_default_paths(store.get());
  // A deployment without its own CA relies on the system store alone.
  if (std::ifstream(extraCaFile).good()) X509_STORE_load_file(store.get(), extraCaFile.c_str());
  // Our signing certificates are code-signing ones, not e-mail ones.
  X509_STORE_set_purpose(store.get(), X509_PURPOSE_ANY);
  ERR_clear_error();
  return store;
}

// Maps the reason CMS_verify gave onto the status it stands for.
FileSignature verifyFailure() {
  FileSignature check{static_cast<int32_t>(kTrustNoSignature), kCryptBadSignatureBlock, {}, {}};
  while (const unsigned long err = ERR_get_error()) {
    if (ERR_GET_LIB(err) != ERR_LIB_CMS) continue;
    switch (ERR_GET_REASON(err)) {
      case CMS_R_CERTIFICATE_VERIFY_ERROR:
      case CMS_R_SIGNER_CERTIFICATE_NOT_FOUND:
        check = {static_cast<int32_t>(kTrustSubjectNotTrusted), 0, {}, {}};
        break;
      case CMS_R_VERIFICATION_FAILURE:
      case CMS_R_CONTENT_VERIFY_ERROR:
        check = {static_cast<int32_t>(kTrustBadDigest), 0, {}, {}};
        break;
      default: break;
    }
  }
  return check;
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
void describeSigner(CMS_ContentInfo* cms, FileSignature* id) {
  STACK_OF(X509)* signers = CMS_get0_signers(cms);
  if (signers == nullptr || sk_X509_num(signers) == 0) return;
  X509* cert = sk_X509_value(signers, 0);
  unsigned char md[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  if (X509_digest(cert, EVP_sha256(), md, &len) == 1) id->certificateSha256 = hexOf(md, len);
  // A key pin is the SHA-256 of the whole SubjectPublicKeyInfo (algorithm
  // and key), as the Windows side reads it and pins are published;
  // X509_pubkey_digest would hash the key's bits alone and never match.
  unsigned char* der = nullptr;
  const int derLen = i2d_PUBKEY(X509_get0_pubkey(cert), &der);
  if (derLen > 0 &&
      EVP_Digest(der, static_cast<size_t>(derLen), md, &len, EVP_sha256(), nullptr) == 1) {
    id->publicKeySha256 = hexOf(md, len);
  }
  OPENSSL_free(der);
  sk_X509_free(signers);
}

}  // namespace

FileSignature checkFileSignature(const std::string& path, const std::string& extraCaFile) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {static_cast<int32_t>(kTrustNoSignature), 2 /* file not found */, {}, {}};
  in.seekg(0, std::ios::end);
  const auto size = static_cast<uint64_t>(in.tellg());
  const FileSignature unsigned_{static_cast<int32_t>(kTrustNoSignature), kTrustNoSignature, {}, {}};
  if (size < kTrailerLen + kMagicLen) return unsigned_;
  unsigned char tail[kTrailerLen + kMagicLen];
  in.seekg(static_cast<std::streamoff>(size - sizeof(tail)));
  if (!in.read(reinterpret_cast<char*>(tail), sizeof(tail))) return unsigned_;
  if (std::memcmp(tail + kTrailerLen, kMagic, kMagicLen) != 0) return unsigned_;

  const FileSignature badBlock{
      static_cast<int32_t>(kTrustNoSignature), kCryptBadSignatureBlock, {}, {}};
  const uint8_t idType = tail[2];
  const uint32_t sigLen = bigEndian32(tail + 8);
  if (idType != kIdPkcs7 || sigLen == 0 || sigLen > kMaxSignatureLen ||
      sigLen > size - sizeof(tail)) {
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
  auto store = trustStore(extraCaFile);
  RangeSource source{&in, contentLen};
  in.clear();
  in.seekg(0);
  std::unique_ptr<BIO, BioFree> content(BIO_new(rangeMethod()));
  if (!store || !content) return badBlock;
  BIO_set_data(content.get(), &source);
  const int ok = CMS_verify(cms.get(), nullptr, store.get(), content.get(), nullptr, CMS_BINARY);
  if (ok == 1) {
    FileSignature verified;
    describeSigner(cms.get(), &verified);
    ERR_clear_error();
    return verified;
  }
  return verifyFailure();
}

}  // namespace platform
