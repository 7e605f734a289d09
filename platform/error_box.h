// The error message box, shown here as one line on standard error.
#pragma once

#include <cstdint>

namespace sheetmend {

// Code 4 shows "Bad memory."; any other code "Error: <text>".
void ShowErrorBox(int32_t code, const char* text);

}  // namespace sheetmend
