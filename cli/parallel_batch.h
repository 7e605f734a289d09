// A batch run on several worker threads. Output names are settled in list
// order before any work starts, so each pair gets the name a serial run gives
// it; every pair's console text is kept in its own sink and printed whole, in
// list order, as soon as the pairs before it are printed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cli/batch.h"
#include "cli/progress_line.h"
#include "options/tool_options.h"

namespace sheetmend {

// Workers for a batch: SHEETMEND_JOBS when it is a positive number, else the
// number of online processors.
int32_t WorkerCount(const char* setting);

// Batches whose pairs carry state from one to the next run one pair after
// another: the box colours of -boxobjects continue one random sequence, and
// -ocr with -deskew or -despeckle keeps the bit count it set.
bool MustRunSerially(const ToolOptions& options);

// Pairs that must run in list order on one worker: OCR pairs appending to the
// same box list file. Returns, for each chain, the indexes of its pairs.
std::vector<std::vector<size_t>> PairChains(const ToolOptions& options,
                                            const std::vector<std::string>& outputs);

// The order in which workers take the chains. Within each run of `block`
// consecutive chains the biggest (by `cost`, summed over a chain) go first,
// so that the batch does not end with one worker busy on a big file while
// the others wait; across blocks the list order is kept, so the console text,
// printed in list order, is never held back by more than a block.
std::vector<size_t> ScheduleChains(const std::vector<std::vector<size_t>>& chains,
                                   const std::vector<uint64_t>& cost, size_t block);

// Runs the batch on `workers` threads; returns the result of the last pair in
// list order, as a serial run would.
int32_t RunPairsInParallel(const ToolOptions& options, const std::vector<FilePair>& list,
                           int32_t workers, ProgressLine& progress);

}  // namespace sheetmend
