// Tests of the Symbian package signing program. Packages are built here from
// the format rules, and signatures are checked by a verifier of its own that
// shares no code with the program.
#include "SignSis.h"
#include "SisFormat.h"
#include "TestKeys.h"
#include "support/TempDir.h"

#include <openssl/rsa.h>
#include <openssl/sha.h>
#include <zlib.h>

#include <cstdio>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/wait.h>

using namespace jarseal::test;
namespace ss = jarseal::signsis;

namespace {

// ---- Building packages -------------------------------------------------

std::string Le32(std::uint32_t v) {
    std::string s(4, '\0');
    for (int i = 0; i < 4; ++i)
        s[i] = static_cast<char>(v >> (8 * i));
    return s;
}

std::string Fld(std::uint32_t type, const std::string& data) {
    return Le32(type) + Le32(static_cast<std::uint32_t>(data.size())) + data +
           std::string((4 - data.size() % 4) % 4, '\0');
}

std::uint16_t Xmodem(const std::string& s) {
    std::uint16_t crc = 0;
    for (unsigned char c : s) {
        crc ^= static_cast<std::uint16_t>(c << 8);
        for (int i = 0; i < 8; ++i)
            crc = static_cast<std::uint16_t>(crc & 0x8000 ? (crc << 1) ^ 0x1021 : crc << 1);
    }
    return crc;
}

std::string Zlib(const std::string& s) {
    uLongf n = compressBound(s.size());
    std::string out(n, '\0');
    compress2(reinterpret_cast<Bytef*>(out.data()), &n, reinterpret_cast<const Bytef*>(s.data()), s.size(),
              Z_DEFAULT_COMPRESSION);
    out.resize(n);
    return out;
}

std::string Le64(std::uint64_t v) {
    return Le32(static_cast<std::uint32_t>(v)) + Le32(static_cast<std::uint32_t>(v >> 32));
}

// An array element: length, data, padding (no type word).
std::string Elem(const std::string& data) {
    return Le32(static_cast<std::uint32_t>(data.size())) + data +
           std::string((4 - data.size() % 4) % 4, '\0');
}

std::string Utf16(const std::string& ascii) {
    std::string out;
    for (const char c : ascii)
        out += std::string{c, '\0'};
    return out;
}

std::string Sha1Of(const std::string& bytes) {
    unsigned char digest[SHA_DIGEST_LENGTH];
    SHA1(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), digest);
    return std::string(reinterpret_cast<char*>(digest), sizeof digest);
}

// Damage that BuildPackage can put into an otherwise sound package.
enum class Fault {
    None,
    StringPastInfo,        // the vendor name in Info claims 1 GiB
    FileDataPastParent,    // a file's data element claims more than its data unit holds
    ElementPastArray,      // a language element runs past the end of its array
    FileIndexPastData,     // a file names a data entry that does not exist
    WrongTypeInController, // SupportedLanguages where SupportedOptions belongs
    WrongArrayElementType, // the names array of Info holds UIDs
    FileHashMismatch,      // the file's data changed after its hash was taken
    // What a phone's reader refuses although the fields fit:
    UnknownOperator, // a condition's expression has operator 99
    TooFewOperands,  // an "equal" expression with one operand
    OddCapabilities, // a file's capabilities field of 5 bytes
    NoVendorName,    // Info's vendor names are empty
    NoLanguage,      // no supported language
    // What a phone's reader accepts although it is not the usual layout:
    FlagsInPadding,       // Info's length leaves out its last byte, the flags
    UnknownTrailingField, // the prerequisites end in a field of an unknown type
    LongUid,              // Info's UID field holds 8 bytes
    SoundExpression,      // a condition "1 = 1"
    NoDataUnit,           // a stub: SISData holds no data unit at all
};

// An unsigned Symbian 9 package: an Info with an odd length (so paddings
// matter), one language, one file (its data deflated in compressed packages),
// a DataIndex and a Data field holding the file. chain, when given, is a
// signature chain put just before the DataIndex.
std::string BuildPackage(bool deflate, Fault fault = Fault::None, const std::string& chain = {}) {
    const std::string vendor = Utf16("Jarseal");
    const std::string vendorField =
        fault == Fault::StringPastInfo ? Le32(1) + Le32(0x40000000) + vendor : Fld(1, vendor);
    const std::string namesType = Le32(fault == Fault::WrongArrayElementType ? 9 : 1);
    std::string info =
        Fld(9, Le32(0xE0001234) + (fault == Fault::LongUid ? Le32(0) : "")) + vendorField +
        Fld(2, namesType + Elem(Utf16("Pkg"))) +
        Fld(2, Le32(1) + (fault == Fault::NoVendorName ? "" : Elem(Utf16("Jarseal")))) +
        Fld(4, Le32(1) + Le32(0) + Le32(0)) +
        Fld(8, Fld(6, std::string("\xE8\x07\x00\x01", 4)) + Fld(7, std::string("\x0C\0\0", 3))) +
        std::string("\0\0", 2);
    if (fault == Fault::FlagsInPadding)
        info.pop_back(); // the flags byte (0) is then the first byte of the padding
    const std::string languageElement = fault == Fault::ElementPastArray ? Le32(12) + Le32(1)
                                        : fault == Fault::NoLanguage     ? ""
                                                                         : Elem(Le32(1));
    std::string content = "The file that the package installs.\n";
    const std::string hash = Sha1Of(content);
    if (fault == Fault::FileHashMismatch)
        content[4] ^= 0x20;
    const std::string target = Utf16("!:\\data\\readme.txt");
    const std::string capabilities =
        fault == Fault::OddCapabilities ? Fld(41, std::string("\0\x60\0\0\0", 5)) : "";
    const std::string description = Fld(1, target) + Fld(1, Utf16("text/plain")) + capabilities +
                                    Fld(25, Le32(1) + Fld(37, hash)) + Le32(1) + Le32(0) +
                                    Le64(content.size()) + Le64(content.size()) +
                                    Le32(fault == Fault::FileIndexPastData ? 1 : 0);
    // A condition: IF expression (an empty block) with no ELSEIF.
    const std::string number = Fld(29, Le32(16) + Le32(1));
    std::string expression;
    if (fault == Fault::UnknownOperator)
        expression = Fld(29, Le32(99) + Le32(0));
    else if (fault == Fault::TooFewOperands)
        expression = Fld(29, Le32(1) + Le32(0) + number);
    else if (fault == Fault::SoundExpression)
        expression = Fld(29, Le32(1) + Le32(0) + number + number);
    const std::string conditions =
        expression.empty()
            ? ""
            : Elem(expression + Fld(28, Fld(2, Le32(24)) + Fld(2, Le32(13)) + Fld(2, Le32(26))) +
                   Fld(2, Le32(27)));
    std::string body =
        Fld(14, info) + Fld(fault == Fault::WrongTypeInController ? 15 : 16, Fld(2, Le32(33))) +
        Fld(15, Fld(2, Le32(11) + languageElement)) +
        Fld(17, Fld(2, Le32(18)) + Fld(2, Le32(18)) +
                    (fault == Fault::UnknownTrailingField ? Fld(77, "later") : "")) +
        Fld(19, Fld(2, Le32(20))) +
        Fld(28, Fld(2, Le32(24) + Elem(description)) + Fld(2, Le32(13)) + Fld(2, Le32(26) + conditions)) +
        chain + Fld(40, Le32(0));
    const std::string controller = Fld(13, body);
    const std::string compressed =
        Fld(3, Le32(deflate ? 1 : 0) + Le32(static_cast<std::uint32_t>(controller.size())) + Le32(0) +
                   (deflate ? Zlib(controller) : controller));
    const std::string fileData =
        Fld(3, Le32(deflate ? 1 : 0) + Le64(content.size()) + (deflate ? Zlib(content) : content));
    const std::string fileElement =
        fault == Fault::FileDataPastParent ? Le32(0x50000000) + fileData : Elem(fileData);
    const std::string data = fault == Fault::NoDataUnit
                                 ? Fld(30, Fld(2, Le32(31)))
                                 : Fld(30, Fld(2, Le32(31) + Elem(Fld(2, Le32(32) + fileElement))));
    const std::uint16_t crc = Xmodem(compressed);
    std::string crcField = Fld(34, std::string{static_cast<char>(crc & 0xFF), static_cast<char>(crc >> 8)});
    return Le32(0x10201A7A) + Le32(0) + Le32(0xE0001234) + Le32(ss::UidChecksum(0x10201A7A, 0, 0xE0001234)) +
           Fld(12, crcField + compressed + data);
}

// ---- The independent verifier ------------------------------------------

struct Reader {
    const std::string& b;
    std::uint32_t U32(std::size_t p) const {
        if (p + 4 > b.size())
            throw std::runtime_error("read past the end");
        return Le32Value(p);
    }
    std::uint32_t Le32Value(std::size_t p) const {
        std::uint32_t v = 0;
        for (int i = 3; i >= 0; --i)
            v = v << 8 | static_cast<unsigned char>(b[p + i]);
        return v;
    }
};

struct Fv {
    std::uint32_t type;
    std::size_t data, length, end;
};

Fv At(const std::string& b, std::size_t p, bool typed = true, std::uint32_t type = 0) {
    Reader r{b};
    if (typed)
        type = r.U32(p), p += 4;
    const std::size_t length = r.U32(p);
    if (p + 4 + length > b.size())
        throw std::runtime_error("field past the end");
    return {type, p + 4, length, p + 4 + length + (4 - length % 4) % 4};
}

struct Verified {
    int chains = 0;
    int verifiedChains = 0;
    bool checksumOk = false;
    std::vector<std::string> signerSubjects;
};

bool VerifyOne(EVP_PKEY* key, const std::string& oid, std::string sig, const std::string& signedBytes) {
    unsigned char digest[SHA_DIGEST_LENGTH];
    SHA1(reinterpret_cast<const unsigned char*>(signedBytes.data()), signedBytes.size(), digest);
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(key, nullptr);
    bool ok = false;
    if (oid == "1.2.840.113549.1.1.5") {
        // Recover the padded block and compare it with the SHA-1 DigestInfo.
        const std::string prefix("\x30\x21\x30\x09\x06\x05\x2b\x0e\x03\x02\x1a\x05\x00\x04\x14", 15);
        std::string out(512, '\0');
        std::size_t n = out.size();
        ok = EVP_PKEY_verify_recover_init(ctx) > 0 &&
             EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PADDING) > 0 &&
             EVP_PKEY_verify_recover(ctx, reinterpret_cast<unsigned char*>(out.data()), &n,
                                     reinterpret_cast<const unsigned char*>(sig.data()), sig.size()) > 0 &&
             out.substr(0, n) == prefix + std::string(reinterpret_cast<char*>(digest), sizeof digest);
    } else if (oid == "1.2.840.10040.4.3") {
        if (sig.size() > 2 && static_cast<unsigned char>(sig[1]) < 0x80)
            sig.resize(
                std::min(sig.size(), 2 + static_cast<std::size_t>(static_cast<unsigned char>(sig[1]))));
        ok = EVP_PKEY_verify_init(ctx) > 0 &&
             EVP_PKEY_verify(ctx, reinterpret_cast<const unsigned char*>(sig.data()), sig.size(), digest,
                             sizeof digest) == 1;
    }
    EVP_PKEY_CTX_free(ctx);
    return ok;
}

Verified Verify(const std::string& file) {
    Verified v;
    const Fv contents = At(file, 16);
    std::string controller;
    for (std::size_t p = contents.data; p < contents.data + contents.length;) {
        const Fv f = At(file, p);
        if (f.type == 3) {
            Reader r{file};
            const std::size_t size = r.U32(f.data + 4);
            const std::string payload = file.substr(f.data + 12, f.length - 12);
            if (r.U32(f.data) == 1) {
                controller.resize(size);
                uLongf n = size;
                if (uncompress(reinterpret_cast<Bytef*>(controller.data()), &n,
                               reinterpret_cast<const Bytef*>(payload.data()), payload.size()) != Z_OK ||
                    n != size)
                    throw std::runtime_error("bad deflate");
            } else {
                controller = payload;
            }
            const std::size_t crcPos = contents.data + 8; // the checksum field comes first here
            v.checksumOk =
                (static_cast<unsigned char>(file[crcPos]) | static_cast<unsigned char>(file[crcPos + 1])
                                                                << 8) == Xmodem(file.substr(p, f.end - p));
        }
        p = f.end;
    }
    const Fv ctl = At(controller, 0);
    EXPECT_EQ(ctl.type, 13u);
    for (std::size_t p = ctl.data; p < ctl.data + ctl.length;) {
        const Fv f = At(controller, p);
        if (f.type == 39) {
            ++v.chains;
            const std::string signedBytes = controller.substr(ctl.data, p - ctl.data);
            const Fv array = At(controller, f.data);
            const Fv certChain = At(controller, array.end);
            const Fv certBlob = At(controller, certChain.data);
            const auto* der = reinterpret_cast<const unsigned char*>(controller.data() + certBlob.data);
            std::shared_ptr<X509> signer(d2i_X509(nullptr, &der, static_cast<long>(certBlob.length)),
                                         X509_free);
            if (!signer)
                throw std::runtime_error("bad certificate");
            char subject[256];
            X509_NAME_oneline(X509_get_subject_name(signer.get()), subject, sizeof subject);
            v.signerSubjects.push_back(subject);
            bool any = false;
            for (std::size_t q = array.data + 4; q < array.data + array.length;) {
                const Fv sig = At(controller, q, false, 36);
                const Fv alg = At(controller, sig.data);
                const Fv oidString = At(controller, alg.data);
                std::string oid;
                for (std::size_t i = 0; i < oidString.length; i += 2)
                    oid += controller[oidString.data + i];
                const Fv blob = At(controller, alg.end);
                any = any || VerifyOne(X509_get0_pubkey(signer.get()), oid,
                                       controller.substr(blob.data, blob.length), signedBytes);
                q = sig.end;
            }
            v.verifiedChains += any;
        }
        p = f.end;
    }
    return v;
}

// ---- Running the program -----------------------------------------------

struct Outcome {
    int status;
    std::string output;
};

Outcome InProcess(const std::vector<std::string>& args) {
    std::ostringstream out;
    const int status = ss::RunSignSis(args, out);
    return {status, out.str()};
}

Outcome Binary(const std::vector<std::string>& args) {
    std::string command = JARSEAL_SIGNSIS;
    for (const auto& a : args)
        command += " '" + a + "'";
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    std::string output;
    char buffer[4096];
    while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe))
        output.append(buffer, n);
    const int status = ::pclose(pipe);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

struct Keys {
    TestKey rsa = MakeTestKey(false, "RSA signer");
    TestKey dsa = MakeTestKey(true, "DSA signer");
    TestKey other = MakeTestKey(false, "Someone else");
};

const Keys& SharedKeys() {
    static const Keys keys;
    return keys;
}

struct SignSisFixture : ::testing::Test {
    TempDir dir;
    const Keys& keys = SharedKeys();
};

} // namespace

TEST(SisFormat, ChecksumsFollowTheFormat) {
    EXPECT_EQ(ss::Crc16("123456789"), 0x31C3);
    EXPECT_EQ(ss::Field(1, "abcde").size(), 16u); // 8 header + 5 data + 3 padding
    std::string longForm;
    ss::PutLength(longForm, 0x80000001ull);
    EXPECT_EQ(longForm, std::string("\x01\x00\x00\x80\x01\x00\x00\x00", 8));
}

// Signs stored and compressed packages four times over with RSA and DSA keys
// in every key format; after each signing every chain verifies, and removing
// signatures gives back each earlier package byte for byte.
TEST_F(SignSisFixture, SignsRepeatedlyWithEveryKeyFormatAndUnsignsExactly) {
    const std::string rsaCert = dir / "rsa.pem", dsaCert = dir / "dsa.der";
    WriteFile(rsaCert, CertPem(keys.rsa.cert.get()));
    WriteFile(dsaCert, CertDer(keys.dsa.cert.get()));
    struct Step {
        std::string cert;
        std::string keyFile;
        std::string pass;
        std::string expectedSubject;
    };
    const std::vector<Step> steps = {
        {rsaCert, KeyFile(keys.rsa.key.get(), KeyFormat::TraditionalPem, "pässword"), "pässword",
         "RSA signer"},
        {dsaCert, KeyFile(keys.dsa.key.get(), KeyFormat::Pkcs8Pem, "dsa pass"), "dsa pass", "DSA signer"},
        {rsaCert, KeyFile(keys.rsa.key.get(), KeyFormat::Der), "", "RSA signer"},
        {dsaCert, KeyFile(keys.dsa.key.get(), KeyFormat::TraditionalPem), "", "DSA signer"},
        {rsaCert, KeyFile(keys.rsa.key.get(), KeyFormat::EncryptedPkcs8Der, "x"), "x", "RSA signer"},
        {rsaCert, KeyFile(keys.rsa.key.get(), KeyFormat::Pkcs8Pem), "", "RSA signer"},
    };
    for (const bool deflate : {true, false}) {
        SCOPED_TRACE(deflate ? "compressed" : "stored");
        const std::string pkg = dir / "app.sisx";
        std::vector<std::string> stages = {BuildPackage(deflate)};
        WriteFile(pkg, stages[0]);
        ASSERT_EQ(Verify(stages[0]).chains, 0);
        for (std::size_t i = 0; i < steps.size(); ++i) {
            SCOPED_TRACE(i);
            WriteFile(dir / "key", steps[i].keyFile);
            std::vector<std::string> args = {pkg, pkg, steps[i].cert, dir / "key"};
            if (!steps[i].pass.empty())
                args.push_back(steps[i].pass);
            const Outcome run = InProcess(args);
            ASSERT_EQ(run.status, 0) << run.output;
            EXPECT_EQ(Has(run.output, "already signed"), i > 0);
            stages.push_back(ReadFile(pkg));
            const Verified v = Verify(stages.back());
            EXPECT_EQ(v.chains, static_cast<int>(i + 1));
            EXPECT_EQ(v.verifiedChains, v.chains);
            EXPECT_TRUE(v.checksumOk);
            EXPECT_TRUE(Has(v.signerSubjects.back(), steps[i].expectedSubject));
            // The header and the Data field stay as they were.
            EXPECT_EQ(stages.back().substr(0, 16), stages[0].substr(0, 16));
            EXPECT_EQ(stages.back().substr(stages.back().size() - 20),
                      stages[0].substr(stages[0].size() - 20));
        }
        const Outcome report = InProcess({"-o", pkg});
        EXPECT_EQ(report.status, 0) << report.output;
        EXPECT_FALSE(Has(report.output, "DOES NOT VERIFY"));
        for (std::size_t i = stages.size() - 1; i > 0; --i) {
            ASSERT_EQ(InProcess({"-u", pkg}).status, 0);
            EXPECT_EQ(ReadFile(pkg), stages[i - 1]) << "after removing chain " << i;
        }
        const Outcome nothing = InProcess({"-u", pkg});
        EXPECT_EQ(nothing.status, 1);
        EXPECT_TRUE(Has(nothing.output, "no signature to remove"));
        EXPECT_EQ(ReadFile(pkg), stages[0]);
    }
}

// The program itself: refusals keep the input untouched and exit 1; command
// line mistakes exit 4; a tampered package is reported by -o.
TEST_F(SignSisFixture, ProgramRefusesClearlyAndLeavesTheInputAlone) {
    const std::string cert = dir / "cert.pem", key = dir / "key.pem", pkg = dir / "app.sis";
    WriteFile(cert, CertPem(keys.rsa.cert.get()));
    WriteFile(key, KeyFile(keys.rsa.key.get(), KeyFormat::Pkcs8Pem, "right"));
    const std::string good = BuildPackage(true);

    struct Case {
        const char* name;
        std::string input;
        std::string cert, pass;
        const char* message;
    };
    std::string legacy =
        Le32(0x10001234) + Le32(0x1000006D) + Le32(0x10000419) + Le32(0) + std::string(40, 'x');
    std::string hostile = good;
    hostile.replace(16 + 8 + 12 + 8 + 4, 4, Le32(0x7FFFFFFF)); // uncompressed size of the controller
    std::string hugeField = good;
    hugeField.replace(20, 4, Le32(0x7FFFFFF0)); // the Contents length
    WriteFile(dir / "other.pem", CertPem(keys.other.cert.get()));
    const std::vector<Case> cases = {
        {"legacy", legacy, cert, "right", "legacy (pre-Symbian 9)"},
        {"truncated", good.substr(0, good.size() / 2), cert, "right", "truncated"},
        {"tiny", good.substr(0, 10), cert, "right", "too short"},
        {"hostile size", hostile, cert, "right", "at most"},
        {"huge field", hugeField, cert, "right", "truncated"},
        {"wrong passphrase", good, cert, "wrong", "Wrong passphrase"},
        {"no passphrase", good, cert, "", "give its passphrase"},
        {"mismatched key", good, dir / "other.pem", "right", "does not match the certificate"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WriteFile(pkg, c.input);
        std::vector<std::string> args = {pkg, pkg, c.cert, key};
        if (!c.pass.empty())
            args.push_back(c.pass);
        const Outcome run = Binary(args);
        EXPECT_EQ(run.status, 1) << run.output;
        EXPECT_TRUE(Has(run.output, c.message)) << run.output;
        EXPECT_EQ(ReadFile(pkg), c.input);
        EXPECT_EQ(ListDir(dir.path()).size(), 4u); // no temporary file left behind
    }

    WriteFile(pkg, good);
    EXPECT_EQ(Binary({"-?"}).status, 4);
    EXPECT_EQ(Binary({"-x", pkg}).status, 4);
    EXPECT_EQ(Binary({pkg, pkg, cert}).status, 4);
    EXPECT_EQ(Binary({"-s", "-u", pkg, pkg, cert, key}).status, 4);
    const Outcome forced = Binary({"-cd", pkg, pkg, cert, key, "right"});
    EXPECT_EQ(forced.status, 1);
    EXPECT_TRUE(Has(forced.output, "-cd asks for DSA")) << forced.output;
    EXPECT_EQ(ReadFile(pkg), good);

    // Signed to another file with /switches, then a byte of the signed range
    // is changed: -o names the signature that fails.
    ASSERT_EQ(Binary({"/cr", pkg, dir / "signed.sis", cert, key, "right"}).status, 0);
    ss::Package signedPkg = ss::ParsePackage(ReadFile(dir / "signed.sis"));
    signedPkg.controller[signedPkg.bodyStart + 28] ^= 1; // a letter of the vendor name
    WriteFile(dir / "tampered.sis", ss::SerializePackage(signedPkg));
    const Outcome tampered = Binary({"/O", dir / "tampered.sis"});
    EXPECT_EQ(tampered.status, 1);
    EXPECT_TRUE(Has(tampered.output, "DOES NOT VERIFY")) << tampered.output;
    const Outcome fine = Binary({"-op", dir / "signed.sis"});
    EXPECT_EQ(fine.status, 0) << fine.output;
    EXPECT_TRUE(Has(fine.output, "Subject: CN=RSA signer"));
    EXPECT_EQ(ReadFile(dir / "signed.sis.chain1.pem"), CertPem(keys.rsa.cert.get()));
}

// Certificates out of their validity are used, with a warning; a file of
// several PEM certificates goes into the chain whole, signer first.
TEST_F(SignSisFixture, WarnsAboutValidityAndKeepsTheWholeCertificateFile) {
    const auto expired = SelfSigned(keys.rsa.key.get(), "Old", -800, -400);
    WriteFile(dir / "certs.pem", CertPem(expired.get()) + CertPem(keys.other.cert.get()));
    WriteFile(dir / "key.der", KeyFile(keys.rsa.key.get(), KeyFormat::Der));
    WriteFile(dir / "app.sis", BuildPackage(false));
    const Outcome run = InProcess({dir / "app.sis", dir / "out.sis", dir / "certs.pem", dir / "key.der"});
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_TRUE(Has(run.output, "has expired")) << run.output;
    const ss::Package pkg = ss::ParsePackage(ReadFile(dir / "out.sis"));
    ASSERT_EQ(pkg.chains.size(), 1u);
    EXPECT_EQ(pkg.chains[0].certificates, CertDer(expired.get()) + CertDer(keys.other.cert.get()));
    EXPECT_EQ(Verify(ReadFile(dir / "out.sis")).verifiedChains, 1);
}

// Damaged packages, built from the sound one with one fault each and already
// carrying a chain to remove: signing, removing a signature and reporting all
// refuse them with exit 1, name the field and why, and leave the file as it
// was.
TEST_F(SignSisFixture, RefusesPackagesDamagedInsideControllerOrData) {
    const std::string cert = dir / "cert.pem", key = dir / "key.pem", pkg = dir / "app.sis";
    WriteFile(cert, CertPem(keys.rsa.cert.get()));
    WriteFile(key, KeyFile(keys.rsa.key.get(), KeyFormat::Pkcs8Pem));
    // A real chain to carry along, taken from a signed sound package.
    WriteFile(pkg, BuildPackage(false));
    ASSERT_EQ(InProcess({pkg, pkg, cert, key}).status, 0);
    const ss::Package signedPkg = ss::ParsePackage(ReadFile(pkg));
    ASSERT_EQ(signedPkg.chains.size(), 1u);
    const std::string chain = signedPkg.controller.substr(
        signedPkg.chains[0].start, signedPkg.chains[0].end - signedPkg.chains[0].start);

    struct Case {
        const char* name;
        Fault fault;
        const char* message;
    };
    const std::vector<Case> cases = {
        {"string past Info", Fault::StringPastInfo,
         "SISController/SISInfo/SISString: length 1073741824 runs past its parent"},
        {"file data past its unit", Fault::FileDataPastParent,
         "SISData/SISArray/SISDataUnit[0]/SISArray/SISFileData[0]: length 1342177280 runs past its parent"},
        {"element past its array", Fault::ElementPastArray,
         "SISController/SISSupportedLanguages/SISArray/SISLanguage[0]: length 12 runs past its parent"},
        {"file index past the data", Fault::FileIndexPastData, "its file index 1 is past the 1 file(s)"},
        {"wrong field type", Fault::WrongTypeInController,
         "SISController/SISSupportedOptions: SISSupportedLanguages stands where SISSupportedOptions belongs"},
        {"wrong element type", Fault::WrongArrayElementType,
         "SISController/SISInfo/SISArray(names): its elements are SISUid where SISString belongs"},
        {"file hash", Fault::FileHashMismatch,
         "SISController/SISInstallBlock/SISArray(files)/SISFileDescription[0]: the SHA-1 of its data"},
    };
    for (const bool deflate : {true, false}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.name) + (deflate ? ", compressed" : ", stored"));
            const std::string bad = BuildPackage(deflate, c.fault, chain);
            WriteFile(pkg, bad);
            for (const std::vector<std::string>& args : {std::vector<std::string>{pkg, pkg, cert, key},
                                                         {"-u", pkg},
                                                         {"-o", pkg},
                                                         {"-u", "-o", pkg}}) {
                const Outcome run = Binary(args);
                EXPECT_EQ(run.status, 1) << args[0] << ": " << run.output;
                EXPECT_TRUE(Has(run.output, "damaged")) << run.output;
                EXPECT_TRUE(Has(run.output, c.message)) << run.output;
                EXPECT_EQ(ReadFile(pkg), bad);
            }
        }
        // The same package without the fault is sound: it signs, and its
        // chain can be removed again.
        const std::string sound = BuildPackage(deflate, Fault::None, chain);
        WriteFile(pkg, sound);
        const Outcome report = Binary({"-o", pkg});
        EXPECT_EQ(report.status, 0) << report.output; // the same controller bytes as the chain signed
        EXPECT_FALSE(Has(report.output, "DOES NOT VERIFY")) << report.output;
        ASSERT_EQ(Binary({"-u", pkg}).status, 0);
        EXPECT_EQ(ReadFile(pkg), BuildPackage(deflate));
        ASSERT_EQ(Binary({pkg, pkg, cert, key}).status, 0);
        EXPECT_EQ(Verify(ReadFile(pkg)).verifiedChains, 1);
    }
    EXPECT_EQ(ListDir(dir.path()).size(), 3u); // no temporary file left behind
}

// A file holding only a controller (a ROM stub) is reported as one, and is
// neither signed nor unsigned.
TEST_F(SignSisFixture, NamesBareControllers) {
    const std::string cert = dir / "cert.pem", key = dir / "key.pem", stub = dir / "stub.sis";
    WriteFile(cert, CertPem(keys.rsa.cert.get()));
    WriteFile(key, KeyFile(keys.rsa.key.get(), KeyFormat::Pkcs8Pem));
    const ss::Package full = ss::ParsePackage(BuildPackage(false));
    const std::string bare = full.header + full.controller;
    WriteFile(stub, bare);
    const Outcome report = Binary({"-o", stub});
    EXPECT_EQ(report.status, 0) << report.output;
    EXPECT_TRUE(Has(report.output, "bare controller (a ROM stub)")) << report.output;
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{stub, stub, cert, key}, {"-u", stub}}) {
        const Outcome run = Binary(args);
        EXPECT_EQ(run.status, 1) << run.output;
        EXPECT_TRUE(Has(run.output, "ROM stub")) << run.output;
        EXPECT_EQ(ReadFile(stub), bare);
    }
    // A damaged stub is refused like any package.
    std::string damaged = bare;
    damaged[16 + 8] = 15; // Info's type word becomes SupportedLanguages
    WriteFile(stub, damaged);
    const Outcome refused = Binary({"-o", stub});
    EXPECT_EQ(refused.status, 1);
    EXPECT_TRUE(
        Has(refused.output, "SISController/SISInfo: SISSupportedLanguages stands where SISInfo belongs"))
        << refused.output;
}

// DSA signature blobs have the size of the key's largest DER signature: 48
// bytes for a 1024-bit key with a 160-bit q, the DER value first.
TEST_F(SignSisFixture, DsaBlobsArePaddedToTheLargestSignature) {
    WriteFile(dir / "dsa.pem", CertPem(keys.dsa.cert.get()));
    WriteFile(dir / "key.pem", KeyFile(keys.dsa.key.get(), KeyFormat::TraditionalPem));
    const std::string pkg = dir / "app.sis";
    WriteFile(pkg, BuildPackage(true));
    // Several signings, so that short DER values (r or s under 160 bits) are
    // likely to occur among them.
    for (int i = 0; i < 12; ++i) {
        SCOPED_TRACE(i);
        ASSERT_EQ(InProcess({pkg, pkg, dir / "dsa.pem", dir / "key.pem"}).status, 0);
        const ss::Package p = ss::ParsePackage(ReadFile(pkg));
        ASSERT_EQ(p.chains.size(), static_cast<std::size_t>(i + 1));
        const std::string blob = p.chains.back().signatures.at(0).blob;
        ASSERT_EQ(blob.size(), 48u);
        EXPECT_EQ(static_cast<unsigned char>(blob[0]), 0x30);
        const std::size_t derSize = 2 + static_cast<unsigned char>(blob[1]);
        ASSERT_LE(derSize, 48u);
        EXPECT_EQ(blob.substr(derSize), std::string(48 - derSize, '\0'));
    }
    const Verified v = Verify(ReadFile(pkg));
    EXPECT_EQ(v.chains, 12);
    EXPECT_EQ(v.verifiedChains, 12);
}

// The structure as a phone's reader takes it: what it refuses is refused by
// signing and by -o; what it accepts signs, verifies and unsigns back to the
// same bytes.
TEST_F(SignSisFixture, FollowsThePhonesReaderForTheStructure) {
    const std::string cert = dir / "cert.pem", key = dir / "key.pem", pkg = dir / "app.sis";
    WriteFile(cert, CertPem(keys.rsa.cert.get()));
    WriteFile(key, KeyFile(keys.rsa.key.get(), KeyFormat::Pkcs8Pem));
    struct Case {
        const char* name;
        Fault fault;
        const char* refusal; // nullptr: a phone accepts it
    };
    const std::vector<Case> cases = {
        {"unknown operator", Fault::UnknownOperator, "SISExpression: unknown operator 99"},
        {"too few operands", Fault::TooFewOperands,
         "SISIf[0]/SISExpression/SISExpression: its header runs past"},
        {"capabilities of 5 bytes", Fault::OddCapabilities,
         "SISCapabilities: length 5 is no whole number of 32-bit sets"},
        {"no vendor name", Fault::NoVendorName, "SISInfo: 0 vendor name(s) for 1 language(s)"},
        {"no language", Fault::NoLanguage, "SISSupportedLanguages: it names no language"},
        {"flags in the padding", Fault::FlagsInPadding, nullptr},
        {"unknown trailing field", Fault::UnknownTrailingField, nullptr},
        {"8-byte UID field", Fault::LongUid, nullptr},
        {"sound expression", Fault::SoundExpression, nullptr},
    };
    for (const bool deflate : {true, false}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.name) + (deflate ? ", compressed" : ", stored"));
            const std::string input = BuildPackage(deflate, c.fault);
            WriteFile(pkg, input);
            const Outcome report = Binary({"-o", pkg});
            const Outcome sign = Binary({pkg, pkg, cert, key});
            if (c.refusal) {
                EXPECT_EQ(report.status, 1) << report.output;
                EXPECT_TRUE(Has(report.output, c.refusal)) << report.output;
                EXPECT_EQ(sign.status, 1) << sign.output;
                EXPECT_EQ(ReadFile(pkg), input);
                continue;
            }
            EXPECT_EQ(report.status, 0) << report.output;
            ASSERT_EQ(sign.status, 0) << sign.output;
            EXPECT_EQ(Verify(ReadFile(pkg)).verifiedChains, 1);
            EXPECT_EQ(Binary({"-o", pkg}).status, 0);
            ASSERT_EQ(Binary({"-u", pkg}).status, 0);
            EXPECT_EQ(ReadFile(pkg), input);
        }
    }
}

// A package whose SISData holds no data unit is a stub: its structure is
// walked (a damaged one is refused), the file hashes are not looked for, and
// it signs and verifies.
TEST_F(SignSisFixture, SignsStubsWithNoDataUnit) {
    const std::string cert = dir / "cert.pem", key = dir / "key.pem", pkg = dir / "stub.sis";
    WriteFile(cert, CertPem(keys.rsa.cert.get()));
    WriteFile(key, KeyFile(keys.rsa.key.get(), KeyFormat::Pkcs8Pem));
    const std::string stub = BuildPackage(true, Fault::NoDataUnit);
    WriteFile(pkg, stub);
    const Outcome before = Binary({"-o", pkg});
    EXPECT_EQ(before.status, 0) << before.output;
    EXPECT_TRUE(Has(before.output, "stub")) << before.output;
    ASSERT_EQ(Binary({pkg, pkg, cert, key}).status, 0);
    EXPECT_EQ(Verify(ReadFile(pkg)).verifiedChains, 1);
    const ss::PackageReport report = ss::ReportOn(ReadFile(pkg));
    EXPECT_TRUE(report.damage.empty()) << report.damage;
    EXPECT_TRUE(report.noData);
    ASSERT_EQ(report.chains.size(), 1u);
    EXPECT_TRUE(report.chains[0].Verifies());
    ASSERT_EQ(Binary({"-u", pkg}).status, 0);
    EXPECT_EQ(ReadFile(pkg), stub);

    // Its structure is still walked.
    std::string damaged = stub;
    damaged.replace(damaged.size() - 4, 4, Le32(32)); // the array of data units holds SISFileData
    WriteFile(pkg, damaged);
    const Outcome refused = Binary({"-o", pkg});
    EXPECT_EQ(refused.status, 1) << refused.output;
    EXPECT_TRUE(Has(refused.output, "where SISDataUnit belongs")) << refused.output;
}
