// The repairs, one pixel at a time, and the whole check of one map.
#include <algorithm>
#include <cmath>
#include <memory>
#include <thread>
#include <vector>

#include "check/check.h"
#include "check/pixel_source.h"
#include "check/transfer.h"

namespace check {
namespace {

// The sample scale of one side of a repair, as the adjustment has it: 8
// bits (128 is 0, 127 a unit) or 16 bits (32768 is 0, 32767 a unit).
struct Scale {
    double top;        // the largest sample
    float middle;
    float unit;        // 1 / the samples a unit
    double encodeUnit;
    double encodeMiddle;
};
constexpr Scale eightBits{255.0, 128.0f, 1.0f / 127.0f, 127.0, 128.0};
constexpr Scale sixteenBits{65535.0, 32768.0f, 1.0f / 32767.0f, 32767.0, 32768.0};

struct Plan {
    const PixelSource* source;
    const Diagnosis* diagnosis;
    RepairOptions options;
    Scale in, out;
    bool alphaOut;
    bool outSixteen;
    const double* transfer;  // a table over every input sample, or null
    Image* output;
};

// Re-normalises as the adjustment does (adjust/adjust.cpp): the squared
// length in double from float components, its root rounded to float, the
// components scaled by its inverse and rounded to float, then encoded by
// truncation (a component of -1 encodes as 1, as there).
inline uint32_t encodeComponent(double n, const Scale& out) {
    return static_cast<uint32_t>(static_cast<int32_t>(n * out.encodeUnit + out.encodeMiddle));
}

void normaliseInto(double x, double y, double z, const Scale& out, uint32_t (&encoded)[3]) {
    const double length = std::sqrt(x * x + y * y + z * z);
    const bool positive = length > 0.0;
    const double q = 1.0 / (positive ? static_cast<double>(static_cast<float>(length)) : 1.0);
    const double nx = positive ? static_cast<double>(static_cast<float>(q * x)) : 0.0;
    const double ny = positive ? static_cast<double>(static_cast<float>(q * y)) : 0.0;
    const double nz = positive ? static_cast<double>(static_cast<float>(q * z)) : 0.0;
    encoded[0] = encodeComponent(nx, out);
    encoded[1] = encodeComponent(ny, out);
    encoded[2] = encodeComponent(nz, out);
}

void repairRows(const Plan& plan, int32_t first, int32_t last) {
    const PixelSource& source = *plan.source;
    const Diagnosis& d = *plan.diagnosis;
    const size_t width = static_cast<size_t>(source.width);
    std::unique_ptr<uint16_t[]> samples(new (std::nothrow) uint16_t[4 * width]);
    if (!samples) return;
    const size_t outChannels = plan.alphaOut ? 4 : 3;
    const size_t outRow = width * outChannels * (plan.outSixteen ? 2 : 1);
    for (int32_t r = first; r < last; ++r) {
        readRowFull(source, source.pictureRow(r), samples.get());
        uint8_t* out8 = plan.output->pixels + static_cast<size_t>(r) * outRow;
        uint16_t* out16 = reinterpret_cast<uint16_t*>(out8);
        for (size_t c = 0; c < width; ++c) {
            const uint16_t* s = samples.get() + 4 * c;
            uint32_t stored[3] = {d.packed ? s[3] : s[0], s[1], s[2]};
            if (plan.options.flipGreen && !plan.transfer) stored[1] = static_cast<uint32_t>(plan.in.top) - stored[1];
            if (d.zInverted && !plan.transfer) stored[2] = static_cast<uint32_t>(plan.in.top) - stored[2];
            float component[3];
            if (!plan.transfer) {
                // Whole samples, as the adjustment reads them.
                for (int k = 0; k < 3; ++k)
                    component[k] = static_cast<float>(static_cast<int32_t>(stored[k]) -
                                                      static_cast<int32_t>(plan.in.middle)) *
                                   plan.in.unit;
            } else {
                double value[3];
                for (int k = 0; k < 3; ++k) value[k] = plan.transfer[stored[k]];
                if (plan.options.flipGreen) value[1] = plan.in.top - value[1];
                if (d.zInverted) value[2] = plan.in.top - value[2];
                for (int k = 0; k < 3; ++k)
                    component[k] = static_cast<float>(value[k] - plan.in.middle) * plan.in.unit;
            }
            const double x = component[0], y = component[1];
            const double z = d.zMissing ? std::sqrt(std::max(0.0, 1.0 - x * x - y * y)) : double{component[2]};
            uint32_t encoded[3];
            if (plan.options.renormalize) {
                normaliseInto(x, y, z, plan.out, encoded);
            } else {
                const double v[3] = {x, y, z};
                for (int k = 0; k < 3; ++k)
                    encoded[k] = static_cast<uint32_t>(
                        std::lround(std::clamp(v[k] * plan.out.encodeUnit + plan.out.encodeMiddle, 0.0, plan.out.top)));
            }
            if (plan.outSixteen) {
                uint16_t* p = out16 + c * outChannels;
                for (int k = 0; k < 3; ++k) p[k] = static_cast<uint16_t>(encoded[k]);
                if (plan.alphaOut) p[3] = s[3];
            } else {
                uint8_t* p = out8 + c * outChannels;
                for (int k = 0; k < 3; ++k) p[k] = static_cast<uint8_t>(encoded[k]);
                if (plan.alphaOut) p[3] = source.sixteen ? reduceSample(s[3]) : static_cast<uint8_t>(s[3]);
            }
        }
    }
}

constexpr int64_t pixelsWorthAThread = int64_t{1} << 20;

}  // namespace
}  // namespace check

using namespace check;

bool repairMap(const Image& input, const Diagnosis& diagnosis, const RepairOptions& options, Image* output) {
    if (!output) return false;
    resetImage(output);
    PixelSource source;
    if (!describePixels(input, source)) return false;
    Plan plan{};
    plan.source = &source;
    plan.diagnosis = &diagnosis;
    plan.options = options;
    plan.in = source.sixteen ? sixteenBits : eightBits;
    plan.outSixteen = source.sixteen && !options.eightBit;
    plan.out = plan.outSixteen ? sixteenBits : eightBits;
    plan.alphaOut = source.hasAlpha && options.keepAlpha;
    // The transfer undone on every possible sample, once.
    std::vector<double> table;
    if (diagnosis.transfer != Transfer::linear) {
        try {
            table.resize(static_cast<size_t>(plan.in.top) + 1);
        } catch (...) {
            return false;
        }
        for (size_t v = 0; v < table.size(); ++v) {
            const double u = static_cast<double>(v) / plan.in.top;
            table[v] = plan.in.top * (diagnosis.transfer == Transfer::decoded ? linearToSrgb(u) : srgbToLinear(u));
        }
        plan.transfer = table.data();
    }
    if (!startImage(output, static_cast<uint32_t>(source.width), static_cast<uint32_t>(source.height),
                    plan.outSixteen ? 16 : 8, plan.alphaOut))
        return false;
    plan.output = output;

    const int64_t pixels = int64_t{source.width} * source.height;
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    const unsigned workers = pixels < 2 * pixelsWorthAThread
                                 ? 1
                                 : static_cast<unsigned>(std::min<int64_t>({cores, 8, pixels / pixelsWorthAThread}));
    std::vector<std::thread> helpers;
    auto band = [&](unsigned k) {
        repairRows(plan, static_cast<int32_t>(int64_t{source.height} * k / workers),
                   static_cast<int32_t>(int64_t{source.height} * (k + 1) / workers));
    };
    for (unsigned k = 1; k < workers; ++k) {
        try {
            helpers.emplace_back(band, k);
        } catch (...) {
            band(k);
        }
    }
    band(0);
    for (std::thread& helper : helpers) helper.join();
    return true;
}

CheckResult checkMap(const Image& image, GreenConvention expected) {
    CheckResult result;
    result.measurements = measureMap(image);
    result.diagnosis = diagnose(result.measurements);
    result.findings = result.diagnosis.findings;
    if (result.findings & unfixableFindings) return result;
    // The convention is told on an 8-bit copy of the map as the repairs
    // leave it, re-normalised only when most vectors are not unit (the
    // detection reads unit vectors only); a map that needs neither is read
    // as it is.
    const Diagnosis& d = result.diagnosis;
    const Measurements& m = result.measurements;
    const Reading& reading = (d.packed ? m.packed : m.reading)[static_cast<int>(d.transfer)];
    const bool shortVectors = !d.zMissing && reading.unitShare < 0.5;
    const bool copied = d.packed || d.zMissing || d.zInverted || d.transfer != Transfer::linear || shortVectors ||
                        isSixteenBit(image);
    if (copied) {
        Image fixed{};
        RepairOptions options;
        options.keepAlpha = false;
        options.eightBit = true;
        options.renormalize = shortVectors;
        if (repairMap(image, d, options, &fixed)) result.convention = detectGreenConvention(fixed);
        resetImage(&fixed);
    } else {
        result.convention = detectGreenConvention(image);
    }
    if (expected != GreenConvention::unknown) {
        if (result.convention.convention == GreenConvention::unknown)
            result.findings |= findingConventionUnknown;
        else if (result.convention.convention != expected)
            result.findings |= findingWrongConvention;
    }
    return result;
}
