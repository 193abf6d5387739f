#pragma once

#include "process/RunAndWait.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <string>
#include <sys/types.h>
#include <vector>

namespace jarseal::test {

// A program folder of its own: a copy of jarseal-cli with the build's JAD
// tool and key store, and the settings file of a new program folder.
struct CliFixture : ::testing::Test {
    TempDir root;
    std::string program = root / "prog";
    void SetUp() override;
    // Makes a program folder like the fixture's at folder.
    static void MakeProgramFolder(const std::string& folder);
    // Runs the copy with the arguments (a command line) and waits for it.
    RunOutput Cli(const std::string& args);
    // Starts the copy with the arguments without waiting; standard output
    // and error go to the file outputPath.
    pid_t StartCli(const std::vector<std::string>& args, const std::string& outputPath);
    // The same with the copy in another program folder; unprivileged runs
    // it as user and group "nobody" (65534) when this process is root.
    static pid_t StartCliIn(const std::string& folder, const std::vector<std::string>& args,
                            const std::string& outputPath, bool unprivileged = false);
};

// Waits for a started process: its exit status, 128 + the signal that ended
// it, or -1 when it is still running after the given seconds (it is then
// killed).
int WaitForExit(pid_t pid, int seconds);

} // namespace jarseal::test
