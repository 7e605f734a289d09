// Bit helpers on one-bit page rows (most significant bit leftmost, set bit =
// ink) shared by the despeckle and the rotation. They work a byte, and over
// paper a word, at a time.
#pragma once

#include <cstdint>
#include <cstring>

namespace sheetmend::bit_rows {

inline bool TestBit(const uint8_t* row, int32_t x) {
    return (row[x >> 3] & (0x80u >> (x & 7))) != 0;
}

inline int32_t LeadingZeros8(uint32_t byte) {
    return __builtin_clz(byte) - 24;
}

// Sets (ink) or clears the bits a..b of a row.
inline void FillBits(uint8_t* row, int32_t a, int32_t b, bool ink) {
    if (a > b) return;
    const int32_t first = a >> 3, last = b >> 3;
    const auto head = static_cast<uint8_t>(0xFFu >> (a & 7));
    const auto tail = static_cast<uint8_t>(0xFFu << (7 - (b & 7)));
    if (first == last) {
        const auto mask = static_cast<uint8_t>(head & tail);
        row[first] = ink ? static_cast<uint8_t>(row[first] | mask)
                         : static_cast<uint8_t>(row[first] & ~mask);
        return;
    }
    row[first] =
        ink ? static_cast<uint8_t>(row[first] | head) : static_cast<uint8_t>(row[first] & ~head);
    if (last - first > 1)
        std::memset(row + first + 1, ink ? 0xFF : 0x00, static_cast<size_t>(last - first - 1));
    row[last] =
        ink ? static_cast<uint8_t>(row[last] | tail) : static_cast<uint8_t>(row[last] & ~tail);
}

// The first set bit in from..to, or -1.
inline int32_t NextSetBit(const uint8_t* row, int32_t from, int32_t to) {
    if (from > to) return -1;
    int32_t bi = from >> 3;
    const int32_t last = to >> 3;
    uint32_t byte = row[bi] & (0xFFu >> (from & 7));
    for (;;) {
        if (byte != 0) {
            const int32_t x = bi * 8 + LeadingZeros8(byte);
            return x <= to ? x : -1;
        }
        if (++bi > last) return -1;
        for (uint64_t word; bi + 8 <= last + 1; bi += 8) {
            std::memcpy(&word, row + bi, 8);
            if (word != 0) break;
        }
        if (bi > last) return -1;
        byte = row[bi];
    }
}

// The first clear bit at or after `from`, or `limit` when the bits up to
// limit - 1 are all set.
inline int32_t NextClearBit(const uint8_t* row, int32_t from, int32_t limit) {
    int32_t x = from;
    while (x < limit) {
        const int32_t bi = x >> 3;
        const uint32_t gaps = ~static_cast<uint32_t>(row[bi]) & 0xFFu & (0xFFu >> (x & 7));
        if (gaps != 0) {
            const int32_t e = bi * 8 + LeadingZeros8(gaps);
            return e < limit ? e : limit;
        }
        x = (bi + 1) * 8;
    }
    return limit;
}

}  // namespace sheetmend::bit_rows
