#include "unzip/zipdll/UnzipDll.h"

#include "common/Fd.h"

#include "common/FileSystem.h"
#include "zip/ZipLayout.h"

#include <libdeflate.h>
#include <zip.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <fnmatch.h>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <sys/mman.h>
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

// One run of Wiz_SingleEntryUnzip.
class Run {
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
        if (archive_ != nullptr)
            zip_discard(archive_);
    }

    // Runs on the archive and returns the result code.
    int Execute();
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
    // whole at once, otherwise from the file.
    bool OpenArchive();
    bool ReadWholeArchive(int fd, off_t size);
    // Refuses an archive of more than kMaxEntries entries.
    bool CheckEntryCount(zip_int64_t count);
    // Refuses an archive whose records or entries' data lie out of place, or
    // whose entries share bytes, before anything is created: each of
    // thousands of directory records could otherwise inflate one huge stream.
    bool CheckLayout();
    // Tells the caller that the entry's data could not be read correctly.
    void ReportDamaged(const std::string& name) {
        if (options_.damagedEntry != nullptr)
            options_.damagedEntry(name.c_str());
    }
    bool Matches(const std::string& name) const;
    bool OpenTarget();
    int OpenFolder(const std::vector<std::string>& folders, int& err);
    void ListEntry(const zip_stat_t& st);
    // Reads an entry, asking for passwords as needed, and hands its data to
    // write (which returns 0 or an errno value); rewind undoes what write did
    // before another attempt. False when the entry was skipped or failed; the
    // result code and the message are already set then, and a damaged entry
    // reported.
    bool ReadEntry(zip_uint64_t index, const zip_stat_t& st, const std::string& shown,
                   const std::function<int(const char*, std::size_t)>& write,
                   const std::function<bool()>& rewind);
    ReadStatus ReadOnce(zip_uint64_t index, const char* password,
                        const std::function<int(const char*, std::size_t)>& write, int& writeErr);
    // Reads an entry to nowhere, checking its data; false when the run has to stop.
    bool TestEntry(zip_uint64_t index, const zip_stat_t& st);
    // Checks ahead, on the calling thread and one more, the entries this run
    // will only test, so that the run in entry order finds most of them
    // already known sound. The checks are done, and the thread joined, on
    // return.
    void CheckAhead();
    // The helper thread's share of the checks ahead, on an archive handle of
    // its own over the archive in memory.
    void CheckOnOwnHandle();
    void CheckWith(zip_t* archive, Scratch& scratch);
    // The entries in entry order; false when the run ended among them.
    bool Entries();
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
    // By the checks ahead: 1 for an entry QuickCheck found sound. Each is
    // written by one thread only, and read once both are done.
    std::vector<std::uint8_t> sound_;
    std::atomic<zip_uint64_t> aheadNext_{0};
    std::atomic<std::uint64_t> aheadBudget_{0};
    std::atomic<bool> aheadQuit_{false};
    zip_uint64_t count_ = 0;  // entries in the archive
    std::size_t matched_ = 0; // entries that matched the include and exclude names
    // The archive itself when it was small enough to read whole: a buffer
    // that is not zeroed first, since every byte of it is read over.
    std::unique_ptr<char, decltype(&std::free)> content_{nullptr, std::free};
    std::size_t contentSize_ = 0;
    Fd fileFd_; // the archive file when libzip reads it from there
    off_t fileSize_ = 0;
};

bool Run::ReadWholeArchive(int fd, off_t size) {
    // In huge pages where the system has them: for a suite of 20 MB,
    // faulting in five thousand small pages costs a third of the whole run.
    // A suite smaller than one huge page is not worth it: the system would
    // clear the whole page for it, on every run.
    constexpr std::size_t kHugePage = 2 * 1024 * 1024;
    const auto bytes = static_cast<std::size_t>(size);
    if (bytes < kHugePage) {
        content_.reset(static_cast<char*>(std::malloc(bytes)));
    } else {
        const std::size_t room = (bytes + kHugePage - 1) / kHugePage * kHugePage;
        content_.reset(static_cast<char*>(std::aligned_alloc(kHugePage, room)));
        if (content_)
            ::madvise(content_.get(), room, MADV_HUGEPAGE); // only a hint: a refusal changes nothing
    }
    if (!content_)
        return false;
    std::size_t done = 0;
    while (done < static_cast<std::size_t>(size)) {
        const ssize_t n = ::pread(fd, content_.get() + done, static_cast<std::size_t>(size) - done,
                                  static_cast<off_t>(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    contentSize_ = done; // a file that shrank meanwhile is read as it is now
    return contentSize_ > 0;
}

bool Run::OpenArchive() {
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
    } else if (sb.st_size <= kWholeReadLimit && ReadWholeArchive(fd.get(), sb.st_size)) {
        // Working from memory saves the seek and read calls that libzip
        // makes for every entry of a file.
        zip_error_t error;
        zip_error_init(&error);
        zip_source_t* source = zip_source_buffer_create(content_.get(), contentSize_, 0, &error);
        if (source != nullptr) {
            archive_ = zip_open_from_source(source, ZIP_RDONLY, &error);
            if (archive_ == nullptr)
                zip_source_free(source);
        }
        err = zip_error_code_zip(&error);
        zip_error_fini(&error);
    } else {
        // The run keeps the descriptor to check the archive's layout, and
        // libzip reads a stream of a copy of it; both are closed on exec: the
        // archive may stay open while the job starts other programs.
        fileFd_.reset(fd.release());
        struct stat opened {};
        fileSize_ = ::fstat(fileFd_.get(), &opened) == 0 ? opened.st_size : sb.st_size;
        fd.reset(::fcntl(fileFd_.get(), F_DUPFD_CLOEXEC, 0));
        FILE* file = fd.get() >= 0 ? ::fdopen(fd.get(), "rb") : nullptr;
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
#ifdef ZIP_ER_TRUNCATED_ZIP
    // libzip 1.10 and later tell a cut-off archive (one that begins like a zip
    // but has no end record) from a foreign file; Info-ZIP UnZip, and libzip
    // before 1.10, call both "not a zipfile", and so does this run on every
    // release.
    case ZIP_ER_TRUNCATED_ZIP:
#endif
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
        ReportDamaged(name);
        return false;
    }
    if (!zip_compression_method_supported(st.comp_method, 0)) {
        Print("   skipping: " + name + "  unsupported compression method " + std::to_string(st.comp_method) +
              "\n");
        Raise(kUnsupported);
        ReportDamaged(name);
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
                    ReportDamaged(name);
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
                ReportDamaged(name);
                return false;
            }
            Print("password incorrect--reenter: \n");
            continue;
        case ReadStatus::Unsupported:
            Print("   skipping: " + name + "  unsupported compression method or encryption\n");
            Raise(kUnsupported);
            ReportDamaged(name);
            return false;
        case ReadStatus::DataError:
            Print("  error:  invalid compressed data or bad CRC in " + name + "\n");
            Raise(kError);
            ReportDamaged(name);
            return false;
        case ReadStatus::ArchiveError:
            Print("  error:  " + name + ":  the archive is damaged or incomplete\n");
            Raise(kBadZip);
            ReportDamaged(name);
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
            ReportDamaged(name);
            return false;
        case ReadStatus::RunTooLarge:
            Deliver("error:  archive unpacks to more than " + std::to_string(kMaxTotalBytes >> 20) +
                    " MiB; Jarseal stops there\n");
            Raise(kBadZip);
            ReportDamaged(name);
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

// Checks ahead are worth a second thread only for this many entries or more.
constexpr zip_uint64_t kMinEntriesAhead = 64;

void Run::CheckWith(zip_t* archive, Scratch& scratch) {
    for (zip_uint64_t i;
         !aheadQuit_.load(std::memory_order_relaxed) && (i = aheadNext_.fetch_add(1)) < count_;) {
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
            sound_[static_cast<std::size_t>(i)] = 1;
    }
}

void Run::CheckOnOwnHandle() {
    try {
        zip_error_t error;
        zip_error_init(&error);
        zip_source_t* source = zip_source_buffer_create(content_.get(), contentSize_, 0, &error);
        zip_t* archive = source != nullptr ? zip_open_from_source(source, ZIP_RDONLY, &error) : nullptr;
        if (archive == nullptr && source != nullptr)
            zip_source_free(source);
        zip_error_fini(&error);
        if (archive == nullptr)
            return;
        Scratch scratch;
        CheckWith(archive, scratch);
        zip_discard(archive);
    } catch (...) {
        // Whatever this thread leaves unchecked, the run checks itself.
    }
}

void Run::CheckAhead() {
    // The helper shares the archive's bytes in memory; a second core pays
    // for it only on many entries.
    if (count_ < kMinEntriesAhead || contentSize_ == 0 || std::thread::hardware_concurrency() < 2)
        return;
    sound_.assign(static_cast<std::size_t>(count_), 0);
    std::thread helper;
    try {
        helper = std::thread([this] { CheckOnOwnHandle(); });
    } catch (...) {
        // No thread to be had: the run checks on its own.
    }
    try {
        CheckWith(archive_, scratch_);
    } catch (...) {
        // Whatever is left unchecked, the run in entry order checks itself.
        aheadQuit_ = true;
    }
    if (helper.joinable())
        helper.join();
}

bool Run::TestEntry(zip_uint64_t index, const zip_stat_t& st) {
    // In entry order, an entry found sound counts its bytes against the run's
    // limit like a streamed one; one that would cross it is streamed, so that
    // the limit stops the run exactly where it always did.
    if (inflated_ + st.size <= kMaxTotalBytes &&
        ((index < sound_.size() && sound_[static_cast<std::size_t>(index)] != 0) ||
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

bool Run::Entries() {
    for (zip_uint64_t index = 0; index < count_; ++index) {
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

bool Run::CheckEntryCount(zip_int64_t count) {
    if (count > 0 && static_cast<std::uint64_t>(count) > kMaxEntries) {
        Deliver("error:  archive holds " + std::to_string(count) + " entries, more than " +
                std::to_string(kMaxEntries) + "; Jarseal unpacks none of them\n");
        Raise(kBadZip);
        return false;
    }
    count_ = count > 0 ? static_cast<zip_uint64_t>(count) : 0;
    return true;
}

bool Run::CheckLayout() {
    ZipLayout layout;
    std::string why;
    ZipLayoutStatus status = ZipLayoutStatus::NotZip;
    if (fileFd_.get() >= 0)
        status = ReadZipLayout(ZipFileBytes(fileFd_.get(), static_cast<std::uint64_t>(fileSize_)),
                               kMaxEntries, layout, why);
    else
        status = ReadZipLayout(ZipMemoryBytes(content_.get(), contentSize_), kMaxEntries, layout, why);
    // An archive the layout reader finds no end records in, but libzip
    // opened, is left to libzip.
    if (status != ZipLayoutStatus::Damaged)
        return true;
    Deliver("error [" + zipName_ + "]:  " + why + "; Jarseal unpacks none of it\n");
    Raise(kBadZip);
    return false;
}

int Run::Execute() {
    if (!OpenArchive() || !CheckEntryCount(zip_get_num_entries(archive_, 0)) || !CheckLayout())
        return result_;
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
    if (count_ > 0 && !Listing() && (options_.testZip != 0 || (Extracting() && writeSome_)))
        CheckAhead();
    if (Entries())
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

} // namespace jarseal::unzipdll
