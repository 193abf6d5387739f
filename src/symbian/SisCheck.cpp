#include "symbian/SisCheck.h"

#include "common/Errors.h"
#include "common/FileSystem.h"
#include "common/ToolReasons.h"
#include "common/Translate.h"

#include <cstdio>

namespace jarseal {

namespace {

constexpr std::uint32_t kUid1Symbian9 = 0x10201A7A;

// A phone's capabilities in the order of their bits.
constexpr const char* kCapabilityNames[] = {
    "TCB",
    "CommDD",
    "PowerMgmt",
    "MultimediaDD",
    "ReadDeviceData",
    "WriteDeviceData",
    "DRM",
    "TrustedUI",
    "ProtServ",
    "DiskAdmin",
    "NetworkControl",
    "AllFiles",
    "SwEvent",
    "NetworkServices",
    "LocalServices",
    "ReadUserData",
    "WriteUserData",
    "Location",
    "SurroundingsDD",
    "UserEnvironment",
};
// The capabilities a phone lets its user grant to a package it does not trust.
constexpr std::uint32_t kUserGrantable = 1u << 13 | 1u << 14 | 1u << 15 | 1u << 16 | 1u << 17 | 1u << 19;

const char* const kAcceptedUids =
    JARSEAL_N("a self-signed package needs an unprotected UID: one from 0xA0000000 to "
              "0xAFFFFFFF (or from 0xE0000000 to 0xEFFFFFFF for tests)");
const char* const kAcceptedCapabilities = JARSEAL_N(
    "a self-signed package may ask only for LocalServices, Location, NetworkServices, ReadUserData, "
    "UserEnvironment and WriteUserData; the others need a package signed through Symbian Signed");

std::string Hex(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", value);
    return text;
}

// The names of the capabilities of sets that a user cannot grant.
std::string SystemCapabilities(const std::vector<std::uint32_t>& sets) {
    std::string names;
    for (std::size_t set = 0; set < sets.size(); ++set) {
        const std::uint32_t bits = set == 0 ? sets[0] & ~kUserGrantable : sets[set];
        for (unsigned bit = 0; bit < 32; ++bit) {
            if (!(bits >> bit & 1u))
                continue;
            const std::size_t index = set * 32 + bit;
            names += names.empty() ? "" : ", ";
            names += index < std::size(kCapabilityNames)
                         ? std::string(kCapabilityNames[index])
                         : TrFormat("capability {1}", {std::to_string(index)});
        }
    }
    return names;
}

// A UID without its top bit is protected: a phone gives it only to packages
// signed to a root it trusts.
bool ProtectedUid(std::uint32_t uid) {
    return (uid & 0x80000000u) == 0;
}

// True when every chain ends in a certificate issued by its own key: the
// package brings its own root, which a phone does not trust for it.
bool SelfSigned(const signsis::PackageReport& sis) {
    for (const signsis::ChainReport& chain : sis.chains)
        if (!chain.certificates.empty() && !chain.certificates.back().selfIssued)
            return false;
    return true;
}

void AddChainFindings(const signsis::PackageReport& sis, CheckReport& report) {
    for (std::size_t i = 0; i < sis.chains.size(); ++i) {
        const signsis::ChainReport& chain = sis.chains[i];
        const std::string name = TrFormat("chain {1}", {std::to_string(i + 1)});
        if (!chain.certificates.empty()) {
            const signsis::CertificateFacts& signer = chain.certificates.front();
            report.findings.push_back(
                {InstallerStatus::None, TrFormat("{1}: signed by {2} (issuer {3}, valid {4})",
                                                 {name, signer.subject, signer.issuer, signer.validity}) +
                                            (chain.Verifies() ? "" : Tr(", the signature does not verify"))});
        }
        if (!chain.certificatesRead)
            report.findings.push_back({InstallerStatus::SymbianRefused,
                                       name + ": " + TranslatedToolReason(chain.certificateError)});
        if (!chain.Verifies())
            report.findings.push_back(
                {InstallerStatus::SymbianRefused, name + Tr(": its signature does not verify")});
        // A certificate outside its validity dates makes a phone refuse the package.
        for (const signsis::CertificateFacts& cert : chain.certificates)
            if (cert.dateProblem != signsis::DateProblem::None)
                report.findings.push_back({InstallerStatus::SymbianRefused,
                                           TrFormat("{1}: the certificate {2} {3}",
                                                    {name, cert.subject, Tr(cert.validityProblem)})});
    }
}

// What a phone refuses in a package it does not trust: a protected UID, and
// capabilities beyond those its user may grant.
void AddTrustFindings(const signsis::PackageReport& sis, CheckReport& report) {
    const bool selfSigned = SelfSigned(sis);
    report.trust = selfSigned ? SuiteTrust::Unsigned : SuiteTrust::NeedsRoot;
    if (selfSigned)
        report.findings.push_back({InstallerStatus::None,
                                   Tr("self-signed: a phone warns that the supplier is not trusted before it "
                                      "installs the package, and grants it only what a user may grant")});
    for (const signsis::ControllerFacts& c : sis.controllers) {
        // An embedded package with its own signatures is judged by them.
        if (c.embedded && c.chains > 0)
            continue;
        const std::string whose =
            c.embedded ? TrFormat("the embedded package {1}", {Hex(c.uid)}) : Tr("the package");
        const std::string capabilities = SystemCapabilities(c.capabilities);
        if (selfSigned || c.embedded) {
            if (ProtectedUid(c.uid))
                report.findings.push_back({InstallerStatus::SymbianRefused,
                                           TrFormat("{1}: UID {2} is protected, and a phone refuses it "
                                                    "unless the package is signed to a root it trusts; ",
                                                    {whose, Hex(c.uid)}) +
                                               Tr(kAcceptedUids)});
            if (!capabilities.empty())
                report.findings.push_back(
                    {InstallerStatus::SymbianRefused,
                     TrFormat("{1}: its files ask for {2}, which a phone grants no self-signed package "
                              "(\"Required application access not granted\"); ",
                              {whose, capabilities}) +
                         Tr(kAcceptedCapabilities)});
        } else if (ProtectedUid(c.uid) || !capabilities.empty()) {
            report.findings.push_back(
                {InstallerStatus::None,
                 whose + ": " +
                     (ProtectedUid(c.uid) ? TrFormat("its UID {1} is protected", {Hex(c.uid)})
                                          : std::string()) +
                     (ProtectedUid(c.uid) && !capabilities.empty() ? Tr(" and ") : "") +
                     (capabilities.empty() ? std::string()
                                           : TrFormat("its files ask for {1}", {capabilities})) +
                     Tr(": a phone installs it only when the root of its chain is one the phone trusts for "
                        "that")});
        }
    }
}

} // namespace

void JudgeSymbianReport(const signsis::PackageReport& sis, CheckReport& report) {
    if (sis.damaged) {
        report.findings.push_back({InstallerStatus::SymbianRefused, TranslatedToolReason(sis.damage)});
        return;
    }
    if (!sis.controllerChecksumOk)
        report.findings.push_back(
            {InstallerStatus::None, Tr("the controller checksum is stale (phones do not check it)")});
    if (!sis.dataChecksumOk)
        report.findings.push_back(
            {InstallerStatus::None, Tr("the data checksum is stale (phones do not check it)")});
    if (sis.bareController)
        report.findings.push_back(
            {InstallerStatus::None, Tr("a bare controller (a ROM stub): it holds no file data")});
    if (sis.noData)
        report.findings.push_back(
            {InstallerStatus::None, Tr("a stub with no file data: a phone takes its files from where they "
                                       "already are, so their hashes were not checked")});
    if (sis.chains.empty()) {
        report.findings.push_back({InstallerStatus::SymbianRefused,
                                   Tr("is not signed: Symbian 9 phones install only signed packages")});
        return;
    }
    AddChainFindings(sis, report);
    AddTrustFindings(sis, report);
}

CheckReport CheckPackageOtherThanJava(const std::string& path) {
    CheckReport report;
    std::string file;
    try {
        file = ReadWholeFile(path);
    } catch (const RunError& e) {
        report.findings.push_back(
            {InstallerStatus::SymbianRefused, TrFormat("cannot be read: {1}", {Tr(e.what())})});
        return report;
    }
    if (file.size() < 16) {
        report.findings.push_back(
            {InstallerStatus::SymbianRefused, Tr("is too short to be a Symbian package")});
        return report;
    }
    const auto uid = [&](std::size_t i) { return signsis::GetU32(file, i * 4); };
    const std::string uids = "UID1 " + Hex(uid(0)) + ", UID2 " + Hex(uid(1)) + ", UID3 " + Hex(uid(2));
    if (uid(0) != kUid1Symbian9) {
        const bool legacy = uid(2) == 0x10000419 && (uid(1) == 0x1000006D || uid(1) == 0x10003A12);
        if (legacy)
            report.findings.push_back(
                {InstallerStatus::None,
                 TrFormat("legacy (pre-Symbian 9) package, {1}: installs on older phones "
                          "only, and is not signed",
                          {uids})});
        else
            report.findings.push_back(
                {InstallerStatus::SymbianRefused, TrFormat("is no Symbian package ({1})", {uids})});
        return report;
    }
    report.findings.push_back({InstallerStatus::None, TrFormat("Symbian 9 package, {1}", {uids})});
    JudgeSymbianReport(signsis::ReportOn(file), report);
    return report;
}

} // namespace jarseal
