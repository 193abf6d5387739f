#pragma once

#include <string>

namespace jarseal {

// An argument for a Windows-style command line: a value without blanks, tabs
// or double quotes is written as it is; any other value (the empty one too)
// is enclosed in double quotes, with quotes and the backslashes before them
// escaped so the command line splits back into exactly this value.
std::string CommandLineArgument(const std::string& value);

// The same, always enclosed in double quotes (for paths).
std::string QuotedArgument(const std::string& value);

} // namespace jarseal
