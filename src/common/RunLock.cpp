#include "common/RunLock.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

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

namespace {

bool SameFolder(const std::string& a, const std::string& b) {
    struct stat sa {};
    struct stat sb {};
    return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

} // namespace

RunLock::RunLock(const std::string& lockFolder, const std::string& packageFolder,
                 const std::function<void()>& onWait)
    : onWait_([this, onWait] {
          if (!std::exchange(told_, true) && onWait)
              onWait();
      }),
      program_(lockFolder, onWait_) {
    const std::string folder = packageFolder.empty() ? std::string(".") : packageFolder;
    if (!(program_.Held() && SameFolder(folder, lockFolder)))
        package_.emplace(folder, onWait_);
}

FolderLock::~FolderLock() {
    if (fd_ >= 0)
        ::close(fd_); // closing the only descriptor releases the lock
}

} // namespace jarseal
