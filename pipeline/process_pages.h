// The one path of every input: the pages of a PageSource go one at a time
// through the operation's page step and into a PageSink for the output.
//
// A page step is the operation on one page in memory (the conversion,
// margin trimming, line removal, the own deskew and despeckle, the layout
// report, border removal and OCR through their programs). An input of
// several pages prints "[Message] Page k of n" before each page's messages;
// a page that cannot be read is reported and the others go on, and a page
// whose operation fails is written unchanged, so that page k of the result
// stays page k of the input. An input of one page gives exactly what the
// operation has always given for a file: the same messages, the same
// result, and no output when the operation fails.
#pragma once

#include <cstdint>
#include <string>

#include "options/tool_options.h"

namespace sheetmend {

class PageSource;

// Runs the operation the options select on every page of `source`. 1 when
// every page was processed and written, else 0 (the own deskew and
// despeckle always give 0, and OCR always 1, whatever became of the pages).
// May set options.bitcount to 1 for the rest of the batch (OCR with deskew).
int32_t ProcessPages(ToolOptions& options, PageSource& source, const std::string& outputPath);

}  // namespace sheetmend
