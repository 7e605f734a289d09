// TIFF speed: loading and saving a 1-bit A4 page at 300 dpi (2480 x 3508) as
// CCITT Group 4 through RasterImage::Load/Save, against the same work done
// with libtiff alone (TIFFReadEncodedStrip / TIFFWriteEncodedStrip into and
// out of a plain buffer), which is the floor our codec builds on.
//
// The page is drawn reproducibly: lines of word-like blocks made of short
// vertical and horizontal strokes, a heading, a ruled box and margins, so the
// coder sees runs like those of a scanned letter.
#include <benchmark/benchmark.h>
#include <tiffio.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "image/raster_image.h"

namespace {

using sheetmend::RasterImage;

constexpr uint32_t kWidth = 2480;
constexpr uint32_t kHeight = 3508;
constexpr uint32_t kRowBytes = (kWidth + 7) / 8;

// The page, top row first, 1 = ink, most significant bit leftmost.
const std::vector<uint8_t>& PageBits() {
    static const std::vector<uint8_t> page = [] {
        std::vector<uint8_t> bits(static_cast<size_t>(kRowBytes) * kHeight, 0);
        auto ink = [&](uint32_t x, uint32_t y) {
            if (x < kWidth && y < kHeight) bits[y * kRowBytes + x / 8] |= 0x80 >> (x % 8);
        };
        auto box = [&](uint32_t x0, uint32_t y0, uint32_t x1, uint32_t y1) {
            for (uint32_t y = y0; y < y1; ++y)
                for (uint32_t x = x0; x < x1; ++x) ink(x, y);
        };
        std::mt19937 rng(20240611);
        box(300, 250, 1500, 330);  // heading
        // A ruled table near the bottom.
        box(300, 2900, 2180, 2904);
        box(300, 3300, 2180, 3304);
        box(300, 2900, 304, 3304);
        box(2176, 2900, 2180, 3304);
        for (uint32_t line = 0; line < 58; ++line) {
            const uint32_t top = 420 + line * 42;
            if (top + 30 > 2860) break;
            uint32_t x = 300 + (line % 7 == 0 ? 120 : 0);
            const uint32_t end = 2180 - (line % 9 == 8 ? 900 : 0);
            while (x < end) {
                const uint32_t letters = 2 + rng() % 9;
                for (uint32_t k = 0; k < letters && x < end; ++k) {
                    const uint32_t w = 14 + rng() % 10;
                    const uint32_t h = (rng() % 4 == 0) ? 30 : 22;
                    const uint32_t y0 = top + 30 - h;
                    box(x, y0, x + 3, top + 30);                   // stem
                    if (rng() % 2) box(x, y0, x + w - 4, y0 + 3);  // bar
                    if (rng() % 3) box(x, top + 27, x + w - 4, top + 30);
                    if (rng() % 2) box(x + w - 7, top + 8, x + w - 4, top + 30);
                    x += w;
                }
                x += 18;  // a space
            }
        }
        return bits;
    }();
    return page;
}

// The page as a 1-bit image with a {white, black} palette.
RasterImage PageImage() {
    RasterImage img(kWidth, kHeight, 1);
    img.SetPaletteColor(0, sheetmend::RgbQuad{255, 255, 255, 0});
    img.SetPaletteColor(1, sheetmend::RgbQuad{0, 0, 0, 0});
    img.SetXDpi(300);
    img.SetYDpi(300);
    const std::vector<uint8_t>& bits = PageBits();
    for (uint32_t r = 0; r < kHeight; ++r)
        std::copy_n(&bits[r * kRowBytes], kRowBytes, img.GetBits(kHeight - 1 - r));
    return img;
}

std::string ScratchPath(const char* name) {
    const char* base = std::getenv("TMPDIR");
    return std::string(base && *base ? base : "/tmp") + "/sheetmend-tiff-bench-" +
           std::to_string(getpid()) + "-" + name;
}

// The page written with the same tags our encoder writes, by libtiff alone.
bool WriteWithLibtiff(const std::string& path) {
    TIFF* tif = TIFFOpen(path.c_str(), "w");
    if (!tif) return false;
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, kWidth);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, kHeight);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 1);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, kHeight);
    TIFFSetField(tif, TIFFTAG_FILLORDER, FILLORDER_LSB2MSB);
    TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    TIFFSetField(tif, TIFFTAG_XRESOLUTION, 300.0f);
    TIFFSetField(tif, TIFFTAG_YRESOLUTION, 300.0f);
    TIFFSetField(tif, TIFFTAG_SUBFILETYPE, 0);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX4);
    std::vector<uint8_t> bits = PageBits();  // libtiff may work in place
    const bool ok =
        TIFFWriteEncodedStrip(tif, 0, bits.data(), static_cast<tmsize_t>(bits.size())) >= 0;
    TIFFClose(tif);
    return ok;
}

bool ReadWithLibtiff(const std::string& path, std::vector<uint8_t>& out) {
    TIFF* tif = TIFFOpen(path.c_str(), "r");
    if (!tif) return false;
    const tmsize_t stripSize = TIFFStripSize(tif);
    const uint32_t strips = TIFFNumberOfStrips(tif);
    out.resize(static_cast<size_t>(stripSize) * strips);
    bool ok = true;
    for (uint32_t s = 0; s < strips && ok; ++s)
        ok = TIFFReadEncodedStrip(tif, s, out.data() + static_cast<size_t>(s) * stripSize,
                                  stripSize) >= 0;
    TIFFClose(tif);
    return ok;
}

void BM_LoadG4Page_RasterImage(benchmark::State& state) {
    const std::string path = ScratchPath("load.tif");
    RasterImage page = PageImage();
    if (!page.Save(path.c_str(), sheetmend::kFormatTiff)) state.SkipWithError("save failed");
    for (auto _ : state) {
        RasterImage img;
        if (!img.Load(path.c_str(), sheetmend::kFormatTiff))
            state.SkipWithError(img.GetLastError());
        benchmark::DoNotOptimize(img.GetBits());
    }
    std::remove(path.c_str());
}

void BM_LoadG4Page_LibtiffAlone(benchmark::State& state) {
    const std::string path = ScratchPath("load-libtiff.tif");
    RasterImage page = PageImage();
    if (!page.Save(path.c_str(), sheetmend::kFormatTiff)) state.SkipWithError("save failed");
    std::vector<uint8_t> bits;
    for (auto _ : state) {
        if (!ReadWithLibtiff(path, bits)) state.SkipWithError("libtiff read failed");
        benchmark::DoNotOptimize(bits.data());
    }
    std::remove(path.c_str());
}

void BM_SaveG4Page_RasterImage(benchmark::State& state) {
    const std::string path = ScratchPath("save.tif");
    RasterImage page = PageImage();
    for (auto _ : state) {
        if (!page.Save(path.c_str(), sheetmend::kFormatTiff))
            state.SkipWithError(page.GetLastError());
    }
    std::remove(path.c_str());
}

void BM_SaveG4Page_LibtiffAlone(benchmark::State& state) {
    const std::string path = ScratchPath("save-libtiff.tif");
    PageBits();
    for (auto _ : state) {
        if (!WriteWithLibtiff(path)) state.SkipWithError("libtiff write failed");
    }
    std::remove(path.c_str());
}

BENCHMARK(BM_LoadG4Page_RasterImage)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadG4Page_LibtiffAlone)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SaveG4Page_RasterImage)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SaveG4Page_LibtiffAlone)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
