#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>

namespace jarseal {

// The platform's folder separator.
#ifdef _WIN32
inline constexpr char kSep = '\\';
#else
inline constexpr char kSep = '/';
#endif

// True when an ordinary file of that name exists. Folders, hidden files (a
// last component starting with ".") and special files count as missing; a
// file without write permission counts. A missing file or folder on the way
// gives false; any other system error (no permission to search a folder, a
// name too long, a loop of links) throws RunError.
bool FileExist(const std::string& name);

// The folder of the running executable, without a trailing separator.
std::string ExecutableFolder();

// The folder part of a path, ending in a separator; "./" for a bare name.
std::string FolderOf(const std::string& path);

// Makes a relative path absolute against the current folder.
std::string AbsolutePath(const std::string& path);

// File operations that throw RunError with the mapped failure number.
std::string ReadWholeFile(const std::string& path);
std::uint64_t FileLength(const std::string& path);
void RemoveFile(const std::string& path);
// Copies a file byte for byte; the copy is written beside its target and
// renamed over it, so a failure never leaves a half-written target.
void CopyWholeFile(const std::string& from, const std::string& to);
// Replaces the content of a file: the new content is written beside it and
// renamed over it, keeping the old file's permissions. A file without write
// permission is refused as the system would refuse writing into it.
void WriteFileReplacing(const std::string& path, const std::string& content);

// Replaces target with a new file of that mode holding what write puts into
// it (given the new file's descriptor): written beside target, flushed and
// renamed over it, so a failure never leaves a half-written target and
// nothing of the new file stays behind. Throws RunError.
void ReplaceFileWith(const std::string& target, unsigned mode, const std::function<void(int fd)>& write);

// Creates a new, empty hidden file beside target, named after it with
// kTempMark and six random characters, and returns its descriptor (closed on
// exec); tempName receives its path. Throws RunError.
inline constexpr const char* kTempMark = ".jarseal-";
int CreateTempBeside(const std::string& target, std::string& tempName);
// Gives target a second link beside it under a name of the same form, made
// without creating a file first; linkName receives it. 0, or the errno of
// the link that failed (EPERM, EXDEV, ... where no links can be made).
int LinkBeside(const std::string& target, std::string& linkName);
// A file of the job's own that goes again unless it is kept.
class TempFile {
  public:
    TempFile() = default;
    explicit TempFile(std::string path) : path_(std::move(path)) {}
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    ~TempFile();
    // Makes a new empty file beside target under a name no other run can
    // have (CreateTempBeside) and returns its descriptor open; the file is
    // this one's. Throws RunError.
    int CreateBeside(const std::string& target);
    const std::string& path() const { return path_; }
    // The file stays: its name is handed over.
    std::string Keep() { return std::exchange(path_, std::string()); }

  private:
    std::string path_;
};

// A file as it is now, kept aside under a name of the job's own, to be put
// back in one step: a second link where the file system allows it (no room
// on the disk), else a copy with the file's owner and mode. A file that
// cannot be kept exactly throws NotKeptError before anything is changed.
struct NotKeptError : std::runtime_error {
    using std::runtime_error::runtime_error;
};
class KeptFile {
  public:
    explicit KeptFile(std::string path);
    ~KeptFile();
    KeptFile(const KeptFile&) = delete;
    KeptFile& operator=(const KeptFile&) = delete;
    bool Existed() const { return !kept_.empty(); }
    // Puts the file back as it was kept (or removes what is there when there
    // was none).
    void PutBack() noexcept;

  private:
    void KeepACopy();

    std::string path_;
    std::string kept_;
};

// True for a name CreateTempBeside makes.
bool IsTempName(const std::string& name);
// Removes the ordinary files of the folder that CreateTempBeside named: what
// a run that was killed while writing left behind. Failures are ignored.
void RemoveLeftoverTempFiles(const std::string& folder);

// What a path names, without following a last symbolic link. Throws RunError
// for a failure other than a missing file or folder.
enum class PathKind { Missing, Ordinary, Other };
PathKind KindOfPath(const std::string& path);

// Writes all size bytes to fd, going on after interruptions. Returns 0, or
// the errno of the write that failed.
int WriteFully(int fd, const char* data, std::size_t size);

// What tells one state of a file from another: its device, inode, size and
// the times of its last change. Equal stamps taken at two moments mean the
// file was neither written nor replaced in between.
struct FileStamp {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::int64_t size = 0;
    std::int64_t modifiedSec = 0;
    std::int64_t modifiedNsec = 0;
    std::int64_t changedSec = 0;
    std::int64_t changedNsec = 0;
    bool operator==(const FileStamp&) const = default;
};
// The stamp of the file at path now; nullopt when it cannot be had.
std::optional<FileStamp> StampOfFile(const std::string& path);
// The stamp of an open file now; nullopt when it cannot be had.
std::optional<FileStamp> StampOfOpenFile(int fd);
// Reads a file from its start to its end in pieces of up to 1 MiB handed to
// take, which returns false to stop early, without holding the file whole.
// Returns the file's stamp as it was when opened. Throws RunError as
// ReadWholeFile does.
FileStamp ReadFileInPieces(const std::string& path,
                           const std::function<bool(const char*, std::size_t)>& take);

// What a job knows of a file it read, to tell later whether the file at a
// path is still that one. The stamp tells most changes; but a file changed
// within the tick of its file system's clock (up to two seconds on a memory
// card) may keep its stamp, so a file whose last change is that recent also
// has the CRC-32 of its bytes.
struct FileIdentity {
    FileStamp stamp;
    std::optional<std::uint32_t> crc;
};
// The identity of the open file now; nullopt when it cannot be read.
std::optional<FileIdentity> IdentityOfOpenFile(int fd);
std::optional<FileIdentity> IdentityOfFile(const std::string& path);
// True when the file at path is still the one of that identity: the same
// stamp (its change time aside when renamed, for a file the job itself moved)
// and, where the identity holds one, the same CRC-32.
enum class Renamed { No, Yes };
bool IsStill(const std::string& path, const FileIdentity& identity, Renamed renamed = Renamed::No);

// Puts the file at `replacement` in place of `target` while target is still
// the file of identity `expected`, and the former target at `replacement`'s
// path, so that the change can be undone the same way. Where the file system
// exchanges two names in one step that is used; elsewhere target is moved
// aside, checked, and the replacement renamed in. The replacement and the
// folder are flushed to the disk first and after. Returns false, with every
// file where it was, when target is not (or no longer) the expected file;
// throws RunError when the names cannot be changed.
bool ReplaceIfStill(const std::string& target, const std::string& replacement, const FileIdentity& expected);

// Flushes an open file's data, and a folder's entries, to the disk; file
// systems that cannot (EINVAL) count as done. Throw RunError.
void FlushFile(int fd, const std::string& path);
void FlushFolderOf(const std::string& path);

// 0666 less the process's umask: the mode a new file gets anyway. Read
// without changing the umask where the system tells it, so that files other
// threads create meanwhile keep their modes.
unsigned NewFileMode();

// Sets an open file's permission bits; a file system without them (a memory
// card's vfat, which answers EPERM or ENOSYS) keeps its own. Throws RunError
// for any other failure.
void SetModeWherePossible(int fd, unsigned mode, const std::string& path);

} // namespace jarseal
