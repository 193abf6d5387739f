#pragma once

#include "common/Context.h"
#include "common/Text.h"
#include "java/JavaPackage.h"

#include <optional>
#include <string>

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
// wrote, adds the permission line and reports the end of the run.
void SignJavaPackage(Context& ctx, const JavaRun& run);

} // namespace jarseal
