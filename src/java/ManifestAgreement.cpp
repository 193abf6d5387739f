#include "java/ManifestAgreement.h"

#include "check/Attributes.h"
#include "common/Errors.h"
#include "common/Fd.h"
#include "common/FileSystem.h"
#include "common/Text.h"
#include "java/JavaPackage.h"

#include "zip/EntryReader.h"
#include "zip/ZipRewrite.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <new>
#include <set>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace jarseal {

namespace {

const char* const kPermissions = "MIDlet-Permissions";
const char* const kOptional = "MIDlet-Permissions-Opt";
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
    const check::Attributes all = check::ParseLeniently(lines, check::Lenient::Descriptor);
    PermissionAttributes attrs;
    if (const std::string* value = check::Find(all, kPermissions))
        attrs.permissions = *value;
    if (const std::string* value = check::Find(all, kOptional))
        attrs.optional = *value;
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

// The manifest entry's text as the jar at in holds it now, with the entry,
// or nullopt for a jar without a manifest.
struct ManifestOfJar {
    ZipLayout layout;
    const ZipEntryLayout* entry = nullptr;
    std::string text;
};
ManifestOfJar ReadManifestOf(const ZipBytes& bytes) {
    ManifestOfJar m;
    m.layout = zip::RewritableLayout(bytes);
    m.entry = zip::FindManifest(m.layout);
    if (m.entry)
        m.text = zip::ManifestText(bytes, *m.entry, kMaxManifestBytes);
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

// The rewrite with the updated manifest, written into rewritten beside the
// jar, read back and flushed; returns its identity.
FileIdentity WriteRewrite(const ZipBytes& bytes, const ManifestOfJar& old, const std::string& updated,
                          const std::string& jarPath, unsigned mode, TempFile& rewritten) {
    Fd out(rewritten.CreateBeside(jarPath));
    zip::WriteWithEntryReplaced(bytes, old.layout, *old.entry, zip::StoredLike(updated, *old.entry),
                                out.get(), jarPath);
    SetModeWherePossible(out.get(), mode, jarPath);
    VerifyRewrite(out.get(), old, updated);
    FlushFile(out.get(), jarPath);
    const std::optional<FileIdentity> rewrite = IdentityOfOpenFile(out.get());
    if (::close(out.release()) != 0 || !rewrite)
        ThrowSystemError(errno, "write", jarPath);
    return *rewrite;
}

} // namespace

JarAgreement::JarAgreement(const std::string& jarPath, const std::string& backupPath, const FileIdentity& jar,
                           const PermissionAttributes& descriptor)
    : jarPath_(jarPath), backupPath_(backupPath), identity_(jar) {
    // Step: the manifest entry of the jar the job read, and what it must become.
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
    const unsigned mode = st.st_mode & 07777;

    // Step: the new jar, written beside the old one and verified.
    TempFile rewritten;
    const FileIdentity rewrite = WriteRewrite(bytes, old, *updated, jarPath, mode, rewritten);
    if (!IsStill(jarPath, jar))
        throw JarChangedError("the jar was written while it was copied");

    KeepBackupOnce(bytes, mode);
    Exchange(rewritten, jar, rewrite);
}

// Step: the old jar is kept once, from the bytes just read.
void JarAgreement::KeepBackupOnce(const ZipBytes& bytes, unsigned mode) {
    if (KindOfPath(backupPath_) == PathKind::Missing) {
        zip::WriteCopy(bytes, backupPath_, mode);
        madeBackup_ = true;
    }
}

// Step: the new jar takes the old one's place only while the old one is the
// jar that was read; the old one waits under the temporary name.
void JarAgreement::Exchange(TempFile& rewritten, const FileIdentity& jar, const FileIdentity& rewrite) {
    bool replaced = false;
    try {
        replaced = ReplaceIfStill(jarPath_, rewritten.path(), jar);
    } catch (...) {
        DropBackup();
        throw;
    }
    if (!replaced) {
        DropBackup();
        throw JarChangedError("the jar changed while it was being replaced");
    }
    oldJar_ = rewritten.Keep();
    identity_ = rewrite;
    if (const std::optional<FileStamp> now = StampOfFile(jarPath_))
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
