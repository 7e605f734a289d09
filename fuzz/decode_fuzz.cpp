// libFuzzer target: decodes arbitrary bytes as one format (FUZZ_FORMAT, 0 for
// automatic detection). A decoder may refuse the input, but must never crash,
// hang, or touch memory outside its buffers.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "image/raster_image.h"
#include "image/streams.h"

#ifndef FUZZ_FORMAT
#define FUZZ_FORMAT 0
#endif

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> copy(data, data + size);
    sheetmend::MemoryStream stream(copy.data(), copy.size());
    sheetmend::RasterImage image;
    if (!image.Decode(&stream, FUZZ_FORMAT)) {
        if (image.GetLastError()[0] == '\0') __builtin_trap();  // every refusal says why
        return 0;
    }
    if (!image.IsValid()) __builtin_trap();
    // Touch the whole block so a wrong size shows up under the sanitizer.
    volatile uint8_t sink = 0;
    const uint8_t* dib = image.GetDib();
    for (uint32_t i = 0; i < image.GetDibSize(); i += 61) sink = static_cast<uint8_t>(sink ^ dib[i]);
    (void)sink;
    return 0;
}
