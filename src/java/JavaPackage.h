#pragma once

#include "check/Attributes.h"
#include "common/Context.h"
#include "common/Manifest.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace jarseal {

// The files of one suite, all derived from the path the intake was given.
struct JavaPaths {
    std::string archive;            // ...game.jar
    std::string descriptor;         // ...game.jad
    std::string backup;             // ...game.jad.original
    std::string archiveBackup;      // ...game.jar.original, made before the jar is rewritten
    std::string fileName;           // the given name after the last separator
    std::string archiveFileName;    // game.jar
    std::string descriptorFileName; // game.jad
    std::string packageFolder;      // the folder, ending in a separator
};

// Derives the suite's paths from a path ending in ".jar" or ".jad" (its last
// character is replaced). A path without a folder separator throws RunError 5.
JavaPaths DeriveJavaPaths(const std::string& path);

// The largest manifest the pipeline reads is kMaxManifestBytes
// (check/Attributes.h).

// What the scan of the manifest keeps for the descriptor.
struct ManifestScan {
    std::string body;           // taken-over attribute lines, each ending in CR LF
    std::string permissionText; // permission attribute lines, each ending in CR LF
};
ManifestScan ScanManifest(const std::vector<std::string>& lines);

// The first descriptor: the archive URL and size, the taken-over lines and a
// final empty line, all with CR LF line ends.
std::string FirstDescriptor(const std::string& archiveFileName, std::uint64_t archiveSize,
                            const std::string& body);

// Deletes the ordinary files of the working folder. Hidden files, subfolders
// and files without write permission stay; every failure is ignored.
void ClearWorkDir(const std::string& workDir);

// What the first stage hands to the signing stage.
struct JavaRun {
    JavaPaths paths;
    std::string workDir;
    // What the signed descriptor gets appended for the permission mode
    // (PermissionAppendix), computed once so that the jar's manifest is made
    // to agree with the very text the descriptor gets; nullopt: nothing.
    std::optional<std::string> permissions;
};

// How a job ends that does not end in its success message: the message, its
// icon and the exit status.
// Its reason's stable key and the installer's code go to Context::outcome.
struct JobFailure {
    std::string text;
    MessageIcon icon = MessageIcon::Stop;
    int status = kExitFailure;
    std::string reason{};
    int installerCode = 0;
};

// Unpacks the suite, writes a fresh descriptor next to it from the manifest
// and hands over to the signing stage. Shows its own messages; ends the
// program as the command-line rule and the error policy say.
void ProcessJavaPackage(Context& ctx, const std::string& path);

} // namespace jarseal
