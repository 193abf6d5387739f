// Manifest normalisation and attribute scan on arbitrary bytes.
#include "FuzzCheck.h"
#include "java/JavaPackage.h"

#include <cstddef>
#include <cstdint>
#include <string>

using namespace jarseal;

namespace {

// Every kept line ends in CR LF and holds no other line break.
void CheckLines(const std::string& text) {
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find("\r\n", start);
        FUZZ_CHECK(end != std::string::npos);
        FUZZ_CHECK(text.find_first_of("\r\n", start) == end);
        start = end + 2;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::vector<std::string> lines = ManifestLines(text);
    std::size_t kept = 0;
    for (const auto& line : lines) {
        FUZZ_CHECK(line.find_first_of("\r\n") == std::string::npos);
        kept += line.size();
    }
    // Unfolding drops line ends and one blank per continuation, nothing else.
    FUZZ_CHECK(kept <= text.size());

    const ManifestScan scan = ScanManifest(lines);
    CheckLines(scan.body);
    CheckLines(scan.permissionText);
    FUZZ_CHECK(scan.body.size() + scan.permissionText.size() <= kept + 2 * lines.size());
    // The body takes over only the attributes of its list, never permissions.
    std::size_t start = 0;
    while (start < scan.body.size()) {
        const std::size_t end = scan.body.find("\r\n", start);
        const std::string line = scan.body.substr(start, end - start);
        FUZZ_CHECK(line.find("MIDlet-Permissions:") == std::string::npos);
        start = end + 2;
    }
    // Normalising the scanned lines again changes nothing.
    FUZZ_CHECK(ScanManifest(ManifestLines(scan.body)).body == scan.body);
    return 0;
}
