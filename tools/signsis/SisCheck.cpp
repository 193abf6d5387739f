// The full walk of a package before anything reports on it, signs or unsigns
// it: every field of the controller and of the data, in the place and order
// the format gives it, and every file's SHA-1 against its data. The walk reads
// as a phone's installer reads: a structure's parts may run into its own
// padding, parts after the known ones are passed over, and a fixed-size value
// may be followed by more bytes. A failure names the path of the field and the
// reason.
#include "SisFormat.h"

#include <openssl/evp.h>
#include <zlib.h>

#include <algorithm>
#include <map>
#include <memory>
#include <utility>

namespace jarseal::signsis {

namespace {

enum : std::uint32_t {
    kVersion = 4,
    kVersionRange = 5,
    kDate = 6,
    kTime = 7,
    kDateTime = 8,
    kUid = 9,
    kLanguage = 11,
    kInfo = 14,
    kSupportedLanguages = 15,
    kSupportedOptions = 16,
    kPrerequisites = 17,
    kDependency = 18,
    kProperties = 19,
    kProperty = 20,
    kLogo = 23,
    kFileDescription = 24,
    kHash = 25,
    kIf = 26,
    kElseIf = 27,
    kInstallBlock = 28,
    kExpression = 29,
    kDataUnit = 31,
    kFileData = 32,
    kSupportedOption = 33,
    kCapabilities = 41,
};

// Deeper nesting of conditions, expressions and embedded packages than any
// real package has; it keeps the walk's stack bounded.
constexpr int kMaxDepth = 256;
// The hash algorithm code of SHA-1, the only one defined.
constexpr std::uint32_t kHashSha1 = 1;
// Files marked "delete on uninstall" carry no data to check.
constexpr std::uint32_t kOperationNull = 8;

std::string Name(std::uint32_t type) {
    static const char* const names[] = {nullptr,
                                        "SISString",
                                        "SISArray",
                                        "SISCompressed",
                                        "SISVersion",
                                        "SISVersionRange",
                                        "SISDate",
                                        "SISTime",
                                        "SISDateTime",
                                        "SISUid",
                                        nullptr,
                                        "SISLanguage",
                                        "SISContents",
                                        "SISController",
                                        "SISInfo",
                                        "SISSupportedLanguages",
                                        "SISSupportedOptions",
                                        "SISPrerequisites",
                                        "SISDependency",
                                        "SISProperties",
                                        "SISProperty",
                                        "SISSignatures",
                                        "SISCertificateChain",
                                        "SISLogo",
                                        "SISFileDescription",
                                        "SISHash",
                                        "SISIf",
                                        "SISElseIf",
                                        "SISInstallBlock",
                                        "SISExpression",
                                        "SISData",
                                        "SISDataUnit",
                                        "SISFileData",
                                        "SISSupportedOption",
                                        "SISControllerChecksum",
                                        "SISDataChecksum",
                                        "SISSignature",
                                        "SISBlob",
                                        "SISSignatureAlgorithm",
                                        "SISSignatureCertificateChain",
                                        "SISDataIndex",
                                        "SISCapabilities"};
    if (type < sizeof names / sizeof names[0] && names[type])
        return names[type];
    return "a field of unknown type " + std::to_string(type);
}

[[noreturn]] void Damaged(const std::string& path, const std::string& reason) {
    throw SisError("The package is damaged: " + path + ": " + reason + ".");
}

std::size_t DataEnd(const FieldView& f) {
    return f.dataStart + static_cast<std::size_t>(f.length);
}

// Reads a field (typed) or an array element (untyped, of the array's type) at
// pos, inside its parent that ends at limit. path names the field.
FieldView ReadAt(std::string_view b, std::size_t pos, std::size_t limit, bool typed, std::uint32_t type,
                 const std::string& path) {
    FieldView f;
    f.start = pos;
    if (typed) {
        if (limit - pos < 4)
            Damaged(path, "its header runs past its parent");
        f.type = GetU32(b, pos);
        pos += 4;
        if (f.type != type)
            Damaged(path, Name(f.type) + " stands where " + Name(type) + " belongs");
    } else {
        f.type = type;
    }
    if (limit - pos < 4)
        Damaged(path, "its header runs past its parent");
    std::uint64_t length = GetU32(b, pos);
    pos += 4;
    if (length & 0x80000000u) {
        if (limit - pos < 4)
            Damaged(path, "its header runs past its parent");
        length = (length & 0x7FFFFFFFu) | static_cast<std::uint64_t>(GetU32(b, pos)) << 31;
        pos += 4;
    }
    if (length > limit - pos)
        Damaged(path, "length " + std::to_string(length) + " runs past its parent (" +
                          std::to_string(limit - pos) + " bytes)");
    f.dataStart = pos;
    f.length = length;
    const std::size_t end = pos + static_cast<std::size_t>(length);
    const std::size_t padding = static_cast<std::size_t>((4 - length % 4) % 4);
    // The last child may end without its padding where its parent ends.
    f.end = limit - end < padding ? limit : end + padding;
    return f;
}

// The children of one field, read in order. Like a phone's reader, a part may
// run into the field's own padding, and what follows the known parts up to
// the field's end is passed over (a later format version's additions).
struct Seq {
    std::string_view b;
    std::size_t pos, limit, paddedEnd;
    std::string path;

    Seq(std::string_view buffer, const FieldView& parent, std::string parentPath)
        : b(buffer), pos(parent.dataStart), limit(DataEnd(parent)), paddedEnd(parent.end),
          path(std::move(parentPath)) {}

    std::string Child(std::uint32_t type) const { return path + "/" + Name(type); }

    FieldView Need(std::uint32_t type) {
        const FieldView f = ReadAt(b, pos, paddedEnd, true, type, Child(type));
        pos = f.end;
        return f;
    }
    bool Next(std::uint32_t type) const { return pos < limit && limit - pos >= 4 && GetU32(b, pos) == type; }
    // Raw data bytes that are no field (counts, flags, indexes).
    std::size_t Bytes(std::size_t n, const char* what) {
        if (paddedEnd - pos < n)
            Damaged(path, std::string("its ") + what + " runs past its end");
        const std::size_t at = pos;
        pos += n;
        return at;
    }
    // The end of the known parts; anything after them is passed over.
    void End() const {}
};

struct FileRef {
    std::uint32_t fileIndex = 0;
    std::string hash;
    std::string path;
};

struct ControllerRefs {
    std::uint32_t dataIndex = 0;
    std::vector<FileRef> files;
    ControllerFacts facts;
};

struct FileDataView {
    std::uint32_t algorithm = 0;
    std::uint64_t size = 0;
    std::size_t payload = 0, payloadLength = 0;
    std::string path;
};

class Walker {
  public:
    explicit Walker(std::string_view controller) : c_(controller) {}

    // The controller of the file (or embedded in it) whose field or element is f.
    void Controller(const FieldView& f, const std::string& path, int depth) {
        Enter(depth, path);
        Seq s(c_, f, path);
        ControllerRefs refs;
        refs.facts.embedded = depth > 0;
        const NameCounts names = Info(s.Need(kInfo), s.Child(kInfo), refs.facts);
        {
            const FieldView options = s.Need(kSupportedOptions);
            Seq o(c_, options, s.Child(kSupportedOptions));
            ArrayOf(o.Need(kArray), o.Child(kArray), kSupportedOption,
                    [&](const FieldView& e, const std::string& p) { StringArrayIn(e, p); });
            o.End();
        }
        {
            const FieldView languages = s.Need(kSupportedLanguages);
            Seq l(c_, languages, s.Child(kSupportedLanguages));
            const std::size_t count =
                ArrayOf(l.Need(kArray), l.Child(kArray), kLanguage,
                        [&](const FieldView& e, const std::string& p) { Fixed(e, p, 4); });
            l.End();
            // A phone shows the name and vendor of the language it picks (its
            // own, or the first): each language needs both.
            if (count == 0)
                Damaged(s.Child(kSupportedLanguages), "it names no language");
            if (names.names < count)
                Damaged(s.Child(kInfo), std::to_string(names.names) + " name(s) for " +
                                            std::to_string(count) + " language(s)");
            if (names.vendors < count)
                Damaged(s.Child(kInfo), std::to_string(names.vendors) + " vendor name(s) for " +
                                            std::to_string(count) + " language(s)");
        }
        {
            const FieldView prerequisites = s.Need(kPrerequisites);
            Seq p(c_, prerequisites, s.Child(kPrerequisites));
            for (int i = 0; i < 2; ++i)
                ArrayOf(p.Need(kArray), p.Child(kArray), kDependency,
                        [&](const FieldView& e, const std::string& q) { Dependency(e, q); });
            p.End();
        }
        {
            const FieldView properties = s.Need(kProperties);
            Seq p(c_, properties, s.Child(kProperties));
            ArrayOf(p.Need(kArray), p.Child(kArray), kProperty,
                    [&](const FieldView& e, const std::string& q) { Fixed(e, q, 8); });
            p.End();
        }
        if (s.Next(kLogo)) {
            const FieldView logo = s.Need(kLogo);
            Seq l(c_, logo, s.Child(kLogo));
            FileDescription(l.Need(kFileDescription), l.Child(kFileDescription), refs);
            l.End();
        }
        InstallBlock(s.Need(kInstallBlock), s.Child(kInstallBlock), refs, depth + 1);
        while (s.Next(kSignatureCertificateChain)) {
            SignatureChain(s.Need(kSignatureCertificateChain), s.Child(kSignatureCertificateChain));
            ++refs.facts.chains;
        }
        const FieldView index = s.Need(kDataIndex);
        Fixed(index, s.Child(kDataIndex), 4);
        refs.dataIndex = GetU32(c_, index.dataStart);
        s.End();
        controllers_.push_back(std::move(refs));
    }

    std::vector<ControllerRefs>& Controllers() { return controllers_; }

  private:
    std::string_view c_;
    std::vector<ControllerRefs> controllers_;

    static void Enter(int depth, const std::string& path) {
        if (depth > kMaxDepth)
            Damaged(path, "nested more than " + std::to_string(kMaxDepth) + " levels deep");
    }

    // Walks the elements of an array of the given type; returns their number.
    template <typename Fn>
    std::size_t ArrayOf(const FieldView& array, const std::string& path, std::uint32_t elementType,
                        Fn&& each) {
        if (array.length < 4)
            Damaged(path, "it has no element type");
        const std::uint32_t type = GetU32(c_, array.dataStart);
        if (type != elementType)
            Damaged(path, "its elements are " + Name(type) + " where " + Name(elementType) + " belongs");
        const std::size_t limit = DataEnd(array);
        std::size_t index = 0;
        for (std::size_t pos = array.dataStart + 4; pos < limit; ++index) {
            const std::string p = path + "/" + Name(elementType) + "[" + std::to_string(index) + "]";
            const FieldView e = ReadAt(c_, pos, limit, false, elementType, p);
            each(e, p);
            pos = e.end;
        }
        return index;
    }

    // A value of a fixed size: a phone reads its bytes, from the field's
    // padding too, and passes over any bytes after them.
    void Fixed(const FieldView& f, const std::string& path, std::uint64_t size) {
        if (f.end - f.dataStart < size)
            Damaged(path,
                    "length " + std::to_string(f.length) + " where " + std::to_string(size) + " belongs");
    }

    void String(const FieldView& f, const std::string& path) {
        if (f.length % 2)
            Damaged(path, "odd length " + std::to_string(f.length) + " for UTF-16 text");
    }

    // A field whose data is one SISArray of SISString.
    void StringArrayIn(const FieldView& f, const std::string& path) {
        Seq s(c_, f, path);
        StringArray(s.Need(kArray), s.Child(kArray));
        s.End();
    }

    std::size_t StringArray(const FieldView& array, const std::string& path) {
        return ArrayOf(array, path, kString, [&](const FieldView& e, const std::string& p) { String(e, p); });
    }

    void Version(const FieldView& f, const std::string& path) { Fixed(f, path, 12); }

    struct NameCounts {
        std::size_t names = 0, vendors = 0;
    };

    NameCounts Info(const FieldView& f, const std::string& path, ControllerFacts& facts) {
        Seq s(c_, f, path);
        const FieldView uid = s.Need(kUid);
        Fixed(uid, s.Child(kUid), 4);
        facts.uid = GetU32(c_, uid.dataStart);
        String(s.Need(kString), s.Child(kString));
        NameCounts counts;
        counts.names = StringArray(s.Need(kArray), s.Child(kArray) + "(names)");
        counts.vendors = StringArray(s.Need(kArray), s.Child(kArray) + "(vendor names)");
        Version(s.Need(kVersion), s.Child(kVersion));
        const FieldView when = s.Need(kDateTime);
        Seq t(c_, when, s.Child(kDateTime));
        Fixed(t.Need(kDate), t.Child(kDate), 4);
        Fixed(t.Need(kTime), t.Child(kTime), 3);
        t.End();
        s.Bytes(2, "install type and flags");
        s.End();
        return counts;
    }

    void Dependency(const FieldView& f, const std::string& path) {
        Seq s(c_, f, path);
        Fixed(s.Need(kUid), s.Child(kUid), 4);
        if (s.Next(kVersionRange)) {
            const FieldView range = s.Need(kVersionRange);
            Seq r(c_, range, s.Child(kVersionRange));
            Version(r.Need(kVersion), r.Child(kVersion));
            if (r.Next(kVersion))
                Version(r.Need(kVersion), r.Child(kVersion));
            r.End();
        }
        StringArray(s.Need(kArray), s.Child(kArray));
        s.End();
    }

    void FileDescription(const FieldView& f, const std::string& path, ControllerRefs& refs) {
        Seq s(c_, f, path);
        String(s.Need(kString), s.Child(kString) + "(target)");
        String(s.Need(kString), s.Child(kString) + "(MIME type)");
        if (s.Next(kCapabilities)) {
            const FieldView capabilities = s.Need(kCapabilities);
            if (capabilities.length % 4)
                Damaged(s.Child(kCapabilities), "length " + std::to_string(capabilities.length) +
                                                    " is no whole number of 32-bit sets");
            for (std::size_t at = 0; at < capabilities.length; at += 4) {
                if (refs.facts.capabilities.size() <= at / 4)
                    refs.facts.capabilities.push_back(0);
                refs.facts.capabilities[at / 4] |= GetU32(c_, capabilities.dataStart + at);
            }
        }
        const FieldView hash = s.Need(kHash);
        Seq h(c_, hash, s.Child(kHash));
        const std::uint32_t algorithm = GetU32(c_, h.Bytes(4, "algorithm"));
        const FieldView digest = h.Need(kBlob);
        h.End();
        if (algorithm != kHashSha1)
            Damaged(s.Child(kHash), "hash algorithm " + std::to_string(algorithm) + " is not SHA-1");
        if (digest.length != 20)
            Damaged(h.Child(kBlob), "a SHA-1 hash of " + std::to_string(digest.length) + " bytes");
        const std::size_t at = s.Bytes(28, "operation, sizes and file index");
        s.End();
        if (GetU32(c_, at) == kOperationNull)
            return;
        refs.files.push_back({GetU32(c_, at + 24), std::string(digest.Data(c_)), path});
    }

    void InstallBlock(const FieldView& f, const std::string& path, ControllerRefs& refs, int depth) {
        Enter(depth, path);
        Seq s(c_, f, path);
        ArrayOf(s.Need(kArray), s.Child(kArray) + "(files)", kFileDescription,
                [&](const FieldView& e, const std::string& p) { FileDescription(e, p, refs); });
        ArrayOf(s.Need(kArray), s.Child(kArray) + "(embedded packages)", kController,
                [&](const FieldView& e, const std::string& p) { Controller(e, p, depth + 1); });
        ArrayOf(s.Need(kArray), s.Child(kArray) + "(conditions)", kIf,
                [&](const FieldView& e, const std::string& p) {
                    Seq i(c_, e, p);
                    Expression(i.Need(kExpression), i.Child(kExpression), depth + 1);
                    InstallBlock(i.Need(kInstallBlock), i.Child(kInstallBlock), refs, depth + 1);
                    ArrayOf(i.Need(kArray), i.Child(kArray), kElseIf,
                            [&](const FieldView& ee, const std::string& pp) {
                                Seq el(c_, ee, pp);
                                Expression(el.Need(kExpression), el.Child(kExpression), depth + 1);
                                InstallBlock(el.Need(kInstallBlock), el.Child(kInstallBlock), refs,
                                             depth + 1);
                                el.End();
                            });
                    i.End();
                });
        s.End();
    }

    // An expression holds what its operator needs, as a phone reads it:
    // comparisons, AND, OR and application properties two operands, NOT and
    // device properties one, EXISTS and strings a string, options, variables
    // and numbers only their value. A phone refuses any other operator.
    void Expression(const FieldView& f, const std::string& path, int depth) {
        Enter(depth, path);
        Seq s(c_, f, path);
        const std::uint32_t op = GetU32(c_, s.Bytes(8, "operator and value"));
        int operands = 0;
        bool string = false;
        if ((op >= 1 && op <= 8) || op == 11)
            operands = 2;
        else if (op == 9 || op == 12)
            operands = 1;
        else if (op == 10 || op == 13)
            string = true;
        else if (op < 14 || op > 16)
            Damaged(path, "unknown operator " + std::to_string(op));
        if (string)
            String(s.Need(kString), s.Child(kString));
        for (int i = 0; i < operands; ++i)
            Expression(s.Need(kExpression), s.Child(kExpression), depth + 1);
        s.End();
    }

    void SignatureChain(const FieldView& f, const std::string& path) {
        Seq s(c_, f, path);
        ArrayOf(s.Need(kArray), s.Child(kArray), kSignature, [&](const FieldView& e, const std::string& p) {
            Seq sig(c_, e, p);
            const FieldView algorithm = sig.Need(kSignatureAlgorithm);
            Seq a(c_, algorithm, sig.Child(kSignatureAlgorithm));
            String(a.Need(kString), a.Child(kString));
            a.End();
            sig.Need(kBlob);
            sig.End();
        });
        const FieldView certificates = s.Need(kCertificateChain);
        Seq cs(c_, certificates, s.Child(kCertificateChain));
        cs.Need(kBlob);
        cs.End();
        s.End();
    }
};

// The data units of the Data field, each a list of its files.
std::vector<std::vector<FileDataView>> DataUnits(std::string_view d) {
    std::vector<std::vector<FileDataView>> units;
    const FieldView data = ReadAt(d, 0, d.size(), true, kData, "SISData");
    Seq s(d, data, "SISData");
    const FieldView array = s.Need(kArray);
    s.End();
    const std::string arrayPath = s.Child(kArray);
    if (array.length < 4 || GetU32(d, array.dataStart) != kDataUnit)
        Damaged(arrayPath, array.length < 4 ? std::string("it has no element type")
                                            : "its elements are " + Name(GetU32(d, array.dataStart)) +
                                                  " where SISDataUnit belongs");
    for (std::size_t pos = array.dataStart + 4; pos < DataEnd(array);) {
        const std::string unitPath = arrayPath + "/SISDataUnit[" + std::to_string(units.size()) + "]";
        const FieldView unit = ReadAt(d, pos, DataEnd(array), false, kDataUnit, unitPath);
        pos = unit.end;
        units.emplace_back();
        Seq u(d, unit, unitPath);
        const FieldView files = u.Need(kArray);
        u.End();
        const std::string filesPath = u.Child(kArray);
        if (files.length < 4 || GetU32(d, files.dataStart) != kFileData)
            Damaged(filesPath, files.length < 4 ? std::string("it has no element type")
                                                : "its elements are " + Name(GetU32(d, files.dataStart)) +
                                                      " where SISFileData belongs");
        for (std::size_t q = files.dataStart + 4; q < DataEnd(files);) {
            const std::string filePath =
                filesPath + "/SISFileData[" + std::to_string(units.back().size()) + "]";
            const FieldView file = ReadAt(d, q, DataEnd(files), false, kFileData, filePath);
            q = file.end;
            Seq fs(d, file, filePath);
            const FieldView compressed = fs.Need(kCompressed);
            fs.End();
            FileDataView v;
            v.path = fs.Child(kCompressed);
            if (compressed.length < 12)
                Damaged(v.path, "it has no algorithm and size");
            v.algorithm = GetU32(d, compressed.dataStart);
            v.size = GetU64(d, compressed.dataStart + 4);
            v.payload = compressed.dataStart + 12;
            v.payloadLength = static_cast<std::size_t>(compressed.length - 12);
            if (v.algorithm > 1)
                Damaged(v.path, "unknown compression " + std::to_string(v.algorithm));
            if (v.algorithm == 0 && v.size != v.payloadLength)
                Damaged(v.path, "stored data of " + std::to_string(v.payloadLength) + " bytes claims " +
                                    std::to_string(v.size));
            units.back().push_back(std::move(v));
        }
    }
    return units;
}

struct MdFree {
    void operator()(EVP_MD_CTX* c) const { EVP_MD_CTX_free(c); }
};

// The SHA-1 of a file's data after decompression, inflated in pieces.
std::string FileSha1(std::string_view d, const FileDataView& f) {
    std::unique_ptr<EVP_MD_CTX, MdFree> md(EVP_MD_CTX_new());
    if (!md || EVP_DigestInit_ex(md.get(), EVP_sha1(), nullptr) != 1)
        throw SisError("SHA-1 is not available.");
    const std::string_view payload = d.substr(f.payload, f.payloadLength);
    if (f.algorithm == 0) {
        EVP_DigestUpdate(md.get(), payload.data(), payload.size());
    } else {
        if (payload.size() > 0xFFFFFFFFu)
            Damaged(f.path, "compressed data too large");
        std::uint64_t total = 0;
        const InflateEnd end = InflatePieces(
            payload, f.size, [&](const char* data, std::size_t n) { EVP_DigestUpdate(md.get(), data, n); },
            total);
        if (end == InflateEnd::TooLarge)
            Damaged(f.path, "the data inflates to more than its stated " + std::to_string(f.size) + " bytes");
        if (end == InflateEnd::Damaged)
            Damaged(f.path, "the compressed data cannot be inflated");
        if (total != f.size)
            Damaged(f.path, "the data inflates to " + std::to_string(total) + " bytes, not the stated " +
                                std::to_string(f.size));
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    EVP_DigestFinal_ex(md.get(), digest, &n);
    return std::string(reinterpret_cast<char*>(digest), n);
}

} // namespace

void CheckPackage(Package& pkg) {
    const std::string_view c = pkg.controller;
    const FieldView controller = ReadAt(c, 0, c.size(), true, kController, "SISController");
    if (controller.end != c.size())
        Damaged("SISController", std::to_string(c.size() - controller.end) +
                                     " unexpected bytes follow it inside its compressed field");
    Walker walker(c);
    walker.Controller(controller, "SISController", 0);
    pkg.controllers.clear();
    for (const ControllerRefs& refs : walker.Controllers())
        pkg.controllers.push_back(refs.facts);
    // The package's own controller is walked last; it comes first.
    std::rotate(pkg.controllers.rbegin(), pkg.controllers.rbegin() + 1, pkg.controllers.rend());
    if (pkg.stub)
        return; // a bare controller: its files are in ROM, not in this file

    if (pkg.after.empty())
        Damaged("SISContents", "no SISData follows the controller");
    const std::string_view d = pkg.after.front();
    const std::vector<std::vector<FileDataView>> units = DataUnits(d);
    // No data unit at all: a stub, whose files a phone takes from where they
    // already are (a memory card, ROM); there is no data to check them against.
    pkg.noData = units.empty();
    if (pkg.noData)
        return;

    std::uint64_t budget = kMaxUnpackedFiles;
    std::map<std::pair<std::uint32_t, std::uint32_t>, std::string> hashes;
    for (const ControllerRefs& refs : walker.Controllers()) {
        for (const FileRef& file : refs.files) {
            if (refs.dataIndex >= units.size())
                Damaged(file.path, "its data index " + std::to_string(refs.dataIndex) + " is past the " +
                                       std::to_string(units.size()) + " data unit(s) of SISData");
            const auto& unit = units[refs.dataIndex];
            if (file.fileIndex >= unit.size())
                Damaged(file.path, "its file index " + std::to_string(file.fileIndex) + " is past the " +
                                       std::to_string(unit.size()) + " file(s) of data unit " +
                                       std::to_string(refs.dataIndex));
            const auto key = std::make_pair(refs.dataIndex, file.fileIndex);
            auto found = hashes.find(key);
            if (found == hashes.end()) {
                const FileDataView& data = unit[file.fileIndex];
                if (data.size > budget)
                    throw SisError("The package is damaged or hostile: its files unpack to more than " +
                                   std::to_string(kMaxUnpackedFiles) + " bytes (at most that is accepted).");
                budget -= data.size;
                found = hashes.emplace(key, FileSha1(d, data)).first;
            }
            if (found->second != file.hash)
                Damaged(file.path, "the SHA-1 of its data (" + unit[file.fileIndex].path +
                                       ") does not match its SISHash");
        }
    }
}

} // namespace jarseal::signsis
