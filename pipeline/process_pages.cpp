#include "pipeline/process_pages.h"

#include "image/formats.h"
#include "pipeline/image_files.h"
#include "pipeline/page_files.h"
#include "pipeline/page_source.h"
#include "pipeline/page_step.h"
#include "platform/console.h"

namespace sheetmend {

namespace {

void ReportSaveFailure(const PageSink& sink) {
    ConsoleErrorf("[ERROR] Failed to save \"%s\": %s\n", sink.FailedPath().c_str(),
                  sink.LastError().c_str());
}

// A page of several whose operation failed goes into the result as it was
// read, so that the pages after it keep their numbers.
bool WriteUnchanged(PageInput& in, PageSink& sink, uint32_t code) {
    RasterImage page;
    if (!in.source.Load(in.index, page)) return false;
    PrepareForFileFormat(page, code);
    if (sink.Add(page, in.index + 1)) return true;
    ReportSaveFailure(sink);
    return false;
}

}  // namespace

int32_t ProcessPages(ToolOptions& options, PageSource& source, const std::string& outputPath) {
    const PageStep step = SelectPageStep(options, outputPath);
    if (!step.run) return 0;
    if (step.checkNames && !step.checkNames(source.Path())) return 0;

    const uint32_t code = ImageTypeFromExtension(outputPath);
    // An output of unknown format takes no pages of its own: the first page
    // goes through the operation, which says what it makes of that output.
    if (step.writesPages && code == kFormatUnknown) source.KeepFirstPageOnly();
    const int32_t count = source.Count();
    const bool several = count > 1;
    bool ok = true;
    if (several && source.Total() > count) {
        ConsolePrintf("[ERROR] \"%s\" has %d pages; only the first %d are processed.\n",
                      source.Path().c_str(), source.Total(), count);
        ok = false;
    }

    const bool sinkUsed = step.writesPages && code != kFormatUnknown;
    PageSink sink;
    if (sinkUsed && !sink.Open(outputPath, code, count)) {
        ReportSaveFailure(sink);
        return 0;
    }
    for (int32_t k = 0; k < count; ++k) {
        if (several) ConsolePrintf("[Message] Page %d of %d\n", k + 1, count);
        PageInput in(source, k, several);
        const PageOutcome outcome = step.run(in);
        if (outcome == PageOutcome::kFailed) {
            ok = false;
            if (several && sinkUsed && !in.loadFailed) {
                in.page.Destroy();
                WriteUnchanged(in, sink, code);
            }
        } else if (outcome == PageOutcome::kWrite || outcome == PageOutcome::kWriteAndFailed) {
            if (outcome == PageOutcome::kWriteAndFailed) ok = false;
            if (!sinkUsed) {
                if (!step.unknownOutput || !step.unknownOutput()) ok = false;
            } else if (!sink.Add(in.page, k + 1, step.text.get())) {
                ReportSaveFailure(sink);
                ok = false;
            }
        }
        ConsoleFlush();
    }
    if (sinkUsed && !sink.Close() && sink.WrittenPages() > 0) {
        ReportSaveFailure(sink);
        ok = false;
    }
    if (step.finish && !step.finish()) ok = false;
    return ok && !step.alwaysFails ? 1 : 0;
}

}  // namespace sheetmend
