#include "SisFormat.h"

#include <zlib.h>

#include <cstdio>

namespace jarseal::signsis {

namespace {

std::string Hex(std::uint64_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%08llX", static_cast<unsigned long long>(value));
    return text;
}

std::size_t Padding(std::uint64_t length) {
    return static_cast<std::size_t>((4 - length % 4) % 4);
}

// Reads a field or element whose length word starts at pos.
FieldView ReadLengthAndData(std::string_view buffer, std::size_t start, std::size_t pos, std::size_t limit,
                            std::uint32_t type, const char* what) {
    FieldView f;
    f.type = type;
    f.start = start;
    if (limit - pos < 4)
        throw SisError(std::string("The package is truncated or damaged: ") + what +
                       " ends inside a field header at offset " + std::to_string(pos) + ".");
    std::uint64_t length = GetU32(buffer, pos);
    pos += 4;
    if (length & 0x80000000u) {
        if (limit - pos < 4)
            throw SisError(std::string("The package is truncated or damaged: ") + what +
                           " ends inside a field header at offset " + std::to_string(pos) + ".");
        length = (length & 0x7FFFFFFFu) | static_cast<std::uint64_t>(GetU32(buffer, pos)) << 31;
        pos += 4;
    }
    if (length > limit - pos)
        throw SisError(std::string("The package is truncated or damaged: a field of type ") +
                       std::to_string(type) + " in " + what + " claims " + std::to_string(length) +
                       " bytes, but only " + std::to_string(limit - pos) + " remain.");
    f.dataStart = pos;
    f.length = length;
    const std::size_t dataEnd = pos + static_cast<std::size_t>(length);
    f.end = limit - dataEnd < Padding(length) ? limit : dataEnd + Padding(length);
    return f;
}

std::string Utf16ToAscii(std::string_view utf16) {
    std::string out;
    for (std::size_t i = 0; i + 1 < utf16.size(); i += 2) {
        const unsigned c = static_cast<unsigned char>(utf16[i]) | static_cast<unsigned char>(utf16[i + 1])
                                                                      << 8;
        out += c < 0x80 ? static_cast<char>(c) : '?';
    }
    return out;
}

FieldView Expect(std::string_view buffer, std::size_t pos, std::size_t limit, std::uint32_t type,
                 const char* what) {
    const FieldView f = ReadField(buffer, pos, limit, what);
    if (f.type != type)
        throw SisError(std::string("The package is damaged: ") + what + " holds a field of type " +
                       std::to_string(f.type) + " where type " + std::to_string(type) + " belongs.");
    return f;
}

ChainView ParseChain(std::string_view c, const FieldView& field) {
    const char* what = "a signature chain";
    ChainView chain;
    chain.start = field.start;
    chain.end = field.end;
    const std::size_t limit = field.dataStart + static_cast<std::size_t>(field.length);
    const FieldView array = Expect(c, field.dataStart, limit, kArray, what);
    const std::size_t arrayEnd = array.dataStart + static_cast<std::size_t>(array.length);
    if (array.length < 4 || GetU32(c, array.dataStart) != kSignature)
        throw SisError("The package is damaged: a signature chain has no signature list.");
    for (std::size_t pos = array.dataStart + 4; pos < arrayEnd;) {
        const FieldView sig = ReadElement(c, pos, arrayEnd, kSignature, what);
        const std::size_t sigEnd = sig.dataStart + static_cast<std::size_t>(sig.length);
        const FieldView alg = Expect(c, sig.dataStart, sigEnd, kSignatureAlgorithm, what);
        const FieldView oid =
            Expect(c, alg.dataStart, alg.dataStart + static_cast<std::size_t>(alg.length), kString, what);
        const FieldView blob = Expect(c, alg.end, sigEnd, kBlob, what);
        chain.signatures.push_back({Utf16ToAscii(oid.Data(c)), std::string(blob.Data(c))});
        pos = sig.end;
    }
    const FieldView certs = Expect(c, array.end, limit, kCertificateChain, what);
    const FieldView blob =
        Expect(c, certs.dataStart, certs.dataStart + static_cast<std::size_t>(certs.length), kBlob, what);
    chain.certificates = blob.Data(c);
    return chain;
}

// Finds the chains and the data index of pkg.controller.
void ParseController(Package& pkg) {
    const std::string_view c = pkg.controller;
    const FieldView controller = ReadField(c, 0, c.size(), "the controller");
    if (controller.type != kController)
        throw SisError("The package is damaged: its compressed part does not hold a controller.");
    pkg.bodyStart = controller.dataStart;
    pkg.chains.clear();
    bool haveIndex = false;
    const std::size_t limit = controller.dataStart + static_cast<std::size_t>(controller.length);
    for (std::size_t pos = controller.dataStart; pos < limit;) {
        const FieldView f = ReadField(c, pos, limit, "the controller");
        if (f.type == kSignatureCertificateChain) {
            if (haveIndex)
                throw SisError("The package is damaged: a signature chain follows the data index.");
            pkg.chains.push_back(ParseChain(c, f));
        } else if (f.type == kDataIndex) {
            if (haveIndex)
                throw SisError("The package is damaged: the controller has two data indexes.");
            haveIndex = true;
            pkg.dataIndex = f.start;
        }
        pos = f.end;
    }
    if (!haveIndex)
        throw SisError("The package is damaged: the controller has no data index.");
}

// Replaces controller bytes [from, to) by insert and rewrites the length.
void SpliceController(Package& pkg, std::size_t from, std::size_t to, std::string_view insert) {
    const std::string_view c = pkg.controller;
    const FieldView controller = ReadField(c, 0, c.size(), "the controller");
    const std::size_t dataEnd = controller.dataStart + static_cast<std::size_t>(controller.length);
    std::string body = std::string(c.substr(controller.dataStart, from - controller.dataStart));
    body += insert;
    body += c.substr(to, dataEnd - to);
    std::string rebuilt = Field(kController, body);
    rebuilt += c.substr(controller.end);
    pkg.controller = std::move(rebuilt);
    ParseController(pkg);
}

} // namespace

std::uint16_t Crc16(std::string_view bytes, std::uint16_t crc) {
    for (const char ch : bytes) {
        crc ^= static_cast<std::uint16_t>(static_cast<unsigned char>(ch) << 8);
        for (int bit = 0; bit < 8; ++bit)
            crc = static_cast<std::uint16_t>(crc & 0x8000 ? (crc << 1) ^ 0x1021 : crc << 1);
    }
    return crc;
}

std::uint32_t UidChecksum(std::uint32_t uid1, std::uint32_t uid2, std::uint32_t uid3) {
    std::string bytes;
    PutU32(bytes, uid1);
    PutU32(bytes, uid2);
    PutU32(bytes, uid3);
    std::string even, odd;
    for (std::size_t i = 0; i < bytes.size(); ++i)
        (i % 2 ? odd : even) += bytes[i];
    return static_cast<std::uint32_t>(Crc16(odd)) << 16 | Crc16(even);
}

void PutU16(std::string& out, std::uint16_t value) {
    out += static_cast<char>(value & 0xFF);
    out += static_cast<char>(value >> 8);
}

std::uint32_t GetU32(std::string_view b, std::size_t pos) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(b[pos])) |
           static_cast<std::uint32_t>(static_cast<unsigned char>(b[pos + 1])) << 8 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(b[pos + 2])) << 16 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(b[pos + 3])) << 24;
}

std::uint64_t GetU64(std::string_view b, std::size_t pos) {
    return GetU32(b, pos) | static_cast<std::uint64_t>(GetU32(b, pos + 4)) << 32;
}

void PutU32(std::string& out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        out += static_cast<char>(value >> (8 * i) & 0xFF);
}

void PutU64(std::string& out, std::uint64_t value) {
    PutU32(out, static_cast<std::uint32_t>(value));
    PutU32(out, static_cast<std::uint32_t>(value >> 32));
}

void PutLength(std::string& out, std::uint64_t length) {
    if (length < 0x80000000u) {
        PutU32(out, static_cast<std::uint32_t>(length));
        return;
    }
    PutU32(out, static_cast<std::uint32_t>(length & 0x7FFFFFFFu) | 0x80000000u);
    PutU32(out, static_cast<std::uint32_t>(length >> 31));
}

std::string Element(std::string_view data) {
    std::string out;
    PutLength(out, data.size());
    out += data;
    out.append(Padding(data.size()), '\0');
    return out;
}

std::string Field(std::uint32_t type, std::string_view data) {
    std::string out;
    PutU32(out, type);
    return out + Element(data);
}

std::string ArrayField(std::uint32_t elementType, const std::vector<std::string>& elementData) {
    std::string data;
    PutU32(data, elementType);
    for (const auto& e : elementData)
        data += Element(e);
    return Field(kArray, data);
}

std::string StringField(std::string_view ascii) {
    std::string data;
    for (const char c : ascii)
        PutU16(data, static_cast<unsigned char>(c));
    return Field(kString, data);
}

FieldView ReadField(std::string_view buffer, std::size_t pos, std::size_t limit, const char* what) {
    if (limit - pos < 4)
        throw SisError(std::string("The package is truncated or damaged: ") + what +
                       " ends inside a field header at offset " + std::to_string(pos) + ".");
    return ReadLengthAndData(buffer, pos, pos + 4, limit, GetU32(buffer, pos), what);
}

FieldView ReadElement(std::string_view buffer, std::size_t pos, std::size_t limit, std::uint32_t type,
                      const char* what) {
    return ReadLengthAndData(buffer, pos, pos, limit, type, what);
}

void CheckHeader(std::string_view file) {
    if (file.size() < 16)
        throw SisError("The file is too short to be an installation package (" + std::to_string(file.size()) +
                       " bytes).");
    const std::uint32_t uid1 = GetU32(file, 0), uid2 = GetU32(file, 4), uid3 = GetU32(file, 8);
    if (uid3 == 0x10000419 && (uid2 == 0x1000006D || uid2 == 0x10003A12))
        throw SisError("This is a legacy (pre-Symbian 9) package. That older format has no signatures "
                       "and cannot be signed; build the package for Symbian OS 9 or later.");
    if (uid1 != kUid1Symbian9)
        throw SisError("This is not a Symbian 9 installation package (UID1 " + Hex(uid1) + ", expected " +
                       Hex(kUid1Symbian9) + ").");
}

Package ParsePackage(std::string_view file) {
    CheckHeader(file);
    Package pkg;
    pkg.header = file.substr(0, 16);
    const FieldView contents = ReadField(file, 16, file.size(), "the package");
    pkg.trailer = file.substr(contents.end);
    if (contents.type == kController) {
        // A bare controller (a ROM stub): the files it names are in ROM.
        pkg.stub = true;
        pkg.controller = file.substr(contents.start, contents.end - contents.start);
        CheckPackage(pkg);
        ParseController(pkg);
        return pkg;
    }
    if (contents.type != kContents)
        throw SisError("The package is damaged: no contents after the header.");

    // Contents: [ControllerChecksum] [DataChecksum] Compressed(Controller) Data,
    // in that order and nothing else.
    const std::size_t limit = contents.dataStart + static_cast<std::size_t>(contents.length);
    std::uint32_t storedControllerCrc = 0, storedDataCrc = 0;
    bool haveControllerCrc = false, haveDataCrc = false;
    std::string_view compressedRaw, dataRaw;
    std::size_t pos = contents.dataStart;
    const auto next = [&](std::uint32_t type, const char* name) {
        const FieldView f = ReadField(file, pos, limit, "the package contents");
        if (f.type != type)
            throw SisError(std::string("The package is damaged: SISContents: a field of type ") +
                           std::to_string(f.type) + " stands where " + name + " belongs.");
        pos = f.end;
        return f;
    };
    const auto nextIs = [&](std::uint32_t type) { return limit - pos >= 4 && GetU32(file, pos) == type; };
    for (const std::uint32_t type : {kControllerChecksum, kDataChecksum}) {
        if (!nextIs(type))
            continue;
        const FieldView f = next(type, "a checksum");
        if (f.length < 2)
            throw SisError("The package is damaged: a checksum field is too short.");
        (type == kControllerChecksum ? storedControllerCrc : storedDataCrc) =
            static_cast<unsigned char>(file[f.dataStart]) | static_cast<unsigned char>(file[f.dataStart + 1])
                                                                << 8;
        (type == kControllerChecksum ? haveControllerCrc : haveDataCrc) = true;
        pkg.before.emplace_back(file.substr(f.start, f.end - f.start));
    }
    if (pos >= limit)
        throw SisError("The package is damaged: it has no controller.");
    const FieldView f = next(kCompressed, "SISCompressed (the controller)");
    compressedRaw = file.substr(f.start, f.end - f.start);
    if (f.length < 12)
        throw SisError("The package is damaged: the compressed controller has no size.");
    pkg.compression = GetU32(file, f.dataStart);
    const std::uint64_t size = GetU64(file, f.dataStart + 4);
    const std::string_view payload = file.substr(f.dataStart + 12, f.length - 12);
    if (size > kMaxControllerSize)
        throw SisError("The package is damaged or hostile: its controller claims " + std::to_string(size) +
                       " bytes (at most " + std::to_string(kMaxControllerSize) + " are accepted).");
    if (pkg.compression == 0) {
        if (payload.size() != size)
            throw SisError("The package is damaged: the stored controller's size does not match.");
        pkg.controller = payload;
    } else if (pkg.compression == 1) {
        pkg.controller = Inflate(payload, size);
    } else {
        throw SisError("The package uses an unknown compression (" + std::to_string(pkg.compression) + ").");
    }
    if (pos >= limit)
        throw SisError("The package is damaged: SISContents: no SISData follows the controller.");
    const FieldView data = next(kData, "SISData");
    dataRaw = file.substr(data.start, data.end - data.start);
    pkg.after.emplace_back(dataRaw);
    // What follows SISData inside SISContents is passed over, as a phone
    // does, and kept as it is.
    if (pos < limit)
        pkg.after.emplace_back(file.substr(pos, limit - pos));
    CheckPackage(pkg);
    ParseController(pkg);
    pkg.controllerChecksumOk = !haveControllerCrc || storedControllerCrc == Crc16(compressedRaw);
    pkg.dataChecksumOk = !haveDataCrc || storedDataCrc == Crc16(dataRaw);
    return pkg;
}

std::string SerializePackage(const Package& pkg) {
    std::string compressed;
    PutU32(compressed, pkg.compression);
    PutU64(compressed, pkg.controller.size());
    compressed += pkg.compression == 1 ? Deflate(pkg.controller) : pkg.controller;
    const std::string compressedField = Field(kCompressed, compressed);

    std::string contents;
    for (const auto& raw : pkg.before) {
        if (GetU32(raw, 0) == kControllerChecksum) {
            std::string crc;
            PutU16(crc, Crc16(compressedField));
            contents += Field(kControllerChecksum, crc);
        } else {
            contents += raw;
        }
    }
    contents += compressedField;
    for (const auto& raw : pkg.after)
        contents += raw;
    return pkg.header + Field(kContents, contents) + pkg.trailer;
}

std::string_view BytesToSign(const Package& pkg) {
    return std::string_view(pkg.controller).substr(pkg.bodyStart, pkg.dataIndex - pkg.bodyStart);
}

std::string_view SignedBytesOf(const Package& pkg, const ChainView& chain) {
    return std::string_view(pkg.controller).substr(pkg.bodyStart, chain.start - pkg.bodyStart);
}

std::string ChainField(std::string_view algorithmOid, std::string_view signature,
                       std::string_view certificatesDer) {
    const std::string sig = Field(kSignatureAlgorithm, StringField(algorithmOid)) + Field(kBlob, signature);
    const std::string array = ArrayField(kSignature, {sig});
    return Field(kSignatureCertificateChain, array + Field(kCertificateChain, Field(kBlob, certificatesDer)));
}

void AppendChain(Package& pkg, std::string_view chainField) {
    SpliceController(pkg, pkg.dataIndex, pkg.dataIndex, chainField);
}

void RemoveLastChain(Package& pkg) {
    if (pkg.chains.empty())
        throw SisError("The package has no signature to remove.");
    const ChainView last = pkg.chains.back();
    SpliceController(pkg, last.start, last.end, {});
}

std::string Deflate(std::string_view bytes) {
    uLongf size = compressBound(static_cast<uLong>(bytes.size()));
    std::string out(size, '\0');
    if (compress2(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(bytes.data()),
                  static_cast<uLong>(bytes.size()), Z_DEFAULT_COMPRESSION) != Z_OK)
        throw SisError("Compressing the controller failed.");
    out.resize(size);
    return out;
}

InflateEnd InflatePieces(std::string_view bytes, std::uint64_t limit,
                         const std::function<void(const char*, std::size_t)>& take, std::uint64_t& total) {
    if (bytes.size() > 0xFFFFFFFFu)
        throw SisError("The package's compressed data is too large.");
    z_stream zs{};
    if (inflateInit(&zs) != Z_OK)
        throw SisError("Cannot start decompressing data of the package.");
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
    zs.avail_in = static_cast<uInt>(bytes.size());
    total = 0;
    char chunk[65536];
    int rc = Z_OK;
    while (rc == Z_OK) {
        zs.next_out = reinterpret_cast<Bytef*>(chunk);
        zs.avail_out = sizeof chunk;
        rc = inflate(&zs, Z_NO_FLUSH);
        const std::size_t produced = sizeof chunk - zs.avail_out;
        total += produced;
        if (total > limit)
            break;
        take(chunk, produced);
    }
    inflateEnd(&zs);
    if (total > limit)
        return InflateEnd::TooLarge;
    return rc == Z_STREAM_END ? InflateEnd::Complete : InflateEnd::Damaged;
}

std::string Inflate(std::string_view bytes, std::uint64_t expectedSize) {
    std::string out;
    std::uint64_t total = 0;
    const InflateEnd end = InflatePieces(
        bytes, expectedSize, [&](const char* data, std::size_t n) { out.append(data, n); }, total);
    if (end == InflateEnd::TooLarge)
        throw SisError("The package is damaged: the controller inflates to more than its stated size.");
    if (end != InflateEnd::Complete || total != expectedSize)
        throw SisError("The package is damaged: its compressed controller cannot be inflated.");
    return out;
}

} // namespace jarseal::signsis
