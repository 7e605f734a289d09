// Steps done by programs that lie beside the executable: the deskew and
// despeckle tool "mendkit.dll", which works on Netpbm files, and the image
// converter "imgconv.dll", which fills a black photocopy border with white.
// A missing program makes its step fail without a message.
#pragma once

#include <cstdint>
#include <string>

#include "options/tool_options.h"

namespace sheetmend {

class RasterImage;

inline constexpr const char* kDeskewToolName = "mendkit.dll";
inline constexpr const char* kConverterName = "imgconv.dll";

// Converts an image file with FreeImage: the source format from its content
// (or, failing that, its extension), the target format from the target's
// extension. False when either path is empty, a format is unknown, or the
// load or save fails.
bool ConvertWithFreeImage(const std::string& sourcePath, const std::string& targetPath);

// The deskew tool's command line:
//   "<tool>" [ --deskew-scan-range <range with 2 decimals>] "<input>" "<output>"
// the range only when it is above 0 (without it, two blanks stand between the
// tool and the input).
std::string DeskewToolCommandLine(const std::string& toolPath, const std::string& inputPath,
                                  const std::string& outputPath, double scanRange);

// Runs the deskew tool on a Netpbm file. True when the output file exists
// afterwards; false when the tool is missing or did not write it.
bool RunDeskewTool(const std::string& inputPath, const std::string& outputPath, double scanRange);
// The same with the tool named by its path.
bool RunDeskewToolAt(const std::string& toolPath, const std::string& inputPath,
                     const std::string& outputPath, double scanRange);

// Deskews and despeckles the page through the deskew tool. Pages of 1, 8 or
// 24 bits are made black and white first (and stay so, whatever happens
// next), exchanged as PBM, PGM or PPM by their original depth, and replaced by
// the tool's result, which keeps the page's resolution. Pages of any other
// depth are left untouched. Returns whether the page was replaced.
bool ExternalDeskewStep(const ToolOptions& options, RasterImage& image, double scanRange);

// The -fuzz value as the converter's whole percentage: truncated, and 80 when
// it is 0 or less, 100 or more, or not a number.
int32_t BorderFuzzPercent(double fuzz);

// The converter's command line: add a one-pixel black border, flood-fill
// from the corner with white everything within the fuzz of black, drop the
// alpha channel, shave the border again.
std::string RemoveBorderCommandLine(const std::string& toolPath, const std::string& inputPath,
                                    int32_t fuzzPercent, const std::string& outputPath);

// Fills the black border area around a page with white through the
// converter. The converter writes into a temporary file that replaces the
// output only when it is complete, so a failed run leaves nothing (and an
// older file of the same name does not count as a result). 1 on success, else 0.
int32_t RemoveBorders(const ToolOptions& options, const std::string& inputPath,
                      const std::string& outputPath);
// The same with the converter named by its path.
int32_t RemoveBordersWith(const std::string& converterPath, const ToolOptions& options,
                          const std::string& inputPath, const std::string& outputPath);

}  // namespace sheetmend
