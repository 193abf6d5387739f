#include "process/Quoting.h"

namespace jarseal {

std::string CommandLineArgument(const std::string& value) {
    if (!value.empty() && value.find_first_of(" \t\"") == std::string::npos)
        return value;
    return QuotedArgument(value);
}

std::string QuotedArgument(const std::string& value) {
    std::string out = "\"";
    std::size_t backslashes = 0;
    for (const char c : value) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        // Backslashes count double only where a quote follows them.
        out.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        out += c;
    }
    out.append(backslashes * 2, '\\'); // they stand before the closing quote
    out += '"';
    return out;
}

} // namespace jarseal
