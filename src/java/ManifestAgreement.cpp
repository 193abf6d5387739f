#include "java/ManifestAgreement.h"

#include "common/Errors.h"
#include "common/Fd.h"
#include "common/FileSystem.h"
#include "common/Text.h"
#include "java/JavaPackage.h"

#include "unzip/ZipLayout.h"
#include "unzip/zipdll/UnzipDll.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <set>
#include <string_view>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>
#include <zlib.h>

namespace jarseal {

namespace {

const char* const kPermissions = "MIDlet-Permissions";
const char* const kOptional = "MIDlet-Permissions-Opt";
const char* const kManifestName = "META-INF/MANIFEST.MF";
constexpr std::size_t kManifestLineBytes = 72;

// One physical line: its text and the line end that follows it.
struct Line {
    std::string text;
    std::string end; // "\r\n", "\n", "\r" or empty for a last line without one
};

std::vector<Line> PhysicalLines(const std::string& text) {
    std::vector<Line> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const auto stop = text.find_first_of("\r\n", start);
        if (stop == std::string::npos) {
            lines.push_back({text.substr(start), ""});
            break;
        }
        const std::size_t endSize = text.compare(stop, 2, "\r\n") == 0 ? 2 : 1;
        lines.push_back({text.substr(start, stop - start), text.substr(stop, endSize)});
        start = stop + endSize;
    }
    return lines;
}

// "Name: value" folded into manifest lines of at most 72 bytes, never inside
// a UTF-8 sequence; continuation lines start with one blank.
std::string Folded(const std::string& attribute, const std::string& lineEnd, bool endLast) {
    std::string out;
    std::size_t pos = 0;
    bool first = true;
    while (pos < attribute.size()) {
        const std::size_t room = first ? kManifestLineBytes : kManifestLineBytes - 1;
        std::size_t take = std::min(room, attribute.size() - pos);
        while (take > 1 && pos + take < attribute.size() &&
               (static_cast<unsigned char>(attribute[pos + take]) & 0xC0) == 0x80)
            --take;
        if (!first)
            out += lineEnd + " ";
        out.append(attribute, pos, take);
        pos += take;
        first = false;
    }
    if (endLast)
        out += lineEnd;
    return out;
}

const std::optional<std::string>& Wanted(const PermissionAttributes& attrs, std::string_view name) {
    return name == kPermissions ? attrs.permissions : attrs.optional;
}

} // namespace

PermissionAttributes PermissionAttributesOf(const std::string& lines) {
    PermissionAttributes attrs;
    for (const Line& line : PhysicalLines(lines)) {
        const auto colon = line.text.find(':');
        if (colon == std::string::npos)
            continue;
        const std::string name = line.text.substr(0, colon);
        std::optional<std::string>* slot = name == kPermissions ? &attrs.permissions
                                           : name == kOptional  ? &attrs.optional
                                                                : nullptr;
        if (slot && !*slot)
            *slot = TrimBlanksAndTabs(line.text.substr(colon + 1));
    }
    return attrs;
}

std::optional<std::string> AgreeingManifest(const std::string& manifest,
                                            const PermissionAttributes& descriptor) {
    const std::vector<Line> lines = PhysicalLines(manifest);
    std::string out;
    out.reserve(manifest.size() + 256);
    bool changed = false;
    std::set<std::string> present; // permission attributes the main section carries
    std::size_t i = 0;
    // The main section: attributes up to the first empty line.
    while (i < lines.size() && !lines[i].text.empty()) {
        // One attribute: its header line and its continuation lines.
        std::size_t next = i + 1;
        std::string whole = lines[i].text;
        while (next < lines.size() && !lines[next].text.empty() && lines[next].text[0] == ' ')
            whole += lines[next++].text.substr(1);
        const auto colon = whole.find(':');
        const std::string name = colon == std::string::npos ? std::string() : whole.substr(0, colon);
        const bool permission = name == kPermissions || name == kOptional;
        const std::optional<std::string>* wanted = permission ? &Wanted(descriptor, name) : nullptr;
        if (permission)
            present.insert(name);
        if (wanted && *wanted && **wanted != TrimBlanksAndTabs(whole.substr(colon + 1))) {
            changed = true;
            out += Folded(name + ": " + **wanted, lines[i].end.empty() ? "\r\n" : lines[i].end,
                          !lines[next - 1].end.empty());
        } else {
            for (std::size_t k = i; k < next; ++k)
                out += lines[k].text + lines[k].end;
        }
        i = next;
    }
    // What the descriptor carries and the manifest lacks ends the main section.
    const std::string lineEnd = i > 0 && !lines[i - 1].end.empty() ? lines[i - 1].end : "\r\n";
    for (const char* name : {kPermissions, kOptional}) {
        const std::optional<std::string>& wanted = Wanted(descriptor, name);
        if (!wanted || present.count(name))
            continue;
        if (!out.empty() && out.back() != '\n' && out.back() != '\r')
            out += lineEnd;
        out += Folded(std::string(name) + ": " + *wanted, lineEnd, true);
        changed = true;
    }
    for (; i < lines.size(); ++i)
        out += lines[i].text + lines[i].end;
    if (!changed)
        return std::nullopt;
    return out;
}

namespace {

constexpr std::size_t kCopyPiece = 1024 * 1024;
constexpr std::uint16_t kEncrypted = 1u << 0;
constexpr std::uint16_t kDataDescriptor = 1u << 3;
constexpr std::uint32_t kDataDescriptorSignature = 0x08074b50;
constexpr std::uint16_t kStored = 0;
constexpr std::uint16_t kDeflated = 8;

// A file of the job's own that goes again unless it is kept.
class TempFile {
  public:
    explicit TempFile(std::string path) : path_(std::move(path)) {}
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    ~TempFile() {
        if (!path_.empty())
            ::unlink(path_.c_str());
    }
    const std::string& path() const { return path_; }
    std::string Keep() { return std::exchange(path_, std::string()); }

  private:
    std::string path_;
};

void Patch16(std::string& bytes, std::size_t at, std::uint32_t v) {
    bytes[at] = static_cast<char>(v & 0xff);
    bytes[at + 1] = static_cast<char>((v >> 8) & 0xff);
}
void Patch32(std::string& bytes, std::size_t at, std::uint32_t v) {
    Patch16(bytes, at, v & 0xffff);
    Patch16(bytes, at + 2, v >> 16);
}
std::uint16_t Get16(const std::string& bytes, std::size_t at) {
    return static_cast<std::uint16_t>(static_cast<unsigned char>(bytes[at]) |
                                      (static_cast<unsigned char>(bytes[at + 1]) << 8));
}
std::string Le32(std::uint32_t v) {
    std::string out(4, '\0');
    Patch32(out, 0, v);
    return out;
}

std::string ReadRange(const ZipBytes& bytes, std::uint64_t from, std::uint64_t to) {
    std::string out(static_cast<std::size_t>(to - from), '\0');
    if (!bytes.Read(from, out.data(), out.size()))
        throw JarDamagedError("the jar cannot be read where its records point");
    return out;
}

void Write(int fd, const std::string& data, const std::string& target) {
    if (const int err = WriteFully(fd, data.data(), data.size()))
        ThrowSystemError(err, "write", target);
}

// Copies the bytes from..to of the jar to out, a piece at a time.
void CopyRange(const ZipBytes& bytes, std::uint64_t from, std::uint64_t to, int out,
               const std::string& target) {
    std::string piece;
    while (from < to) {
        const std::uint64_t n = std::min<std::uint64_t>(kCopyPiece, to - from);
        piece.resize(static_cast<std::size_t>(n));
        if (!bytes.Read(from, piece.data(), piece.size()))
            throw JarDamagedError("the jar cannot be read where its records point");
        Write(out, piece, target);
        from += n;
    }
}

// The entry's text: stored, or raw deflate inflated with zlib, at most
// kMaxManifestBytes, its size and CRC as its records state.
std::string EntryText(const ZipBytes& bytes, const ZipEntryLayout& e) {
    if (e.flags & kEncrypted)
        throw RunError(kErrAccess, "the manifest of the jar is encrypted");
    if (e.size > kMaxManifestBytes || e.compressedSize > kMaxManifestBytes + 1024)
        throw JarDamagedError("the manifest of the jar is larger than 8 MiB");
    const std::string packed = ReadRange(bytes, e.dataOffset, e.DataEnd());
    std::string text;
    if (e.method == kStored) {
        text = packed;
    } else if (e.method == kDeflated) {
        text.assign(static_cast<std::size_t>(e.size), '\0');
        z_stream z{};
        if (inflateInit2(&z, -MAX_WBITS) != Z_OK)
            throw std::bad_alloc();
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(packed.data()));
        z.avail_in = static_cast<uInt>(packed.size());
        char spare = 0; // room for one byte more than stated, to notice a lie
        z.next_out = reinterpret_cast<Bytef*>(text.empty() ? &spare : text.data());
        z.avail_out = static_cast<uInt>(text.empty() ? 1 : text.size());
        int rc = inflate(&z, Z_FINISH);
        if (rc == Z_BUF_ERROR && z.avail_out == 0 && !text.empty()) {
            z.next_out = reinterpret_cast<Bytef*>(&spare);
            z.avail_out = 1;
            rc = inflate(&z, Z_FINISH);
        }
        const bool whole = rc == Z_STREAM_END && z.total_out == e.size;
        inflateEnd(&z);
        if (!whole)
            throw JarDamagedError("the manifest of the jar is damaged");
    } else {
        throw RunError(kErrAccess,
                       "the manifest of the jar is compressed with method " + std::to_string(e.method));
    }
    if (text.size() != e.size ||
        ::crc32(0, reinterpret_cast<const Bytef*>(text.data()), static_cast<uInt>(text.size())) != e.crc)
        throw JarDamagedError("the manifest of the jar is damaged (bad CRC)");
    return text;
}

std::string DeflateRaw(const std::string& text) {
    z_stream z{};
    if (deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        throw std::bad_alloc();
    std::string out(deflateBound(&z, static_cast<uLong>(text.size())), '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    z.avail_in = static_cast<uInt>(text.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    const int rc = deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    if (rc != Z_STREAM_END)
        throw std::bad_alloc();
    return out;
}

const ZipEntryLayout* ManifestEntry(const ZipLayout& layout) {
    for (const auto& e : layout.entries)
        if (::strcasecmp(e.name.c_str(), kManifestName) == 0)
            return &e;
    return nullptr;
}

ZipLayout LayoutOf(const ZipBytes& bytes) {
    ZipLayout layout;
    std::string why;
    switch (ReadZipLayout(bytes, unzipdll::kMaxEntries, layout, why)) {
    case ZipLayoutStatus::Sound:
        break;
    case ZipLayoutStatus::NotZip:
        throw JarDamagedError("the jar is not a zip archive");
    case ZipLayoutStatus::Damaged:
        throw JarDamagedError(why);
    }
    if (layout.zip64)
        throw RunError(kErrAccess, "the jar has ZIP64 records, which Jarseal does not rewrite");
    return layout;
}

// The new manifest entry's fields.
struct NewManifest {
    std::string data; // as stored in the archive
    std::uint32_t crc = 0;
    std::uint64_t size = 0;
};

// Writes the jar with its manifest entry's data replaced: every other byte
// range is copied as it is, in the order of the file, and the offsets of the
// central directory and end record follow the manifest's change of size.
void WriteRewrittenJar(const ZipBytes& bytes, const ZipLayout& layout, const ZipEntryLayout& manifest,
                       const NewManifest& m, int out, const std::string& target) {
    std::vector<const ZipEntryLayout*> byPlace;
    for (const auto& e : layout.entries)
        byPlace.push_back(&e);
    std::sort(byPlace.begin(), byPlace.end(), [](const ZipEntryLayout* a, const ZipEntryLayout* b) {
        return a->localOffset < b->localOffset;
    });

    std::vector<std::uint64_t> newOffset(layout.entries.size());
    const auto indexOf = [&](const ZipEntryLayout* e) {
        return static_cast<std::size_t>(e - layout.entries.data());
    };
    std::uint64_t pos = byPlace.empty() ? layout.centralOffset : byPlace.front()->localOffset;
    CopyRange(bytes, 0, pos, out, target); // whatever precedes the first entry
    for (std::size_t k = 0; k < byPlace.size(); ++k) {
        const ZipEntryLayout& e = *byPlace[k];
        const std::uint64_t boundary =
            k + 1 < byPlace.size() ? byPlace[k + 1]->localOffset : layout.centralOffset;
        newOffset[indexOf(&e)] = pos;
        if (&e != &manifest) {
            CopyRange(bytes, e.localOffset, boundary, out, target);
            pos += boundary - e.localOffset;
            continue;
        }
        std::string header = ReadRange(bytes, e.localOffset, e.dataOffset);
        const bool descriptor = (Get16(header, 6) & kDataDescriptor) != 0;
        Patch32(header, 14, descriptor ? 0 : m.crc);
        Patch32(header, 18, descriptor ? 0 : static_cast<std::uint32_t>(m.data.size()));
        Patch32(header, 22, descriptor ? 0 : static_cast<std::uint32_t>(m.size));
        std::string block = header + m.data;
        if (descriptor)
            block += Le32(kDataDescriptorSignature) + Le32(m.crc) +
                     Le32(static_cast<std::uint32_t>(m.data.size())) +
                     Le32(static_cast<std::uint32_t>(m.size));
        Write(out, block, target);
        pos += block.size();
    }

    const std::uint64_t newCentral = pos;
    if (newCentral > 0xfffffffeu)
        throw RunError(kErrAccess, "the rewritten jar would need ZIP64 records");
    std::string central = ReadRange(bytes, layout.centralOffset, layout.centralOffset + layout.centralSize);
    for (std::size_t i = 0; i < layout.entries.size(); ++i) {
        const ZipEntryLayout& e = layout.entries[i];
        const auto at = static_cast<std::size_t>(e.centralOffset - layout.centralOffset);
        Patch32(central, at + 42, static_cast<std::uint32_t>(newOffset[i]));
        if (&e == &manifest) {
            Patch32(central, at + 16, m.crc);
            Patch32(central, at + 20, static_cast<std::uint32_t>(m.data.size()));
            Patch32(central, at + 24, static_cast<std::uint32_t>(m.size));
        }
    }
    Write(out, central, target);
    CopyRange(bytes, layout.centralOffset + layout.centralSize, layout.endOffset, out, target);
    std::string end = ReadRange(bytes, layout.endOffset, layout.fileSize);
    Patch32(end, 16, static_cast<std::uint32_t>(newCentral));
    Write(out, end, target);
}

// A copy of the open file's bytes as a new file at path (written beside it,
// flushed and renamed over it); nothing is left behind on failure.
void WriteCopy(const ZipBytes& bytes, const std::string& path, mode_t mode) {
    ReplaceFileWith(path, mode, [&](int fd) { CopyRange(bytes, 0, bytes.Size(), fd, path); });
}

// The manifest entry's text as the jar at in holds it now, with the entry,
// or nullopt for a jar without a manifest.
struct ManifestOfJar {
    ZipLayout layout;
    const ZipEntryLayout* entry = nullptr;
    std::string text;
};
ManifestOfJar ReadManifestOf(const ZipBytes& bytes) {
    ManifestOfJar m;
    m.layout = LayoutOf(bytes);
    m.entry = ManifestEntry(m.layout);
    if (m.entry)
        m.text = EntryText(bytes, *m.entry);
    return m;
}

// The new manifest entry as it is stored: deflated when the old one was.
NewManifest StoredManifest(const std::string& text, const ZipEntryLayout& old) {
    NewManifest m;
    m.size = text.size();
    m.crc = static_cast<std::uint32_t>(
        ::crc32(0, reinterpret_cast<const Bytef*>(text.data()), static_cast<uInt>(text.size())));
    m.data = old.method == kStored ? text : DeflateRaw(text);
    return m;
}

// The rewrite must read back as a sound archive of as many entries with
// the new manifest.
void VerifyRewrite(int fd, const ManifestOfJar& old, const std::string& updated) {
    struct stat written {};
    if (::fstat(fd, &written) != 0)
        throw RunError(kErrAccess, "the rewritten jar cannot be read back");
    const ZipFileBytes check(fd, static_cast<std::uint64_t>(written.st_size));
    const ManifestOfJar again = ReadManifestOf(check);
    if (again.layout.entries.size() != old.layout.entries.size() || !again.entry || again.text != updated)
        throw RunError(kErrAccess, "the rewritten jar does not hold the new manifest");
}

} // namespace

JarAgreement::JarAgreement(const std::string& jarPath, const std::string& backupPath, const FileIdentity& jar,
                           const PermissionAttributes& descriptor)
    : jarPath_(jarPath), backupPath_(backupPath), identity_(jar) {
    // Step: the manifest of the jar the job read, and what it must become.
    Fd in(::open(jarPath.c_str(), O_RDONLY | O_CLOEXEC));
    if (in.get() < 0)
        ThrowSystemError(errno, "read", jarPath);
    if (!IsStill(jarPath, jar))
        throw JarChangedError("the jar changed before its manifest was read");
    const ZipFileBytes bytes(in.get(), static_cast<std::uint64_t>(jar.stamp.size));
    const ManifestOfJar old = ReadManifestOf(bytes);
    if (!old.entry)
        return; // nothing to agree with; the check before signing refuses it
    const std::optional<std::string> updated = AgreeingManifest(old.text, descriptor);
    if (!updated)
        return;
    struct stat st {};
    if (::fstat(in.get(), &st) != 0)
        ThrowSystemError(errno, "read", jarPath);

    // Step: the new jar, written beside the old one and read back.
    std::string name;
    Fd out(CreateTempBeside(jarPath, name));
    TempFile rewritten(name);
    WriteRewrittenJar(bytes, old.layout, *old.entry, StoredManifest(*updated, *old.entry), out.get(),
                      jarPath);
    SetModeWherePossible(out.get(), st.st_mode & 07777, jarPath);
    VerifyRewrite(out.get(), old, *updated);
    FlushFile(out.get(), jarPath);
    const std::optional<FileIdentity> rewrite = IdentityOfOpenFile(out.get());
    if (::close(out.release()) != 0 || !rewrite)
        ThrowSystemError(errno, "write", jarPath);
    if (!IsStill(jarPath, jar))
        throw JarChangedError("the jar was written while it was copied");

    // Step: the old jar is kept once, from the bytes just read.
    if (KindOfPath(backupPath) == PathKind::Missing) {
        WriteCopy(bytes, backupPath, st.st_mode & 07777);
        madeBackup_ = true;
    }

    // Step: the new jar takes the old one's place only while the old one is
    // the jar that was read; the old one waits under the temporary name.
    bool replaced = false;
    try {
        replaced = ReplaceIfStill(jarPath, rewritten.path(), jar);
    } catch (...) {
        DropBackup();
        throw;
    }
    if (!replaced) {
        DropBackup();
        throw JarChangedError("the jar changed while it was being replaced");
    }
    oldJar_ = rewritten.Keep();
    identity_ = *rewrite;
    if (const std::optional<FileStamp> now = StampOfFile(jarPath))
        identity_.stamp = *now; // the rename gave it a new change time
}

JarAgreement::~JarAgreement() {
    Undo();
}

void JarAgreement::DropBackup() noexcept {
    if (madeBackup_)
        ::unlink(backupPath_.c_str());
    madeBackup_ = false;
}

void JarAgreement::Keep() {
    if (!oldJar_.empty())
        ::unlink(oldJar_.c_str());
    oldJar_.clear();
    madeBackup_ = false;
}

JarAgreement::Restore JarAgreement::Undo() noexcept {
    if (oldJar_.empty())
        return Restore::NothingToDo;
    // The old jar goes back only over the rewrite as the job left it; a jar
    // written or put there since by someone else stays.
    bool putBack = false;
    try {
        putBack = ReplaceIfStill(jarPath_, oldJar_, identity_);
    } catch (...) {
        putBack = false;
    }
    ::unlink(oldJar_.c_str()); // the rewrite, or the old jar when the user's new one stays
    oldJar_.clear();
    DropBackup();
    identity_ = FileIdentity{};
    return putBack ? Restore::PutBack : Restore::ChangedMeanwhile;
}

} // namespace jarseal
