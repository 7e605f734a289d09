// "-orient": turns pages that lie on their side or upside down by a
// multiple of 90 degrees, as the OCR engine's orientation detection says.
// The engine is the adapter beside the program (ocr.exe, in its OSD mode),
// reading the "osd" data from the tessdata folder beside the program.
#pragma once

#include <string>

#include "options/tool_options.h"

namespace sheetmend {

class RasterImage;

// True when the engine and its orientation data are beside the program;
// otherwise false with the reason in `why`.
bool OrientationEngineReady(std::string* why);

// With "-orient" and the engine or its data missing, prints one line that
// names the input file; the pages of that file are then not turned.
void ReportOrientationUnavailable(const ToolOptions& options, const std::string& inputPath);

// Asks the engine how the page lies and turns it upright when the engine is
// sure; prints what it found as a "[Message]" line. A page whose
// orientation is not clear, or without the engine, stays as it is.
void OrientPage(const ToolOptions& options, RasterImage& page);

// The clockwise quarter turn (0, 90, 180 or 270) that the engine's report
// asks for when its orientation confidence reaches `minConfidence`;
// -1 when the report gives none.
int32_t UprightTurnFromReport(const std::string& report, double minConfidence);

}  // namespace sheetmend
