#include "platform/runtime_random.h"

namespace sheetmend {

namespace {
uint32_t g_state = 1;
}

int32_t RuntimeRand() {
    g_state = g_state * 214013u + 2531011u;
    return static_cast<int32_t>((g_state >> 16) & 0x7FFF);
}

void RuntimeSrand(uint32_t seed) { g_state = seed; }

}  // namespace sheetmend
