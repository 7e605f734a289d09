#include "platform/runtime_random.h"

#include <atomic>

namespace sheetmend {

namespace {
// Atomic because pairs run side by side all draw from it (line removal draws
// box colours whether it uses them or not); the batches that use the colours
// run their pairs one after another, so their sequence is the serial one.
std::atomic<uint32_t> g_state{1};
}  // namespace

int32_t RuntimeRand() {
    uint32_t state = g_state.load(std::memory_order_relaxed);
    uint32_t next;
    do {
        next = state * 214013u + 2531011u;
    } while (!g_state.compare_exchange_weak(state, next, std::memory_order_relaxed));
    return static_cast<int32_t>((next >> 16) & 0x7FFF);
}

void RuntimeSrand(uint32_t seed) { g_state.store(seed, std::memory_order_relaxed); }

}  // namespace sheetmend
