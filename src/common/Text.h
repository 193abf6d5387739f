#pragma once

#include <string>

namespace jarseal {

// True when text ends with end.
inline bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

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

// The text as a terminal may be given it: every control character (below
// 0x20, DEL, and U+0080 to U+009F written in UTF-8) becomes an escape such
// as "\r", "\n", "\t", "\x1b" or "\u009b", so that a name can neither start
// a line of its own nor send the terminal a command. With lineBreaks set,
// each CR LF (how message texts break their lines) becomes one LF instead.
inline std::string EscapeControlCharacters(const std::string& text, bool lineBreaks = false) {
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto u = static_cast<unsigned char>(text[i]);
        const auto next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0u;
        if (lineBreaks && u == '\r' && next == '\n') {
            out += '\n';
            ++i;
        } else if (u == '\r') {
            out += "\\r";
        } else if (u == '\n') {
            out += "\\n";
        } else if (u == '\t') {
            out += "\\t";
        } else if (u < 0x20 || u == 0x7f) {
            out += "\\x";
            out += kHex[u >> 4];
            out += kHex[u & 0xf];
        } else if (u == 0xC2 && next >= 0x80 && next <= 0x9F) {
            out += "\\u00";
            out += kHex[next >> 4];
            out += kHex[next & 0xf];
            ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

// The letters of a UTF-8 text: continuation bytes add none.
inline std::size_t LetterCount(const std::string& text) {
    std::size_t letters = 0;
    for (const char c : text)
        letters += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return letters;
}

} // namespace jarseal
