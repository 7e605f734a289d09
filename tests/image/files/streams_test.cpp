// Byte streams: every operation of FileStream and MemoryStream, with and
// without a stream or buffer behind them, the memory stream's growth rule and
// its handling of borrowed buffers.
#include "image/streams.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tests/support/external_tools.h"

namespace sheetmend {
namespace {

std::string WriteText(const testing::ScratchDir& dir, const std::string& name,
                      const std::string& text) {
    const std::string path = dir.File(name);
    testing::WriteFileBytes(path, std::vector<uint8_t>(text.begin(), text.end()));
    return path;
}

TEST(FileStream, ReadsWritesSeeksAndReportsLikeStdio) {
    testing::ScratchDir dir;
    const std::string path = WriteText(dir, "lines.txt", "first\nsecond\n42 tail");
    FileStream s;
    EXPECT_FALSE(s.Open(dir.File("missing").c_str(), "rb"));
    ASSERT_TRUE(s.Open(path.c_str(), "rb"));
    EXPECT_FALSE(s.Open(path.c_str(), "rb")) << "a stream is already held";
    EXPECT_EQ(s.Size(), 20);
    char line[64];
    ASSERT_NE(s.GetS(line, sizeof line), nullptr);
    EXPECT_STREQ(line, "first\n");
    EXPECT_EQ(s.Tell(), 6) << "Size put the position back";
    EXPECT_EQ(s.GetC(), 's');
    ASSERT_TRUE(s.Seek(6, SEEK_CUR));
    int value = 0;
    EXPECT_EQ(s.Scanf("%d", &value), 1);
    EXPECT_EQ(value, 42);
    ASSERT_TRUE(s.Seek(-4, SEEK_END));
    char tail[8] = {};
    EXPECT_EQ(s.Read(tail, 2, 3), 2u) << "whole items only";
    EXPECT_STREQ(tail, "tail");
    EXPECT_TRUE(s.Eof());
    EXPECT_EQ(s.GetC(), -1);
    EXPECT_EQ(s.GetS(line, sizeof line), nullptr);
    EXPECT_EQ(s.Error(), 0);
    EXPECT_FALSE(s.Seek(-1, SEEK_SET));
    // Writing to a read-only stream sets its error indicator.
    EXPECT_EQ(s.Write("x", 1, 1), 0u);
    EXPECT_NE(s.Error(), 0);
    EXPECT_TRUE(s.Close());

    // Once closed (or never opened) every operation gives its "none" answer.
    char b[4];
    EXPECT_EQ(s.Read(b, 1, 4), 0u);
    EXPECT_EQ(s.Write(b, 1, 4), 0u);
    EXPECT_FALSE(s.Seek(0, SEEK_SET));
    EXPECT_EQ(s.Tell(), 0);
    EXPECT_EQ(s.Size(), -1);
    EXPECT_FALSE(s.Flush());
    EXPECT_TRUE(s.Eof());
    EXPECT_EQ(s.Error(), -1);
    EXPECT_FALSE(s.PutC('a'));
    EXPECT_EQ(s.GetC(), -1);
    EXPECT_EQ(s.GetS(b, 4), nullptr);
    EXPECT_EQ(s.Scanf("%d", &value), -1);
    EXPECT_TRUE(s.Close());
}

TEST(FileStream, WritesThroughPutCAndLeavesBorrowedFilesOpen) {
    testing::ScratchDir dir;
    const std::string path = dir.File("out.bin");
    FILE* f = std::fopen(path.c_str(), "w+b");
    ASSERT_NE(f, nullptr);
    {
        FileStream s(f);
        EXPECT_FALSE(s.Open(path.c_str(), "rb"));
        EXPECT_TRUE(s.PutC(0xFF)) << "a byte of 255 is not EOF";
        EXPECT_EQ(s.Write("abc", 1, 3), 3u);
        EXPECT_TRUE(s.Flush());
        EXPECT_EQ(s.Size(), 4);
        EXPECT_TRUE(s.Close());
    }
    // The borrowed FILE survives both Close and the destructor.
    EXPECT_EQ(std::fseek(f, 0, SEEK_SET), 0);
    EXPECT_EQ(std::fgetc(f), 0xFF);
    EXPECT_EQ(std::fclose(f), 0);
    EXPECT_EQ(testing::ReadFileBytes(path), (std::vector<uint8_t>{0xFF, 'a', 'b', 'c'}));
}

TEST(MemoryStream, WithoutABufferNothingHappens) {
    MemoryStream s;
    char b[4] = {};
    EXPECT_EQ(s.Read(b, 1, 4), 0u);
    EXPECT_EQ(s.Write(b, 1, 4), 0u);
    EXPECT_EQ(s.Tell(), -1);
    EXPECT_EQ(s.Size(), -1);
    EXPECT_FALSE(s.Flush());
    EXPECT_TRUE(s.Eof());
    EXPECT_EQ(s.Error(), -1);
    EXPECT_EQ(s.GetC(), -1);
    EXPECT_EQ(s.GetBuffer(false), nullptr);
    EXPECT_TRUE(s.Close());

    ASSERT_TRUE(s.Open());
    EXPECT_FALSE(s.Open()) << "a buffer is already held";
    EXPECT_EQ(s.Size(), 0);
    EXPECT_EQ(s.Tell(), 0);
    EXPECT_TRUE(s.Eof());
    EXPECT_EQ(s.Error(), 0);
    EXPECT_TRUE(s.Flush());
    EXPECT_EQ(s.Capacity(), 0u);
    EXPECT_EQ(s.Scanf("%d", b), 0);
}

TEST(MemoryStream, GrowsToTheNextWhole64KiB) {
    MemoryStream s;
    ASSERT_TRUE(s.Open());
    std::vector<uint8_t> data(200000);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7);
    EXPECT_EQ(s.Write(data.data(), 1, 1), 1u);
    EXPECT_EQ(s.Capacity(), 65536u);
    EXPECT_EQ(s.Write(data.data() + 1, 1, 65535), 65535u);
    EXPECT_EQ(s.Capacity(), 65536u) << "exactly full needs no growth";
    EXPECT_TRUE(s.PutC(data[65536]));
    EXPECT_EQ(s.Capacity(), 131072u);
    EXPECT_EQ(s.Write(data.data() + 65537, 3, (200000 - 65537) / 3), (200000u - 65537) / 3);
    EXPECT_EQ(s.Size(), 65537 + 3 * ((200000 - 65537) / 3));
    EXPECT_EQ(s.Capacity(), (199999u / 65536) * 65536 + 65536);
    EXPECT_EQ(std::memcmp(s.GetBuffer(false), data.data(), static_cast<size_t>(s.Size())), 0);

    MemoryStream big;
    ASSERT_TRUE(big.Open());
    EXPECT_EQ(big.Write(data.data(), 1, 200000), 200000u);
    EXPECT_EQ(big.Capacity(), 196608u + 65536u);
}

TEST(MemoryStream, ReadsSeeksAndLinesAsDescribed) {
    uint8_t bytes[] = {'a', 'b', '\n', 0xFF, 0x00, 'c', 'd'};
    MemoryStream s(bytes, sizeof bytes);
    EXPECT_EQ(s.Size(), 7);
    char line[16];
    ASSERT_EQ(s.GetS(line, sizeof line), line);
    EXPECT_STREQ(line, "ab\n");
    EXPECT_EQ(s.GetC(), 255);
    EXPECT_EQ(s.GetC(), 0);
    // Two letters and no line feed: no line.
    EXPECT_EQ(s.GetS(line, sizeof line), nullptr);
    EXPECT_TRUE(s.Eof());
    EXPECT_EQ(s.GetC(), -1);
    // A line is cut after n - 1 bytes.
    ASSERT_TRUE(s.Seek(0, SEEK_SET));
    ASSERT_EQ(s.GetS(line, 2), line);
    EXPECT_STREQ(line, "a");
    ASSERT_EQ(s.GetS(line, 1), line);
    EXPECT_STREQ(line, "");
    EXPECT_EQ(s.GetS(line, 0), nullptr);

    // Read copies what is left and counts whole items.
    ASSERT_TRUE(s.Seek(2, SEEK_SET));
    uint8_t out[12] = {};
    EXPECT_EQ(s.Read(out, 2, 6), 2u);
    EXPECT_EQ(s.Tell(), 7) << "the partial item was copied too";
    EXPECT_EQ(out[4], 'd');
    EXPECT_EQ(s.Read(out, 1, 1), 0u);
    EXPECT_EQ(s.Read(nullptr, 1, 1), 0u);

    // Seek origins, the clamp at 0, no upper bound, and the error flag.
    EXPECT_TRUE(s.Seek(-2, SEEK_END));
    EXPECT_EQ(s.Tell(), 5);
    EXPECT_TRUE(s.Seek(1, SEEK_CUR));
    EXPECT_EQ(s.Tell(), 6);
    EXPECT_TRUE(s.Seek(-100, SEEK_CUR));
    EXPECT_EQ(s.Tell(), 0);
    EXPECT_FALSE(s.Seek(3, 3));
    EXPECT_EQ(s.Tell(), 0);
    EXPECT_TRUE(s.Seek(100, SEEK_SET));
    EXPECT_EQ(s.Tell(), 100);
    EXPECT_TRUE(s.Eof());
    EXPECT_EQ(s.Error(), 1);
    EXPECT_TRUE(s.Seek(7, SEEK_SET));
    EXPECT_EQ(s.Error(), 0);
}

TEST(MemoryStream, BorrowedBuffersAreWrittenInPlaceButNeverReallocated) {
    std::vector<uint8_t> outside = {1, 2, 3, 4};
    {
        MemoryStream s(outside.data(), outside.size());
        EXPECT_FALSE(s.Open());
        ASSERT_TRUE(s.Seek(1, SEEK_SET));
        EXPECT_TRUE(s.PutC(9));
        EXPECT_EQ(s.GetBuffer(false), outside.data()) << "room enough: written in place";
        EXPECT_EQ(outside[1], 9);
        // Past the end the stream moves to a buffer of its own.
        ASSERT_TRUE(s.Seek(6, SEEK_SET));
        EXPECT_EQ(s.Write("xy", 1, 2), 2u);
        const uint8_t* own = s.GetBuffer(false);
        EXPECT_NE(own, outside.data());
        EXPECT_EQ(s.Size(), 8);
        const uint8_t expected[] = {1, 9, 3, 4, 0, 0, 'x', 'y'};
        EXPECT_EQ(std::memcmp(own, expected, 8), 0) << "the gap reads as zeros";
        EXPECT_TRUE(s.Close());  // frees its own buffer, not the vector's
        EXPECT_EQ(s.Size(), -1);
    }
    EXPECT_EQ(outside, (std::vector<uint8_t>{1, 9, 3, 4}));

    // A detached buffer belongs to the caller; later growth copies it.
    MemoryStream s;
    ASSERT_TRUE(s.Open());
    EXPECT_EQ(s.Write("hello", 1, 5), 5u);
    uint8_t* taken = s.GetBuffer(true);
    std::vector<uint8_t> big(70000, 7);
    EXPECT_EQ(s.Write(big.data(), 1, big.size()), big.size());
    EXPECT_NE(s.GetBuffer(false), taken);
    EXPECT_EQ(std::memcmp(taken, "hello", 5), 0);
    std::free(taken);
}

// A stream that accepts nothing, to see the base class's PutC.
class RefusingStream : public ByteStream {
  public:
    bool Close() override { return true; }
    size_t Read(void*, size_t, size_t) override { return 0; }
    size_t Write(const void* b, size_t, size_t count) override {
        last = *static_cast<const uint8_t*>(b);
        return accept ? count : 0;
    }
    bool Seek(int64_t, int) override { return false; }
    int64_t Tell() override { return 0; }
    int64_t Size() override { return 0; }
    bool Flush() override { return false; }
    bool Eof() override { return true; }
    int32_t Error() override { return 0; }
    int32_t GetC() override { return -1; }
    char* GetS(char*, int32_t) override { return nullptr; }
    int32_t Scanf(const char*, void*) override { return 0; }
    bool accept = false;
    uint8_t last = 0;
};

TEST(ByteStream, PutCWritesOneByteThroughWrite) {
    RefusingStream s;
    EXPECT_FALSE(s.PutC(0x5A));
    EXPECT_EQ(s.last, 0x5A);
    s.accept = true;
    EXPECT_TRUE(s.PutC(0xA5));
    EXPECT_EQ(s.last, 0xA5);
}

}  // namespace
}  // namespace sheetmend
