// The operations as steps on one page, for the page loop (process_pages).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "image/page_text.h"
#include "image/raster_image.h"
#include "options/tool_options.h"

namespace sheetmend {

class PageSource;

// What became of one page.
enum class PageOutcome {
    kWrite,           // the page holds the result, to be written
    kDone,            // the page was dealt with and has nothing (more) to write
    kFailed,          // the operation failed on this page (it said why)
    kWriteAndFailed,  // written as it is, but the operation failed on it (it said why)
};

// How a page that cannot be read is reported when the input has one page.
enum class LoadReport {
    kFailedToLoad,  // "[ERROR] Failed to load "<file>" file." on standard output
    kExplained,     // the decoder's reason and the file, on standard error
};

// The page being worked on: which one, and the pixels once loaded.
struct PageInput {
    PageInput(const PageSource& from, int32_t number, bool ofSeveral)
        : source(from), index(number), several(ofSeveral) {}
    const PageSource& source;
    int32_t index;  // from 0
    bool several;   // the input has several pages
    RasterImage page;
    bool loadFailed = false;
    uint32_t loadedWidth = 0, loadedHeight = 0;  // the page as read

    // Loads the page, reporting a failure as `report` says (or, on an input
    // of several pages, as "Failed to load page k").
    bool Load(LoadReport report);
};

struct PageStep {
    // The operation's name in the per-page report.
    std::string name;
    // The checks of the file names before any page is read, with the
    // operation's own messages; empty when there are none.
    std::function<bool(const std::string& inputPath)> checkNames;
    std::function<PageOutcome(PageInput&)> run;
    // Whether the pages go to the output (OCR writes files of its own).
    bool writesPages = true;
    // A page result for an output whose format is unknown: what the operation
    // says, and whether the file still counts as done.
    std::function<bool()> unknownOutput;
    // The own deskew and despeckle count a file as not done whatever happened.
    bool alwaysFails = false;
    // The text layer `run` leaves for the page it wrote (a searchable PDF).
    std::shared_ptr<PageText> text;
    // Runs after the last page (the sidecar text); false fails the file.
    std::function<bool()> finish;
};

// The step of the operation the options select; its `run` is empty when
// no operation is selected.
PageStep SelectPageStep(ToolOptions& options, const std::string& outputPath);

// The name of the operation the options select ("" when none).
std::string PageOperationName(const ToolOptions& options);

// The conversion's own checks of the input and output names.
bool CheckConversionNames(const std::string& inputPath, const std::string& outputPath);

}  // namespace sheetmend
