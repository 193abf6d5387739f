#include "symbian/SymbianPackage.h"
#include "check/SuiteCheck.h"
#include "support/FakeSettings.h"
#include "support/ScriptedUi.h"
#include "support/TempDir.h"
#include "symbian/TestKeys.h"

#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace jarseal;
using namespace jarseal::test;

namespace {

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
    int Sign(const std::string& path) {
        try {
            SignSymbianPackage(ctx, path);
        } catch (const ProgramEnded& e) {
            return e.status;
        }
        return -1;
    }
};

} // namespace

TEST_F(SymbianFixture, CommandLineQuotesPathsAndOnlyValuesThatNeedIt) {
    settings.Write("Symbian", "SignSIS", "/opt/sdk/signsis");
    settings.Write("Symbian", "certificate", "/c/cert.cer");
    settings.Write("Symbian", "key", "/c/key.key");
    EXPECT_EQ(SignSisCommandLine(ctx, "/a/app.sisx"),
              "/opt/sdk/signsis \"/a/app.sisx\" \"/a/app.sisx\" \"/c/cert.cer\" \"/c/key.key\" secret");

    settings.Write("Symbian", "SignSIS", "/opt/my sdk/signsis");
    settings.Write("Symbian", "certificate", "");
    settings.Write("Symbian", "key", "");
    settings.Write("Symbian", "passphrase", "");
    EXPECT_EQ(SignSisCommandLine(ctx, "/a/app.sis"),
              "\"/opt/my sdk/signsis\" \"/a/app.sis\" \"/a/app.sis\" \"\" \"\" ");

    settings.Write("Symbian", "passphrase", "two words");
    EXPECT_TRUE(SignSisCommandLine(ctx, "/a/app.sis").ends_with(" \"\" \"\" \"two words\""));
}

TEST_F(SymbianFixture, EmptySettingRunsTheBundledProgram) {
    settings.Write("Symbian", "SignSIS", "");
    ctx.programFolder = "/opt/jar seal";
    EXPECT_EQ(SignSisCommandLine(ctx, "/a/app.sis"),
              "\"/opt/jar seal/data/signsis\" \"/a/app.sis\" \"/a/app.sis\" \"" + root / "my cert.cer" +
                  "\" \"" + root / "key.key" + "\" secret");
    EXPECT_EQ(settings.Read("Symbian", "SignSIS"), ""); // the setting stays empty
}

// The sample package of the build, signed by the bundled program (the built
// one, linked in as data/signsis) with a fresh key; the program's own report
// then verifies the signature.
TEST_F(SymbianFixture, SignsTheSamplePackageWithTheBundledProgram) {
    MakeDir(root / "data");
    ASSERT_EQ(::symlink(JARSEAL_SIGNSIS, (root / "data/signsis").c_str()), 0);
    const TestKey key = MakeTestKey(false, "Jarseal test");
    WriteFile(root / "my cert.cer", CertPem(key.cert.get()));
    WriteFile(root / "key.key", KeyFile(key.key.get(), KeyFormat::Pkcs8Pem, "secret"));
    settings.Write("Symbian", "SignSIS", "");
    const std::string sample = ReadFile(JARSEAL_BUILD_DIR "/sample/sample.sis");
    const std::string pkg = root / "sample.sis";
    WriteFile(pkg, sample);

    EXPECT_EQ(Sign(pkg), -1);
    EXPECT_EQ(ui.Messages(), std::vector<std::string>{"Готово"});
    EXPECT_EQ(ReadFile(pkg + ".original"), sample);
    EXPECT_GT(ReadFile(pkg).size(), sample.size());

    FILE* pipe = ::popen((std::string(JARSEAL_SIGNSIS) + " -o '" + pkg + "'").c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string report;
    char buffer[4096];
    while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe))
        report.append(buffer, n);
    const int status = ::pclose(pipe);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << report;
    EXPECT_NE(report.find("Subject: CN=Jarseal test"), std::string::npos) << report;
    EXPECT_NE(report.find("Signature 1 (1.2.840.113549.1.1.5): verifies"), std::string::npos) << report;

    // The suite checker accepts the signed package, and refuses it once a
    // signed byte is changed or when it was never signed.
    EXPECT_FALSE(CheckPackageOtherThanJava(pkg).Refused());
    std::string bytes = ReadFile(pkg);
    EXPECT_TRUE(CheckPackageOtherThanJava(pkg + ".original").Refused());
    bytes[80] = static_cast<char>(bytes[80] ^ 0x01); // inside the compressed controller
    WriteFile(root / "tampered.sis", bytes);
    EXPECT_TRUE(CheckPackageOtherThanJava(root / "tampered.sis").Refused());
    WriteFile(root / "text.sis", "not a package at all");
    EXPECT_TRUE(CheckPackageOtherThanJava(root / "text.sis").Refused());

    // Signed again: the message counts the chains.
    ui.shown.clear();
    EXPECT_EQ(Sign(pkg), -1);
    ASSERT_EQ(ui.Messages().size(), 1u);
    EXPECT_EQ(ui.Messages()[0], "Готово\r\nПакет был подписан раньше: теперь в нём цепочек подписей: 2.");

    // A certificate that has expired, or is not valid yet, makes a package
    // no phone installs: a failure, never "Готово".
    for (const auto& [from, to] : {std::pair{-3000L, -1000L}, std::pair{100L, 3000L}}) {
        const TestKey other{key.key, SelfSigned(key.key.get(), "Jarseal test", from, to)};
        WriteFile(root / "my cert.cer", CertPem(other.cert.get()));
        WriteFile(pkg, sample);
        ui.shown.clear();
        ctx.commandLine = pkg;
        EXPECT_EQ(Sign(pkg), kExitFailure);
        ctx.commandLine.clear();
        ASSERT_FALSE(ui.Messages().empty());
        EXPECT_EQ(ui.Messages().back().rfind("Подписанный пакет не будет установлен на телефон:", 0), 0u)
            << ui.Messages().back();
        EXPECT_TRUE(CheckPackageOtherThanJava(pkg).Refused());
    }
}

TEST_F(SymbianFixture, SignsInPlaceAndKeepsTheFirstBackup) {
    const std::string pkg = root / "app.sisx";
    WriteFile(pkg, "unsigned");
    settings.Write("Symbian", "passphrase", "pass with blanks");
    // The stand-in's output is no package: the check after signing says so.
    EXPECT_EQ(Sign(pkg), -1);
    ASSERT_EQ(ui.Messages().size(), 1u);
    EXPECT_EQ(ui.Messages()[0].rfind("Подписанный пакет не будет установлен на телефон:", 0), 0u);
    EXPECT_EQ(ReadFile(pkg), "signed:unsigned");
    EXPECT_EQ(ReadFile(pkg + ".original"), "unsigned");
    EXPECT_EQ(ReadFile(log), pkg + "\n" + pkg + "\n" + root / "my cert.cer" + "\n" + root / "key.key" +
                                 "\npass with blanks\n\n");

    ctx.commandLine = pkg;
    EXPECT_EQ(Sign(pkg), kExitFailure);
    EXPECT_EQ(ReadFile(pkg), "signed:signed:unsigned");
    EXPECT_EQ(ReadFile(pkg + ".original"), "unsigned");
}

TEST_F(SymbianFixture, ToolFailureIsReportedNotCalledDone) {
    const std::string pkg = root / "app.sis";
    WriteFile(pkg, "unsigned");
    ::setenv("FAKE_SIGNSIS_EXIT", "3", 1);
    ctx.commandLine = pkg;
    EXPECT_EQ(Sign(pkg), kExitFailure);
    ASSERT_EQ(ui.Messages().size(), 1u);
    EXPECT_NE(ui.Messages()[0].find("(код 3)"), std::string::npos);
    EXPECT_NE(ui.Messages()[0].find("cannot sign: told to fail"), std::string::npos);
    EXPECT_EQ(ReadFile(pkg), "unsigned");
    EXPECT_EQ(ReadFile(pkg + ".original"), "unsigned");

    ui.shown.clear();
    settings.Write("Symbian", "SignSIS", ""); // nothing can be started
    EXPECT_EQ(Sign(pkg), kExitFailure);
    EXPECT_EQ(ui.Messages()[0].rfind("Не удалось запустить программу подписи", 0), 0u);
}

TEST_F(SymbianFixture, MissingPackageReachesTheToolAndUnwritableBackupIsUnforeseen) {
    ::setenv("FAKE_SIGNSIS_EXIT", "1", 1);
    EXPECT_EQ(Sign(root / "missing.sis"), -1); // the backup is stepped over, the tool complains
    EXPECT_EQ(ui.Messages()[0].rfind("Программа подписи sis файлов завершилась с ошибкой", 0), 0u);

    ui.shown.clear();
    MakeDir(root / "dir.sis.original"); // a folder where the backup goes
    WriteFile(root / "dir.sis", "x");
    // A folder there counts as no backup; copying onto it fails.
    EXPECT_EQ(Sign(root / "dir.sis"), kExitUnforeseen);
    ASSERT_FALSE(ui.Messages().empty());
    EXPECT_EQ(ui.Messages()[0].rfind("Неизвестая ошибка.", 0), 0u);
}
