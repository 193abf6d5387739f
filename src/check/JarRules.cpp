#include "check/Rules.h"

#include "common/Text.h"
#include "common/Translate.h"
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
        std::string text = TrFormat("jar entry {1}: {2}", {Shown(jar.damagedEntries[0]), jar.firstDamage});
        if (const std::size_t more = jar.damagedEntries.size() - 1; more > 0)
            text += TrFormat(more == 1 ? " (and {1} more damaged entry)" : " (and {1} more damaged entries)",
                             {std::to_string(more)});
        report.findings.push_back({InstallerStatus::InvalidJar, text});
    }
    if (jar.tooLarge)
        report.findings.push_back(
            {InstallerStatus::InvalidJar, TrFormat("the jar's entries unpack to more than {1}; those after "
                                                   "were not tested",
                                                   {MiB(zip::kMaxTotalBytes)})});
}

} // namespace

// What is wrong with an entry the unzip could not test: damaged data, or
// more data than it inflates of one entry, which it passed over untested.
std::string DamageOfUnpacked(const JarFacts& jar, const std::string& name) {
    if (jar.oversized.count(name))
        return TrFormat("larger than the {1} Jarseal unpacks of one entry, so its data could not be checked",
                        {MiB(zip::kMaxEntryBytes)});
    return Tr("damaged data");
}

// 907 (and 906 for what neither file declares): the jar as an archive, its
// manifest, and the class of every MIDlet the suite declares.
void CheckJarContents(Suite& suite, CheckReport& report) {
    const JarFacts& jar = suite.jar;
    if (!jar.archiveWhy.empty()) {
        report.findings.push_back({InstallerStatus::InvalidJar, TrFormat("the jar {1}", {jar.archiveWhy})});
        return;
    }
    ReportEntries(jar, report);
    if (!jar.manifestWhy.empty()) {
        report.findings.push_back({InstallerStatus::InvalidJar, TrFormat("the jar {1}", {jar.manifestWhy})});
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
                 TrFormat("manifest: {1}'s value holds a control character (a NUL, say)", {Shown(name)})});
        const bool suites = name.rfind("MIDlet-", 0) == 0 || name.rfind("MicroEdition-", 0) == 0;
        if (suites && !seen.insert(name).second)
            report.findings.push_back(
                {InstallerStatus::InvalidJar, TrFormat("manifest: {1} appears twice", {Shown(name)})});
    }
    NoteEightBitTexts(suite.manifest, JARSEAL_N("the manifest"), report);
    for (const char* name : {"MIDlet-Name", "MIDlet-Version", "MIDlet-Vendor"})
        if (Find(suite.manifest, name) == nullptr)
            report.findings.push_back({InstallerStatus::InvalidJar, TrFormat("manifest lacks {1}", {name})});
    if (const std::string* version = Find(suite.manifest, "MIDlet-Version"); suite.jarOnly && version)
        CheckVersion("the manifest's MIDlet-Version", *version, InstallerStatus::InvalidJar, report);
    for (const char* name : {"MIDlet-1", "MicroEdition-Profile", "MicroEdition-Configuration"})
        if (suite.Get(name) == nullptr)
            report.findings.push_back({InstallerStatus::InvalidDescriptor,
                                       suite.jarOnly
                                           ? TrFormat("the manifest lacks {1}", {name})
                                           : TrFormat("neither descriptor nor manifest has {1}", {name})});
    for (int n = 1; const std::string* midlet = suite.Get("MIDlet-" + std::to_string(n)); ++n) {
        const std::string which = "MIDlet-" + std::to_string(n);
        std::string entry = MidletClass(*midlet);
        if (entry.empty()) {
            report.findings.push_back({InstallerStatus::InvalidJar, TrFormat("{1} names no class", {which})});
            continue;
        }
        std::replace(entry.begin(), entry.end(), '.', '/');
        entry += ".class";
        if (jar.entryNames.count(entry) == 0)
            report.findings.push_back(
                {InstallerStatus::InvalidJar, TrFormat("{1} names the class {2}, but the jar has no {3}",
                                                       {which, Shown(MidletClass(*midlet)), Shown(entry)})});
    }
}

// 904: the size the descriptor states against the jar's, read as a phone
// reads the number.
void CheckJarSize(const Suite& suite, CheckReport& report) {
    const std::string* text = Find(suite.jad, "MIDlet-Jar-Size");
    std::uint64_t size = 0;
    if (text != nullptr && ReadDecimal(*text, kMaxJarSizeValue, size) && size != suite.jar.size)
        report.findings.push_back(
            {InstallerStatus::JarSizeMismatch, TrFormat("MIDlet-Jar-Size is {1}, the jar has {2} bytes",
                                                        {*text, std::to_string(suite.jar.size)})});
}

} // namespace jarseal::check
