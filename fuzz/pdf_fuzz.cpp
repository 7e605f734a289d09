// libFuzzer target: reads arbitrary bytes as a PDF document, every page of it
// (at most a few, rendered ones at a low resolution so each run stays short).
// The reader may refuse the file or a page, but must say why, and must never
// crash, hang, or touch memory outside its buffers.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "image/codecs/pdf_reader.h"
#include "image/raster_image.h"

// poppler finds fonts through fontconfig, which keeps what it loads for the
// life of the process: not a leak of the reader's.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}

namespace {

// The reader takes a path: the input goes to one file per process.
const std::string& InputPath() {
    static const std::string path = "/tmp/pdf-fuzz-" + std::to_string(getpid()) + ".pdf";
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FILE* f = std::fopen(InputPath().c_str(), "wb");
    if (!f) return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);
    sheetmend::PdfReader reader;
    if (!reader.Open(InputPath())) {
        if (reader.LastError().empty()) __builtin_trap();
        return 0;
    }
    for (int32_t i = 0; i < reader.PageCount() && i < 4; ++i) {
        sheetmend::RasterImage page;
        bool rendered = false;
        if (!reader.LoadPage(i, page, 9, &rendered)) {
            if (reader.LastError().empty()) __builtin_trap();
            continue;
        }
        if (!page.IsValid()) __builtin_trap();
        volatile uint8_t sink = 0;
        const uint8_t* dib = page.GetDib();
        for (uint32_t k = 0; k < page.GetDibSize(); k += 61)
            sink = static_cast<uint8_t>(sink ^ dib[k]);
        (void)sink;
    }
    return 0;
}
