// Byte streams through which every codec reads and writes: an abstract
// ByteStream, a FileStream over a stdio FILE, and a growable MemoryStream.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace sheetmend {

class ByteStream {
public:
    virtual ~ByteStream() = default;
    virtual bool Close() = 0;
    // Items transferred.
    virtual size_t Read(void* buffer, size_t size, size_t count) = 0;
    virtual size_t Write(const void* buffer, size_t size, size_t count) = 0;
    // origin: SEEK_SET (0), SEEK_CUR (1), SEEK_END (2).
    virtual bool Seek(int64_t offset, int origin) = 0;
    virtual int64_t Tell() = 0;
    virtual int64_t Size() = 0;
    virtual bool Flush() = 0;
    virtual bool Eof() = 0;
    virtual int32_t Error() = 0;
    // Writes one byte through Write.
    virtual bool PutC(uint8_t c);
    // The next byte as 0..255, or -1.
    virtual int32_t GetC() = 0;
    virtual char* GetS(char* buffer, int32_t n) = 0;
    virtual int32_t Scanf(const char* format, void* output) = 0;
};

class FileStream : public ByteStream {
public:
    // Borrows `file` (it is not closed by this object); without one, the
    // stream owns whatever Open opens.
    explicit FileStream(FILE* file = nullptr) : file_(file), closeFile_(file == nullptr) {}
    ~FileStream() override { Close(); }
    FileStream(const FileStream&) = delete;
    FileStream& operator=(const FileStream&) = delete;

    bool Open(const char* name, const char* mode);
    bool Close() override;
    size_t Read(void* buffer, size_t size, size_t count) override;
    size_t Write(const void* buffer, size_t size, size_t count) override;
    bool Seek(int64_t offset, int origin) override;
    int64_t Tell() override;
    int64_t Size() override;
    bool Flush() override;
    bool Eof() override;
    int32_t Error() override;
    bool PutC(uint8_t c) override;
    int32_t GetC() override;
    char* GetS(char* buffer, int32_t n) override;
    int32_t Scanf(const char* format, void* output) override;

    FILE* GetFile() const { return file_; }

private:
    FILE* file_;
    bool closeFile_;
};

class MemoryStream : public ByteStream {
public:
    // With a buffer, reads (and may write) it in place without owning it;
    // without one, the stream owns what it allocates.
    explicit MemoryStream(uint8_t* buffer = nullptr, size_t size = 0);
    ~MemoryStream() override { Close(); }
    MemoryStream(const MemoryStream&) = delete;
    MemoryStream& operator=(const MemoryStream&) = delete;

    // Starts an empty owned buffer; fails if a buffer is held.
    bool Open();
    bool Close() override;
    // The buffer; with detach the caller takes it over (free it with free()).
    uint8_t* GetBuffer(bool detach = true);
    size_t Read(void* buffer, size_t size, size_t count) override;
    size_t Write(const void* buffer, size_t size, size_t count) override;
    bool Seek(int64_t offset, int origin) override;
    int64_t Tell() override;
    int64_t Size() override;
    bool Flush() override;
    bool Eof() override;
    int32_t Error() override;
    bool PutC(uint8_t c) override;
    int32_t GetC() override;
    char* GetS(char* buffer, int32_t n) override;
    int32_t Scanf(const char* format, void* output) override;

    size_t Capacity() const { return edge_; }

private:
    // Makes room for n bytes: (n rounded down to 64 KiB) + 64 KiB.
    bool Grow(size_t n);
    void FillGap();

    uint8_t* buffer_ = nullptr;
    size_t size_ = 0;
    bool freeOnClose_ = false;
    size_t position_ = 0;
    size_t edge_ = 0;
};

}  // namespace sheetmend
