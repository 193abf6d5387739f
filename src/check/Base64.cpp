#include "check/Base64.h"

#include <openssl/evp.h>

namespace jarseal {

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

} // namespace jarseal
