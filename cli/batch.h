// The batch: input file, directory or wildcard expanded into input/output
// pairs, output names made unique, and each pair handed to the dispatcher.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "options/tool_options.h"

namespace sheetmend {

struct FilePair {
    std::string input;
    std::string output;  // empty until AssignOutputPaths
};

// Appends a pair with an empty output for every file (not directory) matching
// the pattern's final component, in name order. Returns the list's length.
size_t ExpandInputPattern(const std::string& pattern, std::vector<FilePair>& list);

// Gives every pair without an output: the output folder (the pattern itself when
// it is an existing directory, else its directory part), the input's name and
// the pattern's extension (".pdf" when it has none).
void AssignOutputPaths(const std::string& outputPattern, std::vector<FilePair>& list);

// The whole run from the command-line words; returns the exit status: the
// result of the last processed pair, or -2 for a bad command line, a help or
// version request, or an input that names no file.
int32_t RunBatch(const std::vector<std::string>& words);

}  // namespace sheetmend
