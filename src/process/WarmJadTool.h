#pragma once

#include "common/ToolRunner.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <vector>

namespace jarseal {

// One JAD tool process kept running for a batch (the tool's -serve mode),
// answering requests on a number of channels at once: each channel is a pipe
// pair of its own, served by a thread of its own in the tool process, so
// several runners share one Java runtime and what it has compiled. The
// process is started at the first request and ended when this object goes,
// or when this program ends in any way.
//
// A request the process could not answer (it could not start, died or broke
// the framing) stops it; the next request on any channel starts a new one.
// So does a request naming another program, or a jar rebuilt or replaced
// since the process started, as a separate run would load it anew. A request
// that finds the process replaced while it waited for its channel is not
// sent. Each channel is used by one thread at a time.
class JadToolProcess {
  public:
    JadToolProcess(std::string jarPath, std::size_t channels);
    ~JadToolProcess();
    JadToolProcess(const JadToolProcess&) = delete;
    JadToolProcess& operator=(const JadToolProcess&) = delete;

    const std::string& JarPath() const { return jarPath_; }

    // Sends the tool's arguments (those after "-jar JAR") on the channel, to
    // a process started with program; true with the tool's exit status and
    // output, false when it gave no answer.
    bool Exchange(std::size_t channel, const std::string& program, const std::vector<std::string>& toolArgs,
                  RunOutput& result);

    // The running tool process, or -1 (for tests).
    pid_t Process();

  private:
    struct JarStamp {
        dev_t device = 0;
        ino_t inode = 0;
        off_t size = -1;
        long long modifiedNs = 0;
        bool operator==(const JarStamp&) const = default;
    };
    struct Channel {
        std::mutex busy; // held while a request is on the channel
        int toServer = -1;
        int fromServer = -1;
    };

    JarStamp StampOfJar() const;
    // Both with mutex_ held.
    bool Start(const std::string& program);
    void Stop(bool force);

    const std::string jarPath_;
    std::vector<std::unique_ptr<Channel>> channels_;
    std::mutex mutex_; // over the process: held to start or stop it
    pid_t pid_ = -1;
    std::string program_; // the program name the process was started with
    JarStamp jar_;        // the jar it loaded
    // Changed, with every channel held, whenever the process starts or stops:
    // a request holding its channel reads it to know it still talks to the
    // process it was meant for.
    std::uint64_t generation_ = 0;
};

// Runs the JAD tool for one runner of a batch through a JadToolProcess: a
// command line "java[.exe] -jar JAR ARGS..." naming the process's jar becomes
// one request on the runner's channel, and gives the exit code and output a
// separate run of the command line would give; the output is passed on to
// standard error as RunAndWaitCapture does. Any other command line runs as a
// process of its own, and so does a request the tool process could not
// answer, until three in a row have failed.
class WarmJadTool : public ToolRunner {
  public:
    // A runner with a tool process of its own.
    explicit WarmJadTool(std::string jarPath);
    // A runner on a channel of a shared tool process, which outlives it.
    WarmJadTool(JadToolProcess& process, std::size_t channel);
    WarmJadTool(const WarmJadTool&) = delete;
    WarmJadTool& operator=(const WarmJadTool&) = delete;

    RunOutput Run(const std::string& commandLine) override;

    // The running tool process, or -1 (for tests).
    pid_t ServerProcess() { return process_->Process(); }
    // How many command lines the tool process has answered for this runner.
    std::size_t Answered() const { return answered_; }

  private:
    bool IsToolCommand(const std::vector<std::string>& args) const;

    std::unique_ptr<JadToolProcess> own_;
    JadToolProcess* process_;
    std::size_t channel_ = 0;
    int failuresInARow_ = 0;
    std::size_t answered_ = 0;
};

} // namespace jarseal
