#include "symbian/SymbianPackage.h"
#include "SignSis.h"
#include "SisCrypto.h"
#include "SisFormat.h"
#include "common/RefusalTexts.h"
#include "process/RunAndWait.h"
#include "support/CliFixture.h"
#include "support/FakeSettings.h"
#include "support/ScriptedUi.h"
#include "support/TempDir.h"
#include "symbian/SisCheck.h"
#include "symbian/TestKeys.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace jarseal;
using namespace jarseal::test;
namespace ss = jarseal::signsis;

namespace {

std::string U32(std::uint32_t v) {
    std::string s;
    ss::PutU32(s, v);
    return s;
}

std::string Utf16(const std::string& ascii) {
    std::string s;
    for (const char c : ascii)
        ss::PutU16(s, static_cast<unsigned char>(c));
    return s;
}

// An unsigned package of one executable asking for the capability sets
// given (none: no capabilities field), with UID3 uid. dataUnits false makes
// a stub whose SISData holds no data unit.
std::string MakePackage(std::uint32_t uid, std::uint32_t capabilities, bool dataUnits = true) {
    std::string date;
    ss::PutU16(date, 2024);
    date += std::string("\0\1", 2);
    const std::string info =
        ss::Field(9, U32(uid)) + ss::StringField("Jarseal") + ss::ArrayField(ss::kString, {Utf16("Test")}) +
        ss::ArrayField(ss::kString, {Utf16("Jarseal")}) + ss::Field(4, U32(1) + U32(0) + U32(0)) +
        ss::Field(8, ss::Field(6, date) + ss::Field(7, std::string("\x0C\0\0", 3))) + std::string("\0\0", 2);
    const std::string content = "an executable";
    std::string sizes;
    ss::PutU64(sizes, content.size());
    const std::string file = ss::StringField("!:\\sys\\bin\\test.exe") + ss::StringField("x-epoc/x-app") +
                             (capabilities ? ss::Field(41, U32(capabilities)) : "") +
                             ss::Field(25, U32(1) + ss::Field(ss::kBlob, ss::Sha1(content))) + U32(1) +
                             U32(0) + sizes + sizes + U32(0);
    const std::string body =
        ss::Field(14, info) + ss::Field(16, ss::ArrayField(33, {})) +
        ss::Field(15, ss::ArrayField(11, {U32(1)})) +
        ss::Field(17, ss::ArrayField(18, {}) + ss::ArrayField(18, {})) +
        ss::Field(19, ss::ArrayField(20, {})) +
        ss::Field(28, ss::ArrayField(24, {file}) + ss::ArrayField(13, {}) + ss::ArrayField(26, {})) +
        ss::Field(ss::kDataIndex, U32(0));
    const std::string controller = ss::Field(ss::kController, body);
    std::string compressed = U32(0);
    ss::PutU64(compressed, controller.size());
    std::string stored = U32(0);
    ss::PutU64(stored, content.size());
    const std::string data = ss::Field(
        ss::kData, dataUnits ? ss::ArrayField(31, {ss::ArrayField(32, {ss::Field(3, stored + content)})})
                             : ss::ArrayField(31, {}));
    return U32(ss::kUid1Symbian9) + U32(0) + U32(uid) + U32(ss::UidChecksum(ss::kUid1Symbian9, 0, uid)) +
           ss::Field(ss::kContents, ss::Field(ss::kCompressed, compressed + controller) + data);
}

std::size_t Chains(const std::string& path) {
    return ss::ParsePackage(ReadFile(path)).chains.size();
}

bool HasText(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

struct SymbianFixture : ::testing::Test {
    TempDir root;
    ScriptedUi ui;
    MemorySettings settings;
    FixedPermissions permissions;
    Context ctx{ui, settings, permissions, root.path(), ""};
    std::string log = root / "args.log";

    void SetUp() override {
        ::setenv("FAKE_SIGNSIS_LOG", log.c_str(), 1);
        ::unsetenv("FAKE_SIGNSIS_EXIT");
        settings.Write("Symbian", "SignSIS", JARSEAL_FAKE_SIGNSIS);
        settings.Write("Symbian", "certificate", root / "my cert.cer");
        settings.Write("Symbian", "key", root / "key.key");
        settings.Write("Symbian", "passphrase", "secret");
    }
    void TearDown() override {
        ::unsetenv("FAKE_SIGNSIS_LOG");
        ::unsetenv("FAKE_SIGNSIS_EXIT");
    }
    // The bundled signing program with a fresh self-signed pair.
    TestKey UseBundledProgram(const std::string& cn = "Jarseal test") {
        MakeDir(root / "data");
        ::symlink(JARSEAL_SIGNSIS, (root / "data/signsis").c_str());
        settings.Write("Symbian", "SignSIS", "");
        TestKey key = MakeTestKey(false, cn);
        WriteFile(root / "my cert.cer", CertPem(key.cert.get()));
        WriteFile(root / "key.key", KeyFile(key.key.get(), KeyFormat::Pkcs8Pem, "secret"));
        return key;
    }
    int Sign(const std::string& path) {
        ui.shown.clear();
        ui.notes.clear();
        try {
            SignSymbianPackage(ctx, path);
        } catch (const ProgramEnded& e) {
            return e.status;
        }
        return -1;
    }
    // Signs as started with the package on the command line: the exit status.
    int SignAsCommand(const std::string& path) {
        ctx.commandLine = path;
        const int status = Sign(path);
        ctx.commandLine.clear();
        return status;
    }
    // The folder holds only these names (no backup, no temporary file).
    void ExpectOnly(const std::vector<std::string>& names) {
        std::vector<std::string> found;
        for (const auto& name : ListDir(root.path()))
            if (name != "data" && name != "my cert.cer" && name != "key.key" && name != "args.log")
                found.push_back(name);
        EXPECT_EQ(found, names);
    }
};

} // namespace

TEST_F(SymbianFixture, CommandLineQuotesPathsAndOnlyValuesThatNeedIt) {
    settings.Write("Symbian", "SignSIS", "/opt/sdk/signsis");
    settings.Write("Symbian", "certificate", "/c/cert.cer");
    settings.Write("Symbian", "key", "/c/key.key");
    EXPECT_EQ(
        SignSisCommandLine(ctx, "/a/app.sisx", "/a/.app.sisx.jarseal-abc123"),
        "/opt/sdk/signsis \"/a/app.sisx\" \"/a/.app.sisx.jarseal-abc123\" \"/c/cert.cer\" \"/c/key.key\" "
        "secret");

    settings.Write("Symbian", "SignSIS", "/opt/my sdk/signsis");
    settings.Write("Symbian", "certificate", "");
    settings.Write("Symbian", "key", "");
    settings.Write("Symbian", "passphrase", "");
    EXPECT_EQ(SignSisCommandLine(ctx, "/a/app.sis", "/a/out"),
              "\"/opt/my sdk/signsis\" \"/a/app.sis\" \"/a/out\" \"\" \"\" ");

    settings.Write("Symbian", "passphrase", "two words");
    EXPECT_TRUE(SignSisCommandLine(ctx, "/a/app.sis", "/a/out").ends_with(" \"\" \"\" \"two words\""));
}

TEST_F(SymbianFixture, EmptySettingRunsTheBundledProgram) {
    settings.Write("Symbian", "SignSIS", "");
    ctx.programFolder = "/opt/jar seal";
    EXPECT_EQ(SignSisCommandLine(ctx, "/a/app.sis", "/a/out"),
              "\"/opt/jar seal/data/signsis\" \"/a/app.sis\" \"/a/out\" \"" + root / "my cert.cer" + "\" \"" +
                  root / "key.key" + "\" secret");
    EXPECT_EQ(settings.Read("Symbian", "SignSIS"), ""); // the setting stays empty
}

// The sample package of the build, signed by the bundled program: done, with
// its backup; signed again with the same certificate its chain is replaced,
// with another one a chain is added and the message says so (the console
// gets the same line as a note).
TEST_F(SymbianFixture, SigningAgainReplacesItsOwnChain) {
    const TestKey key = UseBundledProgram();
    const std::string sample = ReadFile(JARSEAL_BUILD_DIR "/sample/sample.sis");
    const std::string pkg = root / "sample.sis";
    WriteFile(pkg, sample);

    EXPECT_EQ(SignAsCommand(pkg), kExitSuccess);
    EXPECT_EQ(ui.Messages(), std::vector<std::string>{"Готово"});
    EXPECT_TRUE(ui.notes.empty());
    EXPECT_EQ(ReadFile(pkg + ".original"), sample);
    EXPECT_EQ(Chains(pkg), 1u);
    EXPECT_FALSE(CheckPackageOtherThanJava(pkg).Refused());
    const std::string once = ReadFile(pkg);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(SignAsCommand(pkg), kExitSuccess);
        EXPECT_EQ(ui.Messages(), std::vector<std::string>{"Готово\r\nПакет был подписан раньше этим же "
                                                          "сертификатом: прежняя подпись заменена новой."});
        EXPECT_EQ(ui.notes.size(), 1u);
        EXPECT_EQ(Chains(pkg), 1u);
        EXPECT_EQ(ReadFile(pkg).size(), once.size());
    }
    EXPECT_EQ(ReadFile(pkg + ".original"), sample);
    ExpectOnly({"sample.sis", "sample.sis.original"});

    // Another certificate adds its chain to the first one.
    const TestKey other = MakeTestKey(false, "Someone else");
    WriteFile(root / "my cert.cer", CertPem(other.cert.get()));
    WriteFile(root / "key.key", KeyFile(other.key.get(), KeyFormat::Pkcs8Pem, "secret"));
    EXPECT_EQ(SignAsCommand(pkg), kExitSuccess);
    EXPECT_EQ(Chains(pkg), 2u);
    ASSERT_EQ(ui.notes.size(), 1u);
    EXPECT_TRUE(HasText(ui.notes[0], "другим сертификатом")) << ui.notes[0];
    EXPECT_TRUE(HasText(ui.notes[0], "цепочек подписей: 2")) << ui.notes[0];
    EXPECT_EQ(ui.Messages()[0], "Готово\r\n" + ui.notes[0]);
    // And signing with it again replaces only its own chain.
    EXPECT_EQ(SignAsCommand(pkg), kExitSuccess);
    EXPECT_EQ(Chains(pkg), 2u);
}

// Whatever makes a job fail leaves the package byte for byte as it was, and
// no backup and no temporary file beside it: an expired or not yet valid
// certificate, a junk file, a damaged package, a wrong passphrase, and in a
// self-signed package a protected UID or a capability the user cannot grant.
// --resign then signs a package with an expired chain afresh.
TEST_F(SymbianFixture, FailedJobsChangeNothing) {
    const TestKey key = UseBundledProgram();
    const std::string pkg = root / "app.sis";
    const std::string sound = MakePackage(0xA0001234, 1u << 15 | 1u << 13); // ReadUserData, NetworkServices
    std::string damaged = sound;
    damaged[damaged.size() - 10] ^= 0x01; // the executable's data no longer has its hash

    struct Case {
        const char* name;
        std::string package;
        std::string certificate; // empty: the good one
        std::string passphrase;
        const char* message;
    };
    const std::string expired = CertPem(SelfSigned(key.key.get(), "Jarseal test", -3000, -1000).get());
    const std::string notYet = CertPem(SelfSigned(key.key.get(), "Jarseal test", 100, 3000).get());
    const std::vector<Case> cases = {
        {"expired certificate", sound, expired, "secret", "has expired"},
        {"certificate not valid yet", sound, notYet, "secret", "is not valid yet"},
        {"junk", "not a package at all", "", "secret", "(код 1)"},
        {"damaged", damaged, "", "secret", "does not match its SISHash"},
        {"wrong passphrase", sound, "", "wrong", "Wrong passphrase"},
        {"protected UID", MakePackage(0x20001234, 0), "", "secret", "0xA0000000 to 0xAFFFFFFF"},
        {"TCB", MakePackage(0xA0001234, 1u), "", "secret", "ask for TCB"},
        {"AllFiles", MakePackage(0xE0001234, 1u << 11 | 1u << 15), "", "secret",
         "LocalServices, Location, NetworkServices, ReadUserData, UserEnvironment and WriteUserData"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WriteFile(root / "my cert.cer", c.certificate.empty() ? CertPem(key.cert.get()) : c.certificate);
        settings.Write("Symbian", "passphrase", c.passphrase);
        WriteFile(pkg, c.package);
        EXPECT_EQ(SignAsCommand(pkg), kExitFailure);
        ASSERT_EQ(ui.Messages().size(), 1u);
        EXPECT_TRUE(HasText(ui.Messages()[0], c.message)) << ui.Messages()[0];
        EXPECT_EQ(ReadFile(pkg), c.package);
        ExpectOnly({"app.sis"});
    }

    // The sound package, and one in the test range, are done.
    WriteFile(root / "my cert.cer", CertPem(key.cert.get()));
    settings.Write("Symbian", "passphrase", "secret");
    for (const std::uint32_t uid : {0xA0001234u, 0xE0001234u}) {
        WriteFile(pkg, MakePackage(uid, 1u << 15 | 1u << 13));
        ::unlink((pkg + ".original").c_str());
        EXPECT_EQ(SignAsCommand(pkg), kExitSuccess) << (ui.Messages().empty() ? "" : ui.Messages()[0]);
        EXPECT_EQ(Chains(pkg), 1u);
    }

    // A package carrying a chain whose certificate has expired: signing adds
    // nothing a phone would take; --resign replaces it by one good chain.
    WriteFile(root / "my cert.cer", expired);
    WriteFile(pkg, sound);
    ::unlink((pkg + ".original").c_str());
    ASSERT_EQ(std::system((std::string(JARSEAL_SIGNSIS) + " '" + pkg + "' '" + pkg + "' '" +
                           root / "my cert.cer" + "' '" + root / "key.key" + "' secret >/dev/null")
                              .c_str()),
              0);
    const std::string withExpiredChain = ReadFile(pkg);
    const TestKey other = MakeTestKey(false, "Someone else");
    WriteFile(root / "my cert.cer", CertPem(other.cert.get()));
    WriteFile(root / "key.key", KeyFile(other.key.get(), KeyFormat::Pkcs8Pem, "secret"));
    EXPECT_EQ(SignAsCommand(pkg), kExitFailure); // the expired chain stays, so a phone refuses it
    EXPECT_EQ(ReadFile(pkg), withExpiredChain);
    ctx.resignSymbian = true;
    EXPECT_EQ(SignAsCommand(pkg), kExitSuccess) << ui.Messages()[0];
    ctx.resignSymbian = false;
    EXPECT_EQ(Chains(pkg), 1u);
    EXPECT_FALSE(CheckPackageOtherThanJava(pkg).Refused());
    ASSERT_EQ(ui.notes.size(), 1u);
    EXPECT_TRUE(HasText(ui.notes[0], "удалены")) << ui.notes[0];
    EXPECT_EQ(ReadFile(pkg + ".original"), withExpiredChain);
}

// The check of a Symbian package decides on the report value: every verdict
// stays whatever signsis prints. A stub with no data unit signs and passes.
TEST_F(SymbianFixture, CheckJudgesTheReportValue) {
    UseBundledProgram();
    const std::string stub = root / "stub.sis";
    WriteFile(stub, MakePackage(0xA0001234, 0, false));
    EXPECT_TRUE(CheckPackageOtherThanJava(stub).Refused()); // not signed
    EXPECT_EQ(SignAsCommand(stub), kExitSuccess) << ui.Messages()[0];
    const CheckReport signedStub = CheckPackageOtherThanJava(stub);
    EXPECT_FALSE(signedStub.Refused());
    EXPECT_EQ(signedStub.Verdict(), "a phone would accept it");

    // A chain through a CA outside the package may carry a protected UID and
    // system capabilities: a phone that trusts its root installs it.
    ss::PackageReport report = ss::ReportOn(ReadFile(stub));
    ASSERT_EQ(report.chains.size(), 1u);
    report.controllers[0].uid = 0x20001234;
    report.controllers[0].capabilities = {1u};
    CheckReport selfSigned;
    JudgeSymbianReport(report, selfSigned);
    EXPECT_TRUE(selfSigned.Refused());
    report.chains[0].certificates.back().selfIssued = false;
    CheckReport rooted;
    JudgeSymbianReport(report, rooted);
    EXPECT_FALSE(rooted.Refused());
    EXPECT_EQ(rooted.trust, SuiteTrust::NeedsRoot);
    report.chains[0].signatures[0].second = false;
    CheckReport broken;
    JudgeSymbianReport(report, broken);
    EXPECT_TRUE(broken.Refused());

    // The words signsis would print decide nothing: reworded, the verdicts
    // stay, and a fault without words still refuses.
    report.chains[0].signatures[0].second = true;
    for (ss::CertificateFacts& cert : report.chains[0].certificates)
        cert.subject = cert.issuer = cert.validity = cert.validityProblem = "reworded";
    CheckReport reworded;
    JudgeSymbianReport(report, reworded);
    EXPECT_FALSE(reworded.Refused());
    for (const auto problem : {ss::DateProblem::Expired, ss::DateProblem::NotYetValid}) {
        report.chains[0].certificates[0].validityProblem.clear();
        report.chains[0].certificates[0].dateProblem = problem;
        CheckReport outOfDate;
        JudgeSymbianReport(report, outOfDate);
        EXPECT_TRUE(outOfDate.Refused());
    }
    report.chains[0].certificates[0].dateProblem = ss::DateProblem::None;
    report.chains[0].certificatesRead = false;
    CheckReport unreadable;
    JudgeSymbianReport(report, unreadable);
    EXPECT_TRUE(unreadable.Refused());
    report.chains[0].certificatesRead = true;
    report.damaged = true;
    CheckReport damaged;
    JudgeSymbianReport(report, damaged);
    EXPECT_TRUE(damaged.Refused());
}

// The names and backups of the Java job's rules; leftovers of a killed run
// are removed by the next one.
TEST_F(SymbianFixture, NamesBackupsAndLeftovers) {
    UseBundledProgram();
    for (const char* name : {"a\nb.sis", "a\rb.sis", "a\tb.sis", "a\x1b[2Kb.sis", "a\x7f.sis"}) {
        SCOPED_TRACE(name);
        const std::string pkg = root / name;
        WriteFile(pkg, MakePackage(0xA0001234, 0));
        EXPECT_EQ(SignAsCommand(pkg), kExitFailure);
        EXPECT_EQ(ui.Messages(), std::vector<std::string>{ControlCharacterNameText()});
        EXPECT_EQ(ReadFile(pkg), MakePackage(0xA0001234, 0));
        ::unlink(pkg.c_str());
    }

    const std::string pkg = root / "app.sis";
    WriteFile(pkg, MakePackage(0xA0001234, 0));
    WriteFile(root / "elsewhere", "the user's file");
    ASSERT_EQ(::symlink((root / "elsewhere").c_str(), (pkg + ".original").c_str()), 0);
    EXPECT_EQ(SignAsCommand(pkg), kExitFailure);
    EXPECT_EQ(ui.Messages(), std::vector<std::string>{NotABackupText(pkg + ".original")});
    EXPECT_EQ(ReadFile(pkg), MakePackage(0xA0001234, 0));
    EXPECT_EQ(ReadFile(root / "elsewhere"), "the user's file");
    ::unlink((pkg + ".original").c_str());
    ::unlink((root / "elsewhere").c_str());

    // What a killed job and a killed signer leave beside the package.
    WriteFile(root / ".app.sis.jarseal-Ab12Cd", "half");
    WriteFile(root / "..app.sis.jarseal-Ab12Cd.jarseal-xY34zW", "half");
    WriteFile(root / ".app.sis.original.jarseal-Qw56Er", "half");
    EXPECT_EQ(SignAsCommand(pkg), kExitSuccess);
    ExpectOnly({"app.sis", "app.sis.original"});
}

TEST_F(SymbianFixture, ToolFailureIsReportedAndChangesNothing) {
    const std::string pkg = root / "app.sis";
    WriteFile(pkg, "unsigned");
    settings.Write("Symbian", "passphrase", "pass with blanks");
    // The stand-in's output is no package: the check after signing says so.
    EXPECT_EQ(Sign(pkg), -1);
    ASSERT_EQ(ui.Messages().size(), 1u);
    EXPECT_EQ(ui.Messages()[0].rfind("Подписанный пакет не будет установлен на телефон:", 0), 0u);
    EXPECT_EQ(ReadFile(pkg), "unsigned");
    // The tool read the package and wrote a hidden file beside it.
    const std::string args = ReadFile(log);
    const std::string prefix = pkg + "\n" + root / ".app.sis.jarseal-";
    EXPECT_EQ(args.rfind(prefix, 0), 0u) << args;
    EXPECT_TRUE(
        args.ends_with("\n" + root / "my cert.cer" + "\n" + root / "key.key" + "\npass with blanks\n\n"))
        << args;
    ExpectOnly({"app.sis"});

    ::setenv("FAKE_SIGNSIS_EXIT", "3", 1);
    EXPECT_EQ(SignAsCommand(pkg), kExitFailure);
    ASSERT_EQ(ui.Messages().size(), 1u);
    EXPECT_NE(ui.Messages()[0].find("(код 3)"), std::string::npos);
    EXPECT_NE(ui.Messages()[0].find("cannot sign: told to fail"), std::string::npos);
    EXPECT_EQ(ReadFile(pkg), "unsigned");
    ExpectOnly({"app.sis"});

    settings.Write("Symbian", "SignSIS", ""); // nothing can be started
    EXPECT_EQ(Sign(pkg), -1);
    EXPECT_EQ(ui.Messages()[0].rfind("Не удалось запустить программу подписи", 0), 0u);

    ::setenv("FAKE_SIGNSIS_EXIT", "1", 1);
    settings.Write("Symbian", "SignSIS", JARSEAL_FAKE_SIGNSIS);
    EXPECT_EQ(Sign(root / "missing.sis"), -1); // the tool complains
    EXPECT_EQ(ui.Messages()[0].rfind("Программа подписи sis файлов завершилась с ошибкой", 0), 0u);
    ExpectOnly({"app.sis"});
}

// jarseal-cli on a file system that refuses chmod (a preloaded stand-in, as
// a vfat memory card mounted without permissions): the Symbian job signs,
// makes its backup and prints the note on earlier signatures.
TEST(SymbianOnCards, SignsWhereChmodIsRefused) {
    TempDir root;
    const std::string program = root / "prog";
    CliFixture::MakeProgramFolder(program);
    ::symlink(JARSEAL_SIGNSIS, (program + "/data/signsis").c_str());
    const TestKey key = MakeTestKey(false, "Jarseal card");
    WriteFile(program + "/data/symbian.cer", CertPem(key.cert.get()));
    WriteFile(program + "/data/symbian.key", KeyFile(key.key.get(), KeyFormat::Pkcs8Pem, "secret"));
    WriteFile(program + "/Jarseal.ini",
              ReadFile(program + "/Jarseal.ini") + "[Symbian]\r\ncertificate=" + program +
                  "/data/symbian.cer\r\nkey=" + program + "/data/symbian.key\r\npassphrase=secret\r\n");
    const std::string pkg = root / "card/app.sis";
    MakeDir(root / "card");
    WriteFile(pkg, MakePackage(0xA0001234, 0));
    // A sanitizer build wants its runtime first; the double comes before it.
    const std::string run = "ASAN_OPTIONS=verify_asan_link_order=0 LD_PRELOAD='" JARSEAL_NOCHMOD "' '" +
                            program + "/jarseal-cli' '" + pkg + "'";
    RunOutput first = RunAndWaitCapture("sh -c \"" + run + "\"");
    EXPECT_EQ(first.exitCode, 0) << first.output;
    EXPECT_EQ(Chains(pkg), 1u);
    // The settings are stored there too: the first run's bookkeeping.
    EXPECT_NE(ReadFile(program + "/Jarseal.ini").find("FirstRun=0"), std::string::npos);
    EXPECT_EQ(ReadFile(pkg + ".original"), MakePackage(0xA0001234, 0));
    const RunOutput second = RunAndWaitCapture("sh -c \"" + run + "\"");
    EXPECT_EQ(second.exitCode, 0) << second.output;
    EXPECT_TRUE(HasText(second.output, "прежняя подпись заменена новой")) << second.output;
    EXPECT_EQ(Chains(pkg), 1u);
    EXPECT_EQ(ListDir(root / "card"), (std::vector<std::string>{"app.sis", "app.sis.original"}));
}
