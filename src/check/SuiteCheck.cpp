#include "check/SuiteCheck.h"

#include "check/PermissionRules.h"
#include "check/Rules.h"
#include "common/Errors.h"
#include "common/FileSystem.h"
#include "common/Translate.h"

#include <algorithm>

namespace jarseal {

namespace {

using namespace check;

// The check of a suite, in the order of a phone's installer: the descriptor
// (906), the signature (909), the jar and its classes (907), the size (904),
// the attributes the two files share (905), the permissions (910). Like the
// installer, it stops at the first of these that refuses the suite, so the
// code reported is the code the phone shows. descriptorPath is empty for a
// jar-only suite; damagedEntries, when given, stands in for unpacking the
// jar's entries.
CheckReport CheckSuite(const std::string& descriptorPath, const std::string& archivePath,
                       const std::vector<std::string>* damagedEntries) {
    CheckReport report;
    Suite suite;
    suite.jarOnly = descriptorPath.empty();
    if (!suite.jarOnly) {
        std::string jadText;
        try {
            jadText = ReadWholeFile(descriptorPath);
        } catch (const RunError& e) {
            report.findings.push_back({InstallerStatus::InvalidDescriptor,
                                       TrFormat("descriptor cannot be read: {1}", {Tr(e.what())})});
            return report;
        }
        suite.jad = ParseDescriptor(jadText, report, suite.lostToMark);
        CheckDescriptorAttributes(suite, archivePath, report);
        if (report.Refused())
            return report;
    }

    suite.jar = ReadJarFacts(archivePath, damagedEntries == nullptr);
    if (!suite.jar.readError.empty()) {
        report.findings.push_back(
            {InstallerStatus::InvalidJar, TrFormat("jar cannot be read: {1}", {Tr(suite.jar.readError)})});
        return report;
    }
    report.jarSha1.assign(reinterpret_cast<const char*>(suite.jar.sha1.data()), suite.jar.sha1.size());
    if (damagedEntries != nullptr && !damagedEntries->empty()) {
        suite.jar.damagedEntries = *damagedEntries;
        suite.jar.firstDamage = DamageOfUnpacked(suite.jar, damagedEntries->front());
    }
    report.trust = suite.jarOnly    ? SuiteTrust::JarOnly
                   : suite.Signed() ? SuiteTrust::NeedsRoot
                                    : SuiteTrust::Unsigned;
    if (suite.Signed()) {
        CheckSignature(suite.jad, suite.jar.sha1, report);
        if (report.Refused())
            return report;
    }
    CheckJarContents(suite, report);
    if (report.Refused())
        return report;
    CheckJarSize(suite, report);
    if (report.Refused())
        return report;
    CheckAttributesAgree(suite, report);
    if (report.Refused())
        return report;
    CheckPermissions(suite.jad, JARSEAL_N("descriptor: "), report);
    CheckPermissions(suite.manifest, JARSEAL_N("manifest: "), report);
    NoteNewerPlatform(suite, report);
    if (suite.jarOnly)
        report.findings.push_back(
            {InstallerStatus::None, Tr("no descriptor: a phone installs the jar alone as an untrusted suite, "
                                       "from the manifest's attributes")});
    if (!suite.jarOnly && !suite.Signed())
        report.findings.push_back(
            {InstallerStatus::None,
             Tr("no signature: a phone installs the suite as an untrusted suite and asks "
                "before each protected operation")});
    return report;
}

} // namespace

CheckReport CheckJarBeforeSigning(const std::string& archivePath,
                                  const std::vector<std::string>& damagedEntries) {
    CheckReport report;
    Suite suite;
    suite.jar = ReadJarFacts(archivePath, false, Digest::None); // nothing is signed yet
    if (!suite.jar.readError.empty()) {
        report.findings.push_back(
            {InstallerStatus::InvalidJar, TrFormat("jar cannot be read: {1}", {Tr(suite.jar.readError)})});
        return report;
    }
    if (!damagedEntries.empty()) {
        suite.jar.damagedEntries = damagedEntries;
        suite.jar.firstDamage = DamageOfUnpacked(suite.jar, damagedEntries.front());
    }
    CheckReport contents;
    CheckJarContents(suite, contents);
    // Only what the jar itself gets wrong: a descriptor of the user's may
    // still give what the manifest lacks.
    for (Finding& f : contents.findings)
        if (f.code == InstallerStatus::InvalidJar)
            report.findings.push_back(std::move(f));
    return report;
}

bool CheckReport::Refused() const {
    return std::any_of(findings.begin(), findings.end(),
                       [](const Finding& f) { return f.code != InstallerStatus::None; });
}

std::string CheckReport::Verdict() const {
    const auto refusal = std::find_if(findings.begin(), findings.end(),
                                      [](const Finding& f) { return f.code != InstallerStatus::None; });
    if (refusal != findings.end())
        return refusal->code == InstallerStatus::SymbianRefused
                   ? Tr("a phone would refuse it")
                   : TrFormat("a phone would refuse it ({1})", {std::to_string(Number(refusal->code))});
    switch (trust) {
    case SuiteTrust::NeedsRoot:
        return Tr("a phone that holds its root certificate would accept it");
    case SuiteTrust::JarOnly:
        return Tr("a phone would accept it as an untrusted suite");
    case SuiteTrust::Unsigned:
        break;
    }
    return Tr("a phone would accept it");
}

InstallerStatus CheckReport::FirstRefusal() const {
    for (const Finding& f : findings)
        if (f.code != InstallerStatus::None)
            return f.code;
    return InstallerStatus::None;
}

bool CheckReport::Has(InstallerStatus code) const {
    return std::any_of(findings.begin(), findings.end(), [code](const Finding& f) { return f.code == code; });
}

CheckReport CheckJavaSuite(const std::string& descriptorPath, const std::string& archivePath) {
    return CheckSuite(descriptorPath, archivePath, nullptr);
}

CheckReport CheckJavaSuite(const std::string& descriptorPath, const std::string& archivePath,
                           const std::vector<std::string>& damagedEntries) {
    return CheckSuite(descriptorPath, archivePath, &damagedEntries);
}

CheckReport CheckJarOnlySuite(const std::string& archivePath) {
    return CheckSuite("", archivePath, nullptr);
}

} // namespace jarseal
