// The error of decoded textures against the picture they were made from:
// for each DECODED picture (a DDS top level decoded by a peer tool and saved
// as Targa or PNG), the root mean square difference of red (X), green (Y)
// and blue (Z) from REFERENCE, the mean of the X and Y ones, and the mean
// angle in degrees between the decoded normals and the reference's (each
// sample read as (v - 128) / 127). A DECODED file may be any file the
// readers take (an .astc file is decoded by the reader itself).
// Usage: dds_quality REFERENCE DECODED...
#include <cmath>
#include <cstdio>
#include <numbers>
#include <vector>

#include "readers/readers.h"

namespace {

bool topDownRows(const char* path, std::vector<uint8_t>& rows, int32_t& width, int32_t& height) {
    Image image{};
    if (!readImageFile(path, &image)) {
        resetImage(&image);
        return false;
    }
    width = image.width;
    height = image.height;
    rows.resize(size_t{3} * static_cast<size_t>(width) * static_cast<size_t>(height));
    const bool ok = platformReadRowsTopDown(image.bitmap, rows.data(), width, height, size_t{3} * width);
    resetImage(&image);
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fputs("Usage: dds_quality REFERENCE DECODED...\n", stderr);
        return 2;
    }
    std::vector<uint8_t> reference;
    int32_t width = 0, height = 0;
    if (!topDownRows(argv[1], reference, width, height)) {
        std::fprintf(stderr, "dds_quality: %s: cannot read it\n", argv[1]);
        return 1;
    }
    int status = 0;
    for (int n = 2; n < argc; ++n) {
        std::vector<uint8_t> decoded;
        int32_t w = 0, h = 0;
        if (!topDownRows(argv[n], decoded, w, h) || w != width || h != height) {
            std::fprintf(stderr, "dds_quality: %s: cannot read it, or not %dx%d\n", argv[n], width, height);
            status = 1;
            continue;
        }
        double sum[3] = {};
        for (size_t i = 0; i < reference.size(); ++i) {
            const double d = static_cast<double>(decoded[i]) - reference[i];
            sum[i % 3] += d * d;
        }
        double angles = 0;
        for (size_t i = 0; i < reference.size(); i += 3) {
            double dot = 0, a = 0, b = 0;
            for (size_t k = 0; k < 3; ++k) {
                const double p = (decoded[i + k] - 128) / 127.0, q = (reference[i + k] - 128) / 127.0;
                dot += p * q;
                a += p * p;
                b += q * q;
            }
            if (a > 0 && b > 0) angles += std::acos(std::fmin(1.0, std::fmax(-1.0, dot / std::sqrt(a * b))));
        }
        const double pixels = static_cast<double>(width) * height;
        // Display bitmap rows are blue-green-red.
        const double x = std::sqrt(sum[2] / pixels), y = std::sqrt(sum[1] / pixels), z = std::sqrt(sum[0] / pixels);
        std::printf("%s %.4f %.4f %.4f %.4f %.4f\n", argv[n], (x + y) / 2, x, y, z, angles / pixels * 180 / std::numbers::pi);
    }
    return status;
}
