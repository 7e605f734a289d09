#include "platform/console.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace sheetmend {

namespace {

thread_local ConsoleSink* current = nullptr;
thread_local std::string* tap = nullptr;
int reportFd = -1;  // set once at start, before any worker runs

// One write(2) for the whole line, so that appends of other processes never
// land inside it; a write cut short by a signal goes on with the rest.
void WriteReportNow(std::string_view line) {
    if (reportFd < 0) return;
    if (reportFd == STDERR_FILENO) {
        std::fflush(stdout);
        std::fflush(stderr);
    }
    std::string whole(line);
    whole += '\n';
    const char* p = whole.data();
    size_t left = whole.size();
    while (left > 0) {
        const ssize_t n = write(reportFd, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        p += n;
        left -= static_cast<size_t>(n);
    }
}

void WriteFormatted(ConsoleStream stream, const char* format, va_list args) {
    char small[1024];
    va_list copy;
    va_copy(copy, args);
    const int n = std::vsnprintf(small, sizeof small, format, copy);
    va_end(copy);
    if (n < 0) return;
    if (static_cast<size_t>(n) < sizeof small) {
        ConsoleWrite(stream, std::string_view(small, static_cast<size_t>(n)));
        return;
    }
    std::string big(static_cast<size_t>(n) + 1, '\0');
    std::vsnprintf(big.data(), big.size(), format, args);
    big.resize(static_cast<size_t>(n));
    ConsoleWrite(stream, big);
}

}  // namespace

void ConsoleSink::Append(ConsoleStream stream, std::string_view text) {
    if (text.empty()) return;
    // Report lines stay apart: each is written with a write of its own.
    if (!chunks_.empty() && chunks_.back().stream == stream && stream != ConsoleStream::kReport)
        chunks_.back().text.append(text);
    else
        chunks_.push_back(Chunk{stream, std::string(text)});
}

void ConsoleSink::Replay() {
    for (const Chunk& c : chunks_) {
        if (c.stream == ConsoleStream::kReport) {
            WriteReportNow(c.text);
            continue;
        }
        FILE* f = c.stream == ConsoleStream::kOut ? stdout : stderr;
        if (f == stderr) std::fflush(stdout);
        std::fwrite(c.text.data(), 1, c.text.size(), f);
    }
    std::fflush(stdout);
    chunks_.clear();
}

std::string ConsoleSink::Text(ConsoleStream stream) const {
    std::string all;
    for (const Chunk& c : chunks_)
        if (c.stream == stream) all += c.text;
    return all;
}

ConsoleCapture::ConsoleCapture(ConsoleSink& sink) : previous_(current) {
    current = &sink;
}

ConsoleCapture::~ConsoleCapture() {
    current = previous_;
}

ConsoleSink* CurrentConsoleSink() {
    return current;
}

void ConsoleWrite(ConsoleStream stream, std::string_view text) {
    if (stream == ConsoleStream::kReport) {
        WriteReportLine(text);
        return;
    }
    if (tap) tap->append(text);
    if (current) {
        current->Append(stream, text);
        return;
    }
    if (stream == ConsoleStream::kErr) std::fflush(stdout);
    std::fwrite(text.data(), 1, text.size(), stream == ConsoleStream::kOut ? stdout : stderr);
}

void ConsolePrintf(const char* format, ...) {
    va_list args;
    va_start(args, format);
    WriteFormatted(ConsoleStream::kOut, format, args);
    va_end(args);
}

void ConsoleErrorf(const char* format, ...) {
    va_list args;
    va_start(args, format);
    WriteFormatted(ConsoleStream::kErr, format, args);
    va_end(args);
}

bool OpenReport(const std::string& path, std::string& error) {
    if (path == "-") {
        reportFd = STDERR_FILENO;
        return true;
    }
    const int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) {
        error = std::strerror(errno);
        return false;
    }
    if (reportFd >= 0 && reportFd != STDERR_FILENO) close(reportFd);
    reportFd = fd;
    return true;
}

bool ReportOpen() {
    return reportFd >= 0;
}

void WriteReportLine(std::string_view line) {
    if (current)
        current->Append(ConsoleStream::kReport, line);
    else
        WriteReportNow(line);
}

ConsoleTap::ConsoleTap(std::string& into) : previous_(tap) {
    tap = &into;
}

ConsoleTap::~ConsoleTap() {
    tap = previous_;
}

void ConsoleFlush() {
    if (!current) std::fflush(stdout);
}

}  // namespace sheetmend
