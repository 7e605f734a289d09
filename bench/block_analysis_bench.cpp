// Block analysis speed: AnalyzeBlock over a whole A4 page at 300 dpi
// (2480 x 3508) of drawn text, against loading that page from a 1-bit Group 4
// TIFF in the same run (as RasterImage and as the page bitmap the layout
// analysis reads). The aim is an analysis no slower than the load.
//
// The page: a heading, then two columns of text lines made of
// character-sized boxes with word gaps, a paragraph break in each column and
// a picture-sized blob in the right column.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "image/raster_image.h"
#include "layout/block_analysis.h"
#include "layout/page_bitmap.h"

namespace {

using sheetmend::RasterImage;

constexpr int32_t kWidth = 2480;
constexpr int32_t kHeight = 3508;
constexpr int32_t kRowBytes = ((kWidth + 15) >> 4) * 2;

// Top row first, 1 = ink, rows padded to 16 pixels like the page bitmap.
const std::vector<uint8_t>& PageBits() {
    static const std::vector<uint8_t> page = [] {
        std::vector<uint8_t> bits(static_cast<size_t>(kRowBytes) * kHeight, 0);
        auto box = [&](int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
            for (int32_t y = y0; y <= y1; ++y)
                for (int32_t x = x0; x <= x1; ++x)
                    bits[static_cast<size_t>(y) * kRowBytes + (x >> 3)] |= uint8_t(0x80 >> (x & 7));
        };
        uint32_t state = 20261208;
        auto next = [&](int32_t lo, int32_t hi) {
            state = state * 1103515245u + 12345u;
            return lo + static_cast<int32_t>((state >> 16) % uint32_t(hi - lo + 1));
        };
        auto line = [&](int32_t x0, int32_t x1, int32_t top, int32_t h) {
            int32_t x = x0;
            for (;;) {
                const int32_t chars = next(2, 8);
                int32_t end = x;
                std::vector<int32_t> w;
                for (int32_t c = 0; c < chars; ++c) {
                    w.push_back(next(h / 2, h * 3 / 4));
                    end += w.back() + 4;
                }
                if (end > x1) break;
                for (int32_t cw : w) {
                    box(x, top, x + cw - 1, top + h - 1);
                    x += cw + 4;
                }
                x += h / 2;
            }
        };
        line(240, 2200, 200, 56);  // heading
        for (int32_t col = 0; col < 2; ++col) {
            const int32_t x0 = col == 0 ? 240 : 1300, x1 = col == 0 ? 1180 : 2240;
            int32_t top = 360;
            for (int32_t i = 0; top + 36 < 3300; ++i) {
                if (col == 1 && top >= 1400 && top < 2000) {
                    box(x0, 1400, x1, 1950);  // a picture
                    top = 2010;
                    continue;
                }
                line(x0, x1, top, 36);
                top += 36 + 22 + (i % 15 == 14 ? 40 : 0);
            }
        }
        return bits;
    }();
    return page;
}

std::string ScratchPath() {
    const char* base = std::getenv("TMPDIR");
    return std::string(base && *base ? base : "/tmp") + "/sheetmend-block-bench-" +
           std::to_string(getpid()) + ".tif";
}

// Writes the page as a 1-bit TIFF (Group 4, as the codec saves 1-bit pages).
bool WritePage(const std::string& path) {
    RasterImage img(kWidth, kHeight, 1);
    img.SetPaletteColor(0, sheetmend::RgbQuad{255, 255, 255, 0});
    img.SetPaletteColor(1, sheetmend::RgbQuad{0, 0, 0, 0});
    img.SetXDpi(300);
    img.SetYDpi(300);
    const std::vector<uint8_t>& bits = PageBits();
    const size_t imageRowBytes = (kWidth + 7) / 8;
    for (int32_t r = 0; r < kHeight; ++r)
        std::copy_n(&bits[static_cast<size_t>(r) * kRowBytes], imageRowBytes,
                    img.GetBits(static_cast<uint32_t>(kHeight - 1 - r)));
    return img.Save(path.c_str(), sheetmend::kFormatTiff);
}

struct PageFile {
    std::string path = ScratchPath();
    bool ok = WritePage(path);
    ~PageFile() { std::remove(path.c_str()); }
};

PageFile& File() {
    static PageFile file;
    return file;
}

void BM_LoadG4Page_RasterImage(benchmark::State& state) {
    if (!File().ok) state.SkipWithError("save failed");
    for (auto _ : state) {
        RasterImage img;
        if (!img.Load(File().path.c_str(), sheetmend::kFormatTiff))
            state.SkipWithError(img.GetLastError());
        benchmark::DoNotOptimize(img.GetBits());
    }
}

void BM_LoadG4Page_PageBitmap(benchmark::State& state) {
    if (!File().ok) state.SkipWithError("save failed");
    for (auto _ : state) {
        auto page = sheetmend::LoadPageBitmap(File().path);
        if (!page) state.SkipWithError("load failed");
        benchmark::DoNotOptimize(page->bits.data());
    }
}

void BM_AnalyzeBlock_WholePage(benchmark::State& state) {
    const std::vector<uint8_t>& bits = PageBits();
    sheetmend::EngineContext ctx(bits.data(), kRowBytes * 8, kHeight);
    size_t records = 0;
    for (auto _ : state) {
        const auto out = sheetmend::AnalyzeBlock(ctx, 0, 0, kWidth - 1, kHeight - 1);
        records = out.size();
        sheetmend::ReleasePool(ctx);
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["records"] = static_cast<double>(records);
}

BENCHMARK(BM_LoadG4Page_RasterImage)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadG4Page_PageBitmap)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AnalyzeBlock_WholePage)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
