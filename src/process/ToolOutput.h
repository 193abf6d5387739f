#pragma once

#include "common/Text.h"

#include <string>

namespace jarseal {

// What a message shows of a tool's output: its end (enough to name the cause
// without flooding the box), without trailing line ends, lines joined by
// CR LF like every message text.
inline std::string OutputForMessage(const std::string& output) {
    constexpr std::size_t kMaxShown = 1500;
    std::string text = output;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
        text.pop_back();
    if (text.size() > kMaxShown)
        text = "..." + text.substr(text.size() - kMaxShown);
    return WithCrLf(text);
}

} // namespace jarseal
