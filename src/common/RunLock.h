#pragma once

#include <functional>
#include <string>

namespace jarseal {

// Keeps runs of one program folder apart: every job holds this lock from its
// start to its end, so two runs never share the working folder, a package
// folder's temp.jad or a package being rewritten. It is an exclusive flock on
// the program folder's data folder itself (no lock file that an archive
// unpacked into the working folder could replace), which the kernel releases
// when the holding process ends in whatever way, so the lock of a killed run
// never blocks; it is never passed on to the external tools a job starts.
class RunLock {
  public:
    // Waits until no other run holds the lock. onWait is called once, before
    // waiting, when another run holds it. Where the folder cannot be locked
    // at all (it cannot be opened, or its file system has no locks) the job
    // goes on without it.
    RunLock(const std::string& programFolder, const std::function<void()>& onWait);
    ~RunLock();
    RunLock(const RunLock&) = delete;
    RunLock& operator=(const RunLock&) = delete;

    bool Held() const { return fd_ >= 0; }

  private:
    int fd_ = -1;
};

} // namespace jarseal
