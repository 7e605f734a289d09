// The verbose log line: shown only when ToolOptions::verbose is set.
#pragma once

#include "options/tool_options.h"

namespace sheetmend {

void LogMessage(const ToolOptions& options, const char* format, ...)
    __attribute__((format(printf, 2, 3)));

}  // namespace sheetmend
