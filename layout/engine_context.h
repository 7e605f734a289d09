// EngineContext: what one layout analysis or skew measurement works on. The
// page rows are borrowed from the caller and only read; the pool holds the
// per-block working memory. Every analysis receives its context explicitly,
// so separate contexts can run on separate threads at the same time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <vector>

namespace sheetmend {

// An arena of zero-filled chunks, released all at once. Allocation is a
// pointer bump; Release keeps the first chunk for reuse by the next block.
class AnalysisPool {
  public:
    AnalysisPool() = default;
    AnalysisPool(const AnalysisPool&) = delete;
    AnalysisPool& operator=(const AnalysisPool&) = delete;

    // `bytes` zero-filled bytes aligned to 16; nullptr when memory runs out
    // or the request is absurd.
    void* Allocate(size_t bytes);

    template <class T>
    T* AllocateArray(size_t count) {
        if (count > (SIZE_MAX / 2) / sizeof(T)) return nullptr;
        void* p = Allocate(count * sizeof(T));
        if (p == nullptr) return nullptr;
        return new (p) T[count]();
    }

    // Frees everything handed out since the last release.
    void Release();

    size_t ChunkCount() const { return chunks_.size(); }

  private:
    struct Chunk {
        std::unique_ptr<uint8_t[]> data;
        size_t size = 0;
    };
    std::vector<Chunk> chunks_;
    size_t used_ = 0;  // bytes taken from the last chunk
};

// The block under analysis and its profile arrays, set up by BeginRegion in
// the pool (layout/block_analysis.h); nullptr outside an analysis.
struct AnalysisRegion;

struct EngineContext {
    const uint8_t* rows = nullptr;  // top row first, MSB leftmost, set bit = ink
    int32_t rowBits = 0;            // row width in bits, a multiple of 16
    int32_t height = 0;             // number of rows
    AnalysisPool pool;
    AnalysisRegion* region = nullptr;  // lives in the pool; cleared by ReleasePool

    EngineContext() = default;
    EngineContext(const uint8_t* pageRows, int32_t pageRowBits, int32_t pageHeight)
        : rows(pageRows), rowBits(pageRowBits), height(pageHeight) {}
    EngineContext(const EngineContext&) = delete;
    EngineContext& operator=(const EngineContext&) = delete;

    int32_t RowBytes() const { return rowBits >> 3; }
    const uint8_t* Row(int32_t y) const {
        return rows + static_cast<size_t>(y) * static_cast<size_t>(RowBytes());
    }
};

// Number of set bits of every byte value.
extern const uint8_t kBitCount[256];

}  // namespace sheetmend
