// The C runtime's pseudo-random generator of the original platform,
// reproduced so that random box colours are the same on every system:
// state = state * 214013 + 2531011, result = (state >> 16) & 0x7FFF, and the
// state starts at 1 in every run, continuing from file to file.
#pragma once

#include <cstdint>

namespace sheetmend {

int32_t RuntimeRand();
void RuntimeSrand(uint32_t seed);

}  // namespace sheetmend
