// The repairs, one row at a time, and the whole check of one map.
#include "check/repair.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "adjust/adjust.h"
#include "check/measure.h"
#include "check/transfer.h"
#include "image/bands.h"
#include "image/rows.h"

namespace check {
namespace {

struct RepairPlan {
    const ImageRows* source;
    const Diagnosis* diagnosis;
    RepairOptions options;
    bool alphaOut;
    const double* transfer;  // a table over every input sample, or null
    Image* output;
};

// Repairs picture rows [first, last) of `In` samples into `Out` samples.
// The samples are read, inverted and decoded as the adjustment does it
// (adjust/adjust.h), Z rebuilt when it is missing, and the vectors
// re-normalised and encoded by the adjustment too. A transfer undone comes
// between reading and decoding: then green and blue are turned round on
// the linear values, which no sample inversion gives.
template <typename In, typename Out>
void repairRows(const RepairPlan& plan, uint32_t first, uint32_t last) {
    const ImageRows& source = *plan.source;
    const Diagnosis& d = *plan.diagnosis;
    const size_t width = source.width;
    std::unique_ptr<In[]> samples(new (std::nothrow) In[4 * width]);
    std::unique_ptr<double[]> vectors(new (std::nothrow) double[3 * width]);
    if (!samples || !vectors) return;
    double* const xs = vectors.get();
    double* const ys = xs + width;
    double* const zs = ys + width;
    constexpr double inTop = SampleEncoding<In>::top;
    constexpr double outTop = SampleEncoding<Out>::top;
    AdjustOptions invert = defaultAdjustOptions;
    invert.invertGreen = plan.options.flipGreen ? 1 : 0;
    invert.invertBlue = d.zInverted ? 1 : 0;
    const size_t outChannels = plan.alphaOut ? 4 : 3;
    const size_t outRow = width * outChannels;
    for (uint32_t r = first; r < last; ++r) {
        In* const rgba = samples.get();
        if constexpr (sizeof(In) == 1) {
            readRow8(source, source.row(r), rgba);
            if (!plan.transfer) adjustRgbRows(rgba, width, 1, 4 * width, 4, invert);
        } else {
            readRowFull(source, source.row(r), rgba);
            if (!plan.transfer) adjustWordPixels(rgba, width, 4, invert);
        }
        for (size_t c = 0; c < width; ++c) {
            const In* s = rgba + 4 * c;
            const uint32_t stored[3] = {d.packed ? s[3] : s[0], s[1], s[2]};
            float component[3];
            if (!plan.transfer) {
                // Whole samples, as the adjustment reads them.
                for (int k = 0; k < 3; ++k) component[k] = decodeSample<In>(static_cast<int32_t>(stored[k]));
            } else {
                double value[3];
                for (int k = 0; k < 3; ++k) value[k] = plan.transfer[stored[k]];
                if (plan.options.flipGreen) value[1] = inTop - value[1];
                if (d.zInverted) value[2] = inTop - value[2];
                for (int k = 0; k < 3; ++k) component[k] = decodeSample<In>(value[k]);
            }
            const double x = component[0], y = component[1];
            xs[c] = x;
            ys[c] = y;
            zs[c] = d.zMissing ? std::sqrt(std::max(0.0, 1.0 - x * x - y * y)) : double{component[2]};
        }
        Out* const out = reinterpret_cast<Out*>(plan.output->pixels) + static_cast<size_t>(r) * outRow;
        if (plan.options.renormalize) {
            renormalizeVectors(xs, ys, zs, width, out, outChannels);
        } else {
            // The vectors as the repairs leave them, rounded to the nearest sample.
            for (size_t c = 0; c < width; ++c) {
                const double v[3] = {xs[c], ys[c], zs[c]};
                for (int k = 0; k < 3; ++k)
                    out[c * outChannels + static_cast<size_t>(k)] = static_cast<Out>(std::lround(std::clamp(
                        v[k] * SampleEncoding<Out>::steps + SampleEncoding<Out>::middle, 0.0, outTop)));
            }
        }
        if (plan.alphaOut)
            for (size_t c = 0; c < width; ++c) {
                const In a = rgba[4 * c + 3];
                out[c * outChannels + 3] = sizeof(Out) == sizeof(In) ? static_cast<Out>(a)
                                                                     : static_cast<Out>(reduceSample(a));
            }
    }
}

constexpr uint64_t pixelsWorthAThread = uint64_t{1} << 20;
constexpr unsigned mostWorkers = 8;

}  // namespace
}  // namespace check

using namespace check;

bool repairMap(const Image& input, const Diagnosis& diagnosis, const RepairOptions& options, Image* output) {
    if (!output) return false;
    resetImage(output);
    ImageRows source;
    if (!checkedRows(input, source)) return false;
    RepairPlan plan{};
    plan.source = &source;
    plan.diagnosis = &diagnosis;
    plan.options = options;
    const bool outSixteen = source.sixteen && !options.eightBit;
    plan.alphaOut = source.alpha && options.keepAlpha;
    // The transfer undone on every possible sample, once.
    std::vector<double> table;
    if (diagnosis.transfer != Transfer::linear) {
        const double top = source.sixteen ? 65535.0 : 255.0;
        try {
            table.resize(static_cast<size_t>(top) + 1);
        } catch (...) {
            return false;
        }
        for (size_t v = 0; v < table.size(); ++v) {
            const double u = static_cast<double>(v) / top;
            table[v] = top * (diagnosis.transfer == Transfer::decoded ? linearToSrgb(u) : srgbToLinear(u));
        }
        plan.transfer = table.data();
    }
    if (!startImage(output, source.width, source.height, outSixteen ? 16 : 8, plan.alphaOut)) return false;
    plan.output = output;

    void (*const rows)(const RepairPlan&, uint32_t, uint32_t) =
        !source.sixteen ? repairRows<uint8_t, uint8_t>
                        : outSixteen ? repairRows<uint16_t, uint16_t> : repairRows<uint16_t, uint8_t>;
    const unsigned workers =
        pixelWorkers(uint64_t{source.width} * source.height, pixelsWorthAThread, mostWorkers);
    runInBands(source.height, workers, [&](uint32_t first, uint32_t last) { rows(plan, first, last); });
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
