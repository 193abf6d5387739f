#pragma once

#include <map>
#include <memory>
#include <openssl/evp.h>
#include <openssl/x509.h>
#include <string>
#include <utility>
#include <vector>

namespace jarseal::test {

// Reads a descriptor's "name: value" lines (CR LF or LF) into a map.
std::map<std::string, std::string> DescriptorAttributes(const std::string& text);

// Decodes one line of base64; empty for text that is not base64.
std::string Base64Decode(const std::string& text);

using X509Ptr = std::unique_ptr<X509, decltype(&X509_free)>;
// The certificate of a base64 DER text; null when it is none.
X509Ptr ParseCertificate(const std::string& base64);

// Verifies with OpenSSL that base64 signature is the SHA1withRSA signature of
// data by the certificate's key.
bool VerifySha1Rsa(X509* cert, const std::string& data, const std::string& signatureBase64);
bool VerifySha1RsaSignature(const std::string& data, const std::string& certBase64,
                            const std::string& signatureBase64);

using KeyPtr = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using CertPtr = X509Ptr;

// A new 2048-bit RSA key.
KeyPtr NewKey();

// An extension by its configuration text, e.g. (NID_key_usage, "keyCertSign").
using Extension = std::pair<int, const char*>;

// A certificate for subject, issued by issuer (itself when issuerKey is the
// subject's key), valid from daysFrom to daysTo around now, signed with
// SHA1withRSA as phones verify it unless another digest is given.
CertPtr NewCert(const char* subject, EVP_PKEY* key, const char* issuer, EVP_PKEY* issuerKey, long daysFrom,
                long daysTo, const std::vector<Extension>& extensions = {}, const EVP_MD* digest = nullptr);

// The DER bytes of a certificate.
std::string Der(X509* cert);

// Writes a PKCS#12 key store holding key under alias with its chain (the
// key's own certificate first), both protected by password.
void WritePkcs12(const std::string& path, const char* password, const char* alias, EVP_PKEY* key,
                 const std::vector<X509*>& chain);

} // namespace jarseal::test
