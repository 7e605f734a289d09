// The cost of the report's ink count and blank-page detection on one A4
// page at 300 dpi, beside the cost of reading that page: a page of text
// (the sampled count alone) and a nearly empty page (counted whole and its
// components labelled), 1-bit and 8-bit.
#include <benchmark/benchmark.h>

#include "image/blank_page.h"
#include "image/raster_image.h"

namespace {

using sheetmend::RasterImage;

RasterImage A4(uint32_t bpp, bool text) {
    RasterImage page(2480, 3508, bpp);
    page.SetXDpi(300);
    page.SetYDpi(300);
    if (bpp == 1) {
        page.SetPaletteColor(0, 255, 255, 255);
        page.SetPaletteColor(1, 0, 0, 0);
    } else {
        page.SetGrayPalette();
    }
    page.Clear(bpp == 1 ? 0 : 255);
    const uint8_t ink = bpp == 1 ? 1 : 0;
    // Lines of 18 x 30 characters every 60 rows, or one speck.
    for (int32_t y = 300; text && y < 3200; y += 60)
        for (int32_t x = 300; x < 2180; ++x)
            if (x % 24 < 18)
                for (int32_t k = 0; k < 30; ++k) page.SetPixelIndex(x, y + k, ink);
    if (!text) page.SetPixelIndex(1240, 1754, ink);
    return page;
}

void MeasureInk(benchmark::State& state) {
    const RasterImage page = A4(static_cast<uint32_t>(state.range(0)), state.range(1) != 0);
    for (auto _ : state) benchmark::DoNotOptimize(sheetmend::MeasureInk(page));
}
BENCHMARK(MeasureInk)
    ->ArgsProduct({{1, 8}, {1, 0}})
    ->ArgNames({"bits", "text"})
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
