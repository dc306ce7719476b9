#include "platform/tls_trust.h"

#include <openssl/x509.h>

namespace platform {

std::string defaultDeploymentCaFile() { return "/etc/websetup/trusted-ca.pem"; }

std::string systemCaFolder() { return "/etc/ssl/certs"; }

std::string peerRefusalText(long verifyResult) {
  // libcurl checks the name itself once OpenSSL has accepted the chain; a
  // failed name check leaves the result at OK or "unspecified".
  if (verifyResult != X509_V_OK && verifyResult != X509_V_ERR_UNSPECIFIED) {
    return X509_verify_cert_error_string(verifyResult);
  }
  return "the certificate does not name this host";
}

}  // namespace platform
