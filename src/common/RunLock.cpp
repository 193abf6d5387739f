#include "common/RunLock.h"

#include <cerrno>
#include <condition_variable>
#include <fcntl.h>
#include <mutex>
#include <set>
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

// The folders threads of this process hold a turn on, by device and inode.
struct Turns {
    std::mutex mutex;
    std::condition_variable released;
    std::set<std::pair<unsigned long long, unsigned long long>> held;
};

Turns& ProcessTurns() {
    static Turns turns;
    return turns;
}

} // namespace

FolderLock::FolderLock(const std::string& folder, const std::function<void()>& onWait) {
    if (folder.empty())
        return;
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    struct stat st {};
    if (::fstat(fd, &st) == 0) {
        device_ = st.st_dev;
        inode_ = st.st_ino;
        Turns& turns = ProcessTurns();
        std::unique_lock<std::mutex> hold(turns.mutex);
        turns.released.wait(hold, [&] { return !turns.held.contains({device_, inode_}); });
        turns.held.insert({device_, inode_});
        turn_ = true;
    }
    if (!Lock(fd, LOCK_EX | LOCK_NB)) {
        if (errno != EWOULDBLOCK) {
            ::close(fd);
            ReleaseTurn();
            return;
        }
        if (onWait)
            onWait();
        if (!Lock(fd, LOCK_EX)) {
            ::close(fd);
            ReleaseTurn();
            return;
        }
    }
    fd_ = fd;
}

void FolderLock::ReleaseTurn() {
    if (!std::exchange(turn_, false))
        return;
    Turns& turns = ProcessTurns();
    {
        const std::lock_guard<std::mutex> hold(turns.mutex);
        turns.held.erase({device_, inode_});
    }
    turns.released.notify_all();
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
    ReleaseTurn();
}

} // namespace jarseal
