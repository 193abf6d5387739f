#pragma once

// What the check finds in a package: its findings, each with the status a
// phone's installer would report, and whom a phone trusts for it.

#include "check/InstallerStatus.h"

#include <string>
#include <vector>

namespace jarseal {

// One thing a phone's installer would object to, with the status the phone
// would report (check/InstallerStatus.h), or InstallerStatus::None for a note
// that does not stop installation.
struct Finding {
    InstallerStatus code;
    std::string text;
    bool operator==(const Finding&) const = default;
};

// Whom a phone trusts for a package that it accepts.
enum class SuiteTrust {
    Unsigned,  // installs untrusted: the phone asks before protected operations
    NeedsRoot, // signed: installs only on a phone that holds the signer's root
    JarOnly,   // a jar without a descriptor: installs untrusted
};

// The findings of one package.
struct CheckReport {
    std::vector<Finding> findings;
    SuiteTrust trust = SuiteTrust::Unsigned;
    // The note (also among the findings) on the root a phone must hold for a
    // signed suite; empty when there is none.
    std::string rootNote;
    // The jar's SHA-1 digest (20 bytes) as the check read the jar; empty
    // when it did not read the whole jar.
    std::string jarSha1;
    // True when a phone would refuse the package (a finding with a code).
    bool Refused() const;
    bool Has(InstallerStatus code) const;
    // The status of the first finding a phone would refuse for; None when none.
    InstallerStatus FirstRefusal() const;
    // One line on what a phone would do with the package: refuse it (with
    // the first code), or accept it and on what terms.
    std::string Verdict() const;
};

} // namespace jarseal
