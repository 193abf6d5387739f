#pragma once

// Where the records and data of a zip archive lie, as its end records, its
// central directory and each entry's local header state them, checked for
// the damage that other readers trust blindly: records outside the file,
// data that runs into the central directory, and entries that share bytes
// (the overlapping-entry bomb, where thousands of directory records point
// into one huge deflate stream).

#include <cstdint>
#include <string>
#include <vector>

namespace jarseal {

// One entry, as its central-directory record and its local header state it.
struct ZipEntryLayout {
    std::string name;            // the name of its central record
    bool localNameAgrees = true; // its local header names it alike
    std::uint16_t flags = 0;     // general-purpose flags of the central record
    std::uint16_t method = 0;    // compression method
    std::uint32_t crc = 0;       // CRC-32 of the uncompressed data
    std::uint64_t compressedSize = 0;
    std::uint64_t size = 0;          // uncompressed size
    std::uint64_t centralOffset = 0; // its central-directory record
    std::uint64_t centralLength = 0; // that record's length, name, extra field and comment included
    std::uint64_t localOffset = 0;   // its local header
    std::uint64_t dataOffset = 0;    // its data, after the local header, name and extra field
    std::uint64_t DataEnd() const { return dataOffset + compressedSize; }
};

struct ZipLayout {
    std::vector<ZipEntryLayout> entries; // in central-directory order
    std::uint64_t fileSize = 0;
    std::uint64_t centralOffset = 0; // the central directory
    std::uint64_t centralSize = 0;
    std::uint64_t endOffset = 0; // the end-of-central-directory record
    bool zip64 = false;          // the archive has ZIP64 end records
};

// Reads the bytes at offset into the buffer; false when they cannot be read
// whole.
class ZipBytes {
  public:
    virtual ~ZipBytes() = default;
    virtual std::uint64_t Size() const = 0;
    virtual bool Read(std::uint64_t offset, void* buffer, std::size_t size) const = 0;
};

// The bytes of an open file (read with pread; the caller keeps it open).
// Small reads are served from a window of the file read ahead: reading a
// layout asks for every entry's local header and name, two small reads an
// entry, mostly in the order they lie in the file.
class ZipFileBytes : public ZipBytes {
  public:
    ZipFileBytes(int fd, std::uint64_t size) : fd_(fd), size_(size) {}
    std::uint64_t Size() const override { return size_; }
    bool Read(std::uint64_t offset, void* buffer, std::size_t size) const override;

  private:
    bool ReadFile(std::uint64_t offset, char* out, std::size_t size) const;

    int fd_;
    std::uint64_t size_;
    mutable std::vector<char> window_; // the file's bytes from windowStart_ on, as last read
    mutable std::uint64_t windowStart_ = 0;
};

// Bytes held in memory (not copied; they must outlive the reader).
class ZipMemoryBytes : public ZipBytes {
  public:
    ZipMemoryBytes(const char* data, std::uint64_t size) : data_(data), size_(size) {}
    std::uint64_t Size() const override { return size_; }
    bool Read(std::uint64_t offset, void* buffer, std::size_t size) const override;

  private:
    const char* data_;
    std::uint64_t size_;
};

enum class ZipLayoutStatus {
    Sound,   // every record and every entry's data lies where it should, no two entries share a byte
    NotZip,  // no end-of-central-directory record: not a zip archive
    Damaged, // a record or an entry's data is out of place; why says which and where
};

// Reads and checks the layout. Reads the end records, the central directory
// and every local header, never an entry's data; an archive stating more
// than maxEntries entries is refused as damaged before its directory is
// read, so memory stays bounded by the file's own size.
ZipLayoutStatus ReadZipLayout(const ZipBytes& bytes, std::uint64_t maxEntries, ZipLayout& layout,
                              std::string& why);

} // namespace jarseal
