#include "image/thumbnail.h"

#include <cstdlib>

#include "image/image.h"

void thumbnailSize(int32_t width, int32_t height, int32_t& thumbWidth, int32_t& thumbHeight) {
    thumbWidth = thumbHeight = 0;
    if (width <= 0 || height <= 0) return;
    const double fx = static_cast<double>(thumbnailBoxWidth) / width;
    // The vertical factor is rounded to single precision, the horizontal one
    // is not; the smaller one wins.
    const double fy = static_cast<float>(static_cast<double>(thumbnailBoxHeight) / height);
    const double f = fx < fy ? fx : fy;
    thumbWidth = static_cast<int32_t>(width * f);
    thumbHeight = static_cast<int32_t>(height * f);
}

BitmapHandle makeThumbnailBitmap(BitmapHandle loaded) {
    BitmapInfo info;
    if (!platformQueryBitmap(loaded, info)) return nullptr;
    int32_t tw = 0, th = 0;
    thumbnailSize(info.width, info.height, tw, th);
    if (tw < info.width && th < info.height) return downscaleBitmap(loaded, tw, th);
    BitmapHandle thumbnail = createBlankBitmap(tw, th);
    stretchCopyBitmap(loaded, thumbnail);
    return thumbnail;
}

BitmapHandle createPlainBitmap(int32_t width, int32_t height) { return platformCreateBitmap(width, height, false); }

void stretchCopyBitmap(BitmapHandle source, BitmapHandle destination) {
    platformStretchCopy(source, destination);
}

void allocPixelGrid(uint32_t width, uint32_t height, PixelGrid* grid) {
    grid->gridWidth = width;
    grid->gridHeight = height;
    grid->gridStride = displayStride(width);
    grid->gridBits = imageSizeAllowed(width, height)
                         ? static_cast<uint8_t*>(platformAllocLarge(grid->gridStride * height))
                         : nullptr;
}

void releasePixelGrid(PixelGrid* grid) {
    platformFreeLarge(grid->gridBits);
    grid->gridBits = nullptr;
}

void readBitmapBits(BitmapHandle bitmap, PixelGrid* grid) {
    *grid = PixelGrid{};
    BitmapInfo info;
    if (!platformQueryBitmap(bitmap, info) || info.width <= 0 || info.height == 0) return;
    const uint32_t height = info.height < 0 ? 0u - static_cast<uint32_t>(info.height) : static_cast<uint32_t>(info.height);
    allocPixelGrid(static_cast<uint32_t>(info.width), height, grid);
    if (grid->gridBits &&
        !platformReadRowsTopDown(bitmap, grid->gridBits, grid->gridWidth, grid->gridHeight, grid->gridStride))
        releasePixelGrid(grid);
}

void writeBitmapBits(const PixelGrid* grid, BitmapHandle bitmap) {
    if (grid->gridBits)
        platformWriteRowsTopDown(bitmap, grid->gridBits, grid->gridWidth, grid->gridHeight, grid->gridStride);
}

void scaleBoxFilter(const PixelGrid* source, PixelGrid* target, uint32_t tw, uint32_t th) {
    const uint32_t sw = source->gridWidth, sh = source->gridHeight;
    if (!source->gridBits) return;
    allocPixelGrid(tw, th, target);
    if (!target->gridBits) return;
    // The scaler only reduces; anything else leaves the target unwritten.
    if (tw == 0 || th == 0 || tw >= sw || th >= sh) return;
    const size_t rowFloats = size_t{3} * tw;
    auto* acc = static_cast<float*>(std::calloc(rowFloats * th, sizeof(float)));
    if (!acc) {
        releasePixelGrid(target);
        return;
    }

    // Each source pixel covers tw/sw of an output pixel across and th/sh down,
    // so it overlaps at most two output columns and two output rows. The
    // integer phase counters find those overlaps without rounding error.
    uint32_t yPhase = 0;
    size_t r = 0;
    for (uint32_t sy = 0; sy < sh; ++sy) {
        yPhase += th;
        const bool rowStraddles = yPhase > sh && r + 1 < th;
        float wyNext = 0.0f, wyCur = 1.0f;
        if (rowStraddles) {
            wyNext = static_cast<float>(yPhase - sh) / static_cast<float>(th);
            wyCur = 1.0f - wyNext;
        }
        float* cur = acc + r * rowFloats;
        float* next = rowStraddles ? cur + rowFloats : nullptr;
        const uint8_t* v = source->gridBits + size_t{sy} * source->gridStride;
        uint32_t xPhase = 0;
        size_t j = 0;
        if (next) {
            for (uint32_t sx = 0; sx < sw; ++sx, v += 3) {
                xPhase += tw;
                float* a = cur + 3 * j;
                float* b = next + 3 * j;
                if (xPhase > sw && j + 1 < tw) {
                    const float wxNext = static_cast<float>(xPhase - sw) / static_cast<float>(tw);
                    const float wxCur = 1.0f - wxNext;
                    const float w00 = wyCur * wxCur, w01 = wyCur * wxNext;
                    const float w10 = wyNext * wxCur, w11 = wyNext * wxNext;
                    for (int k = 0; k < 3; ++k) {
                        a[k] += v[k] * w00;
                        a[k + 3] += v[k] * w01;
                    }
                    for (int k = 0; k < 3; ++k) {
                        b[k] += v[k] * w10;
                        b[k + 3] += v[k] * w11;
                    }
                    ++j;
                } else {
                    for (int k = 0; k < 3; ++k) {
                        a[k] += v[k] * wyCur;
                        b[k] += v[k] * wyNext;
                    }
                }
                if (xPhase >= sw) {
                    xPhase -= sw;
                    if (xPhase == 0) ++j;
                }
            }
        } else {
            // Most source rows lie within one output row. Their sums are kept
            // in registers while they go to one output pixel: the same float
            // additions in the same order, without a store and a load for each.
            float s0 = cur[0], s1 = cur[1], s2 = cur[2];
            for (uint32_t sx = 0; sx < sw; ++sx, v += 3) {
                xPhase += tw;
                if (xPhase > sw && j + 1 < tw) {
                    const float wxNext = static_cast<float>(xPhase - sw) / static_cast<float>(tw);
                    const float wxCur = 1.0f - wxNext;
                    const float w00 = wyCur * wxCur, w01 = wyCur * wxNext;
                    float* a = cur + 3 * j;
                    a[0] = s0 + v[0] * w00;
                    a[1] = s1 + v[1] * w00;
                    a[2] = s2 + v[2] * w00;
                    ++j;
                    s0 = a[3] + v[0] * w01;
                    s1 = a[4] + v[1] * w01;
                    s2 = a[5] + v[2] * w01;
                } else {
                    s0 += v[0];
                    s1 += v[1];
                    s2 += v[2];
                }
                if (xPhase >= sw) {
                    xPhase -= sw;
                    if (xPhase == 0) {
                        float* a = cur + 3 * j;
                        a[0] = s0;
                        a[1] = s1;
                        a[2] = s2;
                        if (++j < tw) {
                            s0 = a[3];
                            s1 = a[4];
                            s2 = a[5];
                        }
                    }
                }
            }
            if (j < tw) {
                float* a = cur + 3 * j;
                a[0] = s0;
                a[1] = s1;
                a[2] = s2;
            }
        }
        if (rowStraddles || yPhase == sh) ++r;
        if (yPhase >= sh) yPhase -= sh;
        if (r >= th) r = th - 1;  // only reached after the last source row
    }

    const float scale = static_cast<float>(static_cast<double>(tw) * th / (static_cast<double>(sw) * sh));
    for (size_t row = 0; row < th; ++row) {
        const float* a = acc + row * rowFloats;
        uint8_t* out = target->gridBits + row * target->gridStride;
        for (size_t i = 0; i < rowFloats; ++i)
            out[i] = static_cast<uint8_t>(static_cast<unsigned>(static_cast<double>(scale * a[i]) + 0.5));
    }
    std::free(acc);
}

BitmapHandle downscaleBitmap(BitmapHandle source, int32_t tw, int32_t th) {
    if (!source) return nullptr;
    BitmapHandle bitmap = createPlainBitmap(tw, th);
    if (!bitmap) return nullptr;
    PixelGrid grid{};
    readBitmapBits(source, &grid);
    PixelGrid target{};
    scaleBoxFilter(&grid, &target, static_cast<uint32_t>(tw), static_cast<uint32_t>(th));
    releasePixelGrid(&grid);
    if (target.gridBits) {
        writeBitmapBits(&target, bitmap);
        releasePixelGrid(&target);
    }
    return bitmap;
}
