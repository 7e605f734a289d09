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
    : grid_(grid),
      first_(grid.nx + 1, width),
      weight_(width),
      blend_(size_t{grid.nx + 1} * grid.channels),
      out_(size_t{width} * grid.channels) {
    // Pixel x blends grid column left and left + 1; before the first centre
    // and after the last the value is held.
    for (uint32_t x = width; x-- > 0;) {
        const float g = GridPosition(x, grid.cell);
        uint32_t left = 0;
        if (g > 0) {
            left = std::min(static_cast<uint32_t>(g), grid.nx - 1);
            weight_[x] = left + 1 < grid.nx ? g - std::floor(g) : 0.0f;
        }
        first_[left] = x;
    }
    // A column no pixel starts from gets an empty stretch.
    for (uint32_t i = grid.nx; i-- > 0;) first_[i] = std::min(first_[i], first_[i + 1]);
}

template <class Write>
void GridRows::Blend(uint32_t y, Write write) {
    const float g = GridPosition(y, grid_.cell);
    uint32_t j0 = 0;
    float t = 0;
    if (g > 0) {
        j0 = std::min(static_cast<uint32_t>(g), grid_.ny - 1);
        t = j0 + 1 < grid_.ny ? g - std::floor(g) : 0.0f;
    }
    const uint32_t j1 = std::min(j0 + 1, grid_.ny - 1);
    const uint32_t ch = grid_.channels, n = grid_.nx * ch;
    const float* a = grid_.v.data() + static_cast<size_t>(j0) * n;
    const float* b = grid_.v.data() + static_cast<size_t>(j1) * n;
    for (uint32_t i = 0; i < n; ++i) blend_[i] = a[i] + (b[i] - a[i]) * t;
    // The extra column lets the last one blend with itself at weight 0.
    for (uint32_t c = 0; c < ch; ++c) blend_[n + c] = blend_[n - ch + c];
    const float* w = weight_.data();
    for (uint32_t i = 0; i < grid_.nx; ++i) {
        const float* left = blend_.data() + size_t{i} * ch;
        if (ch == 1) {
            const float step = left[1] - left[0];
            for (uint32_t x = first_[i]; x < first_[i + 1]; ++x) write(x, left[0] + step * w[x]);
            continue;
        }
        // Colour rows, the channel loop unrolled.
        const float s0 = left[3] - left[0], s1 = left[4] - left[1], s2 = left[5] - left[2];
        for (uint32_t x = first_[i]; x < first_[i + 1]; ++x) {
            write(3 * x, left[0] + s0 * w[x]);
            write(3 * x + 1, left[1] + s1 * w[x]);
            write(3 * x + 2, left[2] + s2 * w[x]);
        }
    }
}

const float* GridRows::Row(uint32_t y) {
    float* out = out_.data();
    Blend(y, [out](uint32_t x, float v) { out[x] = v; });
    return out;
}

void GridRows::Levels(uint32_t y, uint8_t* out) {
    Blend(y, [out](uint32_t x, float v) {
        out[x] = static_cast<uint8_t>(std::min(std::max(v, 0.0f), 255.0f));
    });
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
