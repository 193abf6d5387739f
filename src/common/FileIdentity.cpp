#include "common/FileSystem.h"

// The identity of a file (its stamp and contents' CRC), and the exchanges
// and flushes the jobs make only while a file is still the one they read.

#include "common/Errors.h"
#include "common/Fd.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <stdio.h>
#include <string>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>
#include <vector>
#include <zlib.h>

namespace jarseal {

namespace {

// A change this many seconds old cannot be followed by a write that keeps
// the same times: every file system's clock ticks at least this often.
constexpr std::int64_t kSettledSeconds = 2;

bool Settled(const FileStamp& stamp) {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    const std::int64_t last = std::max(stamp.modifiedSec, stamp.changedSec);
    return last + kSettledSeconds < static_cast<std::int64_t>(now.tv_sec);
}

// The CRC-32 of an open file's first size bytes; nullopt when they cannot
// all be read.
std::optional<std::uint32_t> CrcOfOpenFile(int fd, std::int64_t size) {
    constexpr std::size_t kPiece = 1024 * 1024;
    const std::unique_ptr<char[]> piece(new char[kPiece]);
    uLong crc = ::crc32(0, nullptr, 0);
    for (std::int64_t at = 0; at < size;) {
        const auto want = static_cast<std::size_t>(std::min<std::int64_t>(kPiece, size - at));
        const ssize_t n = ::pread(fd, piece.get(), want, at);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return std::nullopt;
        crc = ::crc32(crc, reinterpret_cast<const Bytef*>(piece.get()), static_cast<uInt>(n));
        at += n;
    }
    return static_cast<std::uint32_t>(crc);
}

bool SameStamp(const FileStamp& a, const FileStamp& b, Renamed renamed) {
    if (renamed == Renamed::No)
        return a == b;
    return a.device == b.device && a.inode == b.inode && a.size == b.size && a.modifiedSec == b.modifiedSec &&
           a.modifiedNsec == b.modifiedNsec;
}

// True for a file on a FUSE file system. Such a driver may take an exchange
// of two names for a plain rename and report success (exfat-fuse 1.4 does),
// which would remove the file it should have kept; there the job moves
// files aside instead.
bool OnFuse(const std::string& path) {
    constexpr long kFuseMagic = 0x65735546;
    struct statfs fs {};
    return ::statfs(FolderOf(path).c_str(), &fs) == 0 && static_cast<long>(fs.f_type) == kFuseMagic;
}

bool NoExchange(int err) {
    return err == EINVAL || err == ENOSYS || err == ENOTSUP || err == EOPNOTSUPP;
}

// Renames from to to unless to exists; where the file system cannot say so
// in one step, a look just before the rename stands in. 0 or the errno.
int RenameNoReplace(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return 0;
    if (!NoExchange(errno))
        return errno;
    struct stat st {};
    if (::lstat(to.c_str(), &st) == 0)
        return EEXIST;
    return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

// Puts a file moved aside back under its name; should another file have
// taken the name meanwhile, that newer one stays and the one aside goes.
void PutBackAside(const std::string& aside, const std::string& target) {
    if (RenameNoReplace(aside, target) != 0)
        ::unlink(aside.c_str());
}

} // namespace

std::optional<FileIdentity> IdentityOfOpenFile(int fd) {
    const std::optional<FileStamp> stamp = StampOfOpenFile(fd);
    if (!stamp)
        return std::nullopt;
    FileIdentity identity{*stamp, std::nullopt};
    if (!Settled(*stamp)) {
        identity.crc = CrcOfOpenFile(fd, stamp->size);
        if (!identity.crc)
            return std::nullopt;
    }
    return identity;
}

std::optional<FileIdentity> IdentityOfFile(const std::string& path) {
    const Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0)
        return std::nullopt;
    return IdentityOfOpenFile(fd.get());
}

bool IsStill(const std::string& path, const FileIdentity& identity, Renamed renamed) {
    const Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0)
        return false;
    const std::optional<FileStamp> now = StampOfOpenFile(fd.get());
    if (!now || !SameStamp(*now, identity.stamp, renamed))
        return false;
    return !identity.crc || CrcOfOpenFile(fd.get(), now->size) == identity.crc;
}

void FlushFile(int fd, const std::string& path) {
    if (::fsync(fd) != 0 && errno != EINVAL && errno != EROFS)
        ThrowSystemError(errno, "write", path);
}

void FlushFolderOf(const std::string& path) {
    const Fd dir(::open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() < 0)
        return; // a folder that cannot be opened cannot be flushed; its files were
    if (::fsync(dir.get()) != 0 && errno != EINVAL && errno != EROFS && errno != EBADF)
        ThrowSystemError(errno, "write", path);
}

void SetModeWherePossible(int fd, unsigned mode, const std::string& path) {
    if (::fchmod(fd, static_cast<mode_t>(mode)) != 0 && errno != EPERM && errno != ENOSYS &&
        errno != ENOTSUP && errno != EOPNOTSUPP)
        ThrowSystemError(errno, "write", path);
}

bool ReplaceIfStill(const std::string& target, const std::string& replacement, const FileIdentity& expected) {
    {
        const Fd fd(::open(replacement.c_str(), O_RDONLY | O_CLOEXEC));
        if (fd.get() < 0)
            ThrowSystemError(errno, "replace", target);
        FlushFile(fd.get(), replacement);
    }
    if (!IsStill(target, expected))
        return false;
    if (!OnFuse(target) &&
        ::renameat2(AT_FDCWD, replacement.c_str(), AT_FDCWD, target.c_str(), RENAME_EXCHANGE) == 0) {
        // What went out under the replacement's name must be the file that
        // was expected; one written in the moment between goes back.
        if (!IsStill(replacement, expected, Renamed::Yes)) {
            ::renameat2(AT_FDCWD, replacement.c_str(), AT_FDCWD, target.c_str(), RENAME_EXCHANGE);
            return false;
        }
        FlushFolderOf(target);
        return true;
    }
    if (!OnFuse(target) && !NoExchange(errno))
        ThrowSystemError(errno, "replace", target);

    // No exchange (vfat, exFAT, NTFS, FUSE): the target is moved aside under a name
    // of the job's own, checked there, and the replacement renamed in.
    std::string aside;
    ::close(CreateTempBeside(target, aside));
    if (::rename(target.c_str(), aside.c_str()) != 0) {
        const int err = errno;
        ::unlink(aside.c_str());
        if (err == ENOENT)
            return false;
        ThrowSystemError(err, "replace", target);
    }
    if (!IsStill(aside, expected, Renamed::Yes)) {
        PutBackAside(aside, target);
        return false;
    }
    if (const int err = RenameNoReplace(replacement, target)) {
        PutBackAside(aside, target);
        if (err == EEXIST)
            return false;
        ThrowSystemError(err, "replace", target);
    }
    if (::rename(aside.c_str(), replacement.c_str()) != 0)
        ThrowSystemError(errno, "replace", target);
    FlushFolderOf(target);
    return true;
}

} // namespace jarseal
