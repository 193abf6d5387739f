#include "process/WarmJadTool.h"

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

} // namespace

WarmJadTool::WarmJadTool(std::string jarPath) : jarPath_(std::move(jarPath)) {}

WarmJadTool::~WarmJadTool() {
    StopServer(false);
}

bool WarmJadTool::IsToolCommand(const std::vector<std::string>& args) const {
    // "-serve" would make a separate run read this program's input: such a
    // line is left to a process of its own.
    return args.size() >= 3 && IsJavaName(args[0]) && args[1] == "-jar" && args[2] == jarPath_ &&
           !(args.size() >= 4 && args[3] == "-serve");
}

WarmJadTool::JarStamp WarmJadTool::StampOfJar() const {
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

bool WarmJadTool::StartServer(const std::string& program) {
    int in[2] = {-1, -1};
    int out[2] = {-1, -1};
    if (::pipe2(in, O_CLOEXEC) != 0)
        return false;
    if (::pipe2(out, O_CLOEXEC) != 0) {
        ::close(in[0]);
        ::close(in[1]);
        return false;
    }
    serverJar_ = StampOfJar();
    const pid_t pid = StartWithPipes({program, "-jar", jarPath_, "-serve"}, in[0], out[1]);
    ::close(in[0]);
    ::close(out[1]);
    if (pid < 0) {
        ::close(in[1]);
        ::close(out[0]);
        return false;
    }
    pid_ = pid;
    toServer_ = in[1];
    fromServer_ = out[0];
    serverProgram_ = program;
    char hello[sizeof kHello];
    if (!ReadAll(fromServer_, hello, sizeof hello) || !std::equal(hello, hello + sizeof hello, kHello)) {
        StopServer(true); // an older tool without -serve, or no Java at all
        return false;
    }
    return true;
}

void WarmJadTool::StopServer(bool force) {
    CloseIfOpen(toServer_); // end of input ends a healthy tool process
    if (pid_ > 0) {
        int status = 0;
        bool ended = false;
        // A tool process that does not end within a few seconds of the end of
        // its input is stuck; it must not outlive the batch.
        for (int i = 0; !force && !ended && i < 500; ++i) {
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
    CloseIfOpen(fromServer_);
    pid_ = -1;
}

bool WarmJadTool::Exchange(const std::vector<std::string>& args, RunOutput& result) {
    std::string request;
    PutNumber(request, static_cast<std::uint32_t>(args.size() - 3));
    for (std::size_t i = 3; i < args.size(); ++i) {
        PutNumber(request, static_cast<std::uint32_t>(args[i].size()));
        request += args[i];
    }
    {
        NoPipeSignal guard;
        if (!WriteAll(toServer_, request.data(), request.size()))
            return false;
    }
    char head[8];
    if (!ReadAll(fromServer_, head, sizeof head))
        return false;
    const std::uint32_t status = GetNumber(head);
    const std::uint32_t length = GetNumber(head + 4);
    if (length > kMaxAnswerBytes)
        return false;
    std::string output(length, '\0');
    if (length > 0 && !ReadAll(fromServer_, output.data(), length))
        return false;
    // The status a separate process would have left: its low eight bits.
    result.exitCode = static_cast<std::int32_t>(status & 0xFF);
    result.output = std::move(output);
    return true;
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

    // A rebuilt or replaced tool, or another program name, needs a process
    // of its own, as a separate run would load it anew.
    if (pid_ > 0 && (args[0] != serverProgram_ || StampOfJar() != serverJar_))
        StopServer(false);
    RunOutput result{-1, {}};
    bool answered = false;
    try {
        answered = (pid_ > 0 || StartServer(args[0])) && Exchange(args, result);
    } catch (...) {
        answered = false;
    }
    if (!answered) {
        StopServer(true);
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
