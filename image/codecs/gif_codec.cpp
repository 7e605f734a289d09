// GIF files.
//
// Reading walks the whole block chain once: it decodes the frame `frame`
// selects onto an image the size of the logical screen (grown when a frame
// reaches beyond it), counts every frame for numFrames, and with
// getAllFrames keeps each frame as an owned frame image. The image depth
// follows the colour table (2 entries: 1 bit, up to 16: 4 bits, else 8
// bits); an index beyond the table reads as entry 0. The transparent index
// of the frame's graphic control becomes `backgroundIndex`, and pixels the
// frame does not cover show it (or, without one, the screen's background).
// Every LZW code is checked, and data that ends before the frame is complete
// is an error; after the chosen frame, a file that just stops is accepted.
//
// Writing takes palette images; an image that owns frame images is written
// as a looping animation of those frames.
#include "image/codecs/gif_codec.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "image/codecs/buffered_reader.h"
#include "image/codecs/gif_lzw.h"
#include "image/pixel_access.h"
#include "image/streams.h"

namespace sheetmend {

namespace {

struct GraphicControl {
    int transparent = -1;
    uint16_t delay = 0;
    uint8_t disposal = 0;
};

struct FrameHeader {
    uint32_t left = 0, top = 0, width = 0, height = 0;
    bool interlaced = false;
    int minCodeSize = 0;
    const RgbQuad* table = nullptr;  // the local or global colour table, if any
    int tableSize = 256;
    RgbQuad local[256];
};

uint16_t Le16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

// Data sub-blocks of one image as a byte sequence.
class SubBlockReader {
  public:
    explicit SubBlockReader(BufferedReader& in) : in_(in) {}
    int Next() {
        while (left_ == 0) {
            if (done_) return -1;
            const int size = in_.Byte();
            if (size <= 0) {
                done_ = true;
                truncated_ = size < 0;
                return -1;
            }
            left_ = size;
        }
        --left_;
        const int b = in_.Byte();
        if (b < 0) {
            done_ = true;
            truncated_ = true;
        }
        return b;
    }
    // Skips what is left of the image data; false when the file ends first.
    bool SkipRest() {
        if (!done_ && left_ > 0 && !in_.Skip(static_cast<uint64_t>(left_)))
            truncated_ = done_ = true;
        left_ = 0;
        while (!done_) {
            const int size = in_.Byte();
            if (size <= 0) {
                done_ = true;
                truncated_ = size < 0;
            } else if (!in_.Skip(static_cast<uint64_t>(size))) {
                done_ = truncated_ = true;
            }
        }
        return !truncated_;
    }

  private:
    BufferedReader& in_;
    int left_ = 0;
    bool done_ = false;
    bool truncated_ = false;
};

bool SkipSubBlocks(BufferedReader& in) {
    SubBlockReader blocks(in);
    return blocks.SkipRest();
}

bool ReadColourTable(BufferedReader& in, int entries, RgbQuad* table) {
    uint8_t rgb[768];
    if (!in.Read(rgb, static_cast<size_t>(entries) * 3)) return false;
    for (int i = 0; i < entries; ++i)
        table[i] = RgbQuad{rgb[3 * i + 2], rgb[3 * i + 1], rgb[3 * i], 0};
    return true;
}

// The image row (counted from the top of the frame) of each data row.
class RowOrder {
  public:
    RowOrder(uint32_t height, bool interlaced) : height_(height), interlaced_(interlaced) {}
    uint32_t Next() {
        const uint32_t y = y_;
        if (!interlaced_) {
            ++y_;
            return y;
        }
        static const uint32_t kStart[4] = {0, 4, 2, 1};
        static const uint32_t kStep[4] = {8, 8, 4, 2};
        y_ += kStep[pass_];
        while (y_ >= height_ && pass_ < 3) {
            ++pass_;
            y_ = kStart[pass_];
        }
        return y;
    }

  private:
    uint32_t height_;
    bool interlaced_;
    uint32_t y_ = 0;
    int pass_ = 0;
};

// Pixels of a palette image, top row first.
class ImagePixels : public GifPixelSource {
  public:
    explicit ImagePixels(const RasterImage& image)
        : img_(image), width_(image.GetWidth()), height_(image.GetHeight()), bpp_(image.GetBpp()) {
        if (height_) row_ = img_.RowPtr(height_ - 1);
    }
    int Next() override {
        if (y_ >= height_) return -1;
        const int v = px::GetIndex(row_, x_, bpp_);
        if (++x_ == width_) {
            x_ = 0;
            if (++y_ < height_) row_ = img_.RowPtr(height_ - 1 - y_);
        }
        return v;
    }

  private:
    const RasterImage& img_;
    uint32_t width_, height_, bpp_;
    uint32_t x_ = 0, y_ = 0;
    const uint8_t* row_ = nullptr;
};

}  // namespace

// ---------------------------------------------------------------------------
// reading

namespace {

class GifReader {
  public:
    GifReader(GifImage& image, ByteStream* stream) : img_(image), in_(stream) {}
    bool Run();

  private:
    bool Fail(const char* text) {
        char message[256];
        std::snprintf(message, sizeof message, "GIF: %s", text);
        img_.SetLastError(message);
        return false;
    }
    bool ReadExtension(GraphicControl& control);
    bool ReadFrameHeader(FrameHeader& frame);
    bool DecodeFrame(GifImage& target, const FrameHeader& frame, const GraphicControl& control);

    GifImage& img_;
    BufferedReader in_;
    uint32_t screenWidth_ = 0, screenHeight_ = 0;
    int screenBackground_ = 0;
    RgbQuad global_[256];
    int globalSize_ = 0;
    size_t keptBytes_ = 0;  // pixel memory of the frames kept so far
};

bool GifReader::DecodeFrame(GifImage& target, const FrameHeader& frame,
                            const GraphicControl& control) {
    const RgbQuad* table = frame.table;
    const int tableSize = frame.tableSize;
    if (frame.width == 0 || frame.height == 0) return Fail("empty frame");
    // Code sizes above 8 cannot address more colours, but some writers use
    // them; they work as long as the first codes fit in 12 bits.
    if (frame.minCodeSize < 1 || frame.minCodeSize > 11) return Fail("bad LZW code size");
    // Each code takes at least minCodeSize + 1 bits and stands for at most
    // 4096 pixels: a frame larger than the rest of the file could describe is
    // refused before memory is taken for it.
    const int64_t left = in_.Remaining();
    if (left >= 0) {
        const uint64_t codes =
            static_cast<uint64_t>(left) * 8 / static_cast<uint64_t>(frame.minCodeSize + 1);
        if (static_cast<uint64_t>(frame.width) * frame.height > codes * 4096)
            return Fail("image data too short for the frame size");
    }
    const uint32_t width = std::max(screenWidth_, frame.left + frame.width);
    const uint32_t height = std::max(screenHeight_, frame.top + frame.height);
    const uint32_t bpp = tableSize <= 2 ? 1 : (tableSize <= 16 ? 4 : 8);
    if (!target.Create(width, height, bpp, kFormatGif)) {
        if (&target != &img_) img_.SetLastError(target.GetLastError());
        return false;
    }
    if (table)
        target.SetPalette(table, static_cast<uint32_t>(tableSize));
    else
        target.SetGrayPalette();
    const bool transparent = control.transparent >= 0 && control.transparent < tableSize;
    target.SetBackgroundIndex(transparent ? control.transparent : -1);
    target.SetFrameDelay(control.delay);
    target.SetDisposalMethod(control.disposal);
    const int fill =
        transparent ? control.transparent : (screenBackground_ < tableSize ? screenBackground_ : 0);
    const bool covers =
        frame.left == 0 && frame.top == 0 && frame.width == width && frame.height == height;
    if (!covers && fill != 0) target.Clear(static_cast<uint8_t>(fill));

    SubBlockReader blocks(in_);
    GifLzwDecoder decoder(frame.minCodeSize, [&blocks]() { return blocks.Next(); });
    std::vector<uint8_t> row(frame.width);
    RowOrder order(frame.height, frame.interlaced);
    for (uint32_t r = 0; r < frame.height; ++r) {
        if (decoder.Decode(row.data(), row.size()) != row.size()) {
            return Fail(decoder.state() == GifLzwDecoder::State::kBadCode
                            ? "corrupt image data"
                            : "image data ends too early");
        }
        const uint32_t y = order.Next();
        uint8_t* out = target.RowPtr(height - 1 - (frame.top + y));
        for (uint32_t x = 0; x < frame.width; ++x) {
            uint8_t v = row[x];
            if (v >= tableSize) v = 0;
            px::SetIndex(out, frame.left + x, bpp, v);
        }
    }
    // The pixels are complete; a missing end of the data loses nothing.
    blocks.SkipRest();
    return true;
}

// Reads an extension block after its 0x21; the graphic control extension
// sets the transparency and timing of the next frame. False when the file
// ends inside it.
bool GifReader::ReadExtension(GraphicControl& control) {
    const int label = in_.Byte();
    if (label < 0) return false;
    if (label != 0xF9) return SkipSubBlocks(in_);
    const int size = in_.Byte();
    if (size < 0) return false;
    if (size == 0) return true;  // the terminator: an empty extension
    uint8_t gce[4];
    if (size >= 4) {
        if (!in_.Read(gce, 4)) return false;
        control.transparent = (gce[0] & 1) ? gce[3] : -1;
        control.delay = Le16(gce + 1);
        control.disposal = static_cast<uint8_t>((gce[0] >> 2) & 7);
    }
    const int rest = size >= 4 ? size - 4 : size;
    return in_.Skip(static_cast<uint64_t>(rest)) && SkipSubBlocks(in_);
}

// Reads an image descriptor after its 0x2C, with its local colour table and
// LZW code size. False when the file ends inside it.
bool GifReader::ReadFrameHeader(FrameHeader& frame) {
    uint8_t desc[9];
    if (!in_.Read(desc, sizeof desc)) return false;
    frame.left = Le16(desc);
    frame.top = Le16(desc + 2);
    frame.width = Le16(desc + 4);
    frame.height = Le16(desc + 6);
    frame.interlaced = (desc[8] & 0x40) != 0;
    frame.table = globalSize_ ? global_ : nullptr;
    frame.tableSize = globalSize_ ? globalSize_ : 256;
    if (desc[8] & 0x80) {
        frame.tableSize = 2 << (desc[8] & 7);
        if (!ReadColourTable(in_, frame.tableSize, frame.local)) return false;
        frame.table = frame.local;
    }
    frame.minCodeSize = in_.Byte();
    return frame.minCodeSize >= 0;
}

bool GifReader::Run() {
    uint8_t head[13];
    if (!in_.Read(head, sizeof head) || std::memcmp(head, "GIF8", 4) != 0 ||
        (head[4] != '7' && head[4] != '9') || head[5] != 'a')
        return Fail("not a GIF file");
    screenWidth_ = Le16(head + 6);
    screenHeight_ = Le16(head + 8);
    screenBackground_ = head[11];
    if (head[10] & 0x80) {
        globalSize_ = 2 << (head[10] & 7);
        if (!ReadColourTable(in_, globalSize_, global_)) return Fail("file is truncated");
    }

    const int32_t wanted = img_.GetFrame();
    const bool keepAll = img_.GetInfo().getAllFrames;
    bool found = false;
    bool truncated = false;  // the file stops before its trailer
    int32_t index = 0;
    GraphicControl control;
    for (;;) {
        const int block = in_.Byte();
        if (block == 0x3B) break;
        if (block == 0x21) {
            if (!ReadExtension(control)) {
                truncated = true;
                break;
            }
            continue;
        }
        if (block != 0x2C) {
            truncated = block < 0;
            // Not a block of this format: what follows cannot be trusted.
            if (found || truncated) break;
            return Fail("unknown block in the file");
        }
        FrameHeader frame;
        if (!ReadFrameHeader(frame)) {
            truncated = true;
            break;
        }
        const bool chosen = index == wanted;
        if (chosen || keepAll) {
            std::unique_ptr<GifImage> kept;
            GifImage* target = &img_;
            if (!chosen) {
                kept = std::make_unique<GifImage>();
                target = kept.get();
            }
            if (!DecodeFrame(*target, frame, control)) {
                img_.SetNumFrames(index + 1);
                return false;
            }
            if (keepAll) {
                keptBytes_ += target->GetDibSize();
                if (keptBytes_ > kRasterMaxMemory) return Fail("too many frames to keep");
                if (chosen) {
                    kept = std::make_unique<GifImage>();
                    kept->Copy(img_);
                }
                img_.AppendFrame(kept.release());
            }
            found = found || chosen;
        } else if (!SkipSubBlocks(in_)) {
            truncated = true;
            break;
        }
        ++index;
        control = GraphicControl{};
    }
    img_.SetNumFrames(index);
    if (!found)
        return Fail(truncated ? "file is truncated" : "the frame asked for is not in the file");
    return true;
}

}  // namespace

bool GifImage::Decode(ByteStream* stream) {
    if (!BeginDecode(stream)) return false;
    GifReader reader(*this, stream);
    return reader.Run();
}

// ---------------------------------------------------------------------------
// writing

namespace {

void PutLe16(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

// Bits of a colour table that holds the image's palette.
int TableBits(const RasterImage& image) {
    return image.GetBpp() == 1 ? 1 : (image.GetBpp() == 4 ? 4 : 8);
}

bool WriteTable(ByteStream* out, const RasterImage& image) {
    const int entries = 1 << TableBits(image);
    uint8_t rgb[768];
    for (int i = 0; i < entries; ++i) {
        const RgbQuad c = image.GetPaletteColor(static_cast<uint8_t>(i));
        rgb[3 * i] = c.red;
        rgb[3 * i + 1] = c.green;
        rgb[3 * i + 2] = c.blue;
    }
    const size_t bytes = static_cast<size_t>(entries) * 3;
    return out->Write(rgb, 1, bytes) == bytes;
}

bool SamePalette(const RasterImage& a, const RasterImage& b) {
    if (a.GetBpp() != b.GetBpp()) return false;
    return std::memcmp(a.GetPalette(), b.GetPalette(), a.GetPaletteSize()) == 0;
}

bool WriteFrame(ByteStream* out, const RasterImage& frame, const RasterImage& screen,
                GifCoder coder, bool animated) {
    const int32_t transparent = frame.GetBackgroundIndex();
    const bool hasTransparent =
        transparent >= 0 && static_cast<uint32_t>(transparent) < frame.GetNumColors();
    if (hasTransparent || animated) {
        uint8_t gce[8] = {0x21, 0xF9, 4, 0, 0, 0, 0, 0};
        gce[3] = static_cast<uint8_t>(((frame.GetInfo().disposalMethod & 7) << 2) |
                                      (hasTransparent ? 1 : 0));
        PutLe16(gce + 4, std::min<uint32_t>(frame.GetInfo().frameDelay, 0xFFFF));
        gce[6] = static_cast<uint8_t>(hasTransparent ? transparent : 0);
        if (out->Write(gce, 1, sizeof gce) != sizeof gce) return false;
    }
    const bool local = !SamePalette(frame, screen);
    uint8_t desc[10] = {0x2C};
    PutLe16(desc + 1, static_cast<uint32_t>(std::max(0, frame.GetXOffset())));
    PutLe16(desc + 3, static_cast<uint32_t>(std::max(0, frame.GetYOffset())));
    PutLe16(desc + 5, frame.GetWidth());
    PutLe16(desc + 7, frame.GetHeight());
    desc[9] = local ? static_cast<uint8_t>(0x80 | (TableBits(frame) - 1)) : 0;
    if (out->Write(desc, 1, sizeof desc) != sizeof desc) return false;
    if (local && !WriteTable(out, frame)) return false;
    const uint8_t minCodeSize = static_cast<uint8_t>(std::max(2, TableBits(frame)));
    if (out->Write(&minCodeSize, 1, 1) != 1) return false;
    GifSubBlockWriter blocks(out);
    ImagePixels pixels(frame);
    GifLzwEncode(minCodeSize, coder, pixels, blocks);
    return blocks.Finish();
}

}  // namespace

bool GifImage::Encode(ByteStream* stream) {
    if (!BeginEncode(stream)) return false;
    std::vector<const RasterImage*> frames;
    for (int32_t i = 0; i < GetFrameCount(); ++i) {
        const RasterImage* f = GetFrameImage(i);
        if (!f || !f->IsValid()) continue;
        if (f->GetBpp() > 8) {
            SetLastError(
                "GifImage::Encode cannot create animated GIFs with a true color frame. Use "
                "DecreaseBpp before");
            return false;
        }
        frames.push_back(f);
    }
    const bool animated = !frames.empty();
    if (!animated) {
        if (GetBpp() > 8) {
            SetLastError(
                "GIF can save only palette images (1, 4 or 8 bits). Use DecreaseBpp before");
            return false;
        }
        frames.push_back(this);
    }
    uint32_t width = 0, height = 0;
    for (const RasterImage* f : frames) {
        width = std::max<uint32_t>(
            width, static_cast<uint32_t>(std::max(0, f->GetXOffset())) + f->GetWidth());
        height = std::max<uint32_t>(
            height, static_cast<uint32_t>(std::max(0, f->GetYOffset())) + f->GetHeight());
    }
    if (width > 0xFFFF || height > 0xFFFF) {
        SetLastError("GIF: image too large (at most 65535 x 65535 pixels)");
        return false;
    }

    const uint32_t option = GetCodecOption(kFormatGif);
    const GifCoder coder = option == 1   ? GifCoder::kUncompressed
                           : option == 2 ? GifCoder::kRunLength
                                         : GifCoder::kLzw;
    const RasterImage& screen = *frames.front();
    const int bits = TableBits(screen);
    uint8_t head[13] = {'G', 'I', 'F', '8', '9', 'a'};
    PutLe16(head + 6, width);
    PutLe16(head + 8, height);
    head[10] = static_cast<uint8_t>(0x80 | ((bits - 1) << 4) | (bits - 1));
    bool ok = stream->Write(head, 1, sizeof head) == sizeof head && WriteTable(stream, screen);
    if (ok && animated) {
        // Loop for ever.
        static const uint8_t kLoop[19] = {0x21, 0xFF, 11,  'N', 'E', 'T', 'S', 'C', 'A', 'P',
                                          'E',  '2',  '.', '0', 3,   1,   0,   0,   0};
        ok = stream->Write(kLoop, 1, sizeof kLoop) == sizeof kLoop;
    }
    for (const RasterImage* f : frames) {
        if (!ok) break;
        ok = WriteFrame(stream, *f, screen, coder, animated);
    }
    const uint8_t trailer = 0x3B;
    if (!ok || stream->Write(&trailer, 1, 1) != 1) {
        SetLastError("Error saving GIF file");
        return false;
    }
    return true;
}

}  // namespace sheetmend
