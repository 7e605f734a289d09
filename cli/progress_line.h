// The progress counter shown on standard error when it is a terminal: files
// done of all files, pages per second and the time left, rewritten in place
// and cleared at the end. Standard output is never touched; when standard
// error is not a terminal nothing is shown at all.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace sheetmend {

class ProgressLine {
  public:
    // `shown` is normally whether standard error is a terminal.
    ProgressLine(size_t total, bool shown);
    ~ProgressLine();

    bool Shown() const { return shown_; }
    // Takes the line away so that other text can be printed; Draw puts it back.
    void Clear();
    void Draw();
    void PairDone(int32_t pages);

    // The text of the line (without the carriage return), for the given state.
    static std::string Text(size_t done, size_t total, int64_t pages, uint32_t elapsedMs);

  private:
    size_t total_;
    bool shown_;
    bool drawn_ = false;
    size_t done_ = 0;
    int64_t pages_ = 0;
    uint32_t start_;
};

// Whether standard error is a terminal.
bool StandardErrorIsTerminal();

}  // namespace sheetmend
