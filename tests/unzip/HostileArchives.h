#pragma once

// Archives made to hurt an extractor, for the unzip library tests and the
// Java pipeline tests alike. Each is built on demand (the large ones take a
// moment to deflate) and carries a manifest where that makes a difference.

#include "unzip/RawZip.h"

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace jarseal::test {

struct HostileArchive {
    std::string name;
    std::function<std::string()> build; // the archive's bytes
    bool damaged;                       // the pipeline finds no usable manifest
};

inline const std::string kHostileManifest = "Manifest-Version: 1.0\r\nMIDlet-Name: Hostile\r\n"
                                            "MIDlet-1: Hostile, , h.Main\r\n\r\n";

// victim: an absolute path outside every folder the extraction may write to;
// links and absolute names aim there.
inline std::vector<HostileArchive> HostileArchives(const std::string& victim) {
    using namespace rawzip;
    const auto withManifest = [](Builder& b) { b.AddDeflated("META-INF/MANIFEST.MF", kHostileManifest); };
    std::vector<HostileArchive> all;

    all.push_back({"climbing-names",
                   [victim, withManifest] {
                       Builder b;
                       for (const std::string& name : std::vector<std::string>{
                                "../../../escape.txt", victim + "/planted.txt", "C:\\drive.txt", "c:evil.txt",
                                "..\\..\\back.txt", "a/../../up.txt", "..", "../", "/", "./../x/../../y.txt"})
                           b.AddStored(name, "x");
                       withManifest(b);
                       return b.Finish();
                   },
                   false});
    all.push_back({"links",
                   [victim, withManifest] {
                       Builder b;
                       withManifest(b);
                       b.AddStored("lnk", victim, kLinkAttributes, kMadeByUnix);
                       b.AddStored("rel", "../../../../../../../../..", kLinkAttributes, kMadeByUnix);
                       b.AddStored("lnk/planted.txt", "through the link");
                       b.AddStored("rel/tmp/planted.txt", "through the link");
                       return b.Finish();
                   },
                   false});
    all.push_back({"manifest-is-a-link",
                   [victim] {
                       Builder b;
                       b.AddStored("META-INF/MANIFEST.MF", victim + "/secret.txt", kLinkAttributes,
                                   kMadeByUnix);
                       return b.Finish();
                   },
                   true});
    all.push_back({"bomb-of-large-entries",
                   [withManifest] {
                       // Forty entries of 64 MiB + 1 byte each: 2.5 GiB from 2.6 MB.
                       std::uint32_t crc = 0;
                       const std::uint64_t size = (64ull << 20) + 1;
                       const std::string packed = DeflateRepeated(size, std::string(1, '\0'), crc);
                       Builder b;
                       withManifest(b);
                       for (int i = 0; i < 40; ++i)
                           b.Add({"zeros" + std::to_string(i), kDeflated, crc, packed.size(), size}, packed);
                       return b.Finish();
                   },
                   false});
    all.push_back({"bomb-of-allowed-entries",
                   [withManifest] {
                       std::uint32_t crc = 0;
                       const std::uint64_t size = 48ull << 20;
                       const std::string packed = DeflateRepeated(size, "ab", crc);
                       Builder b;
                       withManifest(b);
                       for (int i = 0; i < 8; ++i)
                           b.Add({"part" + std::to_string(i), kDeflated, crc, packed.size(), size}, packed);
                       return b.Finish();
                   },
                   false});
    all.push_back({"overlapping-entries",
                   [withManifest] {
                       // One local record of 48 MiB, named by twelve central records.
                       Builder b;
                       withManifest(b);
                       b.AddOverlapping("shared", 48ull << 20, 12);
                       return b.Finish();
                   },
                   true});
    all.push_back({"overlapping-entry-bomb",
                   [withManifest] {
                       // Half a megabyte whose 4,000 central records all name one
                       // local record of 256 MiB of zeros: a terabyte if each is
                       // inflated.
                       Builder b;
                       withManifest(b);
                       b.AddOverlapping("zeros", 256ull << 20, 4000);
                       return b.Finish();
                   },
                   true});
    all.push_back({"lying-sizes",
                   [withManifest] {
                       const std::string data(100000, 'q');
                       const std::string packed = Deflate(data);
                       Builder b;
                       withManifest(b);
                       b.Add({"understated.txt", kDeflated, Crc(data), packed.size(), 10}, packed);
                       b.Add({"overstated.txt", kDeflated, Crc(data), packed.size(), 0xfffffff0u}, packed);
                       b.Add({"stored-short.txt", kStored, Crc(data), 10, 10}, data.substr(0, 10));
                       // The last entry claims more compressed bytes than the archive holds.
                       b.Add({"beyond-end.txt", kDeflated, Crc(data), 0x7fffffffu, data.size()}, packed);
                       return b.Finish();
                   },
                   true});
    all.push_back({"thousands-of-entries",
                   [withManifest] {
                       Builder b;
                       for (int i = 0; i < 5000; ++i)
                           b.AddStored("com/example/C" + std::to_string(i) + ".class", "\xca\xfe\xba\xbe");
                       withManifest(b);
                       return b.Finish();
                   },
                   false});
    all.push_back({"too-many-entries",
                   [withManifest] {
                       Builder b;
                       withManifest(b);
                       for (int i = 0; i < 65537; ++i)
                           b.AddStored(std::to_string(i), "");
                       return b.Finish();
                   },
                   true});
    all.push_back({"strange-names",
                   [withManifest] {
                       Builder b;
                       withManifest(b);
                       b.AddStored(std::string("ctl\x01\x1b[31m\n\r\t.txt"), "c");
                       b.AddStored("bad\xff\xfe\xc0\x80utf8.txt", "u");
                       b.AddStored(std::string(1000, 'n'), "long");
                       std::string deep;
                       while (deep.size() < 1000)
                           deep += "d/";
                       b.AddStored(deep + "deep.txt", "deep");
                       b.AddStored(std::string("nul\0hidden", 10), "z");
                       b.AddStored("", "nameless");
                       b.AddStored("trailing-blank.txt ", "b");
                       return b.Finish();
                   },
                   false});
    all.push_back({"manifest-of-100-mb",
                   [] {
                       std::uint32_t crc = 0;
                       const std::uint64_t size = 100ull << 20;
                       const std::string packed = DeflateRepeated(size, "MIDlet-Name: big\r\n", crc);
                       Builder b;
                       b.Add({"META-INF/MANIFEST.MF", kDeflated, crc, packed.size(), size}, packed);
                       return b.Finish();
                   },
                   true});
    all.push_back({"manifest-of-20-mb",
                   [] {
                       std::uint32_t crc = 0;
                       const std::uint64_t size = 20ull << 20;
                       const std::string packed = DeflateRepeated(size, "MIDlet-Permissions: x\r\n", crc);
                       Builder b;
                       b.Add({"META-INF/MANIFEST.MF", kDeflated, crc, packed.size(), size}, packed);
                       return b.Finish();
                   },
                   true});
    all.push_back({"manifest-of-one-line",
                   [] {
                       std::string line = "MIDlet-Name: " + std::string(4u << 20, 'L');
                       Builder b;
                       b.AddDeflated("META-INF/MANIFEST.MF", line);
                       return b.Finish();
                   },
                   false});
    all.push_back(
        {"text-file", [] { return std::string("This is not a jar.\r\nMIDlet-Name: X\r\n"); }, true});
    all.push_back({"empty-file", [] { return std::string(); }, true});
    return all;
}

} // namespace jarseal::test
