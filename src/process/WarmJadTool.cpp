#include "process/WarmJadTool.h"

#include "common/Fd.h"
#include "common/FileSystem.h"
#include "process/RunAndWait.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace jarseal {

namespace {

// What the tool process writes first, and the limits of an answer.
constexpr char kHello[] = {'j', 'a', 'd', 's', 'r', 'v', '0', '1'};
constexpr std::uint32_t kMaxAnswerBytes = 256u << 20;
constexpr int kFailuresBeforeGivingUp = 3;

bool IsJavaName(const std::string& name) {
    if (name == "java")
        return true;
    if (name.size() != 8 || name.compare(0, 4, "java") != 0 || name[4] != '.')
        return false;
    return (name[5] | 0x20) == 'e' && (name[6] | 0x20) == 'x' && (name[7] | 0x20) == 'e';
}

// Writing to a tool process that has just died must give an error, not end
// this program: SIGPIPE is held while the guard lives, and one it raised is
// taken back before the old mask returns.
class NoPipeSignal {
  public:
    NoPipeSignal() {
        sigemptyset(&pipe_);
        sigaddset(&pipe_, SIGPIPE);
        ::pthread_sigmask(SIG_BLOCK, &pipe_, &old_);
        sigset_t pending;
        sigpending(&pending);
        pendingBefore_ = sigismember(&pending, SIGPIPE) == 1;
    }
    ~NoPipeSignal() {
        if (!pendingBefore_) {
            const timespec zero{0, 0};
            while (::sigtimedwait(&pipe_, nullptr, &zero) == SIGPIPE) {
            }
        }
        ::pthread_sigmask(SIG_SETMASK, &old_, nullptr);
    }
    NoPipeSignal(const NoPipeSignal&) = delete;
    NoPipeSignal& operator=(const NoPipeSignal&) = delete;

  private:
    sigset_t pipe_{};
    sigset_t old_{};
    bool pendingBefore_ = false;
};

bool WriteAll(int fd, const char* data, std::size_t size) {
    return WriteFully(fd, data, size) == 0;
}

bool ReadAll(int fd, char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::read(fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0)
            return false; // the tool process is gone
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

void PutNumber(std::string& out, std::uint32_t n) {
    out += static_cast<char>((n >> 24) & 0xFF);
    out += static_cast<char>((n >> 16) & 0xFF);
    out += static_cast<char>((n >> 8) & 0xFF);
    out += static_cast<char>(n & 0xFF);
}

std::uint32_t GetNumber(const char* in) {
    const auto* b = reinterpret_cast<const unsigned char*>(in);
    return (std::uint32_t{b[0]} << 24) | (std::uint32_t{b[1]} << 16) | (std::uint32_t{b[2]} << 8) | b[3];
}

void CloseIfOpen(int& fd) {
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

// One request and its answer on a channel; false when the tool process gave
// none (it is gone, or broke the framing).
bool SendRequest(int toServer, int fromServer, const std::string& request, RunOutput& result) {
    {
        NoPipeSignal guard;
        if (!WriteAll(toServer, request.data(), request.size()))
            return false;
    }
    char head[8];
    if (!ReadAll(fromServer, head, sizeof head))
        return false;
    const std::uint32_t status = GetNumber(head);
    const std::uint32_t length = GetNumber(head + 4);
    if (length > kMaxAnswerBytes)
        return false;
    std::string output(length, '\0');
    if (length > 0 && !ReadAll(fromServer, output.data(), length))
        return false;
    // The status a separate process would have left: its low eight bits.
    result.exitCode = static_cast<std::int32_t>(status & 0xFF);
    result.output = std::move(output);
    return true;
}

} // namespace

JadToolProcess::JadToolProcess(std::string jarPath, std::size_t channels) : jarPath_(std::move(jarPath)) {
    for (std::size_t i = 0; i < std::max<std::size_t>(channels, 1); ++i)
        channels_.push_back(std::make_unique<Channel>());
}

JadToolProcess::~JadToolProcess() {
    const std::lock_guard lock(mutex_);
    Stop(false);
}

pid_t JadToolProcess::Process() {
    const std::lock_guard lock(mutex_);
    return pid_;
}

JadToolProcess::JarStamp JadToolProcess::StampOfJar() const {
    JarStamp stamp;
    struct stat st {};
    if (::stat(jarPath_.c_str(), &st) == 0) {
        stamp.device = st.st_dev;
        stamp.inode = st.st_ino;
        stamp.size = st.st_size;
        stamp.modifiedNs = static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
    }
    return stamp;
}

bool JadToolProcess::Start(const std::string& program) {
    // Channel 0 is the process's standard input and output; channel i its
    // descriptors 1 + 2i (requests) and 2 + 2i (answers), named on its
    // command line.
    std::vector<Fd> toServer, fromServer, childIn, childOut;
    for (std::size_t i = 0; i < channels_.size(); ++i) {
        int in[2] = {-1, -1};
        int out[2] = {-1, -1};
        if (::pipe2(in, O_CLOEXEC) != 0)
            return false;
        childIn.emplace_back(in[0]);
        toServer.emplace_back(in[1]);
        if (::pipe2(out, O_CLOEXEC) != 0)
            return false;
        fromServer.emplace_back(out[0]);
        childOut.emplace_back(out[1]);
    }
    std::vector<std::string> args{program, "-jar", jarPath_, "-serve"};
    std::vector<int> passOn;
    for (std::size_t i = 1; i < channels_.size(); ++i) {
        passOn.push_back(childIn[i].get());
        args.push_back(std::to_string(STDERR_FILENO + passOn.size()));
        passOn.push_back(childOut[i].get());
        args.push_back(std::to_string(STDERR_FILENO + passOn.size()));
    }
    jar_ = StampOfJar();
    const pid_t pid = StartWithPipes(args, childIn[0].get(), childOut[0].get(), passOn);
    childIn.clear();
    childOut.clear();
    if (pid < 0)
        return false;

    std::vector<std::unique_lock<std::mutex>> held;
    for (const auto& channel : channels_)
        held.emplace_back(channel->busy);
    pid_ = pid;
    program_ = program;
    ++generation_;
    for (std::size_t i = 0; i < channels_.size(); ++i) {
        channels_[i]->toServer = toServer[i].release();
        channels_[i]->fromServer = fromServer[i].release();
    }
    bool greeted = true;
    for (const auto& channel : channels_) {
        char hello[sizeof kHello];
        greeted = greeted && ReadAll(channel->fromServer, hello, sizeof hello) &&
                  std::equal(hello, hello + sizeof hello, kHello);
    }
    held.clear();
    if (!greeted) {
        Stop(true); // an older tool without -serve, or no Java at all
        return false;
    }
    return true;
}

void JadToolProcess::Stop(bool force) {
    if (pid_ > 0 && force)
        ::kill(pid_, SIGKILL); // ends a request still on a channel at once
    // Waits for the requests on the channels to end, and keeps new ones off.
    std::vector<std::unique_lock<std::mutex>> held;
    for (const auto& channel : channels_)
        held.emplace_back(channel->busy);
    ++generation_;
    for (const auto& channel : channels_)
        CloseIfOpen(channel->toServer); // end of input ends a healthy tool process
    if (pid_ > 0) {
        int status = 0;
        bool ended = false;
        // A tool process that does not end within a few seconds of the end of
        // its input is stuck; it must not outlive the batch.
        for (int i = 0; !ended && i < 500; ++i) {
            const pid_t r = ::waitpid(pid_, &status, WNOHANG);
            if (r == pid_ || (r < 0 && errno != EINTR))
                ended = true;
            else
                ::usleep(10000);
        }
        if (!ended) {
            ::kill(pid_, SIGKILL);
            while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
            }
        }
    }
    for (const auto& channel : channels_)
        CloseIfOpen(channel->fromServer);
    pid_ = -1;
}

bool JadToolProcess::Exchange(std::size_t channel, const std::string& program,
                              const std::vector<std::string>& toolArgs, RunOutput& result) {
    std::uint64_t generation = 0;
    {
        const std::lock_guard lock(mutex_);
        if (pid_ > 0 && (program != program_ || StampOfJar() != jar_))
            Stop(false);
        if (pid_ <= 0 && !Start(program))
            return false;
        generation = generation_;
    }
    std::string request;
    PutNumber(request, static_cast<std::uint32_t>(toolArgs.size()));
    for (const std::string& arg : toolArgs) {
        PutNumber(request, static_cast<std::uint32_t>(arg.size()));
        request += arg;
    }
    bool answered = false;
    {
        Channel& ch = *channels_.at(channel);
        const std::lock_guard lock(ch.busy);
        if (generation != generation_)
            return false; // replaced meanwhile: this request goes its own way
        answered = SendRequest(ch.toServer, ch.fromServer, request, result);
    }
    if (!answered) {
        const std::lock_guard lock(mutex_);
        if (generation == generation_)
            Stop(true);
    }
    return answered;
}

WarmJadTool::WarmJadTool(std::string jarPath)
    : own_(std::make_unique<JadToolProcess>(std::move(jarPath), 1)), process_(own_.get()) {}

WarmJadTool::WarmJadTool(JadToolProcess& process, std::size_t channel)
    : process_(&process), channel_(channel) {}

bool WarmJadTool::IsToolCommand(const std::vector<std::string>& args) const {
    // "-serve" would make a separate run read this program's input: such a
    // line is left to a process of its own.
    return args.size() >= 3 && IsJavaName(args[0]) && args[1] == "-jar" && args[2] == process_->JarPath() &&
           !(args.size() >= 4 && args[3] == "-serve");
}

RunOutput WarmJadTool::Run(const std::string& commandLine) {
    std::vector<std::string> args;
    try {
        args = SplitCommandLine(commandLine);
    } catch (...) {
        return RunAndWaitCapture(commandLine);
    }
    if (!IsToolCommand(args) || failuresInARow_ >= kFailuresBeforeGivingUp)
        return RunAndWaitCapture(commandLine);

    RunOutput result{-1, {}};
    bool answered = false;
    try {
        answered = process_->Exchange(channel_, args[0], {args.begin() + 3, args.end()}, result);
    } catch (...) {
        answered = false;
    }
    if (!answered) {
        ++failuresInARow_;
        return RunAndWaitCapture(commandLine);
    }
    failuresInARow_ = 0;
    ++answered_;

    // Passed on as a separate run's output would be, and kept as its tail.
    if (CapturedOutputPassedThrough()) {
        NoPipeSignal guard;
        WriteAll(STDERR_FILENO, result.output.data(), result.output.size());
    }
    if (result.output.size() > kCaptureLimit)
        result.output.erase(0, result.output.size() - kCaptureLimit);
    return result;
}

} // namespace jarseal
