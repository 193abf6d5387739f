// jarseal-cli on many suites signs them with one JAD tool process for the
// batch; the descriptors must be byte for byte those of separate runs.
#include "app/BatchReport.h"
#include "app/JksCertificate.h"
#include "process/Quoting.h"
#include "support/CliFixture.h"
#include "support/JavaFixture.h"
#include "support/ZipBuilder.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <poll.h>
#include <pty.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
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
    const RunOutput batch =
        CliWithLoggedJava("--jobs 1 --permissions auto " + QuotedArgument(root / "suites"));
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

    // Two workers on the two folders: one tool process with a channel for
    // each, the same files, each package's lines whole, and a report of every
    // suite in input order.
    const std::string report = root / "report.json";
    const RunOutput two = CliWithLoggedJava("--jobs 2 --permissions auto --report " + QuotedArgument(report) +
                                            " " + QuotedArgument(root / "suites"));
    ASSERT_EQ(two.exitCode, 0) << two.output;
    EXPECT_NE(two.output.find("Итого: 6, готово 6, не выполнено 0, сбой 0"), std::string::npos) << two.output;
    const auto twoStarts = Starts();
    ASSERT_EQ(twoStarts.size(), 1u);
    EXPECT_EQ(twoStarts[0], "-jar " + program + "/data/jadtool.jar -serve 3 4");
    const std::string json = ReadFile(report);
    const std::vector<std::string> twice = Descriptors();
    std::size_t at = 0;
    for (std::size_t i = 0; i < suites.size(); ++i) {
        EXPECT_EQ(twice[i], separate[i]) << suites[i];
        // In the order listed (sorted paths), each done with its jar's SHA-1.
        const std::size_t record = json.find("\"path\": \"" + suites[i] + "\"");
        ASSERT_NE(record, std::string::npos) << suites[i] << json;
        const std::string line = json.substr(record, json.find('\n', record) - record);
        EXPECT_NE(line.find("\"result\": \"done\""), std::string::npos) << line;
        EXPECT_NE(line.find("\"sha1\": \"" + Sha1Hex(ReadFile(suites[i])) + "\""), std::string::npos) << line;
        EXPECT_NE(line.find("\"certificate_sha1\": \""), std::string::npos) << line;
        EXPECT_NE(line.find(suites[i].substr(0, suites[i].size() - 1) + "d\""), std::string::npos) << line;
        EXPECT_EQ(i == 0 || record > at, i == 0 || suites[i] > suites[i - 1]);
        at = record;
    }
    WriteFile(root / "load.py", "import json, sys\nsys.exit(len(json.load(open(sys.argv[1]))) != 6)\n");
    EXPECT_EQ(RunAndWaitCapture("python3 " + QuotedArgument(root / "load.py") + " " + QuotedArgument(report))
                  .exitCode,
              0)
        << json;
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

    const RunOutput batch = CliWithLoggedJava("--jobs 1 " + QuotedArgument(root / "suites"));
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

TEST_F(BatchSigning, KeysOfTheRunFromEachSourceSignWithoutTouchingTheSettingsFileOrACommandLine) {
    const std::string store = root / "mine.p12";
    ASSERT_EQ(RunAndWaitCapture("keytool -genkeypair -noprompt -storetype PKCS12 -keystore " +
                                QuotedArgument(store) +
                                " -storepass secret1 -keypass secret1 -alias mine -keyalg RSA -keysize 2048 "
                                "-sigalg SHA1withRSA -validity 365 -dname CN=Mine")
                  .exitCode,
              0);
    WriteFile(root / "pw", "secret1\n");
    ASSERT_EQ(CliWithLoggedJava(QuotedArgument(suites[0])).exitCode, 0); // first run sets the folder up
    Descriptors();
    Starts();
    const std::string ini = ReadFile(program + "/Jarseal.ini");
    const std::string keys = "--keystore " + QuotedArgument(store) + " --alias mine ";
    const std::string cli = QuotedArgument(program + "/jarseal-cli");
    const std::string runs[] = {
        env + "STOREPW=secret1 " + cli + " " + keys + "--storepass env:STOREPW ",
        env + cli + " " + keys + "--storepass " + QuotedArgument("file:" + root / "pw") + " ",
        env + cli + " " + keys + "--storepass pass:secret1 --keypass pass:secret1 ",
        "sh -c " +
            QuotedArgument("printf 'secret1\\n' | " + env + cli + " " + keys + "--storepass stdin \"$0\""),
    };
    for (const std::string& run : runs) {
        const bool shell = run.rfind("sh -c", 0) == 0;
        const RunOutput out = RunAndWaitCapture(run + (shell ? " " : "") + QuotedArgument(suites[0]));
        EXPECT_EQ(out.exitCode, 0) << run << "\n" << out.output;
        EXPECT_NE(out.output.find("/CN=Mine"), std::string::npos) << out.output; // the root note
        EXPECT_EQ(ReadFile(program + "/Jarseal.ini"), ini);
        // The passwords reach the tool over its pipe only.
        for (const std::string& start : Starts())
            EXPECT_EQ(start, "-jar " + program + "/data/jadtool.jar -serve") << run;
        EXPECT_NE(Descriptors()[0].find("MIDlet-Jar-RSA-SHA1: "), std::string::npos) << run;
    }

    // Typed at a terminal, after a prompt: the password is not shown.
    int terminal = -1;
    const std::string typed = env + cli + " " + keys + "--storepass stdin " + QuotedArgument(suites[0]);
    const pid_t child = ::forkpty(&terminal, nullptr, nullptr, nullptr);
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::execl("/bin/sh", "sh", "-c", typed.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    std::string screen;
    // What the terminal shows next; false at its end (EIO once the child is
    // gone) or after a minute without a word, the child then killed.
    const auto readScreen = [&] {
        pollfd ready{terminal, POLLIN, 0};
        char piece[512];
        const ssize_t n = ::poll(&ready, 1, 60000) == 1 ? ::read(terminal, piece, sizeof piece) : -1;
        if (n > 0)
            screen.append(piece, static_cast<std::size_t>(n));
        else if (n < 0 && errno != EIO)
            ::kill(child, SIGKILL);
        return n > 0;
    };
    while (screen.find("--storepass: ") == std::string::npos && readScreen()) {
    }
    EXPECT_NE(screen.find("--storepass: "), std::string::npos) << screen;
    EXPECT_EQ(::write(terminal, "secret1\n", 8), 8);
    while (readScreen()) {
    }
    ::close(terminal);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << screen;
    EXPECT_EQ(screen.find("secret1"), std::string::npos) << screen;
    EXPECT_NE(Descriptors()[0].find("MIDlet-Jar-RSA-SHA1: "), std::string::npos);
    Starts();

    // A source that gives no password: a usage error, and nothing done.
    const RunOutput missing = RunAndWaitCapture(
        env + cli + " " + keys + "--storepass env:JARSEAL_NO_SUCH_VARIABLE " + QuotedArgument(suites[0]));
    EXPECT_EQ(missing.exitCode, 64) << missing.output;
    EXPECT_NE(missing.output.find("JARSEAL_NO_SUCH_VARIABLE"), std::string::npos);
    EXPECT_EQ(Descriptors()[0], "(none)");
    EXPECT_TRUE(Starts().empty());

    // A wrong password of the run: the job says to correct the run's keys,
    // not the settings, which played no part.
    const RunOutput wrong =
        RunAndWaitCapture(env + cli + " " + keys + "--storepass pass:wrong " + QuotedArgument(suites[0]));
    EXPECT_EQ(wrong.exitCode, 1) << wrong.output;
    EXPECT_NE(wrong.output.find("--storepass, --keypass)"), std::string::npos) << wrong.output;
    EXPECT_EQ(wrong.output.find("Jarseal.ini"), std::string::npos) << wrong.output;
}

namespace {

// Every file below a folder, hidden ones too, by its path below it.
std::map<std::string, std::string> TreeOf(const std::string& folder) {
    std::map<std::string, std::string> files;
    std::error_code ec;
    for (std::filesystem::recursive_directory_iterator it(folder, ec), end; !ec && it != end;
         it.increment(ec))
        if (it->is_regular_file())
            files[it->path().string().substr(folder.size() + 1)] = ReadFile(it->path().string());
    return files;
}

std::string Below(const std::string& path, const std::string& folder) {
    return path.substr(folder.size() + 1);
}

} // namespace

TEST_F(BatchSigning, OutWritesTheSignedTreeElsewhereAndLeavesTheInputAsItWas) {
    // A descriptor of the user's beside one suite, and a broken suite in a
    // folder of its own.
    WriteFile(root / "suites/g0.jad",
              "MIDlet-Jar-URL: g0.jar\r\nMIDlet-Install-Notify: http://example.org/\r\n");
    MakeDir(root / "suites/broken");
    WriteFile(root / "suites/broken/bad.jar", "not an archive");
    const auto before = TreeOf(root / "suites");
    ASSERT_EQ(before.size(), suites.size() + 2);

    RunOutput out = CliWithLoggedJava("--permissions auto --out " + QuotedArgument(root / "signed") + " " +
                                      QuotedArgument(root / "suites"));
    EXPECT_EQ(out.exitCode, 1) << out.output; // the broken one
    EXPECT_EQ(TreeOf(root / "suites"), before);
    // The attribute left out stays in the user's descriptor; no backup of it
    // is written anywhere.
    EXPECT_NE(out.output.find("MIDlet-Install-Notify (они остались в исходном дескрипторе"),
              std::string::npos)
        << out.output;
    EXPECT_EQ(out.output.find(".original"), std::string::npos) << out.output;
    const auto written = TreeOf(root / "signed");
    EXPECT_EQ(written.size(), 2 * suites.size()); // a jar and its descriptor each, nothing else
    for (const std::string& jar : suites) {
        const std::string name = Below(jar, root / "suites");
        EXPECT_EQ(written.count(name), 1u) << name;
        const std::string jad = name.substr(0, name.size() - 1) + "d";
        ASSERT_EQ(written.count(jad), 1u) << jad;
        EXPECT_NE(written.at(jad).find("MIDlet-Jar-RSA-SHA1: "), std::string::npos) << jad;
    }
    EXPECT_FALSE(Exists(root / "signed/broken"));
    const RunOutput check = RunAndWaitCapture(QuotedArgument(program + "/jarseal-cli") + " --check " +
                                              QuotedArgument(root / "signed"));
    EXPECT_EQ(check.exitCode, 0) << check.output;

    // A PATH that is a file: its name right below DIR. A DIR that would put
    // the output over the input: a usage error, and nothing done.
    out = CliWithLoggedJava("--out " + QuotedArgument(root / "one") + " " + QuotedArgument(suites[1]));
    EXPECT_EQ(out.exitCode, 0) << out.output;
    const std::string name = suites[1].substr(suites[1].rfind('/') + 1);
    EXPECT_EQ(ReadFile(root / ("one/" + name)), ReadFile(suites[1]));
    EXPECT_TRUE(Exists(root / ("one/" + name.substr(0, name.size() - 1) + "d")));
    for (const std::string& over : {root / "suites", root / "suites/."})
        EXPECT_EQ(
            CliWithLoggedJava("--out " + QuotedArgument(over) + " " + QuotedArgument(suites[0])).exitCode,
            64);
    // Two packages of one name from two PATHs would share an output.
    MakeDir(root / "other");
    WriteFile(root / "other/g0.jad", "MIDlet-Jar-URL: g0.jar\r\n");
    EXPECT_EQ(CliWithLoggedJava("--out " + QuotedArgument(root / "dup") + " " + QuotedArgument(suites[0]) +
                                " " + QuotedArgument(root / "other/g0.jad"))
                  .exitCode,
              64);
    EXPECT_FALSE(Exists(root / "dup"));
    EXPECT_EQ(TreeOf(root / "suites"), before);

    // A rerun with --skip-signed leaves out what this certificate signed,
    // without a JAD tool run; a suite changed since is signed again.
    Starts();
    const std::string rerun =
        "--skip-signed --permissions auto --out " + QuotedArgument(root / "signed") + " ";
    out = CliWithLoggedJava(rerun + "--report " + QuotedArgument(root / "skip.json") + " " +
                            QuotedArgument(root / "suites"));
    EXPECT_EQ(out.exitCode, 1) << out.output; // the broken one still fails
    EXPECT_NE(out.output.find("Итого: 7, готово 0, не выполнено 1, сбой 0, пропущено 6"), std::string::npos)
        << out.output;
    EXPECT_TRUE(Starts().empty());
    EXPECT_EQ(TreeOf(root / "signed"), written);
    // Each suite left out is reported with its signed jar's SHA-1.
    const std::string skipped = ReadFile(root / "skip.json");
    for (const std::string& jar : suites) {
        const std::string sha1 = Sha1Hex(ReadFile(root / ("signed/" + Below(jar, root / "suites"))));
        EXPECT_NE(skipped.find("\"sha1\": \"" + sha1 + "\""), std::string::npos) << jar << skipped;
    }
    ::unlink((root / "suites/broken/bad.jar").c_str());
    WriteZip(suites[2], {{"META-INF/MANIFEST.MF", Manifest(2)}, {"game/Main.class", "CAFEBABE"}});
    out = CliWithLoggedJava(rerun + QuotedArgument(root / "suites"));
    EXPECT_EQ(out.exitCode, 0) << out.output;
    EXPECT_NE(out.output.find("Итого: 6, готово 1, не выполнено 0, сбой 0, пропущено 5"), std::string::npos)
        << out.output;
    EXPECT_EQ(ReadFile(root / ("signed/" + Below(suites[2], root / "suites"))), ReadFile(suites[2]));
    // In place, and with another certificate: signed again.
    ASSERT_EQ(CliWithLoggedJava(QuotedArgument(suites[0])).exitCode, 0);
    out = CliWithLoggedJava("--skip-signed " + QuotedArgument(suites[0]));
    EXPECT_NE(out.output.find("пропущено"), std::string::npos) << out.output;
    const std::string store = root / "other.p12";
    ASSERT_EQ(RunAndWaitCapture("keytool -genkeypair -noprompt -storetype PKCS12 -keystore " +
                                QuotedArgument(store) +
                                " -storepass secret1 -alias a -keyalg RSA -keysize 2048 -sigalg SHA1withRSA "
                                "-validity 365 -dname CN=Other")
                  .exitCode,
              0);
    out = CliWithLoggedJava("--skip-signed --keystore " + QuotedArgument(store) +
                            " --alias a --storepass pass:secret1 " + QuotedArgument(suites[0]));
    EXPECT_NE(out.output.find("Итого: 1, готово 1"), std::string::npos) << out.output;
    Descriptors();

    // Runs killed in the output folder: one halfway through putting g2 in
    // place (its new jar in, its old descriptor moved aside), one after
    // putting a suite in where there was none, one before putting anything
    // in. The next run there puts g2's earlier pair back, removes the lone
    // jar and the hidden folders; a living run's hidden folder stays.
    const std::string signedFolder = root / "signed";
    const auto earlier = TreeOf(signedFolder);
    const std::string half = signedFolder + "/.jarseal-out.Killed";
    MakeDir(half);
    WriteFile(half + "/.placing", "g2.jar\ng2.jad\n");
    ASSERT_EQ(::rename((signedFolder + "/g2.jar").c_str(), (half + "/.old-g2.jar").c_str()), 0);
    WriteFile(signedFolder + "/g2.jar", "the killed run's jar");
    ASSERT_EQ(::rename((signedFolder + "/g2.jad").c_str(), (half + "/.old-g2.jad").c_str()), 0);
    WriteFile(half + "/g2.jad", "the killed run's descriptor");
    const std::string lone = signedFolder + "/.jarseal-out.Lone000";
    MakeDir(lone);
    WriteFile(lone + "/.placing", "new.jar\nnew.jad\n");
    WriteFile(signedFolder + "/new.jar", "placed");
    WriteFile(lone + "/new.jad", "not yet placed");
    MakeDir(signedFolder + "/.jarseal-out.Copied");
    WriteFile(signedFolder + "/.jarseal-out.Copied/g4.jar", "a copy");
    const std::string living = signedFolder + "/.jarseal-out.Living";
    MakeDir(living);
    WriteFile(living + "/g0.jar", "a copy");
    const int held = ::open((living + "/.lock").c_str(), O_RDWR | O_CREAT, 0600);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    out = CliWithLoggedJava("--out " + QuotedArgument(signedFolder) + " " + QuotedArgument(suites[4]));
    EXPECT_EQ(out.exitCode, 0) << out.output;
    auto after = TreeOf(signedFolder);
    EXPECT_EQ(after.erase(".jarseal-out.Living/g0.jar") + after.erase(".jarseal-out.Living/.lock"), 2u);
    for (const char* name : {"g4.jar", "g4.jad"}) // signed anew
        after[name] = earlier.at(name);
    EXPECT_EQ(after, earlier);
    ::close(held);
}

TEST_F(BatchSigning, UnsignedSuitesGetTheirPermissionLineAndInstallAsUntrusted) {
    const RunOutput out = CliWithLoggedJava("--unsigned --permissions http --out " +
                                            QuotedArgument(root / "out") + " " + QuotedArgument(suites[0]));
    EXPECT_EQ(out.exitCode, 0) << out.output;
    EXPECT_TRUE(Starts().empty()); // no JAD tool run
    const std::string jad = ReadFile(root / "out/g0.jad");
    EXPECT_EQ(jad.find("MIDlet-Jar-RSA-SHA1"), std::string::npos) << jad;
    EXPECT_EQ(jad.find("MIDlet-Certificate"), std::string::npos) << jad;
    const std::string line = "\r\nMIDlet-Permissions: javax.microedition.io.Connector.http\r\n";
    ASSERT_GT(jad.size(), line.size());
    EXPECT_EQ(jad.substr(jad.size() - line.size()), line) << jad;
    EXPECT_EQ(jad.find("\r\n\r\n"), std::string::npos) << jad;
    // The jar's manifest now asks for http, as the descriptor does.
    EXPECT_NE(ReadFile(root / "out/g0.jar"), ReadFile(suites[0]));
    const RunOutput check = RunAndWaitCapture(QuotedArgument(program + "/jarseal-cli") + " --check " +
                                              QuotedArgument(root / "out/g0.jad"));
    EXPECT_EQ(check.exitCode, 0) << check.output;
    EXPECT_NE(check.output.find("untrusted"), std::string::npos) << check.output;
}

TEST_F(BatchSigning, KeyStoresOldPhonesRefuseGetANoteNaming909) {
    const struct {
        const char* keytoolArgs;
        const char* said;
    } cases[] = {
        {"-keysize 2048", "MIDlet-Certificate-1-1 is signed with SHA256withRSA"}, // keytool's default
        {"-keysize 4096 -sigalg SHA1withRSA", "MIDlet-Certificate-1-1 has a 4096-bit RSA key"},
    };
    for (const auto& c : cases) {
        const std::string store = root / "modern.p12";
        ::unlink(store.c_str());
        ASSERT_EQ(RunAndWaitCapture("keytool -genkeypair -noprompt -storetype PKCS12 -keystore " +
                                    QuotedArgument(store) + " -storepass secret1 -alias a -keyalg RSA " +
                                    c.keytoolArgs + " -validity 365 -dname CN=Modern")
                      .exitCode,
                  0);
        const RunOutput out =
            CliWithLoggedJava("--keystore " + QuotedArgument(store) + " --alias a --storepass pass:secret1 " +
                              QuotedArgument(suites[0]));
        EXPECT_EQ(out.exitCode, 0) << out.output;
        for (const std::string& text : {out.output, Cli("--check " + QuotedArgument(suites[0])).output}) {
            const auto at = text.find(c.said);
            ASSERT_NE(at, std::string::npos) << text;
            EXPECT_NE(text.find("(909)", at), std::string::npos) << text;
        }
        Descriptors();
        Starts();
    }
}

TEST_F(BatchSigning, SymbianKeysOfTheRunAndOut) {
    ::symlink(JARSEAL_SIGNSIS, (program + "/data/signsis").c_str());
    MakeDir(root / "sis/deeper");
    const std::string sis = root / "sis/deeper/d.sis";
    WriteFile(sis, ReadFile(JARSEAL_BUILD_DIR "/sample/sample.sis"));
    ASSERT_EQ(CliWithLoggedJava(QuotedArgument(suites[0])).exitCode, 0); // first run sets the folder up
    const std::string ini = ReadFile(program + "/Jarseal.ini");
    const auto before = TreeOf(root / "sis");
    const std::string keys = "--certificate " + QuotedArgument(JARSEAL_BUILD_DIR "/data/symbian.cer") +
                             " --key " + QuotedArgument(JARSEAL_BUILD_DIR "/data/symbian.key") + " --out " +
                             QuotedArgument(root / "out") + " ";

    // A wrong passphrase: nothing below DIR.
    RunOutput out = CliWithLoggedJava(keys + "--passphrase pass:wrong " + QuotedArgument(root / "sis"));
    EXPECT_EQ(out.exitCode, 1) << out.output;
    EXPECT_FALSE(Exists(root / "out/deeper"));

    out = RunAndWaitCapture(env + "PP=52039871 " + QuotedArgument(program + "/jarseal-cli") + " " + keys +
                            "--passphrase env:PP " + QuotedArgument(root / "sis"));
    EXPECT_EQ(out.exitCode, 0) << out.output;
    EXPECT_EQ(TreeOf(root / "sis"), before);
    EXPECT_EQ(ReadFile(program + "/Jarseal.ini"), ini);
    const auto written = TreeOf(root / "out");
    ASSERT_EQ(written.size(), 1u);
    ASSERT_EQ(written.count("deeper/d.sis"), 1u);
    EXPECT_NE(written.at("deeper/d.sis"), before.at("deeper/d.sis"));
    const RunOutput check = RunAndWaitCapture(QuotedArgument(program + "/jarseal-cli") + " --check " +
                                              QuotedArgument(root / "out/deeper/d.sis"));
    EXPECT_EQ(check.exitCode, 0) << check.output;

    // Signed with this certificate already: left out.
    out = RunAndWaitCapture(env + "PP=52039871 " + QuotedArgument(program + "/jarseal-cli") + " " + keys +
                            "--skip-signed --passphrase env:PP " + QuotedArgument(root / "sis"));
    EXPECT_NE(out.output.find("Итого: 1, готово 0, не выполнено 0, сбой 0, пропущено 1"), std::string::npos)
        << out.output;
    EXPECT_EQ(TreeOf(root / "out"), written);
}

namespace {

// The certificate keytool exports for alias, as DER.
std::string KeytoolCertificate(const std::string& store, const std::string& password,
                               const std::string& alias, const std::string& folder) {
    const std::string out = folder + "/exported.der";
    const RunOutput run =
        RunAndWaitCapture("keytool -exportcert -keystore " + QuotedArgument(store) + " -storepass " +
                          password + " -alias " + alias + " -file " + QuotedArgument(out));
    return run.exitCode == 0 ? ReadFile(out) : std::string();
}

} // namespace

// The skip-signed run reads a JKS store's certificate without keytool: it
// must be the very certificate keytool gives, and a wrong password or a
// damaged store must give none (keytool then says why), never a crash.
TEST(JksCertificate, IsKeytoolsCertificateAndNoneForAWrongPasswordOrDamage) {
    TempDir dir;
    const struct {
        std::string store, password, alias;
    } cases[] = {
        {JARSEAL_BUILD_DIR "/data/key", "52039871", "jsk"},                   // the default store
        {JARSEAL_BUILD_DIR "/tests/jadtool/chain.jks", "store-pw", "signer"}, // a chain: the first
        {JARSEAL_BUILD_DIR "/tests/jadtool/chain.jks", "store-pw", "ROOT"},   // any letter case
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.store + " " + c.alias);
        const std::string store = ReadFile(c.store);
        const std::string expected = KeytoolCertificate(c.store, c.password, c.alias, dir.path());
        ASSERT_FALSE(expected.empty());
        EXPECT_EQ(JksCertificate(store, c.alias, c.password), expected);
        EXPECT_EQ(JksCertificate(store, c.alias, c.password + "x"), std::nullopt);
        EXPECT_EQ(JksCertificate(store, "nosuch", c.password), std::nullopt);
    }
    // Damage anywhere: every shorter store and every flipped byte.
    const std::string store = ReadFile(JARSEAL_BUILD_DIR "/data/key");
    for (std::size_t n = 0; n < store.size(); ++n) {
        EXPECT_EQ(JksCertificate(store.substr(0, n), "jsk", "52039871"), std::nullopt) << n;
        std::string flipped = store;
        flipped[n] = static_cast<char>(flipped[n] ^ 0x40);
        EXPECT_EQ(JksCertificate(flipped, "jsk", "52039871"), std::nullopt) << n;
    }
    EXPECT_EQ(JksCertificate(ReadFile(JARSEAL_BUILD_DIR "/tests/jadtool/solo.p12"), "solo", "p12-pw"),
              std::nullopt); // PKCS12: keytool's
}
