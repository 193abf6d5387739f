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
