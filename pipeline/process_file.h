// The per-file dispatcher: runs the one operation the options select.
#pragma once

#include <cstdint>
#include <string>

#include "options/tool_options.h"

namespace sheetmend {

// 1 on success, 0 on failure (each operation prints its own messages).
// May set options.bitcount to 1 for the rest of the batch (OCR with deskew).
int32_t ProcessFile(ToolOptions& options, const std::string& inputPath,
                    const std::string& outputPath);

// True when any option of the plain conversion is given.
bool HasConversionOptions(const ToolOptions& options);

// The margin colour from the -trimcolor text (hexadecimal RRGGBB) as a colour
// reference 0x00BBGGRR; 0 for an empty or unreadable text.
uint32_t TrimColorFromText(const std::string& text);

}  // namespace sheetmend
