#pragma once

#include <string>

namespace jarseal {

// Replaces every LF that does not follow a CR with CR LF.
inline std::string WithCrLf(const std::string& text) {
    std::string out;
    out.reserve(text.size() + text.size() / 32);
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r'))
            out += '\r';
        out += text[i];
    }
    return out;
}

// The text without the blanks and tabs at its ends.
inline std::string TrimBlanksAndTabs(const std::string& text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// True when text holds a control character (below 0x20, or DEL); a tab
// counts unless tabs are allowed, as they are inside a descriptor's value.
inline bool HasControlCharacter(const std::string& text, bool tabsAllowed = false) {
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if ((u < 0x20 || u == 0x7f) && !(tabsAllowed && c == '\t'))
            return true;
    }
    return false;
}

// The letters of a UTF-8 text: continuation bytes add none.
inline std::size_t LetterCount(const std::string& text) {
    std::size_t letters = 0;
    for (const char c : text)
        letters += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return letters;
}

} // namespace jarseal
