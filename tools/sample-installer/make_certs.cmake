# Makes the test signing authority of the sample installer, run with
#   cmake -DOPENSSL=... -DOUT_DIR=... -DDAYS=... [-DKEY_TYPE=ec|rsa] -P make_certs.cmake
# KEY_TYPE: P-256 keys (ec, the default) or 2048-bit RSA keys (rsa), which
# the Windows build signs with: Wine 8's WinVerifyTrust answers
# TRUST_E_CERT_SIGNATURE for a chain of P-256 certificates, while Windows
# and Wine alike verify RSA ones.
# In OUT_DIR: test-ca.key/.pem (self-signed CA), signer.key/.pem (the
# maker's code-signing certificate, issued by the CA), foreign.key/.pem (a
# second signer from the same CA, whom no deployment pins), and the pins:
# signer.sha256 / foreign.sha256 (SHA-256 of the certificate's DER) and
# signer-pubkey.sha256 (SHA-256 of its public key's DER), each 64
# lower-case hex digits without a line end.

function(openssl)
  execute_process(COMMAND ${OPENSSL} ${ARGN} WORKING_DIRECTORY ${OUT_DIR}
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "openssl ${ARGN} failed:\n${out}")
  endif()
endfunction()

# The SHA-256 of the DER of the file `der` written to `out`.
function(write_pin der out)
  file(SHA256 ${OUT_DIR}/${der} digest)
  file(WRITE ${OUT_DIR}/${out} "${digest}")
endfunction()

if(KEY_TYPE STREQUAL "rsa")
  set(newkey -newkey rsa:2048)
else()
  set(newkey -newkey ec -pkeyopt ec_paramgen_curve:prime256v1)
endif()

file(MAKE_DIRECTORY ${OUT_DIR})
file(WRITE ${OUT_DIR}/signer-ext.cnf
  "basicConstraints=critical,CA:FALSE\nkeyUsage=critical,digitalSignature\n"
  "extendedKeyUsage=codeSigning\nsubjectKeyIdentifier=hash\n"
  "authorityKeyIdentifier=keyid\n")

openssl(req -x509 ${newkey} -nodes
        -keyout test-ca.key -out test-ca.pem -days ${DAYS}
        -subj "/O=Orlastra test/CN=Orlastra test CA"
        -addext "basicConstraints=critical,CA:TRUE"
        -addext "keyUsage=critical,keyCertSign,cRLSign")

set(serial 1)
foreach(who signer foreign)
  if(who STREQUAL "signer")
    set(subject "/O=Orlastra/CN=Orlastra code signing")
  else()
    set(subject "/O=Someone else/CN=Foreign code signing")
  endif()
  openssl(req -new ${newkey} -nodes
          -keyout ${who}.key -out ${who}.csr -subj "${subject}")
  openssl(x509 -req -in ${who}.csr -CA test-ca.pem -CAkey test-ca.key -set_serial ${serial}
          -out ${who}.pem -days ${DAYS} -extfile signer-ext.cnf)
  openssl(x509 -in ${who}.pem -outform DER -out ${who}.der)
  write_pin(${who}.der ${who}.sha256)
  math(EXPR serial "${serial} + 1")
endforeach()

openssl(x509 -in signer.pem -pubkey -noout -out signer-pubkey.pem)
openssl(pkey -pubin -in signer-pubkey.pem -outform DER -out signer-pubkey.der)
write_pin(signer-pubkey.der signer-pubkey.sha256)
file(REMOVE ${OUT_DIR}/signer.csr ${OUT_DIR}/foreign.csr)
