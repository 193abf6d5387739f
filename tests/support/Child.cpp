#include "support/Child.h"

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

namespace jarseal::test {

int RunInChild(const std::function<int()>& body, const ChildLimits& limits) {
    const pid_t pid = ::fork();
    if (pid < 0)
        return -1;
    if (pid == 0) {
        int code = 250;
        try {
            if (limits.unprivileged && ::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
                ::_exit(251);
            if (limits.fileSizeLimit != RLIM_INFINITY) {
                ::signal(SIGXFSZ, SIG_IGN); // a write past the limit fails with EFBIG instead
                const rlimit lim{limits.fileSizeLimit, limits.fileSizeLimit};
                if (::setrlimit(RLIMIT_FSIZE, &lim) != 0)
                    ::_exit(252);
            }
            code = body();
        } catch (...) {
            code = 253;
        }
        ::_exit(code);
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace jarseal::test
