#ifndef WEBSETUP_PLATFORM_TLS_TRUST_H_
#define WEBSETUP_PLATFORM_TLS_TRUST_H_

// What TLS trust rests on besides libcurl's own defaults, which differ by
// system: OpenSSL with the system's CA folder on Linux, Schannel with the
// Windows certificate store on Windows. Stateless; thread-safe.

#include <string>

namespace platform {

// Where a deployment's trusted CA certificate (PEM) lives when no
// environment variable names one: /etc/websetup/trusted-ca.pem on Linux,
// <ProgramData>\websetup\trusted-ca.pem on Windows.
std::string defaultDeploymentCaFile();

// The folder of the system's CA certificates to keep beside a named CA
// file (naming one replaces libcurl's default bundle); empty where the TLS
// library reads the system's store by itself.
std::string systemCaFolder();

// Why the peer's certificate was refused, from libcurl's
// CURLINFO_SSL_VERIFYRESULT: "unable to get local issuer certificate",
// "certificate has expired", or that the certificate names another host.
std::string peerRefusalText(long verifyResult);

}  // namespace platform

#endif  // WEBSETUP_PLATFORM_TLS_TRUST_H_
