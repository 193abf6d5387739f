#pragma once

// The signsis command: sign, unsign and report on Symbian 9 packages, with the
// command line of the SDK tool of that name.

#include <ostream>
#include <string>
#include <vector>

namespace jarseal::signsis {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 4;

// Runs the command with its arguments (without the program name), writing
// every message to out; returns the exit status.
int RunSignSis(const std::vector<std::string>& args, std::ostream& out);

// Writes a file beside its target and renames it over the target, keeping the
// target's permissions; on failure the target is untouched and the error
// text is thrown as SisError.
void WriteFileAtomically(const std::string& path, const std::string& bytes);

} // namespace jarseal::signsis
