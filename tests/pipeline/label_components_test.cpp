// The run labelling must find exactly the objects a plain 4-connected flood
// fill finds, in the same order, with the same pixels.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <utility>
#include <vector>

#include "image/raster_image.h"
#include "pipeline/remove_black_lines.h"

namespace sheetmend {
namespace {

using Points = std::vector<std::pair<int, int>>;

// The depth-first fill with an explicit stack of (x, y, step) entries.
std::vector<Points> FloodFillObjects(const RasterImage& img, uint8_t ink) {
    const int W = static_cast<int>(img.GetWidth()), H = static_cast<int>(img.GetHeight());
    std::vector<uint8_t> map(static_cast<size_t>(W) * H);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) map[static_cast<size_t>(y) * W + x] = img.GetPixelIndex(x, y) == ink;
    std::vector<int> label(map.size(), 0);
    std::vector<Points> objects;
    struct Entry {
        int x, y, step;
    };
    auto neighbour = [&](const Entry& e, int dir, Entry* out) {
        switch (dir) {
            case 1: if (e.x > 0) { *out = {e.x - 1, e.y, 1}; return true; } break;
            case 2: if (e.x < W - 1) { *out = {e.x + 1, e.y, 2}; return true; } break;
            case 3: if (e.y > 0) { *out = {e.x, e.y - 1, 3}; return true; } break;
            case 4: if (e.y < H - 1) { *out = {e.x, e.y + 1, 4}; return true; } break;
        }
        return false;
    };
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            if (!map[static_cast<size_t>(y) * W + x] || label[static_cast<size_t>(y) * W + x]) continue;
            const int number = static_cast<int>(objects.size()) + 1;
            Points pts;
            std::vector<Entry> stack{{x, y, 0}};
            // After visiting an entry, the next direction to try for it.
            std::vector<int> nextDir{1};
            bool fresh = true;
            while (!stack.empty()) {
                Entry& top = stack.back();
                const size_t at = static_cast<size_t>(top.y) * W + top.x;
                if (fresh) {
                    fresh = false;
                    if (!map[at] || label[at]) {
                        const int step = top.step;
                        stack.pop_back();
                        nextDir.pop_back();
                        if (!stack.empty()) nextDir.back() = step + 1;
                        continue;
                    }
                    label[at] = number;
                    pts.emplace_back(top.x, top.y);
                }
                Entry n;
                bool pushed = false;
                for (int d = nextDir.back(); d <= 4 && !pushed; ++d) {
                    if (neighbour(top, d, &n)) {
                        nextDir.back() = d + 1;
                        stack.push_back(n);
                        nextDir.push_back(1);
                        fresh = true;
                        pushed = true;
                    }
                }
                if (!pushed) {
                    const int step = stack.back().step;
                    stack.pop_back();
                    nextDir.pop_back();
                    if (!stack.empty()) nextDir.back() = step + 1;
                }
            }
            objects.push_back(pts);
        }
    return objects;
}

RasterImage RandomBitonal(uint32_t w, uint32_t h, double density, uint32_t seed) {
    std::mt19937 rng(seed);
    std::bernoulli_distribution ink(density);
    RasterImage img(w, h, 1);
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) img.SetPixelIndex(x, y, ink(rng) ? 1 : 0);
    return img;
}

TEST(LabelInkComponents, SameObjectsAndOrderAsAFloodFill) {
    uint32_t seed = 1;
    for (uint32_t w : {1u, 7u, 9u, 33u, 70u})
        for (uint32_t h : {1u, 5u, 31u})
            for (double density : {0.1, 0.45, 0.6, 0.95}) {
                RasterImage img = RandomBitonal(w, h, density, ++seed);
                for (uint8_t ink : {uint8_t{1}, uint8_t{0}}) {
                    const std::vector<Points> expected = FloodFillObjects(img, ink);
                    const InkObjects got = LabelInkComponents(img, ink);
                    ASSERT_EQ(got.Count(), expected.size()) << w << "x" << h << " " << density;
                    for (size_t k = 0; k < expected.size(); ++k) {
                        std::set<std::pair<int, int>> want(expected[k].begin(), expected[k].end());
                        std::set<std::pair<int, int>> have;
                        for (uint32_t i = got.firstRun[k]; i < got.firstRun[k + 1]; ++i) {
                            const InkRun& r = got.runs[got.order[i]];
                            for (int x = r.x0; x <= r.x1; ++x) have.emplace(x, r.y);
                        }
                        ASSERT_EQ(have, want) << "object " << k << " of " << w << "x" << h;
                        // The first pixel found by the fill is the object's first in the scan.
                        const ObjectRect rect = ComponentBounds(got, k);
                        int minX = w, maxX = 0, minY = h, maxY = 0;
                        for (auto [x, y] : expected[k]) {
                            minX = std::min(minX, x), maxX = std::max(maxX, x);
                            minY = std::min(minY, y), maxY = std::max(maxY, y);
                        }
                        EXPECT_EQ(rect.left, minX);
                        EXPECT_EQ(rect.right, maxX);
                        EXPECT_EQ(rect.top, minY);
                        EXPECT_EQ(rect.bottom, maxY);
                    }
                }
            }
}

TEST(LabelInkComponents, DiagonalNeighboursAreTwoObjects) {
    RasterImage img(4, 4, 1);
    img.SetPixelIndex(1, 1, 1);
    img.SetPixelIndex(2, 2, 1);
    const InkObjects got = LabelInkComponents(img, 1);
    EXPECT_EQ(got.Count(), 2u);
}

TEST(LabelInkComponents, AUShapeJoinsLate) {
    // Two arms that only meet at the top row belong to one object, numbered
    // by the left arm's first pixel.
    RasterImage img(5, 4, 1);
    for (int y = 0; y < 4; ++y) {
        img.SetPixelIndex(0, y, 1);
        img.SetPixelIndex(4, y, 1);
    }
    for (int x = 0; x < 5; ++x) img.SetPixelIndex(x, 3, 1);
    img.SetPixelIndex(2, 0, 1);  // a separate dot between the arms
    const InkObjects got = LabelInkComponents(img, 1);
    ASSERT_EQ(got.Count(), 2u);
    EXPECT_EQ(got.firstRun[1] - got.firstRun[0], 4u + 4u - 1u);  // rows 0..2: two runs each; row 3: one run
    const ObjectRect dot = ComponentBounds(got, 1);
    EXPECT_EQ(dot.left, 2);
    EXPECT_EQ(dot.right, 2);
}

}  // namespace
}  // namespace sheetmend
