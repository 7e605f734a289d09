#include "pipeline/image_files.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "image/formats.h"
#include "image/raster_image.h"
#include "platform/console.h"

namespace sheetmend {

bool LoadImageFile(const std::string& path, RasterImage& image) {
    uint32_t code = ImageTypeFromExtension(path);
    if (code == kFormatUnknown) code = ImageTypeFromContent(path.c_str());
    if (code == kFormatUnknown) {
        ConsoleErrorf("unknown image format of %s\n", path.c_str());
        return false;
    }
    if (image.Load(path.c_str(), code) && image.IsValid()) return true;
    ConsoleErrorf("%s\nerror loading %s\n",
                  image.GetLastError()[0] ? image.GetLastError() : "cannot read the file",
                  path.c_str());
    return false;
}

bool SaveExplained(RasterImage& image, const std::string& path, uint32_t code) {
    image.SetLastError("");
    errno = 0;
    if (image.Save(path.c_str(), code)) return true;
    // A file that could not be created leaves the image's message empty and
    // the reason in errno.
    if (!image.GetLastError()[0]) {
        const int reason = errno;
        const std::string text =
            reason ? std::string("cannot create the file: ") + std::strerror(reason)
                   : std::string("cannot write the file");
        image.SetLastError(text.c_str());
    }
    return false;
}

void PrepareForFileFormat(RasterImage& image, uint32_t code) {
    if (code == kFormatJpeg || code == kFormatGif) PrepareForOutputFormat(image, code);
}

bool SaveImageFile(const std::string& path, RasterImage& image) {
    const uint32_t code = ImageTypeFromExtension(path);
    if (code == kFormatUnknown) {
        ConsoleErrorf("unknown extension for %s\n", path.c_str());
        return false;
    }
    // JPEG and GIF need the same preparation as in the plain conversion; the
    // other formats take the page as it is, with its own codec options.
    PrepareForFileFormat(image, code);
    if (SaveExplained(image, path, code)) return true;
    ConsoleErrorf("%s\nerror saving %s\n", image.GetLastError(), path.c_str());
    return false;
}

}  // namespace sheetmend
