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

FolderLock::FolderLock(const std::string& folder, const std::function<void()>& onWait) {
    if (folder.empty())
        return;
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
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

FolderLock::~FolderLock() {
    if (fd_ >= 0)
        ::close(fd_); // closing the only descriptor releases the lock
}

} // namespace jarseal
