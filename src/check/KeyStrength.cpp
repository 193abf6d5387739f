#include "check/KeyStrength.h"

#include "common/Translate.h"

#include <openssl/evp.h>
#include <openssl/objects.h>

namespace jarseal {

namespace {

// The name keytool gives a signature algorithm ("SHA256withRSA"), for the
// common ones; OpenSSL's long name for the rest.
std::string AlgorithmName(int nid) {
    switch (nid) {
    case NID_sha256WithRSAEncryption:
        return "SHA256withRSA";
    case NID_sha384WithRSAEncryption:
        return "SHA384withRSA";
    case NID_sha512WithRSAEncryption:
        return "SHA512withRSA";
    case NID_sha224WithRSAEncryption:
        return "SHA224withRSA";
    case NID_md5WithRSAEncryption:
        return "MD5withRSA";
    case NID_rsassaPss:
        return "RSASSA-PSS";
    case NID_ecdsa_with_SHA256:
        return "SHA256withECDSA";
    case NID_dsa_with_SHA256:
        return "SHA256withDSA";
    case NID_dsaWithSHA1:
        return "SHA1withDSA";
    default:
        break;
    }
    const char* name = OBJ_nid2ln(nid);
    return name != nullptr ? name : "an unknown algorithm";
}

} // namespace

void NoteKeyStrength(X509* cert, const std::string& which, CheckReport& report) {
    const int signature = X509_get_signature_nid(cert);
    if (signature != NID_sha1WithRSAEncryption)
        report.findings.push_back(
            {InstallerStatus::None,
             TrFormat("{1} is signed with {2}: phones of the MIDP 2.0 era verify only SHA1withRSA "
                      "certificates and refuse the suite (909); make the key with keytool -sigalg "
                      "SHA1withRSA (see the README)",
                      {which, AlgorithmName(signature)})});
    const EVP_PKEY* key = X509_get0_pubkey(cert);
    const int bits = key != nullptr ? EVP_PKEY_get_bits(key) : 0;
    if (key != nullptr && EVP_PKEY_get_base_id(key) == EVP_PKEY_RSA && bits > kLargestKeyOldPhonesVerify)
        report.findings.push_back(
            {InstallerStatus::None,
             TrFormat("{1} has a {2}-bit RSA key: many phones of the MIDP 2.0 era verify keys of at most "
                      "{3} bits and refuse the suite (909); make the key with keytool -keysize 2048 or 1024",
                      {which, std::to_string(bits), std::to_string(kLargestKeyOldPhonesVerify)})});
}

} // namespace jarseal
