// The descriptor text of the signing stage: the signed descriptor brought to
// CR LF line ends, then the permission text of a manifest appended.
#include "FuzzCheck.h"
#include "common/Text.h"
#include "java/JavaPackage.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <string>

using namespace jarseal;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const std::string manifest = in.ConsumeRandomLengthString(4096);
    const std::string descriptor = in.ConsumeRemainingBytesAsString();

    const std::string converted = WithCrLf(descriptor);
    // Only CRs are added, one before each LF that had none.
    std::size_t loneLf = 0;
    for (std::size_t i = 0; i < descriptor.size(); ++i)
        if (descriptor[i] == '\n' && (i == 0 || descriptor[i - 1] != '\r'))
            ++loneLf;
    FUZZ_CHECK(converted.size() == descriptor.size() + loneLf);
    std::string back;
    for (std::size_t i = 0; i < converted.size(); ++i) {
        const bool added = converted[i] == '\r' && i + 1 < converted.size() && converted[i + 1] == '\n' &&
                           back.size() < descriptor.size() && descriptor[back.size()] == '\n';
        if (!added)
            back += converted[i];
    }
    FUZZ_CHECK(back == descriptor);
    for (std::size_t i = 0; i < converted.size(); ++i)
        FUZZ_CHECK(converted[i] != '\n' || (i > 0 && converted[i - 1] == '\r'));
    FUZZ_CHECK(WithCrLf(converted) == converted);

    // The final descriptor: the converted text, the permission lines and an
    // empty line; the descriptor's own bytes stay in front untouched.
    const std::string permissions = ScanManifest(ManifestLines(manifest)).permissionText + "\r\n";
    const std::string final = converted + permissions;
    FUZZ_CHECK(final.compare(0, converted.size(), converted) == 0);
    FUZZ_CHECK(final.size() >= 2 && final.compare(final.size() - 2, 2, "\r\n") == 0);
    for (std::size_t i = 0; i < final.size(); ++i)
        FUZZ_CHECK(final[i] != '\n' || (i > 0 && final[i - 1] == '\r'));
    return 0;
}
