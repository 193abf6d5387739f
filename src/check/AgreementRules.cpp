#include "check/Rules.h"

#include "common/Translate.h"

#include <cctype>
#include <sstream>

namespace jarseal::check {

// 905: the suite's name, version and vendor in both files, and for a signed
// suite every attribute both carry and the permissions it asks for.
void CheckAttributesAgree(const Suite& suite, CheckReport& report) {
    for (const char* name : {"MIDlet-Name", "MIDlet-Version", "MIDlet-Vendor"}) {
        const std::string* inJad = Find(suite.jad, name);
        const std::string* inManifest = Find(suite.manifest, name);
        if (inJad && inManifest && *inJad != *inManifest)
            report.findings.push_back(
                {InstallerStatus::AttributeMismatch,
                 TrFormat("{1} differs: descriptor \"{2}\", manifest \"{3}\"", {name, *inJad, *inManifest})});
    }
    if (!suite.Signed())
        return;
    // The descriptor of a signed suite may repeat the manifest's attributes
    // but not change them.
    for (const auto& [name, value] : suite.jad) {
        if (name == "MIDlet-Name" || name == "MIDlet-Version" || name == "MIDlet-Vendor")
            continue; // reported above
        const std::string* inManifest = Find(suite.manifest, name);
        if (inManifest && *inManifest != value)
            report.findings.push_back(
                {InstallerStatus::AttributeMismatch,
                 TrFormat("{1} differs between descriptor and manifest of a signed suite", {name})});
    }
    // The permissions it asks for must also be the signed ones: a permission
    // attribute only the descriptor carries is refused.
    for (const char* name : {"MIDlet-Permissions", "MIDlet-Permissions-Opt"})
        if (Find(suite.jad, name) && !Find(suite.manifest, name))
            report.findings.push_back(
                {InstallerStatus::AttributeMismatch, TrFormat("{1} is in the descriptor of a signed suite "
                                                              "but not in its manifest",
                                                              {name})});
}

// A note for a profile or configuration newer than MIDP 2.0 and CLDC 1.1:
// phones that have only those refuse the suite (908).
void NoteNewerPlatform(const Suite& suite, CheckReport& report) {
    const struct {
        const char* attribute;
        const char* family;
        int newest; // the newest version older phones have, times ten
    } platforms[] = {{"MicroEdition-Profile", "MIDP-", 20}, {"MicroEdition-Configuration", "CLDC-", 11}};
    for (const auto& platform : platforms) {
        const std::string* value = suite.Get(platform.attribute);
        if (value == nullptr)
            continue;
        std::istringstream words(*value);
        for (std::string word; words >> word;) {
            const std::string family = platform.family;
            if (word.rfind(family, 0) != 0 || word.size() != family.size() + 3 ||
                word[family.size() + 1] != '.')
                continue;
            const char major = word[family.size()];
            const char minor = word[family.size() + 2];
            if (!std::isdigit(static_cast<unsigned char>(major)) ||
                !std::isdigit(static_cast<unsigned char>(minor)))
                continue;
            if ((major - '0') * 10 + (minor - '0') > platform.newest)
                report.findings.push_back(
                    {InstallerStatus::None, TrFormat("{1} {2}: phones with {3} only refuse the suite (908)",
                                                     {platform.attribute, word,
                                                      family + std::to_string(platform.newest / 10) + "." +
                                                          std::to_string(platform.newest % 10)})});
        }
    }
}

} // namespace jarseal::check
