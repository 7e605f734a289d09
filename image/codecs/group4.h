// CCITT Group 4 coding of a 1-bit page as one raw strip, through libtiff's
// fax coder: the data that a PDF /CCITTFaxDecode filter (K -1) or a fax
// reader takes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sheetmend {

class RasterImage;

// Codes the rows of the 1-bit `page` top line first, bits in reading order
// (most significant first), a 0 bit coded as a white run and a 1 bit as a
// black run; with `invert` every bit is taken inverted. The image is not
// changed. False with a reason in `error` when the coder fails.
bool EncodeGroup4Strip(const RasterImage& page, bool invert, std::vector<uint8_t>& out,
                       std::string& error);

}  // namespace sheetmend
