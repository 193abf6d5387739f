#pragma once

#include <array>
#include <cstddef>

namespace jarseal {

// A SHA-1 digest computed piece by piece. It keeps no state in the crypto
// library (no providers, no library context), so a thread may go on with one
// while the program ends and the library is torn down.
class Sha1 {
  public:
    Sha1();
    void Update(const char* data, std::size_t size);
    std::array<unsigned char, 20> Final();

  private:
    alignas(8) unsigned char state_[128]; // a SHA_CTX
};

} // namespace jarseal
