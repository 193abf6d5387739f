#pragma once

#include "check/CheckReport.h"

#include <string>
#include <vector>

namespace jarseal {

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

} // namespace jarseal
