#pragma once

// The working folder's hidden files, which the job's unpacking must not
// leave behind. The suite's paths, the scan of its manifest, its first
// descriptor and the clearing of the working folder are declared in
// java/JavaPackage.h and made in SuiteFiles.cpp.

#include <set>
#include <string>

namespace jarseal {

// The hidden files of the working folder, which ClearWorkDir leaves alone.
std::set<std::string> HiddenFiles(const std::string& dir);

// Removes the hidden files an archive brought into the working folder (an
// entry such as "META-INF/.x" lands there as ".x"), and the unpacker's own
// part-written files a killed run may have left; hidden files that were
// there before the run stay, as ClearWorkDir leaves them.
void RemoveUnpackedHiddenFiles(const std::string& workDir, const std::set<std::string>& before);


} // namespace jarseal
