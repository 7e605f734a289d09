// The millisecond clock used for the timing lines.
#pragma once

#include <cstdint>

namespace sheetmend {

// Milliseconds from a fixed, unspecified start; monotonic, wraps like a 32-bit
// tick counter so differences taken in unsigned arithmetic stay right.
uint32_t TickCountMs();

}  // namespace sheetmend
