#pragma once

#include <cstdint>
#include <string>

namespace jarseal {

// The platform's folder separator.
#ifdef _WIN32
inline constexpr char kSep = '\\';
#else
inline constexpr char kSep = '/';
#endif

// True when an ordinary file of that name exists. Folders, hidden files (a
// last component starting with ".") and special files count as missing; a
// file without write permission counts. A missing file or folder on the way
// gives false; any other system error (no permission to search a folder, a
// name too long, a loop of links) throws RunError.
bool FileExist(const std::string& name);

// The folder of the running executable, without a trailing separator.
std::string ExecutableFolder();

// Makes a relative path absolute against the current folder.
std::string AbsolutePath(const std::string& path);

// File operations that throw RunError with the mapped failure number.
std::string ReadWholeFile(const std::string& path);
std::uint64_t FileLength(const std::string& path);
void RemoveFile(const std::string& path);
// Copies a file byte for byte; the copy is written beside its target and
// renamed over it, so a failure never leaves a half-written target.
void CopyWholeFile(const std::string& from, const std::string& to);
// Replaces the content of a file: the new content is written beside it and
// renamed over it, keeping the old file's permissions. A file without write
// permission is refused as the system would refuse writing into it.
void WriteFileReplacing(const std::string& path, const std::string& content);

} // namespace jarseal
