#include "check/SuiteCheck.h"
#include "support/TempDir.h"
#include "support/ZipBuilder.h"

#include <chrono>
#include <cstdio>
#include <gtest/gtest.h>
#include <memory>
#include <openssl/evp.h>
#include <openssl/x509.h>
#include <thread>

using namespace jarseal;
using namespace jarseal::test;

namespace {

using KeyPtr = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using CertPtr = std::unique_ptr<X509, decltype(&X509_free)>;

std::string Base64(const std::string& bytes) {
    std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    const int n =
        EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                        reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<int>(bytes.size()));
    out.resize(static_cast<std::size_t>(n));
    return out;
}

KeyPtr NewKey() {
    return KeyPtr(EVP_RSA_gen(2048), EVP_PKEY_free);
}

// A certificate for subject, issued by issuer (itself when issuerKey is the
// subject's key), valid from daysFrom to daysTo around now.
CertPtr NewCert(const char* subject, EVP_PKEY* key, const char* issuer, EVP_PKEY* issuerKey, long daysFrom,
                long daysTo) {
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
    X509_sign(cert.get(), issuerKey, EVP_sha256());
    return cert;
}

std::string Der(X509* cert) {
    unsigned char* buf = nullptr;
    const int n = i2d_X509(cert, &buf);
    std::string der(reinterpret_cast<char*>(buf), static_cast<std::size_t>(n));
    OPENSSL_free(buf);
    return der;
}

std::string SignSha1(EVP_PKEY* key, const std::string& data) {
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> md(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    std::size_t size = 0;
    EVP_DigestSignInit(md.get(), nullptr, EVP_sha1(), nullptr, key);
    EVP_DigestSign(md.get(), nullptr, &size, reinterpret_cast<const unsigned char*>(data.data()),
                   data.size());
    std::string sig(size, '\0');
    EVP_DigestSign(md.get(), reinterpret_cast<unsigned char*>(sig.data()), &size,
                   reinterpret_cast<const unsigned char*>(data.data()), data.size());
    sig.resize(size);
    return sig;
}

const std::string kManifest = "Manifest-Version: 1.0\r\n"
                              "MIDlet-1: Game, /i.png, game.Main\r\n"
                              "MIDlet-Name: Game\r\n"
                              "MIDlet-Vendor: Acme\r\n"
                              "MIDlet-Version: 1.0\r\n"
                              "MIDlet-Description: A game whose description is long enough to be folde\r\n"
                              " d by the jar tool\r\n"
                              "MicroEdition-Profile: MIDP-2.0\r\n"
                              "MicroEdition-Configuration: CLDC-1.1\r\n"
                              "MIDlet-Permissions: javax.microedition.io.Connector.http\r\n";

// A suite signed as a phone expects it, and the pieces to break it with.
struct CheckFixture : ::testing::Test {
    TempDir dir;
    std::string jar = dir / "game.jar";
    std::string jad = dir / "game.jad";
    KeyPtr key = NewKey();
    CertPtr cert = NewCert("Signer", key.get(), "Signer", key.get(), -1, 3650);
    std::string jarBytes;

    void SetUp() override {
        WriteZip(jar, {{"META-INF/MANIFEST.MF", kManifest}, {"game/Main.class", "CAFEBABE"}});
        jarBytes = ReadFile(jar);
    }
    std::string Descriptor(const std::string& certLines, const std::string& signature) {
        return "MIDlet-Jar-URL: game.jar\r\nMIDlet-Jar-Size: " + std::to_string(jarBytes.size()) +
               "\r\nMIDlet-1: Game, /i.png, game.Main\r\nMIDlet-Name: Game\r\nMIDlet-Vendor: Acme\r\n"
               "MIDlet-Version: 1.0\r\n"
               "MIDlet-Description: A game whose description is long enough to be folded by the jar tool\r\n"
               "MicroEdition-Profile: MIDP-2.0\r\nMicroEdition-Configuration: CLDC-1.1\r\n" +
               certLines + "MIDlet-Jar-RSA-SHA1: " + Base64(signature) +
               "\r\nMIDlet-Permissions: javax.microedition.io.Connector.http\r\n";
    }
    std::string Good() {
        return Descriptor("MIDlet-Certificate-1-1: " + Base64(Der(cert.get())) + "\r\n",
                          SignSha1(key.get(), jarBytes));
    }
    CheckReport CheckWith(const std::string& descriptor) {
        WriteFile(jad, descriptor);
        return CheckJavaSuite(jad, jar);
    }
};

std::string Replace(std::string text, const std::string& from, const std::string& to) {
    const auto pos = text.find(from);
    EXPECT_NE(pos, std::string::npos) << from;
    if (pos != std::string::npos)
        text.replace(pos, from.size(), to);
    return text;
}

} // namespace

TEST_F(CheckFixture, ACorrectlySignedSuitePasses) {
    const CheckReport report = CheckWith(Good());
    EXPECT_FALSE(report.Refused());
    ASSERT_EQ(report.findings.size(), 1u); // the note on the self-signed certificate
    EXPECT_EQ(report.findings[0].code, 0);
}

TEST_F(CheckFixture, EachFaultIsFoundWithItsPhoneCode) {
    const std::string good = Good();
    struct Case {
        const char* fault;
        std::string descriptor;
        int code;
        bool alone = true; // false where the fault also makes a value differ from the manifest
    };
    const std::string sizeLine = "MIDlet-Jar-Size: " + std::to_string(jarBytes.size());
    const Case cases[] = {
        {"byte-order mark", "\xEF\xBB\xBF" + good, 906},
        {"continuation line", Replace(good, "folded by the jar tool\r\n", "folded by the jar\r\n tool\r\n"),
         906, false},
        {"invalid name", Replace(good, "MIDlet-Vendor:", "MIDlet Vendor:"), 906},
        {"missing vendor", Replace(good, "MIDlet-Vendor: Acme\r\n", ""), 906},
        {"wrong jar size", Replace(good, sizeLine, sizeLine + "1"), 904},
        {"jar URL names another jar", Replace(good, "MIDlet-Jar-URL: game.jar", "MIDlet-Jar-URL: other.jar"),
         906},
        {"version differs", Replace(good, "MIDlet-Version: 1.0", "MIDlet-Version: 1.1"), 905},
        {"description cut", Replace(good, " by the jar tool\r\n", "\r\n"), 905},
        {"signature of other bytes",
         Descriptor("MIDlet-Certificate-1-1: " + Base64(Der(cert.get())) + "\r\n",
                    SignSha1(key.get(), jarBytes + "x")),
         909},
        {"unknown permission", Replace(good, "Connector.http\r\n", "Connector.htp\r\n"), 910, false},
    };
    for (const auto& c : cases) {
        const CheckReport report = CheckWith(c.descriptor);
        EXPECT_TRUE(report.Has(c.code)) << c.fault;
        for (const auto& f : report.findings)
            EXPECT_TRUE(f.code == 0 || f.code == c.code || (!c.alone && f.code == 905))
                << c.fault << ": also " << f.code << " " << f.text;
    }
}

TEST_F(CheckFixture, CertificateDatesAndChainsAreChecked) {
    const CertPtr expired = NewCert("Signer", key.get(), "Signer", key.get(), -400, -30);
    EXPECT_TRUE(CheckWith(Descriptor("MIDlet-Certificate-1-1: " + Base64(Der(expired.get())) + "\r\n",
                                     SignSha1(key.get(), jarBytes)))
                    .Has(909));

    const KeyPtr rootKey = NewKey();
    const CertPtr root = NewCert("Root", rootKey.get(), "Root", rootKey.get(), -1, 3650);
    const CertPtr signer = NewCert("Signer", key.get(), "Root", rootKey.get(), -1, 3650);
    const std::string signature = SignSha1(key.get(), jarBytes);
    const CheckReport withoutRoot =
        CheckWith(Descriptor("MIDlet-Certificate-1-1: " + Base64(Der(signer.get())) + "\r\n", signature));
    EXPECT_FALSE(withoutRoot.Refused());
    EXPECT_TRUE(withoutRoot.findings.empty());
    const CheckReport withRoot =
        CheckWith(Descriptor("MIDlet-Certificate-1-1: " + Base64(Der(signer.get())) +
                                 "\r\nMIDlet-Certificate-1-2: " + Base64(Der(root.get())) + "\r\n",
                             signature));
    EXPECT_TRUE(withRoot.Has(909));
}

TEST_F(CheckFixture, AJarThatIsNoArchiveIsInvalid) {
    const std::string good = Good();
    WriteFile(jar, std::string(jarBytes.size(), 'x')); // same size, no zip
    EXPECT_TRUE(CheckWith(good).Has(907));
    EXPECT_TRUE(CheckJavaSuite(dir / "missing.jad", jar).Has(906));
}

TEST_F(CheckFixture, JarFactsReadAheadGiveTheSameVerdictUnlessTheJarChangedSince) {
    WriteFile(jad, Good());
    const CheckReport direct = CheckJavaSuite(jad, jar);
    {
        JarFactsAhead ahead(jar);
        const CheckReport report = CheckJavaSuite(jad, jar, [&] { return ahead.Take(); });
        EXPECT_EQ(report.findings, direct.findings);
    }
    // A jar replaced after its facts were read is read again: the verdict
    // is the one for the jar as it is at the check, never the stale one.
    {
        JarFactsAhead ahead(jar);
        WriteZip(jar + ".new", {{"META-INF/MANIFEST.MF", kManifest}, {"game/Main.class", "CAFEBABE!"}});
        ASSERT_EQ(std::rename((jar + ".new").c_str(), jar.c_str()), 0);
        const CheckReport report = CheckJavaSuite(jad, jar, [&] { return ahead.Take(); });
        EXPECT_TRUE(report.Has(904)) << "size";
        EXPECT_TRUE(report.Has(909)) << "signature";
    }
    // So is one written over in place, with the same size.
    WriteFile(jar, jarBytes);
    {
        JarFactsAhead ahead(jar);
        std::string other = jarBytes;
        other[other.size() / 2] = static_cast<char>(other[other.size() / 2] ^ 1);
        std::this_thread::sleep_for(std::chrono::milliseconds(20)); // a later change time
        WriteFile(jar, other);
        const CheckReport report = CheckJavaSuite(jad, jar, [&] { return ahead.Take(); });
        EXPECT_FALSE(report.Has(904));
        EXPECT_TRUE(report.Refused());
    }
    // A jar that cannot be read ahead is reported as the check reports it.
    std::remove(jar.c_str());
    {
        JarFactsAhead ahead(jar);
        const CheckReport report = CheckJavaSuite(jad, jar, [&] { return ahead.Take(); });
        ASSERT_TRUE(report.Has(907));
        EXPECT_EQ(report.findings.back().text.rfind("jar cannot be read: ", 0), 0u)
            << report.findings.back().text;
    }
    // Facts read ahead and never taken end with their reader.
    WriteFile(jar, jarBytes);
    { JarFactsAhead unused(jar); }
}

TEST(JarFacts, DigestSizeAndManifestOfALargeJarReadInPieces) {
    TempDir dir;
    const std::string jar = dir / "big.jar";
    std::string big(5 * 1024 * 1024 + 17, '\0');
    for (std::size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<char>((i * 2654435761u) >> 13);
    WriteZip(jar, {{"META-INF/MANIFEST.MF", kManifest}, {"res/big.bin", big}});
    const std::string bytes = ReadFile(jar);
    const JarFacts facts = ReadJarFacts(jar);
    EXPECT_EQ(facts.readError, "");
    EXPECT_EQ(facts.size, bytes.size());
    EXPECT_EQ(facts.manifest, kManifest);
    EXPECT_EQ(facts.manifestWhy, "");
    unsigned char digest[20];
    unsigned int length = 0;
    EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha1(), nullptr);
    EXPECT_EQ(std::string(facts.sha1.begin(), facts.sha1.end()), std::string(digest, digest + 20));

    WriteFile(jar, "no archive");
    EXPECT_EQ(ReadJarFacts(jar).manifestWhy, "is not a zip archive");
}
