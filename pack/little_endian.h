// Little-endian values of file formats, read from or written to bytes the caller has checked to
// hold them.
#pragma once

#include <cstdint>

inline std::uint32_t ReadLittleEndian(const unsigned char* at, int width) {
    std::uint32_t value = 0;
    for (int i = width - 1; i >= 0; --i) value = (value << 8) | at[i];
    return value;
}

inline void WriteLittleEndian(unsigned char* at, std::uint32_t value, int width) {
    for (int i = 0; i < width; ++i) at[i] = static_cast<unsigned char>(value >> (8 * i));
}
