#include "common/FileSystem.h"
#include "common/Errors.h"
#include "common/OpenDialog.h"
#include "support/ScriptedUi.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
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

TEST(OpenDialog, FilterTextRoundTripsAndLongPathsCountAsCancel) {
    const std::vector<FileFilter> pairs{{"Все файлы", "*.*"}, {"signsis.exe", "signsis.exe"}};
    const std::string text = MakeFilterText(pairs);
    EXPECT_EQ(text, std::string("Все файлы\0*.*\0signsis.exe\0signsis.exe\0", 46));
    EXPECT_EQ(ParseFilterText(text), pairs);

    ScriptedUi ui;
    ui.openPaths = {std::string(254, 'p'), std::string(255, 'p')};
    EXPECT_EQ(ShowOpenDialog(ui, "t", text), std::string(254, 'p'));
    EXPECT_EQ(ShowOpenDialog(ui, "t", text), "");
    ASSERT_EQ(ui.shown.size(), 2u);
    EXPECT_EQ(ui.shown[0].title, "t");
    EXPECT_EQ(ui.shown[0].filters, pairs);
}
