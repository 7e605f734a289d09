#include "pipeline/process_pages.h"

#include <unistd.h>

#include <cstdio>
#include <functional>
#include <memory>

#include "image/formats.h"
#include "image/raster_image.h"
#include "layout/layout_report.h"
#include "layout/page_bitmap.h"
#include "ocr/engine_runner.h"
#include "pipeline/clean_page.h"
#include "pipeline/convert.h"
#include "pipeline/external_tools.h"
#include "pipeline/image_files.h"
#include "pipeline/page_files.h"
#include "pipeline/process_file.h"
#include "pipeline/remove_black_lines.h"
#include "pipeline/trim_margins.h"
#include "platform/console.h"
#include "platform/paths.h"
#include "platform/temp_files.h"

namespace sheetmend {

namespace {

// What became of one page.
enum class PageOutcome {
    kWrite,   // the page holds the result, to be written
    kDone,    // the page was dealt with and has no picture to write (OCR)
    kFailed,  // the operation failed on this page (it said why)
};

using PageTransform = std::function<PageOutcome(RasterImage& page, int32_t number)>;

// Writes the page to a new temporary PNG (or TIFF) file for the tools that read files;
// "" when it cannot be written.
std::string PageToTempFile(RasterImage& page, uint32_t code = kFormatPng) {
    const std::string path = MakeTempPath(code == kFormatTiff ? ".tif" : ".png");
    if (path.empty() || !SaveExplained(page, path, code)) {
        ConsoleErrorf("[ERROR] Failed to save a temporary copy of the page: %s\n",
                      page.GetLastError()[0] ? page.GetLastError() : "no temporary folder");
        if (!path.empty()) unlink(path.c_str());
        return "";
    }
    return path;
}

void ReportSaveFailure(const PageSink& sink) {
    ConsoleErrorf("[ERROR] Failed to save \"%s\": %s\n", sink.FailedPath().c_str(),
                  sink.LastError().c_str());
}

// The loop over the pages: load, transform, write, one page at a time.
int32_t RunOverPages(const std::string& inputPath, const std::string& outputPath, int32_t pageCount,
                     bool writesPages, const PageTransform& transform) {
    PageSink sink;
    bool ok = true;
    if (writesPages && !sink.Open(outputPath, ImageTypeFromExtension(outputPath), pageCount)) {
        ReportSaveFailure(sink);
        return 0;
    }
    for (int32_t k = 0; k < pageCount; ++k) {
        ConsolePrintf("[Message] Page %d of %d\n", k + 1, pageCount);
        RasterImage page;
        if (!LoadInputPage(inputPath, k, page)) {
            ConsolePrintf("[ERROR] Failed to load page %d of \"%s\".\n", k + 1, inputPath.c_str());
            ok = false;
            continue;
        }
        const PageOutcome outcome = transform(page, k + 1);
        if (outcome == PageOutcome::kFailed) {
            ok = false;
        } else if (outcome == PageOutcome::kWrite && !sink.Add(page, k + 1)) {
            ReportSaveFailure(sink);
            ok = false;
        }
        ConsoleFlush();
    }
    if (writesPages && !sink.Close()) {
        if (sink.WrittenPages() > 0) ReportSaveFailure(sink);
        ok = false;
    }
    return ok ? 1 : 0;
}

PageOutcome OcrOnePage(ToolOptions& options, RasterImage& page, const std::string& outputPath,
                       int32_t number) {
    if (options.deskew || options.despeckle) {
        // As for one page: the engine reads a cleaned one-bit copy, and the
        // bit count stays 1 for the rest of the batch.
        options.bitcount = 1;
        ConvertPage(options, page, kFormatPng);
    }
    const std::string file = PageToTempFile(page);
    if (file.empty()) return PageOutcome::kFailed;
    page.Destroy();
    ocr::RunOcr(file, outputPath, number - 1, options);
    unlink(file.c_str());
    return PageOutcome::kDone;
}

PageOutcome CleanOnePage(const ToolOptions& options, RasterImage& page) {
    std::unique_ptr<PageBitmap> bitmap = PageBitmapFromImage(page, options.adaptive != 0);
    page.Destroy();
    if (!bitmap) return PageOutcome::kFailed;
    CleanPageBitmap(*bitmap, options.despeckle2 != 0, options.specklesize, options.deskew2 != 0);
    const DibHandle dib = PageBitmapToDib(*bitmap);
    ReleasePageBitmap(*bitmap);
    // A new image, as for one page: nothing of the page as loaded (its
    // codec options) carries over to the cleaned page.
    RasterImage cleaned;
    if (!PageBitmapToImage(dib, cleaned)) return PageOutcome::kFailed;
    page.Transfer(cleaned);
    return PageOutcome::kWrite;
}

PageOutcome LayoutOnePage(RasterImage& page, uint32_t outputCode, bool adaptive) {
    std::vector<LayoutBlock> blocks;
    {
        RasterImage bitonal(page);
        std::unique_ptr<PageBitmap> bitmap = PageBitmapFromImage(bitonal, adaptive);
        if (!bitmap) return PageOutcome::kFailed;
        blocks = ReportLayout(*bitmap);
    }
    // A page without blocks is still written (unmarked, in colour), so that
    // page k of the result stays page k of the input.
    DrawBlocks(page, blocks);
    PrepareForOutputFormat(page, outputCode);
    return PageOutcome::kWrite;
}

PageOutcome BorderOnePage(const ToolOptions& options, RasterImage& page,
                          const std::string& outputPath) {
    // A page of a TIFF file goes to the converter as a TIFF page, as a file
    // of one page would, so that it reads it as it reads that file.
    const std::string file = PageToTempFile(page, kFormatTiff);
    if (file.empty()) return PageOutcome::kFailed;
    // The converter writes the kind of file it writes for one page (a PNG
    // when the output is a PDF), so that it chooses the same depth.
    const bool pdf = ImageTypeFromExtension(outputPath) == kFormatPdf;
    const std::string result = MakeTempPath(pdf ? ".png" : SplitPath(outputPath).ext);
    // Loaded as a new image, as for one page: the codec options of the page
    // as loaded (a Group 4 compression for a page the converter made grey)
    // must not carry over to the converter's result.
    RasterImage cleaned;
    const bool ok =
        !result.empty() && RemoveBorders(options, file, result) && LoadImageFile(result, cleaned);
    unlink(file.c_str());
    if (!result.empty()) unlink(result.c_str());
    if (!ok) return PageOutcome::kFailed;
    page.Transfer(cleaned);
    return PageOutcome::kWrite;
}

}  // namespace

bool UsePageLoop(const ToolOptions& options, const std::string& inputPath,
                 const std::string& outputPath, int32_t pageCount) {
    if (pageCount <= 1) return false;
    if (options.ocr) return true;
    // An output the operation cannot write fails on its single-page path,
    // with the messages it has always given.
    if (ImageTypeFromExtension(outputPath) == kFormatUnknown) return false;
    return ImageTypeFromExtension(inputPath) != kFormatUnknown;
}

int32_t ProcessPages(ToolOptions& options, const std::string& inputPath,
                     const std::string& outputPath, int32_t pageCount, int32_t totalPages) {
    const int32_t total = totalPages;
    if (total > pageCount) {
        ConsolePrintf("[ERROR] \"%s\" has %d pages; only the first %d are processed.\n",
                      inputPath.c_str(), total, pageCount);
    }
    const bool cut = total > pageCount;
    const uint32_t code = ImageTypeFromExtension(outputPath);
    auto run = [&](bool writesPages, const PageTransform& transform) {
        const int32_t r = RunOverPages(inputPath, outputPath, pageCount, writesPages, transform);
        return cut ? 0 : r;
    };

    if (options.ocr)
        return run(false, [&](RasterImage& page, int32_t number) {
            return OcrOnePage(options, page, outputPath, number);
        });
    if (options.deskew2 || options.despeckle2) {
        // The pair counts as not done whatever the cleaning gave, as for one page.
        run(true, [&](RasterImage& page, int32_t) { return CleanOnePage(options, page); });
        return 0;
    }
    if (options.layout)
        return run(true, [&](RasterImage& page, int32_t) {
            return LayoutOnePage(page, code, options.adaptive != 0);
        });
    if (options.removeborder)
        return run(true, [&](RasterImage& page, int32_t) {
            return BorderOnePage(options, page, outputPath);
        });
    if (options.trimmargin) {
        const ColorRef colour = TrimColorFromText(options.trimcolor);
        return run(true, [&](RasterImage& page, int32_t) {
            RasterImage result;
            if (!LocateBorderAndCrop(options, page, result, colour)) return PageOutcome::kFailed;
            PrepareForFileFormat(result, code);
            page.Transfer(result);
            return PageOutcome::kWrite;
        });
    }
    if (options.boxobjects || options.removelongline >= 0 || options.removeshortline > 0)
        return run(true, [&](RasterImage& page, int32_t) {
            RasterImage work;
            if (!RemoveLinesFromPage(page, inputPath, options.boxobjects != 0,
                                     options.removelongline, options.removeshortline, work,
                                     options.adaptive != 0))
                return PageOutcome::kFailed;
            page.Transfer(work);
            return PageOutcome::kWrite;
        });
    if (HasConversionOptions(options))
        return run(true, [&](RasterImage& page, int32_t) {
            ConvertPage(options, page, code);
            return PageOutcome::kWrite;
        });
    return 0;
}

}  // namespace sheetmend
