#pragma once

#include "common/UserInterface.h"
#include "unzip/zipdll/UnzipDll.h"

#include <cstdint>
#include <string>
#include <vector>

namespace jarseal {

// Failure number raised when the unzip library cannot be used (the classic
// "error in loading DLL").
inline constexpr int kErrLoadingLibrary = 48;

// The two entry points of an unzip library. The bridge calls the library only
// through such a table, so that another implementation can stand in for it.
struct UnzipLibrary {
    void (*version)(unzipdll::UnzipVersion* version);
    int (*singleEntryUnzip)(int includeCount, const char* const* includeList, int excludeCount,
                            const char* const* excludeList, const unzipdll::UnzipOptions* options,
                            unzipdll::UnzipUserFunctions* callbacks);
};

// The bridge to the unzip library. Its state (the collected messages, the
// listing, the damaged entries and the password-refused flag) exists once per
// process and is reset at the start of every run; runs must not overlap.
namespace CodeModule {

// Runs the library on the archive: fills the option record from the switches
// (each widened with its sign), offers the callbacks, which ask through ui,
// and returns the library's result code unchanged. Non-empty writtenNames
// limit the written entries to those names (the others are tested). Throws
// RunError with the source "CodeModule::VBUnzip" when the library cannot be
// used or the run cannot be set up.
std::int32_t VBUnzip(UserInterface& ui, const std::string& zipFileName, const std::string& extractDir,
                     std::int16_t extractNewer, std::int16_t spaceToUnderScore, std::int16_t promptOverwrite,
                     std::int16_t messageLevel, std::int16_t writeToStdOut, std::int16_t testZip,
                     std::int16_t extractList, std::int16_t extractOnlyNewer, std::int16_t displayComment,
                     std::int16_t honorDirectories, std::int16_t overWriteFiles, std::int16_t convertCRtoCRLF,
                     std::int16_t verbose, std::int16_t caseSensitive, std::int16_t privilege,
                     const std::vector<std::string>& writtenNames = {});

// Everything the library printed during the most recent run.
std::string LastMessage();
// The listing the entry-message callback built during the most recent run
// (header line and one line per entry, each ending in CR LF).
std::string ListingText();
// The names of the entries the library reported damaged during the most
// recent run, in the order it reported them.
std::vector<std::string> DamagedEntries();

// Installs the library the bridge calls; nullptr means that no library is
// available. The default is DefaultLibrary().
void SetLibrary(const UnzipLibrary* library);
// The library built into the program (unzipdll).
const UnzipLibrary& DefaultLibrary();

} // namespace CodeModule

} // namespace jarseal
