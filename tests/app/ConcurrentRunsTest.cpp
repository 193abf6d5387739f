#include "check/SuiteCheck.h"
#include "common/FileSystem.h"
#include "support/CliFixture.h"
#include "support/Signature.h"
#include "support/ZipBuilder.h"

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <sys/file.h>
#include <unistd.h>
#include <vector>

using namespace jarseal;
using namespace jarseal::test;

namespace {

const std::vector<std::string> kNames = {"Alpha", "Bravo",   "Charlie", "Delta",
                                         "Echo",  "Foxtrot", "Golf",    "Hotel"};

// A suite of 300 entries whose manifest names it; big enough that two
// unpackings into one working folder would overlap in time.
void WriteSuite(const std::string& path, const std::string& name) {
    std::vector<std::pair<std::string, std::string>> entries;
    entries.emplace_back("META-INF/MANIFEST.MF", "Manifest-Version: 1.0\r\nMIDlet-1: " + name + ", /i.png, " +
                                                     name + ".Main\r\nMIDlet-Name: " + name +
                                                     "\r\nMIDlet-Vendor: Vendor " + name +
                                                     "\r\nMIDlet-Version: 1.0\r\n"
                                                     "MicroEdition-Profile: MIDP-2.0\r\n"
                                                     "MicroEdition-Configuration: CLDC-1.1\r\n\r\n");
    entries.emplace_back(name + "/Main.class", "CAFEBABE");
    for (int i = 0; i < 300; ++i)
        entries.emplace_back(name + "/r" + std::to_string(i) + ".bin",
                             name + std::string(200 + i % 50, static_cast<char>('a' + i % 26)));
    WriteZip(path, entries);
}

struct ConcurrentRuns : CliFixture {
    // Runs jarseal-cli on every jar at the same moment, one process each, and
    // checks that each descriptor holds its own suite and would install.
    // Run i uses programs[i % size], or the fixture's program folder.
    void RunAllAtOnce(const std::vector<std::pair<std::string, std::string>>& suites, int round,
                      const std::vector<std::string>& programs = {}) {
        std::vector<pid_t> pids;
        for (std::size_t i = 0; i < suites.size(); ++i) {
            const std::string& jar = suites[i].first;
            const std::string stem = jar.substr(0, jar.size() - 1);
            ::unlink((stem + "d").c_str());
            ::unlink((stem + "d.original").c_str());
            const std::string folder = programs.empty() ? program : programs[i % programs.size()];
            pids.push_back(StartCliIn(folder, {jar}, root / ("out" + std::to_string(i))));
        }
        for (std::size_t i = 0; i < suites.size(); ++i) {
            const auto& [jar, name] = suites[i];
            const std::string where = "round " + std::to_string(round) + ", " + name;
            EXPECT_EQ(WaitForExit(pids[i], 300), 0)
                << where << ": " << ReadFile(root / ("out" + std::to_string(i)));
            const std::string jadPath = jar.substr(0, jar.size() - 1) + "d";
            const std::string jad = Exists(jadPath) ? ReadFile(jadPath) : "";
            EXPECT_NE(jad.find("\r\nMIDlet-Name: " + name + "\r\n"), std::string::npos) << where << "\n"
                                                                                        << jad;
            EXPECT_NE(jad.find("\r\nMIDlet-Vendor: Vendor " + name + "\r\n"), std::string::npos) << where;
            const CheckReport report = CheckJavaSuite(jadPath, jar);
            EXPECT_FALSE(report.Refused())
                << where << ": " << (report.findings.empty() ? "" : report.findings[0].text);
        }
        for (const std::string& folder : programs.empty() ? std::vector<std::string>{program} : programs)
            EXPECT_TRUE(ListDir(folder + "/data/temp").empty()) << "round " << round;
    }
};

} // namespace

TEST_F(ConcurrentRuns, TwoAndEightRunsAtOnceEachKeepTheirOwnSuite) {
    std::vector<std::pair<std::string, std::string>> suites;
    for (const auto& name : kNames) {
        MakeDir(root / name);
        suites.emplace_back(root / (name + "/" + name + ".jar"), name);
        WriteSuite(suites.back().first, name);
    }
    const std::vector<std::pair<std::string, std::string>> two(suites.begin(), suites.begin() + 2);
    for (int round = 0; round < 4; ++round)
        RunAllAtOnce(two, round);
    for (int round = 4; round < 6; ++round)
        RunAllAtOnce(suites, round);

    // The runs that found the lock taken said so on standard error.
    int waited = 0;
    for (std::size_t i = 0; i < suites.size(); ++i)
        waited += ReadFile(root / ("out" + std::to_string(i))).find("ждёт") != std::string::npos;
    EXPECT_GE(waited, 1);
}

TEST_F(ConcurrentRuns, TwoSuitesOfOneFolderShareNoTemporaryDescriptor) {
    MakeDir(root / "apps");
    const std::vector<std::pair<std::string, std::string>> suites = {{root / "apps/Alpha.jar", "Alpha"},
                                                                     {root / "apps/Bravo.jar", "Bravo"}};
    for (const auto& [jar, name] : suites)
        WriteSuite(jar, name);
    for (int round = 0; round < 3; ++round)
        RunAllAtOnce(suites, round);
    EXPECT_FALSE(Exists(root / "apps/temp.jad"));
}

TEST_F(ConcurrentRuns, RunsOfTwoProgramFoldersOnOnePackageFolderEachKeepTheirOwnSuite) {
    const std::string other = root / "prog2";
    MakeProgramFolder(other);
    MakeDir(root / "apps");
    const std::vector<std::pair<std::string, std::string>> suites = {{root / "apps/Alpha.jar", "Alpha"},
                                                                     {root / "apps/Bravo.jar", "Bravo"}};
    for (const auto& [jar, name] : suites)
        WriteSuite(jar, name);
    for (int round = 0; round < 20; ++round)
        RunAllAtOnce(suites, round, {program, other});
    EXPECT_FALSE(Exists(root / "apps/temp.jad"));
}

TEST_F(ConcurrentRuns, ARunKilledHalfwayLeavesTheNextOneFreeToGoOn) {
    MakeDir(root / "apps");
    const std::string jar = root / "apps/Alpha.jar";
    WriteSuite(jar, "Alpha");
    for (int attempt = 0; attempt < 3; ++attempt) {
        const pid_t run = StartCli({jar}, root / "killed");
        // Kill it once it holds the lock, in the middle of its job.
        const int data = ::open((program + "/data").c_str(), O_RDONLY | O_DIRECTORY);
        ASSERT_GE(data, 0);
        bool held = false;
        for (int i = 0; i < 2000 && !held; ++i) {
            held = ::flock(data, LOCK_EX | LOCK_NB) != 0;
            if (!held) {
                ::flock(data, LOCK_UN);
                ::usleep(2000);
            }
        }
        ::close(data);
        ::usleep(attempt * 100 * 1000); // at different points of the job
        ::kill(run, SIGKILL);
        EXPECT_EQ(WaitForExit(run, 30), 128 + SIGKILL);
        ASSERT_TRUE(held);

        const RunOutput next = Cli("\"" + jar + "\"");
        EXPECT_EQ(next.exitCode, 0) << next.output;
        EXPECT_EQ(next.output.find("ждёт"), std::string::npos) << "the killed run's lock was left behind";
        EXPECT_FALSE(CheckJavaSuite(root / "apps/Alpha.jad", jar).Refused());
    }
}

TEST_F(ConcurrentRuns, FirstRunsOfAReadOnlyInstallAtOnceSignWithTheKeyStoreThatStays) {
    // A program folder its user may not write, as an installed package is:
    // each user gets settings, key store and Symbian pair in their own
    // folders on first use. The runs are another user's than the folder's.
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root, to run as another user than the program folder's";
    const std::string readOnly = root / "ro";
    MakeDir(readOnly + "/data");
    std::filesystem::copy_file(JARSEAL_BUILD_DIR "/jarseal-cli", readOnly + "/jarseal-cli");
    // A copy: the build folder may lie where the other user cannot enter.
    std::filesystem::copy_file(JARSEAL_BUILD_DIR "/data/jadtool.jar", readOnly + "/data/jadtool.jar");
    for (const std::string& dir : {root.path(), readOnly, readOnly + "/data"})
        ::chmod(dir.c_str(), 0755);
    const std::vector<std::string> names = {"Alpha", "Bravo"};
    for (const auto& name : names) {
        MakeDir(root / name);
        ::chmod((root / name).c_str(), 0777);
        WriteSuite(root / (name + "/" + name + ".jar"), name);
    }
    for (int round = 0; round < 20; ++round) {
        const std::string where = "round " + std::to_string(round);
        const std::string user = root / ("user" + std::to_string(round));
        MakeDir(user);
        ::chown(user.c_str(), 65534, 65534);
        ::setenv("XDG_CONFIG_HOME", (user + "/config").c_str(), 1);
        ::setenv("XDG_DATA_HOME", (user + "/data").c_str(), 1);
        std::vector<pid_t> pids;
        for (std::size_t i = 0; i < names.size(); ++i) {
            const std::string jar = root / (names[i] + "/" + names[i] + ".jar");
            ::unlink((jar.substr(0, jar.size() - 1) + "d").c_str());
            pids.push_back(StartCliIn(readOnly, {jar}, root / ("out" + std::to_string(i)), true));
        }
        std::vector<int> status;
        for (const pid_t pid : pids)
            status.push_back(WaitForExit(pid, 300));
        const pid_t exporter =
            StartCliIn(readOnly, {"--export-certificate", user + "/root.cer"}, root / "export", true);
        EXPECT_EQ(WaitForExit(exporter, 120), 0) << where << ": " << ReadFile(root / "export");
        ::unsetenv("XDG_CONFIG_HOME");
        ::unsetenv("XDG_DATA_HOME");
        const std::string der = Exists(user + "/root.cer") ? ReadFile(user + "/root.cer") : "";
        const auto* p = reinterpret_cast<const unsigned char*>(der.data());
        const CertPtr cert(d2i_X509(nullptr, &p, static_cast<long>(der.size())), X509_free);
        ASSERT_TRUE(cert) << where;
        for (std::size_t i = 0; i < names.size(); ++i) {
            const std::string jar = root / (names[i] + "/" + names[i] + ".jar");
            const std::string out = ReadFile(root / ("out" + std::to_string(i)));
            EXPECT_EQ(status[i], 0) << where << ", " << names[i] << ": " << out;
            if (status[i] != 0)
                continue;
            // Done: the signature is one the exported certificate verifies.
            const auto attrs = DescriptorAttributes(ReadFile(jar.substr(0, jar.size() - 1) + "d"));
            ASSERT_TRUE(attrs.count("MIDlet-Jar-RSA-SHA1")) << where;
            EXPECT_TRUE(VerifySha1Rsa(cert.get(), ReadFile(jar), attrs.at("MIDlet-Jar-RSA-SHA1")))
                << where << ", " << names[i];
        }
        for (const std::string& name : ListDir(user + "/data/jarseal"))
            EXPECT_EQ(name.find(kTempMark), std::string::npos) << where << ": " << name;
    }
}
