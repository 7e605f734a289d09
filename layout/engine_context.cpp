#include "layout/engine_context.h"

#include <cstring>

namespace sheetmend {

namespace {

constexpr size_t kChunkSize = 256 * 1024;
constexpr size_t kMaxRequest = size_t{1} << 31;

constexpr size_t RoundUp16(size_t n) {
    return (n + 15) & ~size_t{15};
}

}  // namespace

const uint8_t kBitCount[256] = {
#define B2(n) n, n + 1, n + 1, n + 2
#define B4(n) B2(n), B2(n + 1), B2(n + 1), B2(n + 2)
#define B6(n) B4(n), B4(n + 1), B4(n + 1), B4(n + 2)
    B6(0), B6(1), B6(1), B6(2)
#undef B6
#undef B4
#undef B2
};

void* AnalysisPool::Allocate(size_t bytes) {
    if (bytes > kMaxRequest) return nullptr;
    const size_t need = RoundUp16(bytes == 0 ? 1 : bytes);
    if (chunks_.empty() || chunks_.back().size - used_ < need) {
        // A fresh chunk; the first one is kept over Release, so small blocks
        // allocate nothing from the system after the first.
        const size_t size = need > kChunkSize ? need : kChunkSize;
        Chunk chunk;
        chunk.data.reset(new (std::nothrow) uint8_t[size]);
        if (!chunk.data) return nullptr;
        chunk.size = size;
        std::memset(chunk.data.get(), 0, size);
        chunks_.push_back(std::move(chunk));
        used_ = 0;
    }
    uint8_t* p = chunks_.back().data.get() + used_;
    used_ += need;
    return p;
}

void AnalysisPool::Release() {
    if (chunks_.empty()) return;
    if (chunks_.size() > 1 || chunks_.front().size != kChunkSize) {
        chunks_.clear();
        used_ = 0;
        return;
    }
    // Keep the single standard chunk, zeroing what was handed out.
    std::memset(chunks_.front().data.get(), 0, used_);
    used_ = 0;
}

}  // namespace sheetmend
