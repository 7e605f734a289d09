#include "image/streams.h"

#include <cstdlib>
#include <cstring>

namespace sheetmend {

bool ByteStream::PutC(uint8_t c) { return Write(&c, 1, 1) == 1; }

// ---------------------------------------------------------------------------
// FileStream

bool FileStream::Open(const char* name, const char* mode) {
    if (file_) return false;
    file_ = std::fopen(name, mode);
    if (!file_) return false;
    closeFile_ = true;
    return true;
}

bool FileStream::Close() {
    bool ok = true;
    if (file_ && closeFile_) {
        ok = std::fclose(file_) == 0;
        file_ = nullptr;
    }
    return ok;
}

size_t FileStream::Read(void* buffer, size_t size, size_t count) {
    if (!file_) return 0;
    return std::fread(buffer, size, count, file_);
}

size_t FileStream::Write(const void* buffer, size_t size, size_t count) {
    if (!file_) return 0;
    return std::fwrite(buffer, size, count, file_);
}

bool FileStream::Seek(int64_t offset, int origin) {
    if (!file_) return false;
    return fseeko(file_, static_cast<off_t>(offset), origin) == 0;
}

int64_t FileStream::Tell() {
    if (!file_) return 0;
    return static_cast<int64_t>(ftello(file_));
}

int64_t FileStream::Size() {
    if (!file_) return -1;
    const off_t here = ftello(file_);
    if (fseeko(file_, 0, SEEK_END) != 0) return -1;
    const off_t end = ftello(file_);
    fseeko(file_, here, SEEK_SET);
    return static_cast<int64_t>(end);
}

bool FileStream::Flush() { return file_ && std::fflush(file_) == 0; }

bool FileStream::Eof() { return !file_ || std::feof(file_) != 0; }

int32_t FileStream::Error() { return file_ ? std::ferror(file_) : -1; }

bool FileStream::PutC(uint8_t c) { return file_ && std::fputc(c, file_) == c; }

int32_t FileStream::GetC() { return file_ ? std::fgetc(file_) : -1; }

char* FileStream::GetS(char* buffer, int32_t n) {
    if (!file_) return nullptr;
    return std::fgets(buffer, n, file_);
}

int32_t FileStream::Scanf(const char* format, void* output) {
    if (!file_) return -1;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    return std::fscanf(file_, format, output);
#pragma GCC diagnostic pop
}

// ---------------------------------------------------------------------------
// MemoryStream

MemoryStream::MemoryStream(uint8_t* buffer, size_t size)
    : buffer_(buffer), size_(size), freeOnClose_(buffer == nullptr), position_(0), edge_(size) {}

bool MemoryStream::Open() {
    if (buffer_) return false;
    buffer_ = static_cast<uint8_t*>(std::malloc(1));
    if (!buffer_) return false;
    size_ = position_ = edge_ = 0;
    freeOnClose_ = true;
    return true;
}

bool MemoryStream::Close() {
    if (buffer_ && freeOnClose_) std::free(buffer_);
    buffer_ = nullptr;
    size_ = 0;
    return true;
}

uint8_t* MemoryStream::GetBuffer(bool detach) {
    if (detach) freeOnClose_ = false;
    return buffer_;
}

bool MemoryStream::Grow(size_t n) {
    if (edge_ >= n) return true;
    const size_t want = (n & ~static_cast<size_t>(0xFFFF)) + 0x10000;
    uint8_t* grown;
    if (buffer_ && freeOnClose_) {
        grown = static_cast<uint8_t*>(std::realloc(buffer_, want));
    } else {
        // A borrowed buffer is never reallocated: it is copied into a new one.
        grown = static_cast<uint8_t*>(std::malloc(want));
        if (grown && buffer_) std::memcpy(grown, buffer_, size_ < want ? size_ : want);
    }
    if (!grown) return false;
    buffer_ = grown;
    edge_ = want;
    freeOnClose_ = true;
    return true;
}

void MemoryStream::FillGap() {
    // After a seek past the end, the bytes between the old end and the write
    // position become data: make them zero rather than leftover heap.
    if (position_ > size_) std::memset(buffer_ + size_, 0, position_ - size_);
}

size_t MemoryStream::Read(void* buffer, size_t size, size_t count) {
    if (!buffer_ || !buffer || size == 0 || count == 0 || position_ >= size_) return 0;
    if (count > SIZE_MAX / size) return 0;
    size_t bytes = size * count;
    const size_t left = size_ - position_;
    if (bytes > left) bytes = left;
    std::memcpy(buffer, buffer_ + position_, bytes);
    position_ += bytes;
    return bytes / size;
}

size_t MemoryStream::Write(const void* buffer, size_t size, size_t count) {
    if (!buffer_ || !buffer || size == 0 || count == 0) return 0;
    if (count > SIZE_MAX / size) return 0;
    const size_t bytes = size * count;
    if (position_ > SIZE_MAX - bytes - 0x10000) return 0;
    if (!Grow(position_ + bytes)) return 0;
    FillGap();
    std::memcpy(buffer_ + position_, buffer, bytes);
    position_ += bytes;
    if (position_ > size_) size_ = position_;
    return count;
}

bool MemoryStream::Seek(int64_t offset, int origin) {
    int64_t base;
    switch (origin) {
        case SEEK_SET: base = 0; break;
        case SEEK_CUR: base = static_cast<int64_t>(position_); break;
        case SEEK_END: base = static_cast<int64_t>(size_); break;
        default: return false;
    }
    int64_t target;
    if (__builtin_add_overflow(base, offset, &target)) target = offset < 0 ? 0 : INT64_MAX;
    if (target < 0) target = 0;
    position_ = static_cast<size_t>(target);
    return true;
}

int64_t MemoryStream::Tell() { return buffer_ ? static_cast<int64_t>(position_) : -1; }

int64_t MemoryStream::Size() { return buffer_ ? static_cast<int64_t>(size_) : -1; }

bool MemoryStream::Flush() { return buffer_ != nullptr; }

bool MemoryStream::Eof() { return !buffer_ || position_ >= size_; }

int32_t MemoryStream::Error() { return buffer_ ? (position_ > size_ ? 1 : 0) : -1; }

bool MemoryStream::PutC(uint8_t c) {
    if (!buffer_) return false;
    if (position_ == SIZE_MAX) return false;
    if (!Grow(position_ + 1)) return false;
    FillGap();
    buffer_[position_++] = c;
    if (position_ > size_) size_ = position_;
    return true;
}

int32_t MemoryStream::GetC() {
    if (!buffer_ || position_ >= size_) return -1;
    return buffer_[position_++];
}

char* MemoryStream::GetS(char* buffer, int32_t n) {
    if (!buffer || n <= 0) return nullptr;
    int32_t i = 0;
    while (i < n - 1) {
        const int32_t c = GetC();
        if (c < 0) return nullptr;
        buffer[i++] = static_cast<char>(c);
        if (c == '\n') break;
    }
    buffer[i] = '\0';
    return buffer;
}

int32_t MemoryStream::Scanf(const char*, void*) { return 0; }

}  // namespace sheetmend
