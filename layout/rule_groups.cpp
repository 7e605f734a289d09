// Tables and frames from crossing ruling lines. The tallest vertical line and
// a horizontal line touching it seed a group that gathers every line within
// 15 pixels; a group with inner column or row lines is a ruled table, one with
// only its four borders is a frame whose inside becomes a block of its own,
// and anything else leaves its tallest line as a separator.
#include <algorithm>

#include "layout/segmentation_internal.h"

namespace sheetmend::layout_internal {

namespace {

template <class A>
bool Near(const RuleLine& l, const A& box) {
    return l.x0 < box.x1 + 15 && box.x0 - 15 < l.x1 && l.y0 < box.y1 + 15 && box.y0 - 15 < l.y1;
}

void Widen(RuleGroup& g, const RuleLine& l) {
    g.x0 = std::min(g.x0, l.x0);
    g.y0 = std::min(g.y0, l.y0);
    g.x1 = std::max(g.x1, l.x1);
    g.y1 = std::max(g.y1, l.y1);
}

// Moves the first line of `from` near the group into it; false when none.
bool TakeNear(RuleGroup& g, std::vector<RuleLine>& from, std::vector<RuleLine>& into,
              bool vertical) {
    auto it = std::find_if(from.begin(), from.end(), [&](const RuleLine& l) { return Near(l, g); });
    if (it == from.end()) return false;
    const RuleLine l = *it;
    from.erase(it);
    if (vertical)
        InsertVertical(into, l);
    else
        InsertHorizontal(into, l);
    Widen(g, l);
    return true;
}

void InsertTable(std::vector<RuleGroup>& tables, RuleGroup&& g) {
    auto it = std::find_if(tables.begin(), tables.end(), [&](const RuleGroup& t) {
        return t.y0 > g.y0 || (t.y0 == g.y0 && t.x0 > g.x0);
    });
    tables.insert(it, std::move(g));
}

// How a full-length line sits in its group: near the first edge, near the
// last edge, as an inner line, or none of these.
enum class Place { kNone, kFirst, kLast, kInner };

Place Judge(int32_t toFirst, int32_t toLast) {
    if (toFirst < 20) return Place::kFirst;
    if (toFirst > 50 && toFirst < 300) return Place::kInner;
    if (toLast > 50 && toLast < 300) return Place::kInner;
    if (toLast < 20) return Place::kLast;
    return Place::kNone;
}

}  // namespace

bool IsSmallPiece(const Segmenter& s, int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
    if (x1 - x0 < 300) return true;
    return y1 - y0 < 450 &&
           ((y0 > 0 && y1 < s.region.y1) || x1 - x0 < 0.85 * (s.region.x1 - s.region.x0));
}

void ClassifyRuleGroup(Segmenter& s, const RuleLine& v, const RuleLine& h) {
    RuleGroup g;
    g.x0 = std::min(v.x0, h.x0);
    g.y0 = std::min(v.y0, h.y0);
    g.x1 = std::max(v.x1, h.x1);
    g.y1 = std::max(v.y1, h.y1);
    g.verticals.push_back(v);
    g.horizontals.push_back(h);
    for (;;) {
        const bool tookV = TakeNear(g, s.verticalLines, g.verticals, true);
        const bool tookH = TakeNear(g, s.horizontalLines, g.horizontals, false);
        if (!tookV && !tookH) break;
    }

    const int32_t boxW = g.x1 - g.x0, boxH = g.y1 - g.y0;
    int fullV = 0, fullH = 0;
    bool inner = false, left = false, right = false, top = false, bottom = false;
    for (const RuleLine& l : g.verticals) {
        if (VerticalLength(l) <= 0.95 * boxH) continue;
        ++fullV;
        const Place p = Judge(l.x0 - g.x0, g.x1 - l.x1);
        inner |= p == Place::kInner;
        left |= p == Place::kFirst;
        right |= p == Place::kLast;
    }
    for (const RuleLine& l : g.horizontals) {
        if (HorizontalLength(l) <= 0.95 * boxW) continue;
        ++fullH;
        const Place p = Judge(l.y0 - g.y0, g.y1 - l.y1);
        inner |= p == Place::kInner;
        top |= p == Place::kFirst;
        bottom |= p == Place::kLast;
    }

    auto giveBack = [&](const RuleGroup& group, const RuleLine* except) {
        for (const RuleLine& l : group.verticals)
            if (except == nullptr || !(l == *except)) InsertVertical(s.verticalLines, l);
        for (const RuleLine& l : group.horizontals) InsertHorizontal(s.horizontalLines, l);
    };

    if (fullV >= 1 && fullH >= 2 && inner) {
        InsertTable(s.tables, std::move(g));
        return;
    }
    if (fullV >= 1 && fullH >= 2 && left && right && top && bottom) {
        // The borders, each the first line of the group near its edge.
        RuleGroup rest = g;
        auto takeFirst = [&](std::vector<RuleLine>& list, auto near) {
            auto it = std::find_if(list.begin(), list.end(), near);
            if (it == list.end()) return;
            s.usedLines.insert(s.usedLines.begin(), *it);
            list.erase(it);
        };
        takeFirst(rest.verticals, [&](const RuleLine& l) { return l.x0 - g.x0 < 20; });
        takeFirst(rest.verticals, [&](const RuleLine& l) { return g.x1 - l.x1 < 20; });
        takeFirst(rest.horizontals, [&](const RuleLine& l) { return l.y0 - g.y0 < 20; });
        takeFirst(rest.horizontals, [&](const RuleLine& l) { return g.y1 - l.y1 < 20; });
        const Box box{g.x0, g.y0, g.x1, g.y1};
        int32_t above, below;
        SplitBlocksAroundBox(s, box, &above, &below);
        InsertBlock(s.blocks, PageBlock{box.x0 + 15, box.y0 + 15, box.x1 - 15, box.y1 - 15, 0});
        // The seed line, when it was not a border, becomes a separator rather
        // than going back: it would seed the same group again and again.
        const bool seedLeft =
            std::find(rest.verticals.begin(), rest.verticals.end(), v) != rest.verticals.end();
        giveBack(rest, seedLeft ? &v : nullptr);
        if (seedLeft) InsertVertical(s.verticalSeparators, v);
        return;
    }
    giveBack(g, nullptr);
    if (!s.verticalLines.empty()) {
        InsertVertical(s.verticalSeparators, s.verticalLines.front());
        s.verticalLines.erase(s.verticalLines.begin());
    }
}

void FindRuleGroups(Segmenter& s) {
    while (!s.verticalLines.empty()) {
        const RuleLine v = s.verticalLines.front();
        auto it = std::find_if(s.horizontalLines.begin(), s.horizontalLines.end(),
                               [&](const RuleLine& h) { return Near(h, v); });
        s.verticalLines.erase(s.verticalLines.begin());
        if (it == s.horizontalLines.end()) {
            InsertVertical(s.verticalSeparators, v);
            continue;
        }
        const RuleLine h = *it;
        s.horizontalLines.erase(it);
        ClassifyRuleGroup(s, v, h);
    }
    for (const RuleLine& h : s.horizontalLines) InsertHorizontal(s.horizontalSeparators, h);
    s.horizontalLines.clear();
}

}  // namespace sheetmend::layout_internal
