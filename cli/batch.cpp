#include "cli/batch.h"

#include <strings.h>

#include <cstdio>

#include "cli/log.h"
#include "cli/options.h"
#include "pipeline/page_files.h"
#include "pipeline/process_file.h"
#include "platform/clock.h"
#include "platform/file_copy.h"
#include "platform/glob.h"
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

bool UniqueOutputPath(std::string& path) {
    return MakeUniquePath(path);
}

int32_t RunBatch(const std::vector<std::string>& words) {
    ToolOptions options;
    options.arguments = words;
    SetDefaultOptions(options);
    if (!ParseCommandLine(options, words)) return -2;
    LogMessage(options, "Enter the application...\n");

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

    int32_t result = 0;
    for (const FilePair& pair : list) {
        if (options.skip && PathExists(pair.output)) {
            std::printf("[skip] %s ==> %s\n", pair.input.c_str(), pair.output.c_str());
            continue;
        }
        std::printf("%s ==> %s\n", pair.input.c_str(), pair.output.c_str());
        std::string output = pair.output;
        if (!UniqueOutputPath(output)) {
            // Every numbered name is taken: refuse rather than overwrite.
            std::printf("[ERROR] No free output name next to \"%s\"; the file is not processed.\n",
                        pair.output.c_str());
            result = 0;
            continue;
        }
        std::string input = pair.input;
        if (strcasecmp(input.c_str(), output.c_str()) == 0) {
            const std::string copy = MakeTempPath(SplitPath(input).ext);
            if (!copy.empty() && CopyFileReplacing(input, copy)) input = copy;
        }
        std::fflush(stdout);
        const uint32_t start = TickCountMs();
        result = ProcessFile(options, input, output);
        const auto elapsed = static_cast<int32_t>(TickCountMs() - start);
        std::printf("[Message] Total used %dms (%.2fs).\n", elapsed, elapsed * 0.001);
        std::fflush(stdout);
    }
    RemoveTempDirectory();
    return result;
}

}  // namespace sheetmend
