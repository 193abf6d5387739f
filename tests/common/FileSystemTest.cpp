#include "common/FileSystem.h"
#include "common/Errors.h"
#include "common/OpenDialog.h"
#include "common/Places.h"
#include "support/Child.h"
#include "support/ScriptedUi.h"
#include "support/TempDir.h"

#include <atomic>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace jarseal;
using namespace jarseal::test;

TEST(FileExist, CountsOnlyVisibleOrdinaryFiles) {
    TempDir dir;
    WriteFile(dir / "game.jar", "x");
    WriteFile(dir / ".hidden.jar", "x");
    MakeDir(dir / "folder.jar");
    ::symlink("game.jar", (dir / "link.jar").c_str());
    ::mkfifo((dir / "pipe.jar").c_str(), 0600);

    EXPECT_TRUE(FileExist(dir / "game.jar"));
    EXPECT_TRUE(FileExist(dir / "link.jar")); // a link to an ordinary file is that file
    EXPECT_FALSE(FileExist(dir / ".hidden.jar"));
    EXPECT_FALSE(FileExist(dir / "folder.jar"));
    EXPECT_FALSE(FileExist(dir / "pipe.jar"));
    EXPECT_FALSE(FileExist(dir / "missing.jar"));
    EXPECT_FALSE(FileExist(dir / "game.jar/inside"));
    EXPECT_FALSE(FileExist(dir / "nofolder/game.jar"));
    EXPECT_FALSE(FileExist(""));
}

TEST(FileExist, ReadOnlyFileCountsAndOtherErrorsPassToCaller) {
    TempDir dir;
    WriteFile(dir / "ro.jar", "x");
    ::chmod((dir / "ro.jar").c_str(), 0444);
    EXPECT_TRUE(FileExist(dir / "ro.jar"));

    const std::string longName = dir / std::string(300, 'a');
    EXPECT_THROW(FileExist(longName), RunError);
}

TEST(FileOps, ErrorsCarryMappedNumbers) {
    TempDir dir;
    try {
        ReadWholeFile(dir / "missing");
        FAIL();
    } catch (const RunError& e) {
        EXPECT_EQ(e.Number(), kErrFileNotFound);
    }
    WriteFile(dir / "ro", "old");
    ::chmod((dir / "ro").c_str(), 0444);
    if (::geteuid() != 0) {
        try {
            WriteFileReplacing(dir / "ro", "new");
            FAIL();
        } catch (const RunError& e) {
            EXPECT_EQ(e.Number(), kErrPermissionDenied);
        }
        EXPECT_EQ(ReadFile(dir / "ro"), "old");
    }
    MakeDir(dir / "sub");
    EXPECT_THROW(WriteFileReplacing(dir / "sub", "x"), RunError);
}

TEST(FileOps, ReplacingKeepsPermissionsAndLeavesNoTemporaryFile) {
    TempDir dir;
    WriteFile(dir / "d.jad", "old content");
    ::chmod((dir / "d.jad").c_str(), 0640);
    WriteFileReplacing(dir / "d.jad", "new");
    EXPECT_EQ(ReadFile(dir / "d.jad"), "new");
    struct stat st {};
    ::stat((dir / "d.jad").c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    EXPECT_EQ(ListDir(dir.path()), std::vector<std::string>{"d.jad"});

    CopyWholeFile(dir / "d.jad", dir / "copy");
    EXPECT_EQ(ReadFile(dir / "copy"), "new");
}

// Files another thread creates while one asks for the new-file mode keep the
// umask: asking never lifts it, not even for a moment.
TEST(FileOps, AskingTheNewFileModeLeavesOtherThreadsFilesUnderTheUmask) {
    TempDir dir;
    const mode_t before = ::umask(077);
    std::atomic<bool> stop{false};
    unsigned asked = 0;
    std::thread asker([&] {
        while (!stop)
            asked = NewFileMode();
    });
    int loose = 0;
    const std::string name = dir / "f";
    for (int i = 0; i < 20000 && loose == 0; ++i) {
        const int fd = ::open(name.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0666);
        ASSERT_GE(fd, 0);
        struct stat st {};
        ::fstat(fd, &st);
        if ((st.st_mode & 0077) != 0)
            ++loose;
        ::close(fd);
        ::unlink(name.c_str());
    }
    stop = true;
    asker.join();
    ::umask(before);
    EXPECT_EQ(loose, 0);
    EXPECT_EQ(asked, 0600u);
}

TEST(OpenDialog, FilterTextRoundTripsAndLongPathsAreToldAndCountAsCancel) {
    const std::vector<FileFilter> pairs{{"Все файлы", "*.*"}, {"signsis.exe", "signsis.exe"}};
    const std::string text = MakeFilterText(pairs);
    EXPECT_EQ(text, std::string("Все файлы\0*.*\0signsis.exe\0signsis.exe\0", 46));
    EXPECT_EQ(ParseFilterText(text), pairs);

    // The limit counts letters: a Cyrillic folder name is two bytes a letter,
    // so the 200-letter path is 395 bytes.
    auto cyrillicPath = [](std::size_t letters) {
        std::string path = "/";
        for (std::size_t i = 1; i + 4 < letters; ++i)
            path += "ж";
        return path + "/a.j";
    };
    const struct {
        std::string path;
        bool accepted;
    } cases[] = {
        {cyrillicPath(200), true},  {cyrillicPath(254), true},      {std::string(254, 'p'), true},
        {cyrillicPath(255), false}, {std::string(255, 'p'), false},
    };
    for (const auto& c : cases) {
        ScriptedUi ui;
        ui.openPaths = {c.path};
        EXPECT_EQ(ShowOpenDialog(ui, "t", text), c.accepted ? c.path : "") << c.path.size();
        ASSERT_FALSE(ui.shown.empty());
        EXPECT_EQ(ui.shown[0].title, "t");
        EXPECT_EQ(ui.shown[0].filters, pairs);
        if (c.accepted) {
            EXPECT_EQ(ui.shown.size(), 1u);
            continue;
        }
        ASSERT_EQ(ui.shown.size(), 2u);
        EXPECT_EQ(ui.shown[1].kind, "message");
        EXPECT_EQ(ui.shown[1].text, "Путь к файлу длиннее 254 знаков:\r\n" + c.path +
                                        "\r\nПереместите файл в папку с более коротким путём.");
        EXPECT_EQ(ui.shown[1].icon, MessageIcon::Information); // a foreseen failure
        EXPECT_EQ(ui.shown[1].title, "Jarseal");
    }
}

TEST(RunPlaces, AReadOnlyInstallLeavesNoWorkingFolderAndTakesUpWhatAKilledRunLeft) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root, to run as another user beside a folder that user may not write";
    TempDir root;
    const std::string program = root / "prog";
    const std::string tmp = root / "tmp";
    MakeDir(program + "/data/temp");
    MakeDir(tmp);
    MakeDir(root / "home");
    for (const std::string& dir : {root.path(), program})
        ::chmod(dir.c_str(), 0755);
    ::chmod(tmp.c_str(), 01777);
    ::chown((root / "home").c_str(), 65534, 65534);
    ::setenv("TMPDIR", tmp.c_str(), 1);
    ::setenv("HOME", (root / "home").c_str(), 1);
    ::unsetenv("XDG_CONFIG_HOME");
    ::unsetenv("XDG_DATA_HOME");
    // Killed: the run ends without clearing up.
    const int killed = RunInChild(
        [&] {
            const auto* places = new RunPlaces(program);
            WriteFile(places->Get().workDir + "/MANIFEST.MF", "left");
            return places->Get().userFolders ? 0 : 1;
        },
        {.unprivileged = true});
    EXPECT_EQ(killed, 0);
    EXPECT_EQ(ListDir(tmp).size(), 1u);
    // The next run takes it up, and leaves nothing of its own.
    EXPECT_EQ(
        RunInChild([&] { return RunPlaces(program).Get().userFolders ? 0 : 1; }, {.unprivileged = true}), 0);
    EXPECT_TRUE(ListDir(tmp).empty());
    // A HOME the user may not enter ends the run naming the folder, without abort.
    ::chmod((root / "home").c_str(), 0700);
    ::chown((root / "home").c_str(), 0, 0);
    const int refused = RunInChild(
        [&] {
            try {
                RunPlaces places(program);
            } catch (const RunError& e) {
                return std::string(e.what()).find(root / "home") != std::string::npos ? 0 : 2;
            }
            return 1;
        },
        {.unprivileged = true});
    EXPECT_EQ(refused, 0);
    ::unsetenv("TMPDIR");

    // A settings file that is a link to nothing is named, never written through.
    ::symlink((root / "gone.ini").c_str(), (program + "/Jarseal.ini").c_str());
    try {
        RunPlaces places(program);
        ADD_FAILURE() << "a dangling settings link was taken";
    } catch (const RunError& e) {
        EXPECT_NE(std::string(e.what()).find(root / "gone.ini"), std::string::npos) << e.what();
    }
    EXPECT_FALSE(Exists(root / "gone.ini"));
}
