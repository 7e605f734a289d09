#include "cli/batch.h"

#include <cstdio>
#include <cstdlib>

#include "cli/log.h"
#include "cli/options.h"
#include "cli/pair_run.h"
#include "cli/parallel_batch.h"
#include "cli/progress_line.h"
#include "pipeline/page_source.h"
#include "platform/console.h"
#include "platform/glob.h"
#include "platform/interrupt_cleanup.h"
#include "platform/output_claims.h"
#include "platform/paths.h"
#include "platform/temp_files.h"

namespace sheetmend {

size_t ExpandInputPattern(const std::string& pattern, std::vector<FilePair>& list) {
    const PathParts parts = SplitPath(pattern);
    for (const std::string& name : MatchDirectoryEntries(parts.dir, parts.name + parts.ext)) {
        const std::string full = MakePath(parts.drive, parts.dir, name, "");
        // Only regular files take part; entries that vanished or cannot be
        // examined are skipped.
        if (!FileExists(full)) continue;
        list.push_back(FilePair{full, ""});
    }
    return list.size();
}

void AssignOutputPaths(const std::string& outputPattern, std::vector<FilePair>& list) {
    if (list.empty()) return;
    const PathParts pattern = SplitPath(outputPattern);
    std::string dir = DirectoryExists(outputPattern) ? outputPattern : pattern.drive + pattern.dir;
    if (!dir.empty() && dir.back() != '/') dir += '/';
    const std::string ext = pattern.ext.empty() ? ".pdf" : pattern.ext;
    for (FilePair& pair : list) {
        if (!pair.output.empty()) continue;
        pair.output = MakePath("", dir, SplitPath(pair.input).name, ext);
    }
}

int32_t RunBatch(const std::vector<std::string>& words) {
    ToolOptions options;
    options.arguments = words;
    SetDefaultOptions(options);
    if (!ParseCommandLine(options, words)) return -2;
    LogMessage(options, "Enter the application...\n");
    if (!options.report.empty()) {
        std::string why;
        if (!OpenReport(options.report, why)) {
            std::fprintf(stderr, "[ERROR] Cannot write the report \"%s\": %s\n",
                         options.report.c_str(), why.c_str());
            return -2;
        }
    }

    std::string pattern = options.inputPath;
    if (DirectoryExists(pattern)) {
        if (pattern.back() != '/') pattern += '/';
        pattern += '*';
    }
    std::vector<FilePair> list;
    const PathParts parts = SplitPath(pattern);
    if ((parts.name + parts.ext).find('*') != std::string::npos)
        ExpandInputPattern(pattern, list);
    else
        list.push_back(FilePair{pattern, options.outputPath});
    if (list.empty()) return -2;
    AssignOutputPaths(options.outputPath, list);

    // Interrupted, the run takes back its claims (no empty file is left
    // under an output name, where -skip would take it for done) and its
    // temporary folder.
    InterruptCleanup onInterrupt([] {
        ReleaseAllClaims(true);
        RemoveTempDirectory();
        if (StandardErrorIsTerminal()) std::fputs("\r\033[K", stderr);  // the progress line
    });
    ProgressLine progress(list.size(), StandardErrorIsTerminal());
    const int32_t workers = WorkerCount(std::getenv("SHEETMEND_JOBS"));
    int32_t result = 0;
    if (workers > 1 && list.size() > 1 && !MustRunSerially(options)) {
        result = RunPairsInParallel(options, list, workers, progress);
    } else {
        // One pair after another, each settling its name when its turn comes
        // and printing as it goes; the options carry over from pair to pair.
        for (const FilePair& pair : list) {
            progress.Clear();
            const PairPlan plan = PlanPair(options, pair);
            if (plan.state == PairPlan::State::kNoFreeName) result = 0;
            if (plan.state == PairPlan::State::kRun) result = RunPair(options, plan);
            progress.PairDone(progress.Shown() ? CountInputPages(plan.input) : 1);
            progress.Draw();
        }
    }
    progress.Clear();
    ReleaseAllClaims();
    RemoveTempDirectory();
    return result;
}

}  // namespace sheetmend
