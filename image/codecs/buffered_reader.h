// A small read-ahead buffer over a ByteStream for the codecs that parse files
// byte by byte (BMP, GIF, ICO). Every read reports whether all asked bytes were
// there, so a parser can never run past the data a file actually holds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "image/streams.h"

namespace sheetmend {

class BufferedReader {
  public:
    explicit BufferedReader(ByteStream* stream) : stream_(stream) {
        start_ = stream_ ? stream_->Tell() : 0;
        if (start_ < 0) start_ = 0;
        bufferStart_ = start_;
    }
    BufferedReader(const BufferedReader&) = delete;
    BufferedReader& operator=(const BufferedReader&) = delete;

    // Position of the next byte in the stream.
    int64_t Tell() const { return bufferStart_ + static_cast<int64_t>(pos_); }

    // Size of the whole stream, or -1 when the stream cannot tell.
    int64_t StreamSize() {
        if (!stream_) return -1;
        if (size_ == -2) {
            const int64_t here = stream_->Tell();
            size_ = stream_->Size();
            stream_->Seek(here, SEEK_SET);
        }
        return size_;
    }

    // Bytes left from the current position to the end of the stream, or -1
    // when unknown.
    int64_t Remaining() {
        const int64_t size = StreamSize();
        if (size < 0) return -1;
        const int64_t left = size - Tell();
        return left < 0 ? 0 : left;
    }

    // Reads exactly n bytes; false (with whatever was there copied) when the
    // stream ends first.
    bool Read(void* destination, size_t n) {
        auto* out = static_cast<uint8_t*>(destination);
        while (n > 0) {
            if (pos_ == len_ && n >= sizeof buffer_ && stream_) {
                // A large read goes straight from the stream to its target.
                bufferStart_ += static_cast<int64_t>(len_);
                pos_ = len_ = 0;
                const size_t got = stream_->Read(out, 1, n);
                bufferStart_ += static_cast<int64_t>(got);
                return got == n;
            }
            if (pos_ == len_ && !Refill()) return false;
            size_t take = len_ - pos_;
            if (take > n) take = n;
            std::memcpy(out, buffer_ + pos_, take);
            pos_ += take;
            out += take;
            n -= take;
        }
        return true;
    }

    // The next byte, or -1 at the end of the data.
    int Byte() {
        if (pos_ == len_ && !Refill()) return -1;
        return buffer_[pos_++];
    }

    bool U8(uint8_t* v) {
        const int b = Byte();
        if (b < 0) return false;
        *v = static_cast<uint8_t>(b);
        return true;
    }
    bool U16(uint16_t* v) {
        uint8_t b[2];
        if (!Read(b, 2)) return false;
        *v = static_cast<uint16_t>(b[0] | (b[1] << 8));
        return true;
    }
    bool U32(uint32_t* v) {
        uint8_t b[4];
        if (!Read(b, 4)) return false;
        *v = static_cast<uint32_t>(b[0]) | (static_cast<uint32_t>(b[1]) << 8) |
             (static_cast<uint32_t>(b[2]) << 16) | (static_cast<uint32_t>(b[3]) << 24);
        return true;
    }

    // Skips n bytes; false when the data ends first.
    bool Skip(uint64_t n) {
        const uint64_t inBuffer = len_ - pos_;
        if (n <= inBuffer) {
            pos_ += static_cast<size_t>(n);
            return true;
        }
        if (n > static_cast<uint64_t>(INT64_MAX) - static_cast<uint64_t>(Tell())) return false;
        return SeekTo(Tell() + static_cast<int64_t>(n)) && (StreamSize() < 0 || Tell() <= size_);
    }

    // Moves to an absolute stream position (which must lie at or after the
    // position the reader started at).
    bool SeekTo(int64_t position) {
        if (!stream_ || position < 0) return false;
        if (position >= bufferStart_ && position <= bufferStart_ + static_cast<int64_t>(len_)) {
            pos_ = static_cast<size_t>(position - bufferStart_);
            return true;
        }
        if (!stream_->Seek(position, SEEK_SET)) return false;
        bufferStart_ = position;
        pos_ = len_ = 0;
        return true;
    }

  private:
    bool Refill() {
        if (!stream_) return false;
        bufferStart_ += static_cast<int64_t>(len_);
        pos_ = len_ = 0;
        len_ = stream_->Read(buffer_, 1, sizeof buffer_);
        return len_ > 0;
    }

    ByteStream* stream_;
    int64_t start_ = 0;
    int64_t bufferStart_ = 0;  // stream position of buffer_[0]
    int64_t size_ = -2;        // -2: not asked yet
    size_t pos_ = 0;
    size_t len_ = 0;
    uint8_t buffer_[65536];
};

}  // namespace sheetmend
