// ToolOptions: every option of one run, filled from the command line once and
// read by every operation.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sheetmend {

// Capacities of the text options, terminating zero included: longer values
// are cut to capacity - 1 characters.
inline constexpr int32_t kPathCapacity = 2048;
inline constexpr int32_t kTrimColorCapacity = 1024;
inline constexpr int32_t kLangCapacity = 200;

struct ToolOptions {
    std::vector<std::string> arguments;  // every command-line word, program path first
    std::string inputPath;               // file, directory or wildcard pattern
    std::string outputPath;              // output file or output pattern
    int32_t version = 0;
    int32_t help = 0;
    int32_t verbose = 0;  // enables LogMessage; no option sets it
    int32_t skip = 0;
    int32_t bitcount = 0;
    int32_t rotate = 0;
    int32_t threshold = 0;
    int32_t deskew = 0;
    int32_t deskew2 = 0;
    int32_t despeckle = 0;
    int32_t despeckle2 = 0;
    int32_t specklesize = 0;
    int32_t dither = 0;
    int32_t width = 0;
    int32_t height = 0;
    int32_t flip = 0;
    int32_t mirror = 0;
    double skewrange = 0.0;
    int32_t layout = 0;
    int32_t boxobjects = 0;
    int32_t removelongline = 0;
    int32_t removeshortline = 0;
    int32_t removeborder = 0;
    double fuzz = 0.0;
    int32_t trimmargin = 0;
    std::string trimcolor;
    int32_t ocr = 0;
    std::string lang;
    int32_t boxpic = 0;
    int32_t pdfdpi = 0;  // resolution of rendered PDF pages; 0 chooses it per page
    int32_t adaptive = 0;  // local instead of global threshold wherever a page becomes 1 bit
    int32_t flatten = 0;   // divide out the paper background before any threshold
    int32_t straighten = 0;
    int32_t orient = 0;
    int32_t sidecar = 0;
    std::string report;  // the per-page report's file, "-" for standard error; empty = none
    int32_t clean = 0;  // border, flattening, straightening and specks in one pass
};

// The defaults set before parsing: no threshold, no dithering, no long-line
// removal and no fuzz value given.
inline void SetDefaultOptions(ToolOptions& options) {
    options.threshold = -1;
    options.dither = -1;
    options.removelongline = -1;
    options.fuzz = -1.0;
}

}  // namespace sheetmend
