#pragma once

// The attributes of a descriptor or a manifest as a phone reads them: one
// list of "name: value" pairs, read strictly from a descriptor (noting every
// line a strict installer refuses) or leniently from a manifest's main
// section.

#include "check/CheckReport.h"

#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace jarseal {

// The largest manifest read from a jar, and the largest descriptor read as
// one; a larger one counts as a damaged archive. Real ones are a few
// kilobytes.
inline constexpr std::uint64_t kMaxManifestBytes = 8ull * 1024 * 1024;

// True for a name a descriptor may give an attribute: letters, digits, "-"
// and "_" only.
bool ValidAttributeName(const std::string& name);

namespace check {

using Attributes = std::vector<std::pair<std::string, std::string>>;

// The value of the first attribute of that name, or null.
const std::string* Find(const Attributes& attrs, const std::string& name);

// The attributes a descriptor must have.
inline constexpr std::array<const char*, 5> kRequiredInDescriptor = {
    "MIDlet-Name", "MIDlet-Version", "MIDlet-Vendor", "MIDlet-Jar-URL", "MIDlet-Jar-Size"};

// Reads the descriptor strictly, noting every line a strict installer
// refuses. A byte-order mark at the start becomes part of the first
// attribute's name as the phone reads it: that attribute is lost, and its
// name goes to lostToMark.
Attributes ParseDescriptor(const std::string& text, CheckReport& report, std::string& lostToMark);

// What leniently read text is: a manifest, whose main section ends at its
// first empty line, or a descriptor as lenient tools write it, which has no
// sections and may start with a byte-order mark.
enum class Lenient { ManifestMainSection, Descriptor };

// Reads "name: value" lines leniently, every one in order: lines end at
// CR LF, LF or CR, continuation lines are joined, empty lines and lines
// without a colon are passed over, values are trimmed of blanks and tabs and
// names kept as written. A byte-order mark before a descriptor is passed
// over; before a manifest it stays part of the first name.
Attributes ParseLeniently(const std::string& text, Lenient as);

// The main section of a manifest, continuation lines joined.
inline Attributes ParseManifest(const std::string& text) {
    return ParseLeniently(text, Lenient::ManifestMainSection);
}

// A note when an attribute value is not UTF-8 (a name typed in an 8-bit
// code page): the phone decodes it as UTF-8 and shows something else.
void NoteEightBitTexts(const Attributes& attrs, const std::string& which, CheckReport& report);

} // namespace check

} // namespace jarseal
