// Per-cell values spread over the pixels, and window sums over cells: the
// two pieces that the local threshold and the background flattening share.
#include <cmath>

#include "image/tone/tone_internal.h"

namespace sheetmend::tone {

namespace {

// Position of pixel p in grid units, measured from the first cell centre.
float GridPosition(uint32_t p, uint32_t cell) {
    return (static_cast<float>(p) + 0.5f) / static_cast<float>(cell) - 0.5f;
}

}  // namespace

GridRows::GridRows(const CellGrid& grid, uint32_t width)
    : grid_(grid), left_(width), weight_(width), blend_(grid.nx + 1), out_(width) {
    for (uint32_t x = 0; x < width; ++x) {
        const float g = GridPosition(x, grid.cell);
        const float f = std::floor(g);
        if (g <= 0) {
            left_[x] = 0;
            weight_[x] = 0;
        } else {
            left_[x] = std::min(static_cast<uint32_t>(f), grid.nx - 1);
            weight_[x] = left_[x] + 1 < grid.nx ? g - f : 0.0f;
        }
    }
}

const float* GridRows::Row(uint32_t y) {
    const float g = GridPosition(y, grid_.cell);
    uint32_t j0 = 0;
    float t = 0;
    if (g > 0) {
        j0 = std::min(static_cast<uint32_t>(g), grid_.ny - 1);
        t = j0 + 1 < grid_.ny ? g - std::floor(g) : 0.0f;
    }
    const uint32_t j1 = std::min(j0 + 1, grid_.ny - 1);
    const float* a = grid_.v.data() + static_cast<size_t>(j0) * grid_.nx;
    const float* b = grid_.v.data() + static_cast<size_t>(j1) * grid_.nx;
    for (uint32_t i = 0; i < grid_.nx; ++i) blend_[i] = a[i] + (b[i] - a[i]) * t;
    // The extra entry lets the last column blend with itself at weight 0.
    blend_[grid_.nx] = blend_[grid_.nx - 1];
    const uint32_t width = static_cast<uint32_t>(out_.size());
    const uint32_t* left = left_.data();
    const float* w = weight_.data();
    const float* c = blend_.data();
    float* out = out_.data();
    for (uint32_t x = 0; x < width; ++x) {
        const float l = c[left[x]];
        out[x] = l + (c[left[x] + 1] - l) * w[x];
    }
    return out;
}

WindowSums::WindowSums(const std::vector<uint64_t>& cells, uint32_t nx, uint32_t ny)
    : nx_(nx), ny_(ny), table_(static_cast<size_t>(nx + 1) * (ny + 1), 0) {
    const size_t stride = nx + 1;
    for (uint32_t j = 0; j < ny; ++j) {
        uint64_t across = 0;
        for (uint32_t i = 0; i < nx; ++i) {
            across += cells[static_cast<size_t>(j) * nx + i];
            table_[(j + 1) * stride + i + 1] = table_[j * stride + i + 1] + across;
        }
    }
}

uint64_t WindowSums::Sum(uint32_t i, uint32_t j, uint32_t radius) const {
    const size_t stride = nx_ + 1;
    const uint32_t i0 = i > radius ? i - radius : 0, j0 = j > radius ? j - radius : 0;
    const uint32_t i1 = std::min(i + radius + 1, nx_), j1 = std::min(j + radius + 1, ny_);
    return table_[j1 * stride + i1] - table_[j0 * stride + i1] - table_[j1 * stride + i0] +
           table_[j0 * stride + i0];
}

}  // namespace sheetmend::tone
