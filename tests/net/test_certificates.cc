#include "test_certificates.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <memory>

namespace net_test {
namespace {

using Key = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using Cert = std::unique_ptr<X509, decltype(&X509_free)>;

constexpr long kDay = 24 * 3600;

Key newKey() { return Key(EVP_EC_gen("P-256"), &EVP_PKEY_free); }

bool addExtension(X509* cert, X509* issuer, int nid, const char* value) {
  X509V3_CTX ctx;
  X509V3_set_ctx_nodb(&ctx);
  X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
  X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
  if (ext == nullptr) return false;
  const bool ok = X509_add_ext(cert, ext, -1) == 1;
  X509_EXTENSION_free(ext);
  return ok;
}

// A certificate for `key` named `name`, valid from `from` to `to` seconds
// from now, signed by `issuer` (itself when null). `altName` makes it a
// server certificate, none a CA.
Cert makeCert(EVP_PKEY* key, const char* name, X509* issuer, EVP_PKEY* issuerKey, long from,
              long to, const char* altName) {
  Cert cert(X509_new(), &X509_free);
  static long serial = 1;
  X509_set_version(cert.get(), 2);
  ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), ++serial);
  X509_gmtime_adj(X509_getm_notBefore(cert.get()), from);
  X509_gmtime_adj(X509_getm_notAfter(cert.get()), to);
  X509_NAME* subject = X509_get_subject_name(cert.get());
  X509_NAME_add_entry_by_txt(subject, "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>(name), -1, -1, 0);
  X509* signer = issuer != nullptr ? issuer : cert.get();
  X509_set_issuer_name(cert.get(), X509_get_subject_name(signer));
  X509_set_pubkey(cert.get(), key);
  bool ok = addExtension(cert.get(), signer, NID_subject_key_identifier, "hash");
  if (altName == nullptr) {
    ok &= addExtension(cert.get(), signer, NID_basic_constraints, "critical,CA:TRUE");
    ok &= addExtension(cert.get(), signer, NID_key_usage, "critical,keyCertSign,cRLSign");
  } else {
    ok &= addExtension(cert.get(), signer, NID_basic_constraints, "critical,CA:FALSE");
    ok &= addExtension(cert.get(), signer, NID_authority_key_identifier, "keyid");
    ok &= addExtension(cert.get(), signer, NID_ext_key_usage, "serverAuth");
    ok &= addExtension(cert.get(), signer, NID_subject_alt_name, altName);
  }
  if (!ok || X509_sign(cert.get(), issuerKey != nullptr ? issuerKey : key, EVP_sha256()) == 0) {
    cert.reset();
  }
  return cert;
}

bool writeCert(const std::string& path, X509* cert) {
  FILE* f = std::fopen(path.c_str(), "w");
  if (f == nullptr) return false;
  const bool ok = PEM_write_X509(f, cert) == 1;
  return std::fclose(f) == 0 && ok;
}

bool writeKey(const std::string& path, EVP_PKEY* key) {
  FILE* f = std::fopen(path.c_str(), "w");
  if (f == nullptr) return false;
  const bool ok = PEM_write_PrivateKey(f, key, nullptr, nullptr, 0, nullptr, nullptr) == 1;
  return std::fclose(f) == 0 && ok;
}

}  // namespace

bool MakeTestCertificates(const std::string& folder, TestCertificates* out) {
  out->caCert = folder + "/ca.pem";
  out->strangerCa = folder + "/stranger-ca.pem";
  out->serverCert = folder + "/server.pem";
  out->serverKey = folder + "/server-key.pem";
  out->expiredCert = folder + "/expired.pem";
  out->expiredKey = folder + "/expired-key.pem";
  Key caKey = newKey(), strangerKey = newKey(), serverKey = newKey(), expiredKey = newKey();
  if (!caKey || !strangerKey || !serverKey || !expiredKey) return false;
  Cert ca = makeCert(caKey.get(), "websetup test CA", nullptr, nullptr, -kDay, 30 * kDay, nullptr);
  Cert stranger =
      makeCert(strangerKey.get(), "stranger CA", nullptr, nullptr, -kDay, 30 * kDay, nullptr);
  if (!ca || !stranger) return false;
  Cert server = makeCert(serverKey.get(), "127.0.0.1", ca.get(), caKey.get(), -kDay, kDay,
                         "IP:127.0.0.1");
  Cert expired = makeCert(expiredKey.get(), "127.0.0.1", ca.get(), caKey.get(), -3 * kDay, -kDay,
                          "IP:127.0.0.1");
  if (!server || !expired) return false;
  return writeCert(out->caCert, ca.get()) && writeCert(out->strangerCa, stranger.get()) &&
         writeCert(out->serverCert, server.get()) && writeKey(out->serverKey, serverKey.get()) &&
         writeCert(out->expiredCert, expired.get()) && writeKey(out->expiredKey, expiredKey.get());
}

}  // namespace net_test
