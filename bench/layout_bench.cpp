// The layout engine on an A4 page at 300 dpi (2480 x 3508, 1 bit), timed
// against loading the same page from a Group 4 TIFF in the same run: the
// counter x_load gives AnalyzeLayout's time as a multiple of the load.
//
// The page is drawn in code like a newspaper page: a headline, three columns
// between vertical rules (text, a halftone picture, vertical text), a rule
// and a ruled table.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "image/formats.h"
#include "layout/layout_engine.h"
#include "layout/page_bitmap.h"
#include "tests/layout/layout_test_page.h"

namespace sheetmend {
namespace {

testing::TestPage DrawPage() {
    testing::TestPage page(2480, 3508);
    for (int32_t x = 200; x + 300 <= 2280; x += 360)
        for (int32_t c = x; c + 12 <= x + 300; c += 24) page.Fill(c, 180, c + 11, 235);
    page.Fill(100, 350, 2379, 352);
    page.Fill(820, 400, 822, 2300);
    page.Fill(1650, 400, 1652, 2300);
    page.Text(150, 450, 780, 30);
    page.Halftone(880, 450, 1590, 1150);
    page.Text(880, 1300, 1590, 15);
    page.Text(1710, 450, 2330, 12);
    page.VerticalText(1720, 1300, 2250, 10);
    page.Fill(100, 2380, 2379, 2382);
    for (int32_t y : {2460, 2580, 2700, 2820, 2940}) page.Fill(300, y, 2179, y + 2);
    for (int32_t x : {300, 700, 1200, 1700, 2177}) page.Fill(x, 2460, x + 2, 2942);
    for (int32_t y = 2480; y < 2940; y += 120) page.Text(340, y + 20, 660, 1);
    page.Text(150, 3050, 2330, 6);
    return page;
}

const std::string& PagePath() {
    static const std::string path = [] {
        std::string p = "/tmp/sheetmend-layout-bench-" + std::to_string(getpid()) + ".tif";
        RasterImage img = DrawPage().ToImage();
        img.Save(p.c_str(), kFormatTiff);
        return p;
    }();
    return path;
}

double g_loadSeconds = 0;

void BM_LoadPage(benchmark::State& state) {
    const std::string& path = PagePath();
    double total = 0;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        auto page = LoadPageBitmap(path);
        benchmark::DoNotOptimize(page);
        total += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    }
    g_loadSeconds = total / static_cast<double>(state.iterations());
}
BENCHMARK(BM_LoadPage)->Unit(benchmark::kMillisecond);

void BM_AnalyzeLayout(benchmark::State& state) {
    auto page = LoadPageBitmap(PagePath());
    if (!page) {
        state.SkipWithError("page did not load");
        return;
    }
    const int32_t w = page->width, h = page->height;
    size_t blocks = 0;
    double total = 0;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        auto result = AnalyzeLayout(page->bits.data(), (w + 15) & 0xFFF0, h, 0, 0, w - 1, h - 1);
        total += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        blocks = result.size();
        benchmark::DoNotOptimize(result);
    }
    state.counters["blocks"] = static_cast<double>(blocks);
    if (g_loadSeconds > 0)
        state.counters["x_load"] = total / static_cast<double>(state.iterations()) / g_loadSeconds;
}
BENCHMARK(BM_AnalyzeLayout)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace sheetmend

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::remove(sheetmend::PagePath().c_str());
    return 0;
}
