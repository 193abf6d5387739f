#include "check/Rules.h"

#include "check/Base64.h"
#include "check/KeyStrength.h"
#include "common/Translate.h"

#include <cstdio>
#include <ctime>
#include <memory>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <utility>
#include <vector>

namespace jarseal::check {

namespace {

using X509Ptr = std::unique_ptr<X509, decltype(&X509_free)>;

std::string NameText(const X509_NAME* name) {
    char buf[512] = {};
    X509_NAME_oneline(name, buf, sizeof buf);
    return buf;
}

// Verifies an RSA PKCS#1 v1.5 signature over a SHA-1 digest; the digest is
// computed by the caller, so a crypto policy against SHA-1 signatures does
// not stand in the way of checking one.
bool VerifySha1Rsa(X509* cert, const Sha1Digest& digest, const std::string& signature) {
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(X509_get_pubkey(cert), EVP_PKEY_free);
    if (!key || EVP_PKEY_get_base_id(key.get()) != EVP_PKEY_RSA)
        return false;
    std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)> ctx(EVP_PKEY_CTX_new(key.get(), nullptr),
                                                                    EVP_PKEY_CTX_free);
    return ctx && EVP_PKEY_verify_init(ctx.get()) == 1 &&
           EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) == 1 &&
           EVP_PKEY_CTX_set_signature_md(ctx.get(), EVP_sha1()) == 1 &&
           EVP_PKEY_verify(ctx.get(), reinterpret_cast<const unsigned char*>(signature.data()),
                           signature.size(), digest.data(), digest.size()) == 1;
}

// "YYYY-MM-DD" of a certificate's time.
std::string DateText(const ASN1_TIME* time) {
    std::tm tm{};
    if (ASN1_TIME_to_tm(time, &tm) != 1)
        return "?";
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
    return text;
}

// The SHA-1 fingerprint of a certificate as phones and keytool show it,
// "AB:CD:...".
std::string Sha1Fingerprint(const X509* cert) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (X509_digest(cert, EVP_sha1(), digest, &size) != 1)
        return "?";
    std::string text;
    char hex[4];
    for (unsigned int i = 0; i < size; ++i) {
        std::snprintf(hex, sizeof hex, i == 0 ? "%02X" : ":%02X", digest[i]);
        text += hex;
    }
    return text;
}

bool SelfSigned(const X509* cert) {
    return X509_NAME_cmp(X509_get_subject_name(cert), X509_get_issuer_name(cert)) == 0;
}

// The note that says which root certificate a phone must hold to install
// the suite: a phone without it refuses a signed suite, however well signed.
// length counts the certificates of the chain before any root it carries.
std::string TrustNote(const std::vector<X509Ptr>& chain, std::size_t length) {
    const X509* last = chain[length - 1].get();
    if (!SelfSigned(last))
        return TrFormat(
            "a phone installs this suite only if it holds the root certificate \"{1}\" that issued "
            "MIDlet-Certificate-1-{2}; a phone without it refuses the suite (909)",
            {NameText(X509_get_issuer_name(last)), std::to_string(length)});
    return TrFormat(
        "a phone installs this suite only if it holds the signer's own certificate as a root: \"{1}\", "
        "SHA-1 {2}, valid {3} to {4}; a phone without it refuses the suite (909). Put it on the phone "
        "with jarseal-cli --export-certificate FILE.cer",
        {NameText(X509_get_subject_name(last)), Sha1Fingerprint(last), DateText(X509_get0_notBefore(last)),
         DateText(X509_get0_notAfter(last))});
}

// What the signer's certificate must allow when it says what it is for: a
// digital signature, and the signing of code.
void CheckSignerUsage(X509* signer, CheckReport& report) {
    const std::uint32_t usage = X509_get_key_usage(signer);
    if (usage != UINT32_MAX && (usage & KU_DIGITAL_SIGNATURE) == 0)
        report.findings.push_back(
            {InstallerStatus::AuthenticationFailure,
             Tr("MIDlet-Certificate-1-1: its keyUsage does not allow digitalSignature")});
    const std::uint32_t extended = X509_get_extended_key_usage(signer);
    if (extended != UINT32_MAX && (extended & (XKU_CODE_SIGN | XKU_ANYEKU)) == 0)
        report.findings.push_back(
            {InstallerStatus::AuthenticationFailure,
             Tr("MIDlet-Certificate-1-1: its extendedKeyUsage does not allow codeSigning")});
}

// True when issuer's name is the certificate's issuer and its key signed
// the certificate.
bool IssuedBy(X509* cert, X509* issuer) {
    if (X509_NAME_cmp(X509_get_issuer_name(cert), X509_get_subject_name(issuer)) != 0)
        return false;
    EVP_PKEY* key = X509_get0_pubkey(issuer);
    const bool signedByIt = key != nullptr && X509_verify(cert, key) == 1;
    ERR_clear_error();
    return signedByIt;
}

// The certificate a DER text holds, or null. Decoding a certificate and its
// key is the larger part of checking a signed suite, and a batch signs every
// suite with the same chain: each thread keeps the last few it decoded and
// hands out references to them. The check only reads a certificate.
X509Ptr DecodeCertificate(const std::string& der) {
    constexpr std::size_t kKept = 4;
    thread_local std::vector<std::pair<std::string, X509Ptr>> kept;
    for (const auto& [bytes, cert] : kept)
        if (bytes == der && X509_up_ref(cert.get()) == 1)
            return X509Ptr(cert.get(), X509_free);
    const auto* p = reinterpret_cast<const unsigned char*>(der.data());
    X509Ptr cert(d2i_X509(nullptr, &p, static_cast<long>(der.size())), X509_free);
    if (!cert || X509_up_ref(cert.get()) != 1)
        return cert;
    if (kept.size() == kKept)
        kept.erase(kept.begin());
    kept.emplace_back(der, X509Ptr(cert.get(), X509_free));
    return cert;
}

} // namespace

// The signature over the jar and the certificates of chain 1.
void CheckSignature(const Attributes& jad, const Sha1Digest& jarDigest, CheckReport& report) {
    const std::string* signature = Find(jad, "MIDlet-Jar-RSA-SHA1");
    std::vector<X509Ptr> chain;
    for (int m = 1;; ++m) {
        const std::string* text = Find(jad, "MIDlet-Certificate-1-" + std::to_string(m));
        if (text == nullptr)
            break;
        bool ok = false;
        const std::string der = Base64Decode(*text, ok);
        X509Ptr cert = ok ? DecodeCertificate(der) : X509Ptr(nullptr, X509_free);
        if (!cert) {
            report.findings.push_back(
                {InstallerStatus::AuthenticationFailure,
                 TrFormat("MIDlet-Certificate-1-{1} is not a base64 DER certificate", {std::to_string(m)})});
            return;
        }
        chain.push_back(std::move(cert));
    }
    if (signature == nullptr) {
        if (!chain.empty())
            report.findings.push_back(
                {InstallerStatus::AuthenticationFailure, Tr("certificates without MIDlet-Jar-RSA-SHA1")});
        return;
    }
    if (chain.empty()) {
        report.findings.push_back({InstallerStatus::AuthenticationFailure,
                                   Tr("MIDlet-Jar-RSA-SHA1 without MIDlet-Certificate-1-1")});
        return;
    }
    bool ok = false;
    const std::string signatureBytes = Base64Decode(*signature, ok);
    if (!ok || !VerifySha1Rsa(chain[0].get(), jarDigest, signatureBytes))
        report.findings.push_back({InstallerStatus::AuthenticationFailure,
                                   Tr("MIDlet-Jar-RSA-SHA1 does not verify against the jar with "
                                      "MIDlet-Certificate-1-1 (the jar changed after signing, or another key "
                                      "signed it)")});
    CheckSignerUsage(chain[0].get(), report);
    // The phone follows the chain from the signer until it meets an issuer
    // its key store holds: a root the chain carries is passed over, and so
    // is anything after it.
    std::size_t length = chain.size();
    for (std::size_t i = 0; i < length; ++i) {
        X509* cert = chain[i].get();
        const std::string which = "MIDlet-Certificate-1-" + std::to_string(i + 1);
        if (X509_cmp_current_time(X509_get0_notBefore(cert)) > 0)
            report.findings.push_back(
                {InstallerStatus::AuthenticationFailure, TrFormat("{1} is not valid yet", {which})});
        if (X509_cmp_current_time(X509_get0_notAfter(cert)) < 0)
            report.findings.push_back(
                {InstallerStatus::AuthenticationFailure, TrFormat("{1} has expired", {which})});
        if (i > 0 && SelfSigned(cert)) {
            report.findings.push_back({InstallerStatus::None,
                                       TrFormat("{1} is a root certificate ({2}): the phone ignores the root "
                                                "in the chain and uses its own; leave it out",
                                                {which, NameText(X509_get_subject_name(cert))})});
            length = i;
            break;
        }
        // Every certificate above the signer's vouches for the one below:
        // only a CA by its basicConstraints may.
        if (i > 0 && (X509_get_extension_flags(cert) & EXFLAG_CA) == 0)
            report.findings.push_back({InstallerStatus::AuthenticationFailure,
                                       TrFormat("{1} is no CA certificate (its basicConstraints "
                                                "do not say CA:TRUE), so it cannot vouch "
                                                "for MIDlet-Certificate-1-{2}",
                                                {which, std::to_string(i)})});
        if (i + 1 < chain.size() && !IssuedBy(cert, chain[i + 1].get()))
            report.findings.push_back({InstallerStatus::AuthenticationFailure,
                                       TrFormat("{1} was not issued by the next certificate", {which})});
    }
    if (!report.Refused()) {
        report.rootNote = TrustNote(chain, length);
        report.findings.push_back({InstallerStatus::None, report.rootNote});
    }
    for (std::size_t i = 0; i < length && !report.Refused(); ++i)
        NoteKeyStrength(chain[i].get(), "MIDlet-Certificate-1-" + std::to_string(i + 1), report);
}

} // namespace jarseal::check
