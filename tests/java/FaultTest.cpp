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
#include "symbian/SymbianPackage.h"
#include "unzip/RawZip.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
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
    // Runs the job in a child under those limits: true when it failed as
    // foreseen with one message holding every one of the texts.
    bool FailsSaying(const std::vector<std::string>& texts, const ChildLimits& limits) {
        return RunInChild(
                   [&] {
                       const int exit = Run();
                       if (exit != kExitFailure || ui.Messages().size() != 1)
                           return 1;
                       for (const std::string& text : texts)
                           if (ui.Messages()[0].find(text) == std::string::npos)
                               return 1;
                       return 0;
                   },
                   limits) == 0;
    }
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
    // Another user's read-only descriptor in a shared folder: it can be
    // neither linked nor kept as a copy of the same owner, so the job stops
    // before it changes anything.
    ::chmod(apps.c_str(), 0777);
    ::chmod((apps + "/game.jad").c_str(), 0444);
    const bool failed = FailsSaying({"принадлежит другому пользователю"}, {.unprivileged = true});
    EXPECT_TRUE(failed);
    ExpectUsersDescriptorKept();
}

TEST_F(FaultFixture, DiskFillingWhileTheDescriptorIsWrittenKeepsTheOldOne) {
    // Every file the run writes before the descriptor (the backup, the
    // unpacked manifest) is smaller than the limit; the first descriptor, the
    // manifest's lines and two more, is larger.
    const rlim_t limit = kManifest.size() + 10;
    const bool failed = FailsSaying({"на диске нет места"}, {.fileSizeLimit = limit});
    EXPECT_TRUE(failed);
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
    EXPECT_EQ(ReadFile(apps + "/game.jad"), kUsersDescriptor);
    EXPECT_EQ(ReadFile(apps + "/game.jad.original"), kUsersDescriptor);
}

TEST_F(KilledToolFixture, SecondRunKilledHalfwayLeavesTheFirstDescriptorWhole) {
    ::setenv("KILL_RUN", "second", 1);
    EXPECT_EQ(Run(), kExitFailure);
    ASSERT_EQ(ui.Messages().size(), 1u);
    EXPECT_EQ(ui.Messages()[0].rfind("Не удалось подписать jar файл", 0), 0u);
    EXPECT_EQ(ReadFile(apps + "/game.jad"), kUsersDescriptor);
    EXPECT_FALSE(Exists(apps + "/temp.jad"));
    EXPECT_EQ(ReadFile(apps + "/game.jad.original"), kUsersDescriptor);
}

TEST_F(FaultFixture, EachKeyStoreFaultIsNamedAndTheUsersFilesStay) {
    if (!JavaAvailable())
        GTEST_SKIP() << "java is not on the search path";
    struct Case {
        const char* key;
        std::string value;
        const char* message;
    };
    const std::vector<Case> cases = {
        {"keystore", root / "nosuch.ks", "Файл хранилища ключей не найден или не является хранилищем ключей"},
        {"keystore", apps + "/game.jar", "Файл хранилища ключей не найден или не является хранилищем ключей"},
        {"storepass", "wrong", "Неверный пароль хранилища ключей (storepass)."},
        {"alias1", "nosuch", "В хранилище ключей нет ключа с псевдонимом (alias1) \"nosuch\"."},
        {"alias2", "nosuch", "В хранилище ключей нет ключа с псевдонимом (alias2) \"nosuch\"."},
        {"keypass", "wrong", "Неверный пароль ключа (keypass) для псевдонима \"jsk\"."},
    };
    const std::string jar = ReadFile(apps + "/game.jar");
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.key) + "=" + c.value);
        const std::string usual = settings.Read("Java", c.key);
        settings.Write("Java", c.key, c.value);
        ui.shown.clear();
        EXPECT_EQ(Run(), kExitFailure);
        settings.Write("Java", c.key, usual);
        ASSERT_EQ(ui.Messages().size(), 1u);
        EXPECT_EQ(ui.Messages()[0].rfind(c.message, 0), 0u) << ui.Messages()[0];
        EXPECT_NE(ui.Messages()[0].find("Java signing: what it needs"), std::string::npos);
        EXPECT_EQ(ui.Messages()[0].find("Не устанвлен дистрибутив Java"), std::string::npos);
        EXPECT_EQ(ui.shown[0].icon, MessageIcon::Information);
        ExpectUsersDescriptorKept();
        EXPECT_EQ(ReadFile(apps + "/game.jar"), jar);
        EXPECT_FALSE(Exists(apps + "/temp.jad"));
    }
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
        EXPECT_EQ(ui.Messages()[0].rfind("Файл хранилища ключей не найден", 0), 0u) << ui.Messages()[0];
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
        EXPECT_EQ(ui.Messages().back().rfind("Неверный пароль хранилища ключей", 0), 0u)
            << ui.Messages().back();
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
                  {"game/Main.class", "CAFEBABE"},
                  {"res/noise.bin", noise}});
        ::chmod((apps + "/game.jar").c_str(), 0644);
        jar = ReadFile(apps + "/game.jar");
        permissions.mode = PermissionMode::User;
        permissions.boxes[3] = kBoxChecked; // http
    }
    // The user's change of the jar at each step of a job, in each way, is
    // what stays; the job fails and leaves the descriptor as it was.
    void ExpectEveryChangeOfTheJarToStay();
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
    const bool failed = FailsSaying({"нет прав на запись", "Файлы не изменены"}, {.unprivileged = true});
    ::chmod(apps.c_str(), 0755);
    EXPECT_TRUE(failed);
    ExpectEverythingAsItWas();
}

TEST_F(JarRewriteFaultFixture, ADiskFillingWhileTheJarIsRewrittenLeavesItAsItWas) {
    // Room for the descriptor's backup, not for a copy of the jar.
    const bool failed = FailsSaying({"на диске нет места"}, {.fileSizeLimit = 3000});
    EXPECT_TRUE(failed);
    ExpectEverythingAsItWas();
}

namespace {

// Runs each JAD tool command line as usual, then does something to the
// world: what happens to a job when things change under it.
struct MeddlingTools : ToolRunner {
    int runs = 0;
    std::function<void(int run)> before;
    std::function<void(int run)> after;
    RunOutput Run(const std::string& commandLine) override {
        ++runs;
        if (before)
            before(runs);
        RunOutput out = RunAndWaitCapture(commandLine);
        if (after)
            after(runs);
        return out;
    }
};

} // namespace

TEST_F(JarRewriteFaultFixture, EveryFailureAfterTheFirstDescriptorLeavesTheJarAndDescriptorAsTheyWere) {
    if (!JavaAvailable())
        GTEST_SKIP() << "java is not on the search path";
    const std::string emptyBin = root / "nobin";
    MakeDir(emptyBin);
    const std::string path = std::getenv("PATH");
    MeddlingTools tools;
    // A manifest that names no configuration: only the check after signing
    // finds that the descriptor lacks it.
    std::string noConfiguration = kManifest + "MIDlet-Permissions: javax.microedition.io.Connector.sms\r\n";
    noConfiguration.erase(noConfiguration.find("MicroEdition-Configuration"), 38);
    const std::string refusedJar = [&] {
        WriteZip(apps + "/refused.jar",
                 {{"META-INF/MANIFEST.MF", noConfiguration}, {"game/Main.class", "C"}});
        const std::string bytes = ReadFile(apps + "/refused.jar");
        ::unlink((apps + "/refused.jar").c_str());
        return bytes;
    }();
    struct Case {
        const char* what;
        std::function<int()> run; // the job's exit status
        bool refusedSuite = false;
    };
    const auto withSetting = [&](const char* key, const char* value, const char* usual) {
        settings.Write("Java", key, value);
        const int status = Run();
        settings.Write("Java", key, usual);
        return status;
    };
    const std::vector<Case> cases = {
        {"no java on the search path",
         [&] {
             ::setenv("PATH", emptyBin.c_str(), 1);
             const int status = Run();
             ::setenv("PATH", path.c_str(), 1);
             return status;
         }},
        {"a wrong store password", [&] { return withSetting("storepass", "wrong", "52039871"); }},
        {"an unknown alias", [&] { return withSetting("alias2", "nosuch", "jsk"); }},
        {"a descriptor without write permission",
         [&] {
             // The user's own files in a folder all may write; the signed
             // descriptor turns read-only before the permissions are added.
             ::chmod(apps.c_str(), 0777);
             for (const std::string& name : ListDir(apps))
                 ::chown((apps + "/" + name).c_str(), 65534, 65534);
             tools.after = [&](int run) {
                 if (run == 2)
                     ::chmod((apps + "/game.jad").c_str(), 0444);
             };
             ctx.tools = &tools;
             const int status = RunInChild([&] { return Run(); }, {.unprivileged = true});
             ::chmod(apps.c_str(), 0755);
             ctx.tools = nullptr;
             tools.after = nullptr;
             return status;
         }},
        {"the disk fills after signing",
         [&] {
             tools.after = [](int run) {
                 const rlimit lim{100, 100};
                 if (run == 2)
                     ::setrlimit(RLIMIT_FSIZE, &lim);
             };
             ctx.tools = &tools;
             const int status = RunInChild([&] { return Run(); }, {.fileSizeLimit = 1 << 30});
             ctx.tools = nullptr;
             tools.after = nullptr;
             return status;
         }},
        {"the check refuses the signed suite", [&] { return Run(); }, true},
    };
    for (const bool rewrite : {true, false}) {
        // The manifest's own permission line agrees with the manifest: the
        // jar stays, and the line is still added after signing.
        permissions.mode = rewrite ? PermissionMode::User : PermissionMode::Automatic;
        for (const bool earlierBackup : {false, true}) {
            for (const Case& c : cases) {
                SCOPED_TRACE(std::string(c.what) + (rewrite ? ", jar rewritten" : "") +
                             (earlierBackup ? ", an earlier game.jad.original" : ""));
                const std::string suite = c.refusedSuite ? refusedJar : jar;
                WriteFile(apps + "/game.jar", suite);
                ::chmod((apps + "/game.jar").c_str(), 0666);
                ::unlink((apps + "/game.jad.original").c_str());
                ::unlink((apps + "/temp.jad").c_str());
                if (earlierBackup)
                    WriteFile(apps + "/game.jad.original", "the first descriptor of all\r\n");
                WriteFile(apps + "/game.jad", kUsersDescriptor);
                ::chmod((apps + "/game.jad").c_str(), 0666);
                ui.shown.clear();
                const int status = c.run();
                EXPECT_NE(status, kExitSuccess);
                EXPECT_EQ(ReadFile(apps + "/game.jar"), suite);
                EXPECT_EQ(ReadFile(apps + "/game.jad"), kUsersDescriptor);
                EXPECT_EQ(ReadFile(apps + "/game.jad.original"),
                          earlierBackup ? "the first descriptor of all\r\n" : kUsersDescriptor);
                EXPECT_FALSE(Exists(apps + "/game.jar.original"));
                // An unforeseen failure leaves temp.jad, which the next run removes.
                for (const auto& name : ListDir(apps))
                    EXPECT_TRUE(name == "game.jar" || name == "game.jad" || name == "game.jad.original" ||
                                (name == "temp.jad" && status == kExitUnforeseen))
                        << name;
            }
        }
    }
}

void JarRewriteFaultFixture::ExpectEveryChangeOfTheJarToStay() {
    const std::string path = apps + "/game.jar";
    WriteZip(apps + "/other.jar", {{"META-INF/MANIFEST.MF", kManifest + "X-Other: yes\r\n"},
                                   {"game/Main.class", std::string(5000, 'o')}});
    const std::string other = ReadFile(apps + "/other.jar");
    ::unlink((apps + "/other.jar").c_str());
    struct Change {
        const char* what;
        std::function<void()> apply;
    };
    const std::vector<Change> changes = {
        {"renamed over",
         [&] {
             WriteFile(path + ".new", other);
             ASSERT_EQ(std::rename((path + ".new").c_str(), path.c_str()), 0);
         }},
        {"written in place with other bytes",
         [&] {
             const int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC);
             ASSERT_GE(fd, 0);
             ASSERT_EQ(::write(fd, other.data(), other.size()), static_cast<ssize_t>(other.size()));
             ::close(fd);
         }},
        {"truncated", [&] { ASSERT_EQ(::truncate(path.c_str(), 1000), 0); }},
        {"appended to",
         [&] {
             const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND);
             ASSERT_GE(fd, 0);
             ASSERT_EQ(::write(fd, "tail", 4), 4);
             ::close(fd);
         }},
    };
    enum class Step { Unpacking, BeforeTheRewrite, FirstToolRun, SecondToolRun, AfterSigning };
    const std::vector<std::pair<Step, const char*>> steps = {
        {Step::Unpacking, "before unpacking"},
        {Step::BeforeTheRewrite, "between the backup and the rewrite"},
        {Step::FirstToolRun, "during the first tool run"},
        {Step::SecondToolRun, "during the second tool run"},
        {Step::AfterSigning, "after signing"},
    };
    MeddlingTools tools;
    ctx.tools = &tools;
    for (const bool rewrite : {true, false}) {
        permissions.mode = rewrite ? PermissionMode::User : PermissionMode::Neither;
        for (const auto& [step, when] : steps) {
            for (const Change& change : changes) {
                SCOPED_TRACE(std::string(change.what) + " " + when + (rewrite ? ", jar rewritten" : ""));
                WriteFile(path, jar);
                WriteFile(apps + "/game.jad", kUsersDescriptor);
                ::unlink((apps + "/game.jar.original").c_str());
                ::unlink((apps + "/game.jad.original").c_str());
                std::string usersVersion;
                const auto meddle = [&] {
                    change.apply();
                    usersVersion = ReadFile(path);
                };
                ctx.onJavaStep = [&](Context::JavaStep at) {
                    if ((at == Context::JavaStep::Unpacking && step == Step::Unpacking) ||
                        (at == Context::JavaStep::RewritingJar && step == Step::BeforeTheRewrite) ||
                        (at == Context::JavaStep::Checking && step == Step::AfterSigning))
                        meddle();
                };
                tools.runs = 0;
                tools.before = [&](int run) {
                    if ((run == 1 && step == Step::FirstToolRun) || (run == 2 && step == Step::SecondToolRun))
                        meddle();
                };
                ui.shown.clear();
                EXPECT_EQ(Run(), kExitFailure);
                ASSERT_FALSE(ui.Messages().empty());
                const std::string message = ui.Messages().back();
                EXPECT_TRUE(message.find("изменился") != std::string::npos ||
                            message == "jar файл поврежден, или\r\nне является Java приложеним.")
                    << message;
                EXPECT_FALSE(usersVersion.empty());
                EXPECT_EQ(ReadFile(path), usersVersion);
                EXPECT_EQ(ReadFile(apps + "/game.jad"), kUsersDescriptor);
                EXPECT_FALSE(Exists(apps + "/game.jar.original"));
                for (const auto& name : ListDir(apps))
                    EXPECT_TRUE(name == "game.jar" || name == "game.jad" || name == "game.jad.original")
                        << name;
            }
        }
    }
    ctx.tools = nullptr;
    ctx.onJavaStep = nullptr;
}

TEST_F(JarRewriteFaultFixture, AJarChangedAtAnyStepOfTheJobIsTheOneThatStays) {
    if (!JavaAvailable())
        GTEST_SKIP() << "java is not on the search path";
    ExpectEveryChangeOfTheJarToStay();
}

namespace {

// A memory card: an exFAT image mounted through FUSE, as phones and card
// readers format them. Names cannot be exchanged there, links are refused,
// permission bits are ignored and times tick in whole seconds.
struct MemoryCardFixture : JarRewriteFaultFixture {
    std::string image = root / "card.img";
    std::string card = root / "card";
    std::string loop;
    bool mounted = false;
    MemoryCardFixture() { apps = card + "/apps"; }
    void SetUp() override {
        if (!JavaAvailable())
            GTEST_SKIP() << "java is not on the search path";
        if (::geteuid() != 0)
            GTEST_SKIP() << "mounting an image needs root";
        MakeDir(card);
        const RunOutput made = RunAndWaitCapture("sh -c \"truncate -s 48M '" + image + "' && mkfs.exfat '" +
                                                 image + "' && losetup -f --show '" + image + "'\"");
        if (made.exitCode != 0)
            GTEST_SKIP() << "no exFAT image to be had: " << made.output;
        loop = made.output.substr(made.output.rfind("/dev/"));
        while (!loop.empty() && (loop.back() == '\n' || loop.back() == '\r'))
            loop.pop_back();
        const RunOutput mount = RunAndWaitCapture("mount.exfat-fuse " + loop + " \"" + card + "\"");
        if (mount.exitCode != 0)
            GTEST_SKIP() << "the exFAT image cannot be mounted here: " << mount.output;
        mounted = true;
        JarRewriteFaultFixture::SetUp();
    }
    void TearDown() override {
        JarRewriteFaultFixture::TearDown();
        if (mounted)
            RunAndWaitCapture("umount \"" + card + "\"");
        if (!loop.empty())
            RunAndWaitCapture("losetup -d " + loop);
    }
};

} // namespace

TEST_F(MemoryCardFixture, OnAMemoryCardAJarChangedAtAnyStepStaysAndAJobSucceeds) {
    // Nothing the card cannot do: a job with a rewrite signs there.
    ASSERT_EQ(Run(), kExitSuccess) << (ui.Messages().empty() ? "" : ui.Messages().back());
    EXPECT_EQ(ui.Messages().back(), "Готово!");
    EXPECT_NE(ReadFile(apps + "/game.jar"), jar);
    EXPECT_EQ(ReadFile(apps + "/game.jar.original"), jar);
    for (const auto& name : ListDir(apps))
        EXPECT_TRUE(name == "game.jar" || name == "game.jad" || name == "game.jad.original" ||
                    name == "game.jar.original")
            << name;
    ::unlink((apps + "/game.jar.original").c_str());
    ExpectEveryChangeOfTheJarToStay();

    // A Symbian package signs there too, with the bundled signing program
    // and the build's own pair.
    ::symlink(JARSEAL_SIGNSIS, (program + "/data/signsis").c_str());
    settings.Write("Symbian", "SignSIS", "");
    settings.Write("Symbian", "certificate", JARSEAL_BUILD_DIR "/data/symbian.cer");
    settings.Write("Symbian", "key", JARSEAL_BUILD_DIR "/data/symbian.key");
    settings.Write("Symbian", "passphrase", "52039871");
    const std::string sis = apps + "/sample.sis";
    WriteFile(sis, ReadFile(JARSEAL_BUILD_DIR "/sample/sample.sis"));
    ui.shown.clear();
    int status = -1;
    try {
        SignSymbianPackage(ctx, sis);
    } catch (const ProgramEnded& e) {
        status = e.status;
    }
    EXPECT_EQ(status, kExitSuccess) << (ui.Messages().empty() ? "" : ui.Messages().back());
    EXPECT_NE(ReadFile(sis), ReadFile(JARSEAL_BUILD_DIR "/sample/sample.sis"));
    EXPECT_EQ(ReadFile(sis + ".original"), ReadFile(JARSEAL_BUILD_DIR "/sample/sample.sis"));
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
