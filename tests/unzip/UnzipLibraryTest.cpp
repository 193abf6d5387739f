#include "support/ScriptedUi.h"
#include "support/TempDir.h"
#include "unzip/CGUnzipFiles.h"
#include "unzip/CodeModule.h"
#include "unzip/zipdll/UnzipDll.h"

#include <gtest/gtest.h>
#include <zip.h>

#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

using namespace jarseal;
using namespace jarseal::test;

namespace {

struct Entry {
    std::string name{};
    std::string data{};
    bool store = false;
    bool folder = false;
    zip_uint16_t encryption = ZIP_EM_NONE;
    std::string password{};
    bool symlink = false;
};

// Writes an archive with libzip.
void MakeZip(const std::string& path, const std::vector<Entry>& entries) {
    int err = 0;
    zip_t* z = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &err);
    ASSERT_NE(z, nullptr);
    for (const auto& e : entries) {
        zip_int64_t index = -1;
        if (e.folder) {
            index = zip_dir_add(z, e.name.c_str(), 0);
        } else {
            zip_source_t* src = zip_source_buffer(z, e.data.data(), e.data.size(), 0);
            index = zip_file_add(z, e.name.c_str(), src, 0);
        }
        ASSERT_GE(index, 0) << e.name << ": " << zip_strerror(z);
        const auto i = static_cast<zip_uint64_t>(index);
        if (!e.folder)
            zip_set_file_compression(z, i, e.store ? ZIP_CM_STORE : ZIP_CM_DEFLATE, 0);
        if (e.encryption != ZIP_EM_NONE) {
            ASSERT_EQ(zip_file_set_encryption(z, i, e.encryption, e.password.c_str()), 0);
        }
        if (e.symlink)
            zip_file_set_external_attributes(z, i, 0, ZIP_OPSYS_UNIX, (S_IFLNK | 0777u) << 16);
    }
    ASSERT_EQ(zip_close(z), 0);
}

std::string Text(std::size_t size, char seed) {
    std::string s;
    for (std::size_t i = 0; s.size() < size; ++i)
        s += "line " + std::to_string(i) + " of " + seed + "\n";
    s.resize(size);
    return s;
}

bool IsLink(const std::string& path) {
    struct stat sb {};
    return ::lstat(path.c_str(), &sb) == 0 && S_ISLNK(sb.st_mode);
}

class RealUnzip : public ::testing::Test {
  protected:
    void SetUp() override {
        CodeModule::SetLibrary(&CodeModule::DefaultLibrary());
        MakeDir(target);
    }
    int Run(const std::string& zip) { return job.Unzip(zip, target); }

    TempDir dir;
    std::string target = dir / "out";
    ScriptedUi ui;
    CGUnzipFiles job{ui};
};

} // namespace

TEST_F(RealUnzip, KeepsOrFlattensFoldersAndReportsEachEntry) {
    MakeZip(dir / "a.jar", {{"META-INF/", "", false, true},
                            {"META-INF/MANIFEST.MF", "Manifest-Version: 1.0\r\n"},
                            {"a/b/c.txt", Text(5000, 'c')},
                            {"top.txt", "stored", true}});
    job.LetMessageLevel(0);
    EXPECT_EQ(Run(dir / "a.jar"), 0);
    EXPECT_EQ(ReadFile(target + "/META-INF/MANIFEST.MF"), "Manifest-Version: 1.0\r\n");
    EXPECT_EQ(ReadFile(target + "/a/b/c.txt"), Text(5000, 'c'));
    EXPECT_EQ(ListDir(target), (std::vector<std::string>{"META-INF", "a", "top.txt"}));
    const std::string msg = job.GetLastMessage();
    EXPECT_EQ(msg.rfind("Archive:  " + dir / "a.jar" + "\n", 0), 0u) << msg;
    EXPECT_NE(msg.find("  inflating: " + target + "/a/b/c.txt\n"), std::string::npos) << msg;
    EXPECT_NE(msg.find(" extracting: " + target + "/top.txt\n"), std::string::npos) << msg;

    // Flat: every file under its bare name, folder entries skipped, no leftovers.
    const std::string flat = dir / "flat";
    job.LetHonorDirectories(false);
    EXPECT_EQ(job.Unzip("", flat), 0);
    EXPECT_EQ(ListDir(flat), (std::vector<std::string>{"MANIFEST.MF", "c.txt", "top.txt"}));
    EXPECT_EQ(ReadFile(flat + "/c.txt"), Text(5000, 'c'));

    // The default message level prints nothing for a clean run.
    job.LetMessageLevel(2);
    EXPECT_EQ(job.Unzip("", flat), 0);
    EXPECT_EQ(job.GetLastMessage(), "");
}

TEST_F(RealUnzip, FlatExtractionLetsTheLastOfEqualNamesWin) {
    MakeZip(
        dir / "a.jar",
        {{"x/MANIFEST.MF", "first"}, {"META-INF/MANIFEST.MF", "second"}, {"y/z/MANIFEST.MF", "third", true}});
    job.LetHonorDirectories(false);
    EXPECT_EQ(Run(dir / "a.jar"), 0);
    EXPECT_EQ(ListDir(target), (std::vector<std::string>{"MANIFEST.MF"}));
    EXPECT_EQ(ReadFile(target + "/MANIFEST.MF"), "third");
}

TEST_F(RealUnzip, ExistingFilesFollowTheOverwriteSwitches) {
    MakeZip(dir / "a.jar", {{"f.txt", "new"}});
    const std::string file = target + "/f.txt";
    WriteFile(file, "old");
    job.LetOverWriteFiles(false);
    EXPECT_EQ(Run(dir / "a.jar"), 0); // skipped without a question
    EXPECT_EQ(ReadFile(file), "old");
    EXPECT_TRUE(ui.shown.empty());

    job.LetPromptOverwrite(true);
    ui.answers = {Answer::No, Answer::Cancel, Answer::Yes};
    EXPECT_EQ(Run(dir / "a.jar"), 0);
    EXPECT_EQ(ReadFile(file), "old");
    EXPECT_EQ(Run(dir / "a.jar"), unzipdll::kStopped);
    EXPECT_EQ(ReadFile(file), "old");
    EXPECT_EQ(Run(dir / "a.jar"), 0);
    EXPECT_EQ(ReadFile(file), "new");
    ASSERT_EQ(ui.shown.size(), 3u);
    EXPECT_EQ(ui.shown[0].text, "Overwrite " + file + "?");

    // Overwriting on replaces without asking.
    WriteFile(file, "old");
    job.LetOverWriteFiles(true);
    EXPECT_EQ(Run(dir / "a.jar"), 0);
    EXPECT_EQ(ReadFile(file), "new");
    EXPECT_EQ(ui.shown.size(), 3u);
    EXPECT_EQ(ListDir(target), (std::vector<std::string>{"f.txt"}));
}

TEST_F(RealUnzip, EncryptedEntriesAskForThePassword) {
    for (const zip_uint16_t method : {zip_uint16_t(ZIP_EM_TRAD_PKWARE), zip_uint16_t(ZIP_EM_AES_256)}) {
        SCOPED_TRACE(method);
        const std::string zip = dir / ("enc" + std::to_string(method) + ".jar");
        MakeZip(zip, {{"one.txt", Text(3000, '1'), false, false, method, "right"},
                      {"two.txt", Text(100, '2'), true, false, method, "right"},
                      {"plain.txt", "plain"}});
        const std::string out = dir / ("out" + std::to_string(method));

        // Right password: asked once, reused for the second entry.
        ui.shown.clear();
        ui.inputs = {"right"};
        EXPECT_EQ(job.Unzip(zip, out + "a"), 0);
        EXPECT_EQ(ReadFile(out + "a/one.txt"), Text(3000, '1'));
        EXPECT_EQ(ReadFile(out + "a/two.txt"), Text(100, '2'));
        EXPECT_EQ(ui.shown.size(), 1u);

        // Wrong, then right.
        ui.shown.clear();
        ui.inputs = {"wrong", "right"};
        EXPECT_EQ(job.Unzip(zip, out + "b"), 0);
        EXPECT_EQ(ReadFile(out + "b/one.txt"), Text(3000, '1'));
        EXPECT_EQ(ReadFile(out + "b/two.txt"), Text(100, '2'));
        EXPECT_EQ(ui.shown.size(), 2u);

        // No password: both entries skipped after one question, the rest extracted.
        ui.shown.clear();
        ui.inputs = {};
        EXPECT_EQ(job.Unzip(zip, out + "c"), unzipdll::kBadPassword);
        EXPECT_EQ(ListDir(out + "c"), (std::vector<std::string>{"plain.txt"}));
        EXPECT_EQ(ui.shown.size(), 1u);
        EXPECT_NE(job.GetLastMessage().find("one.txt"), std::string::npos);
    }
}

TEST_F(RealUnzip, DamagedOrForeignFilesGiveACodeAndAMessage) {
    std::string big;
    for (int i = 0; i < 4000; ++i)
        big += std::to_string(i * 7919 % 10007) + ",";
    MakeZip(dir / "good.jar", {{"big.txt", big}, {"small.txt", "small"}});
    const std::string good = ReadFile(dir / "good.jar");

    WriteFile(dir / "truncated.jar", good.substr(0, good.size() / 2));
    WriteFile(dir / "text.jar", "this is not an archive at all\n");
    WriteFile(dir / "empty.jar", "");
    std::string corrupt = good;
    for (std::size_t i = 200; i < 260; ++i)
        corrupt[i] = static_cast<char>(corrupt[i] ^ 0x5a);
    WriteFile(dir / "corrupt.jar", corrupt);
    MakeDir(dir / "folder.jar");

    for (const char* name : {"truncated.jar", "text.jar", "empty.jar", "missing.jar", "folder.jar"}) {
        EXPECT_EQ(Run(dir / name), unzipdll::kNoZip) << name;
        EXPECT_NE(job.GetLastMessage(), "") << name;
    }
    EXPECT_EQ(Run(dir / "corrupt.jar"), unzipdll::kError);
    EXPECT_NE(job.GetLastMessage().find("big.txt"), std::string::npos);
    // The damaged entry leaves nothing behind; the sound one is extracted.
    EXPECT_EQ(ListDir(target), (std::vector<std::string>{"small.txt"}));

    MakeZip(dir / "none.jar", {});
    WriteFile(dir / "none.jar", std::string("PK\5\6", 4) + std::string(18, '\0'));
    EXPECT_EQ(Run(dir / "none.jar"), unzipdll::kNoMatch);
    EXPECT_NE(job.GetLastMessage().find("empty"), std::string::npos);
}

TEST_F(RealUnzip, NamesLeadingOutsideTheTargetAreNeverFollowed) {
    const std::string absolute = dir / "abs.txt";
    MakeZip(dir / "evil.jar", {{"../up.txt", "x"},
                               {"a/../../up2.txt", "x"},
                               {absolute, "x"},
                               {"C:\\win.txt", "x"},
                               {"..\\..\\back.txt", "x"},
                               {"./", "", false, true},
                               {"ok/good.txt", "good"}});
    EXPECT_EQ(Run(dir / "evil.jar"), unzipdll::kWarning);
    EXPECT_EQ(ListDir(dir.path()), (std::vector<std::string>{"evil.jar", "out"}));
    EXPECT_EQ(ListDir(target), (std::vector<std::string>{"ok"}));
    EXPECT_EQ(ReadFile(target + "/ok/good.txt"), "good");
    EXPECT_NE(job.GetLastMessage().find("../up.txt"), std::string::npos);

    // Flat, the bare names stay inside the target.
    const std::string flat = dir / "flat";
    job.LetHonorDirectories(false);
    EXPECT_EQ(job.Unzip("", flat), 0);
    EXPECT_EQ(ListDir(dir.path()), (std::vector<std::string>{"evil.jar", "flat", "out"}));
    EXPECT_EQ(ListDir(flat),
              (std::vector<std::string>{"abs.txt", "back.txt", "good.txt", "up.txt", "up2.txt", "win.txt"}));
}

TEST_F(RealUnzip, LinksAreNeitherCreatedNorWrittenThrough) {
    MakeDir(dir / "elsewhere");
    WriteFile(dir / "victim.txt", "original");
    ASSERT_EQ(::symlink((dir / "victim.txt").c_str(), (target + "/f.txt").c_str()), 0);
    ASSERT_EQ(::symlink((dir / "elsewhere").c_str(), (target + "/sub").c_str()), 0);
    MakeZip(dir / "a.jar", {{"link", "../victim.txt", false, false, ZIP_EM_NONE, "", true},
                            {"f.txt", "new"},
                            {"sub/g.txt", "g"}});

    EXPECT_EQ(Run(dir / "a.jar"), unzipdll::kWarning);
    EXPECT_FALSE(Exists(target + "/link"));
    EXPECT_EQ(ReadFile(dir / "victim.txt"), "original");
    EXPECT_FALSE(IsLink(target + "/f.txt")); // the link was replaced, not followed
    EXPECT_EQ(ReadFile(target + "/f.txt"), "new");
    EXPECT_TRUE(ListDir(dir / "elsewhere").empty());
    const std::string msg = job.GetLastMessage();
    EXPECT_NE(msg.find("link"), std::string::npos);
    EXPECT_NE(msg.find("sub/g.txt"), std::string::npos);

    // Flat, the link entry is still skipped.
    job.LetHonorDirectories(false);
    EXPECT_EQ(Run(dir / "a.jar"), unzipdll::kWarning);
    EXPECT_FALSE(Exists(target + "/link"));
    EXPECT_EQ(ReadFile(target + "/g.txt"), "g");
}

TEST_F(RealUnzip, ListingShowsEntriesWithoutExtracting) {
    MakeZip(dir / "a.jar", {{"META-INF/MANIFEST.MF", "m"}, {"b.txt", "bb"}});
    job.LetExtractList(1);
    EXPECT_EQ(Run(dir / "a.jar"), 0);
    EXPECT_TRUE(ListDir(target).empty());
    const std::string listing = CodeModule::ListingText();
    EXPECT_EQ(listing.rfind("Filename:", 0), 0u);
    EXPECT_NE(listing.find("\r\nMETA-INF/MANIFEST.MF "), std::string::npos);
    EXPECT_NE(listing.find("\r\nb.txt "), std::string::npos);
}

TEST(RealUnzipEntry, ServiceAnswerStopsTheRun) {
    TempDir dir;
    MakeZip(dir / "a.jar", {{"one.txt", "1"}, {"two.txt", "2"}});
    const std::string zip = dir / "a.jar";
    const std::string out = dir / "out";
    static int calls = 0;
    unzipdll::UnzipOptions options{};
    options.honorDirectories = 1;
    options.overwriteFiles = 1;
    options.zipFileName = zip.c_str();
    options.extractDir = out.c_str();
    unzipdll::UnzipUserFunctions callbacks{};
    callbacks.service = [](const char*, unsigned long) { return ++calls == 2 ? 1 : 0; };
    EXPECT_EQ(unzipdll::Wiz_SingleEntryUnzip(0, nullptr, 0, nullptr, &options, &callbacks),
              unzipdll::kStopped);
    EXPECT_EQ(ListDir(out), (std::vector<std::string>{"one.txt"}));

    // Include and exclude names pick the entries.
    const char* include[] = {"*.txt"};
    const char* exclude[] = {"one*"};
    calls = -100;
    const std::string out2 = dir / "out2";
    options.extractDir = out2.c_str();
    EXPECT_EQ(unzipdll::Wiz_SingleEntryUnzip(1, include, 1, exclude, &options, &callbacks), 0);
    EXPECT_EQ(ListDir(out2), (std::vector<std::string>{"two.txt"}));
}
