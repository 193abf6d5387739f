#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace jarseal {

// Where a package's signed files go with --out DIR: below outDir, the
// package's path below the given PATH (a folder) it was found in, or its
// name alone when the PATH is the package itself. givenPaths are the PATHs
// of the command line in their order; the first that holds the package
// counts, as it does for CollectPackages.
std::string OutputPathOf(const std::string& package, const std::vector<std::string>& givenPaths,
                         const std::string& outDir);

// The reason (one line) when an output path would fall on its package's own
// folder, so that writing it would change the input; nullopt otherwise.
std::optional<std::string> OutputOverInput(const std::string& package, const std::string& outputPath);

// The output paths of all packages of a run, in their order; empty, with
// error set, when one would fall on its package's folder or two packages
// (a suite counts by its name without .jar or .jad) on one output.
std::vector<std::string> OutputPathsOf(const std::vector<std::string>& packages,
                                       const std::vector<std::string>& givenPaths, const std::string& outDir,
                                       std::string& error);

// Runs a package's job on a copy and puts what it signed at outputPath,
// leaving the package and its partner as they are: the package (a suite's
// .jar and .jad, as far as there are) is copied into a hidden folder of the
// output folder, job runs on the copy there (given its path) and returns its
// exit status; on success the signed files (a suite's .jar and .jad, or the
// Symbian package) take their places beside outputPath, else nothing below
// outDir changes. The hidden folder, with whatever the job left in it
// (backups, intermediate files), is removed in either case. Returns the
// job's status, or kExitFailure with error set when the output could not be
// written.
int ProcessIntoOutput(const std::string& package, const std::string& outputPath,
                      const std::function<int(const std::string& copy)>& job, std::string& error);

} // namespace jarseal
