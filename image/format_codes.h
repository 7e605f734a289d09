// Numeric image format codes used throughout Sheetmend, and the format index
// that addresses per-format codec slots.
#pragma once

#include <cstdint>

namespace sheetmend {

enum ImageFormat : uint32_t {
    kFormatUnknown = 0,
    kFormatBmp = 1,
    kFormatGif = 2,
    kFormatJpeg = 3,
    kFormatPng = 4,
    kFormatIco = 5,
    kFormatTiff = 6,
    kFormatTga = 7,
    kFormatPcx = 8,
    kFormatWbmp = 9,
    kFormatWmf = 10,
    kFormatJp2 = 11,
    kFormatJpc = 12,
    kFormatPgx = 13,
    kFormatPnm = 14,
    kFormatRas = 15,
    // 16 is not assigned and is rejected everywhere.
    kFormatMng = 17,
    kFormatSka = 18,
    kFormatRaw = 19,
    // Written only: one page per image. Nothing decodes it.
    kFormatPdf = 20,
};

// Number of codec slots: one per supported format code, plus slot 0.
inline constexpr uint32_t kFormatSlotCount = 20;

// Codes 0..15 map to themselves, 17..20 to 16..19, anything else to 0.
constexpr uint32_t FormatIndex(uint32_t code) {
    if (code <= 15) return code;
    if (code >= 17 && code <= 20) return code - 1;
    return 0;
}

}  // namespace sheetmend
