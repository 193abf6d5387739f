#include "java/JavaPackage.h"
#include "common/Errors.h"
#include "support/FakeSettings.h"
#include "support/JavaFixture.h"
#include "support/ScriptedUi.h"
#include "support/TempDir.h"
#include "support/ZipBuilder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace jarseal;
using namespace jarseal::test;

namespace {

const std::string kManifest = "Manifest-Version: 1.0\r\n"
                              "MIDlet-1: Game, /icon.png, game.Main\r\n"
                              "MIDlet-2: Second, /icon.png, game.Second\r\n"
                              "MIDlet-Name: Game\r\n"
                              "MIDlet-Vendor: Acme\r\n"
                              "MIDlet-Version: 1.0.2\r\n"
                              "MIDlet-Icon: /icon.png\r\n"
                              "MIDlet-Permissions: javax.microedition.io.Connector.http, javax.microedi\r\n"
                              " croedition.io.Connector.socket\r\n"
                              "MicroEdition-Profile: MIDP-2.0\r\n"
                              "MicroEdition-Configuration: CLDC-1.1\r\n"
                              "\r\n";

const std::string kBody = "MIDlet-1: Game, /icon.png, game.Main\r\n"
                          "MIDlet-Name: Game\r\n"
                          "MIDlet-Vendor: Acme\r\n"
                          "MIDlet-Version: 1.0.2\r\n"
                          "MicroEdition-Profile: MIDP-2.0\r\n"
                          "MicroEdition-Configuration: CLDC-1.1\r\n";

// A suite of kManifest with the classes its MIDlets name.
void WriteSuite(const std::string& jar, const std::string& manifest = kManifest) {
    WriteZip(
        jar,
        {{"META-INF/MANIFEST.MF", manifest}, {"game/Main.class", "CAFE"}, {"game/Second.class", "CAFE"}});
}

// The Java job in a fresh program folder without a JAD tool.
struct JavaFixture : ProgramFolderFixture {
    int Run(const std::string& path) { return RunJava(path); }
};

} // namespace

TEST(JavaPaths, DerivedFromEitherFileOfThePair) {
    for (const char* given : {"/apps/game.jad", "/apps/game.jar"}) {
        const JavaPaths p = DeriveJavaPaths(given);
        EXPECT_EQ(p.archive, "/apps/game.jar");
        EXPECT_EQ(p.descriptor, "/apps/game.jad");
        EXPECT_EQ(p.backup, "/apps/game.jad.original");
        EXPECT_EQ(p.archiveFileName, "game.jar");
        EXPECT_EQ(p.descriptorFileName, "game.jad");
        EXPECT_EQ(p.packageFolder, "/apps/");
    }
    const JavaPaths dotted = DeriveJavaPaths("/my.games/v1.2/game.jar");
    EXPECT_EQ(dotted.packageFolder, "/my.games/v1.2/");
    EXPECT_EQ(dotted.descriptor, "/my.games/v1.2/game.jad");
    try {
        DeriveJavaPaths("game.jar");
        FAIL() << "a path without a folder must fail";
    } catch (const RunError& e) {
        EXPECT_EQ(e.Number(), 5);
    }
}

TEST(ManifestScan, TakesOverWholeAttributesAndCollectsPermissions) {
    const ManifestScan scan = ScanManifest(ManifestLines(kManifest));
    EXPECT_EQ(scan.body, kBody);
    EXPECT_EQ(scan.permissionText, "MIDlet-Permissions: javax.microedition.io.Connector.http, "
                                   "javax.microedicroedition.io.Connector.socket\r\n");
}

TEST(ManifestScan, LineEndsOfAnyKindGiveTheSameResult) {
    auto with = [](const std::string& end) {
        std::string s = kManifest, out;
        for (std::size_t i = 0; i < s.size(); ++i) {
            if (s.compare(i, 2, "\r\n") == 0) {
                out += end;
                ++i;
            } else {
                out += s[i];
            }
        }
        return ScanManifest(ManifestLines(out));
    };
    const ManifestScan crlf = with("\r\n"), lf = with("\n"), cr = with("\r");
    EXPECT_EQ(lf.body, crlf.body);
    EXPECT_EQ(cr.body, crlf.body);
    EXPECT_EQ(lf.permissionText, crlf.permissionText);
    EXPECT_EQ(cr.permissionText, crlf.permissionText);
}

TEST(ManifestScan, LongFoldedValuesAreJoinedByteForByte) {
    const std::string text = "MIDlet-Description: A very long description of this game that the jar to\r\n"
                             " ol folded at seventy-two bytes\r\n"
                             "MIDlet-1: Game,/i.png,com.example.averyveryverylongpackagename.subpackag\r\n"
                             " e.Main\r\n";
    const ManifestScan scan = ScanManifest(ManifestLines(text));
    EXPECT_EQ(scan.body,
              "MIDlet-Description: A very long description of this game that the jar tool "
              "folded at seventy-two bytes\r\n"
              "MIDlet-1: Game,/i.png,com.example.averyveryverylongpackagename.subpackage.Main\r\n");
}

TEST(ManifestScan, PermissionFlagAndCaseRules) {
    const std::string text = "MIDlet-Permissions-Opt: javax.microedition.io.Connector.sms\n"
                             "MIDlet-Data-Size: 100\n"
                             "midlet-name: lower case matches nothing\n"
                             "MIDlet-Name: X\n"
                             " stray continuation after a taken-over attribute\n"
                             "MIDlet-Jar-Size: 999\n"
                             "MIDlet-Jar-URL: other.jar\n"
                             "MIDlet-Permissions: a\n";
    const ManifestScan scan = ScanManifest(ManifestLines(text));
    EXPECT_EQ(scan.body, "MIDlet-Name: Xstray continuation after a taken-over attribute\r\n");
    EXPECT_EQ(scan.permissionText, "MIDlet-Permissions-Opt: javax.microedition.io.Connector.sms\r\n"
                                   "MIDlet-Permissions: a\r\n");
    // A continuation line at the very start has no attribute to join and
    // belongs to nothing.
    EXPECT_EQ(ScanManifest(ManifestLines(" lone\r\nMIDlet-Name: Y")).body, "MIDlet-Name: Y\r\n");
}

TEST(FirstDescriptor, ExactBytes) {
    EXPECT_EQ(FirstDescriptor("game.jar", 1234, "MIDlet-Name: G\r\n"),
              "MIDlet-Jar-URL: game.jar\r\nMIDlet-Jar-Size: 1234\r\nMIDlet-Name: G\r\n\r\n");
    EXPECT_EQ(FirstDescriptor("a.jar", 0, ""), "MIDlet-Jar-URL: a.jar\r\nMIDlet-Jar-Size: 0\r\n\r\n");
}

TEST(ClearWorkDir, DeletesOnlyWritableVisibleOrdinaryFiles) {
    TempDir dir;
    const std::string work = dir / "temp";
    MakeDir(work + "/sub");
    WriteFile(work + "/MANIFEST.MF", "m");
    WriteFile(work + "/a.class", "c");
    WriteFile(work + "/.hidden", "h");
    WriteFile(work + "/ro.txt", "r");
    ::chmod((work + "/ro.txt").c_str(), 0444);
    WriteFile(work + "/sub/inner", "i");
    WriteFile(dir / "a.class", "outside");

    ClearWorkDir(work);
    EXPECT_EQ(ListDir(work), (std::vector<std::string>{".hidden", "ro.txt", "sub"}));
    EXPECT_TRUE(Exists(work + "/sub/inner"));
    EXPECT_TRUE(Exists(dir / "a.class"));
    ClearWorkDir(work); // nothing left to do
    ClearWorkDir(dir / "missing");
    EXPECT_EQ(ListDir(work).size(), 3u);
}

TEST_F(JavaFixture, ArchiveAloneGetsAFreshDescriptorAndNoBackup) {
    WriteSuite(apps + "/game.jar");
    const auto size = std::to_string(ReadFile(apps + "/game.jar").size());
    EXPECT_EQ(Run(apps + "/game.jar"), -1);
    EXPECT_EQ(ReadFile(apps + "/game.jad"),
              "MIDlet-Jar-URL: game.jar\r\nMIDlet-Jar-Size: " + size + "\r\n" + kBody + "\r\n");
    EXPECT_FALSE(Exists(apps + "/game.jad.original"));
    EXPECT_TRUE(ListDir(work).empty());
    // Without a JAD tool in this program folder the run stops at signing,
    // leaving the first descriptor as it is.
    ASSERT_EQ(ui.Messages().size(), 1u);
    EXPECT_EQ(ui.Messages()[0].rfind("Не устанвлен дистрибутив Java.", 0), 0u);
}

TEST_F(JavaFixture, BackupIsMadeOnceAndKeepsTheFirstDescriptor) {
    WriteSuite(apps + "/game.jar");
    WriteFile(apps + "/game.jad", "user's own descriptor\r\n");
    Run(apps + "/game.jad");
    Run(apps + "/game.jad");
    EXPECT_EQ(ReadFile(apps + "/game.jad.original"), "user's own descriptor\r\n");
    // Without a JAD tool here both runs fail, and a failed run puts the
    // user's descriptor back as it was.
    EXPECT_EQ(ReadFile(apps + "/game.jad"), "user's own descriptor\r\n");
}

TEST_F(JavaFixture, MissingArchiveIsReportedAfterTheBackup) {
    WriteFile(apps + "/game.jad", "d");
    EXPECT_EQ(Run(apps + "/game.jad"), -1);
    EXPECT_EQ(ui.Messages(), std::vector<std::string>{"jar файл отсутствует."});
    EXPECT_EQ(ui.shown[0].icon, MessageIcon::Information);
    EXPECT_TRUE(Exists(apps + "/game.jad.original"));

    ctx.commandLine = apps + "/game.jad";
    EXPECT_EQ(Run(apps + "/game.jad"), kExitFailure);
}

TEST_F(JavaFixture, DamagedArchiveOrNoManifestIsReportedAndWorkDirEmptied) {
    WriteFile(apps + "/text.jar", "this is not a zip file");
    WriteZip(apps + "/nomanifest.jar", {{"a/readme.txt", "hello"}});
    ctx.commandLine = "x";
    for (const char* name : {"/text.jar", "/nomanifest.jar"}) {
        ui.shown.clear();
        EXPECT_EQ(Run(apps + name), kExitFailure);
        ASSERT_FALSE(ui.Messages().empty());
        EXPECT_EQ(ui.Messages().back(), "jar файл поврежден, или\r\nне является Java приложеним.");
        EXPECT_TRUE(ListDir(work).empty());
    }
}

TEST_F(JavaFixture, StaleManifestInWorkDirIsNeverUsed) {
    WriteFile(work + "/MANIFEST.MF", kManifest);
    WriteZip(apps + "/nomanifest.jar", {{"readme.txt", "hello"}});
    Run(apps + "/nomanifest.jar");
    EXPECT_FALSE(Exists(apps + "/nomanifest.jad"));
    EXPECT_EQ(ui.Messages().back(), "jar файл поврежден, или\r\nне является Java приложеним.");
}

TEST_F(JavaFixture, JobTakesTheManifestEntryTheCheckReads) {
    const std::string rest = "MIDlet-Vendor: Acme\r\nMIDlet-Version: 1.0\r\n";
    WriteZip(apps + "/game.jar", {{"META-INF/MANIFEST.MF", "MIDlet-Name: First\r\n" + rest},
                                  {"other/MANIFEST.MF", "MIDlet-Name: Second\r\n" + rest}});
    Run(apps + "/game.jar");
    EXPECT_NE(ReadFile(apps + "/game.jad").find("MIDlet-Name: First\r\n"), std::string::npos);
}

TEST_F(JavaFixture, UnforeseenFailureEndsTheProgramWithItsNumber) {
    WriteSuite(apps + "/game.jar");
    MakeDir(apps + "/game.jad"); // a folder where the descriptor goes
    EXPECT_EQ(Run(apps + "/game.jar"), kExitUnforeseen);
    ASSERT_EQ(ui.Messages().size(), 1u);
    EXPECT_EQ(ui.Messages()[0].rfind("Неизвестая ошибка.\r\nСообщите разработчику.\r\nОшибка№: ", 0), 0u);
    EXPECT_EQ(ui.shown[0].icon, MessageIcon::Stop);

    ui.shown.clear();
    EXPECT_EQ(Run("game.jar"), kExitUnforeseen);
    EXPECT_EQ(ui.Messages()[0], "Неизвестая ошибка.\r\nСообщите разработчику.\r\nОшибка№: 5");
}

TEST_F(JavaFixture, HiddenFilesAnArchiveBringsAreRemovedAndOlderOnesStay) {
    WriteFile(work + "/.keep", "the folder's own");
    WriteFile(work + "/.unzip-99-0.part", "left by a killed run");
    WriteZip(apps + "/game.jar",
             {{"META-INF/MANIFEST.MF", kManifest}, {"META-INF/.hidden", std::string(4096, 'h')}});
    Run(apps + "/game.jar");
    EXPECT_EQ(ListDir(work), std::vector<std::string>{".keep"});

    WriteZip(apps + "/bad.jar", {{"res/.x", "x"}}); // no manifest: the damaged-archive exit
    Run(apps + "/bad.jar");
    EXPECT_EQ(ListDir(work), std::vector<std::string>{".keep"});
}
