#include "settings/Ini.h"
#include "common/FileSystem.h"
#include "settings/IniSettings.h"
#include "settings/ProfileFile.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace jarseal;
using namespace jarseal::test;

namespace {

std::string DataFile(const std::string& name) {
    return std::string(JARSEAL_SOURCE_DIR) + "/tests/settings/data/" + name;
}

bool RunningAsRoot() {
    return ::geteuid() == 0;
}

} // namespace

TEST(Ini, MissingFileReadsEmptyAndFirstWriteCreatesExactFile) {
    TempDir dir;
    const std::string file = dir / "Jarseal.ini";
    EXPECT_EQ(ReadIni("Jarseal", "FirstRun", file), "");
    EXPECT_FALSE(Exists(file));

    EXPECT_NE(WriteIni("Jarseal", "FirstRun", "0", file), 0);
    EXPECT_EQ(ReadFile(file), "[Jarseal]\r\nFirstRun=0\r\n");
    EXPECT_EQ(ReadIni("Jarseal", "FirstRun", file), "0");
    EXPECT_EQ(ReadIni("Jarseal", "AppPath", file), "");
    EXPECT_EQ(ReadIni("Java", "FirstRun", file), "");
    EXPECT_EQ(ListDir(dir.path()), std::vector<std::string>{"Jarseal.ini"}); // no temporary file left behind
}

TEST(Ini, FileGrownByTheProgramMatchesTheWindowsLayout) {
    TempDir dir;
    const std::string file = dir / "Jarseal.ini";
    WriteIni("Jarseal", "FirstRun", "0", file);
    WriteIni("Java", "keystore", "C:\\Programs\\Jarseal\\data\\key", file);
    WriteIni("Jarseal", "AppPath", "C:\\Programs\\Jarseal", file);
    for (const char* k : {"storepass", "keypass"})
        WriteIni("Java", k, "52039871", file);
    WriteIni("Java", "alias1", "jsk", file);
    WriteIni("Java", "alias2", "jsk", file);
    WriteIni("Permissions", "byuser", "True", file);
    WriteIni("Permissions", "read", "1", file);
    WriteIni("Permissions", "PushRegestry", "1", file);
    WriteIni("Permissions", "pushregestry", "0", file); // same entry: replaced, spelling kept
    WriteIni("Permissions", "camera", "1", file);
    WriteIni("Symbian", "SignSIS", "C:\\Symbian\\signsis.exe", file);
    WriteIni("Symbian", "certificate", "C:\\Symbian\\my.cer", file);
    WriteIni("Symbian", "key", "C:\\Symbian\\my.key", file);
    WriteIni("Symbian", "passphrase", "", file);

    EXPECT_EQ(ReadFile(file), ReadFile(DataFile("grown_by_program.ini")));
    EXPECT_EQ(ReadIni("Permissions", "pushregestry", file), "0");
    EXPECT_EQ(ReadIni("permissions", "PUSHREGESTRY", file), "0");
    EXPECT_EQ(ReadIni("Symbian", "passphrase", file), ""); // stored as one blank
    EXPECT_EQ(ReadIni("Jarseal", "FirstRun", file), "0");
}

TEST(Ini, HandEditedFileIsReadAsWindowsReadsIt) {
    const std::string file = DataFile("hand_edited.ini");
    EXPECT_EQ(ReadIni("Jarseal", "AppPath", file), "C:\\Programs\\Jarseal");
    EXPECT_EQ(ReadIni("Java", "keystore", file), "C:\\Programs\\Jarseal\\data\\key"); // blanks, then quotes
    EXPECT_EQ(ReadIni("Java", "storepass", file), "52039871");                        // single quotes
    EXPECT_EQ(ReadIni("Java", "keypass", file), "\"5203'");                           // unmatched quotes stay
    EXPECT_EQ(ReadIni("Java", "alias1", file), "jsk");
    EXPECT_EQ(ReadIni("Java", "alias2", file), ""); // only the first section of a name counts
    EXPECT_EQ(ReadIni("Symbian", "SignSIS", file), "C:\\Symbian\\signsis.exe"); // the first key wins
    EXPECT_EQ(ReadIni("Symbian", "passphrase", file), "");
    EXPECT_EQ(ReadIni("Symbian", "this line is neither", file), "");
    EXPECT_EQ(ReadIni("Symbian", "certificate", file), "c.cer"); // last line without a line end
    EXPECT_EQ(ReadIni("Jarseal", "; Jarseal settings", file), "");
}

TEST(Ini, WritesIntoHandEditedFileKeepEveryOtherByte) {
    TempDir dir;
    const std::string file = dir / "Jarseal.ini";
    WriteFile(file, ReadFile(DataFile("hand_edited.ini")));
    EXPECT_NE(WriteIni("JAVA", "KEYSTORE", "D:\\key", file), 0);   // replaced in place
    EXPECT_NE(WriteIni("Java", "alias2", "jsk", file), 0);         // before the blank line and the comment
    EXPECT_NE(WriteIni("Symbian", "key", "k.key", file), 0);       // after a last line without line end
    EXPECT_NE(WriteIni("Permissions", "byuser", "True", file), 0); // new section, no blank line before
    EXPECT_EQ(ReadFile(file), ReadFile(DataFile("hand_edited_after.ini")));
    EXPECT_EQ(ReadIni("Java", "alias2", file), "jsk");
}

TEST(Ini, LongValuesAreReadWhole) {
    TempDir dir;
    const std::string file = dir / "Jarseal.ini";
    for (const std::size_t n : {126u, 127u, 200u, 4000u}) {
        std::string value;
        for (std::size_t i = 0; i < n; ++i)
            value += static_cast<char>('a' + i % 26);
        WriteIni("Java", "keystore", value, file);
        EXPECT_EQ(ReadIni("Java", "keystore", file), value) << n << " bytes";
    }
    // Beyond the bound a value is cut to it, never read past it.
    WriteIni("Java", "keystore", std::string(kMaxIniValueBytes + 10, 'x'), file);
    EXPECT_EQ(ReadIni("Java", "keystore", file), std::string(kMaxIniValueBytes, 'x'));
}

TEST(Ini, BlanksQuotesAndEmptyValues) {
    TempDir dir;
    const std::string file = dir / "Jarseal.ini";
    WriteIni("Java", "alias1", "  jsk\t ", file);
    EXPECT_EQ(ReadIni("Java", "alias1", file), "jsk");
    EXPECT_EQ(ReadFile(file), "[Java]\r\nalias1=  jsk\t \r\n"); // written exactly as given

    WriteIni("Java", "alias1", "", file);
    EXPECT_EQ(ReadFile(file), "[Java]\r\nalias1= \r\n");
    EXPECT_EQ(ReadIni("Java", "alias1", file), "");

    WriteIni("Java", "alias1", "\" spaced \"", file);
    EXPECT_EQ(ReadIni("Java", "alias1", file), " spaced ");
    WriteIni("Java", "alias1", "'", file);
    EXPECT_EQ(ReadIni("Java", "alias1", file), "'");
    WriteIni("Java", "alias1", "''", file);
    EXPECT_EQ(ReadIni("Java", "alias1", file), "");
    WriteIni("Java", "alias1", "a=b;c", file);
    EXPECT_EQ(ReadIni("Java", "alias1", file), "a=b;c");
    WriteIni("Java", "alias1", "\xcf\xe0\xf0\xee\xeb\xfc", file); // bytes pass unchanged
    EXPECT_EQ(ReadIni("Java", "alias1", file), "\xcf\xe0\xf0\xee\xeb\xfc");
    WriteIni(" Java ", " alias1 ", "x", file); // blanks around names do not count
    EXPECT_EQ(ReadIni("Java", "alias1", file), "x");
    EXPECT_EQ(ReadFile(file), "[Java]\r\nalias1=x\r\n");
}

TEST(Ini, AllThreeLineEndsAreReadAndKept) {
    TempDir dir;
    const std::string file = dir / "Jarseal.ini";
    for (const std::string eol : {"\r\n", "\n", "\r"}) {
        WriteFile(file, "[Java]" + eol + "alias1=a" + eol + "[Symbian]" + eol + "key = k " + eol);
        EXPECT_EQ(ReadIni("Java", "alias1", file), "a");
        EXPECT_EQ(ReadIni("Symbian", "key", file), "k");
        WriteIni("Java", "alias2", "b", file);
        WriteIni("Symbian", "key", "z", file);
        EXPECT_EQ(ReadFile(file),
                  "[Java]" + eol + "alias1=a" + eol + "alias2=b\r\n[Symbian]" + eol + "key=z" + eol);
    }
    // A new key into a section without keys goes right below its header.
    WriteFile(file, "[Java]\n; none yet\n[Symbian]");
    WriteIni("Symbian", "key", "k", file);
    WriteIni("Java", "alias1", "a", file);
    EXPECT_EQ(ReadFile(file), "[Java]\nalias1=a\r\n; none yet\n[Symbian]\r\nkey=k\r\n");
    // A byte order mark from an editor does not hide the first section.
    WriteFile(file, "\xEF\xBB\xBF[Java]\r\nalias1=a\r\n");
    EXPECT_EQ(ReadIni("Java", "alias1", file), "a");
    WriteIni("Java", "alias1", "b", file);
    EXPECT_EQ(ReadFile(file), "\xEF\xBB\xBF[Java]\r\nalias1=b\r\n");
}

TEST(Ini, NamesAndValuesThatWouldBreakTheFileAreRefused) {
    TempDir dir;
    const std::string file = dir / "Jarseal.ini";
    WriteIni("Java", "alias1", "jsk", file);
    const std::string before = ReadFile(file);
    EXPECT_EQ(WriteIni("Java", "alias1", "jsk\r\n[Java]\r\nalias1=evil", file), 0);
    EXPECT_EQ(WriteIni("Java", "alias1", "a\nb", file), 0);
    EXPECT_EQ(WriteIni("Java", "a=b", "x", file), 0);
    EXPECT_EQ(WriteIni("Java", ";x", "x", file), 0);
    EXPECT_EQ(WriteIni("Java", "  ", "x", file), 0);
    EXPECT_EQ(WriteIni("Ja]va", "k", "x", file), 0);
    EXPECT_EQ(WriteIni("", "k", "x", file), 0);
    EXPECT_EQ(ReadFile(file), before);
    EXPECT_EQ(ReadIni("Java", "alias1", file), "jsk");
}

TEST(Ini, UnwritableFolderOrFileFailsSilentlyAndKeepsTheOldFile) {
    TempDir dir;
    const std::string file = dir / "Jarseal.ini";
    WriteIni("Java", "alias1", "old", file);
    const std::string before = ReadFile(file);

    EXPECT_EQ(WriteIni("Java", "alias1", "new", dir / "missing/Jarseal.ini"), 0);

    ::chmod(file.c_str(), 0444);
    if (!RunningAsRoot()) {
        EXPECT_EQ(WriteIni("Java", "alias1", "new", file), 0);
        EXPECT_EQ(ReadFile(file), before);
    }
    ::chmod(file.c_str(), 0640);
    ::chmod(dir.path().c_str(), 0555);
    if (!RunningAsRoot()) {
        EXPECT_EQ(WriteIni("Java", "alias1", "new", file), 0);
        EXPECT_EQ(WriteIni("Java", "alias1", "new", dir / "Other.ini"), 0);
        EXPECT_EQ(ReadFile(file), before);
        EXPECT_EQ(ReadIni("Java", "alias1", file), "old");
        EXPECT_EQ(ListDir(dir.path()), std::vector<std::string>{"Jarseal.ini"});
    }
    ::chmod(dir.path().c_str(), 0755);
    if (RunningAsRoot())
        GTEST_SKIP() << "root ignores permission bits: read-only checks not run";
}

TEST(Ini, ReplacedFileKeepsPermissionsAndLinksStayLinks) {
    TempDir dir;
    const std::string file = dir / "Jarseal.ini";
    WriteIni("Java", "alias1", "a", file);
    ::chmod(file.c_str(), 0600);
    WriteIni("Java", "alias1", "b", file);
    struct stat st {};
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);

    MakeDir(dir / "real");
    WriteFile(dir / "real/Jarseal.ini", "[Java]\r\nalias1=a\r\n");
    ASSERT_EQ(::symlink("real/Jarseal.ini", (dir / "link.ini").c_str()), 0);
    EXPECT_NE(WriteIni("Java", "alias1", "c", dir / "link.ini"), 0);
    EXPECT_EQ(ReadFile(dir / "real/Jarseal.ini"), "[Java]\r\nalias1=c\r\n");
    ASSERT_EQ(::lstat((dir / "link.ini").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
}

TEST(Ini, FoldersGarbageAndHugeFilesNeverCrash) {
    TempDir dir;
    MakeDir(dir / "folder.ini");
    EXPECT_EQ(ReadIni("Java", "alias1", dir / "folder.ini"), "");
    EXPECT_EQ(WriteIni("Java", "alias1", "x", dir / "folder.ini"), 0);
    EXPECT_EQ(ListDir(dir / "folder.ini"), std::vector<std::string>{});

    ASSERT_EQ(::mkfifo((dir / "fifo.ini").c_str(), 0600), 0);
    EXPECT_EQ(ReadIni("Java", "alias1", dir / "fifo.ini"), ""); // does not wait for a writer
    EXPECT_EQ(WriteIni("Java", "alias1", "x", dir / "fifo.ini"), 0);
    EXPECT_EQ(ReadIni("Java", "alias1", "/dev/zero"), "");

    std::string garbage;
    for (int i = 0; i < 70000; ++i)
        garbage += static_cast<char>((i * 7919) % 256);
    WriteFile(dir / "garbage.ini", garbage + "\n[Java]\nalias1=found\n");
    EXPECT_EQ(ReadIni("Java", "alias1", dir / "garbage.ini"), "found");
    EXPECT_NE(WriteIni("Java", "alias2", "x", dir / "garbage.ini"), 0);
    EXPECT_EQ(ReadFile(dir / "garbage.ini"), garbage + "\n[Java]\nalias1=found\nalias2=x\r\n");

    // Larger than the layer reads: the first part is still readable, but a
    // write refuses rather than cut the file short.
    const std::string huge = dir / "huge.ini";
    {
        std::string head = "[Java]\r\nalias1=early\r\n";
        WriteFile(huge, head + std::string(kMaxProfileFileBytes, ';') + "\r\n[Symbian]\r\nkey=late\r\n");
    }
    const auto size = FileLength(huge);
    EXPECT_EQ(ReadIni("Java", "alias1", huge), "early");
    EXPECT_EQ(ReadIni("Symbian", "key", huge), "");
    EXPECT_EQ(WriteIni("Java", "alias1", "x", huge), 0);
    EXPECT_EQ(FileLength(huge), size);
}

TEST(Ini, ReaderNeverSeesAPartialFileWhileAnotherProcessWrites) {
    TempDir dir;
    const std::string file = dir / "Jarseal.ini";
    const std::string a(4000, 'a');
    const std::string b(4000, 'b');
    WriteIni("Jarseal", "FirstRun", "0", file);
    WriteIni("Java", "keystore", a, file);
    WriteIni("Symbian", "key", "k", file);

    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        for (int i = 0; i < 1000; ++i)
            WriteIni("Java", "keystore", i % 2 ? a : b, file);
        ::_exit(0);
    }
    int bad = 0;
    int reads = 0;
    int status = 0;
    while (::waitpid(child, &status, WNOHANG) == 0) {
        const std::string v = ReadIni("Java", "keystore", file);
        bad += (v != a && v != b);
        bad += ReadIni("Symbian", "key", file) != "k";
        bad += ReadIni("Jarseal", "FirstRun", file) != "0";
        ++reads;
    }
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(bad, 0) << "in " << reads << " reads";
    EXPECT_GT(reads, 0);
    EXPECT_EQ(ListDir(dir.path()), std::vector<std::string>{"Jarseal.ini"});
}

TEST(Ini, TwoWritersAtOnceLeaveAWholeFileAndLoseNoChange) {
    TempDir dir;
    const std::string file = dir / "Jarseal.ini";
    WriteIni("Jarseal", "FirstRun", "0", file);
    // Two programs write their own keys at the same moment; each reads its
    // key back after every write, so a change the other one wrote over is seen.
    const auto start = [&](const char* section, const char* key) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            int lost = 0;
            for (int i = 0; i < 400; ++i) {
                const std::string value = std::string(key) + std::to_string(i) + std::string(i % 97, 'x');
                WriteIni(section, key, value, file);
                lost += ReadIni(section, key, file) != value;
            }
            ::_exit(lost > 0 ? 1 : 0);
        }
        return pid;
    };
    const auto result = [](pid_t pid) {
        int status = 0;
        ::waitpid(pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };
    const pid_t a = start("Java", "keystore");
    const pid_t b = start("Symbian", "key");
    ASSERT_GT(a, 0);
    ASSERT_GT(b, 0);
    const int first = result(a);
    const int second = result(b);
    EXPECT_EQ(first, 0);
    EXPECT_EQ(second, 0);
    EXPECT_EQ(ReadIni("Jarseal", "FirstRun", file), "0");
    EXPECT_EQ(ReadIni("Java", "keystore", file), "keystore399" + std::string(399 % 97, 'x'));
    EXPECT_EQ(ReadIni("Symbian", "key", file), "key399" + std::string(399 % 97, 'x'));
    EXPECT_EQ(ListDir(dir.path()), std::vector<std::string>{"Jarseal.ini"});
}

TEST(Ini, ProfileTextFunctionsFollowTheFirstSectionOnly) {
    const std::string text = "k=outside\r\n[A]\r\n[B]\r\nk=b\r\n[a]\r\nk=second\r\n";
    EXPECT_EQ(FindProfileValue(text, "A", "k"), std::nullopt);
    EXPECT_EQ(FindProfileValue(text, "B", "K"), "b");
    EXPECT_EQ(SetProfileValue(text, "a", "k", "1"),
              "k=outside\r\n[A]\r\nk=1\r\n[B]\r\nk=b\r\n[a]\r\nk=second\r\n");
    EXPECT_EQ(FindProfileValue("[A\r\nk=v\r\n", "A", "k"), std::nullopt); // no closing bracket: no header
    EXPECT_EQ(FindProfileValue("[ A ] trailing\r\n k = v \r\n", "A", "k"), "v");
}

TEST(IniSettings, BuildsThePathForEveryCall) {
    TempDir dir;
    EXPECT_EQ(SettingsFilePath("/opt/jarseal"), "/opt/jarseal/Jarseal.ini");
    IniSettings settings(SettingsFilePath(dir.path()));
    EXPECT_TRUE(settings.Write("Java", "alias1", "jsk"));
    EXPECT_EQ(ReadFile(dir / "Jarseal.ini"), "[Java]\r\nalias1=jsk\r\n");
    WriteFile(dir / "Jarseal.ini", "[Java]\r\nalias1=changed\r\n"); // changed behind its back
    EXPECT_EQ(settings.Read("java", "ALIAS1"), "changed");
    IniSettings nowhere(SettingsFilePath(dir / "missing"));
    EXPECT_FALSE(nowhere.Write("Java", "alias1", "jsk"));
    EXPECT_EQ(nowhere.Read("Java", "alias1"), "");
}
