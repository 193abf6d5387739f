#pragma once

// The data of a zip entry, unpacked in bounded pieces and tested against its
// size and CRC, and the entry of a given name.

#include "zip/ZipLayout.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <zlib.h>

struct libdeflate_decompressor;

namespace jarseal::zip {

// What is wrong with an entry's data.
enum class EntryFault {
    None,        // sound
    Encrypted,   // encrypted: its data cannot be read
    Method,      // a compression method other than stored or deflated
    TooLarge,    // states more bytes than it may unpack to
    Unreadable,  // its stored data cannot be read from the archive
    NoMemory,    // no memory to unpack it
    BadData,     // its compressed data is damaged or ends early
    TooMuch,     // unpacks to more than it states (or than the archive may)
    SizeDiffers, // unpacks to fewer bytes than it states
    BadCrc,      // its data does not have the CRC it states
};
struct EntryProblem {
    EntryFault fault = EntryFault::None;
    std::string why; // what is wrong, in words; empty when sound
};

// Unpacks the data of a jar's entries and checks it against each entry's
// size and CRC. The data passes through buffers of a fixed size, so memory
// stays the same whatever the entries hold; every byte unpacked counts
// towards the archive's allowance of kMaxTotalBytes.
class EntryReader {
  public:
    explicit EntryReader(const ZipBytes& bytes) : bytes_(bytes) {
        ready_ = inflateInit2(&z_, -MAX_WBITS) == Z_OK;
    }
    EntryReader(const EntryReader&) = delete;
    EntryReader& operator=(const EntryReader&) = delete;
    ~EntryReader();

    // Unpacks one entry; keep, when given, receives its data. An entry
    // stating more than limit bytes is refused unread, and one that unpacks
    // to more than it states is given up at that point. Returns what is wrong
    // with the entry, or no fault when it is sound.
    EntryProblem Unpack(const ZipEntryLayout& entry, std::uint64_t limit, std::string* keep);

    // The bytes unpacked so far; beyond kMaxTotalBytes, the entry
    // that passed the allowance was given up.
    std::uint64_t Unpacked() const { return unpacked_; }

  private:
    // A sound deflated entry of at most kWholeBytes, packed and unpacked, is
    // inflated in one call, several times faster than in pieces: true when it
    // unpacked to its size and CRC and was counted and kept. Anything else is
    // left to the piecewise read, which finds and tells what is wrong.
    bool UnpackWhole(const ZipEntryLayout& entry, std::string* keep);

    static constexpr std::size_t kPiece = 64 * 1024;
    static constexpr std::size_t kWholeBytes = 1024 * 1024;
    static constexpr std::uint16_t kStored = 0;
    static constexpr std::uint16_t kDeflated = 8;
    static constexpr std::uint16_t kEncrypted = 1; // general-purpose flag

    const ZipBytes& bytes_;
    z_stream z_{};
    bool ready_ = false;
    std::uint64_t unpacked_ = 0;
    std::unique_ptr<unsigned char[]> in_ = std::make_unique_for_overwrite<unsigned char[]>(kPiece);
    std::unique_ptr<unsigned char[]> out_ = std::make_unique_for_overwrite<unsigned char[]>(kPiece);
    libdeflate_decompressor* whole_ = nullptr; // and two buffers of kWholeBytes, made when first needed
    std::unique_ptr<unsigned char[]> packed_;
    std::unique_ptr<unsigned char[]> inflated_;
};

// The name of a jar's manifest entry.
inline constexpr std::string_view kManifestName = "META-INF/MANIFEST.MF";

// The first entry, in central-directory order, whose name is name in any
// letter case (ASCII letters only), or null.
const ZipEntryLayout* FindEntry(const ZipLayout& layout, std::string_view name);

// The jar's manifest entry (its name in any letter case), or null. The job,
// the check and the rewrite of a manifest all take the manifest from this
// entry.
inline const ZipEntryLayout* FindManifest(const ZipLayout& layout) {
    return FindEntry(layout, kManifestName);
}

// The text of a jar's manifest entry: stored or deflated, at most maxBytes,
// its size and CRC as its records state. Throws JarDamagedError
// (zip/ZipRewrite.h) for a damaged or oversized one, RunError for one that
// is encrypted or compressed otherwise.
std::string ManifestText(const ZipBytes& bytes, const ZipEntryLayout& e, std::uint64_t maxBytes);

} // namespace jarseal::zip
