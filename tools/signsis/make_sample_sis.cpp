// Writes a small unsigned Symbian 9 package (one language, no files) to the
// path given: the sample that the build ships beside the sample MIDlet suite.
#include "SignSis.h"
#include "SisFormat.h"

#include <cstdio>
#include <exception>

using namespace jarseal::signsis;

namespace {

std::string U32Data(std::uint32_t v) {
    std::string s;
    PutU32(s, v);
    return s;
}

std::string Utf16(std::string_view ascii) {
    std::string s;
    for (const char c : ascii)
        PutU16(s, static_cast<unsigned char>(c));
    return s;
}

std::string Controller(std::uint32_t uid) {
    std::string version = U32Data(1) + U32Data(0) + U32Data(0);
    std::string date;
    PutU16(date, 2024);
    date += '\0'; // January (months count from 0)
    date += '\1';
    const std::string time = {12, 0, 0};
    std::string info = Field(9, U32Data(uid)) + StringField("Jarseal") +
                       ArrayField(kString, {Utf16("Sample")}) + ArrayField(kString, {Utf16("Jarseal")}) +
                       Field(4, version) + Field(8, Field(6, date) + Field(7, time));
    info += '\0'; // install type: application
    info += '\0'; // install flags
    std::string body = Field(14, info);
    body += Field(16, ArrayField(33, {}));                                           // supported options
    body += Field(15, ArrayField(11, {U32Data(1)}));                                 // English
    body += Field(17, ArrayField(18, {}) + ArrayField(18, {}));                      // prerequisites
    body += Field(19, ArrayField(20, {}));                                           // properties
    body += Field(28, ArrayField(24, {}) + ArrayField(13, {}) + ArrayField(26, {})); // install block
    body += Field(kDataIndex, U32Data(0));
    return Field(kController, body);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::printf("Usage: make_sample_sis output.sis\n");
        return 4;
    }
    const std::uint32_t uid = 0xA0001A75; // unprotected range: self-signed certificates may use it
    const std::string controller = Controller(uid);
    std::string compressed = U32Data(1);
    PutU64(compressed, controller.size());
    compressed += Deflate(controller);
    const std::string compressedField = Field(kCompressed, compressed);
    const std::string dataField = Field(kData, ArrayField(31, {ArrayField(32, {})}));
    std::string crcs;
    std::string c1, c2;
    PutU16(c1, Crc16(compressedField));
    PutU16(c2, Crc16(dataField));
    crcs = Field(kControllerChecksum, c1) + Field(kDataChecksum, c2);
    std::string header = U32Data(kUid1Symbian9) + U32Data(0) + U32Data(uid);
    PutU32(header, UidChecksum(kUid1Symbian9, 0, uid));
    try {
        WriteFileAtomically(argv[1], header + Field(kContents, crcs + compressedField + dataField));
    } catch (const std::exception& e) {
        std::printf("%s\n", e.what());
        return 1;
    }
    return 0;
}
