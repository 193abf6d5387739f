#include "common/RunLock.h"
#include "process/RunAndWait.h"
#include "support/TempDir.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace jarseal;
using namespace jarseal::test;

namespace {

// Forks a child that takes the lock, tells the parent through a pipe, then
// runs body while holding it.
pid_t HoldInChild(const std::string& folder, void (*body)(), const std::string& packageFolder = "") {
    int fds[2];
    if (::pipe(fds) != 0)
        return -1;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setpgid(0, 0); // its own group, so the test can end the tools it starts
        ::close(fds[0]);
        RunLock lock(folder + "/data", packageFolder.empty() ? folder : packageFolder, nullptr);
        const char held = lock.Held() ? 'y' : 'n';
        (void)!::write(fds[1], &held, 1);
        ::close(fds[1]);
        body();
        ::_exit(0);
    }
    ::close(fds[1]);
    char held = 0;
    const bool told = ::read(fds[0], &held, 1) == 1;
    ::close(fds[0]);
    return told && held == 'y' ? pid : -1;
}

// Takes the lock in a child with a time limit: 0 when it got it in time.
int LockWithin(const std::string& folder, unsigned seconds) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::alarm(seconds);
        RunLock lock(folder + "/data", folder, nullptr);
        ::_exit(lock.Held() ? 0 : 1);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace

TEST(RunLock, ASecondRunWaitsAndIsToldSo) {
    TempDir dir;
    MakeDir(dir / "data");
    const pid_t holder = HoldInChild(dir.path(), [] { ::usleep(300 * 1000); });
    ASSERT_GT(holder, 0);
    int waits = 0;
    const auto start = std::chrono::steady_clock::now();
    {
        RunLock lock(dir / "data", dir.path(), [&] { ++waits; });
        EXPECT_TRUE(lock.Held());
    }
    // Not before the holder let go of it.
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(250));
    EXPECT_EQ(waits, 1);
    ::waitpid(holder, nullptr, 0);

    RunLock free(dir / "data", dir.path(), [&] { ++waits; });
    EXPECT_TRUE(free.Held());
    EXPECT_EQ(waits, 1); // nobody held it: no waiting notice
}

// Workers of one run, each with a working folder of its own, take turns on a
// package folder without the notice meant for another run.
TEST(RunLock, ThreadsOfOneRunTakeTurnsOnAPackageFolderQuietly) {
    TempDir dir;
    MakeDir(dir / "one");
    MakeDir(dir / "two");
    MakeDir(dir / "package");
    std::atomic<bool> held{false};
    std::atomic<bool> overlapped{false};
    std::thread first([&] {
        RunLock lock(dir / "one", dir / "package", nullptr);
        held = true;
        ::usleep(300 * 1000);
        held = false;
    });
    while (!held)
        ::usleep(1000);
    int waits = 0;
    const auto start = std::chrono::steady_clock::now();
    {
        RunLock lock(dir / "two", dir / "package", [&] { ++waits; });
        EXPECT_TRUE(lock.Held());
        overlapped = held.load();
    }
    first.join();
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(200));
    EXPECT_FALSE(overlapped);
    EXPECT_EQ(waits, 0);
}

TEST(RunLock, AKilledHolderNeverBlocksEvenWhileItsToolRuns) {
    TempDir dir;
    MakeDir(dir / "data");
    // The holder runs a tool that outlives it; the tool must not keep the lock.
    const pid_t holder = HoldInChild(dir.path(), [] { RunAndWait("sleep 30"); });
    ASSERT_GT(holder, 0);
    EXPECT_NE(LockWithin(dir.path(), 1), 0); // held while the holder lives
    ::usleep(100 * 1000);                    // let it start its tool
    ::kill(holder, SIGKILL);
    ::waitpid(holder, nullptr, 0);
    EXPECT_EQ(LockWithin(dir.path(), 10), 0);
    ::kill(-holder, SIGKILL); // the orphaned tool
}

TEST(RunLock, RunsOfTwoProgramFoldersOnOnePackageFolderTakeTurns) {
    TempDir dir;
    MakeDir(dir / "a");
    MakeDir(dir / "a/data");
    MakeDir(dir / "b");
    MakeDir(dir / "pkg");
    const pid_t holder = HoldInChild(
        dir / "a", [] { ::usleep(300 * 1000); }, dir / "pkg");
    ASSERT_GT(holder, 0);
    int waits = 0;
    const auto start = std::chrono::steady_clock::now();
    {
        // Program folder b has no data folder: the package folder alone is locked.
        RunLock lock(dir / "b/data", dir / "pkg", [&] { ++waits; });
        EXPECT_TRUE(lock.Held());
    }
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(250));
    EXPECT_EQ(waits, 1);
    ::waitpid(holder, nullptr, 0);

    // A package in the data folder itself: locked once, no waiting on itself.
    RunLock self(dir / "a/data", dir / "a/data", [&] { ++waits; });
    EXPECT_TRUE(self.Held());
    EXPECT_EQ(waits, 1);
}
