#pragma once

// The check of a Symbian package as a phone's installer makes it, on the
// report value of the signing program's library (never on its printed words).

#include "SignSis.h"
#include "check/SuiteCheck.h"

#include <string>

namespace jarseal {

// Checks a package that is not a MIDlet suite: a Symbian package, or a name
// no phone would install.
CheckReport CheckPackageOtherThanJava(const std::string& path);

// Adds to report what a phone would object to in a Symbian 9 package with
// this report: damage, no signature, a chain that does not verify, a
// certificate out of its dates, and in a self-signed package a protected
// UID or a capability the user cannot grant. Sets the trust.
void JudgeSymbianReport(const signsis::PackageReport& sis, CheckReport& report);

} // namespace jarseal
