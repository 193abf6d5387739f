#include "common/FileSystem.h"

#include "common/Errors.h"

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace jarseal {

TempFile::~TempFile() {
    if (!path_.empty())
        ::unlink(path_.c_str());
}

int TempFile::CreateBeside(const std::string& target) {
    std::string name;
    const int fd = CreateTempBeside(target, name);
    path_ = name;
    return fd;
}

KeptFile::KeptFile(std::string path) : path_(std::move(path)) {
    if (KindOfPath(path_) != PathKind::Ordinary)
        return; // none: putting it back removes what the job wrote there
    if (LinkBeside(path_, kept_) == 0)
        return;
    KeepACopy();
}

KeptFile::~KeptFile() {
    if (!kept_.empty())
        ::unlink(kept_.c_str());
}

void KeptFile::PutBack() noexcept {
    if (kept_.empty()) {
        ::unlink(path_.c_str());
        return;
    }
    // Two links of one file: rename does nothing, so the file is still
    // there and only the second link goes.
    struct stat now {};
    struct stat kept {};
    if (::stat(path_.c_str(), &now) == 0 && ::stat(kept_.c_str(), &kept) == 0 && now.st_dev == kept.st_dev &&
        now.st_ino == kept.st_ino) {
        ::unlink(kept_.c_str());
        kept_.clear();
    } else if (::rename(kept_.c_str(), path_.c_str()) == 0) {
        kept_.clear();
    }
}

void KeptFile::KeepACopy() {
    struct stat st {};
    if (::stat(path_.c_str(), &st) != 0)
        ThrowSystemError(errno, "read", path_);
    std::string copy;
    ::close(CreateTempBeside(path_, copy));
    kept_ = copy;
    try {
        CopyWholeFile(path_, kept_);
        struct stat made {};
        const bool sameOwner =
            ::stat(kept_.c_str(), &made) == 0 && ((made.st_uid == st.st_uid && made.st_gid == st.st_gid) ||
                                                  ::chown(kept_.c_str(), st.st_uid, st.st_gid) == 0);
        if (!sameOwner)
            throw NotKeptError("the copy would belong to another user");
        if (::chmod(kept_.c_str(), st.st_mode & 07777) != 0 && errno != EPERM && errno != ENOSYS)
            ThrowSystemError(errno, "write", kept_);
    } catch (...) {
        ::unlink(kept_.c_str());
        kept_.clear();
        throw;
    }
}

} // namespace jarseal
