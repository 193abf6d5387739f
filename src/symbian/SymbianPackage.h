#pragma once

#include "common/Context.h"

#include <string>

namespace jarseal {

// The signing program's command line, with the four "Symbian" settings read
// at this moment: program, input, output, certificate, key and passphrase. An
// empty "SignSIS" setting means the bundled program, data/signsis in the
// program folder.
std::string SignSisCommandLine(const Context& ctx, const std::string& input, const std::string& output);

// Signs a Symbian package with the signing program of the settings. The
// program writes beside the package; the result takes the package's place
// only when a phone would install it, after a one-time backup (the package
// name followed by ".original"). Signing again replaces the chains this run's
// certificate made last (ctx.resignSymbian: every chain) instead of stacking
// another. A job that fails leaves the package and its backup as they were.
void SignSymbianPackage(Context& ctx, const std::string& path);

} // namespace jarseal
