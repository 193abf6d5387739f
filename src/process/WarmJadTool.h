#pragma once

#include "common/ToolRunner.h"

#include <cstddef>
#include <string>
#include <sys/types.h>
#include <vector>

namespace jarseal {

// Runs the JAD tool for a batch in one tool process started once: a command
// line "java[.exe] -jar JAR ARGS..." naming the given jar becomes one request
// to that process (the tool's -serve mode, over a pipe), and gives the exit
// code and output a separate run of the command line would give; the output
// is passed on to standard error as RunAndWaitCapture does. Any other command
// line runs as a process of its own, and so does a request the tool process
// could not answer (it could not start, died or broke the framing); the next
// request starts a new one, until three in a row have failed.
//
// The tool process reads only the requests: it ends when this object closes
// its input, or when this program ends in any way.
class WarmJadTool : public ToolRunner {
  public:
    explicit WarmJadTool(std::string jarPath);
    ~WarmJadTool() override;
    WarmJadTool(const WarmJadTool&) = delete;
    WarmJadTool& operator=(const WarmJadTool&) = delete;

    RunOutput Run(const std::string& commandLine) override;

    // The running tool process, or -1 (for tests).
    pid_t ServerProcess() const { return pid_; }
    // How many command lines the tool process has answered.
    std::size_t Answered() const { return answered_; }

  private:
    struct JarStamp {
        dev_t device = 0;
        ino_t inode = 0;
        off_t size = -1;
        long long modifiedNs = 0;
        bool operator==(const JarStamp&) const = default;
    };

    bool IsToolCommand(const std::vector<std::string>& args) const;
    bool StartServer(const std::string& program);
    void StopServer(bool force);
    bool Exchange(const std::vector<std::string>& args, RunOutput& result);
    JarStamp StampOfJar() const;

    std::string jarPath_;
    pid_t pid_ = -1;
    int toServer_ = -1;
    int fromServer_ = -1;
    std::string serverProgram_; // the program name the tool process was started with
    JarStamp serverJar_;        // the jar the tool process loaded
    int failuresInARow_ = 0;
    std::size_t answered_ = 0;
};

} // namespace jarseal
