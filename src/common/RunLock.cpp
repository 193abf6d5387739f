#include "common/RunLock.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace jarseal {

namespace {

bool Lock(int fd, int operation) {
    while (::flock(fd, operation) != 0) {
        if (errno != EINTR)
            return false;
    }
    return true;
}

} // namespace

RunLock::RunLock(const std::string& programFolder, const std::function<void()>& onWait) {
    if (programFolder.empty())
        return;
    const std::string data = programFolder + "/data";
    const int fd = ::open(data.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    if (!Lock(fd, LOCK_EX | LOCK_NB)) {
        if (errno != EWOULDBLOCK) {
            ::close(fd);
            return;
        }
        if (onWait)
            onWait();
        if (!Lock(fd, LOCK_EX)) {
            ::close(fd);
            return;
        }
    }
    fd_ = fd;
}

RunLock::~RunLock() {
    if (fd_ >= 0)
        ::close(fd_); // closing the only descriptor releases the lock
}

} // namespace jarseal
