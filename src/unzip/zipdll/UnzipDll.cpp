#include "unzip/zipdll/UnzipDll.h"

#include "common/FileSystem.h"
#include "common/IdleThread.h"

#include <libdeflate.h>
#include <zip.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <fnmatch.h>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace jarseal::unzipdll {

namespace {

// Room for a password of up to 255 bytes and its terminating zero.
constexpr int kPasswordBufferSize = 256;
// Archives up to this size are read into memory whole.
constexpr off_t kWholeReadLimit = 64 * 1024 * 1024;
// The longest piece handed to the print callback at once.
constexpr std::size_t kPrintPiece = 32768;

class Fd {
  public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() { reset(); }
    int get() const { return fd_; }
    void reset(int fd = -1) {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = fd;
    }
    int release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }

  private:
    int fd_;
};

class ZipFile {
  public:
    explicit ZipFile(zip_file_t* f) : f_(f) {}
    ZipFile(const ZipFile&) = delete;
    ZipFile& operator=(const ZipFile&) = delete;
    ~ZipFile() {
        if (f_ != nullptr)
            zip_fclose(f_);
    }
    zip_file_t* get() const { return f_; }

  private:
    zip_file_t* f_;
};

// A file being written under a temporary name in its folder; removed unless
// it was renamed to its final name.
class TempFile {
  public:
    explicit TempFile(int folderFd) : folderFd_(folderFd) {}
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    ~TempFile() { Discard(); }

    // Creates the file; errno tells why when false.
    bool Create() {
        static std::atomic<unsigned> counter{0};
        static const std::string pid = std::to_string(::getpid());
        for (int attempt = 0; attempt < 100; ++attempt) {
            name_ = ".unzip-" + pid + "-" + std::to_string(counter++) + ".part";
            const int fd = ::openat(folderFd_, name_.c_str(),
                                    O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
            if (fd >= 0) {
                fd_.reset(fd);
                return true;
            }
            if (errno != EEXIST)
                break;
        }
        name_.clear();
        return false;
    }
    int fd() const { return fd_.get(); }
    // Empties the file for another attempt.
    bool Rewind() { return ::ftruncate(fd_.get(), 0) == 0 && ::lseek(fd_.get(), 0, SEEK_SET) == 0; }
    // Closes the file and renames it to name, replacing a file (or link) of
    // that name. An existing entry is removed first: on ext4 a rename over an
    // existing file starts writing the new data out at once, which made
    // re-extracting an archive several times slower.
    bool Commit(const std::string& name, bool replacing) {
        if (::close(fd_.release()) != 0)
            return false;
        if (replacing && ::unlinkat(folderFd_, name.c_str(), 0) != 0 && errno != ENOENT)
            return false;
        if (::renameat(folderFd_, name_.c_str(), folderFd_, name.c_str()) != 0)
            return false;
        name_.clear();
        return true;
    }
    void Discard() {
        fd_.reset();
        if (!name_.empty()) {
            const int saved = errno;
            ::unlinkat(folderFd_, name_.c_str(), 0);
            errno = saved;
            name_.clear();
        }
    }

  private:
    int folderFd_;
    Fd fd_;
    std::string name_;
};

// How reading one entry ended.
enum class ReadStatus {
    Ok,
    WrongPassword,
    Unsupported,
    DataError,
    ArchiveError,
    NoMemory,
    WriteError,
    DiskFull,
    EntryTooLarge, // more than kMaxEntryBytes
    RunTooLarge    // more than kMaxTotalBytes in the run
};

bool IsDiskFull(int err) {
    return err == ENOSPC || err == EDQUOT || err == EFBIG;
}

std::string MethodText(zip_int32_t method, zip_uint16_t flags) {
    switch (method) {
    case ZIP_CM_STORE:
        return "Stored";
    case ZIP_CM_DEFLATE: {
        static const char* const kinds[] = {"Defl:N", "Defl:X", "Defl:F", "Defl:S"};
        return kinds[(flags >> 1) & 3];
    }
    case ZIP_CM_DEFLATE64:
        return "Def64";
    case ZIP_CM_BZIP2:
        return "BZip2";
    case ZIP_CM_LZMA:
        return "LZMA";
    case ZIP_CM_XZ:
        return "XZ";
    default: {
        char text[16];
        std::snprintf(text, sizeof text, "Unk:%03u", static_cast<unsigned>(method) & 0xffffu);
        return text;
    }
    }
}

// Where an entry goes below the target folder.
struct EntryPath {
    enum Kind { File, Folder, Unsafe, Empty } kind = Empty;
    std::vector<std::string> folders; // folders below the target, outermost first
    std::string file;                 // file name inside the last folder (empty for a folder entry)
};

// Splits an entry name into folders and a file name. Backslashes count as
// separators; empty and "." components are dropped. With folders kept, a name
// that is absolute, starts with a drive letter or climbs with ".." is unsafe;
// without folders only the last component is used.
EntryPath SplitEntryName(std::string name, bool honorDirectories, bool spaceToUnderscore) {
    std::replace(name.begin(), name.end(), '\\', '/');
    EntryPath path;
    const bool isFolder = !name.empty() && name.back() == '/';
    const bool absolute = !name.empty() && name.front() == '/';
    const bool drive = name.size() >= 2 && name[1] == ':' &&
                       ((name[0] >= 'A' && name[0] <= 'Z') || (name[0] >= 'a' && name[0] <= 'z'));
    bool climbs = false;
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= name.size()) {
        std::size_t end = name.find('/', start);
        if (end == std::string::npos)
            end = name.size();
        std::string part = name.substr(start, end - start);
        if (part == "..")
            climbs = true;
        if (!part.empty() && part != ".") {
            if (spaceToUnderscore)
                std::replace(part.begin(), part.end(), ' ', '_');
            parts.push_back(std::move(part));
        }
        start = end + 1;
    }
    if (honorDirectories) {
        if (absolute || drive || climbs) {
            path.kind = EntryPath::Unsafe;
            return path;
        }
        if (parts.empty())
            return path;
        if (isFolder) {
            path.kind = EntryPath::Folder;
            path.folders = std::move(parts);
        } else {
            path.kind = EntryPath::File;
            path.file = std::move(parts.back());
            parts.pop_back();
            path.folders = std::move(parts);
        }
        return path;
    }
    if (isFolder) {
        path.kind = EntryPath::Folder;
        return path;
    }
    if (parts.empty())
        return path;
    if (parts.back() == "..") {
        path.kind = EntryPath::Unsafe;
        return path;
    }
    path.kind = EntryPath::File;
    path.file = std::move(parts.back());
    return path;
}

// Buffers and a decompressor for QuickCheck, one set per thread.
struct Scratch {
    Scratch() = default;
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;
    ~Scratch() {
        if (decompressor != nullptr)
            libdeflate_free_decompressor(decompressor);
    }
    libdeflate_decompressor* decompressor = nullptr;
    std::unique_ptr<char[]> packed; // the compressed bytes of an entry
    std::size_t packedCapacity = 0;
    std::unique_ptr<char[]> unpacked; // and what they inflate to
    std::size_t unpackedCapacity = 0;
};

// A buffer of at least size bytes, its old content not kept.
char* Room(std::unique_ptr<char[]>& buffer, std::size_t& capacity, std::size_t size) {
    if (capacity < size || !buffer) {
        buffer.reset();
        capacity = std::max<std::size_t>({size, capacity * 2, 64 * 1024});
        buffer = std::make_unique_for_overwrite<char[]>(capacity);
    }
    return buffer.get();
}

// True when a plain stored or deflated entry of at most kMaxEntryBytes
// inflates, in one piece, to exactly the size and CRC its header states.
// Anything else (every kind of damage among it) is left to the careful,
// streaming read, which finds and reports it. Touches nothing but archive
// and scratch, so threads with archives of their own can run it at once.
bool QuickCheck(zip_t* archive, zip_uint64_t index, const zip_stat_t& st, Scratch& scratch) {
    constexpr zip_uint64_t kNeeded = ZIP_STAT_SIZE | ZIP_STAT_COMP_SIZE | ZIP_STAT_CRC | ZIP_STAT_COMP_METHOD;
    if ((st.valid & kNeeded) != kNeeded)
        return false;
    if ((st.valid & ZIP_STAT_ENCRYPTION_METHOD) && st.encryption_method != ZIP_EM_NONE)
        return false;
    const bool stored = st.comp_method == ZIP_CM_STORE;
    if (!stored && st.comp_method != ZIP_CM_DEFLATE)
        return false;
    if (st.size > kMaxEntryBytes || (stored ? st.comp_size != st.size : st.comp_size > kMaxEntryBytes))
        return false;
    zip_file_t* raw = zip_fopen_index(archive, index, ZIP_FL_COMPRESSED);
    if (raw == nullptr)
        return false;
    ZipFile file(raw);
    const auto packedSize = static_cast<std::size_t>(st.comp_size);
    char* packed = Room(scratch.packed, scratch.packedCapacity, packedSize + 1);
    std::size_t got = 0;
    while (got < packedSize) {
        const zip_int64_t n = zip_fread(file.get(), packed + got, packedSize - got);
        if (n <= 0)
            return false;
        got += static_cast<std::size_t>(n);
    }
    const auto size = static_cast<std::size_t>(st.size);
    const char* data = packed;
    if (!stored) {
        if (scratch.decompressor == nullptr &&
            (scratch.decompressor = libdeflate_alloc_decompressor()) == nullptr)
            return false;
        char* out = Room(scratch.unpacked, scratch.unpackedCapacity, size + 1);
        std::size_t used = 0;
        std::size_t produced = 0;
        if (libdeflate_deflate_decompress_ex(scratch.decompressor, packed, packedSize, out, size, &used,
                                             &produced) != LIBDEFLATE_SUCCESS ||
            used != packedSize || produced != size)
            return false;
        data = out;
    }
    return libdeflate_crc32(0, data, size) == st.crc;
}

// A run; shared by its caller and, while it checks entries behind, by that
// thread, which may outlive the caller's interest in it.
class Run : public std::enable_shared_from_this<Run> {
  public:
    Run(int includeCount, const char* const* includeList, int excludeCount, const char* const* excludeList,
        const UnzipOptions& options, const UnzipUserFunctions& callbacks)
        : options_(options), callbacks_(callbacks) {
        for (int i = 0; i < includeCount && includeList != nullptr; ++i)
            if (includeList[i] != nullptr)
                includes_.emplace_back(includeList[i]);
        for (int i = 0; i < excludeCount && excludeList != nullptr; ++i)
            if (excludeList[i] != nullptr)
                excludes_.emplace_back(excludeList[i]);
        zipName_ = options.zipFileName;
        if (options.extractDir != nullptr)
            extractDir_ = options.extractDir;
        for (int i = 0; i < options.writtenNameCount && options.writtenNames != nullptr; ++i)
            if (options.writtenNames[i] != nullptr)
                writtenNames_.emplace_back(options.writtenNames[i]);
        // A list of only null names still means that just the listed entries are written.
        writeSome_ = options.writtenNameCount > 0 && options.writtenNames != nullptr;
    }
    Run(const Run&) = delete;
    Run& operator=(const Run&) = delete;
    ~Run() {
        StopChecksAhead();
        if (archive_ != nullptr)
            zip_discard(archive_);
    }

    // Runs on the archive. With testLater, the entries that follow every
    // entry that is written or asked about are only tested, and their
    // testing is left to FinishLater (checked meanwhile on idle threads);
    // LeftForLater tells whether any were.
    int Execute(bool testLater = false);
    bool LeftForLater() const { return laterFrom_ < count_; }
    // Tests the entries left for later in entry order, exactly as Execute
    // would have, and returns the run's final result code.
    int FinishLater();
    // Asks the checks behind to end; the run's tests are abandoned.
    void AbandonChecksBehind() { aheadQuit_ = true; }
    // The callback record as the run left it (a listing fills its totals).
    const UnzipUserFunctions& Callbacks() const { return callbacks_; }

  private:
    bool Quiet() const { return options_.messageLevel != 0; }
    bool Listing() const { return options_.extractList != 0; }
    bool Extracting() const { return !Listing() && options_.testZip == 0 && options_.writeToStdOut == 0; }

    // A message; those beyond kMaxMessageBytes in the run are left out, so an
    // archive of thousands of bad entries cannot make the text endless.
    void Print(const std::string& text) {
        if (messagesCut_)
            return;
        if (printed_ + text.size() > kMaxMessageBytes) {
            messagesCut_ = true;
            Deliver("... further messages left out\n");
            return;
        }
        printed_ += text.size();
        Deliver(text);
    }
    // Entry data (or a message that must get through), handed over in pieces.
    void Deliver(const std::string& text) {
        if (callbacks_.print == nullptr)
            return;
        for (std::size_t at = 0; at < text.size(); at += kPrintPiece) {
            const std::string piece = text.substr(at, kPrintPiece);
            callbacks_.print(piece.c_str(), piece.size());
        }
    }
    // Regular progress messages, printed only at message level 0.
    void Say(const std::string& text) {
        if (!Quiet())
            Print(text);
    }
    void Raise(int code) { result_ = std::max(result_, code); }

    // Opens the archive: from memory when it is small enough to be read
    // whole at once, otherwise from the file (kept open for CheckBehind).
    bool OpenArchive(bool wholeAtOnce);
    bool ReadWholeArchive(int fd, off_t size);
    bool Matches(const std::string& name) const;
    bool OpenTarget();
    int OpenFolder(const std::vector<std::string>& folders, int& err);
    void ListEntry(const zip_stat_t& st);
    // Reads an entry, asking for passwords as needed, and hands its data to
    // write (which returns 0 or an errno value); rewind undoes what write did
    // before another attempt. False when the entry was skipped or failed; the
    // result code and the message are already set then.
    bool ReadEntry(zip_uint64_t index, const zip_stat_t& st, const std::string& shown,
                   const std::function<int(const char*, std::size_t)>& write,
                   const std::function<bool()>& rewind);
    ReadStatus ReadOnce(zip_uint64_t index, const char* password,
                        const std::function<int(const char*, std::size_t)>& write, int& writeErr);
    // Reads an entry to nowhere, checking its data; false when the run has to stop.
    bool TestEntry(zip_uint64_t index, const zip_stat_t& st);
    // Checks ahead, on up to four cores, the entries from..to that this run
    // will only test, so that the run in entry order finds most of them
    // already known sound. The calling thread works along; the checks are
    // done on return.
    void CheckAhead(zip_uint64_t from, zip_uint64_t to);
    // The same for the entries from..to that FinishLater will test, on a
    // thread that runs only when a core is idle and first reads the archive
    // into memory. Nobody ever waits for that thread: under load from other
    // programs it may get no core for seconds. FinishLater tests whatever it
    // has not found sound, and the thread keeps the run alive until it ends.
    void CheckBehind(zip_uint64_t from, zip_uint64_t to);
    // One thread's share of the checks ahead, on an archive handle of its
    // own over the archive in memory.
    void CheckOnOwnHandle(zip_uint64_t to);
    void CheckWith(zip_t* archive, Scratch& scratch, zip_uint64_t to);
    // Forgets earlier checks ahead; the next one starts at entry from.
    void StartChecksAhead(zip_uint64_t from);
    // Asks the checks ahead to end, and waits for them.
    void StopChecksAhead();
    // The first entry from which on every entry is only tested: none is
    // written, asks for a password or could replace a file.
    zip_uint64_t FirstOfTestedTail(zip_uint64_t count) const;
    // The entries from..to in entry order; false when the run ended among them.
    bool Entries(zip_uint64_t from, zip_uint64_t to);
    // What follows the last entry: the listing's ratio, the no-match warning.
    void Conclude();
    // Whether a file entry of that name is written (or only tested).
    bool Writes(const std::string& file) const {
        return !writeSome_ ||
               std::find(writtenNames_.begin(), writtenNames_.end(), file) != writtenNames_.end();
    }
    // Returns false when the run has to stop.
    bool ExtractEntry(zip_uint64_t index, const zip_stat_t& st);
    bool ExtractFile(zip_uint64_t index, const zip_stat_t& st, const EntryPath& path,
                     const std::string& shown);

    // Copies: a run whose tests are finished later outlives its caller's records.
    const UnzipOptions options_;
    UnzipUserFunctions callbacks_;
    std::vector<std::string> includes_;
    std::vector<std::string> excludes_;
    std::vector<std::string> writtenNames_;
    bool writeSome_ = false; // only the entries named in writtenNames_ are written
    std::string zipName_;
    std::string extractDir_;
    zip_t* archive_ = nullptr;
    int result_ = kOk;
    bool stop_ = false;          // a full disk or the size limit ends the run
    std::uint64_t inflated_ = 0; // bytes inflated in this run, whether kept or not
    std::size_t printed_ = 0;    // message bytes printed in this run
    bool messagesCut_ = false;
    Fd targetFd_;
    // The folder of the previous entry, kept open for the next one.
    std::vector<std::string> cachedFolders_;
    Fd cachedFolderFd_;
    bool cachedValid_ = false;
    std::string password_; // the last password that worked, tried first for later entries
    std::vector<char> buffer_;
    Scratch scratch_;
    // By the checks ahead or behind: 1 for an entry QuickCheck found sound.
    // Each is written by one thread only, and read while the checks behind
    // may still run.
    std::vector<std::atomic<std::uint8_t>> sound_;
    std::atomic<zip_uint64_t> aheadNext_{0};
    std::atomic<std::uint64_t> aheadBudget_{0};
    std::atomic<bool> aheadQuit_{false};
    std::vector<std::thread> aheadThreads_;
    zip_uint64_t count_ = 0;     // entries in the archive
    zip_uint64_t laterFrom_ = 0; // the first entry left for FinishLater; count_ when none
    std::size_t matched_ = 0;    // entries that matched the include and exclude names
    std::string content_;        // the archive itself when it was small enough to read whole
    Fd laterFd_;                 // the archive file, for CheckBehind to read
    off_t laterSize_ = 0;
};

bool Run::ReadWholeArchive(int fd, off_t size) {
    content_.resize(static_cast<std::size_t>(size));
    std::size_t done = 0;
    while (done < content_.size()) {
        const ssize_t n =
            ::pread(fd, content_.data() + done, content_.size() - done, static_cast<off_t>(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    content_.resize(done); // a file that shrank meanwhile is read as it is now
    return !content_.empty();
}

bool Run::OpenArchive(bool wholeAtOnce) {
    struct stat sb {};
    if (::stat(zipName_.c_str(), &sb) != 0 || !S_ISREG(sb.st_mode)) {
        Print("unzip:  cannot find or open " + zipName_ + ".\n");
        Raise(kNoZip);
        return false;
    }
    int err = 0;
    Fd fd(sb.st_size > 0 ? ::open(zipName_.c_str(), O_RDONLY | O_CLOEXEC) : -1);
    if (sb.st_size == 0) {
        err = ZIP_ER_NOZIP; // an empty file is no archive
    } else if (fd.get() < 0) {
        err = ZIP_ER_OPEN;
    } else if (wholeAtOnce && sb.st_size <= kWholeReadLimit && ReadWholeArchive(fd.get(), sb.st_size)) {
        // Working from memory saves the seek and read calls that libzip
        // makes for every entry of a file.
        zip_error_t error;
        zip_error_init(&error);
        zip_source_t* source = zip_source_buffer_create(content_.data(), content_.size(), 0, &error);
        if (source != nullptr) {
            archive_ = zip_open_from_source(source, ZIP_RDONLY, &error);
            if (archive_ == nullptr)
                zip_source_free(source);
        }
        err = zip_error_code_zip(&error);
        zip_error_fini(&error);
    } else {
        // The file stays open for reading it whole later, so that what is
        // checked is this file even if its name comes to stand for another.
        if (!wholeAtOnce && sb.st_size <= kWholeReadLimit) {
            laterFd_.reset(::fcntl(fd.get(), F_DUPFD_CLOEXEC, 0));
            laterSize_ = sb.st_size;
        }
        // A stream of the descriptor itself, which is closed on exec: the
        // archive may stay open while the job starts other programs.
        FILE* file = ::fdopen(fd.get(), "rb");
        if (file == nullptr) {
            err = ZIP_ER_OPEN;
        } else {
            fd.release(); // the stream owns it now
            zip_error_t error;
            zip_error_init(&error);
            zip_source_t* source = zip_source_filep_create(file, 0, -1, &error);
            if (source == nullptr) {
                std::fclose(file);
            } else {
                archive_ = zip_open_from_source(source, ZIP_RDONLY, &error);
                if (archive_ == nullptr)
                    zip_source_free(source); // closes the stream
            }
            err = zip_error_code_zip(&error);
            zip_error_fini(&error);
        }
    }
    if (archive_ != nullptr)
        return true;
    switch (err) {
    case ZIP_ER_NOZIP:
        Print("[" + zipName_ +
              "]\n  End-of-central-directory signature not found.  Either this file is not\n"
              "  a zipfile, or it is damaged or incomplete.\n");
        Raise(kNoZip);
        break;
    case ZIP_ER_OPEN:
    case ZIP_ER_NOENT:
        Print("unzip:  cannot find or open " + zipName_ + ".\n");
        Raise(kNoZip);
        break;
    case ZIP_ER_MEMORY:
        Print("error [" + zipName_ + "]:  not enough memory\n");
        Raise(kNoMemory);
        break;
    default: {
        zip_error_t error;
        zip_error_init_with_code(&error, err);
        Print("error [" + zipName_ + "]:  " + zip_error_strerror(&error) + "\n");
        zip_error_fini(&error);
        Raise(kBadZip);
        break;
    }
    }
    return false;
}

bool Run::Matches(const std::string& name) const {
    const int flags = options_.caseSensitive != 0 ? 0 : FNM_CASEFOLD;
    const auto match = [&](const std::string& pattern) {
        return ::fnmatch(pattern.c_str(), name.c_str(), flags) == 0;
    };
    if (!includes_.empty() && std::none_of(includes_.begin(), includes_.end(), match))
        return false;
    return std::none_of(excludes_.begin(), excludes_.end(), match);
}

bool Run::OpenTarget() {
    const std::string root = extractDir_.empty() ? std::string(".") : extractDir_;
    // Create the target folder with the folders on its way, as UnZip does.
    for (std::size_t pos = 1; pos <= root.size(); ++pos) {
        if (pos == root.size() || root[pos] == '/') {
            const std::string prefix = root.substr(0, pos);
            if (::mkdir(prefix.c_str(), 0777) != 0 && errno != EEXIST)
                break;
        }
    }
    targetFd_.reset(::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (targetFd_.get() < 0) {
        Print("checkdir:  cannot create extraction directory: " + root + "\n           " +
              std::strerror(errno) + "\n");
        Raise(kError);
        return false;
    }
    return true;
}

// Opens (creating when missing) the folders below the target without
// following any symbolic link on the way. Returns a descriptor owned by the
// cache, or -1 with err set.
int Run::OpenFolder(const std::vector<std::string>& folders, int& err) {
    if (folders.empty())
        return targetFd_.get();
    if (cachedValid_ && folders == cachedFolders_)
        return cachedFolderFd_.get();
    cachedValid_ = false;
    cachedFolderFd_.reset();
    Fd current;
    int at = targetFd_.get();
    for (const auto& part : folders) {
        if (::mkdirat(at, part.c_str(), 0777) != 0 && errno != EEXIST) {
            err = errno;
            return -1;
        }
        const int next = ::openat(at, part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (next < 0) {
            err = errno;
            return -1;
        }
        current.reset(next);
        at = next;
    }
    cachedFolderFd_.reset(current.release());
    cachedFolders_ = folders;
    cachedValid_ = true;
    return cachedFolderFd_.get();
}

void Run::ListEntry(const zip_stat_t& st) {
    const unsigned long size = static_cast<unsigned long>(st.size);
    const unsigned long compressed = static_cast<unsigned long>(st.comp_size);
    const unsigned factor = (st.size == 0 || st.comp_size >= st.size)
                                ? 0u
                                : static_cast<unsigned>((st.size - st.comp_size) * 100 / st.size);
    std::tm tm{};
    const std::time_t mtime = (st.valid & ZIP_STAT_MTIME) ? st.mtime : 0;
    ::localtime_r(&mtime, &tm);
    callbacks_.totalSize += size;
    callbacks_.totalSizeComp += compressed;
    callbacks_.numMembers += 1;
    if (callbacks_.entryMessage != nullptr)
        callbacks_.entryMessage(
            size, compressed, factor, static_cast<unsigned>(tm.tm_mon + 1), static_cast<unsigned>(tm.tm_mday),
            static_cast<unsigned>(tm.tm_year + 1900), static_cast<unsigned>(tm.tm_hour),
            static_cast<unsigned>(tm.tm_min), ' ', st.name, MethodText(st.comp_method, 0).c_str(),
            static_cast<unsigned long>(st.crc), st.encryption_method != ZIP_EM_NONE ? 'E' : ' ');
}

ReadStatus Run::ReadOnce(zip_uint64_t index, const char* password,
                         const std::function<int(const char*, std::size_t)>& write, int& writeErr) {
    zip_file_t* raw = password != nullptr ? zip_fopen_index_encrypted(archive_, index, 0, password)
                                          : zip_fopen_index(archive_, index, 0);
    if (raw == nullptr) {
        switch (zip_error_code_zip(zip_get_error(archive_))) {
        case ZIP_ER_WRONGPASSWD:
        case ZIP_ER_NOPASSWD:
            return ReadStatus::WrongPassword;
        case ZIP_ER_ENCRNOTSUPP:
        case ZIP_ER_COMPNOTSUPP:
            return ReadStatus::Unsupported;
        case ZIP_ER_MEMORY:
            return ReadStatus::NoMemory;
        default:
            return ReadStatus::ArchiveError;
        }
    }
    ZipFile file(raw);
    if (buffer_.empty())
        buffer_.resize(256 * 1024);
    std::uint64_t entryBytes = 0;
    for (;;) {
        const zip_int64_t n = zip_fread(file.get(), buffer_.data(), buffer_.size());
        if (n == 0)
            return ReadStatus::Ok;
        if (n < 0) {
            switch (zip_error_code_zip(zip_file_get_error(file.get()))) {
            case ZIP_ER_CRC:
            case ZIP_ER_ZLIB:
            case ZIP_ER_COMPRESSED_DATA:
                return password != nullptr ? ReadStatus::WrongPassword : ReadStatus::DataError;
            case ZIP_ER_WRONGPASSWD:
                return ReadStatus::WrongPassword;
            case ZIP_ER_MEMORY:
                return ReadStatus::NoMemory;
            default:
                return ReadStatus::ArchiveError;
            }
        }
        // Counted before anything is written: what the archive states about
        // sizes is not trusted.
        entryBytes += static_cast<std::uint64_t>(n);
        inflated_ += static_cast<std::uint64_t>(n);
        if (inflated_ > kMaxTotalBytes)
            return ReadStatus::RunTooLarge;
        if (entryBytes > kMaxEntryBytes)
            return ReadStatus::EntryTooLarge;
        writeErr = write(buffer_.data(), static_cast<std::size_t>(n));
        if (writeErr != 0)
            return IsDiskFull(writeErr) ? ReadStatus::DiskFull : ReadStatus::WriteError;
    }
}

bool Run::ReadEntry(zip_uint64_t index, const zip_stat_t& st, const std::string& shown,
                    const std::function<int(const char*, std::size_t)>& write,
                    const std::function<bool()>& rewind) {
    const std::string name = st.name;
    const bool encrypted = (st.valid & ZIP_STAT_ENCRYPTION_METHOD) && st.encryption_method != ZIP_EM_NONE;
    if (encrypted && !zip_encryption_method_supported(st.encryption_method, 0)) {
        Print("   skipping: " + name + "  unsupported encryption method " +
              std::to_string(st.encryption_method) + "\n");
        Raise(kUnsupported);
        return false;
    }
    if (!zip_compression_method_supported(st.comp_method, 0)) {
        Print("   skipping: " + name + "  unsupported compression method " + std::to_string(st.comp_method) +
              "\n");
        Raise(kUnsupported);
        return false;
    }
    bool triedKept = password_.empty();
    bool first = true;
    for (;;) {
        std::string password;
        if (encrypted) {
            if (!triedKept) {
                password = password_;
                triedKept = true;
            } else {
                std::vector<char> answer(kPasswordBufferSize, '\0');
                const std::string prompt = "[" + zipName_ + "] " + name + " password: ";
                const int refused = callbacks_.password == nullptr
                                        ? 1
                                        : callbacks_.password(answer.data(), kPasswordBufferSize,
                                                              prompt.c_str(), name.c_str());
                answer.back() = '\0';
                password = answer.data();
                if (refused != 0 || password.empty()) {
                    Print("   skipping: " + name + "  unable to get password\n");
                    Raise(kBadPassword);
                    return false;
                }
            }
        }
        if (!first && !rewind()) {
            Print("error:  cannot write " + shown + "\n        " + std::strerror(errno) + "\n");
            Raise(kError);
            return false;
        }
        first = false;
        int writeErr = 0;
        const ReadStatus status = ReadOnce(index, encrypted ? password.c_str() : nullptr, write, writeErr);
        switch (status) {
        case ReadStatus::Ok:
            if (encrypted)
                password_ = password;
            return true;
        case ReadStatus::WrongPassword:
            if (!encrypted) {
                Print("   skipping: " + name + "  unable to read the entry\n");
                Raise(kError);
                return false;
            }
            Print("password incorrect--reenter: \n");
            continue;
        case ReadStatus::Unsupported:
            Print("   skipping: " + name + "  unsupported compression method or encryption\n");
            Raise(kUnsupported);
            return false;
        case ReadStatus::DataError:
            Print("  error:  invalid compressed data or bad CRC in " + name + "\n");
            Raise(kError);
            return false;
        case ReadStatus::ArchiveError:
            Print("  error:  " + name + ":  the archive is damaged or incomplete\n");
            Raise(kBadZip);
            return false;
        case ReadStatus::NoMemory:
            Print("  error:  not enough memory for " + name + "\n");
            Raise(kNoMemory);
            return false;
        case ReadStatus::DiskFull:
            Print("write error (disk full?):  " + shown + "\n");
            Raise(kDiskFull);
            stop_ = true;
            return false;
        case ReadStatus::WriteError:
            Print("error:  cannot write " + shown + "\n        " + std::strerror(writeErr) + "\n");
            Raise(kError);
            return false;
        case ReadStatus::EntryTooLarge:
            Print("error:  " + name + " unpacks to more than " + std::to_string(kMaxEntryBytes >> 20) +
                  " MiB; Jarseal skips it\n");
            Raise(kError);
            return false;
        case ReadStatus::RunTooLarge:
            Deliver("error:  archive unpacks to more than " + std::to_string(kMaxTotalBytes >> 20) +
                    " MiB; Jarseal stops there\n");
            Raise(kBadZip);
            stop_ = true;
            return false;
        }
    }
}

bool Run::ExtractFile(zip_uint64_t index, const zip_stat_t& st, const EntryPath& path,
                      const std::string& shown) {
    int err = 0;
    const int folderFd = OpenFolder(path.folders, err);
    if (folderFd < 0) {
        if (err == ELOOP || err == ENOTDIR) {
            Print("   skipping: " + shown + "  a folder on its way is a link or not a folder\n");
            Raise(kWarning);
        } else {
            Print("checkdir error:  cannot create folder for " + shown + "\n                 " +
                  std::strerror(err) + "\n");
            Raise(kError);
        }
        return true;
    }
    struct stat sb {};
    const bool exists = ::fstatat(folderFd, path.file.c_str(), &sb, AT_SYMLINK_NOFOLLOW) == 0;
    const bool hasTime = (st.valid & ZIP_STAT_MTIME) != 0;
    if (exists) {
        if (S_ISDIR(sb.st_mode)) {
            Print("error:  cannot create " + shown + "\n        a folder of that name exists\n");
            Raise(kError);
            return true;
        }
        if ((options_.extractNewer != 0 || options_.extractOnlyNewer != 0) && hasTime &&
            S_ISREG(sb.st_mode) && sb.st_mtime >= st.mtime)
            return true;
        if (options_.overwriteFiles == 0) {
            if (options_.promptToOverwrite == 0 || callbacks_.replace == nullptr)
                return true;
            const int answer = callbacks_.replace(shown.c_str());
            if (answer == kReplaceCancel) {
                Print("unzip:  stopped by the user\n");
                Raise(kStopped);
                return false;
            }
            if (answer != kReplaceYes)
                return true;
        }
    } else if (options_.extractNewer != 0) {
        return true; // freshening touches only files that exist
    }

    TempFile temp(folderFd);
    if (!temp.Create()) {
        const int e = errno;
        Print("error:  cannot create " + shown + "\n        " + std::strerror(e) + "\n");
        Raise(IsDiskFull(e) ? kDiskFull : kError);
        stop_ = IsDiskFull(e);
        return !stop_;
    }
    const int fd = temp.fd();
    const auto write = [fd](const char* data, std::size_t size) { return WriteFully(fd, data, size); };
    if (!ReadEntry(index, st, shown, write, [&temp] { return temp.Rewind(); }))
        return !stop_;
    if (hasTime) {
        const struct timespec times[2] = {{st.mtime, 0}, {st.mtime, 0}};
        ::futimens(fd, times);
    }
    if (!temp.Commit(path.file, exists)) {
        const int e = errno;
        Print("error:  cannot create " + shown + "\n        " + std::strerror(e) + "\n");
        Raise(IsDiskFull(e) ? kDiskFull : kError);
        stop_ = IsDiskFull(e);
        return !stop_;
    }
    Say((st.comp_method == ZIP_CM_STORE ? " extracting: " : "  inflating: ") + shown + "\n");
    return true;
}

// Checks ahead are worth threads only for this many entries or more.
constexpr zip_uint64_t kMinEntriesAhead = 64;

void Run::CheckWith(zip_t* archive, Scratch& scratch, zip_uint64_t to) {
    for (zip_uint64_t i; !aheadQuit_.load(std::memory_order_relaxed) && (i = aheadNext_.fetch_add(1)) < to;) {
        zip_stat_t st;
        zip_stat_init(&st);
        if (zip_stat_index(archive, i, 0, &st) != 0 || st.name == nullptr || !Matches(st.name))
            continue;
        const EntryPath path =
            SplitEntryName(st.name, options_.honorDirectories != 0, options_.spaceToUnderscore != 0);
        if (options_.testZip == 0 && (path.kind != EntryPath::File || Writes(path.file)))
            continue; // not an entry the run tests
        if ((st.valid & ZIP_STAT_SIZE) == 0 || st.size > kMaxEntryBytes)
            continue;
        // What the checks ahead inflate in all stays within the run's limit;
        // entries beyond it are left to the run itself.
        if (aheadBudget_.fetch_add(st.size) + st.size > kMaxTotalBytes) {
            aheadQuit_ = true;
            break;
        }
        if (QuickCheck(archive, i, st, scratch))
            sound_[static_cast<std::size_t>(i)].store(1, std::memory_order_release);
    }
}

void Run::CheckOnOwnHandle(zip_uint64_t to) {
    try {
        zip_error_t error;
        zip_error_init(&error);
        zip_source_t* source = zip_source_buffer_create(content_.data(), content_.size(), 0, &error);
        zip_t* archive = source != nullptr ? zip_open_from_source(source, ZIP_RDONLY, &error) : nullptr;
        if (archive == nullptr && source != nullptr)
            zip_source_free(source);
        zip_error_fini(&error);
        if (archive == nullptr)
            return;
        Scratch scratch;
        CheckWith(archive, scratch, to);
        zip_discard(archive);
    } catch (...) {
        // Whatever this thread leaves unchecked, the run checks itself.
    }
}

void Run::CheckAhead(zip_uint64_t from, zip_uint64_t to) {
    // The threads share the archive's bytes in memory.
    const unsigned cores = std::thread::hardware_concurrency();
    if (to < from + kMinEntriesAhead || content_.empty() || cores < 2)
        return;
    StartChecksAhead(from);
    try {
        for (unsigned h = 0; h < std::min(cores - 1, 3u); ++h)
            aheadThreads_.emplace_back([this, to] { CheckOnOwnHandle(to); });
    } catch (...) {
        // No thread to be had: the run checks on its own.
    }
    try {
        CheckWith(archive_, scratch_, to);
    } catch (...) {
        aheadQuit_ = true;
    }
    StopChecksAhead();
}

void Run::CheckBehind(zip_uint64_t from, zip_uint64_t to) {
    const std::shared_ptr<Run> self = weak_from_this().lock();
    if (to < from + kMinEntriesAhead || laterFd_.get() < 0 || !self)
        return;
    StartChecksAhead(from);
    // One thread is enough: on a 20 MB suite the checks take a fifth of the
    // time the JAD tool's two runs take, and a second idle thread would only
    // compete with the JVM's own threads for the cores they leave.
    try {
        std::thread([self, to] {
            RunThisThreadWhenIdle();
            try {
                if (self->ReadWholeArchive(self->laterFd_.get(), self->laterSize_))
                    self->CheckOnOwnHandle(to);
                // Nothing reads the copy any more (the run reads the file):
                // it is given back here rather than at the end of the job.
                std::string().swap(self->content_);
            } catch (...) {
                // FinishLater tests whatever is left.
            }
        }).detach();
    } catch (...) {
        // No thread to be had: FinishLater tests everything itself.
    }
}

void Run::StartChecksAhead(zip_uint64_t from) {
    sound_ = std::vector<std::atomic<std::uint8_t>>(static_cast<std::size_t>(count_));
    aheadNext_ = from;
    aheadBudget_ = 0;
    aheadQuit_ = false;
}

void Run::StopChecksAhead() {
    if (aheadThreads_.empty())
        return;
    // The threads' results are kept; only what they have not begun is dropped.
    aheadQuit_ = true;
    for (auto& t : aheadThreads_)
        t.join();
    aheadThreads_.clear();
}

bool Run::TestEntry(zip_uint64_t index, const zip_stat_t& st) {
    // In entry order, an entry found sound counts its bytes against the run's
    // limit like a streamed one; one that would cross it is streamed, so that
    // the limit stops the run exactly where it always did.
    if (inflated_ + st.size <= kMaxTotalBytes &&
        ((index < sound_.size() &&
          sound_[static_cast<std::size_t>(index)].load(std::memory_order_acquire) != 0) ||
         QuickCheck(archive_, index, st, scratch_))) {
        inflated_ += st.size;
        if (!Quiet()) // the message of each of thousands of entries is built only to be shown
            Say("    testing: " + std::string(st.name) + "   OK\n");
        return true;
    }
    if (ReadEntry(
            index, st, st.name, [](const char*, std::size_t) { return 0; }, [] { return true; }) &&
        !Quiet())
        Say("    testing: " + std::string(st.name) + "   OK\n");
    return !stop_;
}

bool Run::ExtractEntry(zip_uint64_t index, const zip_stat_t& st) {
    const std::string name = st.name;
    zip_uint8_t opsys = 0;
    zip_uint32_t attributes = 0;
    if (zip_file_get_external_attributes(archive_, index, 0, &opsys, &attributes) == 0 &&
        opsys == ZIP_OPSYS_UNIX && ((attributes >> 16) & S_IFMT) == S_IFLNK) {
        Print("   skipping: " + name + "  symbolic links are not extracted\n");
        Raise(kWarning);
        return true;
    }
    if (options_.testZip != 0)
        return TestEntry(index, st);
    if (options_.writeToStdOut != 0) {
        ReadEntry(
            index, st, name,
            [this](const char* data, std::size_t size) {
                Deliver(std::string(data, size));
                return 0;
            },
            [] { return true; });
        return !stop_;
    }
    const EntryPath path =
        SplitEntryName(name, options_.honorDirectories != 0, options_.spaceToUnderscore != 0);
    // Where the entry goes, as messages name it.
    const auto shownPath = [&] {
        std::string shown = extractDir_;
        if (!shown.empty() && shown.back() != '/')
            shown += '/';
        for (const auto& folder : path.folders)
            shown += folder + "/";
        return shown + path.file;
    };
    switch (path.kind) {
    case EntryPath::Unsafe:
        Print("   skipping: " + name + "  the name leads outside the target folder\n");
        Raise(kWarning);
        return true;
    case EntryPath::Empty:
        Print("   skipping: " + name + "  the name is empty\n");
        Raise(kWarning);
        return true;
    case EntryPath::Folder: {
        if (options_.honorDirectories == 0 || writeSome_)
            return true;
        int err = 0;
        if (OpenFolder(path.folders, err) < 0) {
            Print("checkdir error:  cannot create " + shownPath() + "\n                 " +
                  std::strerror(err) + "\n");
            Raise(err == ELOOP || err == ENOTDIR ? kWarning : kError);
        } else {
            Say("   creating: " + shownPath() + "\n");
        }
        return true;
    }
    case EntryPath::File:
        break;
    }
    // An entry the caller does not read is checked as thoroughly as a written
    // one (the same data, CRC and size checks, the same messages), but
    // nothing reaches the disk.
    if (!Writes(path.file))
        return TestEntry(index, st);
    return ExtractFile(index, st, path, shownPath());
}

zip_uint64_t Run::FirstOfTestedTail(zip_uint64_t count) const {
    if (!Extracting() || !writeSome_)
        return count;
    zip_uint64_t first = 0;
    for (zip_uint64_t i = 0; i < count; ++i) {
        zip_stat_t st;
        zip_stat_init(&st);
        if (zip_stat_index(archive_, i, 0, &st) != 0 || st.name == nullptr || !Matches(st.name))
            continue; // only a message, or nothing, whenever it comes
        const bool encrypted = (st.valid & ZIP_STAT_ENCRYPTION_METHOD) && st.encryption_method != ZIP_EM_NONE;
        const EntryPath path =
            SplitEntryName(st.name, options_.honorDirectories != 0, options_.spaceToUnderscore != 0);
        if (encrypted || (path.kind == EntryPath::File && Writes(path.file)))
            first = i + 1;
    }
    return first;
}

bool Run::Entries(zip_uint64_t from, zip_uint64_t to) {
    for (zip_uint64_t index = from; index < to; ++index) {
        zip_stat_t st;
        zip_stat_init(&st);
        if (zip_stat_index(archive_, index, 0, &st) != 0 || st.name == nullptr) {
            Print("  error:  cannot read entry " + std::to_string(index) + " of " + zipName_ + "\n");
            Raise(kBadZip);
            continue;
        }
        if (!Matches(st.name))
            continue;
        ++matched_;
        if (callbacks_.service != nullptr &&
            callbacks_.service(st.name,
                               static_cast<unsigned long>((st.valid & ZIP_STAT_SIZE) ? st.size : 0)) != 0) {
            Print("unzip:  stopped by the user\n");
            Raise(kStopped);
            return false;
        }
        if (Listing()) {
            ListEntry(st);
            continue;
        }
        if (!ExtractEntry(index, st))
            return false;
    }
    return true;
}

void Run::Conclude() {
    if (Listing() && callbacks_.totalSize > 0 && callbacks_.totalSizeComp < callbacks_.totalSize)
        callbacks_.compFactor = static_cast<unsigned>((callbacks_.totalSize - callbacks_.totalSizeComp) *
                                                      100 / callbacks_.totalSize);
    if (matched_ == 0) {
        if (count_ == 0)
            Print("warning [" + zipName_ + "]:  zipfile is empty\n");
        else
            Print("caution: filename not matched\n");
        Raise(kNoMatch);
    }
}

int Run::Execute(bool testLater) {
    const bool mayLeave = testLater && Extracting() && writeSome_;
    if (!OpenArchive(!mayLeave))
        return result_;
    const zip_int64_t count = zip_get_num_entries(archive_, 0);
    if (count > 0 && static_cast<std::uint64_t>(count) > kMaxEntries) {
        Deliver("error:  archive holds " + std::to_string(count) + " entries, more than " +
                std::to_string(kMaxEntries) + "; Jarseal unpacks none of them\n");
        Raise(kBadZip);
        return result_;
    }
    count_ = count > 0 ? static_cast<zip_uint64_t>(count) : 0;
    laterFrom_ = count_;
    Say("Archive:  " + zipName_ + "\n");
    if (options_.displayComment != 0) {
        int length = 0;
        const char* comment = zip_get_archive_comment(archive_, &length, 0);
        if (comment != nullptr && length > 0)
            Print(std::string(comment, static_cast<std::size_t>(length)) + "\n");
    }
    if (Listing()) {
        int length = 0;
        zip_get_archive_comment(archive_, &length, 0);
        callbacks_.commentLength = static_cast<unsigned>(std::max(length, 0));
        callbacks_.totalSize = callbacks_.totalSizeComp = 0;
        callbacks_.numMembers = 0;
        callbacks_.compFactor = 0;
    }
    if (Extracting() && !OpenTarget())
        return result_;
    const zip_uint64_t now = mayLeave ? FirstOfTestedTail(count_) : count_;
    if (count_ > 0 && !Listing() && (options_.testZip != 0 || (Extracting() && writeSome_)))
        CheckAhead(0, now);
    if (!Entries(0, now))
        return result_;
    if (now < count_) {
        laterFrom_ = now;
        CheckBehind(now, count_);
        return result_;
    }
    Conclude();
    return result_;
}

int Run::FinishLater() {
    // What the checks behind have not found sound yet is tested here.
    aheadQuit_ = true;
    const zip_uint64_t from = laterFrom_;
    laterFrom_ = count_;
    if (Entries(from, count_))
        Conclude();
    return result_;
}

} // namespace

void UzpVersion2(UnzipVersion* version) {
    if (version == nullptr || version->structLength < sizeof(UnzipVersion))
        return;
    version->flag = 0;
    std::snprintf(version->betaLevel, sizeof version->betaLevel, "%s", "");
    std::snprintf(version->date, sizeof version->date, "%s", "jarseal");
    std::snprintf(version->engineVersion, sizeof version->engineVersion, "%s", zip_libzip_version());
    version->unzip = {1, 0, 0, 0};
    version->zipinfo = {0, 0, 0, 0};
    version->os2dll = {0, 0, 0, 0};
    version->windll = {1, 0, 0, 0};
}

int Wiz_SingleEntryUnzip(int includeCount, const char* const* includeList, int excludeCount,
                         const char* const* excludeList, const UnzipOptions* options,
                         UnzipUserFunctions* callbacks) {
    if (options == nullptr || callbacks == nullptr || options->zipFileName == nullptr)
        return kBadParam;
    try {
        Run run(includeCount, includeList, excludeCount, excludeList, *options, *callbacks);
        const int result = run.Execute();
        *callbacks = run.Callbacks();
        return result;
    } catch (const std::bad_alloc&) {
        return kNoMemory;
    }
}

namespace {

class RunTestedLater : public LaterTests {
  public:
    explicit RunTestedLater(std::shared_ptr<Run> run) : run_(std::move(run)) {}
    ~RunTestedLater() override {
        if (run_)
            run_->AbandonChecksBehind();
    }
    int Finish() override {
        if (!run_)
            return kBadParam;
        try {
            const int result = run_->FinishLater();
            run_.reset();
            return result;
        } catch (const std::bad_alloc&) {
            run_.reset();
            return kNoMemory;
        }
    }

  private:
    std::shared_ptr<Run> run_;
};

} // namespace

int Wiz_SingleEntryUnzipTestingLater(int includeCount, const char* const* includeList, int excludeCount,
                                     const char* const* excludeList, const UnzipOptions* options,
                                     UnzipUserFunctions* callbacks, std::unique_ptr<LaterTests>& later) {
    later.reset();
    if (options == nullptr || callbacks == nullptr || options->zipFileName == nullptr)
        return kBadParam;
    try {
        auto run =
            std::make_shared<Run>(includeCount, includeList, excludeCount, excludeList, *options, *callbacks);
        const int result = run->Execute(true);
        *callbacks = run->Callbacks();
        if (run->LeftForLater())
            later = std::make_unique<RunTestedLater>(std::move(run));
        return result;
    } catch (const std::bad_alloc&) {
        later.reset();
        return kNoMemory;
    }
}

} // namespace jarseal::unzipdll
