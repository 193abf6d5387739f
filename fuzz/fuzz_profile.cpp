// The settings-file layer: reading and writing a key in arbitrary existing
// content. The input gives a section, a key, a value, a second section and
// key to watch, and the content.
#include "FuzzCheck.h"
#include "settings/ProfileFile.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <string>

using namespace jarseal;

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\v' || c == '\f';
}

// The value as reading gives it back: without surrounding blanks and one
// pair of matching quotes.
std::string AsRead(std::string v) {
    while (!v.empty() && IsBlank(v.front()))
        v.erase(v.begin());
    while (!v.empty() && IsBlank(v.back()))
        v.pop_back();
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
        v = v.substr(1, v.size() - 2);
    return v;
}

bool SameName(const std::string& a, const std::string& b) {
    const auto norm = [](std::string s) {
        while (!s.empty() && IsBlank(s.front()))
            s.erase(s.begin());
        while (!s.empty() && IsBlank(s.back()))
            s.pop_back();
        for (char& c : s)
            if (c >= 'A' && c <= 'Z')
                c = static_cast<char>(c - 'A' + 'a');
        return s;
    };
    return norm(a) == norm(b);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const std::string section = in.ConsumeRandomLengthString(64);
    const std::string key = in.ConsumeRandomLengthString(64);
    const std::string value = in.ConsumeRandomLengthString(256);
    const std::string otherSection = in.ConsumeRandomLengthString(64);
    const std::string otherKey = in.ConsumeRandomLengthString(64);
    const std::string content = in.ConsumeRemainingBytesAsString();

    const auto before = FindProfileValue(content, section, key);
    const auto otherBefore = FindProfileValue(content, otherSection, otherKey);
    const auto written = SetProfileValue(content, section, key, value);
    if (!written)
        return 0;
    // What was written reads back, and nothing else changed its value.
    FUZZ_CHECK(FindProfileValue(*written, section, key) == AsRead(value));
    if (!(SameName(section, otherSection) && SameName(key, otherKey)))
        FUZZ_CHECK(FindProfileValue(*written, otherSection, otherKey) == otherBefore);
    // A new key only adds to the content: every old byte stays, in order.
    if (!before) {
        std::size_t at = 0;
        for (const char c : content) {
            at = written->find(c, at);
            FUZZ_CHECK(at != std::string::npos);
            ++at;
        }
    }
    // Writing the same value again changes nothing.
    const auto again = SetProfileValue(*written, section, key, value);
    FUZZ_CHECK(again && *again == *written);
    return 0;
}
