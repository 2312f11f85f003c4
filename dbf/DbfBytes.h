#pragma once
// Little-endian integers inside DBF headers, read and written byte-wise so
// that nothing depends on the host's byte order or on alignment.
#include <cstdint>

namespace dbfbytes {

inline uint16_t LoadU16(const uint8_t* p) {
    return uint16_t(p[0] | (p[1] << 8));
}

inline uint32_t LoadU32(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

inline void StoreU16(uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}

inline void StoreU32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}

}  // namespace dbfbytes
