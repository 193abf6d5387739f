#pragma once

// The little-endian numbers of zip records: read from bytes, and written
// over bytes already there.

#include <cstdint>
#include <string>

namespace jarseal::zip {

inline std::uint16_t Get16(const unsigned char* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::uint32_t Get32(const unsigned char* p) {
    return static_cast<std::uint32_t>(Get16(p)) | (static_cast<std::uint32_t>(Get16(p + 2)) << 16);
}
inline std::uint64_t Get64(const unsigned char* p) {
    return static_cast<std::uint64_t>(Get32(p)) | (static_cast<std::uint64_t>(Get32(p + 4)) << 32);
}
inline std::uint16_t Get16(const std::string& bytes, std::size_t at) {
    return Get16(reinterpret_cast<const unsigned char*>(bytes.data()) + at);
}

inline void Patch16(std::string& bytes, std::size_t at, std::uint32_t v) {
    bytes[at] = static_cast<char>(v & 0xff);
    bytes[at + 1] = static_cast<char>((v >> 8) & 0xff);
}
inline void Patch32(std::string& bytes, std::size_t at, std::uint32_t v) {
    Patch16(bytes, at, v & 0xffff);
    Patch16(bytes, at + 2, v >> 16);
}
inline std::string Le32(std::uint32_t v) {
    std::string out(4, '\0');
    Patch32(out, 0, v);
    return out;
}

} // namespace jarseal::zip
