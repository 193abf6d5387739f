#pragma once

// One reading of a jar: what the check takes from it, all from one state of
// the file.

#include "common/FileSystem.h"

#include <array>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace jarseal::check {

constexpr std::size_t kSha1Bytes = 20;
using Sha1Digest = std::array<unsigned char, kSha1Bytes>;

// What the check takes from the jar, all from one state of the file.
struct JarFacts {
    std::string readError; // why the jar cannot be read; empty when it was read
    std::uint64_t size = 0;
    Sha1Digest sha1{};
    FileStamp stamp;        // the jar as it was read
    std::string archiveWhy; // why the jar is no sound zip archive; nothing below is known then
    std::vector<std::string> damagedEntries; // entries whose data fail their test, in archive order
    std::string firstDamage;                 // what is wrong with the first of them
    bool tooLarge = false; // the entries unpack to more than the jar may; later ones were not tested
    std::set<std::string> entryNames; // the names of the jar's entries
    std::set<std::string> oversized;  // entries stating more than the unzip inflates of one entry
    std::string manifest;             // the text of META-INF/MANIFEST.MF
    std::string manifestWhy;          // why there is no manifest to check; empty when there is
};

// Whether a reading of the jar digests it: only a signature needs that.
enum class Digest { Sha1, None };

// The jar's facts: its size and digest, its layout, its entries' data when
// testEntries is set, and its manifest. A jar written to while it was read
// is read again, so that they all describe one state of it.
JarFacts ReadJarFacts(const std::string& archivePath, bool testEntries, Digest digest = Digest::Sha1);

// A name from the jar as it may be shown: control characters become "?".
std::string Shown(std::string name);

} // namespace jarseal::check
