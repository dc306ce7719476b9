// sign-file: appends a signature to a file in the layout the setup checks:
// the content, a DER CMS (PKCS#7) detached signature over it, the 12-byte
// module_signature trailer and "~Module signature appended~\n".
//
//   sign-file --key KEY.pem --cert CERT.pem [--chain CHAIN.pem] IN [OUT]
//
// Without OUT the file is signed in place (through a temporary file and a
// rename, so an interrupted run leaves the original intact).

#include <openssl/bio.h>
#include <openssl/cms.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>

namespace {

constexpr char kMagic[] = "~Module signature appended~\n";

int fail(const std::string& message) {
  std::cerr << "sign-file: " << message << "\n";
  ERR_print_errors_fp(stderr);
  return 1;
}

bool readAll(const std::string& path, std::string* out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  out->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

bool writeAll(const std::string& path, const std::string& data) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(data.data(), static_cast<std::streamsize>(data.size()));
  out.close();
  return out.good();
}

// The DER detached signature of `content`, made with `key` and `cert`
// (the signer certificate and `chain` travel inside it).
bool sign(const std::string& content, EVP_PKEY* key, X509* cert, STACK_OF(X509) * chain,
          std::string* der) {
  BIO* in = BIO_new_mem_buf(content.data(), static_cast<int>(content.size()));
  CMS_ContentInfo* cms =
      CMS_sign(cert, key, chain, in, CMS_BINARY | CMS_DETACHED | CMS_NOSMIMECAP);
  BIO_free(in);
  if (cms == nullptr) return false;
  unsigned char* buf = nullptr;
  const int len = i2d_CMS_ContentInfo(cms, &buf);
  CMS_ContentInfo_free(cms);
  if (len <= 0) return false;
  der->assign(reinterpret_cast<char*>(buf), static_cast<size_t>(len));
  OPENSSL_free(buf);
  return true;
}

std::string trailer(size_t sigLen) {
  // algo, hash, id_type (2 = PKCS#7), signer_len, key_id_len, pad[3], sig_len
  unsigned char t[12] = {0, 0, 2, 0, 0, 0, 0, 0};
  t[8] = static_cast<unsigned char>(sigLen >> 24);
  t[9] = static_cast<unsigned char>(sigLen >> 16);
  t[10] = static_cast<unsigned char>(sigLen >> 8);
  t[11] = static_cast<unsigned char>(sigLen);
  return std::string(reinterpret_cast<char*>(t), sizeof(t)) + kMagic;
}

}  // namespace

int main(int argc, char** argv) {
  std::string keyPath, certPath, chainPath, inPath, outPath;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if ((arg == "--key" || arg == "--cert" || arg == "--chain") && i + 1 < argc) {
      (arg == "--key" ? keyPath : arg == "--cert" ? certPath : chainPath) = argv[++i];
    } else if (inPath.empty()) {
      inPath = arg;
    } else if (outPath.empty()) {
      outPath = arg;
    } else {
      inPath.clear();
      break;
    }
  }
  if (keyPath.empty() || certPath.empty() || inPath.empty()) {
    std::cerr << "usage: sign-file --key KEY.pem --cert CERT.pem [--chain CHAIN.pem] IN [OUT]\n";
    return 2;
  }
  std::string content;
  if (!readAll(inPath, &content)) return fail("cannot read " + inPath);
  const size_t magicLen = sizeof(kMagic) - 1;
  if (content.size() >= magicLen &&
      content.compare(content.size() - magicLen, magicLen, kMagic) == 0) {
    return fail(inPath + " is already signed");
  }

  FILE* kf = std::fopen(keyPath.c_str(), "r");
  EVP_PKEY* key = kf != nullptr ? PEM_read_PrivateKey(kf, nullptr, nullptr, nullptr) : nullptr;
  if (kf != nullptr) std::fclose(kf);
  FILE* cf = std::fopen(certPath.c_str(), "r");
  X509* cert = cf != nullptr ? PEM_read_X509(cf, nullptr, nullptr, nullptr) : nullptr;
  if (cf != nullptr) std::fclose(cf);
  if (key == nullptr || cert == nullptr) return fail("cannot read the key or the certificate");
  STACK_OF(X509)* chain = sk_X509_new_null();
  if (!chainPath.empty()) {
    FILE* chf = std::fopen(chainPath.c_str(), "r");
    if (chf == nullptr) return fail("cannot read " + chainPath);
    while (X509* c = PEM_read_X509(chf, nullptr, nullptr, nullptr)) sk_X509_push(chain, c);
    std::fclose(chf);
    ERR_clear_error();
  }

  std::string der;
  const bool signedOk = sign(content, key, cert, chain, &der);
  EVP_PKEY_free(key);
  X509_free(cert);
  sk_X509_pop_free(chain, X509_free);
  if (!signedOk) return fail("signing failed");

  const std::string target = outPath.empty() ? inPath : outPath;
  const std::string tmp = target + ".sign-tmp";
  if (!writeAll(tmp, content + der + trailer(der.size()))) {
    std::remove(tmp.c_str());
    return fail("cannot write " + tmp);
  }
  // A signed program stays runnable.
  std::error_code ec;
  std::filesystem::permissions(tmp, std::filesystem::status(inPath, ec).permissions(), ec);
  if (std::rename(tmp.c_str(), target.c_str()) != 0) {
    std::remove(tmp.c_str());
    return fail("cannot replace " + target);
  }
  return 0;
}
