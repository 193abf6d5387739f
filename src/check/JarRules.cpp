#include "check/Rules.h"

#include "common/Text.h"
#include "zip/ZipLimits.h"

#include <algorithm>
#include <set>

namespace jarseal::check {

using zip::MiB;

namespace {

// The findings on the jar's entries: the first damaged one by name, with how
// many more there are, and whether they unpack to more than a jar may.
void ReportEntries(const JarFacts& jar, CheckReport& report) {
    if (!jar.damagedEntries.empty()) {
        std::string text = "jar entry " + Shown(jar.damagedEntries[0]) + ": " + jar.firstDamage;
        if (const std::size_t more = jar.damagedEntries.size() - 1; more > 0)
            text += " (and " + std::to_string(more) +
                    (more == 1 ? " more damaged entry)" : " more damaged entries)");
        report.findings.push_back({InstallerStatus::InvalidJar, text});
    }
    if (jar.tooLarge)
        report.findings.push_back({InstallerStatus::InvalidJar, "the jar's entries unpack to more than " +
                                                                    MiB(zip::kMaxTotalBytes) +
                                                                    "; those after were not tested"});
}

} // namespace

// What is wrong with an entry the unzip could not test: damaged data, or
// more data than it inflates of one entry, which it passed over untested.
std::string DamageOfUnpacked(const JarFacts& jar, const std::string& name) {
    if (jar.oversized.count(name))
        return "larger than the " + MiB(zip::kMaxEntryBytes) +
               " Jarseal unpacks of one entry, so its data could not be checked";
    return "damaged data";
}

// 907 (and 906 for what neither file declares): the jar as an archive, its
// manifest, and the class of every MIDlet the suite declares.
void CheckJarContents(Suite& suite, CheckReport& report) {
    const JarFacts& jar = suite.jar;
    if (!jar.archiveWhy.empty()) {
        report.findings.push_back({InstallerStatus::InvalidJar, "the jar " + jar.archiveWhy});
        return;
    }
    ReportEntries(jar, report);
    if (!jar.manifestWhy.empty()) {
        report.findings.push_back({InstallerStatus::InvalidJar, "the jar " + jar.manifestWhy});
        return;
    }
    suite.manifest = ParseManifest(jar.manifest);
    // The manifest's attributes keep to the rules of the descriptor's: a
    // jar alone gives the suite its attributes, and the job copies them into
    // the descriptor. A suite's own attribute given twice leaves the phone to
    // pick one.
    std::set<std::string> seen;
    for (const auto& [name, value] : suite.manifest) {
        if (HasControlCharacter(value, true))
            report.findings.push_back(
                {InstallerStatus::InvalidJar,
                 "manifest: " + Shown(name) + "'s value holds a control character (a NUL, say)"});
        const bool suites = name.rfind("MIDlet-", 0) == 0 || name.rfind("MicroEdition-", 0) == 0;
        if (suites && !seen.insert(name).second)
            report.findings.push_back(
                {InstallerStatus::InvalidJar, "manifest: " + Shown(name) + " appears twice"});
    }
    NoteEightBitTexts(suite.manifest, "the manifest", report);
    for (const char* name : {"MIDlet-Name", "MIDlet-Version", "MIDlet-Vendor"})
        if (Find(suite.manifest, name) == nullptr)
            report.findings.push_back({InstallerStatus::InvalidJar, std::string("manifest lacks ") + name});
    if (const std::string* version = Find(suite.manifest, "MIDlet-Version"); suite.jarOnly && version)
        CheckVersion("the manifest's MIDlet-Version", *version, InstallerStatus::InvalidJar, report);
    for (const char* name : {"MIDlet-1", "MicroEdition-Profile", "MicroEdition-Configuration"})
        if (suite.Get(name) == nullptr)
            report.findings.push_back({InstallerStatus::InvalidDescriptor,
                                       suite.jarOnly
                                           ? std::string("the manifest lacks ") + name
                                           : std::string("neither descriptor nor manifest has ") + name});
    for (int n = 1; const std::string* midlet = suite.Get("MIDlet-" + std::to_string(n)); ++n) {
        const std::string which = "MIDlet-" + std::to_string(n);
        std::string entry = MidletClass(*midlet);
        if (entry.empty()) {
            report.findings.push_back({InstallerStatus::InvalidJar, which + " names no class"});
            continue;
        }
        std::replace(entry.begin(), entry.end(), '.', '/');
        entry += ".class";
        if (jar.entryNames.count(entry) == 0)
            report.findings.push_back(
                {InstallerStatus::InvalidJar, which + " names the class " + Shown(MidletClass(*midlet)) +
                                                  ", but the jar has no " + Shown(entry)});
    }
}

// 904: the size the descriptor states against the jar's, read as a phone
// reads the number.
void CheckJarSize(const Suite& suite, CheckReport& report) {
    const std::string* text = Find(suite.jad, "MIDlet-Jar-Size");
    std::uint64_t size = 0;
    if (text != nullptr && ReadDecimal(*text, kMaxJarSizeValue, size) && size != suite.jar.size)
        report.findings.push_back(
            {InstallerStatus::JarSizeMismatch,
             "MIDlet-Jar-Size is " + *text + ", the jar has " + std::to_string(suite.jar.size) + " bytes"});
}

} // namespace jarseal::check
