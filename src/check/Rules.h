#pragma once

// The check's rules, one file for each step of a phone's installer, and what
// they read of the suite.

#include "check/Attributes.h"
#include "check/CheckReport.h"
#include "check/JarFacts.h"

#include <cstdint>
#include <string>

namespace jarseal::check {

// What a phone reads from the suite, as the check goes on.
struct Suite {
    bool jarOnly = false;   // no descriptor: the manifest alone describes the suite
    Attributes jad;         // empty for a jar-only suite
    std::string lostToMark; // the descriptor's first attribute, lost behind a byte-order mark
    JarFacts jar;
    Attributes manifest;
    // A phone takes an attribute from the descriptor when it has it, else
    // from the manifest.
    const std::string* Get(const std::string& name) const {
        const std::string* value = Find(jad, name);
        return value != nullptr ? value : Find(manifest, name);
    }
    bool Signed() const { return Find(jad, "MIDlet-Jar-RSA-SHA1") || Find(jad, "MIDlet-Certificate-1-1"); }
};

// The largest jar size a phone reads from MIDlet-Jar-Size (a Java int).
constexpr std::uint64_t kMaxJarSizeValue = 0x7FFFFFFF;

// DescriptorRules.cpp (906)
// True when text is a number of decimal digits only (leading zeros allowed,
// as a phone reads it) whose value fits in limit; value receives it.
bool ReadDecimal(const std::string& text, std::uint64_t limit, std::uint64_t& value);

// The findings on a suite's version: a refusal with code when it is not a
// version, a note when a part is over 99.
void CheckVersion(const std::string& which, const std::string& version, InstallerStatus code,
                  CheckReport& report);

// The class a MIDlet-<n> value ("name, icon, class") names; empty when it
// names none.
std::string MidletClass(const std::string& value);

// 906: the descriptor's own attributes: those it must have, and the form of
// the version, the size, the jar's name and the MIDlets it declares.
void CheckDescriptorAttributes(const Suite& suite, const std::string& archivePath, CheckReport& report);

// SignatureRules.cpp (909 and the trust note)
// The signature over the jar and the certificates of chain 1.
void CheckSignature(const Attributes& jad, const Sha1Digest& jarDigest, CheckReport& report);

// JarRules.cpp (907, 904)
// What is wrong with an entry the unzip could not test: damaged data, or
// more data than it inflates of one entry, which it passed over untested.
std::string DamageOfUnpacked(const JarFacts& jar, const std::string& name);

// 907 (and 906 for what neither file declares): the jar as an archive, its
// manifest, and the class of every MIDlet the suite declares.
void CheckJarContents(Suite& suite, CheckReport& report);

// 904: the size the descriptor states against the jar's, read as a phone
// reads the number.
void CheckJarSize(const Suite& suite, CheckReport& report);

// AgreementRules.cpp (905, the 908 note)
// 905: the suite's name, version and vendor in both files, and for a signed
// suite every attribute both carry and the permissions it asks for.
void CheckAttributesAgree(const Suite& suite, CheckReport& report);

// A note for a profile or configuration newer than MIDP 2.0 and CLDC 1.1:
// phones that have only those refuse the suite (908).
void NoteNewerPlatform(const Suite& suite, CheckReport& report);

// PermissionRules.cpp (910): check/PermissionRules.h

} // namespace jarseal::check
