// The variable-length-code LZW of GIF image data: a decoder that checks
// every code it reads, and three encoders that differ in how they choose
// codes (all produce data any GIF reader decodes).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

namespace sheetmend {

class ByteStream;

class GifLzwDecoder {
  public:
    enum class State { kRunning, kEnded, kDataExhausted, kBadCode };

    // minCodeSize must be 1..11 (the first codes are then up to 12 bits
    // wide). Literal codes above 255 decode as index 0, which no colour table
    // can hold. `nextByte` returns the next data byte of the image (across
    // sub-blocks) or -1 when the data ends.
    GifLzwDecoder(int minCodeSize, std::function<int()> nextByte);

    // Writes up to `want` pixel indices to `out`; returns how many it wrote.
    // Fewer than asked means the data ended (see state()).
    size_t Decode(uint8_t* out, size_t want);
    State state() const { return state_; }

  private:
    int ReadCode();
    void Reset();

    std::function<int()> nextByte_;
    int minCodeSize_;
    int clear_, end_;
    int width_ = 0;
    int next_ = 0;
    int previous_ = -1;
    uint8_t firstOfPrevious_ = 0;
    uint32_t bitBuffer_ = 0;
    int bitCount_ = 0;
    State state_ = State::kRunning;
    uint16_t prefix_[4096];
    uint8_t suffix_[4096];
    uint8_t stack_[4097];
    int stackTop_ = 0;
};

// Pixel indices in the order they are written (top row first, left to
// right); returns -1 after the last one.
class GifPixelSource {
  public:
    virtual ~GifPixelSource() = default;
    virtual int Next() = 0;
};

// Collects bytes into GIF data sub-blocks (up to 255 bytes, each after its
// length byte) and writes them to a stream.
class GifSubBlockWriter {
  public:
    explicit GifSubBlockWriter(ByteStream* out) : out_(out) {}
    void Put(uint8_t byte) {
        block_[1 + count_++] = byte;
        if (count_ == 255) Flush();
    }
    // Writes the last partial block and the zero-length terminator.
    bool Finish();
    bool ok() const { return ok_; }

  private:
    void Flush();
    ByteStream* out_;
    uint8_t block_[256];
    int count_ = 0;
    bool ok_ = true;
};

// Coders selectable with the GIF codec option.
enum class GifCoder {
    kUncompressed = 1,  // one literal code per pixel; the table restarts when full
    kRunLength = 2,     // runs of one index coded with the run strings the table builds
    kLzw = 3,           // full LZW with a 5003-entry hash table
};

// Codes `pixels` (minCodeSize 2..8) with the chosen coder into `out`,
// including the end code; the caller writes the sub-block terminator.
void GifLzwEncode(int minCodeSize, GifCoder coder, GifPixelSource& pixels, GifSubBlockWriter& out);

}  // namespace sheetmend
