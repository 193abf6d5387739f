#include "zip/EntryReader.h"

#include "common/Errors.h"
#include "common/Translate.h"
#include "zip/ZipLimits.h"
#include "zip/ZipRewrite.h"

#include <algorithm>
#include <libdeflate.h>
#include <new>

namespace jarseal::zip {

EntryProblem EntryReader::Unpack(const ZipEntryLayout& entry, std::uint64_t limit, std::string* keep) {
    if ((entry.flags & kEncrypted) != 0)
        return {EntryFault::Encrypted, Tr("encrypted")};
    const bool deflated = entry.method == kDeflated;
    if (!deflated && entry.method != kStored)
        return {EntryFault::Method, TrFormat("compression method {1}, which a phone cannot unpack",
                                             {std::to_string(entry.method)})};
    if (entry.size > limit)
        return {EntryFault::TooLarge, TrFormat("states {1} bytes, more than the {2} an entry may unpack to",
                                               {std::to_string(entry.size), MiB(limit)})};

    if (deflated && UnpackWhole(entry, keep))
        return {};

    std::uint64_t produced = 0;
    std::uint32_t crc = 0;
    // Counts, checks and keeps a piece of unpacked data; false once the entry
    // or the jar has unpacked to more than it may.
    const auto take = [&](const unsigned char* data, std::size_t size) {
        produced += size;
        unpacked_ += size;
        crc = libdeflate_crc32(crc, data, size);
        if (keep != nullptr)
            keep->append(reinterpret_cast<const char*>(data), size);
        return produced <= entry.size && unpacked_ <= kMaxTotalBytes;
    };
    const std::string tooMuch =
        TrFormat("unpacks to more than the {1} bytes it states", {std::to_string(entry.size)});
    std::uint64_t at = entry.dataOffset;
    std::uint64_t left = entry.compressedSize;
    // Reads the next piece of the entry's stored data into in_; 0 when none is left or it cannot be read.
    const auto readPiece = [&]() -> std::size_t {
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(left, kPiece));
        if (n == 0 || !bytes_.Read(at, in_.get(), n))
            return 0;
        at += n;
        left -= n;
        return n;
    };

    if (!deflated) {
        while (left > 0) {
            const std::size_t n = readPiece();
            if (n == 0)
                return {EntryFault::Unreadable, Tr("cannot be read")};
            if (!take(in_.get(), n))
                return {EntryFault::TooMuch, tooMuch};
        }
    } else {
        if (!ready_ || inflateReset(&z_) != Z_OK)
            return {EntryFault::NoMemory, Tr("cannot be unpacked: no memory for it")};
        z_.avail_in = 0;
        int status = Z_OK;
        while (status != Z_STREAM_END) {
            if (z_.avail_in == 0) {
                if (left == 0)
                    return {EntryFault::BadData,
                            Tr("damaged compressed data")}; // ends before its deflate stream does
                const std::size_t n = readPiece();
                if (n == 0)
                    return {EntryFault::Unreadable, Tr("cannot be read")};
                z_.next_in = in_.get();
                z_.avail_in = static_cast<uInt>(n);
            }
            z_.next_out = out_.get();
            z_.avail_out = static_cast<uInt>(kPiece);
            status = inflate(&z_, Z_NO_FLUSH);
            if (status == Z_MEM_ERROR)
                return {EntryFault::NoMemory, Tr("cannot be unpacked: no memory for it")};
            if (status != Z_OK && status != Z_STREAM_END)
                return {EntryFault::BadData, Tr("damaged compressed data")};
            if (!take(out_.get(), kPiece - z_.avail_out))
                return {EntryFault::TooMuch, tooMuch};
        }
    }
    if (produced != entry.size)
        return {EntryFault::SizeDiffers, TrFormat("unpacks to {1} bytes, its header states {2}",
                                                  {std::to_string(produced), std::to_string(entry.size)})};
    if (crc != entry.crc)
        return {EntryFault::BadCrc, Tr("bad CRC")};
    return {};
}

EntryReader::~EntryReader() {
    if (ready_)
        inflateEnd(&z_);
    if (whole_ != nullptr)
        libdeflate_free_decompressor(whole_);
}

bool EntryReader::UnpackWhole(const ZipEntryLayout& entry, std::string* keep) {
    if (entry.size > kWholeBytes || entry.compressedSize > kWholeBytes ||
        unpacked_ + entry.size > kMaxTotalBytes)
        return false;
    if (whole_ == nullptr && (whole_ = libdeflate_alloc_decompressor()) == nullptr)
        return false;
    if (!packed_)
        packed_ = std::make_unique_for_overwrite<unsigned char[]>(kWholeBytes);
    if (!inflated_)
        inflated_ = std::make_unique_for_overwrite<unsigned char[]>(kWholeBytes);
    const auto packedSize = static_cast<std::size_t>(entry.compressedSize);
    const auto size = static_cast<std::size_t>(entry.size);
    std::size_t produced = 0;
    if (!bytes_.Read(entry.dataOffset, packed_.get(), packedSize) ||
        libdeflate_deflate_decompress(whole_, packed_.get(), packedSize, inflated_.get(), size, &produced) !=
            LIBDEFLATE_SUCCESS ||
        produced != size || libdeflate_crc32(0, inflated_.get(), size) != entry.crc)
        return false;
    unpacked_ += size;
    if (keep != nullptr)
        keep->append(reinterpret_cast<const char*>(inflated_.get()), size);
    return true;
}

const ZipEntryLayout* FindEntry(const ZipLayout& layout, std::string_view name) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    for (const ZipEntryLayout& entry : layout.entries)
        if (entry.name.size() == name.size() &&
            std::equal(name.begin(), name.end(), entry.name.begin(),
                       [&](char a, char b) { return lower(a) == lower(b); }))
            return &entry;
    return nullptr;
}

std::string ManifestText(const ZipBytes& bytes, const ZipEntryLayout& e, std::uint64_t maxBytes) {
    constexpr std::uint16_t kEncrypted = 1u << 0;
    constexpr std::uint16_t kStored = 0;
    constexpr std::uint16_t kDeflated = 8;
    if (e.flags & kEncrypted)
        throw RunError(kErrAccess, "the manifest of the jar is encrypted");
    if (e.size > maxBytes || e.compressedSize > maxBytes + 1024)
        throw JarDamagedError("the manifest of the jar is larger than " + MiB(maxBytes));
    if (e.method != kStored && e.method != kDeflated)
        throw RunError(kErrAccess,
                       "the manifest of the jar is compressed with method " + std::to_string(e.method));
    std::string text;
    EntryReader reader(bytes);
    switch (reader.Unpack(e, maxBytes, &text).fault) {
    case EntryFault::None:
        return text;
    case EntryFault::NoMemory:
        throw std::bad_alloc();
    case EntryFault::Unreadable:
        throw JarDamagedError("the jar cannot be read where its records point");
    case EntryFault::BadCrc:
        throw JarDamagedError("the manifest of the jar is damaged (bad CRC)");
    default:
        // Stored data of another length than stated is told as a bad CRC.
        if (e.method == kStored)
            throw JarDamagedError("the manifest of the jar is damaged (bad CRC)");
        throw JarDamagedError("the manifest of the jar is damaged");
    }
}

} // namespace jarseal::zip
