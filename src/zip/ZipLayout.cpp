#include "zip/ZipLayout.h"

#include "zip/LittleEndian.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace jarseal {

namespace {

constexpr std::uint32_t kLocalSignature = 0x04034b50;
constexpr std::uint32_t kCentralSignature = 0x02014b50;
constexpr std::uint32_t kEndSignature = 0x06054b50;
constexpr std::uint32_t kEnd64Signature = 0x06064b50;
constexpr std::uint32_t kEnd64LocatorSignature = 0x07064b50;
constexpr std::uint16_t kZip64ExtraId = 0x0001;
constexpr std::size_t kLocalHeaderSize = 30;
constexpr std::size_t kCentralHeaderSize = 46;
constexpr std::size_t kEndSize = 22;
constexpr std::size_t kEnd64LocatorSize = 20;
constexpr std::size_t kEnd64Size = 56;
constexpr std::size_t kMaxCommentSize = 0xffff;

using zip::Get16;
using zip::Get32;
using zip::Get64;

ZipLayoutStatus Damaged(std::string& why, std::string text) {
    why = std::move(text);
    return ZipLayoutStatus::Damaged;
}

// Finds the end-of-central-directory record: the last one in the file's
// final 64 KiB whose comment does not run past the end.
bool FindEnd(const ZipBytes& bytes, std::uint64_t& offset) {
    const std::uint64_t size = bytes.Size();
    if (size < kEndSize)
        return false;
    const std::uint64_t tail = std::min<std::uint64_t>(size, kEndSize + kMaxCommentSize);
    std::string buffer(static_cast<std::size_t>(tail), '\0');
    if (!bytes.Read(size - tail, buffer.data(), buffer.size()))
        return false;
    const auto* p = reinterpret_cast<const unsigned char*>(buffer.data());
    for (std::size_t at = buffer.size() - kEndSize + 1; at-- > 0;) {
        if (Get32(p + at) == kEndSignature && at + kEndSize + Get16(p + at + 20) <= buffer.size()) {
            offset = size - tail + at;
            return true;
        }
    }
    return false;
}

// The ZIP64 values a central record's extra field gives for the fields that
// hold 0xffffffff.
bool ApplyZip64Extra(const unsigned char* extra, std::size_t length, ZipEntryLayout& entry,
                     std::uint32_t size32, std::uint32_t compressed32, std::uint32_t offset32) {
    for (std::size_t at = 0; at + 4 <= length;) {
        const std::uint16_t id = Get16(extra + at);
        const std::uint16_t dataLength = Get16(extra + at + 2);
        if (at + 4 + dataLength > length)
            return false;
        if (id == kZip64ExtraId) {
            const unsigned char* field = extra + at + 4;
            std::size_t left = dataLength;
            const auto take = [&](std::uint64_t& value) {
                if (left < 8)
                    return false;
                value = Get64(field);
                field += 8;
                left -= 8;
                return true;
            };
            if (size32 == 0xffffffff && !take(entry.size))
                return false;
            if (compressed32 == 0xffffffff && !take(entry.compressedSize))
                return false;
            if (offset32 == 0xffffffff && !take(entry.localOffset))
                return false;
            return true;
        }
        at += 4 + dataLength;
    }
    return size32 != 0xffffffff && compressed32 != 0xffffffff && offset32 != 0xffffffff;
}

// Reads the ZIP64 end record that the locator before the end record points
// at, when there is one; false when it is there but damaged.
bool ReadEnd64(const ZipBytes& bytes, ZipLayout& layout, std::uint64_t& count, std::string& why) {
    if (layout.endOffset < kEnd64LocatorSize)
        return true;
    unsigned char locator[kEnd64LocatorSize];
    if (!bytes.Read(layout.endOffset - kEnd64LocatorSize, locator, sizeof locator) ||
        Get32(locator) != kEnd64LocatorSignature)
        return true;
    const std::uint64_t at = Get64(locator + 8);
    unsigned char end[kEnd64Size];
    if (at > layout.endOffset - kEnd64LocatorSize || layout.endOffset - kEnd64LocatorSize - at < kEnd64Size ||
        !bytes.Read(at, end, sizeof end) || Get32(end) != kEnd64Signature) {
        why = "the ZIP64 end record is missing or out of place";
        return false;
    }
    if (Get32(end + 16) != 0 || Get32(end + 20) != 0) {
        why = "the archive spans several disks";
        return false;
    }
    layout.zip64 = true;
    count = Get64(end + 32);
    layout.centralSize = Get64(end + 40);
    layout.centralOffset = Get64(end + 48);
    // The central directory must end where the ZIP64 end record starts.
    layout.endOffset = at;
    return true;
}

} // namespace

bool ZipFileBytes::Read(std::uint64_t offset, void* buffer, std::size_t size) const {
    constexpr std::size_t kWindow = 64 * 1024;
    constexpr std::size_t kSmall = 4 * 1024; // reads up to this size go through the window
    if (offset > size_ || size > size_ - offset)
        return false;
    auto* out = static_cast<char*>(buffer);
    if (size == 0)
        return true;
    if (size > kSmall)
        return ReadFile(offset, out, size);
    const bool inWindow = offset >= windowStart_ && offset - windowStart_ <= window_.size() &&
                          size <= window_.size() - (offset - windowStart_);
    if (!inWindow) {
        window_.resize(static_cast<std::size_t>(std::min<std::uint64_t>(kWindow, size_ - offset)));
        windowStart_ = offset;
        if (!ReadFile(offset, window_.data(), window_.size())) {
            // The file is shorter now than when it was opened: read just
            // what was asked for, as if there were no window.
            window_.clear();
            return ReadFile(offset, out, size);
        }
    }
    std::memcpy(out, window_.data() + (offset - windowStart_), size);
    return true;
}

bool ZipFileBytes::ReadFile(std::uint64_t offset, char* out, std::size_t size) const {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::pread(fd_, out + done, size - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool ZipMemoryBytes::Read(std::uint64_t offset, void* buffer, std::size_t size) const {
    if (offset > size_ || size > size_ - offset)
        return false;
    std::memcpy(buffer, data_ + offset, size);
    return true;
}

ZipLayoutStatus ReadZipLayout(const ZipBytes& bytes, std::uint64_t maxEntries, ZipLayout& layout,
                              std::string& why) {
    layout = ZipLayout{};
    layout.fileSize = bytes.Size();
    if (!FindEnd(bytes, layout.endOffset))
        return ZipLayoutStatus::NotZip;

    unsigned char end[kEndSize];
    if (!bytes.Read(layout.endOffset, end, sizeof end))
        return Damaged(why, "the end record cannot be read");
    if (Get16(end + 4) != 0 || Get16(end + 6) != 0)
        return Damaged(why, "the archive spans several disks");
    std::uint64_t count = Get16(end + 10);
    layout.centralSize = Get32(end + 12);
    layout.centralOffset = Get32(end + 16);
    if (!ReadEnd64(bytes, layout, count, why))
        return ZipLayoutStatus::Damaged;

    if (count > maxEntries)
        return Damaged(why, "the archive holds " + std::to_string(count) + " entries, more than " +
                                std::to_string(maxEntries));
    if (layout.centralOffset > layout.endOffset ||
        layout.centralSize > layout.endOffset - layout.centralOffset)
        return Damaged(why, "the central directory is not where the end record says");
    if (count * kCentralHeaderSize > layout.centralSize)
        return Damaged(why, "the central directory is too short for " + std::to_string(count) + " entries");

    std::string central(static_cast<std::size_t>(layout.centralSize), '\0');
    if (!bytes.Read(layout.centralOffset, central.data(), central.size()))
        return Damaged(why, "the central directory cannot be read");
    const auto* p = reinterpret_cast<const unsigned char*>(central.data());
    layout.entries.reserve(static_cast<std::size_t>(count));
    std::size_t at = 0;
    for (std::uint64_t i = 0; i < count; ++i) {
        const std::string where = "central record " + std::to_string(i + 1);
        if (central.size() - at < kCentralHeaderSize || Get32(p + at) != kCentralSignature)
            return Damaged(why, where + " is missing or damaged");
        const unsigned char* r = p + at;
        const std::size_t nameLength = Get16(r + 28);
        const std::size_t extraLength = Get16(r + 30);
        const std::size_t commentLength = Get16(r + 32);
        const std::size_t length = kCentralHeaderSize + nameLength + extraLength + commentLength;
        if (central.size() - at < length)
            return Damaged(why, where + " runs past the central directory");
        ZipEntryLayout entry;
        entry.name.assign(reinterpret_cast<const char*>(r + kCentralHeaderSize), nameLength);
        entry.flags = Get16(r + 8);
        entry.method = Get16(r + 10);
        entry.crc = Get32(r + 16);
        entry.compressedSize = Get32(r + 20);
        entry.size = Get32(r + 24);
        entry.localOffset = Get32(r + 42);
        entry.centralOffset = layout.centralOffset + at;
        entry.centralLength = length;
        if (!ApplyZip64Extra(r + kCentralHeaderSize + nameLength, extraLength, entry, Get32(r + 24),
                             Get32(r + 20), Get32(r + 42)))
            return Damaged(why, "the sizes of " + entry.name + " are missing from its ZIP64 field");
        if (Get16(r + 34) != 0 && Get16(r + 34) != 0xffff)
            return Damaged(why, entry.name + " lies on another disk");

        // Its local header and data must lie wholly before the central directory.
        unsigned char local[kLocalHeaderSize];
        if (entry.localOffset > layout.centralOffset ||
            layout.centralOffset - entry.localOffset < kLocalHeaderSize ||
            !bytes.Read(entry.localOffset, local, sizeof local) || Get32(local) != kLocalSignature)
            return Damaged(why, "the local header of " + entry.name + " is missing or out of place");
        entry.dataOffset = entry.localOffset + kLocalHeaderSize + Get16(local + 26) + Get16(local + 28);
        if (entry.dataOffset > layout.centralOffset ||
            entry.compressedSize > layout.centralOffset - entry.dataOffset)
            return Damaged(why, "the data of " + entry.name + " runs past the end of the entries");
        // Readers that go through the archive from its start know an entry
        // by the name of its local header only.
        if (Get16(local + 26) == entry.name.size()) {
            std::string localName(entry.name.size(), '\0');
            if (!bytes.Read(entry.localOffset + kLocalHeaderSize, localName.data(), localName.size()))
                return Damaged(why, "the local header of " + entry.name + " is missing or out of place");
            entry.localNameAgrees = localName == entry.name;
        } else {
            entry.localNameAgrees = false;
        }
        layout.entries.push_back(std::move(entry));
        at += length;
    }

    // No two entries may share a byte: sorted by position, each one's data
    // ends before the next one's local header.
    std::vector<const ZipEntryLayout*> byPlace;
    byPlace.reserve(layout.entries.size());
    for (const auto& entry : layout.entries)
        byPlace.push_back(&entry);
    std::sort(byPlace.begin(), byPlace.end(), [](const ZipEntryLayout* a, const ZipEntryLayout* b) {
        return a->localOffset < b->localOffset;
    });
    for (std::size_t i = 1; i < byPlace.size(); ++i)
        if (byPlace[i - 1]->DataEnd() > byPlace[i]->localOffset)
            return Damaged(why,
                           "the entries " + byPlace[i - 1]->name + " and " + byPlace[i]->name + " overlap");
    return ZipLayoutStatus::Sound;
}

} // namespace jarseal
