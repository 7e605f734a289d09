// One input/output pair of a batch: choosing the name its output is written
// under, and running its operation with the lines the console shows for it.
#pragma once

#include <cstdint>
#include <string>

#include "cli/batch.h"
#include "options/tool_options.h"

namespace sheetmend {

struct PairPlan {
    enum class State { kRun, kSkipped, kNoFreeName };
    std::string input;
    std::string output;  // the name the output is written under
    State state = State::kRun;
    bool claimed = false;  // `output` is an empty placeholder of ours until written
};

// Prints the pair's opening line and settles its output: skipped under -skip
// when the named output exists, else the first free numbered name, claimed so
// that nobody else takes it. An OCR pair writes no file under that name, so
// its name is only looked up, never claimed.
PairPlan PlanPair(const ToolOptions& options, const FilePair& pair);

// Runs a pair planned to run: the operation and its timing line. Afterwards
// the claim goes if nothing was written under it, and the pair's temporary
// files are deleted. Returns the operation's result.
int32_t RunPair(ToolOptions& options, const PairPlan& plan);

}  // namespace sheetmend
