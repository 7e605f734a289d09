// Tone and bit-depth operations on an A4 page scanned at 300 dpi (2480 x 3508),
// timed side by side with a memcpy of the same pixel buffer, the floor any
// pass over the page has to pay. The counter x_memcpy gives each operation's
// time as a multiple of that copy (of the 24-bit buffer for operations on the
// colour page and for IncreaseBpp, which writes one, of the 8-bit one for
// those on the grey page).
//
// The page is drawn in code: paper with scanner noise, lines of dark "text"
// strokes with soft edges, and a colour photograph block of smooth gradients
// with noise, so nearest-colour searches and histograms meet realistic data.
// Operations that work in place get a fresh copy of the page before every
// iteration, outside the timed region.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <map>
#include <random>
#include <vector>

#include "image/raster_image.h"
#include "image/tone/tone_internal.h"

namespace sheetmend {
namespace {

constexpr uint32_t kWidth = 2480;
constexpr uint32_t kHeight = 3508;

RasterImage DrawPage() {
    RasterImage page(kWidth, kHeight, 24);
    std::mt19937 rng(2024);
    std::normal_distribution<double> noise(0.0, 4.0);
    for (uint32_t y = 0; y < kHeight; ++y) {
        uint8_t* row = page.RowPtr(y);
        const uint32_t top = kHeight - 1 - y;  // drawn top-down
        for (uint32_t x = 0; x < kWidth; ++x) {
            double b = 236, g = 240, r = 242;
            const bool photo = top >= 400 && top < 1400 && x >= 300 && x < 2180;
            if (photo) {
                r = 40 + 180.0 * (x - 300) / 1880;
                g = 30 + 200.0 * (top - 400) / 1000;
                b = 120 + 100.0 * ((x + top) % 500) / 500;
            } else if (top >= 1600 && top < 3300 && x >= 200 && x < 2280) {
                // Text lines 40 px apart, 24 px high; strokes 4 px wide with a
                // soft pixel on each side.
                const uint32_t line = (top - 1600) % 40;
                const uint32_t phase = (x * 7 + (top - 1600) / 40 * 13) % 23;
                if (line >= 8 && line < 32 && phase < 6 && ((x / 23 + line) % 3 != 0)) {
                    const double ink = (phase == 0 || phase == 5) ? 0.5 : 1.0;
                    b -= ink * 215;
                    g -= ink * 218;
                    r -= ink * 220;
                }
            }
            const double n = noise(rng);
            auto clamp = [](double v) {
                return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
            };
            row[3 * x] = clamp(b + n);
            row[3 * x + 1] = clamp(g + n);
            row[3 * x + 2] = clamp(r + n);
        }
    }
    return page;
}

const RasterImage& Page24() {
    static const RasterImage page = DrawPage();
    return page;
}

const RasterImage& Page8() {
    static const RasterImage page = [] {
        RasterImage grey(Page24());
        grey.GrayScale();
        return grey;
    }();
    return page;
}

const RasterImage& Page1() {
    static const RasterImage page = [] {
        RasterImage bw(Page8());
        bw.Threshold(128);
        return bw;
    }();
    return page;
}

using Clock = std::chrono::steady_clock;

// Seconds one memcpy of the image's pixel buffer takes, measured once per
// image as the best of five rounds of 20 copies (so that another process
// that happens to run does not lower the bar): the floor the operations are
// compared with.
double CopyFloor(const RasterImage& image) {
    static std::map<const RasterImage*, double> floors;
    auto known = floors.find(&image);
    if (known != floors.end()) return known->second;
    const size_t size = image.GetHeader().biSizeImage;
    std::vector<uint8_t> dst(size);
    double best = 1e9;
    for (int round = 0; round < 5; ++round) {
        const auto start = Clock::now();
        for (int i = 0; i < 20; ++i) {
            std::memcpy(dst.data(), image.GetBits(), size);
            benchmark::DoNotOptimize(dst.data());
            benchmark::ClobberMemory();
        }
        best = std::min(best, std::chrono::duration<double>(Clock::now() - start).count() / 20);
    }
    return floors[&image] = best;
}

// Reports the time per operation as a multiple of the copy floor.
void Relative(benchmark::State& state, double seconds, const RasterImage& image) {
    if (state.iterations() == 0) return;
    state.counters["x_memcpy"] =
        seconds / static_cast<double>(state.iterations()) / CopyFloor(image);
}

void Memcpy(benchmark::State& state, const RasterImage& image) {
    const size_t size = image.GetHeader().biSizeImage;
    std::vector<uint8_t> dst(size);
    for (auto _ : state) {
        std::memcpy(dst.data(), image.GetBits(), size);
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(size));
}

// Times `op` on a fresh copy of `source` per iteration, against a copy of
// `floor` (by default the source itself).
template <typename Op>
void OnCopy(benchmark::State& state, const RasterImage& source, Op op,
            const RasterImage* floor = nullptr) {
    if (!floor) floor = &source;
    CopyFloor(*floor);
    double seconds = 0;
    for (auto _ : state) {
        state.PauseTiming();
        RasterImage image(source);
        state.ResumeTiming();
        const auto start = Clock::now();
        benchmark::DoNotOptimize(op(image));
        seconds += std::chrono::duration<double>(Clock::now() - start).count();
        state.PauseTiming();
        image.Destroy();
        state.ResumeTiming();
    }
    Relative(state, seconds, *floor);
}

// Times `op` on `image` itself, which it leaves unchanged.
template <typename Op>
void OnPage(benchmark::State& state, const RasterImage& image, Op op) {
    CopyFloor(image);
    const auto start = Clock::now();
    for (auto _ : state) benchmark::DoNotOptimize(op());
    Relative(state, std::chrono::duration<double>(Clock::now() - start).count(), image);
}

void BM_Memcpy24(benchmark::State& state) {
    Memcpy(state, Page24());
}
void BM_Memcpy8(benchmark::State& state) {
    Memcpy(state, Page8());
}

void BM_GrayScale24(benchmark::State& state) {
    OnCopy(state, Page24(), [](RasterImage& image) { return image.GrayScale(); });
}

void BM_Histogram8(benchmark::State& state) {
    const RasterImage& page = Page8();
    OnPage(state, page, [&] { return tone::CountLevels(page, 0, kWidth, 0, kHeight, nullptr)[0]; });
}

void BM_OptimalThreshold8(benchmark::State& state) {
    static RasterImage page(Page8());
    OnPage(state, page, [] { return page.OptimalThreshold(0); });
}

void BM_Threshold8(benchmark::State& state) {
    OnCopy(state, Page8(), [](RasterImage& image) { return image.Threshold(128); });
}

void BM_Threshold24(benchmark::State& state) {
    OnCopy(state, Page24(), [](RasterImage& image) { return image.Threshold(128); });
}

void BM_Dither8(benchmark::State& state) {
    const auto method = static_cast<int32_t>(state.range(0));
    OnCopy(state, Page8(), [method](RasterImage& image) { return image.Dither(method); });
}

void BM_DecreaseBpp24(benchmark::State& state) {
    const auto bpp = static_cast<uint32_t>(state.range(0));
    const bool diffusion = state.range(1) != 0;
    OnCopy(state, Page24(),
           [bpp, diffusion](RasterImage& image) { return image.DecreaseBpp(bpp, diffusion); });
}

// Against a copy of the 24-bit page it writes.
void BM_IncreaseBpp1To24(benchmark::State& state) {
    OnCopy(
        state, Page1(), [](RasterImage& image) { return image.IncreaseBpp(24); }, &Page24());
}

BENCHMARK(BM_Memcpy24)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GrayScale24)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Threshold24)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Memcpy8)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Histogram8)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OptimalThreshold8)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Threshold8)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Dither8)->ArgName("method")->DenseRange(0, 7)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecreaseBpp24)
    ->ArgNames({"bpp", "diffusion"})
    ->Args({8, 0})
    ->Args({8, 1})
    ->Args({4, 0})
    ->Args({4, 1})
    ->Args({1, 0})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IncreaseBpp1To24)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace sheetmend

BENCHMARK_MAIN();
