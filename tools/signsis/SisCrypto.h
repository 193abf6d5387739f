#pragma once

// Certificates, keys, SHA-1 signatures and their verification for package
// signing, on OpenSSL. The SHA-1 digest is computed here and only the digest
// is signed, so a system policy that forbids SHA-1 in the high-level signing
// calls does not stop it.

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace jarseal::signsis {

// A key, certificate or signature problem; the text is shown to the user.
struct CryptoError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct X509Free {
    void operator()(X509* x) const { X509_free(x); }
};
struct PkeyFree {
    void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};
using CertPtr = std::unique_ptr<X509, X509Free>;
using KeyPtr = std::unique_ptr<EVP_PKEY, PkeyFree>;

enum class KeyKind { Rsa, Dsa };

// Every PEM certificate of the file in order; when there is none, the file as
// DER certificates one after another. Throws CryptoError when nothing is found.
std::vector<CertPtr> LoadCertificates(std::string_view fileBytes);
// A private key in PEM (traditional, legacy-encrypted, PKCS#8, encrypted
// PKCS#8) or DER (plain, or encrypted PKCS#8); the passphrase is UTF-8.
// Throws CryptoError saying "wrong passphrase" when the key is encrypted and
// the passphrase does not open it.
KeyPtr LoadPrivateKey(std::string_view fileBytes, const std::string& passphrase);

// RSA or DSA; throws CryptoError for other key types.
KeyKind KindOf(EVP_PKEY* key);
const char* OidOf(KeyKind kind);

std::string Sha1(std::string_view bytes);
// Signs the SHA-1 of data: PKCS#1 v1.5 over the DigestInfo for RSA, DER
// (r, s) for DSA, padded with zero bytes to the key's largest DER signature
// (48 bytes for a 160-bit q).
std::string SignSha1(EVP_PKEY* key, std::string_view data);
// True when signature is a valid SHA-1 signature of data with the key of the
// algorithm OID; a DSA signature may carry padding after its DER value.
bool VerifySha1(EVP_PKEY* publicKey, std::string_view algorithmOid, std::string_view signature,
                std::string_view data);

// DER certificates concatenated.
std::string ToDer(const std::vector<CertPtr>& certs);
// Splits concatenated DER certificates; throws CryptoError when they do not parse.
std::vector<CertPtr> ParseDerCertificates(std::string_view der);
std::string ToPem(X509* cert);

std::string SubjectText(X509* cert);
std::string IssuerText(X509* cert);
std::string ValidityText(X509* cert);
// Empty when the certificate is valid now, else why not.
std::string ValidityProblem(X509* cert);

// Whether a phone refuses the certificate today for its dates.
enum class DateProblem { None, NotYetValid, Expired };
DateProblem DateProblemOf(X509* cert);

} // namespace jarseal::signsis
