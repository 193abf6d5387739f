// The low-level digest functions are deprecated in favour of EVP, whose
// digests live in providers that OpenSSL frees when the program ends; a
// digest on a detached thread must not depend on them.
#define OPENSSL_SUPPRESS_DEPRECATED
#include "check/Sha1.h"

#include <openssl/sha.h>

namespace jarseal {

static_assert(sizeof(SHA_CTX) <= 128, "room for a SHA_CTX");

Sha1::Sha1() {
    SHA1_Init(reinterpret_cast<SHA_CTX*>(state_));
}

void Sha1::Update(const char* data, std::size_t size) {
    SHA1_Update(reinterpret_cast<SHA_CTX*>(state_), data, size);
}

std::array<unsigned char, 20> Sha1::Final() {
    std::array<unsigned char, 20> digest{};
    SHA1_Final(digest.data(), reinterpret_cast<SHA_CTX*>(state_));
    return digest;
}

} // namespace jarseal
