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

}  // namespace sheetmend
