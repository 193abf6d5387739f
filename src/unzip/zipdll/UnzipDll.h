#pragma once

// A small extraction library with the single-entry interface of Info-ZIP's
// Windows UnZip library: an option record, include and exclude name lists
// with counts, a record of callbacks, a version query and a numeric result.
// It is built on libzip and stands in for unzip32.dll.

#include "zip/ZipLimits.h"

#include <cstddef>
#include <cstdint>

namespace jarseal::unzipdll {

// The archive limits (zip/ZipLimits.h), and the messages' own.
using zip::kMaxEntries;
using zip::kMaxEntryBytes;
using zip::kMaxTotalBytes;
inline constexpr std::size_t kMaxMessageBytes = 64 * 1024;            // messages printed in one run

// Result codes, the numbers Info-ZIP UnZip uses.
inline constexpr int kOk = 0;           // success
inline constexpr int kWarning = 1;      // some entries skipped or a minor problem
inline constexpr int kError = 2;        // an error in an entry (bad data, CRC, cannot write)
inline constexpr int kBadZip = 3;       // a severe error in the archive (damaged, truncated)
inline constexpr int kNoMemory = 4;     // out of memory
inline constexpr int kNoZip = 9;        // the archive is missing or is not a zip archive
inline constexpr int kBadParam = 10;    // bad options
inline constexpr int kNoMatch = 11;     // no entry to work on (empty archive, nothing matched)
inline constexpr int kDiskFull = 50;    // the disk is full
inline constexpr int kStopped = 80;     // stopped by the user
inline constexpr int kUnsupported = 81; // unsupported compression method or encryption
inline constexpr int kBadPassword = 82; // an entry skipped for a wrong or missing password

// Answers of the overwrite callback.
inline constexpr int kReplaceNo = 100;
inline constexpr int kReplaceYes = 102;
inline constexpr int kReplaceCancel = 104;

// Called with the name (as stored in the archive) of each entry whose data
// could not be read correctly.
using DamagedEntryCallback = void (*)(const char* name);

// The option record: the seventeen fields of the unzip32.dll record, in its
// order, then the names of the entries to write and the damaged-entry callback.
struct UnzipOptions {
    int extractOnlyNewer;  // 1: extract only entries newer than the files on disk, and new ones
    int spaceToUnderscore; // 1: blanks in names become underscores
    int promptToOverwrite; // 1: ask through the overwrite callback when overwriting is off
    int messageLevel;      // 0: every message; 1 or more: only warnings and errors
    int writeToStdOut;     // 1: entry data goes to the print callback instead of files
    int testZip;           // 1: only test the entries (read and check them)
    int extractList;       // 0: extract; otherwise list the entries through the entry-message callback
    int extractNewer;      // 1: freshen: replace only existing files that are older
    int displayComment;    // 1: print the archive comment
    int honorDirectories;  // 1: keep stored folders; 0: every entry under its bare name
    int overwriteFiles;    // 1: replace existing files without asking
    int convertCRtoCRLF;   // accepted, no effect: entries are written byte for byte
    int verbose;           // accepted, no effect
    int caseSensitive;     // 1: include and exclude names match with exact letter case
    int privilege;         // accepted, no effect: no owners or access lists are restored
    const char* zipFileName;
    const char* extractDir; // null or empty: the current folder
    // While extracting, only the file entries whose name (the name the file
    // would get in its folder) is one of these are written; every other entry
    // is tested instead: inflated and checked against its CRC in memory, with
    // the same messages, result codes and limits as if it were written, and
    // folder entries create nothing. A count of 0 writes every entry.
    int writtenNameCount;
    const char* const* writtenNames;
    // Null, or called for each entry that is skipped or cut short because its
    // data cannot be read correctly: bad CRC or invalid compressed data, more
    // than kMaxEntryBytes, an unsupported compression method or encryption, a
    // password that could not be had, damage to the archive around it, and
    // the entry at which kMaxTotalBytes stops the run. Entries skipped for
    // their name and files that cannot be written are not damaged entries.
    DamagedEntryCallback damagedEntry;
};

using PrintCallback = int (*)(const char* buffer, unsigned long length);
using SoundCallback = void (*)();
// Answers kReplaceNo, kReplaceYes or kReplaceCancel for the file about to be replaced.
using ReplaceCallback = int (*)(const char* fileName);
// Writes the password (zero-terminated, at most bufferSize bytes) into buffer
// and returns 0, or returns 1 when no password is given.
using PasswordCallback = int (*)(char* buffer, int bufferSize, const char* prompt, const char* entryName);
// One entry of a listing.
using EntryMessageCallback = void (*)(unsigned long size, unsigned long compressedSize, unsigned factor,
                                      unsigned month, unsigned day, unsigned year, unsigned hour,
                                      unsigned minute, char caseMark, const char* name, const char* method,
                                      unsigned long crc, char encrypted);
// Called before each entry; a non-zero answer stops the run.
using ServiceCallback = int (*)(const char* entryName, unsigned long size);

// The callback record; the last five fields are filled by a listing run.
struct UnzipUserFunctions {
    PrintCallback print;
    SoundCallback sound;
    ReplaceCallback replace;
    PasswordCallback password;
    EntryMessageCallback entryMessage;
    ServiceCallback service;
    unsigned long totalSizeComp;
    unsigned long totalSize;
    unsigned compFactor;
    unsigned numMembers;
    unsigned commentLength;
};

struct UnzipVersionNumber {
    unsigned char major;
    unsigned char minor;
    unsigned char patchLevel;
    unsigned char notUsed;
};

// The version record, 64 bytes; the caller sets structLength first.
struct UnzipVersion {
    unsigned structLength;
    unsigned flag; // bit 0: a beta version
    char betaLevel[10];
    char date[20];
    char engineVersion[10]; // the version of the compression library underneath
    UnzipVersionNumber unzip;
    UnzipVersionNumber zipinfo;
    UnzipVersionNumber os2dll;
    UnzipVersionNumber windll;
};
static_assert(sizeof(UnzipVersion) == 64);

// Fills the version record when structLength is at least its size.
void UzpVersion2(UnzipVersion* version);

// Works on the entries of the archive options->zipFileName that match one of
// the include names (every entry when includeCount is 0) and none of the
// exclude names; names may hold the wildcards * and ?. Returns a result code.
// An archive of more than kMaxEntries entries is refused whole (kBadZip); an
// entry that inflates to more than kMaxEntryBytes is skipped (kError); once
// the entries inflated in the run exceed kMaxTotalBytes the run stops
// (kBadZip). Each limit is named in a printed message, and a file cut short
// by one is removed. An archive whose records or entries' data lie out of
// place, or whose entries share bytes, is refused whole before anything is
// created (kBadZip). Printed messages beyond kMaxMessageBytes are left out,
// except the one that stops the run.
int Wiz_SingleEntryUnzip(int includeCount, const char* const* includeList, int excludeCount,
                         const char* const* excludeList, const UnzipOptions* options,
                         UnzipUserFunctions* callbacks);

} // namespace jarseal::unzipdll
