#include "layout/band_statistics.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

namespace sheetmend {

bool IsSimilar(int32_t a, int32_t b) {
    if (a == b) return true;
    const int64_t m = (int64_t{a} + b) / 2;
    if (m == 0) return false;
    int64_t tolerance = static_cast<int64_t>(std::floor(static_cast<double>(m) / 4.0 + 0.5));
    tolerance = std::clamp<int64_t>(tolerance, 6, 56);
    return std::llabs(int64_t{a} - b) < tolerance;
}

namespace {

// Whether a run of the profile is ink enough to be a band of its own.
bool StandsApart(ProfileUnit unit, int32_t mass, int32_t width) {
    switch (unit) {
        case ProfileUnit::kByteColumns:
            return (mass > 49 && width > 1) || (mass > 100 && width > 0);
        case ProfileUnit::kRows:
            return (mass > 49 && width > 11) || (mass > 100 && width > 3);
        case ProfileUnit::kPixelColumns:
            return width > 6;
    }
    return false;
}

}  // namespace

size_t FindBands(const int32_t* profile, int32_t length, ProfileUnit unit, int32_t origin,
                 Band* out, size_t capacity) {
    const int32_t scale = unit == ProfileUnit::kByteColumns ? 8 : 1;
    capacity = std::min(capacity, kMaxBands);
    size_t count = 0;
    int32_t i = 0;
    while (i < length) {
        if (profile[i] <= 0) {
            ++i;
            continue;
        }
        const int32_t first = i;
        int32_t mass = 0;
        while (i < length && profile[i] > 0) {
            if (mass <= 160) mass += profile[i];
            ++i;
        }
        const int32_t width = i - first;
        if (!StandsApart(unit, mass, width)) continue;  // joins the gap before it
        const int32_t start = (origin + first) * scale;
        if (count < capacity) {
            out[count++] = Band{start, width * scale, 0};
        } else if (count > 0) {
            out[count - 1].width = (origin + i) * scale - out[count - 1].start;
        }
    }
    for (size_t b = 0; b + 1 < count; ++b) {
        out[b].gap = out[b + 1].start - (out[b].start + out[b].width);
    }
    if (count > 0) out[count - 1].gap = 0;
    return count;
}

BandStats BandStatistics(bool isGap, BandKind kind, const int32_t* values, size_t count,
                         int32_t largest, bool byteMode, bool firstLevel) {
    BandStats s;
    const bool bytes = byteMode && kind == kColumnBandKind;
    const int32_t shift = bytes ? 3 : 0;
    const int32_t largeLimit = bytes ? 9 : 72;
    const int32_t noThreshold = isGap ? kNoGapThreshold : kNoSizeThreshold;
    largest = std::max(largest, 0) >> shift;

    // Values in histogram units, held to 0..largest.
    std::vector<int32_t> v(count);
    for (size_t i = 0; i < count; ++i) v[i] = std::clamp(values[i] >> shift, 0, largest);

    if (count < 3) {
        int64_t sum = 0;
        for (int32_t x : v) sum += x;
        const int32_t mean = count == 0 ? 0 : static_cast<int32_t>(sum / int64_t(count));
        s.typical = mean << shift;
        s.large = s.typical > 72;
        s.threshold = noThreshold;
        if (count > 0) {
            s.low = *std::min_element(v.begin(), v.end());
            s.high = *std::max_element(v.begin(), v.end());
        }
        return s;
    }

    // Counters saturate instead of wrapping, so a crowded bin stays crowded.
    std::vector<uint8_t> h(static_cast<size_t>(largest) + 2, 0);
    for (int32_t x : v) {
        if (h[x] < 255) ++h[x];
    }
    if (isGap) {
        s.low = *std::min_element(v.begin(), v.end());
        s.high = *std::max_element(v.begin(), v.end());
    }
    auto bin = [&](int32_t m) -> int32_t { return (m < 0 || m > largest) ? 0 : h[m]; };

    int32_t start = kind == kRowBandKind && byteMode ? 7 : (byteMode && firstLevel ? 2 : 0);
    start = std::min(start, largest);
    if (h[start] == 0) {
        int32_t m = start + 1;
        while (m <= largest && h[m] == 0) ++m;
        if (m > largest) {
            m = 0;
            while (m <= largest && h[m] == 0) ++m;
        }
        start = m;  // count >= 3 guarantees some bin is set
    }

    struct Run {
        int32_t first, last;
    };
    Run runs[50] = {};
    int32_t runCount = 0;
    int32_t typical = 1, best = 0, modeRun = 0;
    int32_t m = start;
    while (m <= largest && runCount < 50) {
        if (h[m] == 0) {
            ++m;
            continue;
        }
        Run run{m, m};
        for (; m <= largest && h[m] != 0; ++m) {
            const int32_t score = bin(m - 1) + bin(m) + bin(m + 1);
            if (score > best) {
                best = score;
                typical = m;
                modeRun = runCount;
            }
            run.last = m;
        }
        runs[runCount++] = run;
    }
    s.runCount = runCount;
    s.modeRun = modeRun;
    const Run& lastRun = runs[runCount - 1];
    s.large = lastRun.last > largeLimit;
    if (!isGap) {
        s.low = runs[0].last;
        s.high = lastRun.first;
    }

    int32_t threshold;
    if (best < 2) {
        threshold = noThreshold;
    } else if (isGap) {
        threshold = lastRun.last + 1;
        for (int32_t r = modeRun + 1; r < runCount; ++r) {
            if (runs[r].first > (5 * typical) / 2) {
                threshold = runs[r].first - 1;
                break;
            }
        }
    } else if (modeRun == runCount - 1) {
        threshold = runs[modeRun].last + 1;
    } else if (2 * modeRun + 1 >= (3 * (2 * runCount)) / 5) {
        threshold = runs[modeRun + 1].first - 1;
    } else {
        threshold = lastRun.last + 1;
        for (int32_t r = modeRun + 1; r < runCount; ++r) {
            if (runs[r].first >= 2 * typical || runs[r].last >= 2 * typical) {
                threshold = runs[r].first - 1;
                break;
            }
        }
    }
    s.typical = typical << shift;
    s.threshold = threshold == noThreshold ? threshold : threshold << shift;
    return s;
}

}  // namespace sheetmend
