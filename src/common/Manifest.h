#pragma once

#include <string>
#include <vector>

namespace jarseal {

// Splits manifest text into lines at CR LF, CR and LF alike, then joins every
// continuation line (one leading blank) to the line before it, dropping the
// line break and that blank, so each attribute is one whole line.
std::vector<std::string> ManifestLines(const std::string& text);

} // namespace jarseal
