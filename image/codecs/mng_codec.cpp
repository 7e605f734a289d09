// MNG and JNG through libmng. Reading displays the stream until the first
// frame is complete and takes that picture: libmng draws straight into the
// image's rows (as red, green, blue, swapped to our order afterwards) and its
// alpha plane. Writing stores a 24-bit image (with its alpha plane, if any)
// as a single-image MNG.
//
// libmng allocates its own buffers for every image object in the stream, so
// its allocator is bounded: a small allowance for the stream's bookkeeping,
// plus a multiple of the frame size once the header has been accepted by
// Create. An embedded image far larger than the frame runs out of that
// allowance and the decode fails cleanly.
#include "image/codecs/mng_codec.h"

// The shared library is built with its writing and chunk interfaces; the
// header declares them only for users of the shared library.
#define MNG_USE_SO
#include <libmng.h>
#include <zlib.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

#include "image/streams.h"

namespace sheetmend {

namespace {

constexpr uint64_t kBaseAllowance = 64ull << 20;
// Bytes per frame pixel libmng may hold: a 16-bit RGBA object (8 bytes),
// a stored copy and working rows.
constexpr uint64_t kBytesPerPixel = 24;
// Frames shown before the search for a first complete frame gives up; only
// streams that loop without ever waiting get that far.
constexpr uint32_t kMaxRefreshes = 4096;

struct MngSession {
    MngImage* image = nullptr;
    ByteStream* stream = nullptr;
    bool headerDone = false;
    bool failed = false;
    uint32_t refreshes = 0;
    uint32_t tick = 0;
    uint64_t allowance = kBaseAllowance;
    uint64_t allocated = 0;
    // Every block libmng holds; some of its error paths forget blocks, which
    // are freed when the handle is cleaned up.
    std::unordered_map<void*, size_t> live;
    std::string error;
};

// libmng's allocator callbacks carry no user pointer; the session of the
// decode running on this thread is found here.
thread_local MngSession* current = nullptr;

mng_ptr MNG_DECL Alloc(mng_size_t size) {
    if (!current) return MNG_NULL;
    if (size > current->allowance || current->allocated > current->allowance - size)
        return MNG_NULL;
    void* p = std::calloc(1, size);  // libmng expects zeroed memory
    if (!p) return MNG_NULL;
    current->allocated += size;
    current->live[p] = size;
    return p;
}

void MNG_DECL Free(mng_ptr p, mng_size_t) {
    if (!p || !current) return;
    auto it = current->live.find(p);
    if (it == current->live.end()) return;  // not ours: never free a stranger
    current->allocated -= it->second;
    current->live.erase(it);
    std::free(p);
}

MngSession* SessionOf(mng_handle h) {
    return static_cast<MngSession*>(mng_get_userdata(h));
}

mng_bool MNG_DECL OpenStream(mng_handle) {
    return MNG_TRUE;
}
mng_bool MNG_DECL CloseStream(mng_handle) {
    return MNG_TRUE;
}

mng_bool MNG_DECL ReadData(mng_handle h, mng_ptr buf, mng_uint32 len, mng_uint32p read) {
    MngSession* s = SessionOf(h);
    *read = static_cast<mng_uint32>(s->stream->Read(buf, 1, len));
    return MNG_TRUE;
}

mng_bool MNG_DECL WriteData(mng_handle h, mng_ptr buf, mng_uint32 len, mng_uint32p written) {
    MngSession* s = SessionOf(h);
    *written = static_cast<mng_uint32>(s->stream->Write(buf, 1, len));
    return *written == len ? MNG_TRUE : MNG_FALSE;
}

mng_bool MNG_DECL ErrorProc(mng_handle h, mng_int32 code, mng_int8, mng_chunkid, mng_uint32,
                            mng_int32, mng_int32, mng_pchar text) {
    MngSession* s = SessionOf(h);
    if (s->error.empty()) {
        s->error = "MNG: ";
        s->error += text && *text ? text : ("error " + std::to_string(code)).c_str();
    }
    return MNG_FALSE;
}

mng_bool MNG_DECL ProcessHeader(mng_handle h, mng_uint32 width, mng_uint32 height) {
    MngSession* s = SessionOf(h);
    if (s->headerDone) return MNG_TRUE;
    if (!s->image->Create(width, height, 24, kFormatMng) || !s->image->AlphaCreate()) {
        s->error = s->image->GetLastError()[0] ? s->image->GetLastError() : "MNG: no memory";
        s->failed = true;
        return MNG_FALSE;
    }
    s->headerDone = true;
    s->allowance = kBaseAllowance + static_cast<uint64_t>(width) * height * kBytesPerPixel;
    return MNG_TRUE;
}

mng_ptr MNG_DECL GetCanvasLine(mng_handle h, mng_uint32 line) {
    MngSession* s = SessionOf(h);
    MngImage* img = s->image;
    if (!s->headerDone || line >= img->GetHeight()) return MNG_NULL;
    return img->RowPtr(img->GetHeight() - 1 - line);
}

mng_ptr MNG_DECL GetAlphaLine(mng_handle h, mng_uint32 line) {
    MngSession* s = SessionOf(h);
    MngImage* img = s->image;
    if (!s->headerDone || line >= img->GetHeight()) return MNG_NULL;
    return img->GetAlphaPlane() +
           static_cast<size_t>(img->GetHeight() - 1 - line) * img->GetWidth();
}

mng_bool MNG_DECL Refresh(mng_handle h, mng_uint32, mng_uint32, mng_uint32, mng_uint32) {
    MngSession* s = SessionOf(h);
    return ++s->refreshes <= kMaxRefreshes ? MNG_TRUE : MNG_FALSE;
}

mng_uint32 MNG_DECL GetTickCount(mng_handle h) {
    return SessionOf(h)->tick += 10;
}

// The first wait ends the frame we want; libmng then returns from
// mng_readdisplay with MNG_NEEDTIMERWAIT.
mng_bool MNG_DECL SetTimer(mng_handle, mng_uint32) {
    return MNG_TRUE;
}

// Runs libmng with a session bound to this thread and cleans up after it.
class MngHandle {
  public:
    explicit MngHandle(MngSession* session) : session_(session), previous_(current) {
        current = session;
        handle_ = mng_initialize(session, Alloc, Free, MNG_NULL);
    }
    ~MngHandle() {
        if (handle_) mng_cleanup(&handle_);
        for (auto& [p, size] : session_->live) std::free(p);
        session_->live.clear();
        current = previous_;
    }
    MngHandle(const MngHandle&) = delete;
    MngHandle& operator=(const MngHandle&) = delete;
    mng_handle get() const { return handle_; }

  private:
    mng_handle handle_ = MNG_NULL;
    MngSession* session_;
    MngSession* previous_;
};

}  // namespace

bool MngImage::Decode(ByteStream* stream) {
    if (!stream) {
        SetLastError("null file handler");
        return false;
    }
    // A cheap look at the signature spares libmng's set-up on other files.
    const int64_t start = stream->Tell();
    uint8_t sig[8] = {};
    if (stream->Read(sig, 1, 8) != 8 || (std::memcmp(sig, "\x8AMNG\r\n\x1A\n", 8) != 0 &&
                                         std::memcmp(sig, "\x8BJNG\r\n\x1A\n", 8) != 0)) {
        SetLastError("Not an MNG or JNG file");
        return false;
    }
    stream->Seek(start, SEEK_SET);

    MngSession session;
    session.image = this;
    session.stream = stream;
    {
        MngHandle mng(&session);
        mng_handle h = mng.get();
        if (!h) {
            SetLastError("MNG: cannot initialise the library");
            return false;
        }
        mng_set_storechunks(h, MNG_FALSE);
        mng_set_cacheplayback(h, MNG_FALSE);
        mng_set_canvasstyle(h, MNG_CANVAS_RGB8_A8);
        if (mng_setcb_openstream(h, OpenStream) || mng_setcb_closestream(h, CloseStream) ||
            mng_setcb_readdata(h, ReadData) || mng_setcb_errorproc(h, ErrorProc) ||
            mng_setcb_processheader(h, ProcessHeader) ||
            mng_setcb_getcanvasline(h, GetCanvasLine) || mng_setcb_getalphaline(h, GetAlphaLine) ||
            mng_setcb_refresh(h, Refresh) || mng_setcb_gettickcount(h, GetTickCount) ||
            mng_setcb_settimer(h, SetTimer)) {
            SetLastError("MNG: cannot set up the library");
            return false;
        }
        const mng_retcode rc = mng_readdisplay(h);
        const bool shown = session.headerDone && session.refreshes > 0;
        if ((rc != MNG_NOERROR && rc != MNG_NEEDTIMERWAIT &&
             !(shown && session.refreshes > kMaxRefreshes)) ||
            !shown || session.failed) {
            if (session.error.empty())
                session.error = session.headerDone ? "MNG: no complete frame in the file"
                                                   : "MNG: bad or truncated file";
            // Destroy before leaving so no half-drawn picture is handed on.
            Destroy();
            SetLastError(session.error.c_str());
            return false;
        }
        const uint32_t frames = mng_get_framecount(h);
        SetNumFrames(frames > 0 ? static_cast<int32_t>(frames) : 1);
    }

    // libmng drew red, green, blue; our rows are blue, green, red.
    bool opaque = true;
    const uint32_t width = GetWidth(), height = GetHeight();
    for (uint32_t y = 0; y < height; ++y) {
        uint8_t* row = RowPtr(y);
        for (uint32_t x = 0; x < width; ++x) std::swap(row[3 * x], row[3 * x + 2]);
    }
    const uint8_t* alpha = GetAlphaPlane();
    for (size_t i = 0, n = static_cast<size_t>(width) * height; i < n && opaque; ++i)
        opaque = alpha[i] == 255;
    if (opaque) AlphaDelete();
    return true;
}

bool MngImage::Encode(ByteStream* stream) {
    if (!stream) {
        SetLastError("null file handler");
        return false;
    }
    if (!IsValid() || GetBpp() != 24) {
        SetLastError("MNG encoder can save only RGB images");
        return false;
    }
    const uint32_t width = GetWidth(), height = GetHeight();
    const bool withAlpha = HasAlpha();
    const uint32_t channels = withAlpha ? 4 : 3;

    // The image data of a PNG-style IDAT: each row top-down after a filter
    // byte of 0, red-green-blue(-alpha), deflated.
    const size_t rowBytes = 1 + static_cast<size_t>(width) * channels;
    std::vector<uint8_t> raw(rowBytes * height);
    for (uint32_t r = 0; r < height; ++r) {
        const uint8_t* row = RowPtr(height - 1 - r);
        const uint8_t* a =
            withAlpha ? GetAlphaPlane() + static_cast<size_t>(height - 1 - r) * width : nullptr;
        uint8_t* out = raw.data() + r * rowBytes;
        *out++ = 0;
        for (uint32_t x = 0; x < width; ++x) {
            *out++ = row[3 * x + 2];
            *out++ = row[3 * x + 1];
            *out++ = row[3 * x];
            if (a) *out++ = a[x];
        }
    }
    uLongf packedSize = compressBound(static_cast<uLong>(raw.size()));
    std::vector<uint8_t> packed(packedSize);
    if (raw.size() > 0x7FFFFFFF ||
        compress2(packed.data(), &packedSize, raw.data(), static_cast<uLong>(raw.size()), 9) !=
            Z_OK ||
        packedSize > 0x7FFFFFFF) {
        SetLastError("MNG: cannot compress the image");
        return false;
    }

    MngSession session;
    session.image = this;
    session.stream = stream;
    session.allowance = ~0ull;  // writing holds only our own compressed data
    MngHandle mng(&session);
    mng_handle h = mng.get();
    if (!h) {
        SetLastError("MNG: cannot initialise the library");
        return false;
    }
    const mng_uint32 simplicity = MNG_SIMPLICITY_VALID | MNG_SIMPLICITY_SIMPLEFEATURES |
                                  (withAlpha ? MNG_SIMPLICITY_TRANSPARENCY : 0);
    mng_retcode rc = mng_setcb_openstream(h, OpenStream);
    if (!rc) rc = mng_setcb_closestream(h, CloseStream);
    if (!rc) rc = mng_setcb_writedata(h, WriteData);
    if (!rc) rc = mng_setcb_errorproc(h, ErrorProc);
    if (!rc) rc = mng_create(h);
    if (!rc) rc = mng_putchunk_mhdr(h, width, height, 1000, 0, 1, 0, simplicity);
    if (!rc) rc = mng_putchunk_ihdr(h, width, height, 8, withAlpha ? 6 : 2, 0, 0, 0);
    if (!rc) rc = mng_putchunk_idat(h, static_cast<mng_uint32>(packedSize), packed.data());
    if (!rc) rc = mng_putchunk_iend(h);
    if (!rc) rc = mng_putchunk_mend(h);
    if (!rc) rc = mng_write(h);
    if (rc) {
        SetLastError(session.error.empty() ? "MNG: cannot write the file" : session.error.c_str());
        return false;
    }
    return true;
}

}  // namespace sheetmend
