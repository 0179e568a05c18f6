#include "generate/height_field.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>

#include "image/bands.h"
#include "platform/platform.h"

const char* generateErrorText(GenerateError error) {
    switch (error) {
        case GenerateError::none: return "no error";
        case GenerateError::unsupportedLayout: return "the picture's rows do not lie within its pixels";
        case GenerateError::noAlpha: return "the picture has no alpha channel";
        case GenerateError::notFinite: return "a height is not a finite number (NaN or infinite)";
        case GenerateError::emptyPicture: return "the picture has no pixels";
        case GenerateError::unknownConvention: return "the green convention must be opengl or directx";
        case GenerateError::badOption: return "an option is out of its range";
        case GenerateError::tooLarge: return "the picture is too large";
        case GenerateError::noMemory: return "not enough memory";
    }
    return "unknown error";
}

namespace {

bool fail(GenerateError* error, GenerateError why) {
    if (error) *error = why;
    return false;
}

// Reads one channel (0 .. 3) or the luma (channel 4) of a picture's rows.
// False when a band has no memory for its row.
bool readHeights(const ImageRows& rows, uint32_t channel, float* out) {
    const uint32_t width = rows.width;
    const double unit = 1.0 / (rows.sixteen ? 65535.0 : 255.0);
    return readRowsInBands(rows, 16, [&](uint32_t y, const uint16_t* rgba) {
        float* h = out + size_t{y} * width;
        if (channel < 4) {
            for (uint32_t x = 0; x < width; ++x) h[x] = static_cast<float>(rgba[size_t{x} * 4 + channel] * unit);
        } else {
            for (uint32_t x = 0; x < width; ++x) {
                const uint16_t* q = rgba + size_t{x} * 4;
                const double luma = 0.2126 * q[0] + 0.7152 * q[1] + 0.0722 * q[2];
                h[x] = static_cast<float>(luma * unit);
            }
        }
    });
}

// True when red, green and blue agree at every pixel (false, with noMemory
// set, when there is no memory for a row).
bool isGrey(const ImageRows& rows, bool* noMemory) {
    std::unique_ptr<uint16_t[]> rgba(new (std::nothrow) uint16_t[size_t{rows.width} * 4]);
    if (!rgba) return !(*noMemory = true);
    for (uint32_t y = 0; y < rows.height; ++y) {
        readRowFull(rows, rows.row(y), rgba.get());
        for (const uint16_t* p = rgba.get(); p < rgba.get() + size_t{rows.width} * 4; p += 4)
            if (p[0] != p[1] || p[1] != p[2]) return false;
    }
    return true;
}

// Writes 16-bit grey samples round(clamp((h - offset) x factor, 0, 1) x
// 65535).
void writeGrey(const HeightField& field, double offset, double factor, uint16_t* out) {
    const uint32_t width = field.width;
    runInBands(field.height, bandWorkers(field.height, 1, 16), [&](uint32_t first, uint32_t last) {
        for (size_t i = size_t{first} * width; i < size_t{last} * width; ++i) {
            const double t = std::clamp((field.values[i] - offset) * factor, 0.0, 1.0);
            out[i] = static_cast<uint16_t>(t * 65535.0 + 0.5);
        }
    });
}

bool emptyField(const HeightField& field) { return !field.values || field.width == 0 || field.height == 0; }

}  // namespace

bool readRowsInBands(const ImageRows& rows, uint32_t minPerBand,
                     const std::function<void(uint32_t y, const uint16_t* rgba)>& work) {
    std::atomic<bool> noMemory{false};
    runInBands(rows.height, bandWorkers(rows.height, 1, minPerBand), [&](uint32_t first, uint32_t last) {
        std::unique_ptr<uint16_t[]> rgba(new (std::nothrow) uint16_t[size_t{rows.width} * 4]);
        if (!rgba) {
            noMemory = true;  // any band's failure fails the whole
            return;
        }
        for (uint32_t y = first; y < last; ++y) {
            readRowFull(rows, rows.row(y), rgba.get());
            work(y, rgba.get());
        }
    });
    return !noMemory;
}

bool allocateHeightField(HeightField* field, uint32_t width, uint32_t height, GenerateError* error) {
    releaseHeightField(field);
    if (width == 0 || height == 0) return fail(error, GenerateError::emptyPicture);
    if (!imageSizeAllowed(width, height)) return fail(error, GenerateError::tooLarge);
    field->values = static_cast<float*>(platformAllocLarge(size_t{width} * height * sizeof(float)));
    if (!field->values) return fail(error, GenerateError::noMemory);
    field->width = width;
    field->height = height;
    field->fromSamples = false;
    return true;
}

void releaseHeightField(HeightField* field) {
    if (!field) return;
    platformFreeLarge(field->values);
    *field = HeightField{};
}

bool heightFieldFromImage(const Image& image, HeightChannel channel, HeightField* field, GenerateError* error) {
    ImageRows rows;
    if (!viewRows(image, rows)) return fail(error, GenerateError::unsupportedLayout);
    bool noMemory = false;
    if (channel == HeightChannel::automatic)
        channel = isGrey(rows, &noMemory) ? HeightChannel::green : HeightChannel::luma;
    if (noMemory) return fail(error, GenerateError::noMemory);
    uint32_t index = 0;
    switch (channel) {
        case HeightChannel::red: index = 0; break;
        case HeightChannel::green: index = 1; break;
        case HeightChannel::blue: index = 2; break;
        case HeightChannel::alpha: index = 3; break;
        default: index = 4; break;
    }
    // A fourth 8-bit sample without hasAlpha is padding, not a height.
    if (index == 3 && !rows.alpha) return fail(error, GenerateError::noAlpha);
    if (!allocateHeightField(field, rows.width, rows.height, error)) return false;
    if (!readHeights(rows, index, field->values)) {
        releaseHeightField(field);
        return fail(error, GenerateError::noMemory);
    }
    field->fromSamples = true;
    return true;
}

bool checkHeightField(const HeightField& field, GenerateError* error) {
    if (!field.values || field.width == 0 || field.height == 0) return fail(error, GenerateError::emptyPicture);
    std::atomic<bool> finite{true};
    const uint32_t width = field.width;
    runInBands(field.height, bandWorkers(field.height, 1, 64), [&](uint32_t first, uint32_t last) {
        bool good = true;
        for (uint32_t y = first; y < last; ++y) {
            const float* h = field.values + size_t{y} * width;
            // NaN and the infinities are the values whose difference with
            // themselves is not 0; the sum keeps the loop free of branches.
            float sum = 0.0f;
            for (uint32_t x = 0; x < width; ++x) sum += h[x] - h[x];
            good = good && sum == 0.0f;
        }
        if (!good) finite = false;
    });
    return finite ? true : fail(error, GenerateError::notFinite);
}

HeightRange heightRange(const HeightField& field) {
    const size_t count = size_t{field.width} * field.height;
    HeightRange range{field.values[0], field.values[0]};
    for (size_t i = 1; i < count; ++i) {
        range.low = std::min(range.low, field.values[i]);
        range.high = std::max(range.high, field.values[i]);
    }
    return range;
}

bool heightToGreySamples(const HeightField& field, double heightScale, uint16_t* out, GenerateError* error) {
    if (emptyField(field) || !out) return fail(error, GenerateError::emptyPicture);
    if (!(heightScale >= 0.0) || !std::isfinite(heightScale)) return fail(error, GenerateError::badOption);
    const HeightRange range = heightRange(field);
    const double span = static_cast<double>(range.high) - range.low;
    const double factor = heightScale > 0.0 ? 1.0 / heightScale : span > 0.0 ? 1.0 / span : 0.0;
    writeGrey(field, range.low, factor, out);
    return true;
}

bool heightAboveLowest(HeightField* field, double heightScale, GenerateError* error) {
    if (!field || emptyField(*field)) return fail(error, GenerateError::emptyPicture);
    if (!(heightScale > 0.0) || !std::isfinite(heightScale)) return fail(error, GenerateError::badOption);
    const double low = heightRange(*field).low;
    const size_t count = size_t{field->width} * field->height;
    for (size_t i = 0; i < count; ++i)
        field->values[i] = static_cast<float>((field->values[i] - low) / heightScale);
    return true;
}

bool heightFieldFromFloatPicture(const FloatPicture& picture, HeightChannel channel, HeightField* field,
                                 GenerateError* error) {
    const uint32_t channels = picture.channels;
    if (!picture.samples || picture.width == 0 || picture.height == 0) return fail(error, GenerateError::emptyPicture);
    if (channels != 1 && channels != 3 && channels != 4) return fail(error, GenerateError::unsupportedLayout);
    if (channel == HeightChannel::alpha && channels != 4) return fail(error, GenerateError::noAlpha);
    const size_t count = size_t{picture.width} * picture.height;
    const float* samples = picture.samples;
    if (channels > 1 && channel == HeightChannel::automatic) {
        bool grey = true;
        for (size_t i = 0; grey && i < count; ++i) {
            const float* p = samples + i * channels;
            grey = p[0] == p[1] && p[1] == p[2];
        }
        channel = grey ? HeightChannel::green : HeightChannel::luma;
    }
    size_t index = 0;
    switch (channel) {
        case HeightChannel::green: index = 1; break;
        case HeightChannel::blue: index = 2; break;
        case HeightChannel::alpha: index = 3; break;
        default: break;
    }
    if (!allocateHeightField(field, picture.width, picture.height, error)) return false;
    float* h = field->values;
    if (channels == 1) {
        std::copy(samples, samples + count, h);
    } else if (channel == HeightChannel::luma) {
        for (size_t i = 0; i < count; ++i) {
            const float* p = samples + i * channels;
            h[i] = static_cast<float>(0.2126 * p[0] + 0.7152 * p[1] + 0.0722 * p[2]);
        }
    } else {
        for (size_t i = 0; i < count; ++i) h[i] = samples[i * channels + index];
    }
    return true;
}

NonFiniteHeights findNonFinite(const HeightField& field) {
    NonFiniteHeights found;
    const size_t count = size_t{field.width} * field.height;
    for (size_t i = 0; field.values && i < count; ++i) {
        if (std::isfinite(field.values[i])) continue;
        if (found.count++ == 0) {
            found.x = static_cast<uint32_t>(i % field.width);
            found.y = static_cast<uint32_t>(i / field.width);
        }
    }
    return found;
}
