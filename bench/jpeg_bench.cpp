// JPEG load and save of an A4 page at 300 dpi (2480 x 3508, 24 bits) through
// RasterImage::Load/Save, against libjpeg alone doing the same work (stdio
// file in or out, blue-green-red rows, quality 90, 2x2 chroma sampling). The
// page is drawn reproducibly: paper with a little grain, lines of "text"
// blocks, and a colour picture.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

// jpeglib.h needs size_t and FILE declared first.
#include <jpeglib.h>

#include "image/format_codes.h"
#include "image/raster_image.h"

namespace {

using sheetmend::RasterImage;

constexpr uint32_t kWidth = 2480;
constexpr uint32_t kHeight = 3508;

RasterImage DrawPage() {
    RasterImage page(kWidth, kHeight, 24, sheetmend::kFormatJpeg);
    page.SetXDpi(300);
    page.SetYDpi(300);
    uint32_t state = 12345;
    auto next = [&state]() {
        state = state * 1103515245u + 12345u;
        return (state >> 16) & 0x7FFF;
    };
    for (uint32_t y = 0; y < kHeight; ++y) {
        uint8_t* row = page.RowPtr(y);
        const uint32_t top = kHeight - 1 - y;  // page coordinates
        for (uint32_t x = 0; x < kWidth; ++x) {
            uint8_t v = static_cast<uint8_t>(238 + next() % 12);
            uint8_t b = v, g = v, r = v;
            const bool inText = top > 300 && top < 2200 && x > 200 && x < 2280;
            if (inText && (top % 60) < 34 && ((x / 23) % 7) != 0 && ((x * 7 + top) % 13) < 8) {
                b = g = r = static_cast<uint8_t>(20 + next() % 40);
            }
            if (top >= 2400 && top < 3300 && x >= 300 && x < 2180) {
                r = static_cast<uint8_t>((x - 300) * 255 / 1880);
                g = static_cast<uint8_t>((top - 2400) * 255 / 900);
                b = static_cast<uint8_t>(128 + (next() % 32));
            }
            row[3 * x] = b;
            row[3 * x + 1] = g;
            row[3 * x + 2] = r;
        }
    }
    return page;
}

struct Files {
    std::string dir, page, scratch;
    RasterImage image;
    Files() {
        char tmpl[] = "/tmp/sheetmend-jpeg-bench-XXXXXX";
        dir = mkdtemp(tmpl) ? tmpl : "/tmp";
        page = dir + "/page.jpg";
        scratch = dir + "/out.jpg";
        image = DrawPage();
        image.Save(page.c_str(), sheetmend::kFormatJpeg);
    }
    ~Files() {
        std::remove(page.c_str());
        std::remove(scratch.c_str());
        rmdir(dir.c_str());
    }
};

Files& Shared() {
    static Files files;
    return files;
}

void SetRate(benchmark::State& state) {
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kWidth * kHeight * 3);
}

void BM_LoadRasterImage(benchmark::State& state) {
    Files& f = Shared();
    for (auto _ : state) {
        RasterImage img;
        if (!img.Load(f.page.c_str(), sheetmend::kFormatJpeg))
            state.SkipWithError(img.GetLastError());
        benchmark::DoNotOptimize(img.GetBits());
    }
    SetRate(state);
}

void BM_LoadLibjpegAlone(benchmark::State& state) {
    Files& f = Shared();
    for (auto _ : state) {
        FILE* in = std::fopen(f.page.c_str(), "rb");
        jpeg_decompress_struct cinfo;
        jpeg_error_mgr err;
        cinfo.err = jpeg_std_error(&err);
        jpeg_create_decompress(&cinfo);
        jpeg_stdio_src(&cinfo, in);
        jpeg_read_header(&cinfo, TRUE);
        cinfo.out_color_space = JCS_EXT_BGR;
        jpeg_start_decompress(&cinfo);
        const size_t stride = (cinfo.output_width * 3 + 3) & ~size_t{3};
        auto* pixels = static_cast<uint8_t*>(std::malloc(stride * cinfo.output_height));
        while (cinfo.output_scanline < cinfo.output_height) {
            JSAMPROW rows[16];
            const uint32_t first = cinfo.output_scanline;
            uint32_t n = std::min<uint32_t>(16, cinfo.output_height - first);
            for (uint32_t k = 0; k < n; ++k)
                rows[k] = pixels + stride * (cinfo.output_height - 1 - first - k);
            jpeg_read_scanlines(&cinfo, rows, n);
        }
        jpeg_finish_decompress(&cinfo);
        jpeg_destroy_decompress(&cinfo);
        std::fclose(in);
        benchmark::DoNotOptimize(pixels);
        std::free(pixels);
    }
    SetRate(state);
}

void BM_SaveRasterImage(benchmark::State& state) {
    Files& f = Shared();
    for (auto _ : state) {
        if (!f.image.Save(f.scratch.c_str(), sheetmend::kFormatJpeg))
            state.SkipWithError(f.image.GetLastError());
    }
    SetRate(state);
}

void BM_SaveLibjpegAlone(benchmark::State& state) {
    Files& f = Shared();
    const RasterImage& img = f.image;
    for (auto _ : state) {
        FILE* out = std::fopen(f.scratch.c_str(), "wb");
        jpeg_compress_struct cinfo;
        jpeg_error_mgr err;
        cinfo.err = jpeg_std_error(&err);
        jpeg_create_compress(&cinfo);
        jpeg_stdio_dest(&cinfo, out);
        cinfo.image_width = kWidth;
        cinfo.image_height = kHeight;
        cinfo.input_components = 3;
        cinfo.in_color_space = JCS_EXT_BGR;
        jpeg_set_defaults(&cinfo);
        jpeg_set_quality(&cinfo, 90, FALSE);
        cinfo.density_unit = 1;
        cinfo.X_density = cinfo.Y_density = 300;
        jpeg_start_compress(&cinfo, TRUE);
        while (cinfo.next_scanline < kHeight) {
            JSAMPROW rows[16];
            const uint32_t first = cinfo.next_scanline;
            const uint32_t n = std::min<uint32_t>(16, kHeight - first);
            for (uint32_t k = 0; k < n; ++k)
                rows[k] = const_cast<JSAMPROW>(img.RowPtr(kHeight - 1 - first - k));
            jpeg_write_scanlines(&cinfo, rows, n);
        }
        jpeg_finish_compress(&cinfo);
        jpeg_destroy_compress(&cinfo);
        std::fclose(out);
    }
    SetRate(state);
}

BENCHMARK(BM_LoadRasterImage)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadLibjpegAlone)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SaveRasterImage)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SaveLibjpegAlone)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
