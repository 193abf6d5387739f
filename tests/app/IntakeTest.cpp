#include "app/Intake.h"
#include "support/FakeSettings.h"
#include "support/ScriptedUi.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <unistd.h>

using namespace jarseal;
using namespace jarseal::test;

namespace {

const std::string kRefusal = "Только jar, jad\r\nsis или sisx файлы";
const std::string kNoArchive = "jar файл отсутствует.";

struct IntakeFixture : ::testing::Test {
    TempDir root;
    ScriptedUi ui;
    MemorySettings settings;
    FixedPermissions permissions;
    Context ctx{ui, settings, permissions, root.path(), ""};

    // What OpenPackage did with a path: the messages shown, and the exit
    // status when it ended the program (-1 when it did not).
    std::pair<std::vector<std::string>, int> Open(const std::string& path) {
        ui.shown.clear();
        int status = -1;
        try {
            OpenPackage(ctx, path);
        } catch (const ProgramEnded& e) {
            status = e.status;
        }
        return {ui.Messages(), status};
    }
};

} // namespace

TEST(PackageExtension, TakesTheLastDotOfTheWholePath) {
    EXPECT_EQ(PackageExtension("/a/game.jar"), ".jar");
    EXPECT_EQ(PackageExtension("/a/game.jar.bak"), ".bak");
    EXPECT_EQ(PackageExtension("/games.old/readme"), ".old/readme");
    EXPECT_EQ(PackageExtension("\"/My Files/x.jar\""), ".jar\"");
    EXPECT_EQ(PackageExtension("/a/readme"), "");
}

TEST_F(IntakeFixture, DispatchesByExactExtension) {
    // A missing archive shows the Java job's own message, so it tells that the
    // path went to the Java job.
    EXPECT_EQ(Open(root / "game.jar").first, std::vector<std::string>{kNoArchive});
    EXPECT_EQ(Open(root / "game.jad").first, std::vector<std::string>{kNoArchive});
    for (const char* refused : {"game.JAR", "game.Jad", "game.jar.bak", "notes.txt", "readme"}) {
        const auto [messages, status] = Open(root / refused);
        EXPECT_EQ(messages, std::vector<std::string>{kRefusal}) << refused;
        EXPECT_EQ(ui.shown.back().icon, MessageIcon::Stop);
        EXPECT_EQ(status, -1) << "started without an argument the window stays";
    }
    EXPECT_NE(Open(root / "app.sis").first, std::vector<std::string>{kRefusal});
    EXPECT_NE(Open(root / "app.sisx").first, std::vector<std::string>{kRefusal});
}

TEST_F(IntakeFixture, RefusalEndsAProgramStartedWithAnArgument) {
    ctx.commandLine = "/a/readme";
    EXPECT_EQ(Open("/a/notes.txt").second, kExitFailure);
    EXPECT_EQ(Open("\"/My Files/x.jar\"").second, kExitFailure);
}

TEST_F(IntakeFixture, OpenCommandShowsTheDialogAndCancelDoesNothing) {
    OpenCommand(ctx);
    ASSERT_EQ(ui.shown.size(), 1u);
    EXPECT_EQ(ui.shown[0].kind, "open");
    EXPECT_EQ(ui.shown[0].title, "Выберите java приложение");
    const std::vector<FileFilter> filters{{"Java приложения (*.jad; *.jar)", "*.jad; *.jar"},
                                          {"Symbian приложения (*.sis; *.sisx)", "*.sis; *.sisx"},
                                          {"Все файлы", "*.*"}};
    EXPECT_EQ(ui.shown[0].filters, filters);

    ui.openPaths = {root / "notes.txt"};
    OpenCommand(ctx);
    EXPECT_EQ(ui.Messages(), std::vector<std::string>{kRefusal});
}

TEST_F(IntakeFixture, DropOpensOnlyTheFirstFile) {
    DropFiles(ctx, {root / "a.txt", root / "b.jar", root / "c.jar"});
    EXPECT_EQ(ui.Messages(), std::vector<std::string>{kRefusal});
    ui.shown.clear();
    DropFiles(ctx, {});
    EXPECT_TRUE(ui.shown.empty());
}

TEST_F(IntakeFixture, CommandLineTextIsTrimmedAndMadeAbsolute) {
    const char* argv[] = {"jarseal", "My", "game.jar"};
    EXPECT_EQ(CommandLineText(3, argv), "My game.jar");
    EXPECT_EQ(CommandLineText(1, argv), "");

    ctx.commandLine = "   ";
    OpenCommandLinePackage(ctx); // blanks only: nothing is opened
    EXPECT_TRUE(ui.shown.empty());
    ctx.commandLine = "  readme  ";
    OpenCommandLinePackage(ctx); // no extension: ignored at start-up
    EXPECT_TRUE(ui.shown.empty());

    // A bare name typed in a terminal is found in the current folder.
    char cwd[4096];
    ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(::chdir(root.path().c_str()), 0);
    ctx.commandLine = " game.jar ";
    int status = -1;
    try {
        OpenCommandLinePackage(ctx);
    } catch (const ProgramEnded& e) {
        status = e.status;
    }
    ASSERT_EQ(::chdir(cwd), 0);
    EXPECT_EQ(ui.Messages(), std::vector<std::string>{kNoArchive});
    EXPECT_EQ(status, kExitFailure);
}
