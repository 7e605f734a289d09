#include "pipeline/process_pages.h"

#include <unistd.h>

#include <cstdio>
#include <functional>
#include <memory>

#include "image/formats.h"
#include "image/raster_image.h"
#include "image/safe_file.h"
#include "image/streams.h"
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
#include "platform/output_claims.h"
#include "platform/paths.h"
#include "platform/temp_files.h"

namespace sheetmend {

namespace {

// What became of one page.
enum class PageOutcome {
    kWrite,           // the page holds the result, to be written
    kDone,            // the page was dealt with and has no picture to write (OCR)
    kFailed,          // the operation failed on this page (it said why)
    kWriteAndFailed,  // written as it is, but the operation failed on it (it said why)
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

// The loop over the pages: load, transform, write, one page at a time. When
// `text` is given, the transform leaves the page's text layer in it, which
// goes with the page to the sink.
int32_t RunOverPages(const std::string& inputPath, const std::string& outputPath, int32_t pageCount,
                     bool writesPages, const PageTransform& transform, PageText* text = nullptr) {
    PageSink sink;
    bool ok = true;
    if (writesPages && !sink.Open(outputPath, ImageTypeFromExtension(outputPath), pageCount)) {
        ReportSaveFailure(sink);
        return 0;
    }
    for (int32_t k = 0; k < pageCount; ++k) {
        if (pageCount > 1) ConsolePrintf("[Message] Page %d of %d\n", k + 1, pageCount);
        RasterImage page;
        if (!LoadInputPage(inputPath, k, page)) {
            ConsolePrintf("[ERROR] Failed to load page %d of \"%s\".\n", k + 1, inputPath.c_str());
            ok = false;
            continue;
        }
        if (text) text->clear();
        const PageOutcome outcome = transform(page, k + 1);
        if (outcome == PageOutcome::kFailed || outcome == PageOutcome::kWriteAndFailed) ok = false;
        if ((outcome == PageOutcome::kWrite || outcome == PageOutcome::kWriteAndFailed) &&
            !sink.Add(page, k + 1, text)) {
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

// True for a file whose content the engine reads itself (PNG, JPEG, TIFF,
// BMP, PNM), so an unchanged page of one need not be copied for it.
bool EngineReadsFile(const std::string& path) {
    const uint32_t code = ImageTypeFromContent(path.c_str());
    return code == kFormatPng || code == kFormatJpeg || code == kFormatTiff || code == kFormatBmp ||
           code == kFormatPnm;
}

// "-ocr" for a searchable PDF (or a sidecar text): the engine runs once on
// the page, the box files are written as by RunOcr, and the page, cleaned
// first with -deskew or -despeckle, is handed on for writing with its words
// in `text`. `sourceFile` is the input file when it is this one page, which
// the engine then reads directly unless the page was cleaned. A page the
// engine failed on is written without text, and the file counts as failed.
PageOutcome OcrTextPage(ToolOptions& options, RasterImage& page, const std::string& sourceFile,
                        const std::string& outputPath, int32_t number, PageText& text,
                        std::vector<std::string>& pageTexts) {
    const bool cleaned = options.deskew || options.despeckle;
    if (cleaned) {
        options.bitcount = 1;
        ConvertPage(options, page, kFormatPng);
    }
    const bool direct = !cleaned && !sourceFile.empty() && EngineReadsFile(sourceFile);
    const std::string file = direct ? sourceFile : PageToTempFile(page);
    if (file.empty()) return PageOutcome::kWriteAndFailed;
    const bool recognized = ocr::OcrPageText(file, outputPath, number - 1, options, text) != 0;
    if (!direct) unlink(file.c_str());
    pageTexts[static_cast<size_t>(number - 1)] = PlainText(text);
    return recognized ? PageOutcome::kWrite : PageOutcome::kWriteAndFailed;
}

// Writes the page texts, separated by form feeds, to "<output name>.txt"
// under a name no file holds yet. False, with a message, when it cannot.
bool WriteSidecar(const std::string& outputPath, const std::vector<std::string>& pageTexts) {
    const PathParts parts = SplitPath(outputPath);
    std::string path = MakePath(parts.drive, parts.dir, parts.name, ".txt");
    std::string all;
    for (size_t i = 0; i < pageTexts.size(); ++i) all += (i ? "\f" : "") + pageTexts[i];
    SafeWriteOutcome outcome;
    const bool ok =
        ClaimFreeName(path) && WriteFileSafely(
                                   path.c_str(),
                                   [&](ByteStream* out) {
                                       return out->Write(all.data(), 1, all.size()) == all.size() &&
                                              out->Flush();
                                   },
                                   outcome);
    if (!ok) {
        ReleaseClaim(path);
        ConsoleErrorf("[ERROR] Failed to save \"%s\": %s\n", path.c_str(),
                      outcome.error.empty() ? "cannot write the file" : outcome.error.c_str());
    }
    return ok;
}

PageOutcome CleanOnePage(const ToolOptions& options, RasterImage& page) {
    std::unique_ptr<PageBitmap> bitmap = PageBitmapFromImage(page);
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

PageOutcome LayoutOnePage(RasterImage& page, uint32_t outputCode) {
    std::vector<LayoutBlock> blocks;
    {
        RasterImage bitonal(page);
        std::unique_ptr<PageBitmap> bitmap = PageBitmapFromImage(bitonal);
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
    if (options.ocr && pageCount >= 1 &&
        (options.sidecar || ImageTypeFromExtension(outputPath) == kFormatPdf))
        return true;
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

    if (options.ocr && (options.sidecar || code == kFormatPdf)) {
        PageText text;
        std::vector<std::string> pageTexts(static_cast<size_t>(pageCount));
        const std::string sourceFile = pageCount == 1 && total == 1 ? inputPath : "";
        const bool pdf = code == kFormatPdf;
        int32_t r = RunOverPages(
            inputPath, outputPath, pageCount, pdf,
            [&](RasterImage& page, int32_t number) {
                const PageOutcome outcome =
                    OcrTextPage(options, page, sourceFile, outputPath, number, text, pageTexts);
                if (pdf) return outcome;
                return outcome == PageOutcome::kWrite ? PageOutcome::kDone : PageOutcome::kFailed;
            },
            &text);
        if (options.sidecar && !WriteSidecar(outputPath, pageTexts)) r = 0;
        return cut ? 0 : r;
    }
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
        return run(true, [&](RasterImage& page, int32_t) { return LayoutOnePage(page, code); });
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
                                     options.removelongline, options.removeshortline, work))
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
