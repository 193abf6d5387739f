// Runs the built data/jadtool.jar under java and checks its results with
// OpenSSL, independently of the tool's own Java code.
#include "process/RunAndWait.h"
#include "support/Signature.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <cstdlib>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

using namespace jarseal;
using namespace jarseal::test;

namespace {

const std::string kBuild = JARSEAL_BUILD_DIR;
const std::string kJadTool = kBuild + "/data/jadtool.jar";
const std::string kDefaultKey = kBuild + "/data/key";
const std::string kChainStore = kBuild + "/tests/jadtool/chain.jks"; // store-pw; signer/key-pw
const std::string kSoloStore = kBuild + "/tests/jadtool/solo.p12";   // p12-pw; solo

bool JavaOnPath() {
    const char* path = std::getenv("PATH");
    std::string dirs = path != nullptr ? path : "";
    std::size_t start = 0;
    while (start <= dirs.size()) {
        std::size_t end = dirs.find(':', start);
        if (end == std::string::npos)
            end = dirs.size();
        if (end > start && ::access((dirs.substr(start, end - start) + "/java").c_str(), X_OK) == 0)
            return true;
        start = end + 1;
    }
    return false;
}

#define SKIP_WITHOUT_JAVA()                                                                                  \
    if (!JavaOnPath())                                                                                       \
    GTEST_SKIP() << "java is not on PATH"

std::string Q(const std::string& s) {
    return "\"" + s + "\"";
}

RunOutput JadTool(const std::string& arguments) {
    return RunAndWaitCapture("java -jar " + Q(kJadTool) + " " + arguments);
}

using Attributes = std::vector<std::pair<std::string, std::string>>;

// Splits a written descriptor into (name, value) pairs; every line must be
// "name: value" ended by CR LF.
Attributes ReadJad(const std::string& path) {
    const std::string text = ReadFile(path);
    Attributes result;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find("\r\n", start);
        if (end == std::string::npos) {
            ADD_FAILURE() << "line without CR LF at the end of " << path;
            break;
        }
        const std::string line = text.substr(start, end - start);
        EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos) << line;
        const std::size_t colon = line.find(": ");
        EXPECT_NE(colon, std::string::npos) << line;
        if (colon != std::string::npos)
            result.emplace_back(line.substr(0, colon), line.substr(colon + 2));
        start = end + 2;
    }
    return result;
}

std::vector<std::string> Names(const Attributes& attributes) {
    std::vector<std::string> names;
    for (const auto& a : attributes)
        names.push_back(a.first);
    return names;
}

std::string Value(const Attributes& attributes, const std::string& name) {
    for (const auto& a : attributes)
        if (a.first == name)
            return a.second;
    ADD_FAILURE() << "no attribute " << name;
    return {};
}

using KeyPtr = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;

X509Ptr Certificate(const std::string& base64) {
    X509Ptr cert = ParseCertificate(base64);
    EXPECT_NE(cert, nullptr) << "not a DER certificate";
    return cert;
}

std::string CommonName(const X509_NAME* name) {
    char buf[256] = {};
    X509_NAME_get_text_by_NID(const_cast<X509_NAME*>(name), NID_commonName, buf, sizeof buf);
    return buf;
}

std::string SomeJarBytes() {
    std::string bytes = "PK\3\4";
    for (int i = 0; i < 20000; ++i)
        bytes += static_cast<char>((i * 7919) % 251);
    return bytes;
}

} // namespace

TEST(JadTool, AddsChainAndJarSignatureKeepingOtherAttributesInPlace) {
    SKIP_WITHOUT_JAVA();
    TempDir dir;
    const std::string jar = SomeJarBytes();
    WriteFile(dir / "game.jar", jar);
    WriteFile(dir / "game.jad", "MIDlet-Name: Game\r\n"
                                "MIDlet-Jar-RSA-SHA1: old-signature\r\n"
                                "MIDlet-Description: Hello \n"
                                " World\r\n"
                                "\r\n"
                                "MIDlet-Jar-URL: game.jar\r"
                                "MIDlet-Certificate-1-1: old1\r\n"
                                "MIDlet-Certificate-1-2: old2\r\n"
                                "MIDlet-Certificate-1-3: old3\r\n"
                                "MIDlet-Certificate-2-1: other chain\r\n"
                                "MIDlet-Vendor:   \xD0\x92\xD0\xB5\xD0\xBD\xD0\xB4\xD0\xBE\xD1\x80  \r\n");

    const std::string store = " -keystore " + Q(kChainStore) + " -storepass store-pw";
    ASSERT_EQ(JadTool("-addcert -alias signer" + store + " -inputjad " + Q(dir / "game.jad") +
                      " -outputjad " + Q(dir / "temp.jad"))
                  .exitCode,
              0);
    ASSERT_EQ(JadTool("-addjarsig -alias signer" + store + " -keypass key-pw -inputjad " +
                      Q(dir / "temp.jad") + " -outputjad " + Q(dir / "game.jad") + " -jarfile " +
                      Q(dir / "game.jar"))
                  .exitCode,
              0);

    const std::string written = ReadFile(dir / "game.jad");
    EXPECT_NE(written.substr(0, 3), "\xEF\xBB\xBF");
    const Attributes jad = ReadJad(dir / "game.jad");
    EXPECT_EQ(Names(jad),
              (std::vector<std::string>{"MIDlet-Name", "MIDlet-Jar-RSA-SHA1", "MIDlet-Description",
                                        "MIDlet-Jar-URL", "MIDlet-Certificate-1-1", "MIDlet-Certificate-1-2",
                                        "MIDlet-Certificate-2-1", "MIDlet-Vendor"}));
    EXPECT_EQ(Value(jad, "MIDlet-Description"), "Hello World");
    EXPECT_EQ(Value(jad, "MIDlet-Vendor"), "\xD0\x92\xD0\xB5\xD0\xBD\xD0\xB4\xD0\xBE\xD1\x80");
    EXPECT_EQ(Value(jad, "MIDlet-Certificate-2-1"), "other chain");

    // Signer first, then the intermediate; the self-signed root stays out.
    X509Ptr signer = Certificate(Value(jad, "MIDlet-Certificate-1-1"));
    X509Ptr inter = Certificate(Value(jad, "MIDlet-Certificate-1-2"));
    ASSERT_TRUE(signer && inter);
    EXPECT_EQ(CommonName(X509_get_subject_name(signer.get())), "Jarseal Test Signer");
    EXPECT_EQ(CommonName(X509_get_subject_name(inter.get())), "Jarseal Test Intermediate");
    EXPECT_EQ(CommonName(X509_get_issuer_name(inter.get())), "Jarseal Test Root");
    KeyPtr interKey(X509_get_pubkey(inter.get()), &EVP_PKEY_free);
    EXPECT_EQ(X509_verify(signer.get(), interKey.get()), 1);

    const std::string signature = Value(jad, "MIDlet-Jar-RSA-SHA1");
    EXPECT_EQ(signature.size(), 344u); // 2048-bit key
    EXPECT_TRUE(VerifySha1Rsa(signer.get(), jar, signature));
    EXPECT_FALSE(VerifySha1Rsa(signer.get(), jar + "x", signature));

    // Adding the certificates again replaces the chain's entries.
    ASSERT_EQ(JadTool("-addcert -alias signer" + store + " -inputjad " + Q(dir / "game.jad") +
                      " -outputjad " + Q(dir / "again.jad"))
                  .exitCode,
              0);
    const Attributes again = ReadJad(dir / "again.jad");
    EXPECT_EQ(Names(again), Names(jad));
    EXPECT_EQ(again, jad);
    EXPECT_EQ(ListDir(dir.path()),
              (std::vector<std::string>{"again.jad", "game.jad", "game.jar", "temp.jad"}));
}

// Suites whose manifests are KOI8-R or windows-1251 give descriptors that are
// not UTF-8: the tool must keep their bytes and only add its own lines.
TEST(JadTool, KeepsEveryByteOfEightBitDescriptors) {
    SKIP_WITHOUT_JAVA();
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"KOI8-R", "MIDlet-Name: \xE9\xC7\xD2\xC1\r\n"
                   "MIDlet-Description: \xF0\xD2\xCF\xD3\xD4\xC1\xD1 \xC9\xC7\xD2\xC1 \x80\x9F\xBF\r\n"
                   "MIDlet-Jar-URL: game.jar\r\n"
                   "MIDlet-Vendor: \xF7\xC5\xCE\xC4\xCF\xD2\r\n"},
        {"windows-1251", "MIDlet-Name: \xC8\xE3\xF0\xE0\r\n"
                         "MIDlet-Description: \x80\xEE\xF0\x90\xE5 \x9A\xF3\xE1\xE0\xE2 \x98\xFF\r\n"
                         "MIDlet-Jar-URL: game.jar\r\n"
                         "X-\xC8\xEC\x9A: \xE4\xE0\r\n"},
    };
    const std::string store = " -keystore " + Q(kChainStore) + " -storepass store-pw";
    for (const auto& [encoding, descriptor] : cases) {
        TempDir dir;
        const std::string jar = SomeJarBytes() + encoding;
        WriteFile(dir / "game.jar", jar);
        WriteFile(dir / "game.jad", descriptor);
        const RunOutput cert = JadTool("-addcert -alias signer" + store + " -inputjad " +
                                       Q(dir / "game.jad") + " -outputjad " + Q(dir / "temp.jad"));
        ASSERT_EQ(cert.exitCode, 0) << encoding << ": " << cert.output;
        const RunOutput sig =
            JadTool("-addjarsig -alias signer" + store + " -keypass key-pw -inputjad " + Q(dir / "temp.jad") +
                    " -outputjad " + Q(dir / "game.jad") + " -jarfile " + Q(dir / "game.jar"));
        ASSERT_EQ(sig.exitCode, 0) << encoding << ": " << sig.output;

        const std::string written = ReadFile(dir / "game.jad");
        EXPECT_EQ(written.substr(0, descriptor.size()), descriptor) << encoding;
        const Attributes jad = ReadJad(dir / "game.jad");
        ASSERT_EQ(jad.size(), 7u) << encoding;
        EXPECT_EQ(Names(Attributes(jad.begin() + 4, jad.end())),
                  (std::vector<std::string>{"MIDlet-Certificate-1-1", "MIDlet-Certificate-1-2",
                                            "MIDlet-Jar-RSA-SHA1"}))
            << encoding;
        X509Ptr signer = Certificate(Value(jad, "MIDlet-Certificate-1-1"));
        ASSERT_TRUE(signer) << encoding;
        EXPECT_TRUE(VerifySha1Rsa(signer.get(), jar, Value(jad, "MIDlet-Jar-RSA-SHA1"))) << encoding;
    }
}

TEST(JadTool, SignsWithTheProgramsDefaultKeyStoreAndCommandLines) {
    SKIP_WITHOUT_JAVA();
    TempDir dir;
    const std::string folder = dir / "my apps/";
    MakeDir(folder);
    const std::string jar = SomeJarBytes();
    WriteFile(folder + "game.jar", jar);
    WriteFile(folder + "game.jad",
              "MIDlet-Jar-URL: game.jar\r\nMIDlet-Jar-Size: 20004\r\nMIDlet-Name: Game\r\n");

    // The two command lines exactly as the signing steps build them.
    const std::string tool = "java.exe -jar " + Q(kJadTool);
    EXPECT_EQ(RunAndWait(tool + " -addcert -alias jsk -keystore " + Q(kDefaultKey) +
                         " -storepass 52039871 -inputjad " + Q(folder + "game.jad") + " -outputjad " +
                         Q(folder + "temp.jad")),
              0);
    EXPECT_EQ(RunAndWait(tool + " -addjarsig -alias jsk -keystore " + Q(kDefaultKey) +
                         " -storepass 52039871 -keypass 52039871 -inputjad " + Q(folder + "temp.jad") +
                         " -outputjad " + Q(folder + "game.jad") + " -jarfile " + Q(folder + "game.jar")),
              0);

    const Attributes jad = ReadJad(folder + "game.jad");
    EXPECT_EQ(Names(jad), (std::vector<std::string>{"MIDlet-Jar-URL", "MIDlet-Jar-Size", "MIDlet-Name",
                                                    "MIDlet-Certificate-1-1", "MIDlet-Jar-RSA-SHA1"}));
    // A self-signed certificate alone is kept; it is what old phones can check.
    X509Ptr cert = Certificate(Value(jad, "MIDlet-Certificate-1-1"));
    ASSERT_TRUE(cert);
    KeyPtr key(X509_get_pubkey(cert.get()), &EVP_PKEY_free);
    EXPECT_EQ(X509_verify(cert.get(), key.get()), 1);
    EXPECT_EQ(X509_get_signature_nid(cert.get()), NID_sha1WithRSAEncryption);
    EXPECT_EQ(EVP_PKEY_get_base_id(key.get()), EVP_PKEY_RSA);
    EXPECT_EQ(EVP_PKEY_get_bits(key.get()), 2048);
    EXPECT_EQ(ASN1_STRING_type(X509_get0_notAfter(cert.get())), V_ASN1_UTCTIME);
    EXPECT_TRUE(VerifySha1Rsa(cert.get(), jar, Value(jad, "MIDlet-Jar-RSA-SHA1")));
}

TEST(JadTool, ReadsPkcs12AndFindsTheJarFromTheDescriptor) {
    SKIP_WITHOUT_JAVA();
    TempDir dir;
    MakeDir(dir / "suite");
    const std::string jar = SomeJarBytes() + "p12";
    WriteFile(dir / "suite/game.jar", jar);
    WriteFile(dir / "suite/game.jad", "MIDlet-Jar-URL: game.jar\n");

    const std::string store = " -keystore " + Q(kSoloStore) + " -storepass p12-pw";
    const std::string jad = Q(dir / "suite/game.jad");
    // -keypass may be left out; it defaults to the store password. The jar is
    // found beside the descriptor, not in the working folder.
    ASSERT_EQ(JadTool("-addcert -alias solo" + store + " -inputjad " + jad + " -outputjad " + jad).exitCode,
              0);
    ASSERT_EQ(JadTool("-addjarsig -alias solo" + store + " -inputjad " + jad + " -outputjad " + jad).exitCode,
              0);

    const Attributes signed_ = ReadJad(dir / "suite/game.jad");
    EXPECT_EQ(Names(signed_),
              (std::vector<std::string>{"MIDlet-Jar-URL", "MIDlet-Certificate-1-1", "MIDlet-Jar-RSA-SHA1"}));
    X509Ptr cert = Certificate(Value(signed_, "MIDlet-Certificate-1-1"));
    ASSERT_TRUE(cert);
    EXPECT_EQ(CommonName(X509_get_subject_name(cert.get())), "Jarseal Test Solo");
    EXPECT_TRUE(VerifySha1Rsa(cert.get(), jar, Value(signed_, "MIDlet-Jar-RSA-SHA1")));
}

// Each key store fault has an exit status of its own (2 store file, 3 store
// password, 4 alias, 5 key password), so the program can name it without
// reading the tool's English; every other failure exits with 1.
TEST(JadTool, FailuresExitWithTheirStatusAndWriteNoOutput) {
    SKIP_WITHOUT_JAVA();
    TempDir dir;
    WriteFile(dir / "game.jar", SomeJarBytes());
    const std::string good = "MIDlet-Name: Game\r\nMIDlet-Jar-URL: game.jar\r\n";
    WriteFile(dir / "game.jad", good);
    WriteFile(dir / "bad.jad", "MIDlet-Name: Game\r\nthis line has no colon\r\n");
    WriteFile(dir / "lead.jad", " continues nothing\r\nMIDlet-Name: Game\r\n");
    // A jar on a server; read as a local path, the URL would name this file.
    WriteFile(dir / "remote.jad", "MIDlet-Name: Game\r\nMIDlet-Jar-URL: x-y.z+1://game.jar\r\n");
    ::mkdir((dir / "x-y.z+1:").c_str(), 0755);
    WriteFile(dir / "x-y.z+1:/game.jar", SomeJarBytes());
    const std::string in = " -inputjad " + Q(dir / "game.jad");
    const std::string out = " -outputjad " + Q(dir / "out.jad");
    const std::string chain = " -keystore " + Q(kChainStore);
    const std::string solo = " -keystore " + Q(kSoloStore);

    // The signer's certificate, DER and PEM, as a user might give it for the store.
    ASSERT_EQ(JadTool("-addcert -alias signer -certnum 1" + chain + " -storepass store-pw" + in +
                      " -outputjad " + Q(dir / "cert.jad"))
                  .exitCode,
              0);
    const std::string certificate = Value(ReadJad(dir / "cert.jad"), "MIDlet-Certificate-1-1");
    ASSERT_FALSE(Base64Decode(certificate).empty());
    const TempDir stores;
    WriteFile(stores / "signer.der", Base64Decode(certificate));
    WriteFile(stores / "signer.pem",
              "-----BEGIN CERTIFICATE-----\n" + certificate + "\n-----END CERTIFICATE-----\n");
    ::unlink((dir / "cert.jad").c_str());

    struct Case {
        std::string what;
        std::string arguments;
        int status;
    };
    const std::vector<Case> cases = {
        {"missing key store",
         "-addcert -alias signer -keystore " + Q(dir / "none.jks") + " -storepass x" + in + out, 2},
        {"DER certificate as the store",
         "-addcert -alias signer -keystore " + Q(stores / "signer.der") + " -storepass x" + in + out, 2},
        {"PEM certificate as the store",
         "-addjarsig -alias signer -keystore " + Q(stores / "signer.pem") + " -storepass x" + in + out, 2},
        {"descriptor as the store",
         "-addcert -alias signer -keystore " + Q(dir / "game.jad") + " -storepass x" + in + out, 2},
        {"wrong store password", "-addcert -alias signer" + chain + " -storepass nope" + in + out, 3},
        {"wrong PKCS12 store password", "-addjarsig -alias solo" + solo + " -storepass nope" + in + out, 3},
        {"unknown alias", "-addcert -alias nobody" + chain + " -storepass store-pw" + in + out, 4},
        {"unknown alias, signing", "-addjarsig -alias nobody" + solo + " -storepass p12-pw" + in + out, 4},
        {"wrong key password",
         "-addjarsig -alias signer" + chain + " -storepass store-pw -keypass nope" + in + out, 5},
        {"wrong PKCS12 key password",
         "-addjarsig -alias solo" + solo + " -storepass p12-pw -keypass nope" + in + out, 5},
        {"missing input",
         "-addcert -alias signer" + chain + " -storepass store-pw -inputjad " + Q(dir / "no.jad") + out, 1},
        {"malformed line",
         "-addcert -alias signer" + chain + " -storepass store-pw -inputjad " + Q(dir / "bad.jad") + out, 1},
        {"continuation first",
         "-addcert -alias signer" + chain + " -storepass store-pw -inputjad " + Q(dir / "lead.jad") + out, 1},
        {"missing option value", "-addcert -alias signer" + chain + in + out + " -storepass", 1},
        {"missing jar",
         "-addjarsig -alias signer" + chain + " -storepass store-pw -keypass key-pw" + in + out +
             " -jarfile " + Q(dir / "none.jar"),
         1},
        {"jar on a server",
         "-addjarsig -alias signer" + chain + " -storepass store-pw -keypass key-pw -inputjad " +
             Q(dir / "remote.jad") + out,
         1},
        {"unknown command", "-sign" + in + out, 1},
    };
    for (const auto& [what, arguments, status] : cases) {
        const RunOutput fresh = JadTool(arguments);
        EXPECT_EQ(fresh.exitCode, status) << what << ": " << fresh.output;
        EXPECT_EQ(fresh.output.rfind("jadtool: ", 0), 0u) << what << ": " << fresh.output;
        EXPECT_EQ(fresh.output.find('\n'), fresh.output.size() - 1) << what << ": one line, " << fresh.output;
        EXPECT_FALSE(Exists(dir / "out.jad")) << what;

        WriteFile(dir / "out.jad", "untouched");
        EXPECT_EQ(JadTool(arguments).exitCode, status) << what;
        EXPECT_EQ(ReadFile(dir / "out.jad"), "untouched") << what;
        ::unlink((dir / "out.jad").c_str());
    }
    // Nothing left beside the output, and the input is unchanged.
    EXPECT_EQ(ListDir(dir.path()), (std::vector<std::string>{"bad.jad", "game.jad", "game.jar", "lead.jad",
                                                             "remote.jad", "x-y.z+1:"}));
    EXPECT_EQ(ReadFile(dir / "game.jad"), good);
}
