// Writing only the entries a caller reads must not change what a run finds
// wrong with an archive: every case below is run once writing every entry and
// once writing only MANIFEST.MF, and the runs must agree on the result code,
// the printed messages, the questions asked, the entries reported damaged and
// the manifest left in the target folder.

#include "support/ScriptedUi.h"
#include "support/TempDir.h"
#include "unzip/CGUnzipFiles.h"
#include "unzip/CodeModule.h"
#include "unzip/HostileArchives.h"
#include "unzip/RawZip.h"
#include "unzip/zipdll/UnzipDll.h"

#include <gtest/gtest.h>
#include <zip.h>

#include <deque>
#include <filesystem>
#include <optional>
#include <sys/stat.h>

using namespace jarseal;
using namespace jarseal::test;
namespace fs = std::filesystem;

namespace {

const std::string kManifest = "Manifest-Version: 1.0\r\nMIDlet-Name: Game\r\n\r\n";

// A few kilobytes that deflate well, like a class file's constant pool.
std::string ClassLike(int seed, std::size_t size = 6000) {
    std::string s = "\xca\xfe\xba\xbe";
    for (int i = 0; s.size() < size; ++i)
        s += "Ljava/lang/String;method" + std::to_string((seed * 31 + i) % 97) + "()V";
    s.resize(size);
    return s;
}

// A deflated entry whose stated CRC is wrong.
void AddWithBadCrc(rawzip::Builder& b, const std::string& name, const std::string& data, bool stored) {
    using namespace rawzip;
    const std::string packed = stored ? data : Deflate(data);
    b.Add({name, stored ? kStored : kDeflated, Crc(data) ^ 0x1234u, packed.size(), data.size()}, packed);
}

struct Case {
    std::string name;
    std::string bytes;
    std::deque<std::string> passwords{};       // answers to the password questions
    bool damaged = true;                       // the run finds something wrong
    std::vector<std::string> damagedEntries{}; // the entries it names as unreadable
};

// Archives that libzip writes itself: encrypted entries.
std::string EncryptedArchive(const std::string& path, bool manifestEncrypted) {
    int err = 0;
    zip_t* z = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &err);
    if (z == nullptr)
        return {};
    const std::string a = ClassLike(1), b = ClassLike(2, 300), m = kManifest;
    const auto add = [&](const char* name, const std::string& data, zip_uint16_t method) {
        zip_source_t* src = zip_source_buffer(z, data.data(), data.size(), 0);
        const zip_int64_t i = zip_file_add(z, name, src, 0);
        if (i >= 0 && method != ZIP_EM_NONE)
            zip_file_set_encryption(z, static_cast<zip_uint64_t>(i), method, "right");
    };
    add("a/A.class", a, ZIP_EM_TRAD_PKWARE);
    add("META-INF/MANIFEST.MF", m, manifestEncrypted ? ZIP_EM_AES_256 : ZIP_EM_NONE);
    add("a/B.class", b, ZIP_EM_AES_256);
    zip_close(z);
    std::string bytes = ReadFile(path);
    fs::remove(path);
    return bytes;
}

// The archive's entries with a hundred sound ones before and after them.
std::string AmongMany(const std::string& archive) {
    using namespace rawzip;
    Builder b;
    for (int i = 0; i < 100; ++i)
        b.AddDeflated("pad/A" + std::to_string(i) + ".class", ClassLike(i, 500 + 37 * i));
    // Copies the entries over, local records and all, so that their damage
    // is kept byte for byte.
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* src = zip_source_buffer_create(archive.data(), archive.size(), 0, &error);
    zip_t* z = src != nullptr ? zip_open_from_source(src, ZIP_RDONLY, &error) : nullptr;
    zip_error_fini(&error);
    if (z == nullptr) {
        zip_source_free(src);
        return {};
    }
    for (zip_int64_t i = 0; i < zip_get_num_entries(z, 0); ++i) {
        zip_stat_t st;
        zip_stat_index(z, static_cast<zip_uint64_t>(i), 0, &st);
        std::string packed;
        if (zip_file_t* f = zip_fopen_index(z, static_cast<zip_uint64_t>(i), ZIP_FL_COMPRESSED)) {
            char buffer[65536];
            zip_int64_t n = 0;
            while ((n = zip_fread(f, buffer, sizeof buffer)) > 0)
                packed.append(buffer, static_cast<std::size_t>(n));
            zip_fclose(f);
        }
        zip_uint8_t opsys = 0;
        zip_uint32_t attributes = 0;
        zip_file_get_external_attributes(z, static_cast<zip_uint64_t>(i), 0, &opsys, &attributes);
        b.Add({st.name, static_cast<std::uint16_t>(st.comp_method), st.crc, packed.size(), st.size,
               attributes, static_cast<std::uint16_t>(opsys == ZIP_OPSYS_UNIX ? kMadeByUnix : 20)},
              packed);
    }
    zip_discard(z);
    for (int i = 0; i < 100; ++i)
        b.AddDeflated("pad/Z" + std::to_string(i) + ".class", ClassLike(i + 100, 500 + 41 * i));
    return b.Finish();
}

std::vector<Case> DamagedArchives(const std::string& scratch) {
    using namespace rawzip;
    std::vector<Case> all;
    {
        Builder b;
        b.AddDeflated("META-INF/MANIFEST.MF", kManifest);
        AddWithBadCrc(b, "a/Stored.class", ClassLike(1), true);
        AddWithBadCrc(b, "a/Deflated.class", ClassLike(2), false);
        b.AddDeflated("a/Good.class", ClassLike(3));
        all.push_back(
            {"bad-crc-after-the-manifest", b.Finish(), {}, true, {"a/Stored.class", "a/Deflated.class"}});
    }
    {
        Builder b;
        AddWithBadCrc(b, "a/Deflated.class", ClassLike(2), false);
        b.AddDeflated("META-INF/MANIFEST.MF", kManifest);
        all.push_back({"bad-crc-before-the-manifest", b.Finish(), {}, true, {"a/Deflated.class"}});
    }
    {
        std::string packed = Deflate(ClassLike(4));
        for (std::size_t i = packed.size() / 3; i < packed.size() / 3 + 40; ++i)
            packed[i] = static_cast<char>(packed[i] ^ 0xa5);
        Builder b;
        b.AddDeflated("META-INF/MANIFEST.MF", kManifest);
        b.Add({"a/Corrupt.class", kDeflated, Crc(ClassLike(4)), packed.size(), 6000}, packed);
        all.push_back({"corrupt-deflate-data", b.Finish(), {}, true, {"a/Corrupt.class"}});
    }
    {
        const std::string packed = Deflate(ClassLike(5)).substr(0, 200);
        Builder b;
        b.Add({"a/Cut.class", kDeflated, Crc(ClassLike(5)), packed.size(), 6000}, packed);
        b.AddDeflated("META-INF/MANIFEST.MF", kManifest);
        all.push_back({"deflate-data-cut-short", b.Finish(), {}, true, {"a/Cut.class"}});
    }
    {
        const std::string packed = Deflate(ClassLike(6));
        Builder b;
        b.AddDeflated("META-INF/MANIFEST.MF", kManifest);
        b.Add({"a/Beyond.class", kDeflated, Crc(ClassLike(6)), 0x7fffffffu, 6000}, packed);
        // The deflated stream ends where it should, but the stated size runs
        // into the central directory: the archive is refused whole.
        all.push_back({"compressed-size-beyond-the-end", b.Finish()});
    }
    {
        Builder b;
        b.AddDeflated("META-INF/MANIFEST.MF", kManifest);
        for (int i = 0; i < 20; ++i)
            b.AddDeflated("a/C" + std::to_string(i) + ".class", ClassLike(i));
        const std::string whole = b.Finish();
        all.push_back({"archive-cut-in-half", whole.substr(0, whole.size() / 2)});
    }
    {
        const std::string data = ClassLike(7);
        Builder b;
        b.AddDeflated("META-INF/MANIFEST.MF", kManifest);
        b.Add({"a/Imploded.class", 6, Crc(data), data.size(), data.size()}, data);
        b.Add({"a/Shrunk.class", 1, Crc(data), data.size(), data.size()}, data);
        all.push_back({"unsupported-methods", b.Finish(), {}, true, {"a/Imploded.class", "a/Shrunk.class"}});
    }
    {
        Builder b;
        b.AddStored("x/MANIFEST.MF", "first");
        b.AddDeflated("META-INF/MANIFEST.MF", "second");
        b.AddDeflated("a/Game.class", ClassLike(8));
        b.AddStored("y/z/MANIFEST.MF", "third");
        all.push_back({"duplicate-manifests", b.Finish(), {}, false});
    }
    {
        Builder b;
        b.AddDeflated("META-INF/MANIFEST.MF", "first");
        AddWithBadCrc(b, "other/MANIFEST.MF", "damaged last", false);
        all.push_back(
            {"damaged-last-manifest-keeps-the-one-before", b.Finish(), {}, true, {"other/MANIFEST.MF"}});
    }
    {
        // Names that reach the bare name MANIFEST.MF in unusual ways, or look
        // like it without being it.
        Builder b;
        b.AddStored("a\\MANIFEST.MF", "backslash");
        b.AddStored("META-INF/MANIFEST.MF/", "a folder entry with data");
        b.AddStored("META-INF/manifest.mf", "other case");
        b.AddStored("META-INF/MANIFEST.MF ", "trailing blank");
        all.push_back({"names-near-the-manifest", b.Finish(), {}, false});
    }
    {
        Builder b;
        b.AddDeflated("META-INF/MANIFEST.MF", kManifest);
        b.AddStored("lnk.class", "/etc/passwd", kLinkAttributes, kMadeByUnix);
        b.AddStored("a/..", "climbing");
        b.AddStored("", "nameless");
        b.AddStored("a/./", "");
        all.push_back({"skipped-names-and-links", b.Finish()});
    }
    // Honest entries that together inflate to more than the run's limit.
    const auto beyondTheLimit = [] {
        std::uint32_t crc = 0;
        const std::uint64_t size = 4ull << 20;
        const std::string packed = DeflateRepeated(size, "0123456789abcdef", crc);
        Builder b;
        b.AddDeflated("META-INF/MANIFEST.MF", kManifest);
        for (int i = 0; i < 80; ++i)
            b.Add({"res/block" + std::to_string(i), kDeflated, crc, packed.size(), size}, packed);
        return b;
    };
    {
        // The run stops at the same entry either way.
        Builder b = beyondTheLimit();
        b.AddStored("late/MANIFEST.MF", "never reached");
        all.push_back({"many-entries-beyond-the-limit", b.Finish(), {}, true, {"res/block63"}});
    }
    {
        // With nothing written after the manifest, the stop falls among
        // entries that are only tested.
        Builder b = beyondTheLimit();
        AddWithBadCrc(b, "res/after-the-stop.class", ClassLike(9), false);
        all.push_back({"limit-crossed-after-the-last-manifest", b.Finish(), {}, true, {"res/block63"}});
    }
    const std::string plain = EncryptedArchive(scratch + "/plain-manifest.zip", false);
    all.push_back({"encrypted-no-password", plain, {}, true, {"a/A.class", "a/B.class"}});
    all.push_back({"encrypted-right-password", plain, {"right"}, false});
    all.push_back({"encrypted-wrong-then-right", plain, {"wrong", "right"}, false});
    all.push_back({"encrypted-wrong-then-none", plain, {"wrong"}, true, {"a/A.class", "a/B.class"}});
    const std::string locked = EncryptedArchive(scratch + "/locked-manifest.zip", true);
    all.push_back({"encrypted-manifest-no-password",
                   locked,
                   {},
                   true,
                   {"a/A.class", "META-INF/MANIFEST.MF", "a/B.class"}});
    all.push_back({"encrypted-manifest-right-password", locked, {"right"}, false});

    // The same among a hundred sound entries on either side, where the run
    // checks entries ahead on two threads. (A copy states the true size of
    // what it copied, so a lying compressed size is not kept.)
    const std::size_t single = all.size();
    for (std::size_t k = 0; k < single; ++k) {
        const Case& c = all[k];
        if (c.name == "archive-cut-in-half" || c.name == "many-entries-beyond-the-limit" ||
            c.name == "compressed-size-beyond-the-end" || c.name.rfind("encrypted", 0) == 0)
            continue;
        std::string many = AmongMany(c.bytes);
        if (!many.empty()) // an archive refused whole has no entries to put among others
            all.push_back(
                {c.name + "-among-many", std::move(many), c.passwords, c.damaged, c.damagedEntries});
    }
    return all;
}

// What one run showed and left.
struct Outcome {
    int result = 0;
    std::string message;
    std::vector<std::string> questions;
    std::optional<std::string> manifest;
    std::vector<std::string> files;
    std::vector<std::string> damagedEntries;
};

Outcome RunFlat(const std::string& archive, const std::string& target,
                const std::deque<std::string>& passwords, const std::vector<std::string>& written) {
    fs::remove_all(target);
    MakeDir(target);
    ScriptedUi ui;
    ui.inputs = passwords;
    CGUnzipFiles job(ui);
    job.LetHonorDirectories(false);
    job.LetWrittenNames(written);
    Outcome o;
    o.result = job.Unzip(archive, target);
    o.message = job.GetLastMessage();
    o.damagedEntries = job.GetDamagedEntries();
    for (const auto& s : ui.shown)
        o.questions.push_back(s.kind + ": " + s.text);
    if (Exists(target + "/MANIFEST.MF"))
        o.manifest = ReadFile(target + "/MANIFEST.MF");
    o.files = ListDir(target);
    return o;
}

// Returns the outcome of the run that writes only the manifest.
Outcome ExpectSameOutcome(const std::string& what, const std::string& archive, const std::string& target,
                          const std::deque<std::string>& passwords) {
    const Outcome all = RunFlat(archive, target, passwords, {});
    Outcome some = RunFlat(archive, target, passwords, {"MANIFEST.MF"});
    EXPECT_EQ(some.result, all.result) << what;
    EXPECT_EQ(some.message, all.message) << what;
    EXPECT_EQ(some.questions, all.questions) << what;
    EXPECT_EQ(some.damagedEntries, all.damagedEntries) << what;
    EXPECT_EQ(some.manifest, all.manifest) << what;
    EXPECT_EQ(some.files,
              some.manifest ? std::vector<std::string>{"MANIFEST.MF"} : std::vector<std::string>{})
        << what;
    return some;
}

class WrittenNames : public ::testing::Test {
  protected:
    void SetUp() override { CodeModule::SetLibrary(&CodeModule::DefaultLibrary()); }

    TempDir dir;
    std::string target = dir / "out";
    std::string Put(const std::string& name, const std::string& bytes) {
        WriteFile(dir / name, bytes);
        return dir / name;
    }
};

} // namespace

TEST_F(WrittenNames, DamagedArchivesGiveTheSameCodesMessagesAndManifest) {
    for (const auto& c : DamagedArchives(dir.path())) {
        ASSERT_FALSE(c.bytes.empty()) << c.name;
        const std::string path = Put(c.name + ".jar", c.bytes);
        const Outcome some = ExpectSameOutcome(c.name, path, target, c.passwords);
        // The damage is found at all: the two runs are not merely equally silent.
        EXPECT_EQ(some.result != 0, c.damaged) << c.name << ": " << some.message;
        if (c.damaged) {
            EXPECT_NE(some.message, "") << c.name;
        }
        EXPECT_EQ(some.damagedEntries, c.damagedEntries) << c.name << ": " << some.message;
    }
}

TEST_F(WrittenNames, HostileArchivesStayWithinTheLimitsWhenTestedInMemory) {
    MakeDir(dir / "victim");
    for (const auto& archive : HostileArchives(dir / "victim")) {
        if (archive.name.rfind("manifest-of-", 0) == 0)
            continue; // nothing but a manifest, written either way
        const std::string path = Put("hostile.jar", archive.build());
        if (archive.name != "strange-names") {
            ExpectSameOutcome(archive.name, path, target, {});
            continue;
        }
        // A name too long for the file system fails only when it is written;
        // tested, that entry is fine, and the rest is reported as before.
        const Outcome all = RunFlat(path, target, {}, {});
        const Outcome some = RunFlat(path, target, {}, {"MANIFEST.MF"});
        const std::string tooLong = "error:  cannot create " + target + "/" + std::string(1000, 'n') +
                                    "\n        File name too long\n";
        ASSERT_NE(all.message.find(tooLong), std::string::npos) << all.message;
        EXPECT_EQ(some.message, std::string(all.message).erase(all.message.find(tooLong), tooLong.size()));
        EXPECT_EQ(all.result, unzipdll::kError);
        EXPECT_EQ(some.result, unzipdll::kWarning);
        EXPECT_EQ(some.manifest, all.manifest);
    }
    EXPECT_TRUE(ListDir(dir / "victim").empty());
}

TEST_F(WrittenNames, TestedEntriesLeaveTheTargetFolderAsItWas) {
    rawzip::Builder b;
    b.AddDeflated("META-INF/MANIFEST.MF", kManifest);
    b.AddDeflated("a/Game.class", ClassLike(1));
    b.AddStored("META-INF/.hidden", "from the archive");
    b.AddStored("res/sub", "a file where the target has a folder");
    const std::string path = Put("a.jar", b.Finish());

    MakeDir(target);
    WriteFile(target + "/Game.class", "kept");
    ::chmod((target + "/Game.class").c_str(), 0444);
    WriteFile(target + "/.hidden", "mine");
    MakeDir(target + "/sub");
    WriteFile(target + "/MANIFEST.MF", "stale");

    ScriptedUi ui;
    CGUnzipFiles job(ui);
    job.LetHonorDirectories(false);
    job.LetWrittenNames({"MANIFEST.MF"});
    EXPECT_EQ(job.GetWrittenNames(), std::vector<std::string>{"MANIFEST.MF"});
    EXPECT_EQ(job.Unzip(path, target), 0) << job.GetLastMessage();
    EXPECT_EQ(ListDir(target), (std::vector<std::string>{".hidden", "Game.class", "MANIFEST.MF", "sub"}));
    EXPECT_EQ(ReadFile(target + "/MANIFEST.MF"), kManifest);
    EXPECT_EQ(ReadFile(target + "/Game.class"), "kept");
    EXPECT_EQ(ReadFile(target + "/.hidden"), "mine");
    EXPECT_TRUE(ListDir(target + "/sub").empty());

    // At message level 0 a tested entry says so instead of claiming a file.
    job.LetMessageLevel(0);
    EXPECT_EQ(job.Unzip("", ""), 0);
    const std::string msg = job.GetLastMessage();
    EXPECT_NE(msg.find("    testing: a/Game.class   OK\n"), std::string::npos) << msg;
    EXPECT_NE(msg.find("  inflating: " + target + "/MANIFEST.MF\n"), std::string::npos) << msg;
    EXPECT_EQ(msg.find("inflating: " + target + "/Game.class"), std::string::npos) << msg;
}

TEST_F(WrittenNames, KeptFoldersWriteOnlyTheNamedFilesAndCreateNoEmptyFolders) {
    rawzip::Builder b;
    b.AddStored("empty/", "");
    b.AddDeflated("META-INF/MANIFEST.MF", kManifest);
    b.AddDeflated("a/b/Game.class", ClassLike(1));
    b.AddStored("my file.txt", "blank in the name");
    const std::string path = Put("a.jar", b.Finish());

    ScriptedUi ui;
    CGUnzipFiles job(ui);
    job.LetWrittenNames({"MANIFEST.MF", "my_file.txt"});
    job.LetSpaceToUnderScore(true); // names compare as the files would be called
    MakeDir(target);
    EXPECT_EQ(job.Unzip(path, target), 0) << job.GetLastMessage();
    EXPECT_EQ(ListDir(target), (std::vector<std::string>{"META-INF", "my_file.txt"}));
    EXPECT_EQ(ListDir(target + "/META-INF"), std::vector<std::string>{"MANIFEST.MF"});

    // An empty list writes every entry again.
    job.LetWrittenNames({});
    EXPECT_EQ(job.Unzip("", ""), 0);
    EXPECT_EQ(ListDir(target), (std::vector<std::string>{"META-INF", "a", "empty", "my_file.txt"}));
    EXPECT_EQ(ReadFile(target + "/a/b/Game.class"), ClassLike(1));
}

TEST(WrittenNamesLibrary, NullNamesInTheListWriteNothing) {
    TempDir dir;
    rawzip::Builder b;
    b.AddStored("MANIFEST.MF", "m");
    WriteFile(dir / "a.jar", b.Finish());
    const std::string zip = dir / "a.jar";
    const std::string out = dir / "out";
    unzipdll::UnzipOptions options{};
    options.overwriteFiles = 1;
    options.zipFileName = zip.c_str();
    options.extractDir = out.c_str();
    const char* const names[] = {nullptr};
    options.writtenNameCount = 1;
    options.writtenNames = names;
    unzipdll::UnzipUserFunctions callbacks{};
    EXPECT_EQ(unzipdll::Wiz_SingleEntryUnzip(0, nullptr, 0, nullptr, &options, &callbacks), 0);
    EXPECT_TRUE(ListDir(out).empty());
}
