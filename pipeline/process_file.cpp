#include "pipeline/process_file.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>

#include "pipeline/orient.h"
#include "pipeline/page_report.h"
#include "pipeline/page_source.h"
#include "pipeline/page_step.h"
#include "pipeline/process_pages.h"
#include "platform/console.h"

namespace sheetmend {

bool HasConversionOptions(const ToolOptions& o) {
    const bool depth = o.bitcount == 1 || o.bitcount == 4 || o.bitcount == 8 || o.bitcount == 16 ||
                       o.bitcount == 24 || o.bitcount == 32;
    return depth || o.rotate != 0 || o.threshold >= 0 || o.dither >= 0 || o.width > 0 ||
           o.height > 0 || o.flip || o.mirror || o.deskew || o.despeckle || o.flatten ||
           o.straighten || o.orient || o.clean;
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
    PageSource source;
    source.SetRenderDpi(options.pdfdpi);
    if (!source.Open(inputPath)) {
        ConsolePrintf("[ERROR] Cannot open \"%s\": %s\n", inputPath.c_str(),
                      source.Error().c_str());
        ReportPage(PageReportHead{inputPath,
                                  outputPath,
                                  PageOperationName(options),
                                  {},
                                  {},
                                  "failed",
                                  "Cannot open: " + source.Error(),
                                  {}},
                   PageFacts{});
        return 0;
    }
    ReportOrientationUnavailable(options, inputPath);
    if (!source.Notice().empty())
        ConsolePrintf("[Message] \"%s\": %s\n", inputPath.c_str(), source.Notice().c_str());
    return ProcessPages(options, source, outputPath);
}

}  // namespace sheetmend
