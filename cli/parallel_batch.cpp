#include "cli/parallel_batch.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "cli/pair_run.h"
#include "ocr/hocr.h"
#include "pipeline/page_source.h"
#include "platform/console.h"

namespace sheetmend {

int32_t WorkerCount(const char* setting) {
    if (setting && *setting) {
        char* end = nullptr;
        const long n = std::strtol(setting, &end, 10);
        if (*end == '\0' && n > 0) return static_cast<int32_t>(std::min(n, 1024L));
    }
    const long online = sysconf(_SC_NPROCESSORS_ONLN);
    return online > 0 ? static_cast<int32_t>(std::min(online, 1024L)) : 1;
}

bool MustRunSerially(const ToolOptions& options) {
    return options.boxobjects || (options.ocr && (options.deskew || options.despeckle));
}

std::vector<std::vector<size_t>> PairChains(const ToolOptions& options,
                                            const std::vector<std::string>& outputs) {
    std::vector<std::vector<size_t>> chains;
    std::map<std::string, size_t> chainOfBoxList;
    for (size_t i = 0; i < outputs.size(); ++i) {
        if (options.ocr) {
            const std::string boxList = ocr::BoxFilePath(outputs[i], ocr::BoxFileForm::kBoxList, 0);
            const auto found = chainOfBoxList.find(boxList);
            if (found != chainOfBoxList.end()) {
                chains[found->second].push_back(i);
                continue;
            }
            chainOfBoxList[boxList] = chains.size();
        }
        chains.push_back({i});
    }
    return chains;
}

std::vector<size_t> ScheduleChains(const std::vector<std::vector<size_t>>& chains,
                                   const std::vector<uint64_t>& cost, size_t block) {
    std::vector<uint64_t> chainCost(chains.size(), 0);
    for (size_t c = 0; c < chains.size(); ++c)
        for (size_t i : chains[c]) chainCost[c] += cost[i];
    std::vector<size_t> order(chains.size());
    for (size_t c = 0; c < order.size(); ++c) order[c] = c;
    block = std::max<size_t>(block, 1);
    for (size_t start = 0; start < order.size(); start += block) {
        const auto first = order.begin() + static_cast<std::ptrdiff_t>(start);
        const auto last =
            order.begin() + static_cast<std::ptrdiff_t>(std::min(start + block, order.size()));
        std::stable_sort(first, last,
                         [&](size_t a, size_t b) { return chainCost[a] > chainCost[b]; });
    }
    return order;
}

namespace {

// The size of the input file, which stands for the work it takes.
uint64_t InputSize(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

struct PairSlot {
    PairPlan plan;
    ConsoleSink console;
    int32_t result = 0;
    int32_t pages = 1;
    bool done = false;
};

}  // namespace

int32_t RunPairsInParallel(const ToolOptions& options, const std::vector<FilePair>& list,
                           int32_t workers, ProgressLine& progress) {
    std::vector<std::unique_ptr<PairSlot>> slots;
    std::vector<std::string> outputs;
    std::vector<uint64_t> sizes;
    for (const FilePair& pair : list) {
        auto slot = std::make_unique<PairSlot>();
        {
            ConsoleCapture capture(slot->console);
            slot->plan = PlanPair(options, pair);
        }
        slot->done = slot->plan.state != PairPlan::State::kRun;
        outputs.push_back(slot->plan.output);
        sizes.push_back(slot->done ? 0 : InputSize(pair.input));
        slots.push_back(std::move(slot));
    }
    const std::vector<std::vector<size_t>> chains = PairChains(options, outputs);
    const size_t threads = std::min(static_cast<size_t>(std::max(1, workers)), chains.size());
    const std::vector<size_t> order = ScheduleChains(chains, sizes, 4 * threads);

    std::mutex lock;
    std::condition_variable finished;
    std::atomic<size_t> nextChain{0};
    auto work = [&] {
        for (;;) {
            const size_t next = nextChain.fetch_add(1);
            if (next >= order.size()) return;
            for (size_t i : chains[order[next]]) {
                PairSlot& slot = *slots[i];
                if (slot.done) continue;
                ToolOptions own = options;  // nothing a pair sets reaches another
                int32_t result;
                int32_t pages = 1;
                {
                    ConsoleCapture capture(slot.console);
                    result = RunPair(own, slot.plan);
                    if (progress.Shown()) pages = std::max(1, CountInputPages(slot.plan.input));
                }
                std::lock_guard<std::mutex> hold(lock);
                slot.result = result;
                slot.pages = pages;
                slot.done = true;
                finished.notify_one();
            }
        }
    };
    std::vector<std::thread> pool;
    for (size_t t = 0; t < threads; ++t) pool.emplace_back(work);

    // Prints each pair whole, in list order, as soon as it and every pair
    // before it are done; redraws the progress line now and then meanwhile.
    int32_t result = 0;
    for (size_t printed = 0; printed < slots.size();) {
        std::unique_lock<std::mutex> hold(lock);
        finished.wait_for(hold, std::chrono::milliseconds(500),
                          [&] { return slots[printed]->done; });
        std::vector<PairSlot*> ready;
        while (printed < slots.size() && slots[printed]->done)
            ready.push_back(slots[printed++].get());
        hold.unlock();
        if (!ready.empty()) progress.Clear();
        for (PairSlot* slot : ready) {
            slot->console.Replay();
            if (slot->plan.state == PairPlan::State::kRun) result = slot->result;
            if (slot->plan.state == PairPlan::State::kNoFreeName) result = 0;
            progress.PairDone(slot->pages);
        }
        progress.Draw();
    }
    for (std::thread& t : pool) t.join();
    return result;
}

}  // namespace sheetmend
