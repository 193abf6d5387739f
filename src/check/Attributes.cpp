#include "check/Attributes.h"

#include "common/Manifest.h"
#include "common/Text.h"
#include "common/Translate.h"

#include <algorithm>
#include <set>

namespace jarseal {

bool ValidAttributeName(const std::string& name) {
    return !name.empty() && std::all_of(name.begin(), name.end(), [](unsigned char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
               c == '_';
    });
}

namespace check {

namespace {

bool RequiredInDescriptor(const std::string& name) {
    return std::find(kRequiredInDescriptor.begin(), kRequiredInDescriptor.end(), name) !=
           kRequiredInDescriptor.end();
}

// True when text is well-formed UTF-8: every sequence complete, in its
// shortest form, and neither a surrogate nor beyond U+10FFFF.
bool IsUtf8(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        std::size_t length = 1;
        std::uint32_t point = lead;
        std::uint32_t least = 0;
        if (lead >= 0xF0 && lead < 0xF8) {
            length = 4;
            point = lead & 0x07u;
            least = 0x10000;
        } else if (lead >= 0xE0 && lead < 0xF0) {
            length = 3;
            point = lead & 0x0Fu;
            least = 0x800;
        } else if (lead >= 0xC0 && lead < 0xE0) {
            length = 2;
            point = lead & 0x1Fu;
            least = 0x80;
        } else if (lead >= 0x80) {
            return false;
        }
        if (text.size() - i < length)
            return false;
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0u) != 0x80u)
                return false;
            point = (point << 6) | (next & 0x3Fu);
        }
        if (point < least || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF))
            return false;
        i += length;
    }
    return true;
}

} // namespace

const std::string* Find(const Attributes& attrs, const std::string& name) {
    for (const auto& [n, v] : attrs)
        if (n == name)
            return &v;
    return nullptr;
}

Attributes ParseDescriptor(const std::string& text, CheckReport& report, std::string& lostToMark) {
    Attributes attrs;
    std::size_t start = 0;
    const bool mark = text.rfind("\xEF\xBB\xBF", 0) == 0;
    if (mark)
        start = 3;
    std::set<std::string> seen;
    int number = 0;
    while (start < text.size()) {
        auto end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        ++number;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const std::string where = TrFormat("descriptor line {1}: ", {std::to_string(number)});
        const bool behindMark = mark && number == 1;
        if (TrimBlanksAndTabs(line).empty()) {
            if (behindMark)
                report.findings.push_back(
                    {InstallerStatus::InvalidDescriptor, where + Tr("holds a byte-order mark alone")});
            continue;
        }
        if (line[0] == ' ' || line[0] == '\t') {
            report.findings.push_back(
                {InstallerStatus::InvalidDescriptor, where + Tr("starts with a blank (a descriptor has no "
                                                                "continuation lines)")});
            continue;
        }
        const auto colon = line.find(':');
        if (colon == std::string::npos) {
            report.findings.push_back(
                {InstallerStatus::InvalidDescriptor, where + Tr("is not \"name: value\"")});
            continue;
        }
        const std::string name = line.substr(0, colon);
        if (!ValidAttributeName(name)) {
            report.findings.push_back({InstallerStatus::InvalidDescriptor,
                                       where + TrFormat("\"{1}\" is not a valid attribute name", {name})});
            continue;
        }
        if (behindMark) {
            // Another name to the phone: neither this attribute nor a repeat of it.
            const bool required = RequiredInDescriptor(name);
            report.findings.push_back(
                {required ? InstallerStatus::InvalidDescriptor : InstallerStatus::None,
                 TrFormat(required ? "descriptor: starts with a byte-order mark: the phone "
                                     "loses the first attribute, {1}, which a descriptor "
                                     "must have"
                                   : "descriptor: starts with a byte-order mark: the phone "
                                     "loses the first attribute, {1}",
                          {name})});
            lostToMark = name;
            continue;
        }
        if (!seen.insert(name).second)
            report.findings.push_back(
                {InstallerStatus::InvalidDescriptor, where + TrFormat("{1} appears twice", {name})});
        std::string value = TrimBlanksAndTabs(line.substr(colon + 1));
        if (HasControlCharacter(value, true))
            report.findings.push_back(
                {InstallerStatus::InvalidDescriptor,
                 where + TrFormat("{1}'s value holds a control character (a line break, NUL)", {name})});
        attrs.emplace_back(name, std::move(value));
    }
    return attrs;
}

Attributes ParseLeniently(const std::string& text, Lenient as) {
    const bool mark = as == Lenient::Descriptor && text.rfind("\xEF\xBB\xBF", 0) == 0;
    Attributes attrs;
    for (const auto& line : ManifestLines(mark ? text.substr(3) : text)) {
        if (line.empty() && as == Lenient::ManifestMainSection)
            break; // the per-entry sections follow
        const auto colon = line.find(':');
        if (colon == std::string::npos)
            continue;
        attrs.emplace_back(line.substr(0, colon), TrimBlanksAndTabs(line.substr(colon + 1)));
    }
    return attrs;
}

void NoteEightBitTexts(const Attributes& attrs, const std::string& which, CheckReport& report) {
    for (const auto& [name, value] : attrs)
        if (!IsUtf8(value)) {
            report.findings.push_back(
                {InstallerStatus::None,
                 TrFormat("{1} is not UTF-8 ({2}): a phone may show the suite's name and texts garbled",
                          {Tr(which), name})});
            return;
        }
}

} // namespace check

} // namespace jarseal
