// Inline pixel helpers for kernels working on raw rows (see the memory
// contract in raster_image.h). None of them checks its arguments.
#pragma once

#include <cstdint>

namespace sheetmend::px {

inline uint32_t EffWidth(uint32_t width, uint32_t bpp) {
    return static_cast<uint32_t>(((static_cast<uint64_t>(width) * bpp + 31) / 32) * 4);
}

inline uint8_t GetBit(const uint8_t* row, uint32_t x) {
    return static_cast<uint8_t>((row[x >> 3] >> (7 - (x & 7))) & 1);
}
inline void SetBit(uint8_t* row, uint32_t x, uint8_t v) {
    const uint8_t mask = static_cast<uint8_t>(0x80u >> (x & 7));
    if (v & 1)
        row[x >> 3] |= mask;
    else
        row[x >> 3] &= static_cast<uint8_t>(~mask);
}

inline uint8_t GetNibble(const uint8_t* row, uint32_t x) {
    return static_cast<uint8_t>((row[x >> 1] >> ((x & 1) ? 0 : 4)) & 15);
}
inline void SetNibble(uint8_t* row, uint32_t x, uint8_t v) {
    uint8_t& b = row[x >> 1];
    if (x & 1)
        b = static_cast<uint8_t>((b & 0xF0) | (v & 15));
    else
        b = static_cast<uint8_t>((b & 0x0F) | ((v & 15) << 4));
}

// Palette index of pixel x in a row of a 1-, 4- or 8-bit image.
inline uint8_t GetIndex(const uint8_t* row, uint32_t x, uint32_t bpp) {
    switch (bpp) {
        case 1: return GetBit(row, x);
        case 4: return GetNibble(row, x);
        default: return row[x];
    }
}
inline void SetIndex(uint8_t* row, uint32_t x, uint32_t bpp, uint8_t v) {
    switch (bpp) {
        case 1: SetBit(row, x, v); break;
        case 4: SetNibble(row, x, v); break;
        default: row[x] = v; break;
    }
}

// Number of bytes of a row that hold pixels, and the mask of the pixel bits in
// the last of them (0xFF when the row ends on a byte boundary).
inline uint32_t UsedRowBytes(uint32_t width, uint32_t bpp) {
    return static_cast<uint32_t>((static_cast<uint64_t>(width) * bpp + 7) / 8);
}
inline uint8_t LastByteMask(uint32_t width, uint32_t bpp) {
    const uint32_t used = static_cast<uint32_t>((static_cast<uint64_t>(width) * bpp) & 7);
    return used == 0 ? 0xFF : static_cast<uint8_t>(0xFF00u >> used);
}

// Luminance of a colour, weights 306/601/117 out of 1024.
inline uint8_t Luminance(uint8_t red, uint8_t green, uint8_t blue) {
    return static_cast<uint8_t>((red * 306u + green * 601u + blue * 117u) >> 10);
}

}  // namespace sheetmend::px
