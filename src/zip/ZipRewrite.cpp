#include "zip/ZipRewrite.h"

#include "common/Errors.h"
#include "common/Fd.h"
#include "common/FileSystem.h"
#include "zip/LittleEndian.h"
#include "zip/ZipLimits.h"

#include <algorithm>
#include <new>
#include <vector>
#include <zlib.h>

namespace jarseal::zip {

namespace {

constexpr std::size_t kCopyPiece = 1024 * 1024;
constexpr std::uint16_t kDataDescriptor = 1u << 3;
constexpr std::uint32_t kDataDescriptorSignature = 0x08074b50;
constexpr std::uint16_t kStored = 0;

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

} // namespace

ZipLayout RewritableLayout(const ZipBytes& bytes) {
    ZipLayout layout;
    std::string why;
    switch (ReadZipLayout(bytes, kMaxEntries, layout, why)) {
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

void WriteWithEntryReplaced(const ZipBytes& bytes, const ZipLayout& layout, const ZipEntryLayout& entry,
                            const NewEntry& m, int out, const std::string& target) {
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
        if (&e != &entry) {
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
        if (&e == &entry) {
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

void WriteCopy(const ZipBytes& bytes, const std::string& path, unsigned mode) {
    ReplaceFileWith(path, mode, [&](int fd) { CopyRange(bytes, 0, bytes.Size(), fd, path); });
}

NewEntry StoredLike(const std::string& text, const ZipEntryLayout& old) {
    NewEntry m;
    m.size = text.size();
    m.crc = static_cast<std::uint32_t>(
        ::crc32(0, reinterpret_cast<const Bytef*>(text.data()), static_cast<uInt>(text.size())));
    m.data = old.method == kStored ? text : DeflateRaw(text);
    return m;
}

} // namespace jarseal::zip
