// JPEG files, baseline or progressive, colour or grey, decoded by the
// system's codec as it decodes by default; grey is repeated into red, green
// and blue. A corrupt file or one that ends early is refused.
#include <cstring>

#include "platform/codecs.h"
#include "readers/readers.h"

namespace {

struct JpegTarget {
    Image* image;
    uint32_t channels = 0;
};

bool beginPicture(void* context, uint32_t width, uint32_t height, uint32_t channels) {
    auto& t = *static_cast<JpegTarget*>(context);
    if (channels != 1 && channels != 3) return false;
    t.channels = channels;
    return startRgbImage(t.image, width, height);
}

void takeRow(void* context, uint32_t y, const uint8_t* in) {
    auto& t = *static_cast<JpegTarget*>(context);
    const size_t width = static_cast<uint32_t>(t.image->width);
    if (y >= static_cast<uint32_t>(t.image->height)) return;
    uint8_t* out = t.image->pixels + 3 * width * y;
    if (t.channels == 3) {
        std::memcpy(out, in, 3 * width);
    } else {
        for (size_t x = 0; x < width; ++x, out += 3) out[0] = out[1] = out[2] = in[x];
    }
}

}  // namespace

bool readJpeg(std::span<const uint8_t> file, Image* image, LoadFailure&) {
    if (!image) return false;
    resetImage(image);
    JpegTarget target{image};
    const RowSink sink{&target, beginPicture, takeRow};
    const bool ok = platformDecodeJpeg(file, sink);
    if (!ok) {
        resetImage(image);
        return false;
    }
    return true;
}
