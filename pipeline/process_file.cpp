#include "pipeline/process_file.h"

#include <sys/stat.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>

#include "layout/layout_report.h"
#include "ocr/engine_runner.h"
#include "pipeline/clean_page.h"
#include "pipeline/convert.h"
#include "pipeline/external_tools.h"
#include "pipeline/orient.h"
#include "pipeline/page_files.h"
#include "pipeline/process_pages.h"
#include "pipeline/remove_black_lines.h"
#include "pipeline/trim_margins.h"
#include "platform/temp_files.h"

namespace sheetmend {

bool HasConversionOptions(const ToolOptions& o) {
    const bool depth = o.bitcount == 1 || o.bitcount == 4 || o.bitcount == 8 || o.bitcount == 16 ||
                       o.bitcount == 24 || o.bitcount == 32;
    return depth || o.rotate != 0 || o.threshold >= 0 || o.dither >= 0 || o.width > 0 ||
           o.height > 0 || o.flip || o.mirror || o.deskew || o.despeckle || o.straighten || o.orient;
}

uint32_t TrimColorFromText(const std::string& text) {
    if (text.empty()) return 0;
    // Read like a "%x" scan: leading blanks, an optional sign and "0x", then
    // hexadecimal digits; a text without any leaves 0.
    const char* p = text.c_str();
    while (std::isspace(static_cast<unsigned char>(*p))) ++p;
    char* end = nullptr;
    unsigned long long v = std::strtoull(p, &end, 16);
    if (end == p) return 0;
    if (v > 0xFFFFFFFFull) v = 0xFFFFFFFFull;
    const auto value = static_cast<uint32_t>(v);
    return (value & 0x00FF00u) | ((value >> 16) & 0xFFu) | ((value & 0xFFu) << 16);
}

int32_t ProcessFile(ToolOptions& options, const std::string& inputPath,
                    const std::string& outputPath) {
    struct stat st;
    if (stat(inputPath.c_str(), &st) != 0) return 0;
    ReportOrientationUnavailable(options, inputPath);

    // A file of several pages runs the operation page by page; a file of
    // one page takes the operation's own path, exactly as before.
    int32_t totalPages = 1;
    const int32_t pages = CountInputPages(inputPath, &totalPages);
    if (UsePageLoop(options, inputPath, outputPath, pages))
        return ProcessPages(options, inputPath, outputPath, pages, totalPages);

    if (options.ocr) {
        // With -deskew or -despeckle the engine reads a cleaned one-bit copy
        // of the page; the bit count stays 1 for the rest of the batch.
        std::string page = inputPath;
        if (options.deskew || options.despeckle) {
            const std::string cleaned = MakeTempPath(".png");
            options.bitcount = 1;
            if (!cleaned.empty() && ConvertFile(options, inputPath, cleaned)) page = cleaned;
        }
        return ocr::RunOcr(page, outputPath, 0, options);
    }
    if (options.deskew2 || options.despeckle2) {
        // The pair counts as not done whatever the cleaning gave.
        CleanPage(inputPath, outputPath, options.despeckle2 != 0, options.specklesize,
                  options.deskew2 != 0);
        return 0;
    }
    if (options.layout) return RunLayoutAnalysis(inputPath, outputPath);
    if (options.removeborder) return RemoveBorders(options, inputPath, outputPath);
    if (options.trimmargin)
        return TrimMargins(options, inputPath, outputPath, TrimColorFromText(options.trimcolor));
    if (options.boxobjects || options.removelongline >= 0 || options.removeshortline > 0)
        return RemoveBlackLines(inputPath, outputPath, options.boxobjects != 0,
                                options.removelongline, options.removeshortline);
    if (HasConversionOptions(options)) return ConvertFile(options, inputPath, outputPath);
    return 0;
}

}  // namespace sheetmend
