#pragma once

// A copy of a zip archive with one entry's data replaced: every other entry's
// bytes are copied as they are (nothing else is inflated or recompressed),
// and every offset that follows the entry is patched.

#include "zip/ZipLayout.h"

#include <cstdint>
#include <stdexcept>
#include <string>

namespace jarseal {

// The jar's records are out of place (entries that overlap or lie outside
// the file, a manifest whose data is bad): a damaged archive.
struct JarDamagedError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

namespace zip {

// The layout of an archive that can be rewritten: sound, and without ZIP64
// records. Throws JarDamagedError for a damaged archive, RunError for one
// with ZIP64 records.
ZipLayout RewritableLayout(const ZipBytes& bytes);

// The new data of an entry, as it is stored in the archive.
struct NewEntry {
    std::string data; // as stored in the archive
    std::uint32_t crc = 0;
    std::uint64_t size = 0;
};

// The text stored as the entry old was: deflated when it was deflated.
NewEntry StoredLike(const std::string& text, const ZipEntryLayout& old);

// Writes the archive to out with the entry's data replaced: every other byte
// range is copied as it is, in the order of the file, and the offsets of the
// central directory and end record follow the entry's change of size. target
// names the file in errors.
void WriteWithEntryReplaced(const ZipBytes& bytes, const ZipLayout& layout, const ZipEntryLayout& entry,
                            const NewEntry& m, int out, const std::string& target);

// A copy of the archive's bytes as a new file at path (written beside it,
// flushed and renamed over it); nothing is left behind on failure.
void WriteCopy(const ZipBytes& bytes, const std::string& path, unsigned mode);

} // namespace zip

} // namespace jarseal
