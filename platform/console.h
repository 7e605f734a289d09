// The program's console text. Outside a pair it goes straight to standard
// output and standard error. While a ConsoleCapture is alive on a thread,
// everything that thread prints (and what the programs it starts print) is
// kept in that capture's sink instead, in the order it was printed, so that a
// pair run on a worker thread can be shown whole and in list order later.
//
// The per-page report rides the same path as a third stream: its lines are
// kept in the sink with the console text and written, in the same order, to
// the report's destination, each whole line with one write(2) on a
// descriptor opened for appending, so that lines of several processes
// appending to one file never tear or mix.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace sheetmend {

enum class ConsoleStream { kOut = 1, kErr = 2, kReport = 3 };

// The console text of one pair, in printing order.
class ConsoleSink {
  public:
    void Append(ConsoleStream stream, std::string_view text);
    // Writes everything to the real standard output and error (and report
    // lines to the report), in order, and empties the sink.
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

// Opens the report for appending, creating it when missing; "-" is standard
// error. False, with the system's reason in `error`, when it cannot be
// written.
bool OpenReport(const std::string& path, std::string& error);
// Whether a report is being written.
bool ReportOpen();
// Writes one report line (one JSON object, without its line feed) as a
// whole line: into this thread's sink when it has one, else to the report.
void WriteReportLine(std::string_view line);

// While alive, a copy of what this thread prints through ConsoleWrite also
// goes to `into` (a page's own messages, to tell why it failed).
class ConsoleTap {
  public:
    explicit ConsoleTap(std::string& into);
    ~ConsoleTap();
    ConsoleTap(const ConsoleTap&) = delete;
    ConsoleTap& operator=(const ConsoleTap&) = delete;

  private:
    std::string* previous_;
};
// Pushes buffered standard output out (nothing to do inside a capture).
void ConsoleFlush();

}  // namespace sheetmend
