#include "java/JavaSigning.h"
#include "app/Intake.h"
#include "check/SuiteCheck.h"
#include "support/FakeSettings.h"
#include "support/JavaFixture.h"
#include "support/ScriptedUi.h"
#include "support/Signature.h"
#include "support/TempDir.h"
#include "support/ZipBuilder.h"
#include "unzip/RawZip.h"

#include <cstdlib>
#include <functional>
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
    EXPECT_EQ(ui.Messages()[0].rfind("Неверный пароль хранилища ключей", 0), 0u) << ui.Messages()[0];
    EXPECT_FALSE(Exists(apps + "/temp.jad"));
    EXPECT_EQ(Descriptor().rfind("MIDlet-Jar-URL: game.jar\r\nMIDlet-Jar-Size: ", 0), 0u);
    EXPECT_EQ(Descriptor().find("MIDlet-Certificate"), std::string::npos);
}

TEST_F(SigningFixture, FailedSignatureRunIsReportedAndKeepsTheFirstDescriptor) {
    settings.Write("Java", "keypass", "wrong key password");
    ctx.commandLine = "x";
    EXPECT_EQ(Run(), kExitFailure);
    ASSERT_EQ(ui.Messages().size(), 1u);
    EXPECT_EQ(ui.Messages()[0].rfind("Неверный пароль ключа (keypass)", 0), 0u) << ui.Messages()[0];
    EXPECT_EQ(ui.shown[0].icon, MessageIcon::Information);
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

TEST_F(SigningFixture, WhatTheJarAloneShowsIsRefusedBeforeAnythingIsWritten) {
    std::string noVendor = kManifest;
    noVendor.erase(noVendor.find("MIDlet-Vendor: Acme\r\n"), 21);
    const std::string cls = "CAFEBABE";
    struct Case {
        const char* what;
        std::function<std::string()> jar;
        const char* reason;
    };
    const std::vector<Case> cases = {
        {"no class for MIDlet-1",
         [&] {
             rawzip::Builder b;
             b.AddDeflated("META-INF/MANIFEST.MF", kManifest);
             return b.Finish();
         },
         "the jar has no game/Main.class"},
        {"no MIDlet-Vendor",
         [&] {
             rawzip::Builder b;
             b.AddDeflated("META-INF/MANIFEST.MF", noVendor);
             b.AddStored("game/Main.class", cls);
             return b.Finish();
         },
         "manifest lacks MIDlet-Vendor"},
        {"an entry with a bad CRC",
         [&] {
             rawzip::Builder b;
             b.AddDeflated("META-INF/MANIFEST.MF", kManifest);
             b.Add({"game/Main.class", rawzip::kStored, rawzip::Crc(cls) ^ 1u, cls.size(), cls.size()}, cls);
             return b.Finish();
         },
         "game/Main.class"},
        {"a sound entry larger than the unzip inflates",
         [&] {
             std::uint32_t crc = 0;
             const std::uint64_t size = (64ull << 20) + 1;
             const std::string packed = rawzip::DeflateRepeated(size, std::string(1, '\0'), crc);
             rawzip::Builder b;
             b.AddDeflated("META-INF/MANIFEST.MF", kManifest);
             b.AddStored("game/Main.class", cls);
             b.Add({"res/huge.bin", rawzip::kDeflated, crc, packed.size(), size}, packed);
             return b.Finish();
         },
         "res/huge.bin: larger than the 64 MiB Jarseal unpacks of one entry"},
        {"a NUL in MIDlet-Name",
         [&] {
             std::string nulName = kManifest;
             nulName.replace(nulName.find("MIDlet-Name: Game"), 17, std::string("MIDlet-Name: Ga\0me", 17));
             rawzip::Builder b;
             b.AddDeflated("META-INF/MANIFEST.MF", nulName);
             b.AddStored("game/Main.class", cls);
             return b.Finish();
         },
         "holds a control character"},
        {"a manifest named otherwise in its local header",
         [&] {
             rawzip::Builder b;
             const rawzip::Header h{"META-INF/MANIFEST.MF", rawzip::kStored, rawzip::Crc(kManifest),
                                    kManifest.size(), kManifest.size()};
             rawzip::Header local = h;
             local.name = "META-INF/manifest.mf";
             b.AddCentral(h, b.AddLocal(local, kManifest));
             b.AddStored("game/Main.class", cls);
             return b.Finish();
         },
         "otherwise in its local header"},
    };
    ctx.commandLine = "x";
    for (const bool usersDescriptor : {false, true}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.what) + (usersDescriptor ? ", with the user's descriptor" : ""));
            for (const std::string& name : ListDir(apps))
                ::unlink((apps + "/" + name).c_str());
            WriteFile(apps + "/game.jar", c.jar());
            if (usersDescriptor)
                WriteFile(apps + "/game.jad", "MIDlet-Name: Game\r\n");
            const auto before = ListDir(apps);
            ui.shown.clear();
            EXPECT_EQ(Run(), kExitFailure);
            ASSERT_FALSE(ui.Messages().empty());
            const std::string message = ui.Messages().back();
            EXPECT_EQ(message.rfind("Набор не подписан: телефон его не установит.\r\n907 ", 0), 0u)
                << message;
            EXPECT_NE(message.find(c.reason), std::string::npos) << message;
            EXPECT_EQ(ui.shown.back().icon, MessageIcon::Stop);
            EXPECT_EQ(ListDir(apps), before);
            EXPECT_EQ(ReadFile(apps + "/game.jar"), c.jar());
            if (usersDescriptor) {
                EXPECT_EQ(ReadFile(apps + "/game.jad"), "MIDlet-Name: Game\r\n");
            }
        }
    }
    // What the check says of the last one, as an installer reading the jar
    // as a stream would.
    ::unlink((apps + "/game.jad").c_str());
    const CheckReport report = CheckPackage(apps + "/game.jar");
    EXPECT_TRUE(report.Has(InstallerStatus::InvalidJar)) << report.Verdict();
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
        "midlet-jar-url: stale.jar\r\nMIDLET-PERMISSIONS-OPT: stale\r\nmidlet-data-size: stale\r\n"
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
    EXPECT_EQ(Descriptor().find("stale"), std::string::npos); // also as other letter cases
    EXPECT_EQ(attrs.count("MIDlet-Data-Size"), 0u);
    ExpectSignatureVerifies();
    EXPECT_FALSE(CheckJavaSuite(apps + "/game.jad", apps + "/game.jar").Refused());
    EXPECT_EQ(ui.notes.size(), 1u);
}
