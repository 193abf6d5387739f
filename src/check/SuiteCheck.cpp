#include "check/SuiteCheck.h"

#include "check/SisCheck.h"
#include "common/Translate.h"

#include "common/Errors.h"
#include "common/FileSystem.h"
#include "common/Manifest.h"
#include "common/Text.h"
#include "unzip/ZipLayout.h"
#include "unzip/zipdll/UnzipDll.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <memory>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <set>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

namespace jarseal {

namespace {

constexpr int kInvalidDescriptor = 906;
constexpr int kJarSizeMismatch = 904;
constexpr int kAttributeMismatch = 905;
constexpr int kInvalidJar = 907;
constexpr int kAuthentication = 909;
constexpr int kAuthorization = 910;

// The largest manifest read from a jar; real ones are a few kilobytes.
constexpr std::uint64_t kMaxManifestBytes = 8u * 1024 * 1024;

constexpr std::size_t kSha1Bytes = 20;
using Sha1Digest = std::array<unsigned char, kSha1Bytes>;

using Attributes = std::vector<std::pair<std::string, std::string>>;

const std::string* Find(const Attributes& attrs, const std::string& name) {
    for (const auto& [n, v] : attrs)
        if (n == name)
            return &v;
    return nullptr;
}

// The attributes a descriptor must have.
constexpr std::array<const char*, 5> kRequiredInDescriptor = {
    "MIDlet-Name", "MIDlet-Version", "MIDlet-Vendor", "MIDlet-Jar-URL", "MIDlet-Jar-Size"};

bool RequiredInDescriptor(const std::string& name) {
    return std::find(kRequiredInDescriptor.begin(), kRequiredInDescriptor.end(), name) !=
           kRequiredInDescriptor.end();
}

// Reads the descriptor strictly, noting every line a strict installer
// refuses. A byte-order mark at the start becomes part of the first
// attribute's name as the phone reads it: that attribute is lost, and its
// name goes to lostToMark.
Attributes ParseDescriptor(const std::string& text, CheckReport& report, std::string& lostToMark) {
    Attributes attrs;
    std::size_t start = 0;
    const bool mark = text.rfind("\xEF\xBB\xBF", 0) == 0;
    if (mark)
        start = 3;
    std::set<std::string> seen;
    int number = 0;
    while (start < text.size()) {
        auto end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        ++number;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const std::string where = TrFormat("descriptor line {1}: ", {std::to_string(number)});
        const bool behindMark = mark && number == 1;
        if (TrimBlanksAndTabs(line).empty()) {
            if (behindMark)
                report.findings.push_back({kInvalidDescriptor, where + Tr("holds a byte-order mark alone")});
            continue;
        }
        if (line[0] == ' ' || line[0] == '\t') {
            report.findings.push_back(
                {kInvalidDescriptor, where + Tr("starts with a blank (a descriptor has no "
                                                "continuation lines)")});
            continue;
        }
        const auto colon = line.find(':');
        if (colon == std::string::npos) {
            report.findings.push_back({kInvalidDescriptor, where + Tr("is not \"name: value\"")});
            continue;
        }
        const std::string name = line.substr(0, colon);
        if (!ValidAttributeName(name)) {
            report.findings.push_back(
                {kInvalidDescriptor, where + TrFormat("\"{1}\" is not a valid attribute name", {name})});
            continue;
        }
        if (behindMark) {
            // Another name to the phone: neither this attribute nor a repeat of it.
            const bool required = RequiredInDescriptor(name);
            report.findings.push_back(
                {required ? kInvalidDescriptor : 0,
                 TrFormat(required ? "descriptor: starts with a byte-order mark: the phone "
                                     "loses the first attribute, {1}, which a descriptor "
                                     "must have"
                                   : "descriptor: starts with a byte-order mark: the phone "
                                     "loses the first attribute, {1}",
                          {name})});
            lostToMark = name;
            continue;
        }
        if (!seen.insert(name).second)
            report.findings.push_back({kInvalidDescriptor, where + TrFormat("{1} appears twice", {name})});
        std::string value = TrimBlanksAndTabs(line.substr(colon + 1));
        if (HasControlCharacter(value, true))
            report.findings.push_back(
                {kInvalidDescriptor,
                 where + TrFormat("{1}'s value holds a control character (a line break, NUL)", {name})});
        attrs.emplace_back(name, std::move(value));
    }
    return attrs;
}

// The main section of a manifest, continuation lines joined.
Attributes ParseManifest(const std::string& text) {
    Attributes attrs;
    for (const auto& line : ManifestLines(text)) {
        if (line.empty())
            break; // the per-entry sections follow
        const auto colon = line.find(':');
        if (colon == std::string::npos)
            continue;
        attrs.emplace_back(line.substr(0, colon), TrimBlanksAndTabs(line.substr(colon + 1)));
    }
    return attrs;
}

// True when text is well-formed UTF-8: every sequence complete, in its
// shortest form, and neither a surrogate nor beyond U+10FFFF.
bool IsUtf8(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        std::size_t length = 1;
        std::uint32_t point = lead;
        std::uint32_t least = 0;
        if (lead >= 0xF0 && lead < 0xF8) {
            length = 4;
            point = lead & 0x07u;
            least = 0x10000;
        } else if (lead >= 0xE0 && lead < 0xF0) {
            length = 3;
            point = lead & 0x0Fu;
            least = 0x800;
        } else if (lead >= 0xC0 && lead < 0xE0) {
            length = 2;
            point = lead & 0x1Fu;
            least = 0x80;
        } else if (lead >= 0x80) {
            return false;
        }
        if (text.size() - i < length)
            return false;
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0u) != 0x80u)
                return false;
            point = (point << 6) | (next & 0x3Fu);
        }
        if (point < least || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF))
            return false;
        i += length;
    }
    return true;
}

// A note when an attribute value is not UTF-8 (a name typed in an 8-bit
// code page): the phone decodes it as UTF-8 and shows something else.
void NoteEightBitTexts(const Attributes& attrs, const std::string& which, CheckReport& report) {
    for (const auto& [name, value] : attrs)
        if (!IsUtf8(value)) {
            report.findings.push_back(
                {0, TrFormat("{1} is not UTF-8 ({2}): a phone may show the suite's name and texts garbled",
                             {Tr(which), name})});
            return;
        }
}

// A name from the jar as it may be shown: control characters become "?".
std::string Shown(std::string name) {
    std::replace_if(
        name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; },
        '?');
    return name;
}

std::string MiB(std::uint64_t bytes) {
    return std::to_string(bytes >> 20) + " MiB";
}

// Unpacks the data of a jar's entries and checks it against each entry's
// size and CRC. The data passes through two buffers of a fixed size, so
// memory stays the same whatever the entries hold; every byte unpacked counts
// towards the jar's allowance of unzipdll::kMaxTotalBytes.
class EntryReader {
  public:
    explicit EntryReader(const ZipBytes& bytes) : bytes_(bytes) {
        ready_ = inflateInit2(&z_, -MAX_WBITS) == Z_OK;
    }
    EntryReader(const EntryReader&) = delete;
    EntryReader& operator=(const EntryReader&) = delete;
    ~EntryReader() {
        if (ready_)
            inflateEnd(&z_);
    }

    // Unpacks one entry; keep, when given, receives its data. An entry
    // stating more than limit bytes is refused unread, and one that unpacks
    // to more than it states is given up at that point. Returns what is wrong
    // with the entry, or an empty text when it is sound.
    std::string Unpack(const ZipEntryLayout& entry, std::uint64_t limit, std::string* keep);

    // The bytes unpacked so far; beyond unzipdll::kMaxTotalBytes, the entry
    // that passed the allowance was given up.
    std::uint64_t Unpacked() const { return unpacked_; }

  private:
    static constexpr std::size_t kPiece = 64 * 1024;
    static constexpr std::uint16_t kStored = 0;
    static constexpr std::uint16_t kDeflated = 8;
    static constexpr std::uint16_t kEncrypted = 1; // general-purpose flag

    const ZipBytes& bytes_;
    z_stream z_{};
    bool ready_ = false;
    std::uint64_t unpacked_ = 0;
    std::unique_ptr<unsigned char[]> in_ = std::make_unique_for_overwrite<unsigned char[]>(kPiece);
    std::unique_ptr<unsigned char[]> out_ = std::make_unique_for_overwrite<unsigned char[]>(kPiece);
};

std::string EntryReader::Unpack(const ZipEntryLayout& entry, std::uint64_t limit, std::string* keep) {
    if ((entry.flags & kEncrypted) != 0)
        return Tr("encrypted");
    const bool deflated = entry.method == kDeflated;
    if (!deflated && entry.method != kStored)
        return TrFormat("compression method {1}, which a phone cannot unpack",
                        {std::to_string(entry.method)});
    if (entry.size > limit)
        return TrFormat("states {1} bytes, more than the {2} an entry may unpack to",
                        {std::to_string(entry.size), MiB(limit)});

    std::uint64_t produced = 0;
    uLong crc = crc32(0, nullptr, 0);
    // Counts, checks and keeps a piece of unpacked data; false once the entry
    // or the jar has unpacked to more than it may.
    const auto take = [&](const unsigned char* data, std::size_t size) {
        produced += size;
        unpacked_ += size;
        crc = crc32(crc, data, static_cast<uInt>(size));
        if (keep != nullptr)
            keep->append(reinterpret_cast<const char*>(data), size);
        return produced <= entry.size && unpacked_ <= unzipdll::kMaxTotalBytes;
    };
    const std::string tooMuch =
        TrFormat("unpacks to more than the {1} bytes it states", {std::to_string(entry.size)});
    std::uint64_t at = entry.dataOffset;
    std::uint64_t left = entry.compressedSize;
    // Reads the next piece of the entry's stored data into in_; 0 when none is left or it cannot be read.
    const auto readPiece = [&]() -> std::size_t {
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(left, kPiece));
        if (n == 0 || !bytes_.Read(at, in_.get(), n))
            return 0;
        at += n;
        left -= n;
        return n;
    };

    if (!deflated) {
        while (left > 0) {
            const std::size_t n = readPiece();
            if (n == 0)
                return Tr("cannot be read");
            if (!take(in_.get(), n))
                return tooMuch;
        }
    } else {
        if (!ready_ || inflateReset(&z_) != Z_OK)
            return Tr("cannot be unpacked: no memory for it");
        z_.avail_in = 0;
        int status = Z_OK;
        while (status != Z_STREAM_END) {
            if (z_.avail_in == 0) {
                if (left == 0)
                    return Tr("damaged compressed data"); // ends before the end of its deflate stream
                const std::size_t n = readPiece();
                if (n == 0)
                    return Tr("cannot be read");
                z_.next_in = in_.get();
                z_.avail_in = static_cast<uInt>(n);
            }
            z_.next_out = out_.get();
            z_.avail_out = static_cast<uInt>(kPiece);
            status = inflate(&z_, Z_NO_FLUSH);
            if (status == Z_MEM_ERROR)
                return Tr("cannot be unpacked: no memory for it");
            if (status != Z_OK && status != Z_STREAM_END)
                return Tr("damaged compressed data");
            if (!take(out_.get(), kPiece - z_.avail_out))
                return tooMuch;
        }
    }
    if (produced != entry.size)
        return TrFormat("unpacks to {1} bytes, its header states {2}",
                        {std::to_string(produced), std::to_string(entry.size)});
    if (crc != entry.crc)
        return Tr("bad CRC");
    return {};
}

// What the check takes from the jar, all from one state of the file.
struct JarFacts {
    std::string readError; // why the jar cannot be read; empty when it was read
    std::uint64_t size = 0;
    Sha1Digest sha1{};
    FileStamp stamp;        // the jar as it was read
    std::string archiveWhy; // why the jar is no sound zip archive; nothing below is known then
    std::vector<std::string> damagedEntries; // entries whose data fail their test, in archive order
    std::string firstDamage;                 // what is wrong with the first of them
    bool tooLarge = false; // the entries unpack to more than the jar may; later ones were not tested
    std::set<std::string> entryNames; // the names of the jar's entries
    std::set<std::string> oversized;  // entries stating more than the unzip inflates of one entry
    std::string manifest;             // the text of META-INF/MANIFEST.MF
    std::string manifestWhy;          // why there is no manifest to check; empty when there is
};

// Reads the file from start to end in bounded pieces for its size and SHA-1
// digest; returns its stamp as it was read. Throws RunError as
// ReadFileInPieces does.
FileStamp DigestFile(const std::string& path, std::uint64_t& size, Sha1Digest& sha1) {
    const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> md(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    if (!md || EVP_DigestInit_ex(md.get(), EVP_sha1(), nullptr) != 1)
        throw RunError(kErrAccess, TrFormat("read {1}: no SHA-1 digest to be had", {path}));
    size = 0;
    bool digested = true;
    const FileStamp stamp = ReadFileInPieces(path, [&](const char* data, std::size_t n) {
        size += n;
        digested = EVP_DigestUpdate(md.get(), data, n) == 1;
        return digested;
    });
    if (!digested || EVP_DigestFinal_ex(md.get(), sha1.data(), nullptr) != 1)
        throw RunError(kErrAccess, TrFormat("read {1}: the SHA-1 digest failed", {path}));
    return stamp;
}

// The jar's manifest entry (its name in any letter case), or null.
const ZipEntryLayout* FindManifest(const ZipLayout& layout) {
    static const std::string kName = "META-INF/MANIFEST.MF";
    for (const ZipEntryLayout& entry : layout.entries)
        if (entry.name.size() == kName.size() &&
            std::equal(kName.begin(), kName.end(), entry.name.begin(),
                       [](char a, char b) { return std::toupper(static_cast<unsigned char>(b)) == a; }))
            return &entry;
    return nullptr;
}

// Unpacks every entry; the first damaged one is named with what is wrong
// with it, the rest only counted by name.
void TestEntries(const ZipBytes& bytes, const ZipLayout& layout, JarFacts& facts) {
    EntryReader reader(bytes);
    for (const ZipEntryLayout& entry : layout.entries) {
        const std::string why = reader.Unpack(entry, unzipdll::kMaxEntryBytes, nullptr);
        if (reader.Unpacked() > unzipdll::kMaxTotalBytes) {
            facts.tooLarge = true;
            return;
        }
        if (why.empty())
            continue;
        if (facts.damagedEntries.empty())
            facts.firstDamage = why;
        facts.damagedEntries.push_back(entry.name);
    }
}

void ReadManifest(const ZipBytes& bytes, const ZipLayout& layout, JarFacts& facts) {
    const ZipEntryLayout* entry = FindManifest(layout);
    if (entry == nullptr) {
        facts.manifestWhy = Tr("has no META-INF/MANIFEST.MF");
        return;
    }
    if (entry->size > kMaxManifestBytes) {
        facts.manifestWhy = TrFormat("has a manifest larger than {1}", {MiB(kMaxManifestBytes)});
        return;
    }
    EntryReader reader(bytes);
    const std::string why = reader.Unpack(*entry, kMaxManifestBytes, &facts.manifest);
    if (!why.empty()) {
        facts.manifest.clear();
        facts.manifestWhy = TrFormat("has a damaged manifest: {1}", {why});
    }
}

// Closes a file at the end of its scope.
struct FileCloser {
    int fd = -1;
    FileCloser() = default;
    FileCloser(const FileCloser&) = delete;
    FileCloser& operator=(const FileCloser&) = delete;
    ~FileCloser() {
        if (fd >= 0)
            ::close(fd);
    }
};

// Whether a reading of the jar digests it: only a signature needs that.
enum class Digest { Sha1, None };

// One reading of the jar: its size and digest, its layout, its entries'
// data when testEntries is set, and its manifest.
JarFacts ReadJarFactsOnce(const std::string& archivePath, bool testEntries, Digest digest) {
    JarFacts facts;
    FileCloser file;
    struct stat st {};
    try {
        if (digest == Digest::Sha1)
            facts.stamp = DigestFile(archivePath, facts.size, facts.sha1);
        file.fd = ::open(archivePath.c_str(), O_RDONLY | O_CLOEXEC);
        if (file.fd < 0 || ::fstat(file.fd, &st) != 0)
            ThrowSystemError(errno, "read", archivePath);
        if (digest == Digest::None) {
            facts.stamp = StampOfOpenFile(file.fd).value_or(FileStamp{});
            facts.size = static_cast<std::uint64_t>(st.st_size);
        }
    } catch (const RunError& e) {
        facts.readError = e.what();
        return facts;
    }
    const ZipFileBytes bytes(file.fd, static_cast<std::uint64_t>(st.st_size));
    ZipLayout layout;
    std::string why;
    switch (ReadZipLayout(bytes, unzipdll::kMaxEntries, layout, why)) {
    case ZipLayoutStatus::NotZip:
        facts.archiveWhy = Tr("is not a zip archive");
        return facts;
    case ZipLayoutStatus::Damaged:
        facts.archiveWhy = TrFormat("is damaged: {1}", {Shown(why)});
        return facts;
    case ZipLayoutStatus::Sound:
        break;
    }
    for (const ZipEntryLayout& entry : layout.entries) {
        // An installer that reads the jar as a stream knows the entry by its
        // local name alone, and so misses it (the manifest above all).
        if (!entry.localNameAgrees) {
            facts.archiveWhy =
                TrFormat("names the entry {1} otherwise in its local header than in its directory",
                         {Shown(entry.name)});
            return facts;
        }
        facts.entryNames.insert(entry.name);
        if (entry.size > unzipdll::kMaxEntryBytes)
            facts.oversized.insert(entry.name);
    }
    if (testEntries)
        TestEntries(bytes, layout, facts);
    ReadManifest(bytes, layout, facts);
    return facts;
}

// The jar's facts; a jar written to while it was read is read again, so
// that they all describe one state of it.
JarFacts ReadJarFacts(const std::string& archivePath, bool testEntries, Digest digest = Digest::Sha1) {
    JarFacts facts = ReadJarFactsOnce(archivePath, testEntries, digest);
    for (int again = 0; again < 2 && facts.readError.empty() && StampOfFile(archivePath) != facts.stamp;
         ++again)
        facts = ReadJarFactsOnce(archivePath, testEntries, digest);
    return facts;
}

std::string Base64Decode(const std::string& text, bool& ok) {
    ok = !text.empty() && text.size() % 4 == 0;
    if (!ok)
        return {};
    std::string out(text.size() / 4 * 3, '\0');
    const int n =
        EVP_DecodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                        reinterpret_cast<const unsigned char*>(text.data()), static_cast<int>(text.size()));
    if (n < 0) {
        ok = false;
        return {};
    }
    std::size_t size = static_cast<std::size_t>(n);
    for (std::size_t i = text.size(); i > 0 && text[i - 1] == '=' && size > 0; --i)
        --size;
    out.resize(size);
    return out;
}

using X509Ptr = std::unique_ptr<X509, decltype(&X509_free)>;

std::string NameText(const X509_NAME* name) {
    char buf[512] = {};
    X509_NAME_oneline(name, buf, sizeof buf);
    return buf;
}

// Verifies an RSA PKCS#1 v1.5 signature over a SHA-1 digest; the digest is
// computed by the caller, so a crypto policy against SHA-1 signatures does
// not stand in the way of checking one.
bool VerifySha1Rsa(X509* cert, const Sha1Digest& digest, const std::string& signature) {
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(X509_get_pubkey(cert), EVP_PKEY_free);
    if (!key || EVP_PKEY_get_base_id(key.get()) != EVP_PKEY_RSA)
        return false;
    std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)> ctx(EVP_PKEY_CTX_new(key.get(), nullptr),
                                                                    EVP_PKEY_CTX_free);
    return ctx && EVP_PKEY_verify_init(ctx.get()) == 1 &&
           EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) == 1 &&
           EVP_PKEY_CTX_set_signature_md(ctx.get(), EVP_sha1()) == 1 &&
           EVP_PKEY_verify(ctx.get(), reinterpret_cast<const unsigned char*>(signature.data()),
                           signature.size(), digest.data(), digest.size()) == 1;
}

// "YYYY-MM-DD" of a certificate's time.
std::string DateText(const ASN1_TIME* time) {
    std::tm tm{};
    if (ASN1_TIME_to_tm(time, &tm) != 1)
        return "?";
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
    return text;
}

// The SHA-1 fingerprint of a certificate as phones and keytool show it,
// "AB:CD:...".
std::string Sha1Fingerprint(const X509* cert) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (X509_digest(cert, EVP_sha1(), digest, &size) != 1)
        return "?";
    std::string text;
    char hex[4];
    for (unsigned int i = 0; i < size; ++i) {
        std::snprintf(hex, sizeof hex, i == 0 ? "%02X" : ":%02X", digest[i]);
        text += hex;
    }
    return text;
}

bool SelfSigned(const X509* cert) {
    return X509_NAME_cmp(X509_get_subject_name(cert), X509_get_issuer_name(cert)) == 0;
}

// The note that says which root certificate a phone must hold to install
// the suite: a phone without it refuses a signed suite, however well signed.
// length counts the certificates of the chain before any root it carries.
std::string TrustNote(const std::vector<X509Ptr>& chain, std::size_t length) {
    const X509* last = chain[length - 1].get();
    if (!SelfSigned(last))
        return TrFormat(
            "a phone installs this suite only if it holds the root certificate \"{1}\" that issued "
            "MIDlet-Certificate-1-{2}; a phone without it refuses the suite (909)",
            {NameText(X509_get_issuer_name(last)), std::to_string(length)});
    return TrFormat(
        "a phone installs this suite only if it holds the signer's own certificate as a root: \"{1}\", "
        "SHA-1 {2}, valid {3} to {4}; a phone without it refuses the suite (909). Put it on the phone "
        "with jarseal-cli --export-certificate FILE.cer",
        {NameText(X509_get_subject_name(last)), Sha1Fingerprint(last), DateText(X509_get0_notBefore(last)),
         DateText(X509_get0_notAfter(last))});
}

// What the signer's certificate must allow when it says what it is for: a
// digital signature, and the signing of code.
void CheckSignerUsage(X509* signer, CheckReport& report) {
    const std::uint32_t usage = X509_get_key_usage(signer);
    if (usage != UINT32_MAX && (usage & KU_DIGITAL_SIGNATURE) == 0)
        report.findings.push_back(
            {kAuthentication, Tr("MIDlet-Certificate-1-1: its keyUsage does not allow digitalSignature")});
    const std::uint32_t extended = X509_get_extended_key_usage(signer);
    if (extended != UINT32_MAX && (extended & (XKU_CODE_SIGN | XKU_ANYEKU)) == 0)
        report.findings.push_back(
            {kAuthentication, Tr("MIDlet-Certificate-1-1: its extendedKeyUsage does not allow codeSigning")});
}

// True when issuer's name is the certificate's issuer and its key signed
// the certificate.
bool IssuedBy(X509* cert, X509* issuer) {
    if (X509_NAME_cmp(X509_get_issuer_name(cert), X509_get_subject_name(issuer)) != 0)
        return false;
    EVP_PKEY* key = X509_get0_pubkey(issuer);
    const bool signedByIt = key != nullptr && X509_verify(cert, key) == 1;
    ERR_clear_error();
    return signedByIt;
}

// The signature over the jar and the certificates of chain 1.
void CheckSignature(const Attributes& jad, const Sha1Digest& jarDigest, CheckReport& report) {
    const std::string* signature = Find(jad, "MIDlet-Jar-RSA-SHA1");
    std::vector<X509Ptr> chain;
    for (int m = 1;; ++m) {
        const std::string* text = Find(jad, "MIDlet-Certificate-1-" + std::to_string(m));
        if (text == nullptr)
            break;
        bool ok = false;
        const std::string der = Base64Decode(*text, ok);
        const auto* p = reinterpret_cast<const unsigned char*>(der.data());
        X509Ptr cert(ok ? d2i_X509(nullptr, &p, static_cast<long>(der.size())) : nullptr, X509_free);
        if (!cert) {
            report.findings.push_back(
                {kAuthentication, TrFormat("MIDlet-Certificate-1-{1} is not a base64 DER "
                                           "certificate",
                                           {std::to_string(m)})});
            return;
        }
        chain.push_back(std::move(cert));
    }
    if (signature == nullptr) {
        if (!chain.empty())
            report.findings.push_back({kAuthentication, Tr("certificates without MIDlet-Jar-RSA-SHA1")});
        return;
    }
    if (chain.empty()) {
        report.findings.push_back(
            {kAuthentication, Tr("MIDlet-Jar-RSA-SHA1 without MIDlet-Certificate-1-1")});
        return;
    }
    bool ok = false;
    const std::string signatureBytes = Base64Decode(*signature, ok);
    if (!ok || !VerifySha1Rsa(chain[0].get(), jarDigest, signatureBytes))
        report.findings.push_back(
            {kAuthentication, Tr("MIDlet-Jar-RSA-SHA1 does not verify against the jar with "
                                 "MIDlet-Certificate-1-1 (the jar changed after signing, or another key "
                                 "signed it)")});
    CheckSignerUsage(chain[0].get(), report);
    // The phone follows the chain from the signer until it meets an issuer
    // its key store holds: a root the chain carries is passed over, and so
    // is anything after it.
    std::size_t length = chain.size();
    for (std::size_t i = 0; i < length; ++i) {
        X509* cert = chain[i].get();
        const std::string which = "MIDlet-Certificate-1-" + std::to_string(i + 1);
        if (X509_cmp_current_time(X509_get0_notBefore(cert)) > 0)
            report.findings.push_back({kAuthentication, TrFormat("{1} is not valid yet", {which})});
        if (X509_cmp_current_time(X509_get0_notAfter(cert)) < 0)
            report.findings.push_back({kAuthentication, TrFormat("{1} has expired", {which})});
        if (i > 0 && SelfSigned(cert)) {
            report.findings.push_back(
                {0, TrFormat("{1} is a root certificate ({2}): the phone ignores the root "
                             "in the chain and uses its own; leave it out",
                             {which, NameText(X509_get_subject_name(cert))})});
            length = i;
            break;
        }
        // Every certificate above the signer's vouches for the one below:
        // only a CA by its basicConstraints may.
        if (i > 0 && (X509_get_extension_flags(cert) & EXFLAG_CA) == 0)
            report.findings.push_back(
                {kAuthentication, TrFormat("{1} is no CA certificate (its basicConstraints "
                                           "do not say CA:TRUE), so it cannot vouch "
                                           "for MIDlet-Certificate-1-{2}",
                                           {which, std::to_string(i)})});
        if (i + 1 < chain.size() && !IssuedBy(cert, chain[i + 1].get()))
            report.findings.push_back(
                {kAuthentication, TrFormat("{1} was not issued by the next certificate", {which})});
    }
    if (!report.Refused()) {
        report.rootNote = TrustNote(chain, length);
        report.findings.push_back({0, report.rootNote});
    }
}

void CheckPermissions(const Attributes& attrs, const std::string& where, CheckReport& report) {
    for (const char* name : {"MIDlet-Permissions", "MIDlet-Permissions-Opt"}) {
        const std::string* value = Find(attrs, name);
        if (value == nullptr)
            continue;
        const bool critical = std::string(name) == "MIDlet-Permissions";
        std::size_t start = 0;
        while (start <= value->size()) {
            auto end = value->find(',', start);
            if (end == std::string::npos)
                end = value->size();
            const std::string permission = TrimBlanksAndTabs(value->substr(start, end - start));
            start = end + 1;
            if (permission.empty() || KnownPermissionName(permission))
                continue;
            if (critical)
                report.findings.push_back(
                    {kAuthorization,
                     Tr(where) + TrFormat("{1} names the unknown permission \"{2}\"", {name, permission})});
            else
                report.findings.push_back(
                    {0, Tr(where) + TrFormat("{1} names the unknown permission \"{2}\"; the phone drops it",
                                             {name, permission})});
        }
    }
}

// The findings on the jar's entries: the first damaged one by name, with how
// many more there are, and whether they unpack to more than a jar may.
void ReportEntries(const JarFacts& jar, CheckReport& report) {
    if (!jar.damagedEntries.empty()) {
        std::string text = TrFormat("jar entry {1}: {2}", {Shown(jar.damagedEntries[0]), jar.firstDamage});
        if (const std::size_t more = jar.damagedEntries.size() - 1; more > 0)
            text += TrFormat(more == 1 ? " (and {1} more damaged entry)" : " (and {1} more damaged entries)",
                             {std::to_string(more)});
        report.findings.push_back({kInvalidJar, text});
    }
    if (jar.tooLarge)
        report.findings.push_back(
            {kInvalidJar, TrFormat("the jar's entries unpack to more than {1}; those after "
                                   "were not tested",
                                   {MiB(unzipdll::kMaxTotalBytes)})});
}

// What is wrong with an entry the unzip could not test: damaged data, or
// more data than it inflates of one entry, which it passed over untested.
std::string DamageOfUnpacked(const JarFacts& jar, const std::string& name) {
    if (jar.oversized.count(name))
        return TrFormat("larger than the {1} Jarseal unpacks of one entry, so its data could not be checked",
                        {MiB(unzipdll::kMaxEntryBytes)});
    return Tr("damaged data");
}

// True when text is a number of decimal digits only (leading zeros allowed,
// as a phone reads it) whose value fits in limit; value receives it.
bool ReadDecimal(const std::string& text, std::uint64_t limit, std::uint64_t& value) {
    if (text.empty())
        return false;
    value = 0; // limit keeps it far from overflowing
    for (const char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
        if (value > limit)
            return false;
    }
    return true;
}

// The dot-separated parts of a version.
std::vector<std::string> VersionParts(const std::string& version) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (true) {
        const auto dot = version.find('.', start);
        parts.push_back(version.substr(start, dot == std::string::npos ? dot : dot - start));
        if (dot == std::string::npos)
            return parts;
        start = dot + 1;
    }
}

// A suite version as a phone reads it: one to three numbers of decimal
// digits, separated by dots.
bool ValidVersion(const std::string& version) {
    const std::vector<std::string> parts = VersionParts(version);
    return parts.size() <= 3 && std::all_of(parts.begin(), parts.end(), [](const std::string& part) {
               return !part.empty() &&
                      std::all_of(part.begin(), part.end(), [](char c) { return c >= '0' && c <= '9'; });
           });
}

// True when a part of a valid version is over 99: the phone reads the
// number, but some phones keep to the rule of 0 to 99 and refuse it.
bool VersionPartOver99(const std::string& version) {
    const std::vector<std::string> parts = VersionParts(version);
    return std::any_of(parts.begin(), parts.end(), [](const std::string& part) {
        const auto digits = part.find_first_not_of('0');
        return digits != std::string::npos && part.size() - digits > 2;
    });
}

// The findings on a suite's version: a refusal with code when it is not a
// version, a note when a part is over 99.
void CheckVersion(const std::string& which, const std::string& version, int code, CheckReport& report) {
    if (!ValidVersion(version))
        report.findings.push_back({code, TrFormat("{1} \"{2}\" is not a version (at most three numbers, "
                                                  "separated by dots)",
                                                  {Tr(which), version})});
    else if (VersionPartOver99(version))
        report.findings.push_back(
            {0, TrFormat("{1} \"{2}\": some phones refuse version parts over 99", {Tr(which), version})});
}

// The class a MIDlet-<n> value ("name, icon, class") names; empty when it
// names none.
std::string MidletClass(const std::string& value) {
    const auto first = value.find(',');
    const auto second = first == std::string::npos ? first : value.find(',', first + 1);
    if (second == std::string::npos)
        return {};
    return TrimBlanksAndTabs(value.substr(second + 1));
}

// The largest jar size a phone reads from MIDlet-Jar-Size (a Java int).
constexpr std::uint64_t kMaxJarSizeValue = 0x7FFFFFFF;

// What a phone reads from the suite, as the check goes on.
struct Suite {
    bool jarOnly = false;   // no descriptor: the manifest alone describes the suite
    Attributes jad;         // empty for a jar-only suite
    std::string lostToMark; // the descriptor's first attribute, lost behind a byte-order mark
    JarFacts jar;
    Attributes manifest;
    // A phone takes an attribute from the descriptor when it has it, else
    // from the manifest.
    const std::string* Get(const std::string& name) const {
        const std::string* value = Find(jad, name);
        return value != nullptr ? value : Find(manifest, name);
    }
    bool Signed() const { return Find(jad, "MIDlet-Jar-RSA-SHA1") || Find(jad, "MIDlet-Certificate-1-1"); }
};

// 906: the descriptor's own attributes: those it must have, and the form of
// the version, the size, the jar's name and the MIDlets it declares.
void CheckDescriptorAttributes(const Suite& suite, const std::string& archivePath, CheckReport& report) {
    const Attributes& jad = suite.jad;
    for (const char* name : kRequiredInDescriptor)
        if (Find(jad, name) == nullptr && name != suite.lostToMark) // that one is reported lost
            report.findings.push_back({kInvalidDescriptor, TrFormat("descriptor lacks {1}", {name})});
    if (const std::string* version = Find(jad, "MIDlet-Version"))
        CheckVersion("MIDlet-Version", *version, kInvalidDescriptor, report);
    std::uint64_t size = 0;
    if (const std::string* text = Find(jad, "MIDlet-Jar-Size");
        text && !ReadDecimal(*text, kMaxJarSizeValue, size))
        report.findings.push_back(
            {kInvalidDescriptor, TrFormat("MIDlet-Jar-Size \"{1}\" is not a size", {*text})});
    if (const std::string* url = Find(jad, "MIDlet-Jar-URL")) {
        const std::string jarName = archivePath.substr(archivePath.find_last_of(kSep) + 1);
        const std::string urlName = url->substr(url->find_last_of('/') + 1);
        if (urlName != jarName)
            report.findings.push_back(
                {kInvalidDescriptor, TrFormat("MIDlet-Jar-URL \"{1}\" does not name {2}", {*url, jarName})});
    }
    for (int n = 1; const std::string* midlet = Find(jad, "MIDlet-" + std::to_string(n)); ++n)
        if (MidletClass(*midlet).empty())
            report.findings.push_back(
                {kInvalidDescriptor, TrFormat("MIDlet-{1} names no class", {std::to_string(n)})});
    NoteEightBitTexts(jad, JARSEAL_N("the descriptor"), report);
}

// 907 (and 906 for what neither file declares): the jar as an archive, its
// manifest, and the class of every MIDlet the suite declares.
void CheckJarContents(Suite& suite, CheckReport& report) {
    const JarFacts& jar = suite.jar;
    if (!jar.archiveWhy.empty()) {
        report.findings.push_back({kInvalidJar, TrFormat("the jar {1}", {jar.archiveWhy})});
        return;
    }
    ReportEntries(jar, report);
    if (!jar.manifestWhy.empty()) {
        report.findings.push_back({kInvalidJar, TrFormat("the jar {1}", {jar.manifestWhy})});
        return;
    }
    suite.manifest = ParseManifest(jar.manifest);
    // The manifest's attributes keep to the rules of the descriptor's: a
    // jar alone gives the suite its attributes, and the job copies them into
    // the descriptor. A suite's own attribute given twice leaves the phone to
    // pick one.
    std::set<std::string> seen;
    for (const auto& [name, value] : suite.manifest) {
        if (HasControlCharacter(value, true))
            report.findings.push_back(
                {kInvalidJar, TrFormat("manifest: {1}'s value holds a control character "
                                       "(a NUL, say)",
                                       {Shown(name)})});
        const bool suites = name.rfind("MIDlet-", 0) == 0 || name.rfind("MicroEdition-", 0) == 0;
        if (suites && !seen.insert(name).second)
            report.findings.push_back({kInvalidJar, TrFormat("manifest: {1} appears twice", {Shown(name)})});
    }
    NoteEightBitTexts(suite.manifest, JARSEAL_N("the manifest"), report);
    for (const char* name : {"MIDlet-Name", "MIDlet-Version", "MIDlet-Vendor"})
        if (Find(suite.manifest, name) == nullptr)
            report.findings.push_back({kInvalidJar, TrFormat("manifest lacks {1}", {name})});
    if (const std::string* version = Find(suite.manifest, "MIDlet-Version"); suite.jarOnly && version)
        CheckVersion("the manifest's MIDlet-Version", *version, kInvalidJar, report);
    for (const char* name : {"MIDlet-1", "MicroEdition-Profile", "MicroEdition-Configuration"})
        if (suite.Get(name) == nullptr)
            report.findings.push_back(
                {kInvalidDescriptor, suite.jarOnly
                                         ? TrFormat("the manifest lacks {1}", {name})
                                         : TrFormat("neither descriptor nor manifest has {1}", {name})});
    for (int n = 1; const std::string* midlet = suite.Get("MIDlet-" + std::to_string(n)); ++n) {
        const std::string which = "MIDlet-" + std::to_string(n);
        std::string entry = MidletClass(*midlet);
        if (entry.empty()) {
            report.findings.push_back({kInvalidJar, TrFormat("{1} names no class", {which})});
            continue;
        }
        std::replace(entry.begin(), entry.end(), '.', '/');
        entry += ".class";
        if (jar.entryNames.count(entry) == 0)
            report.findings.push_back(
                {kInvalidJar, TrFormat("{1} names the class {2}, but the jar has no {3}",
                                       {which, Shown(MidletClass(*midlet)), Shown(entry)})});
    }
}

// 904: the size the descriptor states against the jar's, read as a phone
// reads the number.
void CheckJarSize(const Suite& suite, CheckReport& report) {
    const std::string* text = Find(suite.jad, "MIDlet-Jar-Size");
    std::uint64_t size = 0;
    if (text != nullptr && ReadDecimal(*text, kMaxJarSizeValue, size) && size != suite.jar.size)
        report.findings.push_back({kJarSizeMismatch, TrFormat("MIDlet-Jar-Size is {1}, the jar has {2} bytes",
                                                              {*text, std::to_string(suite.jar.size)})});
}

// 905: the suite's name, version and vendor in both files, and for a signed
// suite every attribute both carry and the permissions it asks for.
void CheckAttributesAgree(const Suite& suite, CheckReport& report) {
    for (const char* name : {"MIDlet-Name", "MIDlet-Version", "MIDlet-Vendor"}) {
        const std::string* inJad = Find(suite.jad, name);
        const std::string* inManifest = Find(suite.manifest, name);
        if (inJad && inManifest && *inJad != *inManifest)
            report.findings.push_back(
                {kAttributeMismatch,
                 TrFormat("{1} differs: descriptor \"{2}\", manifest \"{3}\"", {name, *inJad, *inManifest})});
    }
    if (!suite.Signed())
        return;
    // The descriptor of a signed suite may repeat the manifest's attributes
    // but not change them.
    for (const auto& [name, value] : suite.jad) {
        if (name == "MIDlet-Name" || name == "MIDlet-Version" || name == "MIDlet-Vendor")
            continue; // reported above
        const std::string* inManifest = Find(suite.manifest, name);
        if (inManifest && *inManifest != value)
            report.findings.push_back(
                {kAttributeMismatch,
                 TrFormat("{1} differs between descriptor and manifest of a signed suite", {name})});
    }
    // The permissions it asks for must also be the signed ones: a permission
    // attribute only the descriptor carries is refused.
    for (const char* name : {"MIDlet-Permissions", "MIDlet-Permissions-Opt"})
        if (Find(suite.jad, name) && !Find(suite.manifest, name))
            report.findings.push_back(
                {kAttributeMismatch, TrFormat("{1} is in the descriptor of a signed suite "
                                              "but not in its manifest",
                                              {name})});
}

// A note for a profile or configuration newer than MIDP 2.0 and CLDC 1.1:
// phones that have only those refuse the suite (908).
void NoteNewerPlatform(const Suite& suite, CheckReport& report) {
    const struct {
        const char* attribute;
        const char* family;
        int newest; // the newest version older phones have, times ten
    } platforms[] = {{"MicroEdition-Profile", "MIDP-", 20}, {"MicroEdition-Configuration", "CLDC-", 11}};
    for (const auto& platform : platforms) {
        const std::string* value = suite.Get(platform.attribute);
        if (value == nullptr)
            continue;
        std::istringstream words(*value);
        for (std::string word; words >> word;) {
            const std::string family = platform.family;
            if (word.rfind(family, 0) != 0 || word.size() != family.size() + 3 ||
                word[family.size() + 1] != '.')
                continue;
            const char major = word[family.size()];
            const char minor = word[family.size() + 2];
            if (!std::isdigit(static_cast<unsigned char>(major)) ||
                !std::isdigit(static_cast<unsigned char>(minor)))
                continue;
            if ((major - '0') * 10 + (minor - '0') > platform.newest)
                report.findings.push_back({0, TrFormat("{1} {2}: phones with {3} only refuse the suite (908)",
                                                       {platform.attribute, word,
                                                        family + std::to_string(platform.newest / 10) + "." +
                                                            std::to_string(platform.newest % 10)})});
        }
    }
}

// The check of a suite, in the order of a phone's installer: the descriptor
// (906), the signature (909), the jar and its classes (907), the size (904),
// the attributes the two files share (905), the permissions (910). Like the
// installer, it stops at the first of these that refuses the suite, so the
// code reported is the code the phone shows. descriptorPath is empty for a
// jar-only suite; damagedEntries, when given, stands in for unpacking the
// jar's entries.
CheckReport CheckSuite(const std::string& descriptorPath, const std::string& archivePath,
                       const std::vector<std::string>* damagedEntries) {
    CheckReport report;
    Suite suite;
    suite.jarOnly = descriptorPath.empty();
    if (!suite.jarOnly) {
        std::string jadText;
        try {
            jadText = ReadWholeFile(descriptorPath);
        } catch (const RunError& e) {
            report.findings.push_back(
                {kInvalidDescriptor, TrFormat("descriptor cannot be read: {1}", {Tr(e.what())})});
            return report;
        }
        suite.jad = ParseDescriptor(jadText, report, suite.lostToMark);
        CheckDescriptorAttributes(suite, archivePath, report);
        if (report.Refused())
            return report;
    }

    suite.jar = ReadJarFacts(archivePath, damagedEntries == nullptr);
    if (!suite.jar.readError.empty()) {
        report.findings.push_back(
            {kInvalidJar, TrFormat("jar cannot be read: {1}", {Tr(suite.jar.readError)})});
        return report;
    }
    if (damagedEntries != nullptr && !damagedEntries->empty()) {
        suite.jar.damagedEntries = *damagedEntries;
        suite.jar.firstDamage = DamageOfUnpacked(suite.jar, damagedEntries->front());
    }
    report.trust = suite.jarOnly    ? SuiteTrust::JarOnly
                   : suite.Signed() ? SuiteTrust::NeedsRoot
                                    : SuiteTrust::Unsigned;
    if (suite.Signed()) {
        CheckSignature(suite.jad, suite.jar.sha1, report);
        if (report.Refused())
            return report;
    }
    CheckJarContents(suite, report);
    if (report.Refused())
        return report;
    CheckJarSize(suite, report);
    if (report.Refused())
        return report;
    CheckAttributesAgree(suite, report);
    if (report.Refused())
        return report;
    CheckPermissions(suite.jad, JARSEAL_N("descriptor: "), report);
    CheckPermissions(suite.manifest, JARSEAL_N("manifest: "), report);
    NoteNewerPlatform(suite, report);
    if (suite.jarOnly)
        report.findings.push_back(
            {0, Tr("no descriptor: a phone installs the jar alone as an untrusted suite, "
                   "from the manifest's attributes")});
    return report;
}

} // namespace

CheckReport CheckJarBeforeSigning(const std::string& archivePath,
                                  const std::vector<std::string>& damagedEntries) {
    CheckReport report;
    Suite suite;
    suite.jar = ReadJarFacts(archivePath, false, Digest::None); // nothing is signed yet
    if (!suite.jar.readError.empty()) {
        report.findings.push_back(
            {kInvalidJar, TrFormat("jar cannot be read: {1}", {Tr(suite.jar.readError)})});
        return report;
    }
    if (!damagedEntries.empty()) {
        suite.jar.damagedEntries = damagedEntries;
        suite.jar.firstDamage = DamageOfUnpacked(suite.jar, damagedEntries.front());
    }
    CheckReport contents;
    CheckJarContents(suite, contents);
    // Only what the jar itself gets wrong: a descriptor of the user's may
    // still give what the manifest lacks.
    for (Finding& f : contents.findings)
        if (f.code == kInvalidJar)
            report.findings.push_back(std::move(f));
    return report;
}

bool CheckReport::Refused() const {
    return std::any_of(findings.begin(), findings.end(), [](const Finding& f) { return f.code != 0; });
}

std::string CheckReport::Verdict() const {
    const auto refusal =
        std::find_if(findings.begin(), findings.end(), [](const Finding& f) { return f.code != 0; });
    if (refusal != findings.end())
        return refusal->code == kSisRefused
                   ? Tr("a phone would refuse it")
                   : TrFormat("a phone would refuse it ({1})", {std::to_string(refusal->code)});
    switch (trust) {
    case SuiteTrust::NeedsRoot:
        return Tr("a phone that holds its root certificate would accept it");
    case SuiteTrust::JarOnly:
        return Tr("a phone would accept it as an untrusted suite");
    case SuiteTrust::Unsigned:
        break;
    }
    return Tr("a phone would accept it");
}

bool ValidAttributeName(const std::string& name) {
    return !name.empty() && std::all_of(name.begin(), name.end(), [](unsigned char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
               c == '_';
    });
}

bool CheckReport::Has(int code) const {
    return std::any_of(findings.begin(), findings.end(), [code](const Finding& f) { return f.code == code; });
}

bool KnownPermissionName(const std::string& name) {
    static const std::set<std::string> known = {
        "javax.microedition.io.Connector.http",
        "javax.microedition.io.Connector.https",
        "javax.microedition.io.Connector.socket",
        "javax.microedition.io.Connector.serversocket",
        "javax.microedition.io.Connector.ssl",
        "javax.microedition.io.Connector.datagram",
        "javax.microedition.io.Connector.datagramreceiver",
        "javax.microedition.io.Connector.comm",
        "javax.microedition.io.PushRegistry",
        "javax.microedition.io.Connector.file.read",
        "javax.microedition.io.Connector.file.write",
        "javax.microedition.io.Connector.sms",
        "javax.microedition.io.Connector.mms",
        "javax.microedition.io.Connector.cbs",
        "javax.wireless.messaging.sms.send",
        "javax.wireless.messaging.sms.receive",
        "javax.wireless.messaging.mms.send",
        "javax.wireless.messaging.mms.receive",
        "javax.wireless.messaging.cbs.receive",
        "javax.microedition.io.Connector.bluetooth.client",
        "javax.microedition.io.Connector.bluetooth.server",
        "javax.microedition.io.Connector.obex.client",
        "javax.microedition.io.Connector.obex.server",
        "javax.microedition.io.Connector.obex.client.tcp",
        "javax.microedition.io.Connector.obex.server.tcp",
        "javax.microedition.io.Connector.irdaobex",
        "javax.microedition.io.Connector.sip",
        "javax.microedition.io.Connector.sips",
        "javax.microedition.pim.ContactList.read",
        "javax.microedition.pim.ContactList.write",
        "javax.microedition.pim.EventList.read",
        "javax.microedition.pim.EventList.write",
        "javax.microedition.pim.ToDoList.read",
        "javax.microedition.pim.ToDoList.write",
        "javax.microedition.media.control.RecordControl",
        "javax.microedition.media.control.VideoControl.getSnapshot",
        "javax.microedition.location.Location",
        "javax.microedition.location.Orientation",
        "javax.microedition.location.ProximityListener",
        "javax.microedition.location.LandmarkStore.read",
        "javax.microedition.location.LandmarkStore.write",
        "javax.microedition.location.LandmarkStore.category",
        "javax.microedition.location.LandmarkStore.management",
        "javax.microedition.apdu.aid",
        "javax.microedition.apdu.sat",
        "javax.microedition.jcrmi",
        "javax.microedition.payment.process",
        "javax.microedition.securityservice.CMSMessageSignatureService",
        "javax.microedition.amms.control.camera.enableShutterFeedback",
        "javax.microedition.amms.control.tuner.setPreset",
        "javax.microedition.content.ContentHandler",
    };
    return known.count(name) != 0;
}

CheckReport CheckJavaSuite(const std::string& descriptorPath, const std::string& archivePath) {
    return CheckSuite(descriptorPath, archivePath, nullptr);
}

CheckReport CheckJavaSuite(const std::string& descriptorPath, const std::string& archivePath,
                           const std::vector<std::string>& damagedEntries) {
    return CheckSuite(descriptorPath, archivePath, &damagedEntries);
}

CheckReport CheckJarOnlySuite(const std::string& archivePath) {
    return CheckSuite("", archivePath, nullptr);
}

CheckReport CheckPackage(const std::string& path) {
    const std::string ext = path.size() > 4 ? path.substr(path.size() - 4) : std::string();
    if (ext != ".jar" && ext != ".jad")
        return CheckPackageOtherThanJava(path);
    const std::string stem = path.substr(0, path.size() - 1);
    if (ext == ".jar" && KindOfPath(stem + "d") == PathKind::Missing)
        return CheckJarOnlySuite(path);
    return CheckJavaSuite(stem + "d", stem + "r");
}

} // namespace jarseal
