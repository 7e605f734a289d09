// Running the selected operation over every page of a file of several pages.
//
// Each operation is a transform of one page in memory (ConvertPage,
// LocateBorderAndCrop, RemoveLinesFromPage, CleanPageBitmap, ReportLayout
// with DrawBlocks, and the OCR and border tools through a temporary file of
// the page). The loop loads one page at a time, prints "[Message] Page k of
// n" before the page's own messages (when there are several), runs the
// transform and hands the result to a PageSink, for "-ocr" into a PDF with
// the words the engine found as the page's text layer; a page that cannot be
// decoded is reported and the others go on.
#pragma once

#include <cstdint>
#include <string>

#include "options/tool_options.h"

namespace sheetmend {

// True when the multi-page loop takes this input: it has several pages and
// the operation can write them (known input and output formats where the
// operation needs them), or it is "-ocr" for a searchable PDF or a sidecar
// text, which take the loop for any number of pages. Otherwise the input
// goes through the operation's single-page path, which reads its first page
// exactly as it always has.
bool UsePageLoop(const ToolOptions& options, const std::string& inputPath,
                 const std::string& outputPath, int32_t pageCount);

// Runs the operation on each of the `pageCount` pages of inputPath, a file
// of `totalPages` pages (more when its count was cut to kMaxInputPages; the
// pair then fails with a message naming the count). 1 when every page was
// processed and written, else 0 (the program's own deskew and despeckle
// always give 0, as for one page).
int32_t ProcessPages(ToolOptions& options, const std::string& inputPath,
                     const std::string& outputPath, int32_t pageCount, int32_t totalPages);

}  // namespace sheetmend
