#include "support/Signature.h"

#include <openssl/evp.h>

namespace jarseal::test {

std::map<std::string, std::string> DescriptorAttributes(const std::string& text) {
    std::map<std::string, std::string> attrs;
    std::size_t start = 0;
    while (start < text.size()) {
        auto end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const auto colon = line.find(": ");
        if (colon != std::string::npos)
            attrs[line.substr(0, colon)] = line.substr(colon + 2);
        start = end + 1;
    }
    return attrs;
}

std::string Base64Decode(const std::string& text) {
    if (text.size() % 4 != 0)
        return {};
    std::string out(text.size() / 4 * 3 + 3, '\0');
    const int n =
        EVP_DecodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                        reinterpret_cast<const unsigned char*>(text.data()), static_cast<int>(text.size()));
    if (n < 0)
        return {};
    std::size_t size = static_cast<std::size_t>(n);
    // EVP_DecodeBlock counts the padding bytes as data.
    for (std::size_t i = text.size(); i > 0 && text[i - 1] == '=' && size > 0; --i)
        --size;
    out.resize(size);
    return out;
}

X509Ptr ParseCertificate(const std::string& base64) {
    const std::string der = Base64Decode(base64);
    const auto* p = reinterpret_cast<const unsigned char*>(der.data());
    return X509Ptr(d2i_X509(nullptr, &p, static_cast<long>(der.size())), &X509_free);
}

bool VerifySha1Rsa(X509* cert, const std::string& data, const std::string& signatureBase64) {
    if (cert == nullptr)
        return false;
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(X509_get_pubkey(cert), EVP_PKEY_free);
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> md(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    if (!key || !md || EVP_DigestVerifyInit(md.get(), nullptr, EVP_sha1(), nullptr, key.get()) != 1)
        return false;
    const std::string sig = Base64Decode(signatureBase64);
    return EVP_DigestVerify(md.get(), reinterpret_cast<const unsigned char*>(sig.data()), sig.size(),
                            reinterpret_cast<const unsigned char*>(data.data()), data.size()) == 1;
}

bool VerifySha1RsaSignature(const std::string& data, const std::string& certBase64,
                            const std::string& signatureBase64) {
    const X509Ptr cert = ParseCertificate(certBase64);
    return VerifySha1Rsa(cert.get(), data, signatureBase64);
}

} // namespace jarseal::test
