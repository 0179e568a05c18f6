// The check and its repairs on real maps: every map of a labelled folder
// (MANIFEST.tsv: file name first, green convention sixth) is damaged in each
// of the ways tests/unit/map_damage.h knows, one at a time and in a few
// pairs, and run through the very check --check runs (checkMap). Prints how
// often each damage is named, how often undamaged maps raise a finding, how
// often the pictures in not-normal/ come out not-a-normal-map, and how
// closely --fix's repair gives back the undamaged map as re-normalisation
// gives it (within 2 levels a channel, over the pixels the damage kept).
// Usage: check_accuracy DIR [-v]
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "adjust/adjust.h"
#include "check/diagnose.h"
#include "check/repair.h"
#include "readers/readers.h"
#include "tests/unit/map_damage.h"

using damage::Damage;

namespace {

struct Labelled {
    std::string path;
    GreenConvention convention;
};

// A top-down 24-bit red-green-blue copy of a loaded picture.
Image packedRgb(const Image& loaded) {
    Image rgb = damage::blankLike(loaded, false);
    const size_t step = static_cast<size_t>(loaded.bitsPerPixel / 8);
    const size_t stride = static_cast<size_t>(loaded.width) * step + static_cast<size_t>(loaded.rowPad);
    for (int32_t r = 0; r < loaded.height; ++r) {
        const int32_t memoryRow = loaded.bottomUp ? loaded.height - 1 - r : r;
        for (int32_t c = 0; c < loaded.width; ++c) {
            const uint8_t* p = loaded.pixels + static_cast<size_t>(memoryRow) * stride + static_cast<size_t>(c) * step;
            uint8_t* q = rgb.pixels + (static_cast<size_t>(r) * static_cast<size_t>(loaded.width) + static_cast<size_t>(c)) * 3;
            q[0] = p[loaded.bgrOrder ? 2 : 0];
            q[1] = p[1];
            q[2] = p[loaded.bgrOrder ? 0 : 2];
        }
    }
    return rgb;
}

struct Case {
    std::vector<Damage> damages;  // applied in order
    std::string name() const {
        std::string text;
        for (Damage d : damages) text += (text.empty() ? "" : " + ") + std::string(damage::damageName(d));
        return text;
    }
    uint32_t wanted() const {
        uint32_t bits = 0;
        for (Damage d : damages) bits |= damage::findingOf(d);
        return bits;
    }
    bool flipped() const { return std::find(damages.begin(), damages.end(), Damage::greenFlipped) != damages.end(); }
};

struct Tally {
    int maps = 0, named = 0, exact = 0;  // exact: the wanted findings and no other
    std::map<std::string, int> extras;
    int64_t compared = 0, close = 0, lost = 0, lostClose = 0, pixels = 0, allClose = 0;
    int worstLost = 0;
    int fixedMaps = 0, fixedGood = 0;  // maps whose kept pixels are 99% within 2 levels
};

void show(const char* what, const Case& c, const CheckResult& result) {
    const Measurements& m = result.measurements;
    const Reading& r = (result.diagnosis.packed ? m.packed : m.reading)[static_cast<int>(result.diagnosis.transfer)];
    std::printf("  %-32s|%-36s| med %5.1f %5.1f unit %.3f len %.2f/%.2f negZ %.3f up %.3f/%.3f gap %.3f in %.3f grey %.2f corr %+.2f "
                "blueMode %.2f fill %.2f conv %s %.2f\n",
                what, c.name().c_str(), r.medianX, r.medianY, r.unitShare, r.meanLength, r.medianLength,
                r.negativeZShare, r.uprightShare, r.invertedUprightShare, r.rebuiltGap, r.insideShare, m.greyShare,
                m.channelCorrelation, m.blueModeShare, static_cast<double>(m.fill) / static_cast<double>(m.sampled),
                result.convention.convention == GreenConvention::openGl    ? "gl"
                : result.convention.convention == GreenConvention::directX ? "dx"
                                                                            : "?",
                static_cast<double>(result.convention.confidence));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: check_accuracy DIR [-v]\n");
        return 2;
    }
    const std::filesystem::path dir(argv[1]);
    const bool verbose = argc > 2;
    std::vector<Labelled> maps;
    std::ifstream manifest(dir / "MANIFEST.tsv");
    for (std::string line; std::getline(manifest, line);) {
        std::istringstream fields(line);
        std::vector<std::string> cells;
        for (std::string cell; std::getline(fields, cell, '\t');) cells.push_back(cell);
        if (cells.size() < 6 || cells[0] == "file") continue;
        maps.push_back({(dir / cells[0]).string(), cells[5] == "opengl"    ? GreenConvention::openGl
                                                   : cells[5] == "directx" ? GreenConvention::directX
                                                                           : GreenConvention::unknown});
    }
    const std::vector<Case> cases = {
        {{Damage::none}},
        {{Damage::blackFill}},
        {{Damage::flatFill}},
        {{Damage::zZero}},
        {{Damage::zFilled}},
        {{Damage::zInverted}},
        {{Damage::dxt5nmBlueZero}},
        {{Damage::dxt5nmBlueGreen}},
        {{Damage::srgbDecoded}},
        {{Damage::srgbEncoded}},
        {{Damage::shortened}},
        {{Damage::objectSpace}},
        {{Damage::greenFlipped}},
        {{Damage::greenFlipped, Damage::zZero}},
        {{Damage::greenFlipped, Damage::srgbDecoded}},
        {{Damage::srgbDecoded, Damage::dxt5nmBlueGreen}},
        {{Damage::shortened, Damage::greenFlipped}},
        {{Damage::blackFill, Damage::zInverted}},
        {{Damage::blackFill, Damage::srgbEncoded}},
    };
    std::vector<Tally> tallies(cases.size());
    Tally expectOk;  // undamaged maps checked with --expect and their label

    for (const Labelled& map : maps) {
        Image loaded{};
        if (!readImageFile(map.path.c_str(), &loaded)) {
            std::fprintf(stderr, "%s: cannot load\n", map.path.c_str());
            return 1;
        }
        Image original = packedRgb(loaded);
        resetImage(&loaded);
        Image reference{};
        reference = damage::blankLike(original, false);
        std::copy_n(original.pixels, original.dataSize, reference.pixels);
        AdjustOptions renormalise = defaultAdjustOptions;
        renormalise.renormalize = 1;
        adjustPixels(&reference, renormalise);
        if (verbose) std::printf("%s\n", map.path.c_str());

        for (size_t k = 0; k < cases.size(); ++k) {
            const Case& c = cases[k];
            Image damaged = damage::blankLike(original, false);
            std::copy_n(original.pixels, original.dataSize, damaged.pixels);
            for (Damage d : c.damages) {
                Image next = damage::applyDamage(damaged, d);
                resetImage(&damaged);
                damaged = next;
            }
            const GreenConvention expect = c.flipped() ? map.convention : GreenConvention::unknown;
            const CheckResult result = checkMap(damaged, expect);
            if (verbose) show(findingWords(result.findings).c_str(), c, result);
            Tally& t = tallies[k];
            ++t.maps;
            const uint32_t wanted = c.wanted();
            if ((result.findings & wanted) == wanted && (wanted != 0 || result.findings == 0)) ++t.named;
            if (result.findings == wanted) ++t.exact;
            if (const uint32_t extra = result.findings & ~wanted) ++t.extras[findingWords(extra)];
            if (c.damages[0] == Damage::none) {
                const CheckResult labelled = checkMap(damaged, map.convention);
                ++expectOk.maps;
                if (labelled.findings == 0) ++expectOk.named;
                else ++expectOk.extras[findingWords(labelled.findings)];
            }

            // The repair against re-normalisation of the undamaged map.
            const bool named = (result.findings & wanted) == wanted;
            if (named && !(result.findings & unfixableFindings) && c.damages[0] != Damage::blackFill &&
                c.damages[0] != Damage::flatFill) {
                RepairOptions options;
                options.keepAlpha = false;
                options.eightBit = true;
                options.flipGreen = (result.findings & findingWrongConvention) != 0;
                Image fixed{};
                if (repairMap(damaged, result.diagnosis, options, &fixed)) {
                    int64_t compared = 0, close = 0;
                    std::vector<std::array<int, 256>> shared;
                    for (Damage d : c.damages) shared.push_back(damage::sharedCounts(d));
                    for (size_t i = 0; i < original.dataSize; i += 3) {
                        int error = 0;
                        for (int ch = 0; ch < 3; ++ch)
                            error = std::max(error, std::abs(fixed.pixels[i + ch] - reference.pixels[i + ch]));
                        bool kept = true;
                        for (size_t j = 0; j < c.damages.size(); ++j)
                            kept = kept && damage::keptInformation(c.damages[j], original.pixels + i, shared[j]);
                        ++t.pixels;
                        t.allClose += error <= 2;
                        if (kept) {
                            ++compared;
                            close += error <= 2;
                        } else {
                            ++t.lost;
                            t.lostClose += error <= 2;
                            t.worstLost = std::max(t.worstLost, error);
                        }
                    }
                    if (verbose)
                        std::printf("    fix: %.3f%% of %lld kept pixels within 2 levels\n",
                                    100.0 * static_cast<double>(close) / static_cast<double>(std::max<int64_t>(1, compared)),
                                    static_cast<long long>(compared));
                    t.compared += compared;
                    t.close += close;
                    ++t.fixedMaps;
                    if (static_cast<double>(close) >= 0.99 * static_cast<double>(compared)) ++t.fixedGood;
                }
                resetImage(&fixed);
            }
            resetImage(&damaged);
        }
        resetImage(&original);
        resetImage(&reference);
    }

    std::printf("%zu real maps\n", maps.size());
    std::printf("Fixes are compared on the maps where the damage was named: maps with 99%% of their kept pixels\n"
                "within 2 levels of the re-normalised undamaged map, the kept pixels within 2 levels, all pixels.\n");
    std::printf("%-40s %8s %8s %8s %8s %8s %s\n", "damage", "named", "exactly", "fix 99%", "kept px", "all px",
                "other findings");
    for (size_t k = 0; k < cases.size(); ++k) {
        const Tally& t = tallies[k];
        std::string extras;
        for (const auto& [words, count] : t.extras) extras += words + " x" + std::to_string(count) + "; ";
        char fix[32] = "-", pixels[32] = "-", all[32] = "-";
        if (t.fixedMaps) {
            std::snprintf(fix, sizeof fix, "%d/%d", t.fixedGood, t.fixedMaps);
            std::snprintf(pixels, sizeof pixels, "%.2f%%",
                          100.0 * static_cast<double>(t.close) / static_cast<double>(std::max<int64_t>(1, t.compared)));
            std::snprintf(all, sizeof all, "%.2f%%",
                          100.0 * static_cast<double>(t.allClose) / static_cast<double>(std::max<int64_t>(1, t.pixels)));
        }
        std::printf("%-40s %4d/%-3d %4d/%-3d %8s %8s %8s %s\n", cases[k].name().c_str(), t.named, t.maps, t.exact,
                    t.maps, fix, pixels, all, extras.c_str());
        if (t.lost)
            std::printf("%40s   %.2f%% of the pixels not kept; of those %.1f%% within 2 levels, worst %d\n", "",
                        100.0 * static_cast<double>(t.lost) / static_cast<double>(t.pixels),
                        100.0 * static_cast<double>(t.lostClose) / static_cast<double>(t.lost), t.worstLost);
    }
    std::string extras;
    for (const auto& [words, count] : expectOk.extras) extras += words + " x" + std::to_string(count) + "; ";
    std::printf("undamaged, --expect with the label: %d/%d without a finding; %s\n", expectOk.named, expectOk.maps,
                extras.c_str());

    int notNormal = 0, pictures = 0;
    std::string missed;
    for (const auto& entry : std::filesystem::directory_iterator(dir / "not-normal")) {
        if (entry.path().extension() != ".png") continue;
        Image loaded{};
        if (!readImageFile(entry.path().string().c_str(), &loaded)) continue;
        const CheckResult result = checkMap(loaded, GreenConvention::unknown);
        ++pictures;
        if (result.findings == findingNotANormalMap) ++notNormal;
        else missed += entry.path().filename().string() + " (" + findingWords(result.findings) + ") ";
        if (verbose) show(findingWords(result.findings).c_str(), Case{{Damage::none}}, result);
        resetImage(&loaded);
    }
    std::printf("not-normal/: %d/%d not-a-normal-map %s\n", notNormal, pictures, missed.c_str());
    return 0;
}
