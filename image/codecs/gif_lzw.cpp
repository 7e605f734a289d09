// GIF's LZW. Codes are packed least significant bit first. After a clear code
// the code width is minCodeSize + 1; the decoder adds a table entry for every
// code but the first after a clear, and the width grows by one bit when the
// next free entry reaches 2^width, up to 12 bits; a full table (4096 entries)
// stays as it is until the next clear code. The encoders keep exactly the
// same count, so their widths always agree with any reader's.
#include "image/codecs/gif_lzw.h"

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include "image/streams.h"

namespace sheetmend {

// ---------------------------------------------------------------------------
// decoding

GifLzwDecoder::GifLzwDecoder(int minCodeSize, std::function<int()> nextByte)
    : nextByte_(std::move(nextByte)),
      minCodeSize_(minCodeSize),
      clear_(1 << minCodeSize),
      end_((1 << minCodeSize) + 1) {
    for (int i = 0; i < clear_; ++i) {
        prefix_[i] = 0;
        suffix_[i] = static_cast<uint8_t>(i < 256 ? i : 0);
    }
    Reset();
}

void GifLzwDecoder::Reset() {
    width_ = minCodeSize_ + 1;
    next_ = end_ + 1;
    previous_ = -1;
}

int GifLzwDecoder::ReadCode() {
    while (bitCount_ < width_) {
        const int b = nextByte_();
        if (b < 0) return -1;
        bitBuffer_ |= static_cast<uint32_t>(b) << bitCount_;
        bitCount_ += 8;
    }
    const int code = static_cast<int>(bitBuffer_ & ((1u << width_) - 1));
    bitBuffer_ >>= width_;
    bitCount_ -= width_;
    return code;
}

size_t GifLzwDecoder::Decode(uint8_t* out, size_t want) {
    size_t n = 0;
    while (n < want) {
        if (stackTop_ > 0) {
            // Strings are built backwards on the stack.
            const size_t take = std::min<size_t>(static_cast<size_t>(stackTop_), want - n);
            for (size_t k = 0; k < take; ++k) out[n++] = stack_[--stackTop_];
            continue;
        }
        if (state_ != State::kRunning) break;
        const int code = ReadCode();
        if (code < 0) {
            state_ = State::kDataExhausted;
            break;
        }
        if (code == clear_) {
            Reset();
            continue;
        }
        if (code == end_) {
            state_ = State::kEnded;
            break;
        }
        if (previous_ < 0) {
            // The first code after a clear must be a plain index.
            if (code > clear_) {
                state_ = State::kBadCode;
                break;
            }
            stack_[stackTop_++] = suffix_[code];
            previous_ = code;
            firstOfPrevious_ = suffix_[code];
        } else {
            int c = code;
            if (code >= next_) {
                // Only the entry being defined right now may be used early
                // (its string is the previous one plus its own first byte).
                if (code != next_ || next_ >= 4096) {
                    state_ = State::kBadCode;
                    break;
                }
                stack_[stackTop_++] = firstOfPrevious_;
                c = previous_;
            }
            while (c > end_) {
                stack_[stackTop_++] = suffix_[c];
                c = prefix_[c];
            }
            const uint8_t first = suffix_[c];
            stack_[stackTop_++] = first;
            if (next_ < 4096) {
                prefix_[next_] = static_cast<uint16_t>(previous_);
                suffix_[next_] = first;
                ++next_;
            }
            previous_ = code;
            firstOfPrevious_ = first;
        }
        if (next_ >= (1 << width_) && width_ < 12) ++width_;
    }
    return n;
}

// ---------------------------------------------------------------------------
// output

void GifSubBlockWriter::Flush() {
    if (count_ == 0) return;
    block_[0] = static_cast<uint8_t>(count_);
    const size_t bytes = static_cast<size_t>(count_) + 1;
    if (ok_ && out_->Write(block_, 1, bytes) != bytes) ok_ = false;
    count_ = 0;
}

bool GifSubBlockWriter::Finish() {
    Flush();
    const uint8_t terminator = 0;
    if (ok_ && out_->Write(&terminator, 1, 1) != 1) ok_ = false;
    return ok_;
}

namespace {

class CodeWriter {
  public:
    explicit CodeWriter(GifSubBlockWriter& out) : out_(out) {}
    void Put(int code, int width) {
        buffer_ |= static_cast<uint32_t>(code) << bits_;
        bits_ += width;
        while (bits_ >= 8) {
            out_.Put(static_cast<uint8_t>(buffer_));
            buffer_ >>= 8;
            bits_ -= 8;
        }
    }
    void Finish() {
        if (bits_ > 0) out_.Put(static_cast<uint8_t>(buffer_));
        buffer_ = 0;
        bits_ = 0;
    }

  private:
    GifSubBlockWriter& out_;
    uint32_t buffer_ = 0;
    int bits_ = 0;
};

// The reader's view of the table: how many entries it holds and how wide the
// next code is.
struct ReaderTable {
    int minCodeSize, clear, end;
    int width = 0, next = 0;
    bool first = true;
    explicit ReaderTable(int m) : minCodeSize(m), clear(1 << m), end((1 << m) + 1) { Reset(); }
    void Reset() {
        width = minCodeSize + 1;
        next = end + 1;
        first = true;
    }
    // What a reader does after a code other than clear and end.
    void AfterCode() {
        if (!first && next < 4096) ++next;
        first = false;
        if (next >= (1 << width) && width < 12) ++width;
    }
};

void EncodeUncompressed(int minCodeSize, GifPixelSource& pixels, CodeWriter& out) {
    ReaderTable table(minCodeSize);
    out.Put(table.clear, table.width);
    for (int p = pixels.Next(); p >= 0; p = pixels.Next()) {
        out.Put(p, table.width);
        table.AfterCode();
        if (table.next >= 4096) {
            out.Put(table.clear, table.width);
            table.Reset();
        }
    }
    out.Put(table.end, table.width);
}

// Runs of one index are coded with strings the reader's table holds: after
// codes for runs of lengths a and b of the same index, the reader's newest
// entry is that index repeated a + 1 times. The coder remembers which codes
// stand for which run lengths and always takes the longest that fits.
void EncodeRunLength(int minCodeSize, GifPixelSource& pixels, CodeWriter& out) {
    ReaderTable table(minCodeSize);
    std::vector<std::vector<uint16_t>> runs(256);  // runs[p][len] = code, 0 = none
    std::vector<int> touched;
    int previousIndex = -1, previousLength = 0;
    auto reset = [&]() {
        for (int p : touched) runs[static_cast<size_t>(p)].clear();
        touched.clear();
        table.Reset();
        previousIndex = -1;
    };
    out.Put(table.clear, table.width);

    int p = pixels.Next();
    while (p >= 0) {
        size_t length = 1;
        int q = pixels.Next();
        while (q == p) {
            ++length;
            q = pixels.Next();
        }
        while (length > 0) {
            auto& known = runs[static_cast<size_t>(p)];
            size_t use = std::min(length, known.empty() ? size_t{1} : known.size() - 1);
            while (use > 1 && known[use] == 0) --use;
            const int code = use > 1 ? known[use] : p;
            out.Put(code, table.width);
            if (!table.first && table.next < 4096 && previousIndex == p) {
                // The reader is about to define run(p, previousLength + 1).
                const size_t defined = static_cast<size_t>(previousLength) + 1;
                if (known.size() <= defined) {
                    if (known.empty()) touched.push_back(p);
                    known.resize(defined + 1, 0);
                }
                if (known[defined] == 0) known[defined] = static_cast<uint16_t>(table.next);
            }
            table.AfterCode();
            previousIndex = p;
            previousLength = static_cast<int>(use);
            length -= use;
            if (table.next >= 4096) {
                out.Put(table.clear, table.width);
                reset();
            }
        }
        p = q;
    }
    out.Put(table.end, table.width);
}

// Classic LZW: strings are found through an open-addressing hash table of
// 5003 slots keyed by (prefix code, next index).
void EncodeLzw(int minCodeSize, GifPixelSource& pixels, CodeWriter& out) {
    constexpr int kSlots = 5003;
    constexpr int kShift = 4;  // spreads the index over the slots
    std::vector<int32_t> keys(kSlots, -1);
    std::vector<uint16_t> codes(kSlots, 0);
    const int clear = 1 << minCodeSize;
    const int end = clear + 1;
    const int initialWidth = minCodeSize + 1;
    int width = initialWidth;
    int maxCode = (1 << width) - 1;
    int freeEntry = clear + 2;
    bool clearing = false;

    auto output = [&](int code) {
        out.Put(code, width);
        if (freeEntry > maxCode || clearing) {
            if (clearing) {
                width = initialWidth;
                clearing = false;
            } else {
                ++width;
            }
            maxCode = width == 12 ? 4096 : (1 << width) - 1;
        }
    };

    output(clear);
    int current = pixels.Next();
    if (current < 0) {
        output(end);
        return;
    }
    for (int c = pixels.Next(); c >= 0; c = pixels.Next()) {
        const int32_t key = (c << 12) + current;
        int slot = (c << kShift) ^ current;
        if (keys[static_cast<size_t>(slot)] == key) {
            current = codes[static_cast<size_t>(slot)];
            continue;
        }
        bool found = false;
        if (keys[static_cast<size_t>(slot)] >= 0) {
            const int step = slot == 0 ? 1 : kSlots - slot;
            for (;;) {
                slot -= step;
                if (slot < 0) slot += kSlots;
                if (keys[static_cast<size_t>(slot)] == key) {
                    found = true;
                    break;
                }
                if (keys[static_cast<size_t>(slot)] < 0) break;
            }
        }
        if (found) {
            current = codes[static_cast<size_t>(slot)];
            continue;
        }
        output(current);
        current = c;
        if (freeEntry < 4096) {
            codes[static_cast<size_t>(slot)] = static_cast<uint16_t>(freeEntry++);
            keys[static_cast<size_t>(slot)] = key;
        } else {
            std::fill(keys.begin(), keys.end(), -1);
            freeEntry = clear + 2;
            clearing = true;
            output(clear);
        }
    }
    output(current);
    output(end);
}

}  // namespace

void GifLzwEncode(int minCodeSize, GifCoder coder, GifPixelSource& pixels, GifSubBlockWriter& out) {
    CodeWriter codes(out);
    switch (coder) {
        case GifCoder::kUncompressed:
            EncodeUncompressed(minCodeSize, pixels, codes);
            break;
        case GifCoder::kRunLength:
            EncodeRunLength(minCodeSize, pixels, codes);
            break;
        case GifCoder::kLzw:
            EncodeLzw(minCodeSize, pixels, codes);
            break;
    }
    codes.Finish();
}

}  // namespace sheetmend
