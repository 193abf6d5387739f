#include "java/JavaSigning.h"
#include "check/SuiteCheck.h"
#include "support/FakeSettings.h"
#include "support/JavaFixture.h"
#include "support/ScriptedUi.h"
#include "support/Signature.h"
#include "support/TempDir.h"
#include "support/ZipBuilder.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <openssl/x509v3.h>
#include <unistd.h>

using namespace jarseal;
using namespace jarseal::test;

namespace {

const std::string kManifest = "MIDlet-1: Game, /i.png, game.Main\r\n"
                              "MIDlet-Name: Game\r\n"
                              "MIDlet-Vendor: Acme\r\n"
                              "MIDlet-Version: 1.0\r\n"
                              "MicroEdition-Profile: MIDP-2.0\r\n"
                              "MicroEdition-Configuration: CLDC-1.1\r\n"
                              "MIDlet-Permissions: javax.microedition.io.Connector.http, javax.microed\r\n"
                              " ition.io.Connector.socket\r\n"
                              "MIDlet-Permissions-Opt: javax.microedition.io.Connector.sms\r\n";

// A program folder using the build's JAD tool and default key store, and a
// suite to sign.
struct SigningFixture : ProgramFolderFixture {
    void SetUp() override {
        if (!JavaAvailable())
            GTEST_SKIP() << "java is not on the search path";
        ProgramFolderFixture::SetUp();
        UseBuildSigningTools();
        WriteZip(apps + "/game.jar", {{"META-INF/MANIFEST.MF", kManifest}, {"game/Main.class", "CAFEBABE"}});
    }
    int Run() { return RunJava(apps + "/game.jar"); }
    std::string Descriptor() { return ReadFile(apps + "/game.jad"); }
    void ExpectSignatureVerifies() {
        const auto attrs = DescriptorAttributes(Descriptor());
        ASSERT_TRUE(attrs.count("MIDlet-Certificate-1-1"));
        ASSERT_TRUE(attrs.count("MIDlet-Jar-RSA-SHA1"));
        EXPECT_TRUE(VerifySha1RsaSignature(ReadFile(apps + "/game.jar"), attrs.at("MIDlet-Certificate-1-1"),
                                           attrs.at("MIDlet-Jar-RSA-SHA1")));
    }
    std::vector<std::string> Lines() {
        std::vector<std::string> lines;
        const std::string text = Descriptor();
        std::size_t start = 0, end;
        while ((end = text.find("\r\n", start)) != std::string::npos) {
            lines.push_back(text.substr(start, end - start));
            start = end + 2;
        }
        EXPECT_EQ(start, text.size()) << "every line ends in CR LF";
        return lines;
    }
};

} // namespace

TEST(JadToolCommandLines, PlainSettingsGiveTheClassicLinesAndOthersAreQuoted) {
    ScriptedUi ui;
    MemorySettings settings;
    FixedPermissions permissions;
    Context ctx{ui, settings, permissions, "/prog", ""};
    settings.Write("Java", "keystore", "/prog/data/key");
    settings.Write("Java", "storepass", "sp");
    settings.Write("Java", "keypass", "kp");
    settings.Write("Java", "alias1", "a1");
    settings.Write("Java", "alias2", "a2");
    const JavaPaths paths = DeriveJavaPaths("/apps/game.jar");
    EXPECT_EQ(AddCertCommandLine(ctx, paths),
              "java.exe -jar \"/prog/data/jadtool.jar\" -addcert -alias a1 -keystore \"/prog/data/key\" "
              "-storepass sp -inputjad \"/apps/game.jad\" -outputjad \"/apps/temp.jad\"");
    EXPECT_EQ(AddJarSigCommandLine(ctx, paths),
              "java.exe -jar \"/prog/data/jadtool.jar\" -addjarsig -alias a2 -keystore \"/prog/data/key\" "
              "-storepass sp -keypass kp -inputjad \"/apps/temp.jad\" -outputjad \"/apps/game.jad\" "
              "-jarfile \"/apps/game.jar\"");

    settings.Write("Java", "storepass", "two words");
    settings.Write("Java", "alias1", "");
    EXPECT_EQ(AddCertCommandLine(ctx, paths),
              "java.exe -jar \"/prog/data/jadtool.jar\" -addcert -alias \"\" -keystore \"/prog/data/key\" "
              "-storepass \"two words\" -inputjad \"/apps/game.jad\" -outputjad \"/apps/temp.jad\"");
}

TEST_F(SigningFixture, UserModeAppendsTheComposedLineAfterAVerifiedSignature) {
    permissions.mode = PermissionMode::User;
    permissions.boxes[3] = kBoxChecked; // http
    permissions.boxes[0] = kBoxChecked; // read
    permissions.boxes[5] = kBoxGreyed;  // ssl, greyed: not granted
    EXPECT_EQ(Run(), -1);
    EXPECT_EQ(ui.Messages(), std::vector<std::string>{"Готово!"});
    ExpectSignatureVerifies();
    // The suite's manifest asked for other permissions than the user granted;
    // its jar now agrees with the descriptor, so a phone installs it.
    const CheckReport report = CheckJavaSuite(apps + "/game.jad", apps + "/game.jar");
    EXPECT_FALSE(report.Refused()) << report.findings[0].text;
    EXPECT_TRUE(Exists(apps + "/game.jar.original"));
    const auto lines = Lines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "MIDlet-Permissions: javax.microedition.io.Connector.file.read, "
                            "javax.microedition.io.Connector.http");
    EXPECT_EQ(lines[0], "MIDlet-Jar-URL: game.jar");
    EXPECT_FALSE(Exists(apps + "/temp.jad"));
    EXPECT_TRUE(ListDir(program + "/data/temp").empty());
}

TEST_F(SigningFixture, AutomaticModeAppendsTheManifestsOwnPermissionLines) {
    ctx.commandLine = apps + "/game.jar";
    EXPECT_EQ(Run(), kExitSuccess);
    ExpectSignatureVerifies();
    EXPECT_FALSE(CheckJavaSuite(apps + "/game.jad", apps + "/game.jar").Refused());
    const auto lines = Lines();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[lines.size() - 3], "MIDlet-Permissions: javax.microedition.io.Connector.http, "
                                       "javax.microedition.io.Connector.socket");
    EXPECT_EQ(lines[lines.size() - 2], "MIDlet-Permissions-Opt: javax.microedition.io.Connector.sms");
    EXPECT_EQ(lines.back(), "");
}

TEST_F(SigningFixture, UserModeWithoutGrantsWritesNoPermissionLine) {
    permissions.mode = PermissionMode::User;
    Run();
    ExpectSignatureVerifies();
    EXPECT_FALSE(CheckJavaSuite(apps + "/game.jad", apps + "/game.jar").Refused());
    EXPECT_EQ(Descriptor().find("MIDlet-Permissions"), std::string::npos);
    EXPECT_EQ(Descriptor().substr(Descriptor().size() - 2), "\r\n");
}

TEST_F(SigningFixture, StaleTempJadNeverPassesForAFailedFirstRun) {
    WriteFile(apps + "/temp.jad", "MIDlet-Jar-URL: game.jar\r\n");
    settings.Write("Java", "storepass", "wrong");
    ctx.commandLine = "x";
    EXPECT_EQ(Run(), kExitFailure);
    ASSERT_EQ(ui.Messages().size(), 1u);
    EXPECT_EQ(ui.Messages()[0].rfind(kMissingJavaText, 0), 0u);
    EXPECT_FALSE(Exists(apps + "/temp.jad"));
    EXPECT_EQ(Descriptor().rfind("MIDlet-Jar-URL: game.jar\r\nMIDlet-Jar-Size: ", 0), 0u);
    EXPECT_EQ(Descriptor().find("MIDlet-Certificate"), std::string::npos);
}

TEST_F(SigningFixture, FailedSignatureRunIsReportedAndKeepsTheFirstDescriptor) {
    settings.Write("Java", "keypass", "wrong key password");
    ctx.commandLine = "x";
    EXPECT_EQ(Run(), kExitFailure);
    ASSERT_EQ(ui.Messages().size(), 1u);
    EXPECT_EQ(ui.Messages()[0].rfind("Не удалось подписать jar файл", 0), 0u);
    EXPECT_EQ(ui.shown[0].icon, MessageIcon::Stop);
    EXPECT_FALSE(Exists(apps + "/temp.jad"));
    EXPECT_EQ(Descriptor().find("MIDlet-Certificate"), std::string::npos);
    EXPECT_EQ(Descriptor().rfind("MIDlet-Jar-URL: game.jar\r\n", 0), 0u);
}

TEST_F(SigningFixture, MissingJavaLeavesTheFirstDescriptorAndAnEmptyWorkDir) {
    const std::string oldPath = std::getenv("PATH");
    ::setenv("PATH", (root / "nothing-here").c_str(), 1);
    const int status = [&] {
        ctx.commandLine = "x";
        return Run();
    }();
    ::setenv("PATH", oldPath.c_str(), 1);
    EXPECT_EQ(status, kExitFailure);
    EXPECT_EQ(ui.Messages(), std::vector<std::string>{kMissingJavaText});
    EXPECT_EQ(ui.shown[0].icon, MessageIcon::Information);
    EXPECT_EQ(Descriptor().rfind("MIDlet-Jar-URL: game.jar\r\n", 0), 0u);
    EXPECT_TRUE(ListDir(program + "/data/temp").empty());
}

TEST_F(SigningFixture, ASuiteAPhoneWouldRefuseIsAFailureWithTheReason) {
    // No MIDlet-Vendor anywhere: the descriptor lacks a mandatory attribute.
    std::string manifest = kManifest;
    manifest.erase(manifest.find("MIDlet-Vendor: Acme\r\n"), 21);
    WriteZip(apps + "/game.jar", {{"META-INF/MANIFEST.MF", manifest}});
    ctx.commandLine = apps + "/game.jar";
    EXPECT_EQ(Run(), kExitFailure);
    ASSERT_EQ(ui.Messages().size(), 1u);
    EXPECT_EQ(ui.Messages()[0].rfind("Подписанный набор не будет установлен на телефон:\r\n906 ", 0), 0u)
        << ui.Messages()[0];
    EXPECT_NE(ui.Messages()[0].find("descriptor lacks MIDlet-Vendor"), std::string::npos);
    EXPECT_EQ(ui.shown[0].icon, MessageIcon::Stop);
    EXPECT_FALSE(Exists(apps + "/temp.jad"));

    // A NUL in the name: the job refuses the suite, and so does the check of
    // the jar alone.
    const std::string nulName = std::string("MIDlet-Name: Ga\0me", 17);
    manifest = kManifest;
    manifest.replace(manifest.find("MIDlet-Name: Game"), 17, nulName);
    WriteZip(apps + "/game.jar", {{"META-INF/MANIFEST.MF", manifest}, {"game/Main.class", "CAFEBABE"}});
    EXPECT_TRUE(CheckJarOnlySuite(apps + "/game.jar").Refused());
    ui.shown.clear();
    EXPECT_EQ(Run(), kExitFailure);
    ASSERT_EQ(ui.Messages().size(), 1u);
    EXPECT_NE(ui.Messages()[0].find("holds a control character"), std::string::npos) << ui.Messages()[0];
}

TEST_F(SigningFixture, AChainThroughAnIntermediateThatIsNoCAIsAFailure) {
    // The JAD tool signs with what the key store holds; the phone refuses a
    // signer vouched for by a certificate that may not issue others.
    const KeyPtr rootKey = NewKey();
    const KeyPtr midKey = NewKey();
    const KeyPtr key = NewKey();
    const CertPtr rootCert = NewCert("Root", rootKey.get(), "Root", rootKey.get(), -1, 3650,
                                     {{NID_basic_constraints, "critical,CA:TRUE"}});
    const CertPtr mid = NewCert("Mid", midKey.get(), "Root", rootKey.get(), -1, 3650,
                                {{NID_key_usage, "critical,keyCertSign"}});
    const CertPtr signer = NewCert("Signer", key.get(), "Mid", midKey.get(), -1, 3650);
    WritePkcs12(root / "chain.p12", "p12-pw", "signer", key.get(), {signer.get(), mid.get(), rootCert.get()});
    settings.Write("Java", "keystore", root / "chain.p12");
    for (const char* name : {"storepass", "keypass"})
        settings.Write("Java", name, "p12-pw");
    for (const char* name : {"alias1", "alias2"})
        settings.Write("Java", name, "signer");
    ctx.commandLine = apps + "/game.jar";
    EXPECT_EQ(Run(), kExitFailure);
    ASSERT_EQ(ui.Messages().size(), 1u);
    EXPECT_EQ(ui.Messages()[0].rfind("Подписанный набор не будет установлен на телефон:\r\n909 ", 0), 0u)
        << ui.Messages()[0];
    EXPECT_NE(ui.Messages()[0].find("MIDlet-Certificate-1-2 is no CA certificate"), std::string::npos);
    EXPECT_EQ(ui.shown[0].icon, MessageIcon::Stop);
}

TEST_F(SigningFixture, AttributesOnlyTheUsersDescriptorHadAreNamedOrCarriedOver) {
    // As editors and lenient tools leave them: a byte-order mark, a folded
    // value, a value with a NUL in it.
    const std::string users =
        "\xEF\xBB\xBFUnlock-Key: 7F3A-11\r\nMIDlet-Name: Game\r\nMIDlet-Jar-URL: game.jar\r\n"
        "MIDlet-Jar-Size: 1\r\nMIDlet-Install-Notify: http://example.com/\r\n n\r\n" +
        std::string("X-Broken: a\0b\r\n", 15) +
        "MIDlet-Certificate-1-1: stale\r\nMIDlet-Permissions: stale\r\n"
        "MIDlet-Data-Size: 2048\r\nNot\x01Attribute: x\r\n";
    // The manifest's own attributes are the manifest's, whatever the user's
    // descriptor said: a signed suite's descriptor may not differ.
    WriteZip(apps + "/game.jar", {{"META-INF/MANIFEST.MF", kManifest + "MIDlet-Data-Size: 100\r\n"},
                                  {"game/Main.class", "CAFEBABE"}});
    WriteFile(apps + "/game.jad", users);
    ctx.commandLine = apps + "/game.jar";
    ASSERT_EQ(Run(), kExitSuccess) << ui.Messages().back();
    EXPECT_EQ(Descriptor().find("Unlock-Key"), std::string::npos);
    ASSERT_EQ(ui.notes.size(), 2u); // the attributes left out, then the root a phone needs
    EXPECT_EQ(ui.notes[0], "game.jad: атрибуты прежнего дескриптора не перенесены в новый: Unlock-Key, "
                           "MIDlet-Install-Notify (они сохранены в game.jad.original; --keep-jad-attributes "
                           "переносит их)");

    // Carried over, the suite still verifies and installs; the user's stale
    // certificate and permissions never come back.
    ctx.keepDescriptorAttributes = true;
    ui.notes.clear();
    ASSERT_EQ(Run(), kExitSuccess) << ui.Messages().back();
    const auto attrs = DescriptorAttributes(Descriptor());
    EXPECT_EQ(attrs.at("Unlock-Key"), "7F3A-11");
    EXPECT_EQ(attrs.at("MIDlet-Install-Notify"), "http://example.com/n");
    EXPECT_NE(attrs.at("MIDlet-Certificate-1-1"), "stale");
    EXPECT_EQ(Descriptor().find("stale"), std::string::npos);
    EXPECT_EQ(attrs.count("MIDlet-Data-Size"), 0u);
    ExpectSignatureVerifies();
    EXPECT_FALSE(CheckJavaSuite(apps + "/game.jad", apps + "/game.jar").Refused());
    EXPECT_EQ(ui.notes.size(), 1u);
}
