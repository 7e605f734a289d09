#include "platform/console.h"

#include <cstdarg>
#include <cstdio>

namespace sheetmend {

namespace {

thread_local ConsoleSink* current = nullptr;

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
    if (!chunks_.empty() && chunks_.back().stream == stream)
        chunks_.back().text.append(text);
    else
        chunks_.push_back(Chunk{stream, std::string(text)});
}

void ConsoleSink::Replay() {
    for (const Chunk& c : chunks_) {
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

void ConsoleFlush() {
    if (!current) std::fflush(stdout);
}

}  // namespace sheetmend
