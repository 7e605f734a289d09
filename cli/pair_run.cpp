#include "cli/pair_run.h"

#include <strings.h>

#include "pipeline/page_files.h"
#include "pipeline/page_report.h"
#include "pipeline/page_step.h"
#include "pipeline/process_file.h"
#include "platform/clock.h"
#include "platform/console.h"
#include "platform/file_copy.h"
#include "platform/output_claims.h"
#include "platform/paths.h"
#include "platform/temp_files.h"

namespace sheetmend {

PairPlan PlanPair(const ToolOptions& options, const FilePair& pair) {
    PairPlan plan;
    plan.input = pair.input;
    plan.output = pair.output;
    if (options.skip && PathExists(pair.output)) {
        ConsolePrintf("[skip] %s ==> %s\n", pair.input.c_str(), pair.output.c_str());
        ReportSkippedPages(options, pair.input, pair.output);
        plan.state = PairPlan::State::kSkipped;
        return plan;
    }
    ConsolePrintf("%s ==> %s\n", pair.input.c_str(), pair.output.c_str());
    const bool named = options.ocr ? MakeUniquePath(plan.output) : ClaimFreeName(plan.output);
    if (!named) {
        // Every numbered name is taken: refuse rather than overwrite.
        ConsolePrintf("[ERROR] No free output name next to \"%s\"; the file is not processed.\n",
                      pair.output.c_str());
        ReportPage(PageReportHead{pair.input,
                                  pair.output,
                                  PageOperationName(options),
                                  {},
                                  {},
                                  "failed",
                                  "No free output name",
                                  {}},
                   PageFacts{});
        plan.state = PairPlan::State::kNoFreeName;
        return plan;
    }
    plan.claimed = !options.ocr;
    return plan;
}

int32_t RunPair(ToolOptions& options, const PairPlan& plan) {
    std::string input = plan.input;
    if (strcasecmp(input.c_str(), plan.output.c_str()) == 0) {
        const std::string copy = MakeTempPath(SplitPath(input).ext);
        if (!copy.empty() && CopyFileReplacing(input, copy)) input = copy;
    }
    ConsoleFlush();
    const uint32_t start = TickCountMs();
    const int32_t result = ProcessFile(options, input, plan.output);
    const auto elapsed = static_cast<int32_t>(TickCountMs() - start);
    ConsolePrintf("[Message] Total used %dms (%.2fs).\n", elapsed, elapsed * 0.001);
    ConsoleFlush();
    if (plan.claimed) ReleaseClaim(plan.output);
    CleanupTempFiles();
    return result;
}

}  // namespace sheetmend
