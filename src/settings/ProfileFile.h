#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace jarseal {

// A small profile (INI) file layer that reads and writes files the way the
// Windows profile functions GetPrivateProfileStringA and
// WritePrivateProfileStringA do, as far as this program relies on them:
//
//  - lines end in CR LF, LF or a lone CR; all three are read;
//  - "[name]" starts a section; "name=value" is a key line; a line whose
//    first non-blank character is ';' is a comment; blank lines, comments and
//    any other lines are kept untouched;
//  - section and key names match without regard to ASCII letter case; blanks
//    around names and values are not part of them; a value enclosed in one
//    pair of matching double or single quotes is read without them;
//  - with duplicate sections or keys the first one wins (later sections of
//    the same name are not looked at);
//  - a replaced key keeps the place of its line and every other byte of the
//    file; a new key goes right after the last key line of its section; a new
//    section is appended at the end of the file; written lines are
//    "key=value" followed by CR LF, the value exactly as given.
//
// Texts are bytes and pass unchanged. A UTF-8 byte order mark at the start of
// a file (left by some editors) is skipped when reading and kept when writing.

// The largest file the layer reads. Reading a larger file looks only at its
// first kMaxProfileFileBytes (up to the last complete line); writing into one
// fails, so the file is never cut short.
inline constexpr std::size_t kMaxProfileFileBytes = 16u * 1024 * 1024;

// The value stored under key in the first section named section, without
// surrounding blanks and quotes; nullopt when the section or key is missing.
std::optional<std::string> FindProfileValue(std::string_view content, std::string_view section,
                                            std::string_view key);

// The content with key set to value (see above for where lines go); nullopt
// when the names or the value cannot be stored as one line: an empty or
// blank section or key, a line break or NUL in any of them (a line break in
// the value is refused as well), a ']' in the section name, a '=' in the key
// or a key starting with ';' or '['.
std::optional<std::string> SetProfileValue(std::string_view content, std::string_view section,
                                           std::string_view key, std::string_view value);

// Reads the value of key in section of the file, at most maxBytes of it; the
// empty text when the file, section or key is missing or the file cannot be
// read (a folder, a device, no permission). Never fails.
std::string ProfileGetString(const std::string& section, const std::string& key, const std::string& file,
                             std::size_t maxBytes);

// Stores value under key in section of the file, creating the section and the
// file when needed. The new content is written beside the file and renamed
// over it, so the file is always either the old or the new one as a whole,
// even when the program dies halfway; the old file's permissions are kept.
// With flushToDisk the new content is also forced to the disk before the
// rename (survives a system crash too, at the cost of a disk flush per call).
// Returns false, leaving the file as it was, when it cannot be changed: a
// read-only file or folder, a missing folder, a path that is not an ordinary
// file, a file larger than kMaxProfileFileBytes, or names SetProfileValue
// refuses.
bool ProfileWriteString(const std::string& section, const std::string& key, const std::string& value,
                        const std::string& file, bool flushToDisk = false);

} // namespace jarseal
