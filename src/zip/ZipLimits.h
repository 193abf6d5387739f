#pragma once

// Limits that no real MIDlet suite or installation package comes near; they
// keep a hostile archive (a zip bomb, an archive of millions of entries) from
// filling the disk or running for hours. Sizes count the bytes actually
// inflated, never the sizes an archive states. The unzip engine, the job and
// the check all keep to them.

#include <cstdint>
#include <string>

namespace jarseal::zip {

inline constexpr std::uint64_t kMaxEntries = 65536;                   // entries in one archive
inline constexpr std::uint64_t kMaxEntryBytes = 64ull * 1024 * 1024;  // inflated size of one entry
inline constexpr std::uint64_t kMaxTotalBytes = 256ull * 1024 * 1024; // inflated size of one run

// A size as the limits are told: whole MiB.
inline std::string MiB(std::uint64_t bytes) {
    return std::to_string(bytes >> 20) + " MiB";
}

} // namespace jarseal::zip
