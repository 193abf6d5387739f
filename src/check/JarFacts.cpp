#include "check/JarFacts.h"

#include "check/Attributes.h"
#include "common/Errors.h"
#include "common/Translate.h"
#include "zip/EntryReader.h"
#include "zip/ZipLayout.h"
#include "zip/ZipLimits.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>

namespace jarseal::check {

using zip::MiB;

std::string Shown(std::string name) {
    std::replace_if(
        name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; },
        '?');
    return name;
}

namespace {

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

// Unpacks every entry; the first damaged one is named with what is wrong
// with it, the rest only counted by name.
void TestEntries(const ZipBytes& bytes, const ZipLayout& layout, JarFacts& facts) {
    zip::EntryReader reader(bytes);
    for (const ZipEntryLayout& entry : layout.entries) {
        const std::string why = reader.Unpack(entry, zip::kMaxEntryBytes, nullptr).why;
        if (reader.Unpacked() > zip::kMaxTotalBytes) {
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
    const ZipEntryLayout* entry = zip::FindManifest(layout);
    if (entry == nullptr) {
        facts.manifestWhy = Tr("has no META-INF/MANIFEST.MF");
        return;
    }
    if (entry->size > kMaxManifestBytes) {
        facts.manifestWhy = TrFormat("has a manifest larger than {1}", {MiB(kMaxManifestBytes)});
        return;
    }
    zip::EntryReader reader(bytes);
    const std::string why = reader.Unpack(*entry, kMaxManifestBytes, &facts.manifest).why;
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
    switch (ReadZipLayout(bytes, zip::kMaxEntries, layout, why)) {
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
        if (entry.size > zip::kMaxEntryBytes)
            facts.oversized.insert(entry.name);
    }
    if (testEntries)
        TestEntries(bytes, layout, facts);
    ReadManifest(bytes, layout, facts);
    return facts;
}

} // namespace

// The jar's facts; a jar written to while it was read is read again, so
// that they all describe one state of it.
JarFacts ReadJarFacts(const std::string& archivePath, bool testEntries, Digest digest) {
    JarFacts facts = ReadJarFactsOnce(archivePath, testEntries, digest);
    for (int again = 0; again < 2 && facts.readError.empty() && StampOfFile(archivePath) != facts.stamp;
         ++again)
        facts = ReadJarFactsOnce(archivePath, testEntries, digest);
    return facts;
}

} // namespace jarseal::check
