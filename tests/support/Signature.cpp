#include "support/Signature.h"

#include "check/Base64.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/pkcs12.h>
#include <openssl/x509v3.h>

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
    bool ok = false;
    return jarseal::Base64Decode(text, ok);
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

KeyPtr NewKey() {
    return KeyPtr(EVP_RSA_gen(2048), EVP_PKEY_free);
}

CertPtr NewCert(const char* subject, EVP_PKEY* key, const char* issuer, EVP_PKEY* issuerKey, long daysFrom,
                long daysTo, const std::vector<Extension>& extensions, const EVP_MD* digest) {
    CertPtr cert(X509_new(), X509_free);
    X509_set_version(cert.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), 7);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), daysFrom * 86400);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), daysTo * 86400);
    X509_NAME_add_entry_by_txt(X509_get_subject_name(cert.get()), "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>(subject), -1, -1, 0);
    X509_NAME_add_entry_by_txt(X509_get_issuer_name(cert.get()), "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>(issuer), -1, -1, 0);
    X509_set_pubkey(cert.get(), key);
    for (const auto& [nid, value] : extensions) {
        X509V3_CTX ctx;
        X509V3_set_ctx_nodb(&ctx);
        X509V3_set_ctx(&ctx, cert.get(), cert.get(), nullptr, nullptr, 0);
        X509_EXTENSION* ext = X509V3_EXT_nconf_nid(nullptr, &ctx, nid, value);
        X509_add_ext(cert.get(), ext, -1);
        X509_EXTENSION_free(ext);
    }
    X509_sign(cert.get(), issuerKey, digest != nullptr ? digest : EVP_sha1());
    return cert;
}

std::string Der(X509* cert) {
    unsigned char* buf = nullptr;
    const int n = i2d_X509(cert, &buf);
    std::string der(reinterpret_cast<char*>(buf), static_cast<std::size_t>(n));
    OPENSSL_free(buf);
    return der;
}

void WritePkcs12(const std::string& path, const char* password, const char* alias, EVP_PKEY* key,
                 const std::vector<X509*>& chain) {
    STACK_OF(X509)* others = sk_X509_new_null();
    for (std::size_t i = 1; i < chain.size(); ++i)
        sk_X509_push(others, chain[i]);
    PKCS12* store = PKCS12_create(password, alias, key, chain.at(0), others, 0, 0, 0, 0, 0);
    sk_X509_free(others);
    ASSERT_NE(store, nullptr);
    FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(i2d_PKCS12_fp(file, store), 1);
    std::fclose(file);
    PKCS12_free(store);
}

} // namespace jarseal::test
