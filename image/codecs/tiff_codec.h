// TIFF files through libtiff, read and written over our ByteStream.
//
// Decoding reads one page (the image's `frame`, normally 0) into a 1-, 4-, 8-
// or 24-bit image: bilevel and palette/grey files keep their indices, colour
// models libtiff understands (RGB, CMYK, YCbCr, LogLuv) go through its RGBA
// reader, CIE L*a*b* is converted here. The file's orientation is applied so
// the picture appears upright.
//
// Encoding writes the image as one page in a single strip. Several pages go
// into one file either by calling Encode(stream, true) once per page (the
// libtiff handle stays open between calls and is closed by a call without
// `append`, or by the destructor; the stream must outlive it), or through
// Encode(stream, images, count). A stream that takes more than one page must
// be readable too (a file opened "w+b"): libtiff reads the previous page's
// directory back to link the next one.
//
// libtiff's messages never reach the terminal: they are captured into
// lastError, and every failure ends with one of this codec's own texts.
#pragma once

#include <cstdio>
#include <memory>

#include "image/raster_image.h"

struct tiff;  // libtiff's TIFF handle

namespace sheetmend {

class ByteStream;

class TiffImage : public RasterImage {
  public:
    TiffImage();
    // Copies the image and the multi-page bookkeeping. A libtiff handle that
    // is open for writing belongs to the object that opened it and is never
    // shared: the copy starts without one.
    TiffImage(const TiffImage& other);
    // Finishes this object's own open multi-page file first, then copies.
    TiffImage& operator=(const TiffImage& other);
    // Closes a handle still open for writing, which finishes that file.
    ~TiffImage() override;

    // Reads the page `frame` of the stream; numFrames receives the page count.
    // With escape == -1 only the dimensions are read (the result is true and
    // lastError says "output dimensions returned").
    bool Decode(ByteStream* stream);
    bool Decode(FILE* file);

    // Writes this image as the next page. Without `append` the file is
    // finished by this call; with it the page's directory is written and the
    // file stays open for further pages.
    bool Encode(ByteStream* stream, bool append = false);
    bool Encode(FILE* file, bool append = false);
    // Writes `count` images as the pages of one file.
    bool Encode(ByteStream* stream, RasterImage* const* images, int32_t count);
    bool Encode(FILE* file, RasterImage* const* images, int32_t count);

    // The page total recorded in each page's PageNumber tag (0: the number of
    // pages written so far).
    void SetOutputPageCount(int32_t n) { outputPageCount_ = n; }
    int32_t GetOutputPageCount() const { return outputPageCount_; }
    // Finishes a multi-page file left open by Encode(..., true): flushes the
    // last directory and closes the handle. False when nothing was open or
    // the flush failed.
    bool FinishPages();
    // True while a multi-page file is open for writing.
    bool IsWritingPages() const { return handle_ != nullptr; }

    // The glue between libtiff and a ByteStream (defined in tiff_codec.cpp).
    struct Channel;
    struct ChannelDeleter {
        void operator()(Channel* channel) const;
    };
    using ChannelPtr = std::unique_ptr<Channel, ChannelDeleter>;

  private:
    // Opens libtiff on the channel with this image's silent message handlers.
    tiff* OpenHandle(Channel* channel, const char* mode);
    bool Fail(const char* text);

    // Decoding (tiff_decode.cpp).
    bool DecodePage(tiff* tif);
    bool ReadRgba(tiff* tif, bool tiled);
    // How the samples of a page not read through the RGBA reader become pixels.
    struct SampleLayout;
    bool ReadSamples(tiff* tif, bool tiled, const SampleLayout& layout);
    bool ApplyOrientation(uint16_t orientation);

    // Encoding (tiff_encode.cpp).
    bool EncodeOn(ByteStream* stream, std::unique_ptr<ByteStream> owned, bool append);
    bool EncodePage(tiff* tif, int32_t page, int32_t total);
    // Makes palette entry 0 of a 1-bit image the lighter one (see EncodePage).
    void PutLightEntryFirst();
    bool AbortWriting(const char* text);
    void CloseHandle();

    tiff* handle_ = nullptr;
    bool multipage_ = false;
    int32_t pageCounter_ = 0;
    int32_t outputPageCount_ = 0;
    ChannelPtr channel_;
};

}  // namespace sheetmend
