#include "check/Rules.h"

#include "common/FileSystem.h"
#include "common/Text.h"
#include "common/Translate.h"

#include <algorithm>

namespace jarseal::check {

namespace {

// The dot-separated parts of a version.
std::vector<std::string> VersionParts(const std::string& version) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (true) {
        const auto dot = version.find('.', start);
        parts.push_back(version.substr(start, dot == std::string::npos ? dot : dot - start));
        if (dot == std::string::npos)
            return parts;
        start = dot + 1;
    }
}

// A suite version as a phone reads it: one to three numbers of decimal
// digits, separated by dots.
bool ValidVersion(const std::string& version) {
    const std::vector<std::string> parts = VersionParts(version);
    return parts.size() <= 3 && std::all_of(parts.begin(), parts.end(), [](const std::string& part) {
               return !part.empty() &&
                      std::all_of(part.begin(), part.end(), [](char c) { return c >= '0' && c <= '9'; });
           });
}

// True when a part of a valid version is over 99: the phone reads the
// number, but some phones keep to the rule of 0 to 99 and refuse it.
bool VersionPartOver99(const std::string& version) {
    const std::vector<std::string> parts = VersionParts(version);
    return std::any_of(parts.begin(), parts.end(), [](const std::string& part) {
        const auto digits = part.find_first_not_of('0');
        return digits != std::string::npos && part.size() - digits > 2;
    });
}

} // namespace

// True when text is a number of decimal digits only (leading zeros allowed,
// as a phone reads it) whose value fits in limit; value receives it.
bool ReadDecimal(const std::string& text, std::uint64_t limit, std::uint64_t& value) {
    if (text.empty())
        return false;
    value = 0; // limit keeps it far from overflowing
    for (const char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
        if (value > limit)
            return false;
    }
    return true;
}

// The findings on a suite's version: a refusal with code when it is not a
// version, a note when a part is over 99.
void CheckVersion(const std::string& which, const std::string& version, InstallerStatus code,
                  CheckReport& report) {
    if (!ValidVersion(version))
        report.findings.push_back({code, TrFormat("{1} \"{2}\" is not a version (at most three numbers, "
                                                  "separated by dots)",
                                                  {Tr(which), version})});
    else if (VersionPartOver99(version))
        report.findings.push_back(
            {InstallerStatus::None,
             TrFormat("{1} \"{2}\": some phones refuse version parts over 99", {Tr(which), version})});
}

// The class a MIDlet-<n> value ("name, icon, class") names; empty when it
// names none.
std::string MidletClass(const std::string& value) {
    const auto first = value.find(',');
    const auto second = first == std::string::npos ? first : value.find(',', first + 1);
    if (second == std::string::npos)
        return {};
    return TrimBlanksAndTabs(value.substr(second + 1));
}

// 906: the descriptor's own attributes: those it must have, and the form of
// the version, the size, the jar's name and the MIDlets it declares.
void CheckDescriptorAttributes(const Suite& suite, const std::string& archivePath, CheckReport& report) {
    const Attributes& jad = suite.jad;
    for (const char* name : kRequiredInDescriptor)
        if (Find(jad, name) == nullptr && name != suite.lostToMark) // that one is reported lost
            report.findings.push_back(
                {InstallerStatus::InvalidDescriptor, TrFormat("descriptor lacks {1}", {name})});
    if (const std::string* version = Find(jad, "MIDlet-Version"))
        CheckVersion("MIDlet-Version", *version, InstallerStatus::InvalidDescriptor, report);
    std::uint64_t size = 0;
    if (const std::string* text = Find(jad, "MIDlet-Jar-Size");
        text && !ReadDecimal(*text, kMaxJarSizeValue, size))
        report.findings.push_back(
            {InstallerStatus::InvalidDescriptor, TrFormat("MIDlet-Jar-Size \"{1}\" is not a size", {*text})});
    if (const std::string* url = Find(jad, "MIDlet-Jar-URL")) {
        const std::string jarName = archivePath.substr(archivePath.find_last_of(kSep) + 1);
        const std::string urlName = url->substr(url->find_last_of('/') + 1);
        if (urlName != jarName)
            report.findings.push_back(
                {InstallerStatus::InvalidDescriptor,
                 TrFormat("MIDlet-Jar-URL \"{1}\" does not name {2}", {*url, jarName})});
    }
    for (int n = 1; const std::string* midlet = Find(jad, "MIDlet-" + std::to_string(n)); ++n)
        if (MidletClass(*midlet).empty())
            report.findings.push_back({InstallerStatus::InvalidDescriptor,
                                       TrFormat("MIDlet-{1} names no class", {std::to_string(n)})});
    NoteEightBitTexts(jad, JARSEAL_N("the descriptor"), report);
}

} // namespace jarseal::check
