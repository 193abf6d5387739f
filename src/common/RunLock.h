#pragma once

#include <functional>
#include <string>

namespace jarseal {

// An exclusive flock on a folder itself (not on a file in it, which a rename
// or an unpacked archive could replace). The kernel releases it when the
// holding process ends in whatever way, so the lock of a killed process never
// blocks, and it is never passed on to the programs a job starts.
class FolderLock {
  public:
    // Waits until no other process holds the lock. onWait is called once,
    // before waiting, when another one holds it. A folder that cannot be
    // locked at all (it cannot be opened, or its file system has no locks)
    // is not locked, and the caller goes on without it.
    FolderLock(const std::string& folder, const std::function<void()>& onWait);
    ~FolderLock();
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

    bool Held() const { return fd_ >= 0; }

  private:
    int fd_ = -1;
};

// Keeps runs of one program folder apart: every job holds this lock from its
// start to its end, so two runs never share the working folder, a package
// folder's temp.jad or a package being rewritten. It locks the program
// folder's data folder; without one nothing is locked.
class RunLock : public FolderLock {
  public:
    RunLock(const std::string& programFolder, const std::function<void()>& onWait)
        : FolderLock(programFolder.empty() ? std::string() : programFolder + "/data", onWait) {}
};

} // namespace jarseal
