#pragma once

// The reasons the project's own signing tools print (the JAD tool, the
// Symbian signing tool and its package reader), in the run's language.

#include <string>

namespace jarseal {

// One reason, as the tool printed it or as the Symbian reader reports it.
std::string TranslatedToolReason(const std::string& reason);

// A tool's whole output, line by line (LF or CR LF kept as they are).
std::string TranslatedToolOutput(const std::string& output);

} // namespace jarseal
