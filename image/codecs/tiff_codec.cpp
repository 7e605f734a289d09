// TiffImage: lifetime, and the glue that lets libtiff read and write a
// ByteStream. libtiff reports problems through callbacks; ours format the text
// into the image's lastError and never print anything. The decoder and the
// encoder live in tiff_decode.cpp and tiff_encode.cpp.
#include <sys/mman.h>
#include <sys/stat.h>
#include <tiffio.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <mutex>

#include "image/codecs/tiff_codec.h"
#include "image/streams.h"

namespace sheetmend {

// The stream libtiff works on. TIFF offsets count from `base`, the stream
// position at which the file starts. `owned` keeps alive a FileStream that
// was made for a FILE* caller while a multi-page file stays open. `mapping`
// is a read-only view of a file that libtiff asked to map.
struct TiffImage::Channel {
    ByteStream* stream = nullptr;
    std::unique_ptr<ByteStream> owned;
    int64_t base = 0;
    void* mapping = nullptr;
    size_t mappingSize = 0;
};

void TiffImage::ChannelDeleter::operator()(Channel* channel) const {
    delete channel;
}

namespace {

using Channel = TiffImage::Channel;

tmsize_t ReadProc(thandle_t handle, void* buffer, tmsize_t size) {
    auto* c = static_cast<Channel*>(handle);
    if (size <= 0) return 0;
    return static_cast<tmsize_t>(c->stream->Read(buffer, 1, static_cast<size_t>(size)));
}

tmsize_t WriteProc(thandle_t handle, void* buffer, tmsize_t size) {
    auto* c = static_cast<Channel*>(handle);
    if (size <= 0) return 0;
    return static_cast<tmsize_t>(c->stream->Write(buffer, 1, static_cast<size_t>(size)));
}

toff_t SeekProc(thandle_t handle, toff_t offset, int whence) {
    auto* c = static_cast<Channel*>(handle);
    const toff_t failed = static_cast<toff_t>(-1);
    bool ok = false;
    switch (whence) {
        case SEEK_SET:
            if (offset > static_cast<toff_t>(INT64_MAX - c->base)) return failed;
            ok = c->stream->Seek(c->base + static_cast<int64_t>(offset), SEEK_SET);
            break;
        case SEEK_CUR:
            ok = c->stream->Seek(static_cast<int64_t>(offset), SEEK_CUR);
            break;
        case SEEK_END:
            ok = c->stream->Seek(static_cast<int64_t>(offset), SEEK_END);
            break;
        default:
            return failed;
    }
    if (!ok) return failed;
    const int64_t at = c->stream->Tell();
    if (at < c->base) return failed;
    return static_cast<toff_t>(at - c->base);
}

int CloseProc(thandle_t) {
    return 0;
}  // the stream belongs to the caller

toff_t SizeProc(thandle_t handle) {
    auto* c = static_cast<Channel*>(handle);
    const int64_t size = c->stream->Size();
    return size > c->base ? static_cast<toff_t>(size - c->base) : 0;
}

// Reading works on a mapped view where one is to be had: the bytes of a
// memory stream, or the file under a file stream. libtiff then reads strips
// in place, and its tiled RGBA reading works only that way in libtiff 4.5.
int MapProc(thandle_t handle, void** base, toff_t* size) {
    auto* c = static_cast<Channel*>(handle);
    if (auto* memory = dynamic_cast<MemoryStream*>(c->stream)) {
        const int64_t total = memory->Size();
        uint8_t* bytes = memory->GetBuffer(false);
        if (!bytes || total <= c->base) return 0;
        *base = bytes + c->base;
        *size = static_cast<toff_t>(total - c->base);
        return 1;
    }
    auto* file = dynamic_cast<FileStream*>(c->stream);
    if (!file || !file->GetFile() || c->mapping) return 0;
    const int fd = fileno(file->GetFile());
    struct stat info;
    if (fd < 0 || fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size <= c->base)
        return 0;
    void* view = mmap(nullptr, static_cast<size_t>(info.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
    if (view == MAP_FAILED) return 0;
    c->mapping = view;
    c->mappingSize = static_cast<size_t>(info.st_size);
    *base = static_cast<uint8_t*>(view) + c->base;
    *size = static_cast<toff_t>(info.st_size - c->base);
    return 1;
}

void UnmapProc(thandle_t handle, void*, toff_t) {
    auto* c = static_cast<Channel*>(handle);
    if (c->mapping) munmap(c->mapping, c->mappingSize);
    c->mapping = nullptr;
    c->mappingSize = 0;
}

int CaptureError(TIFF*, void* user, const char*, const char* fmt, va_list ap) {
    char text[256];
    std::vsnprintf(text, sizeof text, fmt, ap);
    static_cast<RasterImage*>(user)->SetLastError(text);
    return 1;  // handled: the process-wide handler is not called
}

int DropWarning(TIFF*, void*, const char*, const char*, va_list) {
    return 1;
}

// Messages libtiff issues without a handle would go to stderr by default.
void SilenceProcessWideHandlers() {
    static std::once_flag once;
    std::call_once(once, [] {
        TIFFSetErrorHandler(nullptr);
        TIFFSetWarningHandler(nullptr);
    });
}

}  // namespace

TiffImage::TiffImage() : RasterImage(kFormatTiff) {}

TiffImage::TiffImage(const TiffImage& other)
    : RasterImage(other),
      multipage_(other.multipage_),
      pageCounter_(other.pageCounter_),
      outputPageCount_(other.outputPageCount_) {}

TiffImage& TiffImage::operator=(const TiffImage& other) {
    if (this == &other) return *this;
    CloseHandle();
    RasterImage::operator=(other);
    multipage_ = other.multipage_;
    pageCounter_ = other.pageCounter_;
    outputPageCount_ = other.outputPageCount_;
    return *this;
}

TiffImage::~TiffImage() {
    CloseHandle();
}

void TiffImage::CloseHandle() {
    if (handle_) TIFFClose(handle_);
    handle_ = nullptr;
    channel_.reset();
}

bool TiffImage::Fail(const char* text) {
    SetLastError(text);
    return false;
}

tiff* TiffImage::OpenHandle(Channel* channel, const char* mode) {
    SilenceProcessWideHandlers();
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    if (!options) return nullptr;
    // No single allocation of libtiff may exceed what an image may hold.
    TIFFOpenOptionsSetMaxSingleMemAlloc(options, static_cast<tmsize_t>(kRasterMaxMemory));
    TIFFOpenOptionsSetErrorHandlerExtR(options, CaptureError, static_cast<RasterImage*>(this));
    TIFFOpenOptionsSetWarningHandlerExtR(options, DropWarning, nullptr);
    TIFF* tif =
        TIFFClientOpenExt("TIFF", mode, static_cast<thandle_t>(channel), ReadProc, WriteProc,
                          SeekProc, CloseProc, SizeProc, MapProc, UnmapProc, options);
    TIFFOpenOptionsFree(options);
    return tif;
}

bool TiffImage::Decode(ByteStream* stream) {
    if (!stream) return Fail("null file handler");
    Channel channel;
    channel.stream = stream;
    channel.base = stream->Tell();
    if (channel.base < 0) channel.base = 0;
    TIFF* tif = OpenHandle(&channel, "r");
    if (!tif) {
        UnmapProc(&channel, nullptr, 0);
        return Fail("Error encountered while opening TIFF file");
    }
    const bool ok = DecodePage(tif);
    TIFFClose(tif);
    UnmapProc(&channel, nullptr, 0);
    return ok;
}

bool TiffImage::Decode(FILE* file) {
    if (!file) return Fail("null file handler");
    FileStream stream(file);
    return Decode(&stream);
}

bool TiffImage::Encode(ByteStream* stream, bool append) {
    return EncodeOn(stream, nullptr, append);
}

bool TiffImage::Encode(FILE* file, bool append) {
    if (!file) return Fail("null file handler");
    // A file still open for pages keeps writing through the stream it began on.
    if (handle_ && channel_ && channel_->owned) {
        auto* open = static_cast<FileStream*>(channel_->owned.get());
        if (open->GetFile() == file) return EncodeOn(open, nullptr, append);
    }
    auto stream = std::make_unique<FileStream>(file);
    ByteStream* raw = stream.get();
    return EncodeOn(raw, std::move(stream), append);
}

bool TiffImage::Encode(FILE* file, RasterImage* const* images, int32_t count) {
    if (!file) return Fail("invalid file pointer");
    FileStream stream(file);
    return Encode(&stream, images, count);
}

bool TiffImage::EncodeOn(ByteStream* stream, std::unique_ptr<ByteStream> owned, bool append) {
    if (!stream) return Fail("null file handler");
    if (!IsValid()) return Fail("null image!!!");
    if (!handle_) {
        channel_.reset(new Channel);
        channel_->stream = stream;
        channel_->owned = std::move(owned);
        channel_->base = stream->Tell();
        if (channel_->base < 0) channel_->base = 0;
        // An empty stream gets a new file; otherwise pages are appended to
        // the TIFF file already there.
        const char* mode = stream->Size() > channel_->base ? "a" : "w";
        handle_ = OpenHandle(channel_.get(), mode);
        if (!handle_) {
            channel_.reset();
            return Fail("initialization fail");
        }
    }
    multipage_ = append || pageCounter_ > 0;
    ++pageCounter_;
    const int32_t total = outputPageCount_ > 0 ? outputPageCount_ : pageCounter_;
    if (!EncodePage(handle_, pageCounter_, total)) return AbortWriting("Error saving TIFF file");
    if (append) {
        if (!TIFFWriteDirectory(handle_)) return AbortWriting("Error saving TIFF directory");
        return true;
    }
    // TIFFClose cannot report a failure, so the last directory and the data
    // are flushed first.
    if (!TIFFFlush(handle_)) return AbortWriting("Error saving TIFF file");
    CloseHandle();
    multipage_ = false;
    pageCounter_ = 0;
    return true;
}

bool TiffImage::FinishPages() {
    if (!handle_) return Fail("no TIFF file open for pages");
    const bool flushed = TIFFFlush(handle_) != 0;
    CloseHandle();
    multipage_ = false;
    pageCounter_ = 0;
    return flushed ? true : Fail("Error saving TIFF file");
}

bool TiffImage::AbortWriting(const char* text) {
    CloseHandle();
    multipage_ = false;
    pageCounter_ = 0;
    return Fail(text);
}

bool TiffImage::Encode(ByteStream* stream, RasterImage* const* images, int32_t count) {
    if (!stream) return Fail("invalid file pointer");
    if (!images || count <= 0) return Fail("multipage TIFF, no images!");
    // Every page is checked before the first is written, so a bad entry never
    // leaves a partial file behind.
    for (int32_t i = 0; i < count; ++i) {
        if (!images[i]) return Fail("Bad image pointer");
        if (!images[i]->IsValid()) return Fail("Empty image");
    }
    TiffImage writer;
    writer.SetOutputPageCount(outputPageCount_ > 0 ? outputPageCount_ : count);
    for (int32_t i = 0; i < count; ++i) {
        writer.Ghost(images[i]);
        if (!writer.Encode(stream, true)) {
            SetLastError(writer.GetLastError());
            return Fail("Error saving TIFF file");
        }
    }
    // Closing the writer finishes the file; flush first to learn of failures.
    if (!TIFFFlush(writer.handle_)) return Fail("Error saving TIFF file");
    writer.CloseHandle();
    return true;
}

}  // namespace sheetmend
