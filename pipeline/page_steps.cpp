// Each operation as a step on one page in memory. On an input of one image
// file, the programs that read files (the border converter, the OCR engine)
// are given the file itself, as they always have been; the pages of other
// inputs reach them through a temporary file of the page.
#include <unistd.h>

#include <memory>
#include <vector>

#include "image/formats.h"
#include "image/page_facts.h"
#include "image/safe_file.h"
#include "image/streams.h"
#include "layout/layout_report.h"
#include "layout/page_bitmap.h"
#include "ocr/engine_runner.h"
#include "pipeline/clean_page.h"
#include "pipeline/convert.h"
#include "pipeline/external_tools.h"
#include "pipeline/image_files.h"
#include "pipeline/page_source.h"
#include "pipeline/page_step.h"
#include "pipeline/process_file.h"
#include "pipeline/remove_black_lines.h"
#include "pipeline/trim_margins.h"
#include "platform/console.h"
#include "platform/output_claims.h"
#include "platform/paths.h"
#include "platform/temp_files.h"

namespace sheetmend {

bool PageInput::Load(LoadReport report) {
    const std::string& path = source.Path();
    bool rendered = false;
    if (several || report == LoadReport::kFailedToLoad || source.IsPdf()) {
        if (source.Load(index, page, &rendered)) {
            RecordLoadedPage(page);
            loadedWidth = page.GetWidth();
            loadedHeight = page.GetHeight();
            if (rendered)
                ConsolePrintf(
                    "[Message] Page %d of \"%s\" is not one scanned image: rendered at %d dpi.\n",
                    index + 1, path.c_str(), page.GetXDpi());
            return true;
        }
        if (several)
            ConsolePrintf("[ERROR] Failed to load page %d of \"%s\".\n", index + 1, path.c_str());
        else
            ConsolePrintf("[ERROR] Failed to load \"%s\" file.\n", path.c_str());
        // The PDF reader knows what is wrong with the page (too large for
        // memory, a damaged stream): that goes to standard error.
        if (source.IsPdf() && !source.Error().empty())
            ConsoleErrorf("[ERROR] \"%s\": %s\n", path.c_str(), source.Error().c_str());
    } else if (LoadImageFile(path, page)) {
        RecordLoadedPage(page);
        return true;
    }
    loadFailed = true;
    return false;
}

namespace {

bool KnownFormats(const std::string& inputPath, const std::string& outputPath) {
    for (const std::string* path : {&inputPath, &outputPath})
        if (ImageTypeFromExtension(*path) == kFormatUnknown) {
            ConsolePrintf("'%s' is an unknown image format.\n", path->c_str());
            return false;
        }
    return true;
}

}  // namespace

bool CheckConversionNames(const std::string& inputPath, const std::string& outputPath) {
    if (!HasSupportedImageExtension(inputPath)) {
        ConsolePrintf("[ERROR] \"%s\" is not a valid input image file.\n", inputPath.c_str());
        return false;
    }
    if (!HasSupportedOutputExtension(outputPath)) {
        ConsolePrintf("[ERROR] \"%s\" is not a valid output image file.\n", outputPath.c_str());
        return false;
    }
    // Names the list accepts that no format code belongs to (".pbm").
    return KnownFormats(inputPath, outputPath);
}

namespace {

// Writes the page to a new temporary PNG (or TIFF) file for the programs
// that read files; "" when it cannot be written.
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

// Whether the engine reads the page after the conversion rather than as it
// is: with -deskew or -despeckle (a one-bit page, cleaned by the external
// converter), and with the program's own -clean, -straighten or -orient
// (the page at its own depth unless the conversion options change it: the
// engine reads the grey edges of strokes better than their threshold).
bool ConvertsForOcr(const ToolOptions& options) {
    return options.deskew || options.despeckle || options.clean || options.straighten ||
           options.orient;
}

// Converts the page for the engine (see ConvertsForOcr).
void ConvertForOcr(ToolOptions& options, RasterImage& page) {
    if (options.deskew || options.despeckle) options.bitcount = 1;
    ConvertPage(options, page, kFormatPng);
}

// The copy the engine reads when ConvertsForOcr: the conversion of the
// page, saved as a temporary PNG; "" when it cannot be made (the engine
// then reads the page as it is).
std::string CleanedCopyForOcr(ToolOptions& options, PageInput& in) {
    const std::string cleaned = MakeTempPath(".png");
    if (cleaned.empty()) return "";
    if (in.source.WholeFile() && !CheckConversionNames(in.source.Path(), cleaned)) return "";
    if (!in.page.IsValid() && !in.Load(LoadReport::kFailedToLoad)) return "";
    ConvertForOcr(options, in.page);
    if (!SaveExplained(in.page, cleaned, kFormatPng)) {
        ConsoleErrorf("[ERROR] Failed to save \"%s\": %s\n", cleaned.c_str(),
                      in.page.GetLastError());
        return "";
    }
    return cleaned;
}

// For the report: the facts of a page that goes to a program as the file
// itself, read without a word on the console (a page that cannot be read
// leaves them out).
void RecordWholeFilePage(const PageInput& in) {
    RasterImage page;
    if (CurrentPageFacts() && in.source.Load(in.index, page)) RecordLoadedPage(page);
}

PageOutcome OcrStep(ToolOptions& options, PageInput& in, const std::string& outputPath) {
    if (in.source.WholeFile()) {
        RecordWholeFilePage(in);
        // The engine reads the file itself, or the cleaned copy when asked for.
        std::string file = in.source.Path();
        if (ConvertsForOcr(options)) {
            const std::string cleaned = CleanedCopyForOcr(options, in);
            if (!cleaned.empty()) file = cleaned;
        }
        ocr::RunOcr(file, outputPath, in.index, options);
        return PageOutcome::kDone;
    }
    if (!in.Load(LoadReport::kFailedToLoad)) return PageOutcome::kFailed;
    std::string file;
    if (ConvertsForOcr(options)) {
        file = CleanedCopyForOcr(options, in);
    } else {
        file = PageToTempFile(in.page);
    }
    if (file.empty()) return PageOutcome::kFailed;
    in.page.Destroy();
    ocr::RunOcr(file, outputPath, in.index, options);
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
// the page, the box files are written as for any OCR output, and the page,
// converted first when ConvertsForOcr, is handed on for writing with its
// words in `text`. An input file of this one page is read by the engine
// directly unless the page was cleaned. A page the engine failed on is
// written without text, and the file counts as failed.
PageOutcome OcrTextStep(ToolOptions& options, PageInput& in, const std::string& outputPath,
                        PageText& text, std::vector<std::string>& pageTexts) {
    text.clear();
    if (!in.Load(LoadReport::kFailedToLoad)) return PageOutcome::kFailed;
    const bool cleaned = ConvertsForOcr(options);
    if (cleaned) ConvertForOcr(options, in.page);
    const bool direct = !cleaned && in.source.WholeFile() && EngineReadsFile(in.source.Path());
    const std::string file = direct ? in.source.Path() : PageToTempFile(in.page);
    if (file.empty()) return PageOutcome::kWriteAndFailed;
    const bool recognized = ocr::OcrPageText(file, outputPath, in.index, options, text) != 0;
    if (!direct) unlink(file.c_str());
    if (pageTexts.size() <= static_cast<size_t>(in.index))
        pageTexts.resize(static_cast<size_t>(in.index) + 1);
    pageTexts[static_cast<size_t>(in.index)] = PlainText(text);
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

PageOutcome CleanStep(const ToolOptions& options, PageInput& in) {
    if (!in.Load(LoadReport::kFailedToLoad)) return PageOutcome::kFailed;
    std::unique_ptr<PageBitmap> bitmap = PageBitmapFromImage(in.page, options.adaptive != 0);
    in.page.Destroy();
    if (!bitmap) {
        if (!in.several)
            ConsolePrintf("[ERROR] Failed to load \"%s\" file.\n", in.source.Path().c_str());
        return PageOutcome::kFailed;
    }
    CleanPageBitmap(*bitmap, options.despeckle2 != 0, options.specklesize, options.deskew2 != 0);
    const DibHandle dib = PageBitmapToDib(*bitmap);
    ReleasePageBitmap(*bitmap);
    // A new image: nothing of the page as loaded (its codec options) carries
    // over to the cleaned page.
    RasterImage cleaned;
    if (!PageBitmapToImage(dib, cleaned)) return PageOutcome::kFailed;
    in.page.Transfer(cleaned);
    return PageOutcome::kWrite;
}

// The blocks as the report gives them: type names and boxes whose right
// and bottom edges lie just past the block.
std::vector<PageBlock> ReportedBlocks(const std::vector<LayoutBlock>& blocks) {
    std::vector<PageBlock> out;
    for (const LayoutBlock& b : blocks)
        out.push_back(PageBlock{BlockTypeLabel(b.type), {b.x0, b.y0, b.x1 + 1, b.y1 + 1}});
    return out;
}

PageOutcome LayoutStep(PageInput& in, uint32_t outputCode, bool adaptive) {
    if (!in.Load(LoadReport::kFailedToLoad)) return PageOutcome::kFailed;
    std::vector<LayoutBlock> blocks;
    {
        RasterImage bitonal(in.page);
        std::unique_ptr<PageBitmap> bitmap = PageBitmapFromImage(bitonal, adaptive);
        if (!bitmap) {
            if (!in.several)
                ConsolePrintf("[ERROR] Failed to load \"%s\" file.\n", in.source.Path().c_str());
            return PageOutcome::kFailed;
        }
        blocks = ReportLayout(*bitmap);
    }
    RecordPageFact([&](PageFacts& f) { f.blocks = ReportedBlocks(blocks); });
    // A file of one page without blocks gets no picture; a page of several
    // is still written (unmarked, in colour), so that page k stays page k.
    if (blocks.empty() && !in.several) return PageOutcome::kDone;
    DrawBlocks(in.page, blocks);
    PrepareForOutputFormat(in.page, outputCode);
    return PageOutcome::kWrite;
}

PageOutcome BorderStep(const ToolOptions& options, PageInput& in, const std::string& outputPath) {
    // A file of one image goes to the converter as it is, and the converter
    // writes the output itself.
    if (in.source.WholeFile()) RecordWholeFilePage(in);
    if (in.source.WholeFile())
        return RemoveBorders(options, in.source.Path(), outputPath) ? PageOutcome::kDone
                                                                    : PageOutcome::kFailed;
    if (!in.Load(LoadReport::kFailedToLoad)) return PageOutcome::kFailed;
    // Other pages go to the converter as a TIFF page, as a file of one page
    // would, so that it reads them as it reads that file.
    const std::string file = PageToTempFile(in.page, kFormatTiff);
    if (file.empty()) return PageOutcome::kFailed;
    // The converter writes the kind of file it writes for one page (a PNG
    // when the output is a PDF), so that it chooses the same depth.
    const bool pdf = ImageTypeFromExtension(outputPath) == kFormatPdf;
    const std::string result = MakeTempPath(pdf ? ".png" : SplitPath(outputPath).ext);
    // Loaded as a new image: the codec options of the page as loaded (a
    // Group 4 compression for a page the converter made grey) must not carry
    // over to the converter's result.
    RasterImage cleaned;
    const bool ok =
        !result.empty() && RemoveBorders(options, file, result) && LoadImageFile(result, cleaned);
    unlink(file.c_str());
    if (!result.empty()) unlink(result.c_str());
    if (!ok) return PageOutcome::kFailed;
    in.page.Transfer(cleaned);
    return PageOutcome::kWrite;
}

}  // namespace

PageStep SelectPageStep(ToolOptions& options, const std::string& outputPath) {
    const uint32_t code = ImageTypeFromExtension(outputPath);
    const std::string output = outputPath;
    PageStep step;
    if (options.ocr && (options.sidecar || code == kFormatPdf)) {
        step.name = "ocr";
        auto text = std::make_shared<PageText>();
        auto texts = std::make_shared<std::vector<std::string>>();
        const bool pdf = code == kFormatPdf;
        step.writesPages = pdf;
        step.text = text;
        step.run = [&options, output, text, texts, pdf](PageInput& in) {
            const PageOutcome outcome = OcrTextStep(options, in, output, *text, *texts);
            if (pdf) return outcome;
            return outcome == PageOutcome::kWrite ? PageOutcome::kDone : PageOutcome::kFailed;
        };
        if (options.sidecar) step.finish = [output, texts] { return WriteSidecar(output, *texts); };
    } else if (options.ocr) {
        step.name = "ocr";
        step.writesPages = false;
        step.run = [&options, output](PageInput& in) { return OcrStep(options, in, output); };
    } else if (options.deskew2 || options.despeckle2) {
        step.name = "clean";
        step.alwaysFails = true;
        step.run = [&options](PageInput& in) { return CleanStep(options, in); };
    } else if (options.layout) {
        step.name = "layout";
        step.run = [&options, code](PageInput& in) {
            return LayoutStep(in, code, options.adaptive != 0);
        };
        step.unknownOutput = [output] {
            ConsolePrintf("'%s' is an unknown image format.\n", output.c_str());
            return true;
        };
    } else if (options.removeborder) {
        step.name = "removeborder";
        step.run = [&options, output](PageInput& in) { return BorderStep(options, in, output); };
    } else if (options.trimmargin) {
        step.name = "trimmargin";
        const ColorRef colour = TrimColorFromText(options.trimcolor);
        step.run = [&options, colour, code](PageInput& in) {
            if (!in.Load(LoadReport::kExplained)) return PageOutcome::kFailed;
            RasterImage result;
            if (!LocateBorderAndCrop(options, in.page, result, colour)) return PageOutcome::kFailed;
            PrepareForFileFormat(result, code);
            in.page.Transfer(result);
            return PageOutcome::kWrite;
        };
        step.unknownOutput = [output] {
            ConsoleErrorf("unknown extension for %s\n", output.c_str());
            return false;
        };
    } else if (options.boxobjects || options.removelongline >= 0 || options.removeshortline > 0) {
        step.name = "removelines";
        step.run = [&options](PageInput& in) {
            if (!in.Load(LoadReport::kFailedToLoad)) return PageOutcome::kFailed;
            RasterImage work;
            if (!RemoveLinesFromPage(in.page, in.source.Path(), options.boxobjects != 0,
                                     options.removelongline, options.removeshortline, work,
                                     options.adaptive != 0))
                return PageOutcome::kFailed;
            in.page.Transfer(work);
            return PageOutcome::kWrite;
        };
        step.checkNames = [output](const std::string& input) {
            return !input.empty() && !output.empty() && KnownFormats(input, output);
        };
    } else if (HasConversionOptions(options)) {
        step.name = "convert";
        step.checkNames = [output](const std::string& input) {
            return CheckConversionNames(input, output);
        };
        step.run = [&options, code](PageInput& in) {
            if (!in.Load(LoadReport::kFailedToLoad)) return PageOutcome::kFailed;
            ConvertPage(options, in.page, code);
            return PageOutcome::kWrite;
        };
    }
    return step;
}

std::string PageOperationName(const ToolOptions& options) {
    ToolOptions own = options;  // the step is only named, never run
    return SelectPageStep(own, "").name;
}

}  // namespace sheetmend
