#include "support/ScriptedUi.h"
#include "support/TempDir.h"
#include "unzip/CGUnzipFiles.h"
#include "unzip/CodeModule.h"
#include "unzip/HostileArchives.h"
#include "unzip/RawZip.h"
#include "unzip/zipdll/UnzipDll.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

using namespace jarseal;
using namespace jarseal::test;
namespace fs = std::filesystem;

namespace {

// What an extraction left in a folder tree.
struct TreeSummary {
    std::uint64_t bytes = 0;
    std::size_t files = 0;
    std::vector<std::string> links;
    std::vector<std::string> partFiles;
};

TreeSummary Summarise(const std::string& folder) {
    TreeSummary s;
    for (const auto& e : fs::recursive_directory_iterator(folder)) {
        if (e.is_symlink())
            s.links.push_back(e.path().string());
        else if (e.is_regular_file()) {
            ++s.files;
            s.bytes += e.file_size();
            if (e.path().filename().string().rfind(".unzip-", 0) == 0)
                s.partFiles.push_back(e.path().string());
        }
    }
    return s;
}

// An archive folder, a target and a victim folder beside them.
struct Layout {
    TempDir root;
    std::string archives = root / "archives";
    std::string target = root / "out";
    std::string victim = root / "victim";
    ScriptedUi ui;
    CGUnzipFiles job{ui};

    Layout() {
        CodeModule::SetLibrary(&CodeModule::DefaultLibrary());
        MakeDir(archives);
        MakeDir(target);
        MakeDir(victim);
        WriteFile(victim + "/secret.txt", "secret");
    }
    std::string Put(const std::string& name, const std::string& bytes) {
        WriteFile(archives + "/" + name, bytes);
        return archives + "/" + name;
    }
    void ExpectNothingOutsideTarget(const std::string& what) {
        EXPECT_EQ(ListDir(root.path()), (std::vector<std::string>{"archives", "out", "victim"})) << what;
        EXPECT_EQ(ListDir(victim), std::vector<std::string>{"secret.txt"}) << what;
        EXPECT_EQ(ReadFile(victim + "/secret.txt"), "secret") << what;
    }
};

} // namespace

TEST(HostileUnzip, EveryArchiveStaysInsideTheTargetAndWithinTheLimits) {
    Layout l;
    for (const auto& archive : HostileArchives(l.victim)) {
        const std::string path = l.Put(archive.name + ".jar", archive.build());
        for (const bool honor : {true, false}) {
            const std::string what = archive.name + (honor ? " (folders kept)" : " (flat)");
            fs::remove_all(l.target);
            MakeDir(l.target);
            l.job.LetHonorDirectories(honor);
            const int result = l.job.Unzip(path, l.target);
            l.ExpectNothingOutsideTarget(what);
            if (result != 0) {
                EXPECT_FALSE(l.job.GetLastMessage().empty()) << what;
            }
            EXPECT_LE(l.job.GetLastMessage().size(), unzipdll::kMaxMessageBytes + 200) << what;
            const TreeSummary s = Summarise(l.target);
            EXPECT_TRUE(s.links.empty()) << what;
            EXPECT_TRUE(s.partFiles.empty()) << what;
            EXPECT_LE(s.bytes, unzipdll::kMaxTotalBytes) << what;
            EXPECT_LE(s.files, unzipdll::kMaxEntries) << what;
        }
        fs::remove(path);
    }
}

TEST(HostileUnzip, SizeLimitsCountInflatedBytesAndRemoveCutFiles) {
    Layout l;
    l.job.LetHonorDirectories(false);
    std::map<std::string, std::string> built;
    for (const auto& a : HostileArchives(l.victim))
        if (a.name.rfind("bomb", 0) == 0 || a.name.rfind("overlapping", 0) == 0 || a.name == "lying-sizes" ||
            a.name == "too-many-entries")
            built[a.name] = l.Put(a.name + ".jar", a.build());

    // Entries of more than 64 MiB are skipped one by one until the run has
    // inflated 256 MiB; the manifest before them is kept.
    EXPECT_EQ(l.job.Unzip(built["bomb-of-large-entries"], l.target), unzipdll::kBadZip);
    std::string msg = l.job.GetLastMessage();
    EXPECT_NE(msg.find("zeros0 unpacks to more than 64 MiB; Jarseal skips it"), std::string::npos) << msg;
    EXPECT_NE(msg.find("error:  archive unpacks to more than 256 MiB; Jarseal stops there"),
              std::string::npos);
    EXPECT_EQ(msg.find("zeros4 "), std::string::npos) << "the run goes no further than the limit";
    EXPECT_EQ(ListDir(l.target), std::vector<std::string>{"MANIFEST.MF"});
    EXPECT_EQ(l.job.GetDamagedEntries(), (std::vector<std::string>{"zeros0", "zeros1", "zeros2", "zeros3"}));

    // Entries within the single limit are kept until the total is reached;
    // the entry that crosses it is removed, not left half written.
    fs::remove_all(l.target);
    EXPECT_EQ(l.job.Unzip(built["bomb-of-allowed-entries"], l.target), unzipdll::kBadZip);
    EXPECT_EQ(ListDir(l.target),
              (std::vector<std::string>{"MANIFEST.MF", "part0", "part1", "part2", "part3", "part4"}));
    EXPECT_EQ(fs::file_size(l.target + "/part4"), 48u << 20);
    EXPECT_EQ(l.job.GetDamagedEntries(), std::vector<std::string>{"part5"});

    // Entries that share their data, or whose data runs past the entries,
    // are refused before anything (the target folder among it) is created.
    for (const auto& [name, what] : std::map<std::string, std::string>{{"overlapping-entries", " overlap"},
                                                                       {"overlapping-entry-bomb", " overlap"},
                                                                       {"lying-sizes", "beyond-end.txt"}}) {
        fs::remove_all(l.target);
        EXPECT_EQ(l.job.Unzip(built[name], l.target), unzipdll::kBadZip) << name;
        msg = l.job.GetLastMessage();
        EXPECT_EQ(msg.rfind("error [" + built[name] + "]:  ", 0), 0u) << msg;
        EXPECT_TRUE(msg.ends_with("; Jarseal unpacks none of it\n")) << msg;
        EXPECT_NE(msg.find(what), std::string::npos) << msg;
        EXPECT_FALSE(fs::exists(l.target)) << name;
        EXPECT_TRUE(l.job.GetDamagedEntries().empty()) << name;
    }

    // Too many entries: nothing is extracted, not even the first ones.
    fs::remove_all(l.target);
    EXPECT_EQ(l.job.Unzip(built["too-many-entries"], l.target), unzipdll::kBadZip);
    msg = l.job.GetLastMessage();
    EXPECT_NE(msg.find("more than 65536; Jarseal unpacks none of them"), std::string::npos) << msg;
    EXPECT_FALSE(fs::exists(l.target + "/MANIFEST.MF"));
}

TEST(HostileUnzip, MessagesOfEndlessBadEntriesAreCut) {
    Layout l;
    rawzip::Builder b;
    for (int i = 0; i < 3000; ++i)
        b.AddStored("climb" + std::to_string(i) + "/../../x", "x");
    const std::string path = l.Put("many.jar", b.Finish());
    EXPECT_EQ(l.job.Unzip(path, l.target), unzipdll::kWarning);
    const std::string msg = l.job.GetLastMessage();
    EXPECT_LE(msg.size(), unzipdll::kMaxMessageBytes + 100);
    EXPECT_NE(msg.find("climb0/../../x"), std::string::npos);
    EXPECT_EQ(msg.substr(msg.size() - 30), "... further messages left out\n");
    EXPECT_TRUE(ListDir(l.target).empty());
}
