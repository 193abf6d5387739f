#include "app/JksCertificate.h"

#include <cstdint>
#include <openssl/evp.h>

namespace jarseal {

namespace {

constexpr std::uint32_t kJksMagic = 0xFEEDFEED;
constexpr std::uint32_t kPrivateKeyEntry = 1;
constexpr std::uint32_t kTrustedCertificateEntry = 2;
constexpr std::size_t kDigestSize = 20; // SHA-1

// Reads big-endian fields from the front of a byte string; every read past
// the end fails and leaves the reader failed.
class Reader {
  public:
    explicit Reader(const std::string& bytes, std::size_t end) : bytes_(bytes), end_(end) {}
    bool ok() const { return ok_; }
    std::uint64_t Number(int size) {
        if (!Has(static_cast<std::size_t>(size)))
            return 0;
        std::uint64_t value = 0;
        for (int i = 0; i < size; ++i)
            value = value << 8 | static_cast<unsigned char>(bytes_[at_++]);
        return value;
    }
    std::string Bytes(std::uint64_t size) {
        if (!Has(size))
            return {};
        std::string out = bytes_.substr(at_, static_cast<std::size_t>(size));
        at_ += static_cast<std::size_t>(size);
        return out;
    }
    std::string Utf() { return Bytes(Number(2)); } // Java's writeUTF: a 16-bit length, then the bytes
    std::string Blob() { return Bytes(Number(4)); }

  private:
    bool Has(std::uint64_t size) {
        ok_ = ok_ && size <= end_ - at_;
        return ok_;
    }
    const std::string& bytes_;
    std::size_t end_;
    std::size_t at_ = 0;
    bool ok_ = true;
};

// The password as Java's char array in bytes (UTF-16 big-endian), from its
// UTF-8; nullopt for a text that is no UTF-8 of the Basic Multilingual Plane.
std::optional<std::string> Utf16Be(const std::string& utf8) {
    std::string out;
    for (std::size_t i = 0; i < utf8.size();) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        std::uint32_t code = 0;
        std::size_t length = 1;
        if (c < 0x80) {
            code = c;
        } else if ((c & 0xE0) == 0xC0) {
            code = c & 0x1F;
            length = 2;
        } else if ((c & 0xF0) == 0xE0) {
            code = c & 0x0F;
            length = 3;
        } else {
            return std::nullopt;
        }
        if (i + length > utf8.size())
            return std::nullopt;
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(utf8[i + k]);
            if ((next & 0xC0) != 0x80)
                return std::nullopt;
            code = code << 6 | (next & 0x3F);
        }
        out += static_cast<char>(code >> 8);
        out += static_cast<char>(code & 0xFF);
        i += length;
    }
    return out;
}

// JKS's integrity digest: SHA-1 over the password, the words "Mighty
// Aphrodite" and the store before the digest.
bool DigestMatches(const std::string& store, const std::string& password) {
    const std::optional<std::string> key = Utf16Be(password);
    if (!key || store.size() < kDigestSize)
        return false;
    const std::string body = *key + "Mighty Aphrodite" + store.substr(0, store.size() - kDigestSize);
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (EVP_Digest(body.data(), body.size(), digest, &size, EVP_sha1(), nullptr) != 1 || size != kDigestSize)
        return false;
    return store.compare(store.size() - kDigestSize, kDigestSize, reinterpret_cast<const char*>(digest),
                         kDigestSize) == 0;
}

std::string Lower(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

} // namespace

std::optional<std::string> JksCertificate(const std::string& store, const std::string& alias,
                                          const std::string& password) {
    if (!DigestMatches(store, password))
        return std::nullopt;
    Reader in(store, store.size() - kDigestSize);
    if (in.Number(4) != kJksMagic)
        return std::nullopt;
    const std::uint64_t version = in.Number(4);
    if (version != 1 && version != 2)
        return std::nullopt;
    const std::string wanted = Lower(alias);
    for (std::uint64_t n = in.Number(4); n > 0 && in.ok(); --n) {
        const std::uint64_t tag = in.Number(4);
        const std::string name = in.Utf();
        in.Number(8); // the entry's date
        std::string first;
        if (tag == kPrivateKeyEntry) {
            in.Blob(); // the protected key
            for (std::uint64_t m = in.Number(4); m > 0 && in.ok(); --m) {
                if (version == 2)
                    in.Utf(); // the certificate's type
                std::string der = in.Blob();
                if (first.empty())
                    first = std::move(der);
            }
        } else if (tag == kTrustedCertificateEntry) {
            if (version == 2)
                in.Utf();
            first = in.Blob();
        } else {
            return std::nullopt;
        }
        if (!in.ok())
            return std::nullopt;
        if (Lower(name) == wanted)
            return first.empty() ? std::nullopt : std::optional<std::string>(first);
    }
    return std::nullopt;
}

} // namespace jarseal
