#include "common/Translate.h"

#include <cerrno>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <libintl.h>
#include <locale.h>
#include <set>

namespace jarseal {

namespace {

constexpr const char* kDomain = "jarseal";

std::string& Language() {
    static std::string language;
    return language;
}

// Replaces the holes "{1}".."{9}" of text by values.
std::string Fill(const std::string& text, const std::vector<std::string>& values) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '{' && i + 2 < text.size() && text[i + 1] >= '1' && text[i + 1] <= '9' &&
            text[i + 2] == '}') {
            const std::size_t n = static_cast<std::size_t>(text[i + 1] - '1');
            if (n < values.size()) {
                out += values[n];
                i += 2;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

// Matches line against pattern from position p of the pattern and l of the
// line; the holes take the shortest texts that let the rest match.
bool Match(const std::string& pattern, std::size_t p, const std::string& line, std::size_t l,
           std::vector<std::string>& values) {
    if (p == pattern.size())
        return l == line.size();
    if (pattern[p] == '{' && p + 2 < pattern.size() && pattern[p + 1] >= '1' && pattern[p + 1] <= '9' &&
        pattern[p + 2] == '}') {
        const std::size_t n = static_cast<std::size_t>(pattern[p + 1] - '1');
        for (std::size_t end = l; end <= line.size(); ++end) {
            if (values.size() <= n)
                values.resize(n + 1);
            values[n] = line.substr(l, end - l);
            if (Match(pattern, p + 3, line, end, values))
                return true;
        }
        return false;
    }
    return l < line.size() && line[l] == pattern[p] && Match(pattern, p + 1, line, l + 1, values);
}

// The texts of the system's error numbers, as a tool prints them (the C
// library's own, English words).
bool SystemErrorText(const std::string& text) {
    static const std::set<std::string> texts = [] {
        std::set<std::string> all;
        const locale_t c = ::newlocale(LC_ALL_MASK, "C", locale_t{});
        for (int e = 1; c != locale_t{} && e < 134; ++e)
            all.insert(::strerror_l(e, c));
        if (c != locale_t{})
            ::freelocale(c);
        return all;
    }();
    return texts.count(text) > 0;
}

} // namespace

std::string LanguageOfLocale() {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0')
            return std::string(value).rfind("ru", 0) == 0 ? "ru" : "en";
    }
    return "en";
}

void UseCatalogue(const std::string& language, const std::string& folder) {
    // Only the messages category: numbers and letters keep the C locale the
    // rest of the program is written for.
    std::setlocale(LC_MESSAGES, "C.UTF-8");
    ::setenv("LANGUAGE", language.c_str(), 1);
    ::bindtextdomain(kDomain, folder.c_str());
    ::bind_textdomain_codeset(kDomain, "UTF-8");
    Language() = language;
}

const std::string& CatalogueLanguage() {
    return Language();
}

const char* Tr(const char* text) {
    if (Language().empty() || text == nullptr || *text == '\0')
        return text;
    return ::dgettext(kDomain, text);
}

std::string Tr(const std::string& text) {
    return Tr(text.c_str());
}

std::string TrFormat(const char* text, std::initializer_list<std::string> values) {
    return Fill(Tr(text), std::vector<std::string>(values));
}

std::string TrMatching(const std::string& line, const std::vector<const char*>& patterns) {
    if (Language().empty())
        return line;
    for (const char* pattern : patterns) {
        std::vector<std::string> values;
        if (Match(pattern, 0, line, 0, values)) {
            // A value that is a system error's text is words, not a name.
            for (std::string& value : values)
                if (SystemErrorText(value))
                    value = Tr(value);
            return Fill(Tr(pattern), values);
        }
    }
    return Tr(line);
}

} // namespace jarseal
