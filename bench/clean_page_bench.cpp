// The steps of the program's own deskew and despeckle on an A4 page at 300
// dpi: 38 lines of character boxes turned by 1.5 degrees, with specks.
#include <benchmark/benchmark.h>

#include "layout/skew.h"
#include "pipeline/clean_page.h"
#include "tests/support/text_page.h"

namespace {

using namespace sheetmend;

const testing::BitPage& SamplePage() {
    static const testing::BitPage page = [] {
        testing::BitPage p = testing::DrawTurned(2480, 3508, testing::TextLineBoxes(2480, 3508, 38),
                                                 1.5 * testing::kDegree);
        for (int32_t i = 0; i < 400; ++i)
            p.Fill((i * 7919) % 2470, (i * 104729) % 3500, 1 + i % 3, 1 + i % 2);
        return p;
    }();
    return page;
}

PageBitmap ToBitmap(const testing::BitPage& page) {
    PageBitmap b;
    b.width = static_cast<uint16_t>(page.width);
    b.height = static_cast<uint16_t>(page.height);
    b.depth = 1;
    b.bits = page.bits;
    b.size = static_cast<int32_t>(b.bits.size());
    return b;
}

void BM_Despeckle(benchmark::State& state) {
    const testing::BitPage& page = SamplePage();
    std::vector<uint8_t> bits;
    for (auto _ : state) {
        bits = page.bits;
        Despeckle(bits.data(), page.width, page.height, 20);
        benchmark::DoNotOptimize(bits.data());
    }
}
BENCHMARK(BM_Despeckle)->Unit(benchmark::kMillisecond);

void BM_DetectSkew(benchmark::State& state) {
    const testing::BitPage& page = SamplePage();
    EngineContext ctx(page.bits.data(), page.RowBits(), page.height);
    for (auto _ : state)
        benchmark::DoNotOptimize(DetectSkew(ctx, 0, 0, page.width - 1, page.height - 1));
}
BENCHMARK(BM_DetectSkew)->Unit(benchmark::kMillisecond);

void BM_RotatePage(benchmark::State& state) {
    const testing::BitPage& page = SamplePage();
    for (auto _ : state) {
        state.PauseTiming();
        PageBitmap bitmap = ToBitmap(page);
        state.ResumeTiming();
        RotatePage(bitmap, -1.5 * testing::kDegree);
        benchmark::DoNotOptimize(bitmap.bits.data());
    }
}
BENCHMARK(BM_RotatePage)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
