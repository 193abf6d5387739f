#pragma once

#include <cstddef>
#include <string>

namespace jarseal {

// The longest value ReadIni hands back. Real settings (paths, passwords,
// aliases, "0"/"1", "True"/"False") are far shorter; the bound only keeps a
// damaged file from producing an absurd text. Every value up to it is read
// whole.
inline constexpr std::size_t kMaxIniValueBytes = 32 * 1024;

// The value stored under key in section of the settings file, without blanks
// at its ends (and without one pair of enclosing quotes); the empty text when
// the file, the section or the key is missing. Never fails.
std::string ReadIni(const std::string& section, const std::string& key, const std::string& file);

// Stores value under key in section of the settings file, creating the
// section and the file when needed. An empty value is stored as one blank, so
// the key stays and reads back as the empty text. Returns non-zero on
// success; a failed write is silent and leaves the file as it was.
long WriteIni(const std::string& section, const std::string& key, const std::string& value,
              const std::string& file);

} // namespace jarseal
