#include "app/qt/lit_view.h"

#include <QImage>
#include <algorithm>
#include <cmath>

#include "adjust/adjust.h"
#include "image/bands.h"
#include "image/rows.h"

namespace {

// How far out of the screen the light stands for a pointer at an edge's
// middle, in half sides: tan(30 degrees).
constexpr float lightLift = 0.58f;
constexpr float normalSteps = 127.0f;
// Display pixels a thread is worth, for the decoding and the shading.
constexpr uint64_t pixelsPerThread = 1 << 17;

LightDirection unitLight(float x, float y, float z) {
    const float length = std::sqrt(x * x + y * y + z * z);
    return {x / length, y / length, z / length};
}

int8_t step(float component) { return static_cast<int8_t>(std::lround(component * normalSteps)); }

unsigned workersFor(const QRect& part) {
    return pixelWorkers(static_cast<uint64_t>(part.width()) * static_cast<uint64_t>(part.height()), pixelsPerThread,
                        8);
}

// The picture's pixel nearest the middle of display pixel `i` of `count`.
uint32_t nearest(int i, int count, uint64_t pictureSize) {
    return static_cast<uint32_t>((2 * static_cast<uint64_t>(i) + 1) * pictureSize / (2 * static_cast<uint64_t>(count)));
}

}  // namespace

LightDirection lightFromPointer(QPointF pointer, const QRectF& area) {
    if (area.width() <= 0 || area.height() <= 0) return {};
    const QPointF middle = area.center();
    const auto across = static_cast<float>((pointer.x() - middle.x()) / (area.width() / 2));
    const auto up = static_cast<float>((middle.y() - pointer.y()) / (area.height() / 2));
    return unitLight(across, up, lightLift);
}

LightDirection defaultLight() { return unitLight(-0.7f, 0.7f, lightLift); }

bool decodeDisplayNormals(const Image& image, QSize whole, QRect part, DisplayNormals& normals) {
    normals = DisplayNormals{};
    part = part.intersected(QRect(QPoint(0, 0), whole));
    ImageRows rows;
    if (part.isEmpty() || !viewRows(image, rows) || rows.width == 0 || rows.height == 0) return false;
    const int width = part.width();
    std::vector<uint32_t> columns(static_cast<size_t>(width));
    for (int i = 0; i < width; ++i)
        columns[static_cast<size_t>(i)] = nearest(part.left() + i, whole.width(), rows.width);
    normals.xyz.resize(static_cast<size_t>(width) * static_cast<size_t>(part.height()) * 4);
    normals.whole = whole;
    normals.part = part;
    runInBands(static_cast<uint32_t>(part.height()), workersFor(part), [&](uint32_t first, uint32_t last) {
        std::vector<uint16_t> rgba(size_t{rows.width} * 4);  // one row a band
        uint32_t readRow = UINT32_MAX;
        for (uint32_t j = first; j < last; ++j) {
            const uint32_t row = nearest(part.top() + static_cast<int>(j), whole.height(), rows.height);
            if (row != readRow) {
                readRowFull(rows, rows.row(row), rgba.data());
                readRow = row;
            }
            int8_t* out = normals.xyz.data() + size_t{j} * static_cast<size_t>(width) * 4;
            for (int i = 0; i < width; ++i, out += 4) {
                const uint16_t* sample = rgba.data() + size_t{columns[static_cast<size_t>(i)]} * 4;
                float x, y, z;
                if (rows.sixteen) {
                    x = decodeSample<uint16_t>(int32_t{sample[0]});
                    y = decodeSample<uint16_t>(int32_t{sample[1]});
                    z = decodeSample<uint16_t>(int32_t{sample[2]});
                } else {
                    x = decodeSample<uint8_t>(int32_t{sample[0]});
                    y = decodeSample<uint8_t>(int32_t{sample[1]});
                    z = decodeSample<uint8_t>(int32_t{sample[2]});
                }
                if (z <= 0.0f) z = std::sqrt(std::max(0.0f, 1.0f - x * x - y * y));
                const float length = std::sqrt(x * x + y * y + z * z);
                const bool usable = length > 1e-6f;
                out[0] = usable ? step(x / length) : 0;
                out[1] = usable ? step(y / length) : 0;
                out[2] = usable ? step(z / length) : static_cast<int8_t>(normalSteps);
                out[3] = 0;
            }
        }
    });
    return true;
}

void shadeNormals(const DisplayNormals& normals, LightDirection light, GreenConvention convention, QImage& target) {
    const QRect& part = normals.part;
    if (target.size() != part.size() || target.depth() != 32 || part.isEmpty()) return;
    // Green up the screen for OpenGL, down it for DirectX: the light's y is
    // turned instead of every normal's.
    const float lit = 255.0f * (1.0f - litAmbient) / normalSteps, ambient = 255.0f * litAmbient + 0.5f;
    const float lx = light.x * lit, lz = light.z * lit;
    const float ly = (convention == GreenConvention::directX ? -light.y : light.y) * lit;
    // Detached here, on this thread; the bands write their own rows.
    uchar* const bits = target.bits();
    const qsizetype stride = target.bytesPerLine();
    const int width = part.width();
    runInBands(static_cast<uint32_t>(part.height()), workersFor(part), [&](uint32_t first, uint32_t last) {
        for (uint32_t j = first; j < last; ++j) {
            const int8_t* n = normals.xyz.data() + size_t{j} * static_cast<size_t>(width) * 4;
            auto* line = reinterpret_cast<QRgb*>(bits + stride * static_cast<qsizetype>(j));
            for (int i = 0; i < width; ++i, n += 4) {
                const float facing = n[0] * lx + n[1] * ly + n[2] * lz;
                const auto grey = static_cast<uint32_t>(ambient + std::max(0.0f, facing));
                line[i] = 0xFF000000u | std::min(grey, 255u) * 0x010101u;
            }
        }
    });
}
