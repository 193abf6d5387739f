// Writes the overlapping-entry bomb as a MIDlet suite: a manifest that asks
// for a permission, then 4,000 central-directory records that all point at
// one deflate stream of 256 MiB of zeros (about 260 KB on disk). Unzipped
// naively it is a gigabyte of data; a rewrite that copies each entry's data
// writes a gigabyte too. For bench/java/overlap_bomb.sh; not part of the tests.
//
// Usage: jarseal-make-overlap-bomb SUITE.jar
#include "unzip/RawZip.h"

#include <cstdio>
#include <fstream>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s SUITE.jar\n", argv[0]);
        return 2;
    }
    namespace rawzip = jarseal::test::rawzip;
    rawzip::Builder b;
    b.AddDeflated("META-INF/MANIFEST.MF", "Manifest-Version: 1.0\r\nMIDlet-Name: Bomb\r\nMIDlet-Vendor: X\r\n"
                                          "MIDlet-Version: 1.0\r\nMIDlet-1: Bomb, , bomb.Main\r\n"
                                          "MIDlet-Permissions: javax.microedition.io.Connector.sms\r\n"
                                          "MicroEdition-Profile: MIDP-2.0\r\n"
                                          "MicroEdition-Configuration: CLDC-1.1\r\n\r\n");
    b.AddOverlapping("bomb/zeros", 256ull << 20, 4000);
    std::ofstream out(argv[1], std::ios::binary);
    out << b.Finish();
    return out ? 0 : 1;
}
