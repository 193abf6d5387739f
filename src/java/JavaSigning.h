#pragma once

#include "check/SuiteCheck.h"
#include "common/Context.h"
#include "common/Text.h"
#include "java/JavaPackage.h"

#include <optional>
#include <string>
#include <vector>

namespace jarseal {

// The intermediate descriptor the first JAD tool run writes.
inline constexpr const char* kTempJadName = "temp.jad";

// The two JAD tool command lines, with the settings read at this moment:
// the first adds the signer's certificate into temp.jad, the second adds the
// archive's signature back into the descriptor.
std::string AddCertCommandLine(const Context& ctx, const JavaPaths& paths);
std::string AddJarSigCommandLine(const Context& ctx, const JavaPaths& paths);

// What the signing stage appends to the signed descriptor for the chosen
// permission mode: the composed line, the manifest's own permission lines
// (manifestPermissionText) or nothing; nullopt when the mode leaves the
// descriptor as the JAD tool wrote it.
std::optional<std::string> PermissionAppendix(const Context& ctx, const std::string& manifestPermissionText);

// The second stage of the Java job: signs the descriptor the first stage
// wrote and adds the permission line (ctx.unsignedSuite: only the line, the
// JAD tool is not run). Returns how the job ends when the JAD
// tool gave no result (the descriptor is then the first stage's).
std::optional<JobFailure> SignJavaPackage(Context& ctx, const JavaRun& run);

// What a phone would show for each refusal of the check, in the words of the
// installer's status code with the check's own detail, after a heading.
std::string RefusalText(const std::string& heading, const CheckReport& report);

// Checks the signed suite as a phone's installer would; damagedEntries are
// the jar's entries that unpacking found damaged (the check does not inflate
// them again). Returns how the job ends when a phone would refuse the suite;
// when it would not, the check's notes (which root the phone needs, what
// older phones refuse) go to the user interface's notes. jarSha1, when
// given, receives the jar's SHA-1 as the check read it.
std::optional<JobFailure> CheckSignedSuite(UserInterface& ui, const JavaPaths& paths,
                                           const std::vector<std::string>& damagedEntries,
                                           std::string* jarSha1 = nullptr);

} // namespace jarseal
