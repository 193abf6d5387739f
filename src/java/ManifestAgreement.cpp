#include "java/ManifestAgreement.h"

#include "common/Errors.h"
#include "common/FileSystem.h"
#include "common/Text.h"
#include "java/JavaPackage.h"

#include <memory>
#include <set>
#include <unistd.h>
#include <vector>
#include <zip.h>

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

const std::optional<std::string>& Wanted(const PermissionAttributes& attrs, const std::string& name) {
    return name == kPermissions ? attrs.permissions : attrs.optional;
}

using ZipPtr = std::unique_ptr<zip_t, decltype(&zip_discard)>;

[[noreturn]] void Fail(const std::string& what, zip_error_t* error = nullptr) {
    throw RunError(kErrAccess,
                   what + (error ? std::string(": ") + zip_error_strerror(error) : std::string()));
}

// The jar's manifest entry and its text; false when it has none.
bool ReadManifestEntry(zip_t* archive, zip_uint64_t& index, zip_stat_t& st, std::string& text) {
    const zip_int64_t found = zip_name_locate(archive, kManifestName, ZIP_FL_NOCASE);
    if (found < 0)
        return false;
    index = static_cast<zip_uint64_t>(found);
    if (zip_stat_index(archive, index, 0, &st) != 0)
        Fail("the manifest of the jar cannot be read", zip_get_error(archive));
    if (st.size > kMaxManifestBytes)
        Fail("the manifest of the jar is larger than 8 MiB");
    std::unique_ptr<zip_file_t, decltype(&zip_fclose)> file(zip_fopen_index(archive, index, 0), zip_fclose);
    if (!file)
        Fail("the manifest of the jar cannot be read", zip_get_error(archive));
    text.assign(static_cast<std::size_t>(st.size), '\0');
    if (zip_fread(file.get(), text.data(), st.size) != static_cast<zip_int64_t>(st.size))
        Fail("the manifest of the jar is damaged", zip_file_get_error(file.get()));
    return true;
}

// Opens an archive on the source, which it then owns; on failure the source
// is freed.
ZipPtr OpenArchive(zip_source_t* source, int flags) {
    zip_error_t error;
    zip_error_init(&error);
    zip_t* archive = zip_open_from_source(source, flags, &error);
    if (!archive) {
        zip_source_free(source);
        const std::string text = zip_error_strerror(&error);
        zip_error_fini(&error);
        throw RunError(kErrAccess, "the jar cannot be opened as an archive: " + text);
    }
    zip_error_fini(&error);
    return ZipPtr(archive, zip_discard);
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
    bool mainSection = true;
    std::set<std::string> written; // permission attributes given their value already
    for (std::size_t i = 0; i < lines.size();) {
        if (!mainSection || lines[i].text.empty() || lines[i].text[0] == ' ') {
            mainSection = mainSection && !lines[i].text.empty();
            out += lines[i].text + lines[i].end;
            ++i;
            continue;
        }
        // One attribute: its header line and its continuation lines.
        std::size_t next = i + 1;
        std::string whole = lines[i].text;
        while (next < lines.size() && !lines[next].text.empty() && lines[next].text[0] == ' ')
            whole += lines[next++].text.substr(1);
        const auto colon = whole.find(':');
        const std::string name = colon == std::string::npos ? std::string() : whole.substr(0, colon);
        if (name != kPermissions && name != kOptional) {
            for (std::size_t k = i; k < next; ++k)
                out += lines[k].text + lines[k].end;
            i = next;
            continue;
        }
        const std::optional<std::string>& wanted = Wanted(descriptor, name);
        const bool agrees = wanted && *wanted == TrimBlanksAndTabs(whole.substr(colon + 1));
        if (agrees && !written.count(name)) {
            for (std::size_t k = i; k < next; ++k)
                out += lines[k].text + lines[k].end;
        } else if (!agrees) {
            changed = true;
            if (wanted && !written.count(name))
                out += Folded(name + ": " + *wanted, lines[i].end.empty() ? "\r\n" : lines[i].end,
                              !lines[next - 1].end.empty());
        }
        // A repeated attribute that agrees stays; one that does not goes.
        written.insert(name);
        i = next;
    }
    if (!changed)
        return std::nullopt;
    return out;
}

namespace {

// The jar's manifest, reading only the archive's directory and that entry;
// false when the jar cannot be opened as an archive. Throws as
// ReadManifestEntry does.
bool ReadJarManifest(const std::string& jarPath, std::optional<std::string>& manifest) {
    int code = 0;
    zip_t* opened = zip_open(jarPath.c_str(), ZIP_RDONLY, &code);
    if (!opened)
        return false;
    ZipPtr archive(opened, zip_discard);
    zip_uint64_t index = 0;
    zip_stat_t st;
    std::string text;
    manifest.reset();
    if (ReadManifestEntry(archive.get(), index, st, text))
        manifest = std::move(text);
    return true;
}

// True when the jar has a manifest that does not agree with the descriptor;
// reads nothing when the snapshot still describes the jar.
bool NeedsAgreement(const std::string& jarPath, const PermissionAttributes& descriptor,
                    const std::optional<JarManifestSnapshot>& snapshot) {
    std::optional<std::string> manifest;
    if (snapshot && StampOfFile(jarPath) == snapshot->stamp)
        manifest = snapshot->manifest;
    else if (!ReadJarManifest(jarPath, manifest))
        return true; // the careful way reports why
    return manifest && AgreeingManifest(*manifest, descriptor);
}

} // namespace

std::optional<JarManifestSnapshot> SnapshotJarManifest(const std::string& jarPath) {
    try {
        const std::optional<FileStamp> before = StampOfFile(jarPath);
        JarManifestSnapshot snapshot;
        if (!before || !ReadJarManifest(jarPath, snapshot.manifest) || StampOfFile(jarPath) != before)
            return std::nullopt;
        snapshot.stamp = *before;
        return snapshot;
    } catch (...) {
        return std::nullopt;
    }
}

bool BringJarIntoAgreement(const std::string& jarPath, const std::string& backupPath,
                           const PermissionAttributes& descriptor,
                           const std::optional<JarManifestSnapshot>& snapshot) {
    if (!NeedsAgreement(jarPath, descriptor, snapshot))
        return false;
    const std::string jar = ReadWholeFile(jarPath);
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* source = zip_source_buffer_create(jar.data(), jar.size(), 0, &error);
    zip_error_fini(&error);
    if (!source)
        Fail("out of memory while reading the jar");

    std::string rewritten;
    std::unique_ptr<zip_source_t, decltype(&zip_source_free)> sourceGuard(nullptr, zip_source_free);
    {
        ZipPtr archive = OpenArchive(source, 0);
        zip_source_keep(source); // read back below, after the archive wrote into it
        sourceGuard.reset(source);
        zip_uint64_t index = 0;
        zip_stat_t st;
        std::string manifest;
        if (!ReadManifestEntry(archive.get(), index, st, manifest))
            return false; // nothing to agree with; the check after signing reports it
        const std::optional<std::string> updated = AgreeingManifest(manifest, descriptor);
        if (!updated)
            return false;
        rewritten = *updated;
        zip_source_t* data = zip_source_buffer(archive.get(), rewritten.data(), rewritten.size(), 0);
        if (!data || zip_file_replace(archive.get(), index, data, 0) != 0) {
            if (data)
                zip_source_free(data);
            Fail("the manifest cannot be replaced", zip_get_error(archive.get()));
        }
        const bool stored = (st.valid & ZIP_STAT_COMP_METHOD) && st.comp_method == ZIP_CM_STORE;
        zip_set_file_compression(archive.get(), index, stored ? ZIP_CM_STORE : ZIP_CM_DEFLATE, 0);
        if (st.valid & ZIP_STAT_MTIME)
            zip_file_set_mtime(archive.get(), index, st.mtime, 0);
        if (zip_close(archive.get()) != 0)
            Fail("the jar cannot be rewritten", zip_get_error(archive.get()));
        (void)archive.release(); // closed: zip_close freed it
    }

    // The new archive's bytes, from the buffer it was written into.
    std::string bytes;
    zip_stat_t whole;
    zip_stat_init(&whole);
    if (zip_source_stat(source, &whole) != 0 || !(whole.valid & ZIP_STAT_SIZE) ||
        zip_source_open(source) != 0)
        Fail("the rewritten jar cannot be read back");
    bytes.resize(static_cast<std::size_t>(whole.size));
    const zip_int64_t n = zip_source_read(source, bytes.data(), whole.size);
    zip_source_close(source);
    if (n != static_cast<zip_int64_t>(whole.size))
        Fail("the rewritten jar cannot be read back");

    // It must hold the new manifest and every entry of the old one before it
    // may replace the user's jar.
    {
        zip_error_init(&error);
        zip_source_t* check = zip_source_buffer_create(bytes.data(), bytes.size(), 0, &error);
        zip_error_fini(&error);
        if (!check)
            Fail("out of memory while checking the rewritten jar");
        ZipPtr archive = OpenArchive(check, ZIP_RDONLY | ZIP_CHECKCONS);
        zip_uint64_t index = 0;
        zip_stat_t st;
        std::string manifest;
        if (!ReadManifestEntry(archive.get(), index, st, manifest) || manifest != rewritten)
            Fail("the rewritten jar does not hold the new manifest");
    }

    bool madeBackup = false;
    if (!FileExist(backupPath)) {
        CopyWholeFile(jarPath, backupPath);
        madeBackup = true;
    }
    try {
        WriteFileReplacing(jarPath, bytes);
    } catch (...) {
        if (madeBackup)
            ::unlink(backupPath.c_str());
        throw;
    }
    return true;
}

} // namespace jarseal
