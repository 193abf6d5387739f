#pragma once

#include <functional>
#include <optional>
#include <string>

namespace jarseal {

// An exclusive flock on a folder itself (not on a file in it, which a rename
// or an unpacked archive could replace). The kernel releases it when the
// holding process ends in whatever way, so the lock of a killed process never
// blocks, and it is never passed on to the programs a job starts. Threads of
// one process take turns on a folder before they lock it, so that only
// another process makes a lock wait for the flock.
class FolderLock {
  public:
    // Waits until no other thread of this process and no other process holds
    // the lock. onWait is called once, before waiting, when another process
    // holds it; waiting for a thread of this one is not told. A folder that
    // cannot be locked at all (it cannot be opened, or its file system has no
    // locks) is not locked, and the caller goes on without it.
    FolderLock(const std::string& folder, const std::function<void()>& onWait);
    ~FolderLock();
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

    bool Held() const { return fd_ >= 0; }

  private:
    void ReleaseTurn();

    int fd_ = -1;
    bool turn_ = false; // this thread's turn on the folder, among this process's threads
    unsigned long long device_ = 0;
    unsigned long long inode_ = 0;
};

// Keeps runs apart: every job holds this lock from its start to its end.
// The lock folder (a portable program folder's data folder, or the user's
// own) keeps runs from sharing a working folder; the package folder keeps
// runs of any program folder from sharing a folder's temp.jad or a package
// being rewritten. A lock folder that is missing is not locked; a package
// folder that is the lock folder itself is locked once. onWait is called at
// most once, when another run holds either lock.
class RunLock {
  public:
    RunLock(const std::string& programFolder, const std::string& packageFolder,
            const std::function<void()>& onWait);
    bool Held() const { return program_.Held() || (package_ && package_->Held()); }

  private:
    bool told_ = false;
    std::function<void()> onWait_;
    FolderLock program_;
    std::optional<FolderLock> package_;
};

} // namespace jarseal
