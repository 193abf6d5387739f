#pragma once

#include "common/Context.h"

#include <string>

namespace jarseal {

// The signing program's command line for a package, with the four "Symbian"
// settings read at this moment: program, input and output (the package
// itself), certificate, key and passphrase. An empty "SignSIS" setting means
// the bundled program, data/signsis in the program folder.
std::string SignSisCommandLine(const Context& ctx, const std::string& path);

// Signs a Symbian package in place with the signing program of the settings,
// after a one-time backup (the package name followed by ".original").
void SignSymbianPackage(Context& ctx, const std::string& path);

} // namespace jarseal
