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
    // True when a phone would refuse the package (a finding with a code).
    bool Refused() const;
    bool Has(int code) const;
    // One line on what a phone would do with the package: refuse it (with
    // the first code), or accept it and on what terms.
    std::string Verdict() const;
};

// Checks a MIDlet suite as a phone's installer would, in its order, and
// stops where the installer stops: the descriptor's syntax (strictly), its
// mandatory attributes and their form (906); the signature and its
// certificates (909); the jar's records, every entry's data (unpacked and
// checked against its size and CRC, within the unzip's limits), the manifest
// and the class of every MIDlet (907); the jar's size (904); the attributes
// the manifest shares (905); the permission names (910). Notes say which
// root a signed suite needs and what older phones refuse.
CheckReport CheckJavaSuite(const std::string& descriptorPath, const std::string& archivePath);

// The same check for a jar whose entries the caller has just unpacked and
// tested: the entries are not unpacked again, and damagedEntries (the names
// of those that failed, in archive order; empty when all were sound) stand in
// for their test. The jar's records are still checked.
CheckReport CheckJavaSuite(const std::string& descriptorPath, const std::string& archivePath,
                           const std::vector<std::string>& damagedEntries);

// What a phone would refuse of a suite that its jar alone shows, before a
// descriptor is made for it: the jar's records and the names of its local
// headers, the entries (damagedEntries, the names of those unpacking found
// damaged, stand in for their test), the manifest's name, version and vendor,
// and the class of every MIDlet the manifest declares (907).
CheckReport CheckJarBeforeSigning(const std::string& archivePath,
                                  const std::vector<std::string>& damagedEntries);

// Checks a jar that comes without a descriptor, as a phone installs it: from
// its manifest alone, untrusted.
CheckReport CheckJarOnlySuite(const std::string& archivePath);

// Checks any package by its name: a .jad or .jar with its partner (a .jar
// alone when there is no .jad beside it), else as CheckPackageOtherThanJava
// (check/SisCheck.h).
CheckReport CheckPackage(const std::string& path);

// True for a name a descriptor may give an attribute: letters, digits, "-"
// and "_" only.
bool ValidAttributeName(const std::string& name);

// The permission names a MIDP 2.0 phone knows (the standard ones and those of
// the common optional packages).
bool KnownPermissionName(const std::string& name);

} // namespace jarseal
