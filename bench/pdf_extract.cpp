// Extracts every page of a PDF into one multi-page TIFF the way the page loop
// does it: one page read, appended, and let go before the next. Used by
// pdf_extract_bench.sh to compare with pdfimages and to measure peak memory.
//
//   pdf_extract INPUT.pdf OUTPUT.tif [PAGES]
#include <cstdio>
#include <cstdlib>

#include "image/codecs/pdf_reader.h"
#include "image/codecs/tiff_codec.h"
#include "image/raster_image.h"

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: pdf_extract INPUT.pdf OUTPUT.tif [PAGES]\n");
        return 2;
    }
    sheetmend::PdfReader reader;
    if (!reader.Open(argv[1])) {
        std::fprintf(stderr, "%s: %s\n", argv[1], reader.LastError().c_str());
        return 1;
    }
    int32_t pages = reader.PageCount();
    if (argc > 3) pages = std::min(pages, std::atoi(argv[3]));
    FILE* out = std::fopen(argv[2], "w+b");
    if (!out) return 1;
    sheetmend::TiffImage tiff;
    tiff.SetOutputPageCount(pages);
    for (int32_t i = 0; i < pages; ++i) {
        sheetmend::RasterImage page;
        bool rendered = false;
        if (!reader.LoadPage(i, page, 0, &rendered)) {
            std::fprintf(stderr, "%s: %s\n", argv[1], reader.LastError().c_str());
            return 1;
        }
        tiff.Ghost(&page);
        if (!tiff.Encode(out, true)) {
            std::fprintf(stderr, "%s: %s\n", argv[2], tiff.GetLastError());
            return 1;
        }
    }
    const bool ok = tiff.FinishPages();
    std::fclose(out);
    return ok ? 0 : 1;
}
