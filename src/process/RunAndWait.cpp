#include "process/RunAndWait.h"

#include "common/Fd.h"
#include "common/FileSystem.h"
#include "common/LocalTime.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace jarseal {
namespace Module1 {

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

bool IsExecutableFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

// A name with a '/' is taken as it is; any other name is looked up in the
// folders of PATH, in order, as execvp does.
std::string FindExecutable(const std::string& name) {
    if (name.find('/') != std::string::npos)
        return IsExecutableFile(name) ? name : std::string();
    const char* pathVar = std::getenv("PATH");
    const std::string dirs = pathVar != nullptr ? pathVar : "/usr/local/bin:/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= dirs.size()) {
        std::size_t end = dirs.find(':', start);
        if (end == std::string::npos)
            end = dirs.size();
        // An empty entry means the current folder.
        const std::string dir = end > start ? dirs.substr(start, end - start) : std::string(".");
        const std::string candidate = dir + "/" + name;
        if (IsExecutableFile(candidate))
            return candidate;
        start = end + 1;
    }
    return {};
}

bool EndsWithExe(const std::string& name) {
    if (name.size() <= 4)
        return false;
    const std::string tail = name.substr(name.size() - 4);
    return tail[0] == '.' && (tail[1] | 0x20) == 'e' && (tail[2] | 0x20) == 'x' && (tail[3] | 0x20) == 'e';
}

// Resolves the program of a split command line; on the ".exe" fallback the
// program's own name (argv[0]) loses the suffix as well, so programs that look
// at their name see the one they were installed under.
std::string ResolveProgram(std::vector<std::string>& args) {
    if (args.empty() || args[0].empty())
        return {};
    std::string path = FindExecutable(args[0]);
    if (path.empty() && EndsWithExe(args[0])) {
        std::string bare = args[0].substr(0, args[0].size() - 4);
        path = FindExecutable(bare);
        if (!path.empty())
            args[0] = std::move(bare);
    }
    return path;
}

// Starts the program; outFd >= 0 becomes its standard output (and its
// standard error unless errFd says otherwise), inFd >= 0 its standard input.
// Every descriptor above 2 is closed in the child, signals are reset to their
// defaults and none is blocked. Returns the process id or -1.
pid_t Spawn(const std::string& path, const std::vector<std::string>& args, int outFd, int inFd = -1,
            bool outIsAlsoErr = true, const std::string& extraEnv = {}, const std::vector<int>& passOn = {}) {
    std::vector<char*> argv;
    argv.reserve(args.size() + 1);
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    if (::posix_spawn_file_actions_init(&actions) != 0)
        return -1;
    posix_spawnattr_t attr;
    if (::posix_spawnattr_init(&attr) != 0) {
        ::posix_spawn_file_actions_destroy(&actions);
        return -1;
    }
    bool ok = true;
    if (inFd >= 0)
        ok = ok && ::posix_spawn_file_actions_adddup2(&actions, inFd, STDIN_FILENO) == 0;
    if (outFd >= 0) {
        ok = ok && ::posix_spawn_file_actions_adddup2(&actions, outFd, STDOUT_FILENO) == 0;
        if (outIsAlsoErr)
            ok = ok && ::posix_spawn_file_actions_adddup2(&actions, outFd, STDERR_FILENO) == 0;
    }
    // The descriptors passed on become 3, 4, ... in the child. Each is first
    // copied above all of those numbers, so no copy lands on a descriptor
    // still to be passed on.
    const int firstClosed = STDERR_FILENO + 1 + static_cast<int>(passOn.size());
    std::vector<Fd> above;
    for (std::size_t i = 0; ok && i < passOn.size(); ++i) {
        above.emplace_back(::fcntl(passOn[i], F_DUPFD_CLOEXEC, firstClosed));
        ok = above.back().get() >= 0 &&
             ::posix_spawn_file_actions_adddup2(&actions, above.back().get(),
                                                STDERR_FILENO + 1 + static_cast<int>(i)) == 0;
    }
    ok = ok && ::posix_spawn_file_actions_addclosefrom_np(&actions, firstClosed) == 0;

    sigset_t noSignals;
    sigemptyset(&noSignals);
    sigset_t allSignals;
    sigfillset(&allSignals);
    sigdelset(&allSignals, SIGKILL);
    sigdelset(&allSignals, SIGSTOP);
    ok = ok && ::posix_spawnattr_setsigmask(&attr, &noSignals) == 0;
    ok = ok && ::posix_spawnattr_setsigdefault(&attr, &allSignals) == 0;
    ok = ok && ::posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF) == 0;

    char** env = ChildEnvironment();
    std::vector<char*> withExtra;
    if (!extraEnv.empty()) {
        for (char** e = env; *e != nullptr; ++e)
            withExtra.push_back(*e);
        withExtra.push_back(const_cast<char*>(extraEnv.c_str()));
        withExtra.push_back(nullptr);
        env = withExtra.data();
    }

    pid_t pid = -1;
    if (ok && ::posix_spawn(&pid, path.c_str(), &actions, &attr, argv.data(), env) != 0)
        pid = -1;
    ::posix_spawnattr_destroy(&attr);
    ::posix_spawn_file_actions_destroy(&actions);
    return pid;
}

std::int32_t ExitCodeOf(int status) {
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return -1;
}

// Waits for the child without a time limit. -1 when the status cannot be
// had (the child was reaped elsewhere, e.g. with SIGCHLD ignored).
std::int32_t WaitFor(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            return -1;
    }
    return ExitCodeOf(status);
}

void WriteAll(int fd, const char* data, std::size_t size, bool& ok) {
    // A closed or broken standard error only ends the passing on.
    ok = ok && WriteFully(fd, data, size) == 0;
}

// Reads the pipe until the child has closed it, passing everything on to
// standard error and keeping the tail. A grandchild that keeps the pipe open
// does not hold us once the child itself has ended.
// See PassCapturedOutputThrough.
bool passCapturedOutputThrough = true;

std::int32_t PumpAndWait(pid_t pid, int readFd, std::string& kept, const std::string& dropFirstLine) {
    // Writing to a closed standard error must not kill this program.
    sigset_t pipeSet;
    sigemptyset(&pipeSet);
    sigaddset(&pipeSet, SIGPIPE);
    sigset_t oldMask;
    ::pthread_sigmask(SIG_BLOCK, &pipeSet, &oldMask);
    sigset_t pendingBefore;
    sigpending(&pendingBefore);
    const bool pipePendingBefore = sigismember(&pendingBefore, SIGPIPE) == 1;

    bool tee = passCapturedOutputThrough;
    const auto deliver = [&](const char* data, std::size_t size) {
        WriteAll(STDERR_FILENO, data, size, tee);
        try {
            kept.append(data, size);
            if (kept.size() > 2 * kCaptureLimit)
                kept.erase(0, kept.size() - kCaptureLimit);
        } catch (...) {
            kept.clear();
        }
    };
    // The start of the output is held back until its first line is complete,
    // while it may still be the line to drop.
    bool holding = !dropFirstLine.empty();
    std::string head;
    const auto release = [&](bool atEnd) {
        const std::size_t end = head.find('\n');
        if (end == std::string::npos && !atEnd && head.size() <= dropFirstLine.size())
            return;
        holding = false;
        std::size_t from = 0;
        if (head.compare(0, end, dropFirstLine) == 0)
            from = end == std::string::npos ? head.size() : end + 1;
        deliver(head.data() + from, head.size() - from);
        head.clear();
    };
    bool exited = false;
    int status = 0;
    std::size_t readAfterExit = 0;
    char buf[16384];
    for (;;) {
        pollfd p{readFd, POLLIN, 0};
        const int ready = ::poll(&p, 1, exited ? 0 : 250);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (ready == 0) {
            if (exited)
                break;
            if (::waitpid(pid, &status, WNOHANG) == pid)
                exited = true;
            continue;
        }
        const ssize_t n = ::read(readFd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN)
                continue;
            break;
        }
        if (n == 0)
            break;
        if (holding) {
            try {
                head.append(buf, static_cast<std::size_t>(n));
                release(false);
            } catch (...) {
                holding = false;
                head.clear();
            }
        } else {
            deliver(buf, static_cast<std::size_t>(n));
        }
        if (exited) {
            readAfterExit += static_cast<std::size_t>(n);
            if (readAfterExit > 16 * kCaptureLimit)
                break;
        }
    }
    if (holding)
        release(true);
    if (kept.size() > kCaptureLimit)
        kept.erase(0, kept.size() - kCaptureLimit);

    if (!pipePendingBefore) {
        const timespec zero{0, 0};
        while (::sigtimedwait(&pipeSet, nullptr, &zero) == SIGPIPE) {
        }
    }
    ::pthread_sigmask(SIG_SETMASK, &oldMask, nullptr);
    return exited ? ExitCodeOf(status) : WaitFor(pid);
}

} // namespace

void PassCapturedOutputThrough(bool pass) {
    passCapturedOutputThrough = pass;
}

bool CapturedOutputPassedThrough() {
    return passCapturedOutputThrough;
}

std::string JadToolLaunchOptions(const std::vector<std::string>& args) {
    static const std::string kJar = "jadtool.jar";
    if (args.size() < 3 || args[1] != "-jar" || args[2].size() < kJar.size() ||
        args[2].compare(args[2].size() - kJar.size(), kJar.size(), kJar) != 0)
        return {};
    const std::string& program = args[0];
    const std::size_t slash = program.rfind('/');
    const std::string name = slash == std::string::npos ? program : program.substr(slash + 1);
    if (name != "java" && name != "java.exe")
        return {};
    const std::string jar = args[2];
    const std::size_t folderEnd = jar.size() - kJar.size();
    if (folderEnd > 0 && jar[folderEnd - 1] != '/')
        return {};
    // The user's own launcher options stay as they are, without ours.
    if (std::getenv(kLaunchOptionsVariable) != nullptr)
        return {};
    const std::string archive = jar.substr(0, folderEnd) + "jadtool.jsa";
    // The launcher splits the options at blanks and takes quotes and
    // backslashes as its own: a name with those would need rules of its own.
    if (archive.find_first_of("\"'\\\n") != std::string::npos)
        return {};
    struct stat st {};
    if (::stat(archive.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size == 0)
        return {};
    // An archive that does not fit the jar or the runtime is left unused by
    // the runtime, and cds*=off keeps it from saying so. A run is too short
    // for the optimizing compiler to pay: the quick one alone finishes first,
    // even hashing a jar of 20 MB.
    return "-XX:SharedArchiveFile=\"" + archive + "\" -Xshare:auto -Xlog:cds*=off -XX:TieredStopAtLevel=1";
}

std::vector<std::string> SplitCommandLine(const std::string& commandLine) {
    // A command line ends at its first NUL, as a C string would.
    const std::string line = commandLine.substr(0, commandLine.find('\0'));
    const std::size_t n = line.size();
    std::vector<std::string> result;
    std::size_t i = 0;
    while (i < n && IsBlank(line[i]))
        ++i;
    if (i == n)
        return result;

    std::string program;
    bool inQuotes = false;
    for (; i < n; ++i) {
        const char c = line[i];
        if (c == '"') {
            inQuotes = !inQuotes;
            continue;
        }
        if (!inQuotes && IsBlank(c))
            break;
        program += c;
    }
    result.push_back(std::move(program));

    for (;;) {
        while (i < n && IsBlank(line[i]))
            ++i;
        if (i == n)
            break;
        std::string arg;
        inQuotes = false;
        while (i < n) {
            std::size_t backslashes = 0;
            while (i < n && line[i] == '\\') {
                ++backslashes;
                ++i;
            }
            if (i < n && line[i] == '"') {
                arg.append(backslashes / 2, '\\');
                if (backslashes % 2 == 1) {
                    arg += '"';
                    ++i;
                } else if (inQuotes && i + 1 < n && line[i + 1] == '"') {
                    arg += '"';
                    i += 2;
                } else {
                    inQuotes = !inQuotes;
                    ++i;
                }
                continue;
            }
            arg.append(backslashes, '\\');
            if (i == n || (!inQuotes && IsBlank(line[i])))
                break;
            arg += line[i++];
        }
        result.push_back(std::move(arg));
    }
    return result;
}

std::int32_t RunAndWait(const std::string& commandLine) {
    try {
        std::vector<std::string> args = SplitCommandLine(commandLine);
        const std::string path = ResolveProgram(args);
        if (path.empty())
            return -1;
        const pid_t pid = Spawn(path, args, -1);
        return pid < 0 ? -1 : WaitFor(pid);
    } catch (...) {
        return -1;
    }
}

pid_t StartWithPipes(std::vector<std::string> args, int inFd, int outFd, const std::vector<int>& passOn) {
    try {
        const std::string path = ResolveProgram(args);
        return path.empty() ? -1 : Spawn(path, args, outFd, inFd, false, {}, passOn);
    } catch (...) {
        return -1;
    }
}

RunOutput RunAndWaitCapture(const std::string& commandLine) {
    RunOutput result{-1, {}};
    pid_t pid = -1;
    int fds[2] = {-1, -1};
    std::string launchEnv;
    std::string notice;
    try {
        std::vector<std::string> args = SplitCommandLine(commandLine);
        const std::string path = ResolveProgram(args);
        if (path.empty() || ::pipe2(fds, O_CLOEXEC) != 0)
            return result;
        const std::string options = JadToolLaunchOptions(args);
        if (!options.empty()) {
            launchEnv = std::string(kLaunchOptionsVariable) + "=" + options;
            notice = std::string(kLaunchOptionsNotice) + options;
        }
        pid = Spawn(path, args, fds[1], -1, true, launchEnv);
    } catch (...) {
        pid = -1;
    }
    if (fds[1] >= 0)
        ::close(fds[1]);
    if (pid < 0) {
        if (fds[0] >= 0)
            ::close(fds[0]);
        return result;
    }
    result.exitCode = PumpAndWait(pid, fds[0], result.output, notice);
    ::close(fds[0]);
    return result;
}

} // namespace Module1
} // namespace jarseal
