// jarseal-cli on many suites signs them with one JAD tool process for the
// batch; the descriptors must be byte for byte those of separate runs.
#include "process/Quoting.h"
#include "support/CliFixture.h"
#include "support/JavaFixture.h"
#include "support/ZipBuilder.h"

#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace jarseal;
using namespace jarseal::test;

namespace {

std::string FindOnPath(const std::string& name) {
    const char* path = std::getenv("PATH");
    const std::string dirs = path != nullptr ? path : "";
    std::size_t start = 0;
    while (start <= dirs.size()) {
        std::size_t end = dirs.find(':', start);
        if (end == std::string::npos)
            end = dirs.size();
        const std::string candidate = dirs.substr(start, end - start) + "/" + name;
        if (end > start && ::access(candidate.c_str(), X_OK) == 0)
            return candidate;
        start = end + 1;
    }
    return {};
}

std::string Manifest(int i) {
    return "MIDlet-1: Game, /i.png, game.Main\r\nMIDlet-Name: Game " + std::to_string(i) +
           "\r\nMIDlet-Vendor: \xD0\x90\xD0\xBA\xD0\xBC\xD0\xB5\r\nMIDlet-Version: 1.0." + std::to_string(i) +
           "\r\nMicroEdition-Profile: MIDP-2.0\r\nMicroEdition-Configuration: CLDC-1.1\r\n"
           "MIDlet-Permissions: javax.microedition.io.Connector.sms\r\n";
}

// The program folder, with java on the search path replaced by a script that
// notes each start of it and then runs the real one.
struct BatchSigning : CliFixture {
    std::string log = root / "java-starts.log";
    std::string env;
    std::vector<std::string> suites;

    void SetUp() override {
        CliFixture::SetUp();
        if (IsSkipped())
            return;
        const std::string java = FindOnPath("java");
        ASSERT_FALSE(java.empty());
        MakeDir(root / "bin");
        WriteFile(root / "bin/java", "#!/bin/sh\nprintf '%s\\n' \"$*\" >>" + QuotedArgument(log) + "\nexec " +
                                         QuotedArgument(java) + " \"$@\"\n");
        ::chmod((root / "bin/java").c_str(), 0755);
        env = "env " + QuotedArgument("PATH=" + root / "bin:" + std::getenv("PATH")) + " ";

        // Two folders, one with blanks, a quote and (where Java can read
        // them) non-ASCII letters in its name.
        const std::string odd = root / ("suites/my 'odd' apps" +
                                        std::string(Utf8Locale() ? " \xD0\xB8\xD0\xB3\xD1\x80\xD1\x8B" : ""));
        MakeDir(root / "suites");
        MakeDir(odd);
        for (int i = 0; i < 6; ++i) {
            const std::string path = (i % 2 ? odd + "/g" : root / "suites/g") + std::to_string(i) + ".jar";
            std::string filler(20000 + 997 * i, '\0');
            for (std::size_t k = 0; k < filler.size(); ++k)
                filler[k] = static_cast<char>((k * 131 + i) % 256);
            WriteZip(path, {{"META-INF/MANIFEST.MF", Manifest(i)},
                            {"game/Main.class", "CAFEBABE"},
                            {"data.bin", filler}});
            suites.push_back(path);
        }
    }

    std::vector<std::string> Starts() {
        std::vector<std::string> lines;
        if (!Exists(log))
            return lines;
        const std::string text = ReadFile(log);
        for (std::size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
            lines.push_back(text.substr(start, end - start));
        ::unlink(log.c_str());
        return lines;
    }

    RunOutput CliWithLoggedJava(const std::string& args) {
        return RunAndWaitCapture(env + QuotedArgument(program + "/jarseal-cli") + " " + args);
    }

    // Each suite's descriptor, and no file but the suites and descriptors.
    std::vector<std::string> Descriptors() {
        std::vector<std::string> jads;
        for (const std::string& jar : suites) {
            const std::string jad = jar.substr(0, jar.size() - 1) + "d";
            jads.push_back(Exists(jad) ? ReadFile(jad) : "(none)");
            ::unlink(jad.c_str());
            EXPECT_FALSE(Exists(jar.substr(0, jar.rfind('/')) + "/temp.jad"));
        }
        return jads;
    }
};

} // namespace

TEST_F(BatchSigning, OneToolProcessForTheBatchAndTheSameDescriptors) {
    // Separate runs, one suite each: two tool processes a suite.
    for (const std::string& jar : suites) {
        const RunOutput out = CliWithLoggedJava("--permissions auto " + QuotedArgument(jar));
        ASSERT_EQ(out.exitCode, 0) << out.output;
    }
    const std::vector<std::string> separate = Descriptors();
    const auto separateStarts = Starts();
    EXPECT_EQ(separateStarts.size(), 2 * suites.size());
    for (const auto& line : separateStarts)
        EXPECT_EQ(line.find("-serve"), std::string::npos) << line;

    // One batch: one tool process for all of them, and the same files.
    const RunOutput batch = CliWithLoggedJava("--permissions auto " + QuotedArgument(root / "suites"));
    ASSERT_EQ(batch.exitCode, 0) << batch.output;
    const auto batchStarts = Starts();
    ASSERT_EQ(batchStarts.size(), 1u);
    EXPECT_EQ(batchStarts[0], "-jar " + program + "/data/jadtool.jar -serve");
    const std::vector<std::string> batched = Descriptors();
    for (std::size_t i = 0; i < suites.size(); ++i) {
        EXPECT_EQ(batched[i], separate[i]) << suites[i];
        EXPECT_NE(batched[i].find("MIDlet-Jar-RSA-SHA1: "), std::string::npos);
    }
    EXPECT_TRUE(ListDir(program + "/data/temp").empty());
}

TEST_F(BatchSigning, SettingsTheToolRefusesGiveEachSuiteTheSameMessageAsASeparateRun) {
    // A wrong store password: the tool's own complaint after the missing-Java
    // text, once for each suite, as separate runs give it.
    std::string ini = ReadFile(program + "/Jarseal.ini");
    ini.replace(ini.find("storepass=52039871"), 18, "storepass=wrong");
    WriteFile(program + "/Jarseal.ini", ini);

    const RunOutput single = CliWithLoggedJava(QuotedArgument(suites[0]));
    EXPECT_EQ(single.exitCode, 1);
    const std::string complaint = "jadtool: wrong password for key store " + program + "/data/key";
    ASSERT_NE(single.output.find(complaint), std::string::npos) << single.output;
    Descriptors();
    Starts();

    const RunOutput batch = CliWithLoggedJava(QuotedArgument(root / "suites"));
    EXPECT_EQ(batch.exitCode, 1);
    EXPECT_NE(batch.output.find("Итого: 6, готово 0, не выполнено 6, сбой 0"), std::string::npos)
        << batch.output;
    std::size_t complaints = 0;
    for (std::size_t at = 0; (at = batch.output.find(complaint, at)) != std::string::npos; ++at)
        ++complaints;
    // Passed on by the tool's output and repeated in each suite's message.
    std::size_t singleComplaints = 0;
    for (std::size_t at = 0; (at = single.output.find(complaint, at)) != std::string::npos; ++at)
        ++singleComplaints;
    EXPECT_EQ(complaints, 6 * singleComplaints);
    EXPECT_EQ(Starts().size(), 1u);
}
