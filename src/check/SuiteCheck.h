#pragma once

#include "common/FileSystem.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
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
// attributes the manifest shares, the signature and its certificates, and the
// permission names.
CheckReport CheckJavaSuite(const std::string& descriptorPath, const std::string& archivePath);

// What the check of a suite takes from its jar, read in one pass: the size,
// the manifest and the SHA-1 digest of the whole file. On a large suite this
// is nearly all of the check's work, and it needs nothing but the jar.
struct JarFacts {
    std::string readError; // why the jar cannot be read; empty when it was read
    std::uint64_t size = 0;
    std::string manifest;    // the text of META-INF/MANIFEST.MF
    std::string manifestWhy; // why there is no manifest to check; empty when there is
    std::array<unsigned char, 20> sha1{};
    FileStamp stamp; // the jar as it was read
};
JarFacts ReadJarFacts(const std::string& archivePath);

// The same check with the jar's facts from jarFacts, asked for only once the
// descriptor has been read.
CheckReport CheckJavaSuite(const std::string& descriptorPath, const std::string& archivePath,
                           const std::function<JarFacts()>& jarFacts);

// A jar's facts read ahead on a thread of its own at the lowest priority, so
// that the work fills time the caller spends waiting on other programs (the
// JAD tool runs, which only read the jar) without slowing them.
class JarFactsAhead {
  public:
    explicit JarFactsAhead(std::string archivePath);
    JarFactsAhead(const JarFactsAhead&) = delete;
    JarFactsAhead& operator=(const JarFactsAhead&) = delete;
    // Asks the reading to stop; the thread ends on its own.
    ~JarFactsAhead();
    // The facts of the jar as it is now: those read ahead when the reading
    // has ended and the jar has not changed since, otherwise read here and
    // now. Call once.
    JarFacts Take();

  private:
    struct Reading; // shared with the thread, which may outlive this object
    std::shared_ptr<Reading> reading_;
};

// Checks a package that is not a MIDlet suite: a Symbian package, or a name
// no phone would install.
CheckReport CheckPackageOtherThanJava(const std::string& path);

// The permission names a MIDP 2.0 phone knows (the standard ones and those of
// the common optional packages).
bool KnownPermissionName(const std::string& name);

} // namespace jarseal
