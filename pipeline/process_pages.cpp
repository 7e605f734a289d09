#include "pipeline/process_pages.h"

#include <optional>

#include "image/formats.h"
#include "image/page_facts.h"
#include "pipeline/image_files.h"
#include "pipeline/page_files.h"
#include "pipeline/page_report.h"
#include "pipeline/page_source.h"
#include "pipeline/page_step.h"
#include "platform/clock.h"
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

// One "failed" line for every page, when the file fails before its pages
// are worked on.
void ReportAllFailed(PageReportHead head, int32_t pages, const std::string& printed) {
    head.status = "failed";
    head.message = FailureMessage(printed);
    for (int32_t k = 1; k <= pages; ++k) {
        head.page = k;
        ReportPage(head, PageFacts{});
    }
}

// A PDF page that goes into a PDF with its pixels' size unchanged keeps its
// size in points, which whole dpi cannot always give back exactly.
void KeepPdfPageSize(const PageInput& in, PageSink& sink, uint32_t code) {
    double width = 0, height = 0;
    if (code == kFormatPdf && in.page.GetWidth() == in.loadedWidth &&
        in.page.GetHeight() == in.loadedHeight &&
        in.source.PageSizePoints(in.index, &width, &height))
        sink.SetNextPageSize(width, height);
}

}  // namespace

int32_t ProcessPages(ToolOptions& options, PageSource& source, const std::string& outputPath) {
    const PageStep step = SelectPageStep(options, outputPath);
    // With a report, each page's facts are collected and its own text is
    // tapped for the reason it failed; without one, nothing of it runs.
    const bool reporting = ReportOpen();
    PageReportHead head{source.Path(), outputPath, step.name, {}, source.Count(), "ok", "", {}};
    std::string printed;
    std::optional<ConsoleTap> tap;
    if (reporting) tap.emplace(printed);
    if (!step.run) {
        printed = "no operation was given";
        ReportAllFailed(head, source.Count(), printed);
        return 0;
    }
    if (step.checkNames && !step.checkNames(source.Path())) {
        ReportAllFailed(head, source.Count(), printed);
        return 0;
    }

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
        ReportAllFailed(head, count, printed);
        return 0;
    }
    for (int32_t k = 0; k < count; ++k) {
        if (several) ConsolePrintf("[Message] Page %d of %d\n", k + 1, count);
        PageFacts facts;
        std::optional<PageFactsScope> scope;
        if (reporting) scope.emplace(facts);
        printed.clear();
        const uint32_t start = TickCountMs();
        bool pageOk = true;
        PageInput in(source, k, several);
        const PageOutcome outcome = step.run(in);
        if (outcome == PageOutcome::kFailed) {
            pageOk = false;
            if (several && sinkUsed && !in.loadFailed) {
                in.page.Destroy();
                WriteUnchanged(in, sink, code);
            }
        } else if (outcome == PageOutcome::kWrite || outcome == PageOutcome::kWriteAndFailed) {
            if (outcome == PageOutcome::kWriteAndFailed) pageOk = false;
            if (in.page.IsValid()) facts.bitsOut = static_cast<int32_t>(in.page.GetBpp());
            if (!sinkUsed) {
                if (!step.unknownOutput || !step.unknownOutput()) pageOk = false;
            } else {
                KeepPdfPageSize(in, sink, code);
                if (!sink.Add(in.page, k + 1, step.text.get())) {
                    ReportSaveFailure(sink);
                    pageOk = false;
                }
            }
        }
        ok = ok && pageOk;
        ConsoleFlush();
        if (reporting) {
            head.page = k + 1;
            head.status = pageOk ? "ok" : "failed";
            head.message = pageOk ? "" : FailureMessage(printed);
            head.ms = static_cast<int64_t>(TickCountMs() - start);
            scope.reset();
            ReportPage(head, facts);
        }
    }
    if (sinkUsed && !sink.Close() && sink.WrittenPages() > 0) {
        ReportSaveFailure(sink);
        ok = false;
    }
    if (step.finish && !step.finish()) ok = false;
    return ok && !step.alwaysFails ? 1 : 0;
}

}  // namespace sheetmend
