#include "cli/log.h"

#include "platform/console.h"

#include <cstdarg>
#include <cstdio>

namespace sheetmend {

void LogMessage(const ToolOptions& options, const char* format, ...) {
    if (!options.verbose) return;
    char text[2048];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    ConsoleWrite(ConsoleStream::kOut, text);
}

}  // namespace sheetmend
