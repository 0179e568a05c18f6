#include "check/diagnose.h"
#include "check/measure.h"
#include "check/repair.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "adjust/adjust.h"
#include "tests/unit/generated_normal_maps.h"
#include "tests/unit/map_damage.h"

namespace {

using damage::Damage;
using namespace normalmaps;

// An Image released on destruction.
struct Owned {
    Image image{};
    Owned() = default;
    explicit Owned(Image taken) : image(taken) {}
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;
    ~Owned() { resetImage(&image); }
};

// A smooth relief of value noise, as a baker writes it with green up: a
// top-down 24-bit red-green-blue picture.
Image relief(Relief kind = Relief::noise, int32_t side = 192) {
    return makeMap({kind, GreenConvention::openGl, side, side, 3, 1});
}

Image copyOf(const Image& source) {
    Image copy = damage::blankLike(source, source.bitsPerPixel == 32);
    std::memcpy(copy.pixels, source.pixels, source.dataSize);
    return copy;
}

// The map as re-normalisation gives it, which --fix aims at.
Image renormalised(const Image& source) {
    Image copy = copyOf(source);
    AdjustOptions options = defaultAdjustOptions;
    options.renormalize = 1;
    adjustPixels(&copy, options);
    return copy;
}

// Share of the pixels the damages kept whose repair lies within 2 levels of
// the re-normalised undamaged map on every channel.
double closeShare(const Image& original, const Image& fixed, const Image& reference, Damage d,
                  Damage then = Damage::none) {
    const auto shared = damage::sharedCounts(d);
    const auto sharedThen = damage::sharedCounts(then);
    int64_t kept = 0, close = 0;
    for (size_t i = 0; i < original.dataSize; i += 3) {
        if (!damage::keptInformation(d, original.pixels + i, shared) ||
            !damage::keptInformation(then, original.pixels + i, sharedThen))
            continue;
        ++kept;
        int error = 0;
        for (int k = 0; k < 3; ++k) error = std::max(error, std::abs(fixed.pixels[i + k] - reference.pixels[i + k]));
        close += error <= 2;
    }
    EXPECT_GT(kept, static_cast<int64_t>(original.dataSize / 3 / 4)) << "too few pixels kept to judge";
    return kept ? static_cast<double>(close) / static_cast<double>(kept) : 0.0;
}

struct DamageCase {
    const char* name;
    Damage damage;
    uint32_t findings;  // what --check must say
    bool fixable;
    Damage then = Damage::none;  // a second damage on top of the first
};

void PrintTo(const DamageCase& c, std::ostream* os) { *os << c.name; }

class DamagedMapTest : public ::testing::TestWithParam<DamageCase> {};

// Each damage is named, alone, and the repair gives back the map as
// re-normalisation of the undamaged one gives it, where the damage kept
// the information; what cannot be repaired is not written.
TEST_P(DamagedMapTest, IsNamedAndRepaired) {
    const DamageCase& c = GetParam();
    Owned undamaged(relief());
    Image first = damage::applyDamage(undamaged.image, c.damage);
    Owned damaged(c.then == Damage::none ? first : damage::applyDamage(first, c.then));
    if (c.then != Damage::none) resetImage(&first);
    // Padding is part of a good map: it comes back as re-normalisation
    // leaves it.
    const Image& original = c.findings == 0 ? damaged.image : undamaged.image;
    const GreenConvention expect = c.damage == Damage::greenFlipped ? GreenConvention::openGl : GreenConvention::unknown;
    const CheckResult result = checkMap(damaged.image, expect);
    EXPECT_EQ(findingWords(result.findings), findingWords(c.findings));
    if (!c.fixable) {
        EXPECT_NE(result.findings & unfixableFindings, 0u);
        return;
    }
    RepairOptions options;
    options.flipGreen = (result.findings & findingWrongConvention) != 0;
    options.keepAlpha = false;
    Owned fixed;
    ASSERT_TRUE(repairMap(damaged.image, result.diagnosis, options, &fixed.image));
    ASSERT_EQ(fixed.image.bitsPerPixel, 24);
    Owned reference(renormalised(original));
    EXPECT_GE(closeShare(original, fixed.image, reference.image, c.damage, c.then), 0.99);
    // The repaired map checks out clean.
    EXPECT_EQ(findingWords(checkMap(fixed.image, expect).findings), "");
}

const DamageCase damageCases[] = {
    {"undamaged", Damage::none, 0, true},
    {"black padding round islands", Damage::blackFill, 0, true},
    {"flat padding round islands", Damage::flatFill, 0, true},
    {"blue 0", Damage::zZero, findingZMissing, true},
    {"blue 128", Damage::zFilled, findingZMissing, true},
    {"blue inverted", Damage::zInverted, findingZInverted, true},
    {"dxt5nm, blue 0", Damage::dxt5nmBlueZero, findingDxt5nm, true},
    {"dxt5nm, blue a copy of green", Damage::dxt5nmBlueGreen, findingDxt5nm, true},
    {"read as srgb and decoded", Damage::srgbDecoded, findingSrgbDecoded, true},
    {"encoded as srgb", Damage::srgbEncoded, findingSrgbEncoded, true},
    {"shortened", Damage::shortened, findingNotNormalized, true},
    {"blue filled with 255", Damage::zWhite, findingZMissing, true},
    {"blue filled with 240", Damage::zLight, findingZMissing, true},
    {"blue 255, then encoded as srgb", Damage::zWhite, findingZMissing | findingSrgbEncoded, true, Damage::srgbEncoded},
    {"blue 255, then read as srgb", Damage::zWhite, findingZMissing | findingSrgbDecoded, true, Damage::srgbDecoded},
    {"shortened to 0.8", Damage::shortened08, findingNotNormalized, true},
    {"shortened to 0.9", Damage::shortened09, findingNotNormalized, true},
    {"shortened to 0.8, blue inverted", Damage::shortened08, findingNotNormalized | findingZInverted, true,
     Damage::zInverted},
    {"shortened to 0.9, blue inverted", Damage::shortened09, findingNotNormalized | findingZInverted, true,
     Damage::zInverted},
    {"object space", Damage::objectSpace, findingObjectSpace, false},
    {"other convention", Damage::greenFlipped, findingWrongConvention, true},
};

INSTANTIATE_TEST_SUITE_P(Damages, DamagedMapTest, ::testing::ValuesIn(damageCases));

// Pictures that are no normal map at all.
TEST(CheckPictures, PhotographsAndHeightMapsAreNoNormalMaps) {
    for (const Relief kind : {Relief::photo, Relief::greyscale}) {
        Owned picture(relief(kind));
        EXPECT_EQ(checkMap(picture.image, GreenConvention::unknown).findings, uint32_t{findingNotANormalMap});
    }
    Owned black(relief(Relief::flat));
    std::memset(black.image.pixels, 0, black.image.dataSize);
    EXPECT_EQ(checkMap(black.image, GreenConvention::unknown).findings, uint32_t{findingNotANormalMap});
}

// A gradient from yellow to navy read as vectors: X and Y near the middle
// and Z turned away, but its colours follow no unit-vector law (the corners
// lie outside the unit disc), so it is no map, and not a map with Z
// inverted or run through the sRGB curve.
TEST(CheckPictures, GradientIsNoNormalMap) {
    Owned gradient(relief(Relief::flat));
    const int32_t side = gradient.image.width;
    for (int32_t r = 0; r < side; ++r)
        for (int32_t c = 0; c < side; ++c) {
            const double t = (c + r) / (2.0 * (side - 1));
            uint8_t* p = gradient.image.pixels + (static_cast<size_t>(r) * static_cast<size_t>(side) + static_cast<size_t>(c)) * 3;
            p[0] = p[1] = damage::rounded(255 * (1 - t));
            p[2] = damage::rounded(128 * t);
        }
    EXPECT_EQ(findingWords(checkMap(gradient.image, GreenConvention::unknown).findings), "not-a-normal-map");
}

// A flat map is a good map whose convention cannot be told.
TEST(CheckPictures, FlatMapIsOkAndItsConventionUnknown) {
    Owned flat(relief(Relief::flat));
    EXPECT_EQ(checkMap(flat.image, GreenConvention::unknown).findings, 0u);
    EXPECT_EQ(checkMap(flat.image, GreenConvention::directX).findings, uint32_t{findingConventionUnknown});
}

// The convention is told on the repaired map, and a map of the expected
// convention raises nothing.
TEST(CheckPictures, ConventionIsToldThroughTheDamage) {
    Owned original(relief());
    Owned damaged(damage::applyDamage(original.image, Damage::srgbDecoded));
    const CheckResult result = checkMap(damaged.image, GreenConvention::openGl);
    EXPECT_EQ(result.convention.convention, GreenConvention::openGl);
    EXPECT_EQ(result.findings, uint32_t{findingSrgbDecoded});
    EXPECT_EQ(checkMap(damaged.image, GreenConvention::directX).findings,
              uint32_t{findingSrgbDecoded | findingWrongConvention});
}

// The same map in every layout the record holds.
enum class Store { rgb24, bgra32BottomUpPadded, rgb48, rgba64 };
Image stored(const Image& rgb, Store store);

Image stored(const Image& rgb, Store store) {
    Image out{};
    const uint32_t w = static_cast<uint32_t>(rgb.width), h = static_cast<uint32_t>(rgb.height);
    if (store == Store::rgb24) return copyOf(rgb);
    if (store == Store::bgra32BottomUpPadded) {
        const int32_t pad = 8;
        out.width = rgb.width, out.height = rgb.height, out.bitsPerPixel = 32, out.rowBytes = 4 * rgb.width;
        out.rowPad = pad, out.bgrOrder = 1, out.bottomUp = 1, out.sampleBits = 8;
        out.dataSize = (4 * w + pad) * h;
        out.pixels = static_cast<uint8_t*>(std::calloc(out.dataSize, 1));
        for (uint32_t r = 0; r < h; ++r)
            for (uint32_t c = 0; c < w; ++c) {
                const uint8_t* p = rgb.pixels + (r * w + c) * 3;
                uint8_t* q = out.pixels + (h - 1 - r) * (4 * w + pad) + 4 * c;
                q[0] = p[2], q[1] = p[1], q[2] = p[0], q[3] = 7;
            }
        return out;
    }
    const bool alpha = store == Store::rgba64;
    EXPECT_TRUE(startImage(&out, w, h, 16, alpha));
    uint16_t* words = reinterpret_cast<uint16_t*>(out.pixels);
    for (uint32_t i = 0; i < w * h; ++i)
        for (int k = 0; k < (alpha ? 4 : 3); ++k)
            words[i * (alpha ? 4 : 3) + static_cast<uint32_t>(k)] = k < 3 ? widenSample(rgb.pixels[i * 3 + static_cast<uint32_t>(k)]) : 1000;
    return out;
}

class LayoutTest : public ::testing::TestWithParam<Store> {};

// Every layout measures as the plain one and takes the same repair; 16-bit
// maps stay 16-bit, and their alpha is kept or dropped as asked.
TEST_P(LayoutTest, MeasuresAndRepairsAsThePlainPicture) {
    Owned original(relief());
    Owned damaged(damage::applyDamage(original.image, Damage::zZero));
    Owned plain(stored(damaged.image, Store::rgb24));
    Owned other(stored(damaged.image, GetParam()));
    const CheckResult a = checkMap(plain.image, GreenConvention::openGl);
    const CheckResult b = checkMap(other.image, GreenConvention::openGl);
    EXPECT_EQ(b.findings, a.findings);
    EXPECT_EQ(b.findings, uint32_t{findingZMissing});
    const Reading& ra = a.measurements.reading[0];
    const Reading& rb = b.measurements.reading[0];
    EXPECT_NEAR(rb.unitShare, ra.unitShare, 0.01);
    EXPECT_NEAR(rb.medianX, ra.medianX, 1.0);
    EXPECT_EQ(b.measurements.sampleBits, GetParam() == Store::rgb48 || GetParam() == Store::rgba64 ? 16 : 8);

    for (const bool keep : {true, false}) {
        RepairOptions options;
        options.keepAlpha = keep;
        Owned fixedPlain, fixedOther;
        ASSERT_TRUE(repairMap(plain.image, a.diagnosis, options, &fixedPlain.image));
        ASSERT_TRUE(repairMap(other.image, b.diagnosis, options, &fixedOther.image));
        const bool sixteen = isSixteenBit(other.image);
        EXPECT_EQ(fixedOther.image.sampleBits, sixteen ? 16 : 8);
        EXPECT_EQ(fixedOther.image.hasAlpha != 0, keep && other.image.hasAlpha != 0);
        // Pixel for pixel within a level of the plain repair, within two
        // at 16 bits, whose middle (32768) is not 128 widened (32896).
        const size_t channels = fixedOther.image.hasAlpha ? 4 : 3;
        int worst = 0;
        for (size_t i = 0; i < static_cast<size_t>(plain.image.width) * static_cast<size_t>(plain.image.height); ++i)
            for (size_t k = 0; k < 3; ++k) {
                const size_t at = i * channels + k;
                const int value = sixteen ? reduceSample(reinterpret_cast<const uint16_t*>(fixedOther.image.pixels)[at])
                                          : fixedOther.image.pixels[at];
                worst = std::max(worst, std::abs(value - fixedPlain.image.pixels[i * 3 + k]));
            }
        EXPECT_LE(worst, sixteen ? 2 : 1);
    }
}

// An undamaged map is repaired into the very samples re-normalisation
// writes, at 8 and at 16 bits.
TEST(CheckRepair, UndamagedMapComesBackAsRenormalisationWritesIt) {
    Owned map(makeMap({Relief::bricks, GreenConvention::directX, 97, 61, 5, 1, Layout::rgb24, false, 1.0, 3}));
    for (const Store store : {Store::rgb24, Store::rgb48}) {
        Owned original(stored(map.image, store));
        Owned fixed, reference;
        ASSERT_TRUE(repairMap(original.image, Diagnosis{}, RepairOptions{}, &fixed.image));
        ASSERT_TRUE(repairMap(original.image, Diagnosis{}, RepairOptions{}, &reference.image));
        AdjustOptions options = defaultAdjustOptions;
        options.renormalize = 1;
        std::memcpy(reference.image.pixels, original.image.pixels, original.image.dataSize);
        adjustPixels(&reference.image, options);
        ASSERT_EQ(fixed.image.dataSize, reference.image.dataSize);
        EXPECT_EQ(std::memcmp(fixed.image.pixels, reference.image.pixels, reference.image.dataSize), 0)
            << original.image.sampleBits << " bits";
    }
}

INSTANTIATE_TEST_SUITE_P(Layouts, LayoutTest,
                         ::testing::Values(Store::rgb24, Store::bgra32BottomUpPadded, Store::rgb48, Store::rgba64));

// Records that hold no readable picture are refused, never read past.
TEST(CheckRecords, BrokenRecordsAreNotRead) {
    Owned map(relief(Relief::noise, 16));
    Image broken = map.image;
    broken.dataSize = map.image.dataSize - 1;  // the last row would run past the end
    EXPECT_FALSE(measureMap(broken).valid);
    Owned out;
    EXPECT_FALSE(repairMap(broken, Diagnosis{}, RepairOptions{}, &out.image));
    broken = map.image;
    broken.bitsPerPixel = 40;
    EXPECT_FALSE(measureMap(broken).valid);
    broken = map.image;
    broken.pixels = nullptr;
    EXPECT_EQ(checkMap(broken, GreenConvention::unknown).findings, uint32_t{findingNotANormalMap});
}

// The fixed words, in their fixed order, and the desktop program's phrases.
TEST(CheckWords, FindingsAreNamedInOrder) {
    EXPECT_EQ(findingWords(findingSrgbDecoded | findingZMissing | findingWrongConvention),
              "z-missing, srgb-decoded, wrong-convention");
    EXPECT_EQ(findingPhrase(findingZMissing), "Z missing");
    EXPECT_EQ(findingPhrase(findingNotANormalMap | findingDxt5nm), "DXT5nm layout, not a normal map");
    EXPECT_EQ(findingWords(0), "");
    for (int k = 0; k < findingCount; ++k)
        EXPECT_STRNE(findingName(static_cast<Finding>(1u << k)), "unknown");
}

}  // namespace
