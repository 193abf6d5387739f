// The JAD tool kept running for a batch: every command line must give what a
// separate run of it gives (exit code, output, files), whatever bytes its
// arguments hold and whatever happened to the tool process before.
#include "process/WarmJadTool.h"
#include "process/Quoting.h"
#include "process/RunAndWait.h"
#include "support/JavaFixture.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace jarseal;
using namespace jarseal::test;

namespace {

const std::string kBuild = JARSEAL_BUILD_DIR;
const std::string kJadTool = kBuild + "/data/jadtool.jar";
const std::string kChainStore = kBuild + "/tests/jadtool/chain.jks"; // store-pw; signer/key-pw

bool JavaWorks() {
    return std::system("java -version >/dev/null 2>&1") == 0 && Exists(kJadTool);
}

#define SKIP_WITHOUT_JAVA()                                                                                  \
    if (!JavaWorks())                                                                                        \
    GTEST_SKIP() << "java or data/jadtool.jar missing"

std::string Q(const std::string& s) {
    return QuotedArgument(s);
}

// Every file below a folder with its content.
std::map<std::string, std::string> Snapshot(const std::string& folder) {
    std::map<std::string, std::string> files;
    for (const auto& e : std::filesystem::recursive_directory_iterator(folder))
        if (e.is_regular_file())
            files[e.path().string()] = ReadFile(e.path().string());
    return files;
}

std::string SomeJarBytes(int seed) {
    std::string bytes = "PK\3\4";
    for (int i = 0; i < 30000; ++i)
        bytes += static_cast<char>((i * 7919 + seed) % 251);
    return bytes;
}

// A package folder whose name holds blanks, quotes, a backslash before a
// quote and non-ASCII letters, with a suite in it.
struct OddFolder {
    TempDir dir;
    std::string folder = dir / "my \"odd\" apps\\ \xD0\xB8\xD0\xB3\xD1\x80\xD1\x8B/";
    OddFolder() {
        MakeDir(folder);
        WriteFile(folder + "game.jar", SomeJarBytes(1));
        WriteFile(folder + "game.jad", "MIDlet-Name: \xD0\x98\xD0\xB3\xD1\x80\xD0\xB0\r\n"
                                       "MIDlet-Jar-URL: game.jar\r\n");
    }
};

// The two command lines of the Java job for a suite in folder.
std::string AddCert(const std::string& folder, const std::string& storepass = "store-pw") {
    return "java.exe -jar " + Q(kJadTool) + " -addcert -alias signer -keystore " + Q(kChainStore) +
           " -storepass " + CommandLineArgument(storepass) + " -inputjad " + Q(folder + "game.jad") +
           " -outputjad " + Q(folder + "temp.jad");
}
std::string AddJarSig(const std::string& folder, const std::string& keypass = "key-pw") {
    return "java.exe -jar " + Q(kJadTool) + " -addjarsig -alias signer -keystore " + Q(kChainStore) +
           " -storepass store-pw -keypass " + CommandLineArgument(keypass) + " -inputjad " +
           Q(folder + "temp.jad") + " -outputjad " + Q(folder + "game.jad") + " -jarfile " +
           Q(folder + "game.jar");
}

// Runs each command line as a separate process and through the warm runner,
// from the same files, and expects the same exit code, output and files, and
// the given exit codes where there are any.
void ExpectSameAsSeparateRuns(WarmJadTool& warm, const std::string& folder,
                              const std::vector<std::string>& commandLines,
                              const std::vector<int>& statuses = {}) {
    const auto before = Snapshot(folder);
    std::vector<RunOutput> separate;
    for (const auto& line : commandLines)
        separate.push_back(RunAndWaitCapture(line));
    const auto afterSeparate = Snapshot(folder);

    std::filesystem::remove_all(folder);
    MakeDir(folder);
    for (const auto& [path, content] : before)
        WriteFile(path, content);
    for (std::size_t i = 0; i < commandLines.size(); ++i) {
        const RunOutput got = warm.Run(commandLines[i]);
        EXPECT_EQ(got.exitCode, separate[i].exitCode) << commandLines[i];
        EXPECT_EQ(got.output, separate[i].output) << commandLines[i];
        if (i < statuses.size()) {
            EXPECT_EQ(got.exitCode, statuses[i]) << commandLines[i] << ": " << got.output;
        }
    }
    EXPECT_EQ(Snapshot(folder), afterSeparate);
}

} // namespace

TEST(WarmJadTool, SignsOddPathsAndReportsFailuresExactlyAsSeparateRuns) {
    SKIP_WITHOUT_JAVA();
    OddFolder suite;
    const std::string& f = suite.folder;
    WarmJadTool warm(kJadTool);
    const std::string tool = "java.exe -jar " + Q(kJadTool);
    ExpectSameAsSeparateRuns(
        warm, f,
        {
            AddCert(f, "wrong pass \"quoted\" \xC3\xBC"), // fails: the store's password
            AddCert(f),                                   // then the good pair
            AddJarSig(f),
            AddJarSig(f, "no such key password"),
            tool + " -addcert -alias \"\" -keystore " + Q(kChainStore) + " -storepass store-pw -inputjad " +
                Q(f + "game.jad") + " -outputjad " + Q(f + "out.jad"), // an empty argument
            tool + " -addcert -alias signer -keystore " + Q(f + "\xFF\xFE no store") +
                " -storepass x -inputjad " + Q(f + "game.jad") + " -outputjad " + Q(f + "out.jad"),
            tool,                      // no command at all
            tool + " -sign",           // unknown command
            tool + " -addcert -alias", // option without its value
            tool + " -help",           // standard output, several lines
            tool + " -showcert -all -inputjad " + Q(f + "game.jad"),
        });
    EXPECT_EQ(warm.Answered(), 11u); // all answered by one tool process, none run on its own
    // The suite was really signed (Java reads non-ASCII file names only in a
    // UTF-8 locale; elsewhere both kinds of run fail alike).
    if (Utf8Locale()) {
        EXPECT_NE(ReadFile(f + "game.jad").find("MIDlet-Jar-RSA-SHA1: "), std::string::npos);
    }

    // Each key store fault keeps its own exit status through the tool process:
    // 2 store file, 3 store password, 4 alias, 5 key password.
    TempDir plain;
    const std::string p = plain / "apps/";
    MakeDir(p);
    WriteFile(p + "game.jar", SomeJarBytes(3));
    WriteFile(p + "game.jad", "MIDlet-Name: Game\r\nMIDlet-Jar-URL: game.jar\r\n");
    const std::string out = " -inputjad " + Q(p + "game.jad") + " -outputjad " + Q(p + "out.jad");
    ExpectSameAsSeparateRuns(
        warm, p,
        {
            tool + " -addcert -alias signer -keystore " + Q(p + "game.jad") + " -storepass x" + out,
            AddCert(p, "wrong"),
            tool + " -addcert -alias nobody -keystore " + Q(kChainStore) + " -storepass store-pw" + out,
            AddCert(p),
            AddJarSig(p, "wrong"),
            // A store cut short after the tool process has loaded it is read
            // anew and refused, not served from memory.
            "cp " + Q(kChainStore) + " " + Q(p + "copy.jks"),
            tool + " -addcert -alias signer -keystore " + Q(p + "copy.jks") + " -storepass store-pw" + out,
            "truncate -s -1 " + Q(p + "copy.jks"),
            tool + " -addcert -alias signer -keystore " + Q(p + "copy.jks") + " -storepass store-pw" + out,
        },
        {2, 3, 4, 0, 5, 0, 0, 0, 2});
    EXPECT_EQ(warm.Answered(), 18u);
}

TEST(WarmJadTool, OtherCommandLinesRunAsProcessesOfTheirOwn) {
    SKIP_WITHOUT_JAVA();
    TempDir dir;
    const std::string other = dir / "jadtool.jar";
    std::filesystem::copy_file(kJadTool, other);
    WarmJadTool warm(kJadTool);

    const RunOutput child = warm.Run(Q(JARSEAL_TEST_CHILD) + " exit 3");
    EXPECT_EQ(child.exitCode, 3);
    const RunOutput args = warm.Run(Q(JARSEAL_TEST_CHILD) + " args \"a b\" c");
    EXPECT_EQ(args.output, "<a b>\n<c>\n");
    // Another jar, JVM options before -jar, another program: not the tool.
    EXPECT_EQ(warm.Run("java -jar " + Q(other) + " -sign").output,
              "jadtool: unknown command -sign (try -help)\n");
    EXPECT_EQ(warm.Run("java -Xmx64m -jar " + Q(kJadTool) + " -sign").exitCode, 1);
    EXPECT_EQ(warm.Run("nosuchjava.exe -jar " + Q(kJadTool) + " -help").exitCode, -1);
    EXPECT_EQ(warm.Answered(), 0u);
    EXPECT_EQ(warm.ServerProcess(), -1);

    EXPECT_EQ(warm.Run("java -jar " + Q(kJadTool) + " -sign").exitCode, 1);
    EXPECT_EQ(warm.Answered(), 1u);
}

TEST(WarmJadTool, RunnersSharingOneToolProcessGetWhatSeparateRunsGive) {
    SKIP_WITHOUT_JAVA();
    // A suite for each runner, and what separate runs make of it.
    TempDir dir;
    const std::vector<std::string> folders = {dir / "a/", dir / "b/"};
    const std::string firstJad = "MIDlet-Name: Game\r\nMIDlet-Jar-URL: game.jar\r\n";
    std::vector<std::string> expected;
    for (std::size_t i = 0; i < folders.size(); ++i) {
        MakeDir(folders[i]);
        WriteFile(folders[i] + "game.jar", SomeJarBytes(10 + static_cast<int>(i)));
        WriteFile(folders[i] + "game.jad", firstJad);
        ASSERT_EQ(RunAndWaitCapture(AddCert(folders[i])).exitCode, 0);
        ASSERT_EQ(RunAndWaitCapture(AddJarSig(folders[i])).exitCode, 0);
        expected.push_back(ReadFile(folders[i] + "game.jad"));
    }
    ASSERT_NE(expected[0], expected[1]);

    // Both runners at once, over and over: each gets its own answers.
    JadToolProcess process(kJadTool, 2);
    WarmJadTool first(process, 0);
    WarmJadTool second(process, 1);
    WarmJadTool* runners[] = {&first, &second};
    std::vector<int> wrong(2, 0);
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < 2; ++i)
        threads.emplace_back([&, i] {
            for (int k = 0; k < 10; ++k) {
                WriteFile(folders[i] + "game.jad", firstJad);
                if (runners[i]->Run(AddCert(folders[i])).exitCode != 0 ||
                    runners[i]->Run(AddJarSig(folders[i])).exitCode != 0 ||
                    ReadFile(folders[i] + "game.jad") != expected[i])
                    ++wrong[i];
            }
        });
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(wrong, (std::vector<int>{0, 0}));
    EXPECT_EQ(first.Answered(), 20u);
    EXPECT_EQ(second.Answered(), 20u);

    // Killed: the next request falls back to a run of its own, and a new
    // process serves both runners.
    const pid_t killed = process.Process();
    ASSERT_GT(killed, 0);
    ::kill(killed, SIGKILL);
    const std::string help = "java.exe -jar " + Q(kJadTool) + " -help";
    const RunOutput expectedHelp = RunAndWaitCapture(help);
    for (WarmJadTool* runner : {&first, &second, &first})
        EXPECT_EQ(runner->Run(help).output, expectedHelp.output);
    EXPECT_EQ(first.Answered() + second.Answered(), 42u);
    EXPECT_GT(process.Process(), 0);
    EXPECT_NE(process.Process(), killed);
}

TEST(WarmJadTool, KilledToolProcessFallsBackAndIsReplaced) {
    SKIP_WITHOUT_JAVA();
    OddFolder suite;
    const std::string& f = suite.folder;
    WarmJadTool warm(kJadTool);
    const std::string help = "java.exe -jar " + Q(kJadTool) + " -help";
    const RunOutput expected = RunAndWaitCapture(help);
    ASSERT_EQ(warm.Run(help).output, expected.output);
    const pid_t first = warm.ServerProcess();
    ASSERT_GT(first, 0);

    // Killed between two requests: this request runs on its own, with the
    // same result, and the next one starts a new tool process.
    ::kill(first, SIGKILL);
    ExpectSameAsSeparateRuns(warm, f, {AddCert(f), AddJarSig(f)});
    EXPECT_EQ(warm.Answered(), 2u); // the second of the pair, by a new process
    const pid_t second = warm.ServerProcess();
    EXPECT_GT(second, 0);
    EXPECT_NE(second, first);
    EXPECT_EQ(::waitpid(first, nullptr, WNOHANG), -1); // the killed one was reaped

    // Killed again: the same.
    ::kill(second, SIGKILL);
    const RunOutput again = warm.Run(help);
    EXPECT_EQ(again.exitCode, expected.exitCode);
    EXPECT_EQ(again.output, expected.output);
}

TEST(WarmJadTool, AReplacedJarOrOneThatCannotServeGetsSeparateRuns) {
    SKIP_WITHOUT_JAVA();
    TempDir dir;
    const std::string jar = dir / "jadtool.jar";
    std::filesystem::copy_file(kJadTool, jar);
    {
        WarmJadTool warm(jar);
        const std::string help = "java -jar " + Q(jar) + " -help";
        ASSERT_EQ(warm.Run(help).exitCode, 0);
        const pid_t first = warm.ServerProcess();
        ASSERT_EQ(warm.Run(help).exitCode, 0);
        EXPECT_EQ(warm.ServerProcess(), first);
        // The jar changes: a separate run would load the new one.
        const timespec times[2] = {{0, UTIME_NOW}, {12345, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, jar.c_str(), times, 0), 0);
        ASSERT_EQ(warm.Run(help).exitCode, 0);
        EXPECT_NE(warm.ServerProcess(), first);
        EXPECT_EQ(warm.Answered(), 3u);
    }
    // A jar that is no tool at all: Java's own complaint, as from a separate run.
    WriteFile(jar, "not a jar");
    WarmJadTool warm(jar);
    const std::string line = "java -jar " + Q(jar) + " -help";
    const RunOutput expected = RunAndWaitCapture(line);
    for (int i = 0; i < 4; ++i) {
        const RunOutput got = warm.Run(line);
        EXPECT_EQ(got.exitCode, expected.exitCode);
        EXPECT_EQ(got.output, expected.output);
    }
    EXPECT_NE(expected.exitCode, 0);
    EXPECT_EQ(warm.Answered(), 0u);
    EXPECT_EQ(warm.ServerProcess(), -1);
}

TEST(WarmJadTool, ToolProcessHoldsNoRequestFileAndEndsWithItsRunner) {
    SKIP_WITHOUT_JAVA();
    TempDir dir;
    const std::string f = dir / "apps/";
    MakeDir(f);
    WriteFile(f + "game.jar", SomeJarBytes(2));
    WriteFile(f + "game.jad", "MIDlet-Jar-URL: game.jar\r\n");
    pid_t pid = -1;
    {
        WarmJadTool warm(kJadTool);
        ASSERT_EQ(warm.Run(AddCert(f)).exitCode, 0);
        ASSERT_EQ(warm.Run(AddJarSig(f)).exitCode, 0);
        pid = warm.ServerProcess();
        ASSERT_GT(pid, 0);
        const std::string fds = "/proc/" + std::to_string(pid) + "/fd";
        for (const auto& e : std::filesystem::directory_iterator(fds)) {
            std::error_code ec;
            const std::string target = std::filesystem::read_symlink(e.path(), ec).string();
            EXPECT_EQ(target.find(dir.path()), std::string::npos) << target;
            EXPECT_EQ(target.find(kChainStore), std::string::npos) << target;
        }
        // Nothing beside the request's own outputs.
        EXPECT_EQ(ListDir(f), (std::vector<std::string>{"game.jad", "game.jar", "temp.jad"}));
    }
    // The runner is gone and so is its tool process (reaped, not left behind).
    EXPECT_EQ(::kill(pid, 0), -1);
}

TEST(WarmJadTool, ServerEndsAtTheEndOfItsInputAndRefusesBrokenFrames) {
    SKIP_WITHOUT_JAVA();
    // Frames sent by hand: a clean end, a request cut off inside an argument,
    // and a count beyond the limits; and channels the process was not given,
    // which end it before it greets anyone.
    struct Input {
        std::vector<std::string> channels;
        std::string frames;
        int status;
        std::string answer;
    };
    const std::vector<Input> inputs = {
        {{}, "", 0, "jadsrv01"},
        {{}, std::string("\0\0\0\2\0\0\0\5-help\0\0\0\7", 15) + "abc", 2, "jadsrv01"},
        {{}, std::string("\x7F\xFF\xFF\xFF", 4), 2, "jadsrv01"},
        {{"7", "8"}, "", 2, ""},
        {{"7"}, "", 1, ""},
    };
    for (const auto& [channels, frames, status, expected] : inputs) {
        std::vector<std::string> args{"java", "-jar", kJadTool, "-serve"};
        args.insert(args.end(), channels.begin(), channels.end());
        int in[2], out[2];
        ASSERT_EQ(::pipe2(in, O_CLOEXEC), 0);
        ASSERT_EQ(::pipe2(out, O_CLOEXEC), 0);
        const pid_t pid = StartWithPipes(args, in[0], out[1]);
        ::close(in[0]);
        ::close(out[1]);
        ASSERT_GT(pid, 0);
        ASSERT_EQ(::write(in[1], frames.data(), frames.size()), static_cast<ssize_t>(frames.size()));
        ::close(in[1]);
        std::string answer;
        char buf[256];
        for (ssize_t n; (n = ::read(out[0], buf, sizeof buf)) > 0;)
            answer.append(buf, static_cast<std::size_t>(n));
        ::close(out[0]);
        int wstatus = 0;
        ASSERT_EQ(::waitpid(pid, &wstatus, 0), pid);
        ASSERT_TRUE(WIFEXITED(wstatus));
        EXPECT_EQ(WEXITSTATUS(wstatus), status) << frames.size();
        EXPECT_EQ(answer, expected) << "a greeting or nothing, and no answer";
    }
}
