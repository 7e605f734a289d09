// libFuzzer target: arbitrary bytes as a DIB handle. CreateFromHandle may
// refuse them, but must never crash, hang or touch memory outside its buffers.
#include <cstddef>
#include <cstdint>

#include "image/raster_image.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    sheetmend::DibHandle handle(data, data + size);
    sheetmend::RasterImage image;
    if (!image.CreateFromHandle(handle)) {
        if (image.GetLastError()[0] == '\0' || image.IsValid()) __builtin_trap();
        return 0;
    }
    if (!image.IsValid()) __builtin_trap();
    // Inflated sizes make huge, mostly empty images; walking and copying
    // them only slows the search down.
    if (image.GetDibSize() > (32u << 20)) return 0;
    volatile uint8_t sink = 0;
    const uint8_t* dib = image.GetDib();
    for (uint32_t i = 0; i < image.GetDibSize(); i += 61) sink = static_cast<uint8_t>(sink ^ dib[i]);
    // A block handed back out must come back identical.
    sheetmend::RasterImage again;
    if (!again.CreateFromHandle(image.CopyToHandle())) __builtin_trap();
    if (again.GetDibSize() != image.GetDibSize() ||
        __builtin_memcmp(again.GetDib(), image.GetDib(), image.GetDibSize()) != 0)
        __builtin_trap();
    (void)sink;
    return 0;
}
