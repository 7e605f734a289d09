// JasperImage: finds which of its five formats a stream holds by the first
// bytes and hands it to that format's codec; on writing, checks that the image
// is one the format can hold.
#include "image/codecs/jasper_codec.h"

#include "image/codecs/jpeg2000_codec.h"
#include "image/codecs/pgx_codec.h"
#include "image/codecs/pnm_codec.h"
#include "image/codecs/ras_codec.h"
#include "image/streams.h"

namespace sheetmend {

namespace jasper {

bool IsBlackAndWhite(const RasterImage& image) {
    if (image.GetBpp() != 1) return false;
    const RgbQuad a = image.GetPaletteColor(0), b = image.GetPaletteColor(1);
    const RgbQuad black{0, 0, 0, 0}, white{255, 255, 255, 0};
    auto same = [](RgbQuad x, RgbQuad y) {
        return x.red == y.red && x.green == y.green && x.blue == y.blue;
    };
    return (same(a, black) && same(b, white)) || (same(a, white) && same(b, black));
}

}  // namespace jasper

bool JasperImage::Decode(ByteStream* stream, uint32_t code) {
    if (!stream) {
        SetLastError("null file handler");
        return false;
    }
    if (code != kFormatUnknown && (code < kFormatJp2 || code > kFormatRas)) {
        SetLastError("JasPer: format code not handled by this codec");
        return false;
    }
    const int64_t start = stream->Tell();
    uint8_t head[16] = {};
    const size_t n = stream->Read(head, 1, sizeof head);
    if (start < 0 || !stream->Seek(start, SEEK_SET)) {
        SetLastError("JasPer: cannot read the stream");
        return false;
    }
    // Whatever the code asked for, the content decides: a .j2k name holds a
    // code stream as often as a JP2 file.
    if (jasper::LooksLikeJp2(head, n)) {
        if (!jasper::DecodeJpeg2000(*this, stream, false)) return false;
        SetType(kFormatJp2);
    } else if (jasper::LooksLikeJpc(head, n)) {
        if (!jasper::DecodeJpeg2000(*this, stream, true)) return false;
        SetType(kFormatJpc);
    } else if (jasper::LooksLikePgx(head, n)) {
        if (!jasper::DecodePgx(*this, stream)) return false;
        SetType(kFormatPgx);
    } else if (jasper::LooksLikePnm(head, n)) {
        if (!jasper::DecodePnm(*this, stream)) return false;
        SetType(kFormatPnm);
    } else if (jasper::LooksLikeRas(head, n)) {
        if (!jasper::DecodeRas(*this, stream)) return false;
        SetType(kFormatRas);
    } else {
        SetLastError("JasPer: unknown image format");
        return false;
    }
    return true;
}

bool JasperImage::Encode(ByteStream* stream, uint32_t code) {
    if (!BeginEncode(stream)) return false;
    const bool rgb = GetBpp() == 24;
    const bool grey = jasper::IsGreyImage(*this);
    switch (code) {
        case kFormatPgx:
            if (!grey) {
                SetLastError("PGX can save only GrayScale images");
                return false;
            }
            return jasper::EncodePgx(*this, stream);
        case kFormatPnm:
            if (!rgb && !grey && !jasper::IsBlackAndWhite(*this)) break;
            return jasper::EncodePnm(*this, stream);
        case kFormatJp2:
        case kFormatJpc:
            if (!rgb && !grey) break;
            return jasper::EncodeJpeg2000(*this, stream, code == kFormatJpc);
        case kFormatRas:
            if (!rgb && !grey) break;
            return jasper::EncodeRas(*this, stream);
        default:
            SetLastError("JasPer: format code not handled by this codec");
            return false;
    }
    SetLastError(jasper::kRgbOrGreyOnly);
    return false;
}

}  // namespace sheetmend
