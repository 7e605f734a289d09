// Making a page black and white for analysis: the three steps shared by the
// page bitmap, line removal and the external deskew step.
#pragma once

namespace sheetmend {

class RasterImage;

// Reduces an image deeper than 1 bit to 1 bit: by the automatic threshold
// when one can be found (printing "[Message] OptimalThreshold=%d", keeping
// the resolution and the TIFF compression option), else by the nearest of
// black and white without error diffusion. With `adaptive`, by the local
// threshold (RasterImage::AdaptiveThreshold) instead, silently.
void ConvertToMonochrome(RasterImage& image, bool adaptive = false);

// For a 1-bit image: palette entry 0 white and entry 1 black, the pixels
// inverted if the palette had to change, so a set bit means black.
void MakeWhitePaperPalette(RasterImage& image);

// For a 1-bit image: inverts the pixels when set bits are not fewer than
// clear ones, so ink is always the minority (a negative page turns positive).
void MakeInkMinority(RasterImage& image);

// The three steps in order.
void BinarizePage(RasterImage& image, bool adaptive = false);

// Inverts every pixel bit of a 1-bit image, keeping the row padding zero.
void InvertBitonalPixels(RasterImage& image);

}  // namespace sheetmend
