#pragma once

// Reading and rewriting Symbian 9 installation packages (.sis/.sisx): the
// field structure, the controller with its signature chains, and the rebuild
// after a chain is added or removed. No cryptography here.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace jarseal::signsis {

// A package that cannot be read or rewritten; the text is shown to the user.
struct SisError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

inline constexpr std::uint32_t kUid1Symbian9 = 0x10201A7A;
// The largest controller accepted after inflating it; real ones are kilobytes.
inline constexpr std::uint64_t kMaxControllerSize = 64u << 20;
// The most file data accepted after inflating it, all files together; what is
// checked against the files' hashes is read once and never held whole.
inline constexpr std::uint64_t kMaxUnpackedFiles = 2ull << 30;

enum FieldType : std::uint32_t {
    kString = 1,
    kArray = 2,
    kCompressed = 3,
    kContents = 12,
    kController = 13,
    kCertificateChain = 22,
    kData = 30,
    kControllerChecksum = 34,
    kDataChecksum = 35,
    kSignature = 36,
    kBlob = 37,
    kSignatureAlgorithm = 38,
    kSignatureCertificateChain = 39,
    kDataIndex = 40,
};

inline constexpr char kOidRsaSha1[] = "1.2.840.113549.1.1.5";
inline constexpr char kOidDsaSha1[] = "1.2.840.10040.4.3";

// CRC-16/XMODEM (polynomial 0x1021, start 0, no reflection), continuing from crc.
std::uint16_t Crc16(std::string_view bytes, std::uint16_t crc = 0);
// The fourth UID of the header: CRC of the odd bytes of UID1..UID3 in the high
// half, of the even bytes in the low half.
std::uint32_t UidChecksum(std::uint32_t uid1, std::uint32_t uid2, std::uint32_t uid3);

void PutU16(std::string& out, std::uint16_t value);
// The little-endian number at pos in b; the caller has made sure it is there.
std::uint32_t GetU32(std::string_view b, std::size_t pos);
std::uint64_t GetU64(std::string_view b, std::size_t pos);
void PutU32(std::string& out, std::uint32_t value);
void PutU64(std::string& out, std::uint64_t value);
// A field's length word(s): the long form only for lengths of 2^31 and more.
void PutLength(std::string& out, std::uint64_t length);
// A complete field: type, length, data, zero padding to 4 bytes.
std::string Field(std::uint32_t type, std::string_view data);
// An array element (no type word): length, data, padding.
std::string Element(std::string_view data);
// An Array field of elements of one type.
std::string ArrayField(std::uint32_t elementType, const std::vector<std::string>& elementData);
// A String field: the text (ASCII) as UTF-16LE.
std::string StringField(std::string_view ascii);

// One field read from a buffer; offsets are relative to that buffer.
struct FieldView {
    std::uint32_t type = 0;
    std::size_t start = 0;     // the type word
    std::size_t dataStart = 0; // after the length word(s)
    std::uint64_t length = 0;  // data bytes, padding excluded
    std::size_t end = 0;       // after the padding
    std::string_view Data(std::string_view buffer) const { return buffer.substr(dataStart, length); }
};

// Reads the field at pos in buffer[..limit), checking every length against the
// bytes that remain; what names the place in error messages. A missing final
// padding at the very end of the buffer is accepted.
FieldView ReadField(std::string_view buffer, std::size_t pos, std::size_t limit, const char* what);
// Reads an array element (no type word) the same way.
FieldView ReadElement(std::string_view buffer, std::size_t pos, std::size_t limit, std::uint32_t type,
                      const char* what);

// One signature inside a chain.
struct SignatureView {
    std::string algorithm; // the OID text
    std::string blob;
};

// A signature-certificate chain of the controller.
struct ChainView {
    std::size_t start = 0; // offset of the field in the controller
    std::size_t end = 0;
    std::vector<SignatureView> signatures;
    std::string certificates; // DER, concatenated, signer first
};

// What a phone's installer weighs in one controller (the package's own, or one
// embedded in it) besides its signatures.
struct ControllerFacts {
    std::uint32_t uid = 0;                   // the package UID of its Info
    std::vector<std::uint32_t> capabilities; // 32-bit sets, every file's capabilities together
    std::size_t chains = 0;                  // its signature chains
    bool embedded = false;
};

// A package split into the parts signing touches.
struct Package {
    std::string header;              // the 16 UID bytes, never changed
    std::vector<std::string> before; // Contents children before the Compressed field, raw
    std::vector<std::string> after;  // Contents children after it, raw (the Data field)
    std::string trailer;             // bytes after the Contents field, kept as they are
    std::uint32_t compression = 0;   // 0 stored, 1 deflate
    std::string controller;          // the uncompressed Controller field with its header
    std::size_t bodyStart = 0;       // first byte after the Controller field header
    std::size_t dataIndex = 0;       // offset of the DataIndex field
    std::vector<ChainView> chains;   // in file order
    bool controllerChecksumOk = true;
    bool dataChecksumOk = true;
    bool stub = false; // a bare controller with no data (a ROM stub)
    // A package whose SISData holds no data unit: its files are not in it.
    bool noData = false;
    // The package's own controller first, then the embedded ones.
    std::vector<ControllerFacts> controllers;
};

// The UIDs of a file's header; throws SisError for legacy (pre-Symbian 9)
// packages and for anything that is not a Symbian 9 package.
void CheckHeader(std::string_view file);

// Parses a whole package file and checks it with CheckPackage. Throws
// SisError with a readable reason.
Package ParsePackage(std::string_view file);

// Walks every field of the controller and of the data as a phone reads them:
// each of the type its place requires, inside its parent (or its padding),
// arrays of the element type they must hold, every file's SHA-1 equal to that
// of its data after inflating it (unless SISData holds no data unit at all).
// Sets the facts of each controller and noData. Throws SisError naming the
// path of the first field that fails and why.
void CheckPackage(Package& pkg);

// The package file again, with the controller as it now is: recompressed the
// way it was stored, lengths, paddings and the controller checksum rebuilt.
std::string SerializePackage(const Package& pkg);

// The controller bytes a new chain signs: from after the controller header up
// to the DataIndex (all earlier chains included).
std::string_view BytesToSign(const Package& pkg);
// The bytes the given chain signed.
std::string_view SignedBytesOf(const Package& pkg, const ChainView& chain);

// A SignatureCertificateChain field for one signature.
std::string ChainField(std::string_view algorithmOid, std::string_view signature,
                       std::string_view certificatesDer);

// Inserts a chain field just before the DataIndex and re-parses the controller.
void AppendChain(Package& pkg, std::string_view chainField);
// Removes the last chain; throws SisError when there is none.
void RemoveLastChain(Package& pkg);

// zlib compression with a size cap for inflating.
std::string Deflate(std::string_view bytes);
std::string Inflate(std::string_view bytes, std::uint64_t expectedSize);

// How a zlib stream inflated piece by piece ended.
enum class InflateEnd {
    Complete, // the stream ended within the limit
    TooLarge, // more than the limit came out; the rest was not inflated
    Damaged,  // the stream is cut short or not zlib data
};
// Inflates a zlib stream in pieces of 64 KiB, handing each to take while no
// more than limit bytes have come out; total receives how many did. Throws
// SisError when zlib cannot start (or the input exceeds its 4 GiB).
InflateEnd InflatePieces(std::string_view bytes, std::uint64_t limit,
                         const std::function<void(const char*, std::size_t)>& take, std::uint64_t& total);

} // namespace jarseal::signsis
