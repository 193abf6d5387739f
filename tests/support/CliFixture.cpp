#include "support/CliFixture.h"

#include "support/JavaFixture.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace jarseal::test {

void CliFixture::SetUp() {
    if (!JavaAvailable())
        GTEST_SKIP() << "java is not on the search path";
    MakeProgramFolder(program);
}

void CliFixture::MakeProgramFolder(const std::string& folder) {
    MakeDir(folder + "/data/temp");
    std::filesystem::copy_file(JARSEAL_BUILD_DIR "/jarseal-cli", folder + "/jarseal-cli");
    ::symlink(JARSEAL_BUILD_DIR "/data/jadtool.jar", (folder + "/data/jadtool.jar").c_str());
    ::symlink(JARSEAL_BUILD_DIR "/data/key", (folder + "/data/key").c_str());
    WriteFile(folder + "/Jarseal.ini", "[Java]\r\nkeystore=" + folder +
                                           "/data/key\r\nstorepass=52039871\r\nkeypass=52039871\r\n"
                                           "alias1=jsk\r\nalias2=jsk\r\n");
}

RunOutput CliFixture::Cli(const std::string& args) {
    return RunAndWaitCapture("\"" + program + "/jarseal-cli\" " + args);
}

pid_t CliFixture::StartCli(const std::vector<std::string>& args, const std::string& outputPath) {
    return StartCliIn(program, args, outputPath);
}

pid_t CliFixture::StartCliIn(const std::string& folder, const std::vector<std::string>& args,
                             const std::string& outputPath, bool unprivileged) {
    const std::string exe = folder + "/jarseal-cli";
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(exe.c_str()));
    for (const auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int fd = ::open(outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0 || ::dup2(fd, 1) < 0 || ::dup2(fd, 2) < 0)
            ::_exit(127);
        if (unprivileged && ::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
            ::_exit(127);
        ::execv(exe.c_str(), argv.data());
        ::_exit(127);
    }
    return pid;
}

int WaitForExit(pid_t pid, int seconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    int status = 0;
    while (true) {
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        if (done < 0)
            return -1;
        if (std::chrono::steady_clock::now() > end) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

} // namespace jarseal::test
