#pragma once

// The signsis command: sign, unsign and report on Symbian 9 packages, with the
// command line of the SDK tool of that name.

#include "SisCrypto.h"
#include "SisFormat.h"

#include <ostream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace jarseal::signsis {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 4;

// Runs the command with its arguments (without the program name), writing
// every message to out; returns the exit status.
int RunSignSis(const std::vector<std::string>& args, std::ostream& out);

// One certificate of a signature chain.
struct CertificateFacts {
    std::string subject, issuer, validity;
    DateProblem dateProblem = DateProblem::None; // whether a phone refuses it today for its dates
    std::string validityProblem;                 // the same in words ("has expired ..."); empty when valid
    bool selfIssued = false;                     // issued by its own key: a root
    std::string der;
};

// One signature chain: its certificates, signer first, and its signatures.
struct ChainReport {
    std::vector<CertificateFacts> certificates;
    bool certificatesRead = true;                         // false when the certificates cannot be read
    std::string certificateError;                         // why, in words; empty when they can
    std::vector<std::pair<std::string, bool>> signatures; // algorithm OID, verifies
    // True when a signature verifies with the signer's key.
    bool Verifies() const;
};

// What a phone's installer weighs in a package, as -o reports it.
struct PackageReport {
    bool damaged = false;        // the package cannot be read
    std::string damage;          // why, in words; empty when it can
    bool bareController = false; // a controller alone, no SISContents (a ROM stub)
    bool noData = false;         // SISData holds no data unit (a stub)
    bool controllerChecksumOk = true, dataChecksumOk = true;
    std::vector<ControllerFacts> controllers; // the package's own first
    std::vector<ChainReport> chains;          // of the package's own controller, in file order
};

// The report on a package file; never throws for a damaged one.
PackageReport ReportOn(std::string_view file);

// Writes a file beside its target (a hidden ".NAME.jarseal-XXXXXX", which
// Jarseal removes when a killed run leaves it) and renames it over the
// target, keeping the target's permissions where the file system keeps
// permissions at all; on failure the target is untouched and the error text
// is thrown as SisError.
void WriteFileAtomically(const std::string& path, const std::string& bytes);

} // namespace jarseal::signsis
