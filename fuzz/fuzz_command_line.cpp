// Command-line splitting, and the round trip through the quoting helpers:
// every argument quoted by CommandLineArgument or QuotedArgument splits back
// into exactly itself.
#include "FuzzCheck.h"
#include "process/Quoting.h"
#include "process/RunAndWait.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

using namespace jarseal;

namespace {

std::string Join(const std::vector<std::string>& split, bool alwaysQuote) {
    // The program name takes quotes only to switch quoting; it cannot hold one.
    std::string line = "\"" + split[0] + "\"";
    for (std::size_t i = 1; i < split.size(); ++i)
        line += " " + (alwaysQuote ? QuotedArgument(split[i]) : CommandLineArgument(split[i]));
    return line;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Arbitrary text: splitting it, joining the parts and splitting again
    // gives the same parts.
    const std::string raw(reinterpret_cast<const char*>(data), size);
    const std::vector<std::string> parts = SplitCommandLine(raw);
    if (!parts.empty()) {
        FUZZ_CHECK(parts[0].find('"') == std::string::npos);
        FUZZ_CHECK(SplitCommandLine(Join(parts, false)) == parts);
        FUZZ_CHECK(SplitCommandLine(Join(parts, true)) == parts);
    }

    // Arguments of any content but NUL survive quoting.
    FuzzedDataProvider in(data, size);
    std::vector<std::string> args{"prog"};
    while (in.remaining_bytes() > 0 && args.size() < 16) {
        std::string arg = in.ConsumeRandomLengthString(128);
        std::erase(arg, '\0');
        args.push_back(arg);
    }
    FUZZ_CHECK(SplitCommandLine(Join(args, false)) == args);
    FUZZ_CHECK(SplitCommandLine(Join(args, true)) == args);
    return 0;
}
