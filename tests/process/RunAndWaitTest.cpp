#include "process/RunAndWait.h"
#include "common/LocalTime.h"
#include "support/Child.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

using namespace jarseal;
using namespace jarseal::test;

namespace {

const std::string kChild = JARSEAL_TEST_CHILD;

std::string Quoted(const std::string& s) {
    return "\"" + s + "\"";
}

// Sets an environment variable for the life of the object.
class ScopedEnv {
  public:
    ScopedEnv(const char* name, const std::string& value) : name_(name) {
        const char* old = std::getenv(name);
        hadOld_ = old != nullptr;
        if (hadOld_)
            old_ = old;
        ::setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv() {
        if (hadOld_)
            ::setenv(name_, old_.c_str(), 1);
        else
            ::unsetenv(name_);
    }

  private:
    const char* name_;
    bool hadOld_ = false;
    std::string old_;
};

// Sends this program's standard error into a file while it lives.
class StderrToFile {
  public:
    explicit StderrToFile(const std::string& path) {
        saved_ = ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        ::dup2(fd, STDERR_FILENO);
        ::close(fd);
    }
    ~StderrToFile() {
        ::dup2(saved_, STDERR_FILENO);
        ::close(saved_);
    }

  private:
    int saved_ = -1;
};

using Args = std::vector<std::string>;

} // namespace

TEST(SplitCommandLine, ProgramNameIsQuotedOrEndsAtFirstBlank) {
    EXPECT_EQ(SplitCommandLine(""), Args{});
    EXPECT_EQ(SplitCommandLine(" \t "), Args{});
    EXPECT_EQ(SplitCommandLine("java.exe"), Args{"java.exe"});
    EXPECT_EQ(SplitCommandLine("  java.exe  -jar"), (Args{"java.exe", "-jar"}));
    EXPECT_EQ(SplitCommandLine("\"/opt/my tools/sign sis\" a"), (Args{"/opt/my tools/sign sis", "a"}));
    EXPECT_EQ(SplitCommandLine("/opt/my tools/signsis a"), (Args{"/opt/my", "tools/signsis", "a"}));
    // Backslashes in the program name are literal, even before a quote.
    EXPECT_EQ(SplitCommandLine("\"C:\\dir\\\" x"), (Args{"C:\\dir\\", "x"}));
    EXPECT_EQ(SplitCommandLine("\"\" x"), (Args{"", "x"}));
    EXPECT_EQ(SplitCommandLine("prog\tx"), (Args{"prog", "x"}));
    // The line ends at a NUL character.
    EXPECT_EQ(SplitCommandLine(std::string("prog a\0b", 8)), (Args{"prog", "a"}));
}

TEST(SplitCommandLine, ArgumentsFollowTheCRuntimeRules) {
    EXPECT_EQ(SplitCommandLine("p a  b\t\tc "), (Args{"p", "a", "b", "c"}));
    EXPECT_EQ(SplitCommandLine("p \"a b\" \"\" c"), (Args{"p", "a b", "", "c"}));
    EXPECT_EQ(SplitCommandLine("p \"\""), (Args{"p", ""}));
    EXPECT_EQ(SplitCommandLine("p \"a\"b\"c d\" e"), (Args{"p", "abc d", "e"}));
    // Backslashes not before a quote stay as they are.
    EXPECT_EQ(SplitCommandLine("p a\\\\b c\\"), (Args{"p", "a\\\\b", "c\\"}));
    // 2n backslashes + quote: n backslashes, quote toggles.
    EXPECT_EQ(SplitCommandLine("p \"a\\\\\" b"), (Args{"p", "a\\", "b"}));
    // 2n+1 backslashes + quote: n backslashes and a literal quote.
    EXPECT_EQ(SplitCommandLine("p a\\\"b \\\\\\\"c"), (Args{"p", "a\"b", "\\\"c"}));
    // "" inside quotes is a literal quote and quoting continues.
    EXPECT_EQ(SplitCommandLine("p \"a\"\"b c\" d"), (Args{"p", "a\"b c", "d"}));
    // An unclosed quote runs to the end of the line.
    EXPECT_EQ(SplitCommandLine("p \"a b"), (Args{"p", "a b"}));
    // The callers' own form: quoted paths, bare values.
    EXPECT_EQ(
        SplitCommandLine("java.exe -jar \"/p q/data/jadtool.jar\" -addcert -alias jsk -storepass 52039871"),
        (Args{"java.exe", "-jar", "/p q/data/jadtool.jar", "-addcert", "-alias", "jsk", "-storepass",
              "52039871"}));
}

TEST(RunAndWait, ReturnsExitCodeOrMinusOneWhenNothingStarts) {
    TempDir dir;
    EXPECT_EQ(RunAndWait(kChild + " exit 0"), 0);
    EXPECT_EQ(RunAndWait(kChild + " exit 3"), 3);
    EXPECT_EQ(RunAndWait(Quoted(kChild) + " exit 255"), 255);
    EXPECT_EQ(RunAndWait(kChild + " signal"), 128 + SIGTERM);

    EXPECT_EQ(RunAndWait(""), -1);
    EXPECT_EQ(RunAndWait("   "), -1);
    EXPECT_EQ(RunAndWait("\"\" exit 0"), -1);
    EXPECT_EQ(RunAndWait(dir / "missing exit 0"), -1);
    EXPECT_EQ(RunAndWait("jarseal-no-such-program-anywhere exit 0"), -1);
    EXPECT_EQ(RunAndWait(dir.path()), -1); // a folder
    WriteFile(dir / "plain", "#!/bin/sh\nexit 0\n");
    EXPECT_EQ(RunAndWait(dir / "plain"), -1); // not executable
}

TEST(RunAndWait, TriesNamesEndingInExeWithoutTheSuffix) {
    TempDir dir;
    std::filesystem::copy_file(kChild, dir / "jarseal-child");
    ScopedEnv path("PATH", "/nonexistent::" + dir.path());
    EXPECT_EQ(RunAndWait("jarseal-child exit 4"), 4);
    EXPECT_EQ(RunAndWait("jarseal-child.exe exit 5"), 5);
    EXPECT_EQ(RunAndWait("jarseal-child.EXE exit 5"), 5);
    EXPECT_EQ(RunAndWait(Quoted(dir / "jarseal-child.exe") + " exit 6"), 6);
    EXPECT_EQ(RunAndWait("jarseal-child.exe.exe exit 0"), -1);
    // The program sees the name it was found under.
    const RunOutput out = RunAndWaitCapture("jarseal-child.exe args x");
    EXPECT_EQ(out.exitCode, 0);
    EXPECT_EQ(out.output, "<x>\n");

    // A program really named ".exe" is taken first.
    std::filesystem::copy_file(kChild, dir / "other.exe");
    EXPECT_EQ(RunAndWait("other.exe exit 8"), 8);
}

TEST(RunAndWait, ChildSeesEnvironmentFolderAndArgumentsUninterpreted) {
    TempDir dir;
    ScopedEnv probe("JARSEAL_PROBE", "value with $HOME and \"quotes\"");
    EXPECT_EQ(RunAndWaitCapture(kChild + " env JARSEAL_PROBE").output, "value with $HOME and \"quotes\"\n");

    const std::string before = std::filesystem::current_path().string();
    std::filesystem::current_path(dir.path());
    const RunOutput cwd = RunAndWaitCapture(kChild + " cwd");
    std::filesystem::current_path(before);
    EXPECT_EQ(cwd.output, std::filesystem::canonical(dir.path()).string() + "\n");

    // No shell: metacharacters reach the program as they are.
    const RunOutput args =
        RunAndWaitCapture(kChild + " args \"a b\" $HOME;echo `x` | > c\\\"d \"\" \"e\"\"f\"");
    EXPECT_EQ(args.exitCode, 0);
    EXPECT_EQ(args.output, "<a b>\n<$HOME;echo>\n<`x`>\n<|>\n<>>\n<c\"d>\n<>\n<e\"f>\n");
    EXPECT_FALSE(Exists(dir / "c\"d"));
}

TEST(RunAndWait, ChildInheritsNoExtraDescriptors) {
    TempDir dir;
    WriteFile(dir / "open.txt", "x");
    const int leaked = ::open((dir / "open.txt").c_str(), O_RDONLY); // deliberately without O_CLOEXEC
    ASSERT_GE(leaked, 3);
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);

    EXPECT_EQ(RunAndWait(kChild + " fds"), 0);
    const RunOutput captured = RunAndWaitCapture(kChild + " fds");
    EXPECT_EQ(captured.exitCode, 0);
    EXPECT_EQ(captured.output, "");

    ::close(leaked);
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
}

TEST(RunAndWaitCapture, KeepsTheTailOfLargeOutputAndPassesAllOn) {
    TempDir dir;
    const std::size_t each = 300000;
    RunOutput out;
    {
        StderrToFile redirect(dir / "stderr.txt");
        out = RunAndWaitCapture(kChild + " spam " + std::to_string(each));
    }
    EXPECT_EQ(out.exitCode, 7);
    EXPECT_EQ(out.output.size(), kCaptureLimit);
    EXPECT_EQ(out.output.substr(out.output.size() - 4), "xEND");
    // Everything the program printed went on to standard error.
    EXPECT_EQ(ReadFile(dir / "stderr.txt").size(), 2 * each + 3);

    const RunOutput missing = RunAndWaitCapture(dir / "missing");
    EXPECT_EQ(missing.exitCode, -1);
    EXPECT_EQ(missing.output, "");
}

TEST(RunAndWait, ProgramsGetTheEnvironmentWithoutThePinnedTimeZone) {
    // In a child: the test program's own environment must not change.
    const auto tzOfChild = [](const char* before) {
        return RunInChild([before] {
            if (before)
                ::setenv("TZ", before, 1);
            else
                ::unsetenv("TZ");
            PinLocalTimeZone();
            const char* own = std::getenv("TZ");
            const RunOutput out = RunAndWaitCapture("env");
            const bool passed =
                out.output.find("\nTZ=") != std::string::npos || out.output.rfind("TZ=", 0) == 0;
            if (before == nullptr)
                return own && std::string(own) == ":/etc/localtime" && !passed ? 0 : 1;
            return own && std::string(own) == before &&
                           out.output.find(std::string("TZ=") + before) != std::string::npos
                       ? 0
                       : 2;
        });
    };
    EXPECT_EQ(tzOfChild(nullptr), 0);         // pinned here, not passed on
    EXPECT_EQ(tzOfChild("Europe/Moscow"), 0); // the user's own is kept and passed on
}
