#ifndef WEBSETUP_TESTS_NET_TEST_CERTIFICATES_H_
#define WEBSETUP_TESTS_NET_TEST_CERTIFICATES_H_

// Certificates made at test time with OpenSSL: a test CA, a stranger CA
// nobody trusts, and server certificates for 127.0.0.1 (valid, and expired
// since yesterday), each as PEM files in one folder.

#include <string>

namespace net_test {

struct TestCertificates {
  std::string caCert;        // the CA a test names as the deployment's
  std::string strangerCa;    // a CA that signed nothing the servers show
  std::string serverCert;    // 127.0.0.1, valid for a day either side
  std::string serverKey;
  std::string expiredCert;   // 127.0.0.1, expired yesterday
  std::string expiredKey;
};

// Writes every file into `folder`. Returns false when OpenSSL fails.
bool MakeTestCertificates(const std::string& folder, TestCertificates* out);

}  // namespace net_test

#endif  // WEBSETUP_TESTS_NET_TEST_CERTIFICATES_H_
