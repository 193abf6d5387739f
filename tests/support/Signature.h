#pragma once

#include <map>
#include <memory>
#include <openssl/x509.h>
#include <string>

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

} // namespace jarseal::test
