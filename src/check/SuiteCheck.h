#pragma once

#include <string>
#include <vector>

namespace jarseal {

// One thing a phone's installer would object to, with the status code the
// phone would report (906 invalid descriptor, 904 jar size mismatch, 905
// attribute mismatch, 907 invalid jar, 909 authentication failure, 910
// authorization failure), or 0 for a note that does not stop installation.
struct Finding {
    int code;
    std::string text;
    bool operator==(const Finding&) const = default;
};

// The code of a finding that makes a phone refuse a Symbian package (their
// installers show no numbers).
inline constexpr int kSisRefused = 1;

// The findings of one package.
struct CheckReport {
    std::vector<Finding> findings;
    // True when a phone would refuse the package (a finding with a code).
    bool Refused() const;
    bool Has(int code) const;
};

// Checks a MIDlet suite as a phone's installer would: the descriptor's
// syntax (strictly), its mandatory attributes, the jar's size and URL, the
// jar's records and every entry's data (unpacked and checked against its
// size and CRC, within the unzip's limits), the attributes the manifest
// shares, the signature and its certificates, and the permission names.
CheckReport CheckJavaSuite(const std::string& descriptorPath, const std::string& archivePath);

// The same check for a jar whose entries the caller has just unpacked and
// tested: the entries are not unpacked again, and damagedEntries (the names
// of those that failed, in archive order; empty when all were sound) stand in
// for their test. The jar's records are still checked.
CheckReport CheckJavaSuite(const std::string& descriptorPath, const std::string& archivePath,
                           const std::vector<std::string>& damagedEntries);

// Checks a package that is not a MIDlet suite: a Symbian package, or a name
// no phone would install.
CheckReport CheckPackageOtherThanJava(const std::string& path);

// The permission names a MIDP 2.0 phone knows (the standard ones and those of
// the common optional packages).
bool KnownPermissionName(const std::string& name);

} // namespace jarseal
