#pragma once

// Writes zip archives byte by byte, for archives that libzip refuses to make:
// sizes that lie, entries that share their data, symbolic links, millions of
// bytes of zeros in a few kilobytes. Header-only so the Java tests can use it
// too.

#include <zlib.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace jarseal::test::rawzip {

inline constexpr std::uint16_t kStored = 0;
inline constexpr std::uint16_t kDeflated = 8;
// External attributes of a Unix symbolic link (made by Unix).
inline constexpr std::uint32_t kLinkAttributes = (0120777u) << 16;
inline constexpr std::uint16_t kMadeByUnix = (3u << 8) | 30u;

inline void Put16(std::string& out, std::uint32_t v) {
    out += static_cast<char>(v & 0xff);
    out += static_cast<char>((v >> 8) & 0xff);
}
inline void Put32(std::string& out, std::uint32_t v) {
    Put16(out, v & 0xffff);
    Put16(out, v >> 16);
}
inline void Put64(std::string& out, std::uint64_t v) {
    Put32(out, static_cast<std::uint32_t>(v));
    Put32(out, static_cast<std::uint32_t>(v >> 32));
}

inline std::uint32_t Crc(const std::string& data) {
    return static_cast<std::uint32_t>(
        ::crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
}

// Raw deflate (no zlib header), as zip entries hold it.
inline std::string Deflate(const std::string& data) {
    z_stream z{};
    if (deflateInit2(&z, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        throw std::runtime_error("deflateInit2");
    std::string out(deflateBound(&z, static_cast<uLong>(data.size())), '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    const int rc = deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    if (rc != Z_STREAM_END)
        throw std::runtime_error("deflate");
    return out;
}

// size bytes of the repeated pattern, deflated without holding them in
// memory; crc receives their CRC-32.
inline std::string DeflateRepeated(std::uint64_t size, const std::string& pattern, std::uint32_t& crc) {
    z_stream z{};
    if (deflateInit2(&z, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        throw std::runtime_error("deflateInit2");
    std::string chunk;
    while (chunk.size() < 1024 * 1024)
        chunk += pattern;
    chunk.resize(1024 * 1024 - (1024 * 1024) % pattern.size());
    std::string out;
    std::string buffer(256 * 1024, '\0');
    uLong sum = ::crc32(0, nullptr, 0);
    std::uint64_t left = size;
    int rc = Z_OK;
    do {
        const std::size_t n = left < chunk.size() ? static_cast<std::size_t>(left) : chunk.size();
        z.next_in = reinterpret_cast<Bytef*>(chunk.data());
        z.avail_in = static_cast<uInt>(n);
        sum = ::crc32(sum, reinterpret_cast<const Bytef*>(chunk.data()), static_cast<uInt>(n));
        left -= n;
        const int flush = left == 0 ? Z_FINISH : Z_NO_FLUSH;
        do {
            z.next_out = reinterpret_cast<Bytef*>(buffer.data());
            z.avail_out = static_cast<uInt>(buffer.size());
            rc = deflate(&z, flush);
            out.append(buffer.data(), buffer.size() - z.avail_out);
        } while (z.avail_out == 0 || (flush == Z_FINISH && rc != Z_STREAM_END));
    } while (left > 0);
    deflateEnd(&z);
    crc = static_cast<std::uint32_t>(sum);
    return out;
}

// What a local header and its central-directory record state about an entry.
struct Header {
    std::string name;
    std::uint16_t method = kStored;
    std::uint32_t crc = 0;
    std::uint64_t compressedSize = 0;
    std::uint64_t size = 0;
    std::uint32_t externalAttributes = 0;
    std::uint16_t madeBy = 20;
    // General-purpose flags, the same in both records. With bit 3 the local
    // header states no CRC or sizes and a data descriptor follows the data.
    std::uint16_t flags = 0;
};

// An archive under construction: local records first, then the central
// directory, which may point at any local record any number of times.
class Builder {
  public:
    // Writes a local header and its data; returns the record's offset.
    std::uint64_t AddLocal(const Header& h, const std::string& data) {
        const std::uint64_t offset = bytes_.size();
        const bool descriptor = (h.flags & 8) != 0;
        Put32(bytes_, 0x04034b50);
        Put16(bytes_, 20);
        Put16(bytes_, h.flags);
        Put16(bytes_, h.method);
        Put32(bytes_, 0); // time and date
        Put32(bytes_, descriptor ? 0 : h.crc);
        Put32(bytes_, descriptor ? 0 : static_cast<std::uint32_t>(h.compressedSize));
        Put32(bytes_, descriptor ? 0 : static_cast<std::uint32_t>(h.size));
        Put16(bytes_, static_cast<std::uint32_t>(h.name.size()));
        Put16(bytes_, 0);
        bytes_ += h.name;
        bytes_ += data;
        if (descriptor) {
            Put32(bytes_, 0x08074b50);
            Put32(bytes_, h.crc);
            Put32(bytes_, static_cast<std::uint32_t>(h.compressedSize));
            Put32(bytes_, static_cast<std::uint32_t>(h.size));
        }
        return offset;
    }
    // A central-directory record for the local record at offset.
    void AddCentral(const Header& h, std::uint64_t offset) {
        std::string& c = central_;
        Put32(c, 0x02014b50);
        Put16(c, h.madeBy);
        Put16(c, 20);
        Put16(c, h.flags);
        Put16(c, h.method);
        Put32(c, 0);
        Put32(c, h.crc);
        Put32(c, static_cast<std::uint32_t>(h.compressedSize));
        Put32(c, static_cast<std::uint32_t>(h.size));
        Put16(c, static_cast<std::uint32_t>(h.name.size()));
        Put16(c, 0); // extra
        Put16(c, 0); // comment
        Put16(c, 0); // disk
        Put16(c, 0); // internal attributes
        Put32(c, h.externalAttributes);
        Put32(c, static_cast<std::uint32_t>(offset));
        c += h.name;
        ++count_;
    }
    // A bomb of overlapping entries: one local record of size bytes of zeros,
    // deflated to a few hundred kilobytes, named by records central records
    // (name0, name1, ...). Unpacked entry by entry it gives records times size
    // bytes.
    void AddOverlapping(const std::string& name, std::uint64_t size, int records) {
        std::uint32_t crc = 0;
        const std::string packed = DeflateRepeated(size, std::string(1, '\0'), crc);
        Header h{name, kDeflated, crc, packed.size(), size};
        const std::uint64_t at = AddLocal(h, packed);
        for (int i = 0; i < records; ++i) {
            h.name = name + std::to_string(i);
            AddCentral(h, at);
        }
    }
    // The usual case: a local record and its central record.
    void Add(const Header& h, const std::string& data) { AddCentral(h, AddLocal(h, data)); }
    // A stored entry with honest headers.
    void AddStored(const std::string& name, const std::string& data, std::uint32_t attributes = 0,
                   std::uint16_t madeBy = 20) {
        Add({name, kStored, Crc(data), data.size(), data.size(), attributes, madeBy}, data);
    }
    // A deflated entry with honest headers.
    void AddDeflated(const std::string& name, const std::string& data, std::uint16_t flags = 0) {
        const std::string packed = Deflate(data);
        Add({name, kDeflated, Crc(data), packed.size(), data.size(), 0, 20, flags}, packed);
    }

    // The whole archive; more than 65,535 entries get the ZIP64 end records.
    std::string Finish() const {
        std::string out = bytes_;
        const std::uint64_t cdOffset = out.size();
        out += central_;
        const bool zip64 = count_ > 0xfffe;
        if (zip64) {
            const std::uint64_t eocd64 = out.size();
            Put32(out, 0x06064b50);
            Put64(out, 44);
            Put16(out, 45);
            Put16(out, 45);
            Put32(out, 0);
            Put32(out, 0);
            Put64(out, count_);
            Put64(out, count_);
            Put64(out, central_.size());
            Put64(out, cdOffset);
            Put32(out, 0x07064b50);
            Put32(out, 0);
            Put64(out, eocd64);
            Put32(out, 1);
        }
        Put32(out, 0x06054b50);
        Put16(out, 0);
        Put16(out, 0);
        Put16(out, zip64 ? 0xffff : static_cast<std::uint32_t>(count_));
        Put16(out, zip64 ? 0xffff : static_cast<std::uint32_t>(count_));
        Put32(out, static_cast<std::uint32_t>(central_.size()));
        Put32(out, static_cast<std::uint32_t>(cdOffset));
        Put16(out, 0);
        return out;
    }

  private:
    std::string bytes_;
    std::string central_;
    std::uint64_t count_ = 0;
};

} // namespace jarseal::test::rawzip
