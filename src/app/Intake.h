#pragma once

#include "check/CheckReport.h"
#include "common/Context.h"

#include <string>
#include <vector>

namespace jarseal {

// The extension of a path: from the last "." of the whole text to its end,
// the dot included; empty when the text has no ".".
std::string PackageExtension(const std::string& path);

// Hands a package to its job by the exact extension (".jar"/".jad" to the
// Java job, ".sis"/".sisx" to Symbian signing); anything else is refused.
void OpenPackage(Context& ctx, const std::string& path);

// The check of --check, dispatched by extension as OpenPackage dispatches
// a job: a .jad or .jar with its partner (a .jar alone when there is no .jad
// beside it), else as CheckPackageOtherThanJava (symbian/SisCheck.h).
CheckReport CheckPackage(const std::string& path);

// The Open command: the open-file dialog, then OpenPackage with the choice.
void OpenCommand(Context& ctx);

// A drop of files: only the first goes to OpenPackage; no files, nothing.
void DropFiles(Context& ctx, const std::vector<std::string>& files);

// The command-line text: the arguments after the program's name joined by
// single blanks (the shell has already removed any quotes).
std::string CommandLineText(int argc, const char* const* argv);

// Hands the command-line text to the intake as start-up does: trimmed of
// blanks at both ends; a text without any "." is ignored; a relative path
// is made absolute against the current folder first.
void OpenCommandLinePackage(Context& ctx);

} // namespace jarseal
