#include "cli/progress_line.h"

#include <unistd.h>

#include <cstdio>

#include "platform/clock.h"

namespace sheetmend {

ProgressLine::ProgressLine(size_t total, bool shown)
    : total_(total), shown_(shown), start_(TickCountMs()) {}

ProgressLine::~ProgressLine() {
    Clear();
}

bool StandardErrorIsTerminal() {
    return isatty(STDERR_FILENO) == 1;
}

std::string ProgressLine::Text(size_t done, size_t total, int64_t pages, uint32_t elapsedMs) {
    char text[128];
    const double seconds = elapsedMs * 0.001;
    const double rate = seconds > 0 ? static_cast<double>(pages) / seconds : 0.0;
    if (done == 0) {
        std::snprintf(text, sizeof text, "[%zu/%zu] files", done, total);
        return text;
    }
    const auto left = static_cast<long>(
        seconds / static_cast<double>(done) * static_cast<double>(total - done) + 0.5);
    std::snprintf(text, sizeof text, "[%zu/%zu] files, %.1f pages/s, %ld:%02ld left", done, total,
                  rate, left / 60, left % 60);
    return text;
}

void ProgressLine::Clear() {
    if (!shown_ || !drawn_) return;
    std::fflush(stdout);
    std::fputs("\r\033[K", stderr);
    drawn_ = false;
}

void ProgressLine::Draw() {
    if (!shown_) return;
    std::fflush(stdout);
    std::fprintf(stderr, "\r%s\033[K", Text(done_, total_, pages_, TickCountMs() - start_).c_str());
    drawn_ = true;
}

void ProgressLine::PairDone(int32_t pages) {
    ++done_;
    pages_ += pages > 0 ? pages : 1;
}

}  // namespace sheetmend
