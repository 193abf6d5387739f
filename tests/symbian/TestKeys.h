#pragma once

// Keys and self-signed certificates made with OpenSSL for the signing tests,
// written in the file formats the signing program reads.

#include <openssl/bio.h>
#include <openssl/dsa.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <memory>
#include <stdexcept>
#include <string>

namespace jarseal::test {

struct TestKey {
    std::shared_ptr<EVP_PKEY> key;
    std::shared_ptr<X509> cert;
};

inline std::string BioText(BIO* bio) {
    char* data = nullptr;
    const long n = BIO_get_mem_data(bio, &data);
    std::string text(data, static_cast<std::size_t>(n));
    BIO_free(bio);
    return text;
}

inline std::shared_ptr<EVP_PKEY> GenerateKey(bool dsa) {
    EVP_PKEY* key = nullptr;
    if (!dsa) {
        key = EVP_RSA_gen(2048);
    } else {
        EVP_PKEY_CTX* pctx = EVP_PKEY_CTX_new_from_name(nullptr, "DSA", nullptr);
        EVP_PKEY* params = nullptr;
        if (EVP_PKEY_paramgen_init(pctx) <= 0 || EVP_PKEY_CTX_set_dsa_paramgen_bits(pctx, 1024) <= 0 ||
            EVP_PKEY_CTX_set_dsa_paramgen_q_bits(pctx, 160) <= 0 || EVP_PKEY_paramgen(pctx, &params) <= 0)
            throw std::runtime_error("DSA parameters");
        EVP_PKEY_CTX_free(pctx);
        EVP_PKEY_CTX* kctx = EVP_PKEY_CTX_new(params, nullptr);
        EVP_PKEY_keygen_init(kctx);
        EVP_PKEY_keygen(kctx, &key);
        EVP_PKEY_CTX_free(kctx);
        EVP_PKEY_free(params);
    }
    if (!key)
        throw std::runtime_error("key generation");
    return {key, EVP_PKEY_free};
}

// A self-signed certificate valid from `fromDays` to `toDays` days from now.
inline std::shared_ptr<X509> SelfSigned(EVP_PKEY* key, const std::string& cn, long fromDays = -1,
                                        long toDays = 3650) {
    X509* x = X509_new();
    X509_set_version(x, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(x), 1);
    X509_gmtime_adj(X509_getm_notBefore(x), fromDays * 86400);
    X509_gmtime_adj(X509_getm_notAfter(x), toDays * 86400);
    X509_NAME* name = X509_get_subject_name(x);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(cn.c_str()),
                               -1, -1, 0);
    X509_set_issuer_name(x, name);
    X509_set_pubkey(x, key);
    if (!X509_sign(x, key, EVP_sha256()))
        throw std::runtime_error("certificate signing");
    return {x, X509_free};
}

inline TestKey MakeTestKey(bool dsa, const std::string& cn) {
    TestKey k;
    k.key = GenerateKey(dsa);
    k.cert = SelfSigned(k.key.get(), cn);
    return k;
}

inline std::string CertPem(X509* cert) {
    BIO* bio = BIO_new(BIO_s_mem());
    PEM_write_bio_X509(bio, cert);
    return BioText(bio);
}

inline std::string CertDer(X509* cert) {
    unsigned char* der = nullptr;
    const int n = i2d_X509(cert, &der);
    std::string out(reinterpret_cast<char*>(der), static_cast<std::size_t>(n));
    OPENSSL_free(der);
    return out;
}

enum class KeyFormat { TraditionalPem, Pkcs8Pem, Der, EncryptedPkcs8Der };

// The key in a format; encrypted (AES-128-CBC) when a passphrase is given.
inline std::string KeyFile(EVP_PKEY* key, KeyFormat format, const std::string& pass = "") {
    BIO* bio = BIO_new(BIO_s_mem());
    const EVP_CIPHER* cipher = pass.empty() ? nullptr : EVP_aes_128_cbc();
    auto* p = reinterpret_cast<unsigned char*>(const_cast<char*>(pass.data()));
    const int len = static_cast<int>(pass.size());
    switch (format) {
    case KeyFormat::TraditionalPem:
        PEM_write_bio_PrivateKey_traditional(bio, key, cipher, p, len, nullptr, nullptr);
        break;
    case KeyFormat::Pkcs8Pem:
        PEM_write_bio_PKCS8PrivateKey(bio, key, cipher, pass.empty() ? nullptr : pass.c_str(), len, nullptr,
                                      nullptr);
        break;
    case KeyFormat::Der:
        i2d_PrivateKey_bio(bio, key);
        break;
    case KeyFormat::EncryptedPkcs8Der:
        i2d_PKCS8PrivateKey_bio(bio, key, EVP_aes_128_cbc(), const_cast<char*>(pass.c_str()), len, nullptr,
                                nullptr);
        break;
    }
    return BioText(bio);
}

} // namespace jarseal::test
