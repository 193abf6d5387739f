#pragma once

#include <map>
#include <string>

namespace jarseal::test {

// Reads a descriptor's "name: value" lines (CR LF or LF) into a map.
std::map<std::string, std::string> DescriptorAttributes(const std::string& text);

// Verifies with OpenSSL that base64 signature is the SHA1withRSA signature of
// data by the key of the base64 DER certificate.
bool VerifySha1RsaSignature(const std::string& data, const std::string& certBase64,
                            const std::string& signatureBase64);

} // namespace jarseal::test
