// A small program started by the runner tests. The first argument chooses
// what it does:
//   args A B ...  prints each following argument as "<A>" on its own line
//   env NAME      prints the value of the environment variable, or "(unset)"
//   cwd           prints the working folder
//   fds           prints each open descriptor above 2; exits with their count
//   exit N        exits with code N
//   spam N        writes N bytes to standard output and N to standard error
//                 in alternation, then prints "END" and exits with 7
//   signal        ends itself with SIGTERM
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <string>
#include <unistd.h>

namespace {

int ListExtraDescriptors() {
    DIR* dir = ::opendir("/proc/self/fd");
    if (dir == nullptr)
        return 100;
    const int own = ::dirfd(dir);
    int count = 0;
    while (const dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] == '.')
            continue;
        const int fd = std::atoi(entry->d_name);
        if (fd > 2 && fd != own) {
            std::printf("fd %d\n", fd);
            ++count;
        }
    }
    ::closedir(dir);
    return count;
}

void WriteAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            std::exit(99);
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2)
        return 90;
    const std::string mode = argv[1];
    if (mode == "args") {
        for (int i = 2; i < argc; ++i)
            std::printf("<%s>\n", argv[i]);
        return 0;
    }
    if (mode == "env" && argc > 2) {
        const char* value = std::getenv(argv[2]);
        std::printf("%s\n", value != nullptr ? value : "(unset)");
        return 0;
    }
    if (mode == "cwd") {
        char buf[4096];
        if (::getcwd(buf, sizeof buf) == nullptr)
            return 91;
        std::printf("%s\n", buf);
        return 0;
    }
    if (mode == "fds")
        return ListExtraDescriptors();
    if (mode == "exit" && argc > 2)
        return std::atoi(argv[2]);
    if (mode == "spam" && argc > 2) {
        std::size_t left = std::strtoul(argv[2], nullptr, 10);
        const std::string chunk(1000, 'x');
        while (left > 0) {
            const std::size_t n = left < chunk.size() ? left : chunk.size();
            WriteAll(STDOUT_FILENO, chunk.data(), n);
            WriteAll(STDERR_FILENO, chunk.data(), n);
            left -= n;
        }
        WriteAll(STDOUT_FILENO, "END", 3);
        return 7;
    }
    if (mode == "signal") {
        std::raise(SIGTERM);
        return 92;
    }
    return 93;
}
