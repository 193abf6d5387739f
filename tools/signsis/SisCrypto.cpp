#include "SisCrypto.h"

#include <openssl/bio.h>
#include <openssl/dsa.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/pkcs12.h>
#include <openssl/rsa.h>
#include <openssl/x509v3.h>

#include <cstring>

namespace jarseal::signsis {

namespace {

struct BioFree {
    void operator()(BIO* b) const { BIO_free(b); }
};
using BioPtr = std::unique_ptr<BIO, BioFree>;

struct CtxFree {
    void operator()(EVP_PKEY_CTX* c) const { EVP_PKEY_CTX_free(c); }
};
using CtxPtr = std::unique_ptr<EVP_PKEY_CTX, CtxFree>;

BioPtr MemoryBio(std::string_view bytes) {
    return BioPtr(BIO_new_mem_buf(bytes.data(), static_cast<int>(bytes.size())));
}

std::string LastError() {
    const unsigned long code = ERR_peek_last_error();
    char text[256] = "unknown error";
    if (code != 0)
        ERR_error_string_n(code, text, sizeof text);
    ERR_clear_error();
    return text;
}

int PassphraseCallback(char* buf, int size, int, void* userdata) {
    const auto* pass = static_cast<const std::string*>(userdata);
    const int n = static_cast<int>(pass->size());
    if (n > size)
        return -1;
    std::memcpy(buf, pass->data(), static_cast<std::size_t>(n));
    return n;
}

bool Contains(std::string_view haystack, std::string_view needle) {
    return haystack.find(needle) != std::string_view::npos;
}

// The SHA-1 DigestInfo prefix of PKCS#1 v1.5 signatures.
const unsigned char kSha1DigestInfo[] = {0x30, 0x21, 0x30, 0x09, 0x06, 0x05, 0x2B, 0x0E,
                                         0x03, 0x02, 0x1A, 0x05, 0x00, 0x04, 0x14};

// The length of the DER value at the start of a DSA signature blob, or the
// whole blob when it does not start with a readable DER SEQUENCE.
std::size_t DerLength(std::string_view blob) {
    if (blob.size() < 2 || static_cast<unsigned char>(blob[0]) != 0x30)
        return blob.size();
    const unsigned first = static_cast<unsigned char>(blob[1]);
    std::size_t length = 0, header = 2;
    if (first < 0x80) {
        length = first;
    } else {
        const unsigned count = first & 0x7F;
        if (count == 0 || count > 2 || blob.size() < 2 + count)
            return blob.size();
        for (unsigned i = 0; i < count; ++i)
            length = length << 8 | static_cast<unsigned char>(blob[2 + i]);
        header += count;
    }
    return header + length <= blob.size() ? header + length : blob.size();
}

std::string NameText(X509_NAME* name) {
    BioPtr bio(BIO_new(BIO_s_mem()));
    X509_NAME_print_ex(bio.get(), name, 0, XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB);
    char* data = nullptr;
    const long n = BIO_get_mem_data(bio.get(), &data);
    return std::string(data, static_cast<std::size_t>(n));
}

std::string TimeText(const ASN1_TIME* t) {
    BioPtr bio(BIO_new(BIO_s_mem()));
    ASN1_TIME_print(bio.get(), t);
    char* data = nullptr;
    const long n = BIO_get_mem_data(bio.get(), &data);
    return std::string(data, static_cast<std::size_t>(n));
}

} // namespace

std::vector<CertPtr> ParseDerCertificates(std::string_view der) {
    std::vector<CertPtr> certs;
    const auto* p = reinterpret_cast<const unsigned char*>(der.data());
    const auto* end = p + der.size();
    while (p < end) {
        X509* cert = d2i_X509(nullptr, &p, end - p);
        if (!cert) {
            ERR_clear_error();
            throw CryptoError("The certificates cannot be read (not DER certificates).");
        }
        certs.emplace_back(cert);
    }
    return certs;
}

std::vector<CertPtr> LoadCertificates(std::string_view fileBytes) {
    std::vector<CertPtr> certs;
    if (Contains(fileBytes, "-----BEGIN")) {
        BioPtr bio = MemoryBio(fileBytes);
        while (X509* cert = PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr))
            certs.emplace_back(cert);
        ERR_clear_error();
    } else {
        certs = ParseDerCertificates(fileBytes);
    }
    if (certs.empty())
        throw CryptoError("The certificate file holds no certificate.");
    return certs;
}

KeyPtr LoadPrivateKey(std::string_view fileBytes, const std::string& passphrase) {
    std::string pass = passphrase;
    EVP_PKEY* key = nullptr;
    const bool pem = Contains(fileBytes, "-----BEGIN");
    bool encrypted = false;
    if (pem) {
        encrypted = Contains(fileBytes, "ENCRYPTED");
        BioPtr bio = MemoryBio(fileBytes);
        key = PEM_read_bio_PrivateKey(bio.get(), nullptr, PassphraseCallback, &pass);
    } else {
        // Plain DER first; then encrypted PKCS#8 in DER.
        const auto* p = reinterpret_cast<const unsigned char*>(fileBytes.data());
        key = d2i_AutoPrivateKey(nullptr, &p, static_cast<long>(fileBytes.size()));
        if (!key) {
            ERR_clear_error();
            const auto* q = reinterpret_cast<const unsigned char*>(fileBytes.data());
            if (X509_SIG* p8 = d2i_X509_SIG(nullptr, &q, static_cast<long>(fileBytes.size()))) {
                encrypted = true;
                if (PKCS8_PRIV_KEY_INFO* info =
                        PKCS8_decrypt(p8, pass.data(), static_cast<int>(pass.size()))) {
                    key = EVP_PKCS82PKEY(info);
                    PKCS8_PRIV_KEY_INFO_free(info);
                }
                X509_SIG_free(p8);
            }
        }
    }
    if (!key) {
        const std::string reason = LastError();
        if (encrypted && passphrase.empty())
            throw CryptoError("The key is encrypted: give its passphrase.");
        if (encrypted)
            throw CryptoError("Wrong passphrase: the key cannot be decrypted with the passphrase given.");
        throw CryptoError("The key file holds no readable private key (" + reason + ").");
    }
    return KeyPtr(key);
}

KeyKind KindOf(EVP_PKEY* key) {
    switch (EVP_PKEY_get_base_id(key)) {
    case EVP_PKEY_RSA:
        return KeyKind::Rsa;
    case EVP_PKEY_DSA:
        return KeyKind::Dsa;
    default:
        throw CryptoError("The key is neither RSA nor DSA; phones accept only those.");
    }
}

const char* OidOf(KeyKind kind) {
    return kind == KeyKind::Rsa ? "1.2.840.113549.1.1.5" : "1.2.840.10040.4.3";
}

std::string Sha1(std::string_view bytes) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (!EVP_Digest(bytes.data(), bytes.size(), digest, &size, EVP_sha1(), nullptr))
        throw CryptoError("SHA-1 is not available: " + LastError());
    return std::string(reinterpret_cast<char*>(digest), size);
}

std::string SignSha1(EVP_PKEY* key, std::string_view data) {
    const KeyKind kind = KindOf(key);
    std::string tbs = Sha1(data);
    if (kind == KeyKind::Rsa)
        tbs = std::string(reinterpret_cast<const char*>(kSha1DigestInfo), sizeof kSha1DigestInfo) + tbs;
    CtxPtr ctx(EVP_PKEY_CTX_new(key, nullptr));
    if (!ctx || EVP_PKEY_sign_init(ctx.get()) <= 0 ||
        (kind == KeyKind::Rsa && EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) <= 0))
        throw CryptoError("Cannot sign with this key: " + LastError());
    std::size_t size = 0;
    const auto* in = reinterpret_cast<const unsigned char*>(tbs.data());
    if (EVP_PKEY_sign(ctx.get(), nullptr, &size, in, tbs.size()) <= 0)
        throw CryptoError("Cannot sign with this key: " + LastError());
    const std::size_t maxSize = size;
    std::string sig(size, '\0');
    if (EVP_PKEY_sign(ctx.get(), reinterpret_cast<unsigned char*>(sig.data()), &size, in, tbs.size()) <= 0)
        throw CryptoError("Signing failed: " + LastError());
    sig.resize(size);
    // A DSA blob is the key's largest DER signature, the DER (r, s) followed by
    // zero bytes, as packages made by the SDK have it; verifiers read the DER
    // length and ignore the tail.
    if (kind == KeyKind::Dsa)
        sig.resize(maxSize, '\0');
    return sig;
}

bool VerifySha1(EVP_PKEY* publicKey, std::string_view algorithmOid, std::string_view signature,
                std::string_view data) {
    const int base = EVP_PKEY_get_base_id(publicKey);
    std::string tbs = Sha1(data);
    if (algorithmOid == OidOf(KeyKind::Rsa)) {
        if (base != EVP_PKEY_RSA)
            return false;
        tbs = std::string(reinterpret_cast<const char*>(kSha1DigestInfo), sizeof kSha1DigestInfo) + tbs;
    } else if (algorithmOid == OidOf(KeyKind::Dsa)) {
        if (base != EVP_PKEY_DSA)
            return false;
        signature = signature.substr(0, DerLength(signature));
    } else {
        return false;
    }
    CtxPtr ctx(EVP_PKEY_CTX_new(publicKey, nullptr));
    bool ok =
        ctx && EVP_PKEY_verify_init(ctx.get()) > 0 &&
        (base != EVP_PKEY_RSA || EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) > 0) &&
        EVP_PKEY_verify(ctx.get(), reinterpret_cast<const unsigned char*>(signature.data()), signature.size(),
                        reinterpret_cast<const unsigned char*>(tbs.data()), tbs.size()) == 1;
    ERR_clear_error();
    return ok;
}

std::string ToDer(const std::vector<CertPtr>& certs) {
    std::string out;
    for (const auto& cert : certs) {
        unsigned char* der = nullptr;
        const int n = i2d_X509(cert.get(), &der);
        if (n <= 0)
            throw CryptoError("A certificate cannot be encoded: " + LastError());
        out.append(reinterpret_cast<char*>(der), static_cast<std::size_t>(n));
        OPENSSL_free(der);
    }
    return out;
}

std::string ToPem(X509* cert) {
    BioPtr bio(BIO_new(BIO_s_mem()));
    PEM_write_bio_X509(bio.get(), cert);
    char* data = nullptr;
    const long n = BIO_get_mem_data(bio.get(), &data);
    return std::string(data, static_cast<std::size_t>(n));
}

std::string SubjectText(X509* cert) {
    return NameText(X509_get_subject_name(cert));
}

std::string IssuerText(X509* cert) {
    return NameText(X509_get_issuer_name(cert));
}

std::string ValidityText(X509* cert) {
    return TimeText(X509_get0_notBefore(cert)) + " to " + TimeText(X509_get0_notAfter(cert));
}

DateProblem DateProblemOf(X509* cert) {
    if (X509_cmp_current_time(X509_get0_notBefore(cert)) > 0)
        return DateProblem::NotYetValid;
    if (X509_cmp_current_time(X509_get0_notAfter(cert)) < 0)
        return DateProblem::Expired;
    return DateProblem::None;
}

std::string ValidityProblem(X509* cert) {
    switch (DateProblemOf(cert)) {
    case DateProblem::NotYetValid:
        return "is not valid yet (valid from " + TimeText(X509_get0_notBefore(cert)) + ")";
    case DateProblem::Expired:
        return "has expired (valid until " + TimeText(X509_get0_notAfter(cert)) + ")";
    case DateProblem::None:
        break;
    }
    return {};
}

} // namespace jarseal::signsis
