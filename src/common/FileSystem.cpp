#include "common/FileSystem.h"

#include "common/Errors.h"
#include "common/Fd.h"
#include "common/Translate.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
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

std::string LastComponent(const std::string& path) {
    const auto pos = path.find_last_of(kSep);
    return pos == std::string::npos ? path : path.substr(pos + 1);
}

void WriteAll(int fd, const std::string& content, const std::string& path) {
    if (const int err = WriteFully(fd, content.data(), content.size()))
        ThrowSystemError(err, "write", path);
}

// The name pattern of the job's own files beside target, ending in the six
// characters mkostemp and LinkBeside fill in.
std::string TempPattern(const std::string& target) {
    const std::string folder = FolderOf(target);
    std::string pattern = folder + "." + LastComponent(target) + kTempMark + "XXXXXX";
    if (pattern.size() >= PATH_MAX)
        pattern = folder + kTempMark + "XXXXXX";
    return pattern;
}

} // namespace

int CreateTempBeside(const std::string& target, std::string& tempName) {
    const std::string pattern = TempPattern(target);
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    const int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0)
        ThrowSystemError(errno, "create", target);
    tempName = name.data();
    return fd;
}

int LinkBeside(const std::string& target, std::string& linkName) {
    static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    constexpr int kTries = 100;
    std::string name = TempPattern(target);
    int err = EEXIST;
    for (int i = 0; i < kTries && err == EEXIST; ++i) {
        unsigned char random[6];
        if (::getentropy(random, sizeof random) != 0)
            return errno;
        for (std::size_t k = 0; k < sizeof random; ++k)
            name[name.size() - sizeof random + k] = kLetters[random[k] % (sizeof kLetters - 1)];
        err = ::link(target.c_str(), name.c_str()) == 0 ? 0 : errno;
    }
    if (err == 0)
        linkName = name;
    return err;
}

bool IsTempName(const std::string& name) {
    const std::string mark = kTempMark;
    if (name.empty() || name[0] != '.' || name.size() < mark.size() + 6)
        return false;
    const std::size_t at = name.size() - 6 - mark.size();
    if (name.compare(at, mark.size(), mark) != 0)
        return false;
    return std::all_of(name.end() - 6, name.end(), [](unsigned char c) { return std::isalnum(c) != 0; });
}

void RemoveLeftoverTempFiles(const std::string& folder) {
    std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), ::closedir);
    if (!dir)
        return;
    std::vector<std::string> names;
    while (const dirent* entry = ::readdir(dir.get()))
        if (IsTempName(entry->d_name))
            names.emplace_back(entry->d_name);
    for (const auto& name : names) {
        const std::string full =
            folder + (folder.empty() || folder.back() == kSep ? "" : std::string(1, kSep)) + name;
        struct stat st {};
        if (::lstat(full.c_str(), &st) == 0 && S_ISREG(st.st_mode))
            ::unlink(full.c_str()); // a failure leaves it for a later run
    }
}

PathKind KindOfPath(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            return PathKind::Missing;
        ThrowSystemError(errno, "look for", path);
    }
    return S_ISREG(st.st_mode) ? PathKind::Ordinary : PathKind::Other;
}

namespace {} // namespace

void ReplaceFileWith(const std::string& target, unsigned mode, const std::function<void(int fd)>& write) {
    TempFile temp; // removed unless it became the target
    Fd fd(temp.CreateBeside(target));
    write(fd.get());
    // Flushed before the rename: a memory card pulled or power lost right
    // after it must not leave an empty file under the old name (vfat and
    // exFAT, unlike ext4, give no such ordering of their own).
    SetModeWherePossible(fd.get(), mode, target);
    FlushFile(fd.get(), target);
    if (::close(fd.release()) != 0)
        ThrowSystemError(errno, "write", target);
    if (::rename(temp.path().c_str(), target.c_str()) != 0)
        ThrowSystemError(errno, "replace", target);
    temp.Keep(); // now the target's name
    FlushFolderOf(target);
}

namespace {

// The mode a replaced file keeps, or the usual mode for a new file; refuses a
// target that exists without write permission or is not an ordinary file.
mode_t ModeForReplacing(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        if (errno != ENOENT)
            ThrowSystemError(errno, "write", path);
        return NewFileMode();
    }
    if (S_ISDIR(st.st_mode))
        throw RunError(kErrAccess, TrFormat("write {1}: is a folder", {path}));
    if (!S_ISREG(st.st_mode))
        throw RunError(kErrAccess, TrFormat("write {1}: not an ordinary file", {path}));
    if (::access(path.c_str(), W_OK) != 0)
        ThrowSystemError(errno, "write", path);
    return st.st_mode & 07777;
}

} // namespace

unsigned NewFileMode() {
    // /proc/self/status holds a line "Umask:\t0022" on Linux 4.7 and later.
    const int fd = ::open("/proc/self/status", O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        Fd status(fd);
        std::string text;
        char buffer[4096];
        ssize_t n = 0;
        while ((n = ::read(status.get(), buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR))
            if (n > 0)
                text.append(buffer, static_cast<std::size_t>(n));
        const auto at = text.find("\nUmask:");
        if (at != std::string::npos) {
            char* end = nullptr;
            const unsigned long mask = std::strtoul(text.c_str() + at + 7, &end, 8);
            if (end != text.c_str() + at + 7 && mask <= 0777)
                return 0666u & ~static_cast<unsigned>(mask);
        }
    }
    // Elsewhere the umask can only be read by setting it for a moment.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666u & ~static_cast<unsigned>(mask);
}

bool FileExist(const std::string& name) {
    if (name.empty())
        return false;
    const std::string last = LastComponent(name);
    if (last.empty() || last[0] == '.')
        return false;
    struct stat st {};
    if (::stat(name.c_str(), &st) != 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            return false;
        ThrowSystemError(errno, "look for", name);
    }
    return S_ISREG(st.st_mode);
}

std::string ExecutableFolder() {
    std::vector<char> buf(PATH_MAX + 1);
    const ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size() - 1);
    if (n <= 0)
        return ".";
    std::string path(buf.data(), static_cast<std::size_t>(n));
    const auto pos = path.find_last_of(kSep);
    if (pos == std::string::npos)
        return ".";
    return pos == 0 ? std::string(1, kSep) : path.substr(0, pos);
}

std::string FolderOf(const std::string& path) {
    const auto pos = path.find_last_of(kSep);
    return pos == std::string::npos ? std::string(".") + kSep : path.substr(0, pos + 1);
}

std::string AbsolutePath(const std::string& path) {
    if (path.empty() || path[0] == kSep)
        return path;
    std::vector<char> buf(PATH_MAX + 1);
    if (::getcwd(buf.data(), buf.size()) == nullptr)
        return path;
    std::string cwd(buf.data());
    if (cwd.empty() || cwd.back() != kSep)
        cwd += kSep;
    return cwd + path;
}

namespace {

// Opens a file to be read and tells its status; a folder is refused.
Fd OpenForReading(const std::string& path, struct stat& st) {
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0)
        ThrowSystemError(errno, "read", path);
    if (::fstat(fd.get(), &st) != 0)
        ThrowSystemError(errno, "read", path);
    if (S_ISDIR(st.st_mode))
        throw RunError(kErrAccess, TrFormat("read {1}: is a folder", {path}));
    return fd;
}

} // namespace

std::string ReadWholeFile(const std::string& path) {
    struct stat st {};
    const Fd fd = OpenForReading(path, st);
    // Read straight into a string of the file's size (a suite can be tens of
    // megabytes); a file that grows meanwhile is read on to its end.
    std::string content;
    std::size_t used = 0;
    content.resize(S_ISREG(st.st_mode) && st.st_size > 0 ? static_cast<std::size_t>(st.st_size) + 1 : 65536);
    for (;;) {
        if (used == content.size())
            content.resize(content.size() * 2);
        const ssize_t n = ::read(fd.get(), content.data() + used, content.size() - used);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            ThrowSystemError(errno, "read", path);
        }
        if (n == 0)
            break;
        used += static_cast<std::size_t>(n);
    }
    content.resize(used);
    return content;
}

namespace {

FileStamp StampOf(const struct stat& st) {
    FileStamp stamp;
    stamp.device = static_cast<std::uint64_t>(st.st_dev);
    stamp.inode = static_cast<std::uint64_t>(st.st_ino);
    stamp.size = static_cast<std::int64_t>(st.st_size);
    stamp.modifiedSec = static_cast<std::int64_t>(st.st_mtim.tv_sec);
    stamp.modifiedNsec = static_cast<std::int64_t>(st.st_mtim.tv_nsec);
    stamp.changedSec = static_cast<std::int64_t>(st.st_ctim.tv_sec);
    stamp.changedNsec = static_cast<std::int64_t>(st.st_ctim.tv_nsec);
    return stamp;
}

} // namespace

int WriteFully(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return 0;
}

std::optional<FileStamp> StampOfOpenFile(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return std::nullopt;
    return StampOf(st);
}

std::optional<FileStamp> StampOfFile(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return std::nullopt;
    return StampOf(st);
}

FileStamp ReadFileInPieces(const std::string& path,
                           const std::function<bool(const char*, std::size_t)>& take) {
    struct stat st {};
    const Fd fd = OpenForReading(path, st);
    // One buffer, reused: a large file costs no memory of its size.
    constexpr std::size_t kPiece = 1024 * 1024;
    const std::unique_ptr<char[]> piece(new char[kPiece]);
    for (;;) {
        const ssize_t n = ::read(fd.get(), piece.get(), kPiece);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            ThrowSystemError(errno, "read", path);
        }
        if (n == 0 || !take(piece.get(), static_cast<std::size_t>(n)))
            break;
    }
    return StampOf(st);
}

std::uint64_t FileLength(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        ThrowSystemError(errno, "measure", path);
    return static_cast<std::uint64_t>(st.st_size);
}

void RemoveFile(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
        throw RunError(kErrAccess, TrFormat("delete {1}: is a folder", {path}));
    if (::unlink(path.c_str()) != 0)
        ThrowSystemError(errno, "delete", path);
}

void CopyWholeFile(const std::string& from, const std::string& to) {
    // A piece at a time: a descriptor of hundreds of megabytes costs no
    // memory of its size.
    ReplaceFileWith(to, ModeForReplacing(to), [&](int fd) {
        ReadFileInPieces(from, [&](const char* data, std::size_t n) {
            if (const int err = WriteFully(fd, data, n))
                ThrowSystemError(err, "write", to);
            return true;
        });
    });
}

void WriteFileReplacing(const std::string& path, const std::string& content) {
    ReplaceFileWith(path, ModeForReplacing(path), [&](int fd) { WriteAll(fd, content, path); });
}

} // namespace jarseal
