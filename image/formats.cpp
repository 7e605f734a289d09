// Choosing a format and running its codec: extension mapping, content
// sniffing, Load/Save and the Decode/Encode dispatch with automatic detection.
#include "image/formats.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "image/codecs/bmp_codec.h"
#include "image/codecs/gif_codec.h"
#include "image/codecs/ico_codec.h"
#include "image/codecs/jasper_codec.h"
#include "image/codecs/jpeg_codec.h"
#include "image/codecs/mng_codec.h"
#include "image/codecs/pcx_codec.h"
#include "image/codecs/pdf_codec.h"
#include "image/codecs/png_codec.h"
#include "image/codecs/raw_codec.h"
#include "image/codecs/tga_codec.h"
#include "image/codecs/tiff_codec.h"
#include "image/codecs/wbmp_codec.h"
#include "image/raster_image.h"
#include "image/safe_file.h"
#include "image/streams.h"
#include "platform/output_claims.h"
#include "platform/paths.h"

namespace sheetmend {

namespace {

std::string Lower(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

const char* const kUnknownFormat = "Decode: Unknown or wrong format";

}  // namespace

uint32_t ImageTypeFromExtension(std::string_view fileName) {
    std::string ext = SplitPath(fileName).ext;
    if (ext.empty()) return kFormatUnknown;
    ext = Lower(ext.substr(1));
    struct Entry {
        const char* ext;
        uint32_t code;
    };
    static const Entry kTable[] = {
        {"bmp", kFormatBmp}, {"gif", kFormatGif}, {"jpg", kFormatJpeg}, {"jpeg", kFormatJpeg},
        {"png", kFormatPng}, {"ico", kFormatIco}, {"tif", kFormatTiff}, {"tiff", kFormatTiff},
        {"tga", kFormatTga}, {"pcx", kFormatPcx}, {"wbmp", kFormatWbmp}, {"wmf", kFormatWmf},
        {"emf", kFormatWmf}, {"jp2", kFormatJp2}, {"j2k", kFormatJp2}, {"jpc", kFormatJpc},
        {"j2c", kFormatJpc}, {"pgx", kFormatPgx}, {"pnm", kFormatPnm}, {"pgm", kFormatPnm},
        {"ppm", kFormatPnm}, {"ras", kFormatRas}, {"mng", kFormatMng}, {"jng", kFormatMng},
        {"pdf", kFormatPdf},
    };
    for (const Entry& e : kTable)
        if (ext == e.ext) return e.code;
    return kFormatUnknown;
}

uint32_t ImageTypeFromContent(const char* fileName) {
    if (!fileName) return kFormatUnknown;
    // Only regular files: opening a pipe could block forever.
    struct stat st;
    if (stat(fileName, &st) != 0 || !S_ISREG(st.st_mode)) return kFormatUnknown;
    FILE* f = std::fopen(fileName, "rb");
    if (!f) return kFormatUnknown;
    unsigned char head[10];
    const size_t n = std::fread(head, 1, sizeof head, f);
    std::fclose(f);
    if (n < sizeof head) return kFormatUnknown;
    if ((head[0] == 'I' && head[1] == 'I') || (head[0] == 'M' && head[1] == 'M')) return kFormatTiff;
    if (head[0] == 0x89 && head[1] == 'P' && head[2] == 'N' && head[3] == 'G') return kFormatPng;
    if (head[0] == 0xFF && head[1] == 0xD8) return kFormatJpeg;
    return kFormatUnknown;
}

bool IsSupportedImageExtension(std::string_view extension) {
    if (extension.empty()) return false;
    static const char* const kAccepted[] = {".tif", ".tiff", ".jpg", ".jpeg", ".png",
                                            ".bmp", ".tga",  ".pcx", ".gif",  ".mng",
                                            ".pnm", ".pbm",  ".pgm", ".ppm", ".pdf"};
    const std::string ext = Lower(extension);
    for (const char* a : kAccepted)
        if (ext == a) return true;
    return false;
}

bool HasSupportedImageExtension(std::string_view fileName) {
    if (fileName.empty()) return false;
    return IsSupportedImageExtension(SplitPath(fileName).ext);
}

bool IsSupportedOutputExtension(std::string_view extension) {
    return IsSupportedImageExtension(extension) || Lower(extension) == ".pdf";
}

bool HasSupportedOutputExtension(std::string_view fileName) {
    if (fileName.empty()) return false;
    return IsSupportedOutputExtension(SplitPath(fileName).ext);
}

int32_t PrepareForOutputFormat(RasterImage& image, uint32_t code) {
    switch (code) {
        case kFormatTiff:
            image.SetCodecOption(image.GetBpp() == 1 ? 4u : 32773u, kFormatTiff);
            break;
        case kFormatJpeg:
            image.SetCodecOption(image.GetCodecOption(kFormatUnknown) & ~0x4u, kFormatJpeg);
            if (image.GetBpp() < 24) image.IncreaseBpp(24);
            break;
        case kFormatGif:
            if (image.GetBpp() == 4)
                image.DecreaseBpp(1, true, nullptr, 0);
            else if (image.GetBpp() == 16 || image.GetBpp() == 24 || image.GetBpp() == 32)
                image.DecreaseBpp(8, true, nullptr, 0);
            image.SetCodecOption(2, kFormatGif);
            break;
        default: break;
    }
    return 1;
}

// ---------------------------------------------------------------------------
// Decode

namespace {

// Runs one codec on the stream with the caller's settings; on success its
// image replaces the caller's, on failure its message (and, for formats that
// hold pages, its page count) is handed back.
template <class Codec, class... Code>
bool RunDecoder(RasterImage& self, ByteStream* stream, bool multiPage, Code... code) {
    Codec codec;
    codec.TakeBookkeeping(self);
    if (codec.Decode(stream, code...)) {
        self.Transfer(codec, true);
        return true;
    }
    self.SetLastError(codec.GetLastError());
    if (multiPage) self.SetNumFrames(codec.GetNumFrames());
    return false;
}

bool DecodeAs(RasterImage& self, ByteStream* stream, uint32_t code) {
    switch (code) {
        case kFormatBmp: return RunDecoder<BmpImage>(self, stream, false);
        case kFormatGif: return RunDecoder<GifImage>(self, stream, true);
        case kFormatJpeg: return RunDecoder<JpegImage>(self, stream, false);
        case kFormatPng: return RunDecoder<PngImage>(self, stream, false);
        case kFormatIco: return RunDecoder<IcoImage>(self, stream, true);
        case kFormatTiff: return RunDecoder<TiffImage>(self, stream, true);
        case kFormatTga: return RunDecoder<TgaImage>(self, stream, false);
        case kFormatPcx: return RunDecoder<PcxImage>(self, stream, false);
        case kFormatWbmp: return RunDecoder<WbmpImage>(self, stream, false);
        case kFormatJp2:
        case kFormatJpc:
        case kFormatPgx:
        case kFormatPnm:
        case kFormatRas: return RunDecoder<JasperImage>(self, stream, false, code);
        case kFormatMng: return RunDecoder<MngImage>(self, stream, true);
        case kFormatRaw: return RunDecoder<RawImage>(self, stream, false);
        default:
            // Metafiles and SKA cannot be read on this platform; like code 16
            // and unknown codes they are not a format we can decode.
            self.SetLastError(kUnknownFormat);
            return false;
    }
}

}  // namespace

bool RasterImage::BeginDecode(const ByteStream* stream) {
    if (!stream) {
        SetLastError("null file handler");
        return false;
    }
    // The caller's settings came along; what describes a file starts afresh.
    SetBackgroundIndex(-1);
    SetXDpi(96);
    SetYDpi(96);
    SetNumFrames(0);
    SetOffset(0, 0);
    return true;
}

bool RasterImage::BeginEncode(const ByteStream* stream) {
    if (!stream) {
        SetLastError("null file handler");
        return false;
    }
    if (!IsValid()) {
        SetLastError("null image!!!");
        return false;
    }
    return true;
}

bool RasterImage::Decode(ByteStream* stream, uint32_t code) {
    if (!stream) {
        SetLastError("null file handler");
        return false;
    }
    if (code != kFormatUnknown) return DecodeAs(*this, stream, code);

    static const uint32_t kDetectionOrder[] = {kFormatBmp, kFormatJpeg, kFormatIco, kFormatGif,
                                               kFormatPng, kFormatTiff, kFormatMng, kFormatTga,
                                               kFormatPcx, kFormatWbmp, kFormatJp2, kFormatRaw};
    const int64_t start = stream->Tell();
    for (uint32_t candidate : kDetectionOrder) {
        stream->Seek(start, SEEK_SET);
        // The JPEG 2000 family is recognised by content whatever the code.
        const uint32_t asked = candidate == kFormatJp2 ? kFormatUnknown : candidate;
        bool ok = candidate == kFormatJp2 ? RunDecoder<JasperImage>(*this, stream, false, asked)
                                          : DecodeAs(*this, stream, candidate);
        if (ok) return true;
    }
    SetLastError(kUnknownFormat);
    return false;
}

bool RasterImage::Decode(FILE* file, uint32_t code) {
    if (!file) {
        SetLastError("null file handler");
        return false;
    }
    FileStream stream(file);
    return Decode(&stream, code);
}

bool RasterImage::Load(const char* fileName, uint32_t code) {
    if (!fileName) return false;
    // Only regular files are read: opening a pipe or a device could block
    // forever or never end.
    struct stat st;
    if (stat(fileName, &st) != 0) return false;
    if (!S_ISREG(st.st_mode)) {
        SetLastError("Not a regular file");
        return false;
    }
    if (FormatIndex(code) != 0) {
        FILE* f = std::fopen(fileName, "rb");
        if (!f) return false;
        const bool ok = Decode(f, code);
        std::fclose(f);
        if (ok) return true;
    }
    // The typed attempt's message is kept when detection fails too: it says
    // more about a file named for its format than "unknown format" does.
    const bool typedAttempt = FormatIndex(code) != 0;
    char kept[sizeof(info_.lastError)];
    std::memcpy(kept, info_.lastError, sizeof kept);
    FILE* f = std::fopen(fileName, "rb");
    if (!f) return false;
    const bool ok = Decode(f, kFormatUnknown);
    std::fclose(f);
    if (!ok && typedAttempt) SetLastError(kept);
    return ok;
}

// ---------------------------------------------------------------------------
// Encode

namespace {

// Runs one encoder on a ghost of the caller's image: it writes the caller's
// pixels without copying them, and any change it makes is the caller's.
template <class Codec, class... Code>
bool RunEncoder(RasterImage& self, ByteStream* stream, Code... code) {
    Codec codec;
    codec.Ghost(&self);
    if (codec.Encode(stream, code...)) return true;
    self.SetLastError(codec.GetLastError());
    return false;
}

}  // namespace

bool RasterImage::Encode(ByteStream* stream, uint32_t code) {
    if (!stream) {
        SetLastError("null file handler");
        return false;
    }
    switch (code) {
        case kFormatBmp: return RunEncoder<BmpImage>(*this, stream);
        case kFormatGif: return RunEncoder<GifImage>(*this, stream);
        case kFormatJpeg: return RunEncoder<JpegImage>(*this, stream);
        case kFormatPng: return RunEncoder<PngImage>(*this, stream);
        case kFormatIco: return RunEncoder<IcoImage>(*this, stream);
        case kFormatTiff: return RunEncoder<TiffImage>(*this, stream);
        case kFormatTga: return RunEncoder<TgaImage>(*this, stream);
        case kFormatPcx: return RunEncoder<PcxImage>(*this, stream);
        case kFormatWbmp: return RunEncoder<WbmpImage>(*this, stream);
        case kFormatWmf: SetLastError("Save WMF not supported"); return false;
        case kFormatJp2:
        case kFormatJpc:
        case kFormatPgx:
        case kFormatPnm:
        case kFormatRas: return RunEncoder<JasperImage>(*this, stream, code);
        case kFormatMng: return RunEncoder<MngImage>(*this, stream);
        case kFormatSka: SetLastError("Save SKA not supported on this platform"); return false;
        case kFormatRaw: SetLastError("Save RAW not supported"); return false;
        case kFormatPdf: return EncodePdf(*this, stream);
        default: SetLastError("Encode: Unknown format"); return false;
    }
}

bool RasterImage::Encode(FILE* file, uint32_t code) {
    if (!file) {
        SetLastError("null file handler");
        return false;
    }
    FileStream stream(file);
    return Encode(&stream, code);
}

namespace {

const char* const kWriteError = "Error writing the image file";

// Produces the whole file in memory first, then writes it in one go, so a
// refused or failed encode never truncates the target.
bool WriteInPlace(const char* fileName, const StreamWriter& write, SafeWriteOutcome& outcome) {
    MemoryStream memory;
    if (!memory.Open() || !write(&memory)) return false;
    FILE* f = std::fopen(fileName, "wb");
    if (!f) {
        outcome.SetCannotCreate(fileName, errno);
        return false;
    }
    const size_t size = static_cast<size_t>(memory.Size());
    bool ok = size == 0 || std::fwrite(memory.GetBuffer(false), 1, size, f) == size;
    ok = (std::fclose(f) == 0) && ok;
    if (!ok) outcome.error = kWriteError;
    return ok;
}

// Puts the finished temporary file under the target's name. A target that
// was there is replaced (the caller chose to write over it); a name that was
// free is taken only if it still is, so a file another process created under
// it meanwhile is never overwritten.
bool MoveIntoPlace(const char* temporary, const char* target, bool replace,
                   SafeWriteOutcome& outcome) {
    if (replace) {
        if (std::rename(temporary, target) == 0) return true;
        outcome.error = kWriteError;
        return false;
    }
    if (renameat2(AT_FDCWD, temporary, AT_FDCWD, target, RENAME_NOREPLACE) == 0) return true;
    if (errno == EINVAL || errno == ENOSYS) {
        // A file system without the flag: a hard link fails on a taken name.
        if (link(temporary, target) == 0) {
            unlink(temporary);
            return true;
        }
    }
    outcome.error = errno == EEXIST
                        ? std::string("\"") + target + "\" was created by someone else meanwhile"
                        : std::string(kWriteError);
    return false;
}

}  // namespace

void SafeWriteOutcome::SetCannotCreate(const char* fileName, int errorNumber) {
    created = false;
    systemError = errorNumber;
    error = std::string("Cannot create \"") + fileName + "\": " + std::strerror(errorNumber);
}

// A regular file is written as a temporary file beside the target and renamed
// into place only when the writer succeeded and every byte was written, so a
// failed save never leaves a truncated or half-written file under the
// target's name and never destroys a file that was there before. A symbolic
// link is followed (the file it names is replaced, the link stays); an
// existing file keeps its permissions; a target that is not a regular file (a
// device, a pipe) is written in place.
bool WriteFileSafely(const char* fileName, const StreamWriter& write, SafeWriteOutcome& outcome) {
    outcome = SafeWriteOutcome{};
    if (!fileName || !*fileName) {
        outcome.created = false;
        outcome.error = "No file name";
        return false;
    }
    std::string target = fileName;
    struct stat st;
    bool exists = stat(fileName, &st) == 0;
    if (exists) {
        if (S_ISDIR(st.st_mode)) {
            outcome.SetCannotCreate(fileName, EISDIR);
            return false;
        }
        if (access(fileName, W_OK) != 0) {
            outcome.SetCannotCreate(fileName, errno);
            return false;
        }
        if (!S_ISREG(st.st_mode)) return WriteInPlace(fileName, write, outcome);
        if (char* resolved = realpath(fileName, nullptr)) {
            target = resolved;
            std::free(resolved);
        }
    } else {
        struct stat link;
        if (lstat(fileName, &link) == 0 && S_ISLNK(link.st_mode)) {
            // A link to a file yet to be made: write through it in place.
            return WriteInPlace(fileName, write, outcome);
        }
    }

    const PathParts parts = SplitPath(target);
    std::string tmpl = MakePath("", parts.dir, ".sheetmend-save-XXXXXX", "");
    std::vector<char> name(tmpl.begin(), tmpl.end());
    name.push_back('\0');
    // Close-on-exec (a program another thread starts meanwhile must not
    // inherit it), and removed by the interrupt cleanup if the run ends
    // before it is renamed into place.
    const int fd = MakeUnfinishedFile(name);
    if (fd < 0 && errno == ECANCELED) {
        outcome.error = "The run is being interrupted";
        return false;
    }
    if (fd < 0) return WriteInPlace(target.c_str(), write, outcome);
    struct Untrack {
        const char* path;
        ~Untrack() { ForgetUnfinishedFile(path); }
    } untrack{name.data()};
    mode_t mode;
    if (exists) {
        mode = st.st_mode & 07777;
    } else {
        const mode_t mask = umask(0);
        umask(mask);
        mode = 0666 & ~mask;
    }
    fchmod(fd, mode);
    FILE* f = fdopen(fd, "wb");
    if (!f) {
        outcome.SetCannotCreate(fileName, errno);
        close(fd);
        unlink(name.data());
        return false;
    }
    bool ok;
    {
        FileStream stream(f);
        ok = write(&stream);
    }
    if (ok && std::fflush(f) != 0) {
        outcome.error = kWriteError;
        ok = false;
    }
    if (std::fclose(f) != 0 && ok) {
        outcome.error = kWriteError;
        ok = false;
    }
    if (ok && !MoveIntoPlace(name.data(), target.c_str(), exists, outcome)) ok = false;
    if (!ok) unlink(name.data());
    return ok;
}

// A target that cannot be created leaves lastError as it was (errno tells
// why); a failure after that point is explained in lastError.
bool RasterImage::Save(const char* fileName, uint32_t code) {
    if (!fileName || !*fileName) return false;
    SafeWriteOutcome outcome;
    const bool ok = WriteFileSafely(
        fileName, [&](ByteStream* stream) { return Encode(stream, code); }, outcome);
    if (ok) return true;
    if (!outcome.created) {
        errno = outcome.systemError;
    } else if (!outcome.error.empty()) {
        SetLastError(outcome.error.c_str());
    }
    return false;
}

}  // namespace sheetmend
