// Border removal of "-clean": the dark areas that touch the page's edge (the
// scanner lid around a page, the wedge a turned page leaves, the shadow of a
// book's edge, punched holes cut by the edge) are painted in the page's
// paper colour.
//
// Each row is followed inwards from the left and the right edge, and each
// column from the top and the bottom, as long as its pixels stay dark (below
// half the paper's luminance), plus a short halo of rising grey that is the
// border's soft edge. The depths found along one edge form runs of
// neighbouring rows (or columns); a run is taken as border only when it has
// the shape of one: long along the edge (a tenth of it), never deeper than a
// quarter of the page, with a depth that changes smoothly from row to row,
// and dark on average. Text or a picture that touches the edge gives short
// or ragged runs and is left alone, and the depth stops at the first light
// pixel after the dark (a sliver of paper, a 25th of the page, may lie
// between the edge and the border), so nothing beyond the paper gap around
// the content is touched.
#pragma once

#include <cstdint>

namespace sheetmend {

class RasterImage;

// How deep the border reached from each side, in pixels, and how many
// pixels were painted. All zero when the page had no border.
struct BorderFill {
    int32_t left = 0, top = 0, right = 0, bottom = 0;
    int64_t pixels = 0;
    bool Found() const { return pixels > 0; }
};

// Paints the page's border in its paper colour. A page without a border is
// left byte for byte as it was. Works on every depth; palette pages get the
// palette's paper index.
BorderFill RemovePageBorder(RasterImage& page);

}  // namespace sheetmend
