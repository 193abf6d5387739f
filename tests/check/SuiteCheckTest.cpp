#include "check/SuiteCheck.h"
#include "app/Intake.h"
#include "support/Signature.h"
#include "support/TempDir.h"
#include "support/ZipBuilder.h"
#include "unzip/RawZip.h"

#include <algorithm>
#include <functional>
#include <gtest/gtest.h>
#include <iterator>
#include <memory>
#include <openssl/evp.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

using namespace jarseal;
using namespace jarseal::test;

namespace {

std::string Base64(const std::string& bytes) {
    std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    const int n =
        EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                        reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<int>(bytes.size()));
    out.resize(static_cast<std::size_t>(n));
    return out;
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
    ASSERT_EQ(report.findings.size(), 1u); // which root a phone needs: the signer itself
    EXPECT_EQ(report.findings[0].code, InstallerStatus::None);
    EXPECT_EQ(report.trust, SuiteTrust::NeedsRoot);
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    X509_digest(cert.get(), EVP_sha1(), digest, &size);
    char first[8];
    std::snprintf(first, sizeof first, "%02X:%02X:", digest[0], digest[1]);
    for (const std::string& said :
         {std::string("CN=Signer"), std::string("SHA-1 ") + first, std::string("refuses the suite (909)"),
          std::string("--export-certificate")})
        EXPECT_NE(report.findings[0].text.find(said), std::string::npos) << said;
}

TEST_F(CheckFixture, EachFaultIsFoundWithItsPhoneCode) {
    const std::string good = Good();
    struct Case {
        const char* fault;
        std::string descriptor;
        InstallerStatus code;  // the one code a phone reports; None: it installs the suite
        const char* said = ""; // in a finding
    };
    const std::string sizeLine = "MIDlet-Jar-Size: " + std::to_string(jarBytes.size());
    const std::string signerLine = "MIDlet-Certificate-1-1: " + Base64(Der(cert.get())) + "\r\n";
    // A signer whose certificate says what it may be used for.
    const auto signedBy = [&](const std::vector<Extension>& extensions) {
        const CertPtr limited = NewCert("Signer", key.get(), "Signer", key.get(), -1, 3650, extensions);
        return Descriptor("MIDlet-Certificate-1-1: " + Base64(Der(limited.get())) + "\r\n",
                          SignSha1(key.get(), jarBytes));
    };
    // Chains through an intermediate, with the root they lead to or without.
    const KeyPtr rootKey = NewKey();
    const KeyPtr midKey = NewKey();
    const CertPtr root = NewCert("Root", rootKey.get(), "Root", rootKey.get(), -1, 3650,
                                 {{NID_basic_constraints, "critical,CA:TRUE"}});
    const CertPtr signer = NewCert("Signer", key.get(), "Mid", midKey.get(), -1, 3650);
    const auto throughMid = [&](const std::vector<Extension>& midExtensions, bool withRoot) {
        const CertPtr mid = NewCert("Mid", midKey.get(), "Root", rootKey.get(), -1, 3650, midExtensions);
        return Descriptor("MIDlet-Certificate-1-1: " + Base64(Der(signer.get())) +
                              "\r\nMIDlet-Certificate-1-2: " + Base64(Der(mid.get())) + "\r\n" +
                              (withRoot ? "MIDlet-Certificate-1-3: " + Base64(Der(root.get())) + "\r\n" : ""),
                          SignSha1(key.get(), jarBytes));
    };
    const std::vector<Extension> ca = {{NID_basic_constraints, "critical,CA:TRUE"},
                                       {NID_key_usage, "critical,keyCertSign"}};
    std::string unsignedSuite;
    for (std::size_t at = 0, end; at < good.size(); at = end + 1) {
        end = good.find('\n', at);
        const std::string line = good.substr(at, end - at + 1);
        if (line.rfind("MIDlet-Certificate-", 0) != 0 && line.rfind("MIDlet-Jar-RSA-SHA1:", 0) != 0)
            unsignedSuite += line;
    }
    const Case cases[] = {
        {"byte-order mark before a required attribute", "\xEF\xBB\xBF" + good,
         InstallerStatus::InvalidDescriptor, "the phone loses the first attribute, MIDlet-Jar-URL"},
        {"byte-order mark before an optional attribute", "\xEF\xBB\xBFX-Note: 1\r\n" + good,
         InstallerStatus::None, "the phone loses the first attribute, X-Note"},
        {"byte-order mark alone on the first line", "\xEF\xBB\xBF\r\n" + good,
         InstallerStatus::InvalidDescriptor},
        {"continuation line", Replace(good, "folded by the jar tool\r\n", "folded by the jar\r\n tool\r\n"),
         InstallerStatus::InvalidDescriptor},
        {"four-part version", Replace(good, "MIDlet-Version: 1.0", "MIDlet-Version: 1.0.0.1"),
         InstallerStatus::InvalidDescriptor},
        {"version part above 99, descriptor only",
         Replace(good, "MIDlet-Version: 1.0", "MIDlet-Version: 1.100"), InstallerStatus::AttributeMismatch,
         "some phones refuse version parts over 99"},
        {"version with a letter", Replace(good, "MIDlet-Version: 1.0", "MIDlet-Version: 1.0b"),
         InstallerStatus::InvalidDescriptor},
        {"size with leading zeros",
         Replace(good, sizeLine, "MIDlet-Jar-Size: 00" + std::to_string(jarBytes.size())),
         InstallerStatus::None},
        {"size that is no number", Replace(good, sizeLine, sizeLine + "b"),
         InstallerStatus::InvalidDescriptor},
        {"control character in a value", good + "X-Note: a\x01b\r\n", InstallerStatus::InvalidDescriptor},
        {"jar changed after signing",
         Replace(Descriptor(signerLine, SignSha1(key.get(), jarBytes + "x")), sizeLine,
                 "MIDlet-Jar-Size: " + std::to_string(jarBytes.size() + 1)),
         InstallerStatus::AuthenticationFailure},
        {"MIDlet without a class", Replace(good, "/i.png, game.Main", "/i.png"),
         InstallerStatus::InvalidDescriptor},
        {"signer not for signatures", signedBy({{NID_key_usage, "critical,keyCertSign"}}),
         InstallerStatus::AuthenticationFailure},
        {"signer not for code", signedBy({{NID_ext_key_usage, "serverAuth"}}),
         InstallerStatus::AuthenticationFailure},
        {"signer for signatures and code",
         signedBy({{NID_basic_constraints, "critical,CA:TRUE"},
                   {NID_key_usage, "critical,digitalSignature,keyCertSign"},
                   {NID_ext_key_usage, "codeSigning"}}),
         InstallerStatus::None},
        {"chain through a CA", throughMid(ca, false), InstallerStatus::None,
         "\"/CN=Root\" that issued MIDlet-Certificate-1-2"},
        {"chain through an intermediate that is no CA",
         throughMid({{NID_key_usage, "critical,keyCertSign"}}, false), InstallerStatus::AuthenticationFailure,
         "MIDlet-Certificate-1-2 is no CA certificate"},
        {"chain carrying its root", throughMid(ca, true), InstallerStatus::None,
         "the phone ignores the root in the chain"},
        {"chain carrying its root, through no CA", throughMid({}, true),
         InstallerStatus::AuthenticationFailure, "is no CA certificate"},
        {"invalid name", Replace(good, "MIDlet-Vendor:", "MIDlet Vendor:"),
         InstallerStatus::InvalidDescriptor},
        {"missing vendor", Replace(good, "MIDlet-Vendor: Acme\r\n", ""), InstallerStatus::InvalidDescriptor},
        {"wrong jar size", Replace(good, sizeLine, sizeLine + "1"), InstallerStatus::JarSizeMismatch},
        {"jar URL names another jar", Replace(good, "MIDlet-Jar-URL: game.jar", "MIDlet-Jar-URL: other.jar"),
         InstallerStatus::InvalidDescriptor},
        {"version differs", Replace(good, "MIDlet-Version: 1.0", "MIDlet-Version: 1.1"),
         InstallerStatus::AttributeMismatch},
        {"description cut", Replace(good, " by the jar tool\r\n", "\r\n"),
         InstallerStatus::AttributeMismatch},
        {"signature of other bytes",
         Descriptor("MIDlet-Certificate-1-1: " + Base64(Der(cert.get())) + "\r\n",
                    SignSha1(key.get(), jarBytes + "x")),
         InstallerStatus::AuthenticationFailure},
        {"unknown permission, signed", Replace(good, "Connector.http\r\n", "Connector.htp\r\n"),
         InstallerStatus::AttributeMismatch},
        {"unknown permission, unsigned", Replace(unsignedSuite, "Connector.http\r\n", "Connector.htp\r\n"),
         InstallerStatus::AuthorizationFailure},
    };
    for (const auto& c : cases) {
        const CheckReport report = CheckWith(c.descriptor);
        EXPECT_EQ(report.Refused(), c.code != InstallerStatus::None) << c.fault;
        bool said = false;
        for (const auto& f : report.findings) {
            EXPECT_TRUE(f.code == InstallerStatus::None || f.code == c.code)
                << c.fault << ": also " << f.code << " " << f.text;
            said = said || f.text.find(c.said) != std::string::npos;
        }
        EXPECT_TRUE(said) << c.fault << ": " << c.said;
    }
}

TEST_F(CheckFixture, KeysAndCertificateSignaturesOldPhonesCannotVerifyAreNamed) {
    const KeyPtr bigKey(EVP_RSA_gen(4096), EVP_PKEY_free);
    const struct {
        EVP_PKEY* key;
        const EVP_MD* digest;
        std::vector<std::string> said; // one note each
    } cases[] = {
        {key.get(), EVP_sha1(), {}},
        {key.get(), EVP_sha256(), {"MIDlet-Certificate-1-1 is signed with SHA256withRSA"}},
        {bigKey.get(), EVP_sha1(), {"MIDlet-Certificate-1-1 has a 4096-bit RSA key"}},
        {bigKey.get(), EVP_sha512(), {"signed with SHA512withRSA", "4096-bit"}},
    };
    for (const auto& c : cases) {
        const CertPtr signer = NewCert("Signer", c.key, "Signer", c.key, -1, 3650, {}, c.digest);
        const CheckReport report = CheckWith(Descriptor(
            "MIDlet-Certificate-1-1: " + Base64(Der(signer.get())) + "\r\n", SignSha1(c.key, jarBytes)));
        EXPECT_FALSE(report.Refused()) << c.said.size();
        std::vector<std::string> notes;
        for (const Finding& f : report.findings)
            if (f.text.find("MIDP 2.0 era") != std::string::npos)
                notes.push_back(f.text);
        ASSERT_EQ(notes.size(), c.said.size()) << (notes.empty() ? "" : notes[0]);
        for (std::size_t i = 0; i < notes.size(); ++i) {
            EXPECT_NE(notes[i].find(c.said[i]), std::string::npos) << notes[i];
            EXPECT_NE(notes[i].find("(909)"), std::string::npos) << notes[i];
        }
    }
}

TEST_F(CheckFixture, CertificateDatesAndChainsAreChecked) {
    const CertPtr expired = NewCert("Signer", key.get(), "Signer", key.get(), -400, -30);
    EXPECT_TRUE(CheckWith(Descriptor("MIDlet-Certificate-1-1: " + Base64(Der(expired.get())) + "\r\n",
                                     SignSha1(key.get(), jarBytes)))
                    .Has(InstallerStatus::AuthenticationFailure));

    const KeyPtr rootKey = NewKey();
    const CertPtr root = NewCert("Root", rootKey.get(), "Root", rootKey.get(), -1, 3650);
    const CertPtr signer = NewCert("Signer", key.get(), "Root", rootKey.get(), -1, 3650);
    const std::string signature = SignSha1(key.get(), jarBytes);
    const CheckReport withoutRoot =
        CheckWith(Descriptor("MIDlet-Certificate-1-1: " + Base64(Der(signer.get())) + "\r\n", signature));
    EXPECT_FALSE(withoutRoot.Refused());
    ASSERT_EQ(withoutRoot.findings.size(), 1u);
    EXPECT_NE(withoutRoot.findings[0].text.find("holds the root certificate \"/CN=Root\""),
              std::string::npos);
    // The root in the chain is passed over: the phone needs its own.
    const CheckReport withRoot =
        CheckWith(Descriptor("MIDlet-Certificate-1-1: " + Base64(Der(signer.get())) +
                                 "\r\nMIDlet-Certificate-1-2: " + Base64(Der(root.get())) + "\r\n",
                             signature));
    EXPECT_FALSE(withRoot.Refused());
    ASSERT_EQ(withRoot.findings.size(), 2u);
    EXPECT_NE(withRoot.findings[0].text.find("MIDlet-Certificate-1-2 is a root certificate (/CN=Root): the "
                                             "phone ignores the root in the chain"),
              std::string::npos);
    EXPECT_EQ(withRoot.findings[1], withoutRoot.findings[0]);

    // A chain through an intermediate: its signer must really have been
    // signed by the intermediate's key, not merely name it.
    const KeyPtr midKey = NewKey();
    const CertPtr mid = NewCert("Mid", midKey.get(), "Root", rootKey.get(), -1, 3650,
                                {{NID_basic_constraints, "critical,CA:TRUE"}});
    const auto chainOf = [&](X509* signerCert) {
        return CheckWith(Descriptor("MIDlet-Certificate-1-1: " + Base64(Der(signerCert)) +
                                        "\r\nMIDlet-Certificate-1-2: " + Base64(Der(mid.get())) + "\r\n",
                                    signature));
    };
    const CertPtr issued = NewCert("Signer", key.get(), "Mid", midKey.get(), -1, 3650);
    const CheckReport genuine = chainOf(issued.get());
    EXPECT_FALSE(genuine.Refused());
    ASSERT_EQ(genuine.findings.size(), 1u);
    EXPECT_NE(genuine.findings[0].text.find("\"/CN=Root\" that issued MIDlet-Certificate-1-2"),
              std::string::npos);
    const CertPtr forged = NewCert("Signer", key.get(), "Mid", rootKey.get(), -1, 3650);
    EXPECT_TRUE(chainOf(forged.get()).Has(InstallerStatus::AuthenticationFailure));
}

TEST_F(CheckFixture, AJarThatIsNoSoundArchiveIsInvalid) {
    using namespace rawzip;
    const std::string code = "\xCA\xFE\xBA\xBE the code of the game";
    const std::string packed = Deflate(code);
    // The suite's manifest, then the entries add puts in.
    const auto jarWith = [](const std::function<void(Builder&)>& add) {
        return [add] {
            Builder b;
            b.AddDeflated("META-INF/MANIFEST.MF", kManifest);
            add(b);
            return b.Finish();
        };
    };
    struct Case {
        const char* fault;
        std::function<std::string()> jar;
        std::string said; // the start of the finding
        bool inRecords;   // found from the records alone, also when the caller tested the entries
    };
    const Case cases[] = {
        {"no archive", [&] { return std::string(jarBytes.size(), 'x'); }, "the jar is not a zip archive",
         true},
        {"bad CRCs", jarWith([&](Builder& b) {
             b.Add({"game/Main.class", kDeflated, Crc(code) ^ 1, packed.size(), code.size()}, packed);
             b.AddStored("game/Fine.class", code);
             b.Add({"game/Other.class", kStored, Crc(code) ^ 1, code.size(), code.size()}, code);
         }),
         "jar entry game/Main.class: bad CRC (and 1 more damaged entry)", false},
        {"more data than stated", jarWith([&](Builder& b) {
             b.Add({"game/Main.class", kStored, Crc(code), code.size(), 4}, code);
         }),
         "jar entry game/Main.class: unpacks to more than the 4 bytes it states", false},
        {"less data than stated", jarWith([&](Builder& b) {
             b.Add({"game/Main.class", kDeflated, Crc(code), packed.size(), code.size() + 1}, packed);
         }),
         "jar entry game/Main.class: unpacks to " + std::to_string(code.size()) + " bytes", false},
        {"deflate stream cut short", jarWith([&](Builder& b) {
             const std::string cut = packed.substr(0, packed.size() - 2);
             b.Add({"game/Main.class", kDeflated, Crc(code), cut.size(), code.size()}, cut);
         }),
         "jar entry game/Main.class: damaged compressed data", false},
        {"entry beyond the limit", jarWith([&](Builder& b) {
             b.AddStored("game/Main.class", code);
             b.Add({"game/Huge.bin", kDeflated, 0, packed.size(), (64u << 20) + 1}, packed);
         }),
         "jar entry game/Huge.bin: states 67108865 bytes, more than the 64 MiB", false},
        {"entries beyond the jar's allowance", jarWith([&](Builder& b) {
             b.AddStored("game/Main.class", code);
             std::uint32_t crc = 0;
             const std::uint64_t size = 48u << 20;
             const std::string part = DeflateRepeated(size, "ab", crc);
             for (int i = 0; i < 6; ++i)
                 b.Add({"res/part" + std::to_string(i), kDeflated, crc, part.size(), size}, part);
         }),
         "the jar's entries unpack to more than 256 MiB", false},
        {"overlapping entries", jarWith([](Builder& b) {
             // Thousands of records naming one local record of 256 MiB:
             // only the records may be read, never the data.
             b.AddOverlapping("bomb", 256u << 20, 4000);
         }),
         "the jar is damaged: ", true},
    };
    for (const auto& c : cases) {
        jarBytes = c.jar();
        WriteFile(jar, jarBytes);
        const CheckReport report = CheckWith(Good());
        const auto said = std::find_if(report.findings.begin(), report.findings.end(), [&](const Finding& f) {
            return f.code == InstallerStatus::InvalidJar && f.text.rfind(c.said, 0) == 0;
        });
        EXPECT_NE(said, report.findings.end()) << c.fault;
        for (const auto& f : report.findings)
            EXPECT_TRUE(f.code == InstallerStatus::None || f.code == InstallerStatus::InvalidJar)
                << c.fault << ": also " << f.code << " " << f.text;
        EXPECT_EQ(CheckJavaSuite(jad, jar, {}).Has(InstallerStatus::InvalidJar), c.inRecords) << c.fault;
    }
    EXPECT_TRUE(CheckJavaSuite(dir / "missing.jad", jar).Has(InstallerStatus::InvalidDescriptor));
}

TEST_F(CheckFixture, EntriesTheCallerFoundDamagedAreNamed) {
    WriteFile(jad, Good());
    EXPECT_EQ(CheckJavaSuite(jad, jar, {}).findings, CheckJavaSuite(jad, jar).findings);
    const CheckReport report = CheckJavaSuite(jad, jar, {"game/Main.class", "i.png", "j.png"});
    const std::vector<Finding> refusals = {
        {InstallerStatus::InvalidJar,
         "jar entry game/Main.class: damaged data (and 2 more damaged entries)"}};
    std::vector<Finding> found;
    std::copy_if(report.findings.begin(), report.findings.end(), std::back_inserter(found),
                 [](const Finding& f) { return f.code != InstallerStatus::None; });
    EXPECT_EQ(found, refusals);
}

TEST_F(CheckFixture, WhatTheManifestSaysAgainstTheDescriptor) {
    const std::string http = "MIDlet-Permissions: javax.microedition.io.Connector.http\r\n";
    const std::string sms = "MIDlet-Permissions-Opt: javax.microedition.io.Connector.sms\r\n";
    const std::string koi8Name = "MIDlet-Name: \xE9\xC7\xD2\xC1"; // "Игра" in KOI8-R
    struct Case {
        const char* what;
        std::string manifest;
        std::string descriptorFrom, descriptorTo; // a change to the signed descriptor
        InstallerStatus code;                     // None: accepted
        int eightBitNotes;
        const char* note = ""; // said in a note
    };
    const Case cases[] = {
        {"permissions only in the descriptor", Replace(kManifest, http, ""), "", "",
         InstallerStatus::AttributeMismatch, 0},
        {"optional permissions only in the descriptor", kManifest, http, http + sms,
         InstallerStatus::AttributeMismatch, 0},
        {"permissions with blanks around them in the manifest",
         Replace(kManifest, http, "MIDlet-Permissions: \t javax.microedition.io.Connector.http \t\r\n"), "",
         "", InstallerStatus::None, 0},
        {"optional permissions only in the manifest", kManifest + sms, "", "", InstallerStatus::None, 0},
        {"a KOI8-R name in both", Replace(kManifest, "MIDlet-Name: Game", koi8Name), "MIDlet-Name: Game",
         koi8Name, InstallerStatus::None, 2},
        {"a MIDlet class the jar lacks", Replace(kManifest, "game.Main", "game.Other"), "game.Main",
         "game.Other", InstallerStatus::InvalidJar, 0, "the jar has no game/Other.class"},
        {"a profile newer than MIDP 2.0", Replace(kManifest, "MIDP-2.0", "MIDP-2.1"), "MIDP-2.0", "MIDP-2.1",
         InstallerStatus::None, 0, "MIDP-2.1: phones with MIDP-2.0 only refuse the suite (908)"},
        {"a NUL in a value only the manifest has", kManifest + std::string("X-Note: a\0b\r\n", 13), "", "",
         InstallerStatus::InvalidJar, 0, "X-Note's value holds a control character"},
        {"a suite's attribute twice in the manifest", kManifest + "MIDlet-Vendor: Other\r\n", "", "",
         InstallerStatus::InvalidJar, 0, "manifest: MIDlet-Vendor appears twice"},
        {"another attribute twice in the manifest", kManifest + "X-Note: 1\r\nX-Note: 2\r\n", "", "",
         InstallerStatus::None, 0},
        {"a version part over 99 in both",
         Replace(kManifest, "MIDlet-Version: 1.0", "MIDlet-Version: 1.0.100"), "MIDlet-Version: 1.0",
         "MIDlet-Version: 1.0.100", InstallerStatus::None, 0,
         "MIDlet-Version \"1.0.100\": some phones refuse version parts over 99"},
    };
    for (const auto& c : cases) {
        WriteZip(jar, {{"META-INF/MANIFEST.MF", c.manifest}, {"game/Main.class", "CAFEBABE"}});
        jarBytes = ReadFile(jar);
        const std::string descriptor =
            c.descriptorFrom.empty() ? Good() : Replace(Good(), c.descriptorFrom, c.descriptorTo);
        const CheckReport report = CheckWith(descriptor);
        EXPECT_EQ(report.Refused(), c.code != InstallerStatus::None) << c.what;
        int notes = 0;
        bool said = false;
        for (const auto& f : report.findings) {
            EXPECT_TRUE(f.code == InstallerStatus::None || f.code == c.code)
                << c.what << ": also " << f.code << " " << f.text;
            notes += f.code == InstallerStatus::None && f.text.find("is not UTF-8") != std::string::npos;
            said = said || f.text.find(c.note) != std::string::npos;
        }
        EXPECT_EQ(notes, c.eightBitNotes) << c.what;
        EXPECT_TRUE(said) << c.what << ": " << c.note;
    }
}

TEST_F(CheckFixture, AJarWithoutDescriptorIsASuiteOfItsOwn) {
    const CheckReport alone = CheckPackage(jar);
    EXPECT_FALSE(alone.Refused());
    EXPECT_EQ(alone.trust, SuiteTrust::JarOnly);
    EXPECT_EQ(alone.Verdict(), "a phone would accept it as an untrusted suite");

    WriteZip(jar,
             {{"META-INF/MANIFEST.MF", Replace(kManifest, "MIDlet-Version: 1.0", "MIDlet-Version: 1.0.0.1")},
              {"game/Other.class", "CAFEBABE"}});
    const CheckReport broken = CheckPackage(jar);
    EXPECT_EQ(broken.Verdict(), "a phone would refuse it (907)");
    EXPECT_EQ(std::count_if(broken.findings.begin(), broken.findings.end(),
                            [](const Finding& f) { return f.code == InstallerStatus::InvalidJar; }),
              2); // the version and the missing class
    // A NUL in the name, which the job refuses in the descriptor it makes.
    WriteZip(jar, {{"META-INF/MANIFEST.MF",
                    Replace(kManifest, "MIDlet-Name: Game", std::string("MIDlet-Name: Ga\0me", 17))},
                   {"game/Main.class", "CAFEBABE"}});
    EXPECT_EQ(CheckPackage(jar).Verdict(), "a phone would refuse it (907)");

    WriteZip(jar,
             {{"META-INF/MANIFEST.MF", Replace(kManifest, "MIDlet-Version: 1.0", "MIDlet-Version: 1.0.100")},
              {"game/Main.class", "CAFEBABE"}});
    const CheckReport highVersion = CheckPackage(jar);
    EXPECT_FALSE(highVersion.Refused());
    EXPECT_TRUE(std::any_of(highVersion.findings.begin(), highVersion.findings.end(), [](const Finding& f) {
        return f.text.find("some phones refuse version parts over 99") != std::string::npos;
    }));

    WriteFile(jad, Good()); // a descriptor beside the jar is always checked with it
    EXPECT_NE(CheckPackage(jar).trust, SuiteTrust::JarOnly);
}

TEST_F(CheckFixture, ALargeJarIsDigestedAndTestedPieceByPiece) {
    std::string big(5 * 1024 * 1024 + 17, '\0');
    for (std::size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<char>((i * 2654435761u) >> 13);
    WriteZip(jar,
             {{"META-INF/MANIFEST.MF", kManifest}, {"game/Main.class", "CAFEBABE"}, {"res/big.bin", big}});
    jarBytes = ReadFile(jar);
    const CheckReport report = CheckWith(Good());
    EXPECT_FALSE(report.Refused());
    for (const auto& f : report.findings)
        EXPECT_EQ(f.code, InstallerStatus::None) << f.text;

    // Many small entries: local headers lie across every boundary of the
    // reader's windows into the file.
    std::vector<std::pair<std::string, std::string>> many = {{"META-INF/MANIFEST.MF", kManifest},
                                                             {"game/Main.class", "CAFEBABE"}};
    for (int i = 0; i < 1500; ++i) {
        std::string data(static_cast<std::size_t>(40 + (i * 37) % 300), '\0');
        for (std::size_t k = 0; k < data.size(); ++k)
            data[k] = static_cast<char>(((i + 1) * (k + 7) * 2654435761u) >> 11);
        many.emplace_back("res/r" + std::to_string(i) + ".bin", data);
    }
    WriteZip(jar, many);
    jarBytes = ReadFile(jar);
    ASSERT_GT(jarBytes.size(), 4u * 64 * 1024);
    const CheckReport manyReport = CheckWith(Good());
    EXPECT_FALSE(manyReport.Refused());
    for (const auto& f : manyReport.findings)
        EXPECT_EQ(f.code, InstallerStatus::None) << f.text;
}
