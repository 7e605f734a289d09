// The program's console text. Outside a pair it goes straight to standard
// output and standard error. While a ConsoleCapture is alive on a thread,
// everything that thread prints (and what the programs it starts print) is
// kept in that capture's sink instead, in the order it was printed, so that a
// pair run on a worker thread can be shown whole and in list order later.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace sheetmend {

enum class ConsoleStream { kOut = 1, kErr = 2 };

// The console text of one pair, in printing order.
class ConsoleSink {
  public:
    void Append(ConsoleStream stream, std::string_view text);
    // Writes everything to the real standard output and error, in order,
    // and empties the sink.
    void Replay();
    bool Empty() const { return chunks_.empty(); }
    // All the text of one stream, joined (for tests).
    std::string Text(ConsoleStream stream) const;

  private:
    struct Chunk {
        ConsoleStream stream;
        std::string text;
    };
    std::vector<Chunk> chunks_;
};

// Sends this thread's console text to `sink` until destroyed (captures nest).
class ConsoleCapture {
  public:
    explicit ConsoleCapture(ConsoleSink& sink);
    ~ConsoleCapture();
    ConsoleCapture(const ConsoleCapture&) = delete;
    ConsoleCapture& operator=(const ConsoleCapture&) = delete;

  private:
    ConsoleSink* previous_;
};

// The sink this thread prints into, or nullptr when it prints directly.
ConsoleSink* CurrentConsoleSink();

void ConsolePrintf(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Standard error; what went to standard output before comes first.
void ConsoleErrorf(const char* format, ...) __attribute__((format(printf, 1, 2)));
void ConsoleWrite(ConsoleStream stream, std::string_view text);
// Pushes buffered standard output out (nothing to do inside a capture).
void ConsoleFlush();

}  // namespace sheetmend
