// Faults under the program: folders and files it may not write, a disk that
// fills, a signing tool killed halfway, bad key store settings and broken
// settings files. Whatever fails, the user's files stay whole.
#include "app/StartUp.h"
#include "java/JavaPackage.h"
#include "process/RunAndWait.h"
#include "settings/Ini.h"
#include "settings/IniSettings.h"
#include "support/Child.h"
#include "support/FakeSettings.h"
#include "support/JavaFixture.h"
#include "support/ScriptedUi.h"
#include "support/TempDir.h"
#include "support/ZipBuilder.h"
#include "unzip/RawZip.h"

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace jarseal;
using namespace jarseal::test;

namespace {

const std::string kManifest = "MIDlet-1: Game, /icon.png, game.Main\r\n"
                              "MIDlet-Name: Game\r\n"
                              "MIDlet-Vendor: Acme\r\n"
                              "MIDlet-Version: 1.0\r\n"
                              "MicroEdition-Profile: MIDP-2.0\r\n"
                              "MicroEdition-Configuration: CLDC-1.1\r\n";
const std::string kUsersDescriptor = "MIDlet-Name: Game\r\nMIDlet-Jar-URL: game.jar\r\n";

// A program folder (JAD tool and key store of the build) and a package folder
// holding a suite and the user's own descriptor; everything readable by any
// user, so a child running as "nobody" can work in it.
struct FaultFixture : ProgramFolderFixture {
    FaultFixture() { ctx.commandLine = "x"; }
    void SetUp() override {
        ProgramFolderFixture::SetUp();
        UseBuildSigningTools();
        for (const std::string& dir : {root.path(), program, program + "/data", apps})
            ::chmod(dir.c_str(), 0755);
        ::chmod(work.c_str(), 0777);
        WriteZip(apps + "/game.jar", {{"META-INF/MANIFEST.MF", kManifest}, {"game/Main.class", "CAFEBABE"}});
        WriteFile(apps + "/game.jad", kUsersDescriptor);
        ::chmod((apps + "/game.jar").c_str(), 0644);
        ::chmod((apps + "/game.jad").c_str(), 0644);
    }
    // Runs the Java job on the user's descriptor.
    int Run() { return RunJava(apps + "/game.jad"); }
    void ExpectUsersDescriptorKept() {
        EXPECT_EQ(ReadFile(apps + "/game.jad"), kUsersDescriptor);
        for (const auto& name : ListDir(apps))
            EXPECT_TRUE(name == "game.jar" || name == "game.jad" || name == "game.jad.original") << name;
        if (Exists(apps + "/game.jad.original")) {
            EXPECT_EQ(ReadFile(apps + "/game.jad.original"), kUsersDescriptor);
        }
        EXPECT_TRUE(ListDir(work).empty());
    }
};

// A stand-in for java on the search path that is killed halfway through one
// of its two runs, after writing part of its output.
struct KilledToolFixture : FaultFixture {
    std::string bin = root / "bin";
    std::string oldPath = std::getenv("PATH");
    void SetUp() override {
        FaultFixture::SetUp();
        MakeDir(bin);
        WriteFile(bin + "/java",
                  "#!/bin/sh\n"
                  "in=; out=; prev=\n"
                  "for a in \"$@\"; do\n"
                  "  [ \"$prev\" = -inputjad ] && in=$a\n"
                  "  [ \"$prev\" = -outputjad ] && out=$a\n"
                  "  prev=$a\n"
                  "done\n"
                  "if [ \"$3\" = -addcert ]; then\n"
                  "  if [ \"$KILL_RUN\" = first ]; then printf 'MIDlet-Jar-U' > \"$out\"; kill -9 $$; fi\n"
                  "  cp \"$in\" \"$out\"; printf 'MIDlet-Certificate-1-1: AAAA\\r\\n' >> \"$out\"\n"
                  "else\n"
                  "  if [ \"$KILL_RUN\" = second ]; then printf 'MIDlet-Ja' > \"$out\"; kill -9 $$; fi\n"
                  "  cp \"$in\" \"$out\"\n"
                  "fi\n");
        ::chmod((bin + "/java").c_str(), 0755);
        ::setenv("PATH", (bin + ":" + oldPath).c_str(), 1);
    }
    void TearDown() override {
        ::setenv("PATH", oldPath.c_str(), 1);
        ::unsetenv("KILL_RUN");
    }
};

} // namespace

TEST_F(FaultFixture, PackageFolderWithoutWritePermissionLosesNothing) {
    ::chmod(apps.c_str(), 0555);
    const int status = RunInChild([&] { return Run(); }, {.unprivileged = true});
    ::chmod(apps.c_str(), 0755);
    EXPECT_EQ(status, kExitUnforeseen);
    ExpectUsersDescriptorKept();
    EXPECT_FALSE(Exists(apps + "/game.jad.original"));
}

TEST_F(FaultFixture, DescriptorWithoutWritePermissionIsNotReplaced) {
    ::chmod(apps.c_str(), 0777);
    ::chmod((apps + "/game.jad").c_str(), 0444);
    const int status = RunInChild([&] { return Run(); }, {.unprivileged = true});
    EXPECT_EQ(status, kExitUnforeseen);
    ExpectUsersDescriptorKept();
}

TEST_F(FaultFixture, DiskFillingWhileTheDescriptorIsWrittenKeepsTheOldOne) {
    // Every file the run writes before the descriptor (the backup, the
    // unpacked manifest) is smaller than the limit; the first descriptor, the
    // manifest's lines and two more, is larger.
    const rlim_t limit = kManifest.size() + 10;
    const int status = RunInChild([&] { return Run(); }, {.fileSizeLimit = limit});
    EXPECT_EQ(status, kExitUnforeseen);
    ExpectUsersDescriptorKept();
    EXPECT_EQ(ReadFile(apps + "/game.jad.original"), kUsersDescriptor);
}

TEST_F(FaultFixture, DiskFillingWhileTheSettingsFileIsWrittenKeepsIt) {
    const std::string ini = program + "/Jarseal.ini";
    WriteFile(ini, "[Java]\r\nstorepass=52039871\r\n");
    const int written =
        RunInChild([&] { return static_cast<int>(WriteIni("Java", "keystore", std::string(500, 'k'), ini)); },
                   {.fileSizeLimit = 100});
    EXPECT_EQ(written, 0);
    EXPECT_EQ(ReadFile(ini), "[Java]\r\nstorepass=52039871\r\n");
    EXPECT_EQ(ListDir(program), (std::vector<std::string>{"Jarseal.ini", "data"}));
}

TEST_F(KilledToolFixture, FirstRunKilledHalfwayIsNoResult) {
    ::setenv("KILL_RUN", "first", 1);
    EXPECT_EQ(Run(), kExitFailure);
    ASSERT_EQ(ui.Messages().size(), 1u);
    EXPECT_EQ(ui.Messages()[0].rfind("Не устанвлен дистрибутив Java.", 0), 0u);
    EXPECT_FALSE(Exists(apps + "/temp.jad"));
    EXPECT_EQ(ReadFile(apps + "/game.jad").rfind("MIDlet-Jar-URL: game.jar\r\nMIDlet-Jar-Size: ", 0), 0u);
    EXPECT_EQ(ReadFile(apps + "/game.jad.original"), kUsersDescriptor);
}

TEST_F(KilledToolFixture, SecondRunKilledHalfwayLeavesTheFirstDescriptorWhole) {
    ::setenv("KILL_RUN", "second", 1);
    EXPECT_EQ(Run(), kExitFailure);
    ASSERT_EQ(ui.Messages().size(), 1u);
    EXPECT_EQ(ui.Messages()[0].rfind("Не удалось подписать jar файл", 0), 0u);
    const std::string descriptor = ReadFile(apps + "/game.jad");
    EXPECT_EQ(descriptor.rfind("MIDlet-Jar-URL: game.jar\r\nMIDlet-Jar-Size: ", 0), 0u);
    EXPECT_EQ(descriptor.substr(descriptor.size() - 4), "\r\n\r\n");
    EXPECT_FALSE(Exists(apps + "/temp.jad"));
    EXPECT_EQ(ReadFile(apps + "/game.jad.original"), kUsersDescriptor);
}

TEST_F(FaultFixture, UnknownAliasIsReportedWithTheToolsWords) {
    if (!JavaAvailable())
        GTEST_SKIP() << "java is not on the search path";
    settings.Write("Java", "alias1", "nosuch");
    EXPECT_EQ(Run(), kExitFailure);
    ASSERT_EQ(ui.Messages().size(), 1u);
    EXPECT_EQ(ui.Messages()[0].rfind("Не устанвлен дистрибутив Java.", 0), 0u);
    EXPECT_NE(ui.Messages()[0].find("nosuch"), std::string::npos) << ui.Messages()[0];
    EXPECT_FALSE(Exists(apps + "/temp.jad"));
}

TEST(BrokenSettingsFile, FolderGarbageOrHugeFileNeverStopsTheProgram) {
    if (!JavaAvailable())
        GTEST_SKIP() << "java is not on the search path";
    auto startAndSign = [](const std::string& program, const std::string& apps, ScriptedUi& ui) {
        IniSettings settings(SettingsFilePath(program));
        PermissionPreferences prefs(settings);
        Context ctx{ui, settings, prefs, program, apps + "/game.jar"};
        try {
            StartUp(ctx, prefs, {});
        } catch (const ProgramEnded& e) {
            return e.status;
        }
        return -1;
    };
    auto setUp = [](TempDir& root) {
        MakeDir(root / "prog/data/temp");
        MakeDir(root / "apps");
        ::symlink(JARSEAL_BUILD_DIR "/data/jadtool.jar", (root / "prog/data/jadtool.jar").c_str());
        ::symlink(JARSEAL_BUILD_DIR "/data/key", (root / "prog/data/key").c_str());
        WriteZip(root / "apps/game.jar",
                 {{"META-INF/MANIFEST.MF", kManifest}, {"game/Main.class", "CAFEBABE"}});
    };

    {
        TempDir root;
        setUp(root);
        MakeDir(root / "prog/Jarseal.ini"); // a folder: nothing can be read or stored
        ScriptedUi ui;
        EXPECT_EQ(startAndSign(root / "prog", root / "apps", ui), kExitFailure);
        ASSERT_EQ(ui.Messages().size(), 1u);
        EXPECT_EQ(ui.Messages()[0].rfind("Не устанвлен дистрибутив Java.", 0), 0u);
    }
    {
        TempDir root;
        setUp(root);
        std::string garbage;
        for (int i = 0; i < 4096; ++i)
            garbage += static_cast<char>((i * 7919 + 13) % 256);
        WriteFile(root / "prog/Jarseal.ini", garbage);
        ScriptedUi ui;
        EXPECT_EQ(startAndSign(root / "prog", root / "apps", ui), kExitFailure);
        EXPECT_EQ(ui.Messages().back().rfind("Не устанвлен дистрибутив Java.", 0), 0u);
    }
    {
        // 10 MB of comments, then the signing settings: the job still signs.
        TempDir root;
        setUp(root);
        std::string huge;
        while (huge.size() < 10 * 1024 * 1024)
            huge += "; a comment line that someone's tool left in the settings file\r\n";
        huge += "[Java]\r\nstorepass=52039871\r\nkeypass=52039871\r\nalias1=jsk\r\nalias2=jsk\r\n";
        WriteFile(root / "prog/Jarseal.ini", huge);
        ScriptedUi ui;
        EXPECT_EQ(startAndSign(root / "prog", root / "apps", ui), kExitSuccess);
        EXPECT_EQ(ui.Messages(), std::vector<std::string>{"Готово!"});
        EXPECT_NE(ReadFile(root / "apps/game.jad").find("MIDlet-Jar-RSA-SHA1: "), std::string::npos);
    }
}

namespace {

// A suite whose manifest asks for other permissions than the user grants, so
// the job must rewrite its jar before signing.
struct JarRewriteFaultFixture : FaultFixture {
    std::string jar;
    void SetUp() override {
        FaultFixture::SetUp();
        std::string noise; // does not compress: the jar stays larger than 6000 bytes
        std::uint32_t x = 12345;
        for (int i = 0; i < 6000; ++i) {
            x = x * 1103515245u + 12345u;
            noise += static_cast<char>(x >> 24);
        }
        WriteZip(apps + "/game.jar",
                 {{"META-INF/MANIFEST.MF",
                   kManifest + "MIDlet-Permissions: javax.microedition.io.Connector.sms\r\n"},
                  {"res/noise.bin", noise}});
        ::chmod((apps + "/game.jar").c_str(), 0644);
        jar = ReadFile(apps + "/game.jar");
        permissions.mode = PermissionMode::User;
        permissions.boxes[3] = kBoxChecked; // http
    }
    void ExpectEverythingAsItWas() {
        EXPECT_EQ(ReadFile(apps + "/game.jar"), jar);
        EXPECT_FALSE(Exists(apps + "/game.jar.original"));
        ExpectUsersDescriptorKept();
    }
};

} // namespace

TEST_F(JarRewriteFaultFixture, AJarInAReadOnlyFolderIsLeftAsItWasAndTheMessageSaysWhy) {
    // The descriptor's backup is there from an earlier run: the jar is the
    // first file this run would write.
    WriteFile(apps + "/game.jad.original", kUsersDescriptor);
    ::chmod(apps.c_str(), 0555);
    const int status = RunInChild(
        [&] {
            const int exit = Run();
            return exit == kExitFailure && ui.Messages().size() == 1 &&
                           ui.Messages()[0].find("нет прав на запись") != std::string::npos &&
                           ui.Messages()[0].find("Файлы не изменены") != std::string::npos
                       ? 0
                       : 1;
        },
        {.unprivileged = true});
    ::chmod(apps.c_str(), 0755);
    EXPECT_EQ(status, 0);
    ExpectEverythingAsItWas();
}

TEST_F(JarRewriteFaultFixture, ADiskFillingWhileTheJarIsRewrittenLeavesItAsItWas) {
    // Room for the descriptor's backup, not for a copy of the jar.
    const int status = RunInChild(
        [&] {
            const int exit = Run();
            return exit == kExitFailure && ui.Messages().size() == 1 &&
                           ui.Messages()[0].find("на диске нет места") != std::string::npos
                       ? 0
                       : 1;
        },
        {.fileSizeLimit = 3000});
    EXPECT_EQ(status, 0);
    ExpectEverythingAsItWas();
}

namespace {

// Runs each JAD tool command line as usual, then does something to the
// world: what happens to a job when things change under it.
struct MeddlingTools : ToolRunner {
    int runs = 0;
    std::function<void(int run)> after;
    RunOutput Run(const std::string& commandLine) override {
        RunOutput out = RunAndWaitCapture(commandLine);
        if (after)
            after(++runs);
        return out;
    }
};

} // namespace

TEST_F(JarRewriteFaultFixture, EveryFailureAfterTheRewriteLeavesTheJarAndDescriptorAsTheyWere) {
    if (!JavaAvailable())
        GTEST_SKIP() << "java is not on the search path";
    const std::string emptyBin = root / "nobin";
    MakeDir(emptyBin);
    const std::string path = std::getenv("PATH");
    const std::string users = ReadFile(apps + "/game.jad");
    MeddlingTools tools;
    struct Case {
        const char* what;
        std::function<int()> run; // the job's exit status
    };
    const std::vector<Case> cases = {
        {"no java on the search path",
         [&] {
             ::setenv("PATH", emptyBin.c_str(), 1);
             const int status = Run();
             ::setenv("PATH", path.c_str(), 1);
             return status;
         }},
        {"the tool refuses the key store",
         [&] {
             settings.Write("Java", "storepass", "wrong");
             const int status = Run();
             settings.Write("Java", "storepass", "52039871");
             return status;
         }},
        {"a descriptor without write permission",
         [&] {
             ::chmod(apps.c_str(), 0777);
             ::chmod((apps + "/game.jad").c_str(), 0444);
             const int status = RunInChild([&] { return Run(); }, {.unprivileged = true});
             ::chmod((apps + "/game.jad").c_str(), 0644);
             ::chmod(apps.c_str(), 0755);
             return status;
         }},
        {"the disk fills after the jar was rewritten",
         [&] {
             // After the second tool run not even the descriptor fits any more.
             tools.after = [](int run) {
                 const rlimit lim{100, 100};
                 if (run == 2)
                     ::setrlimit(RLIMIT_FSIZE, &lim);
             };
             ctx.tools = &tools;
             const int status = RunInChild([&] { return Run(); }, {.fileSizeLimit = 1 << 30});
             ctx.tools = nullptr;
             return status;
         }},
        {"the jar is replaced while the tool runs",
         [&] {
             tools.runs = 0;
             tools.after = [&](int run) {
                 if (run == 1)
                     WriteFile(apps + "/game.jar", jar);
             };
             ctx.tools = &tools;
             const int status = Run();
             ctx.tools = nullptr;
             return status;
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ui.shown.clear();
        const int status = c.run();
        EXPECT_NE(status, kExitSuccess);
        EXPECT_EQ(ReadFile(apps + "/game.jar"), jar);
        EXPECT_EQ(ReadFile(apps + "/game.jad"), users);
        EXPECT_FALSE(Exists(apps + "/game.jar.original"));
        // An unforeseen failure leaves temp.jad, which the next run removes.
        for (const auto& name : ListDir(apps))
            EXPECT_TRUE(name == "game.jar" || name == "game.jad" || name == "game.jad.original" ||
                        (name == "temp.jad" && status == kExitUnforeseen))
                << name;
    }
}

TEST_F(JarRewriteFaultFixture, AJarReplacedDuringTheJobIsNeitherRewrittenNorLost) {
    // Replaced while the unzip message is on the screen, after unpacking
    // and before the rewrite.
    rawzip::Builder b;
    b.AddDeflated("META-INF/MANIFEST.MF",
                  kManifest + "MIDlet-Permissions: javax.microedition.io.Connector.sms\r\n");
    b.AddStored("link", "target", rawzip::kLinkAttributes, rawzip::kMadeByUnix); // a warning
    WriteFile(apps + "/game.jar", b.Finish());
    const std::string newVersion = jar; // what the user copies in meanwhile
    ui.onMessage = [&](const std::string&) {
        if (ui.shown.size() == 1)
            WriteFile(apps + "/game.jar", newVersion);
    };
    EXPECT_EQ(Run(), kExitFailure);
    ASSERT_EQ(ui.Messages().size(), 2u);
    EXPECT_NE(ui.Messages()[1].find("изменился"), std::string::npos) << ui.Messages()[1];
    EXPECT_EQ(ReadFile(apps + "/game.jar"), newVersion);
    ExpectUsersDescriptorKept();
    EXPECT_FALSE(Exists(apps + "/game.jar.original"));
}

TEST_F(FaultFixture, NamesWithControlCharactersAndBackupsThatAreNoFilesAreRefused) {
    // A line break in the name would put an attribute into the descriptor.
    const std::string odd = apps + "/a\nMIDlet-Install-Notify: http:x\nx.jar";
    WriteFile(odd, ReadFile(apps + "/game.jar"));
    EXPECT_EQ(RunJava(odd), kExitFailure);
    ASSERT_EQ(ui.Messages().size(), 1u);
    EXPECT_EQ(ui.Messages()[0].rfind("Имя файла содержит управляющие символы", 0), 0u);
    EXPECT_FALSE(Exists(apps + "/a\nMIDlet-Install-Notify: http:x\nx.jad"));

    // A link named as the backup is no backup of the user's descriptor.
    ::unlink(odd.c_str());
    ui.shown.clear();
    ASSERT_EQ(::symlink("game.jad", (apps + "/game.jad.original").c_str()), 0);
    EXPECT_EQ(Run(), kExitFailure);
    ASSERT_EQ(ui.Messages().size(), 1u);
    EXPECT_NE(ui.Messages()[0].find("не является обычным файлом"), std::string::npos) << ui.Messages()[0];
    EXPECT_EQ(ReadFile(apps + "/game.jad"), kUsersDescriptor);
}

TEST_F(FaultFixture, LeftoversOfAKilledRunAreRemovedByTheNext) {
    WriteFile(apps + "/.game.jar.jarseal-Ab12Cd", std::string(5000, 'j'));
    WriteFile(apps + "/.other.jarseal-zzzzzz", "x");
    WriteFile(apps + "/.game.jar.keep", "mine");
    Run();
    EXPECT_FALSE(Exists(apps + "/.game.jar.jarseal-Ab12Cd"));
    EXPECT_FALSE(Exists(apps + "/.other.jarseal-zzzzzz"));
    EXPECT_TRUE(Exists(apps + "/.game.jar.keep"));
}
