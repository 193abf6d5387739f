#pragma once

// Base64 as descriptors carry certificates and signatures.

#include <string>

namespace jarseal {

// The bytes of text; ok is false (and the result empty) for a text that is
// empty, not a whole number of four-letter groups, or not base64.
std::string Base64Decode(const std::string& text, bool& ok);

} // namespace jarseal
