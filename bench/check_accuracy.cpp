// The check and its repairs on real maps: every map of a labelled folder
// (MANIFEST.tsv: file name first, green convention sixth) is damaged in each
// of the ways tests/unit/map_damage.h knows, one at a time and in pairs, and
// run through the very check --check runs (checkMap). Prints how often each
// damage is named, how often undamaged maps raise a finding, how often
// pictures that are no normal maps come out not-a-normal-map, and how often
// --fix's repair gives back the undamaged map as re-normalisation gives it
// (99% of the pixels the damage kept within 2 levels a channel).
//
// A damage that turns under 1% of a map's vectors by more than 2 degrees and
// shortens under 1% by 5% (blue filled with 255 on a nearly flat map, green
// flipped on a flat one) changes nothing a renderer shows: such copies are
// counted apart and left out of the shares.
//
// Usage: check_accuracy DIR [--nonmaps DIR2] [-v]
//        check_accuracy --generated [-v]
// DIR holds MANIFEST.tsv and the maps, and DIR/not-normal/ pictures that are
// no normal maps; DIR2 more of those, named KIND-NAME.png (bench/make-nonmaps
// makes them from ImageMagick's built-in pictures and generated ones, and the
// photographs, textures and masks of the Debian packages python3-skimage,
// gnome-backgrounds and desktop-base). --generated runs the same on maps and
// non-maps made by tests/unit/generated_normal_maps.h.
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
#include "tests/unit/generated_normal_maps.h"
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
    int unchanged = 0;                   // copies the damage hardly changed, left out
    int fixable = 0, givenBack = 0;      // copies --fix writes and gives back
    std::map<std::string, int> extras;
    int64_t compared = 0, close = 0, lost = 0, lostClose = 0, pixels = 0, allClose = 0;
    int worstLost = 0;
    int fixedMaps = 0, fixedGood = 0;  // maps whose kept pixels are 99% within 2 levels
};

void show(const char* what, const Case& c, const CheckResult& result) {
    const Measurements& m = result.measurements;
    const Reading& r = (result.diagnosis.packed ? m.packed : m.reading)[static_cast<int>(result.diagnosis.transfer)];
    std::printf("  %-32s|%-36s| med %5.1f %5.1f unit %.3f len %.2f/%.2f negZ %.3f up %.3f/%.3f gap %.3f in %.3f grey %.2f corr %+.2f "
                "blueMode %.2f fill %.2f longest %.2f flat %.2f/%.2f/%.2f contra %.3f face %.3f conv %s %.2f\n",
                what, c.name().c_str(), r.medianX, r.medianY, r.unitShare, r.meanLength, r.medianLength,
                r.negativeZShare, r.uprightShare, r.invertedUprightShare, r.rebuiltGap, r.insideShare, m.greyShare,
                m.channelCorrelation, m.blueModeShare, static_cast<double>(m.fill) / static_cast<double>(m.sampled),
                r.longestLength, r.flatLength, r.flatShare, r.flatAlikeShare, r.contradictedShare, r.invertedFacingShare,
                result.convention.convention == GreenConvention::openGl    ? "gl"
                : result.convention.convention == GreenConvention::directX ? "dx"
                                                                            : "?",
                static_cast<double>(result.convention.confidence));
}


// Share of the pixels of two top-down pictures of one size where a damage
// changes what a renderer shows: the vector turned by more than 2 degrees,
// or shortened by more than 5% (a renderer that does not normalise shades
// it darker; a vector lengthened to unit, as blue filled with 255 does to
// averaged ones, shades as the normalising renderer always did). Damages that add alpha change the
// layout and count as changing everything.
double changedShare(const Image& before, const Image& after) {
    if (after.bitsPerPixel != 24) return 1.0;
    const double cosine = std::cos(2.0 * 3.14159265358979 / 180.0);
    int64_t changed = 0;
    for (size_t i = 0; i < before.dataSize; i += 3) {
        double a[3], b[3], aa = 0, bb = 0, ab = 0;
        for (int k = 0; k < 3; ++k) {
            a[k] = (before.pixels[i + k] - 127.5) / 127.5;
            b[k] = (after.pixels[i + k] - 127.5) / 127.5;
            aa += a[k] * a[k], bb += b[k] * b[k], ab += a[k] * b[k];
        }
        const double la = std::sqrt(aa), lb = std::sqrt(bb);
        changed += ab < cosine * la * lb || lb < 0.95 * la;
    }
    return static_cast<double>(changed) / static_cast<double>(before.dataSize / 3);
}

constexpr double changedEnough = 0.01;

struct Picture {
    std::string name;
    Image image;  // top-down 24-bit red-green-blue
    GreenConvention convention;
};

// The maps and non-maps that tests/unit/generated_normal_maps.h makes.
void generatedSet(std::vector<Picture>& maps, std::vector<Picture>& nonMaps) {
    using normalmaps::Relief;
    const Relief reliefs[] = {Relief::noise, Relief::bricks,  Relief::rivets, Relief::strokes,
                              Relief::cones, Relief::planks, Relief::stripes};
    uint32_t seed = 1;
    for (const Relief relief : reliefs)
        for (const GreenConvention convention : {GreenConvention::openGl, GreenConvention::directX})
            for (const int grain : {0, 3}) {
                const normalmaps::MapRecipe recipe{relief, convention, 256, 256, seed++, relief == Relief::bricks ? 2 : 1,
                                                   normalmaps::Layout::rgb24, false, 1.0, grain};
                maps.push_back({"generated relief " + std::to_string(static_cast<int>(relief)) + " seed " +
                                    std::to_string(recipe.seed),
                                normalmaps::makeMap(recipe), normalmaps::expected(recipe)});
            }
    for (uint32_t k = 0; k < 8; ++k)
        for (const Relief relief : {Relief::photo, Relief::greyscale})
            nonMaps.push_back({std::string(relief == Relief::photo ? "photo" : "grey") + "-generated" + std::to_string(k),
                               normalmaps::makeMap({relief, GreenConvention::openGl, 256, 256, 40 + k, 1}),
                               GreenConvention::unknown});
}

// Every PNG of a folder, as top-down 24-bit pictures.
void readFolder(const std::filesystem::path& dir, std::vector<Picture>& pictures) {
    std::vector<std::filesystem::path> paths;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(dir, error))
        if (entry.path().extension() == ".png") paths.push_back(entry.path());
    std::sort(paths.begin(), paths.end());
    for (const auto& path : paths) {
        Image loaded{};
        if (!readImageFile(path.string().c_str(), &loaded)) {
            std::fprintf(stderr, "%s: cannot load\n", path.string().c_str());
            continue;
        }
        pictures.push_back({path.filename().string(), packedRgb(loaded), GreenConvention::unknown});
        resetImage(&loaded);
    }
}

std::string kindOf(const std::string& name) {
    const size_t dash = name.find('-');
    return dash == std::string::npos ? name : name.substr(0, dash);
}

}  // namespace

int main(int argc, char** argv) {
    std::string dirName, nonMapDir;
    bool verbose = false, generated = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "-v") verbose = true;
        else if (arg == "--generated") generated = true;
        else if (arg == "--nonmaps" && i + 1 < argc) nonMapDir = argv[++i];
        else dirName = arg;
    }
    if (dirName.empty() == !generated) {
        std::fprintf(stderr, "usage: check_accuracy DIR [--nonmaps DIR2] [-v]\n       check_accuracy --generated [-v]\n");
        return 2;
    }
    std::vector<Picture> maps, nonMaps;
    if (generated) {
        generatedSet(maps, nonMaps);
    } else {
        const std::filesystem::path dir(dirName);
        std::ifstream manifest(dir / "MANIFEST.tsv");
        for (std::string line; std::getline(manifest, line);) {
            std::istringstream fields(line);
            std::vector<std::string> cells;
            for (std::string cell; std::getline(fields, cell, '\t');) cells.push_back(cell);
            if (cells.size() < 6 || cells[0] == "file") continue;
            const std::string path = (dir / cells[0]).string();
            Image loaded{};
            if (!readImageFile(path.c_str(), &loaded)) {
                std::fprintf(stderr, "%s: cannot load\n", path.c_str());
                return 1;
            }
            maps.push_back({cells[0], packedRgb(loaded),
                            cells[5] == "opengl"    ? GreenConvention::openGl
                            : cells[5] == "directx" ? GreenConvention::directX
                                                    : GreenConvention::unknown});
            resetImage(&loaded);
        }
        readFolder(dir / "not-normal", nonMaps);
        if (!nonMapDir.empty()) readFolder(nonMapDir, nonMaps);
    }
    const std::vector<Case> cases = {
        {{Damage::none}},
        {{Damage::blackFill}},
        {{Damage::flatFill}},
        {{Damage::zZero}},
        {{Damage::zFilled}},
        {{Damage::zWhite}},
        {{Damage::zLight}},
        {{Damage::zInverted}},
        {{Damage::dxt5nmBlueZero}},
        {{Damage::dxt5nmBlueGreen}},
        {{Damage::srgbDecoded}},
        {{Damage::srgbEncoded}},
        {{Damage::shortened}},
        {{Damage::shortened08}},
        {{Damage::shortened09}},
        {{Damage::objectSpace}},
        {{Damage::greenFlipped}},
        {{Damage::zWhite, Damage::srgbEncoded}},
        {{Damage::zWhite, Damage::srgbDecoded}},
        {{Damage::zLight, Damage::srgbEncoded}},
        {{Damage::shortened08, Damage::zInverted}},
        {{Damage::shortened09, Damage::zInverted}},
        {{Damage::greenFlipped, Damage::zZero}},
        {{Damage::greenFlipped, Damage::zWhite}},
        {{Damage::greenFlipped, Damage::srgbDecoded}},
        {{Damage::srgbDecoded, Damage::dxt5nmBlueGreen}},
        {{Damage::shortened, Damage::greenFlipped}},
        {{Damage::shortened08, Damage::greenFlipped}},
        {{Damage::blackFill, Damage::zInverted}},
        {{Damage::blackFill, Damage::srgbEncoded}},
        {{Damage::blackFill, Damage::shortened08}},
    };
    std::vector<Tally> tallies(cases.size());
    Tally expectOk;  // undamaged maps checked with --expect and their label

    for (Picture& map : maps) {
        const Image& original = map.image;
        Image reference = damage::blankLike(original, false);
        std::copy_n(original.pixels, original.dataSize, reference.pixels);
        AdjustOptions renormalise = defaultAdjustOptions;
        renormalise.renormalize = 1;
        adjustPixels(&reference, renormalise);
        if (verbose) std::printf("%s\n", map.name.c_str());

        for (size_t k = 0; k < cases.size(); ++k) {
            const Case& c = cases[k];
            Image damaged = damage::blankLike(original, false);
            std::copy_n(original.pixels, original.dataSize, damaged.pixels);
            for (Damage d : c.damages) {
                Image next = damage::applyDamage(damaged, d);
                resetImage(&damaged);
                damaged = next;
            }
            Tally& t = tallies[k];
            const uint32_t wanted = c.wanted();
            // Each damage of the copy must change the map by itself.
            bool unchanged = false;
            for (Damage d : c.damages) {
                if (d == Damage::none || d == Damage::blackFill || d == Damage::flatFill) continue;
                Image alone = damage::applyDamage(original, d);
                unchanged = unchanged || changedShare(original, alone) < changedEnough;
                resetImage(&alone);
            }
            if (unchanged) {
                ++t.unchanged;
                resetImage(&damaged);
                continue;
            }
            const GreenConvention expect = c.flipped() ? map.convention : GreenConvention::unknown;
            if (c.flipped() && map.convention == GreenConvention::unknown) {
                resetImage(&damaged);
                continue;
            }
            const CheckResult result = checkMap(damaged, expect);
            if (verbose) show(findingWords(result.findings).c_str(), c, result);
            ++t.maps;
            if ((result.findings & wanted) == wanted && (wanted != 0 || result.findings == 0)) ++t.named;
            if (result.findings == wanted) ++t.exact;
            if (const uint32_t extra = result.findings & ~wanted) ++t.extras[findingWords(extra)];
            if (c.damages[0] == Damage::none && map.convention != GreenConvention::unknown) {
                const CheckResult labelled = checkMap(damaged, map.convention);
                ++expectOk.maps;
                if (labelled.findings == 0) ++expectOk.named;
                else ++expectOk.extras[findingWords(labelled.findings)];
            }

            // The repair against re-normalisation of the undamaged map, on
            // every copy --fix should write.
            const bool padded = c.damages[0] == Damage::blackFill || c.damages[0] == Damage::flatFill;
            if (wanted & unfixableFindings || padded) {
                resetImage(&damaged);
                continue;
            }
            ++t.fixable;
            const bool named = (result.findings & wanted) == wanted && !(result.findings & unfixableFindings);
            if (named) {
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
                    if (static_cast<double>(close) >= 0.99 * static_cast<double>(compared)) {
                        ++t.fixedGood;
                        ++t.givenBack;
                    }
                }
                resetImage(&fixed);
            }
            resetImage(&damaged);
        }
        resetImage(&reference);
    }

    std::printf("%zu maps\n", maps.size());
    std::printf("named: copies with the damage's findings (undamaged: with none), of the copies it changed;\n"
                "fixed: copies --fix gives back (99%% of the kept pixels within 2 levels of the re-normalised\n"
                "undamaged map), of those it should write; kept px / all px: pixels within 2 levels on the named ones.\n");
    std::printf("%-40s %8s %8s %8s %8s %8s %s\n", "damage", "named", "exactly", "fixed", "kept px", "all px",
                "other findings");
    int copies = 0, named = 0, fixable = 0, givenBack = 0;
    for (size_t k = 0; k < cases.size(); ++k) {
        const Tally& t = tallies[k];
        std::string extras;
        for (const auto& [words, count] : t.extras) extras += words + " x" + std::to_string(count) + "; ";
        if (t.unchanged) extras += "(" + std::to_string(t.unchanged) + " unchanged, left out)";
        char fix[32] = "-", pixels[32] = "-", all[32] = "-";
        if (t.fixable) std::snprintf(fix, sizeof fix, "%d/%d", t.givenBack, t.fixable);
        if (t.fixedMaps) {
            std::snprintf(pixels, sizeof pixels, "%.2f%%",
                          100.0 * static_cast<double>(t.close) / static_cast<double>(std::max<int64_t>(1, t.compared)));
            std::snprintf(all, sizeof all, "%.2f%%",
                          100.0 * static_cast<double>(t.allClose) / static_cast<double>(std::max<int64_t>(1, t.pixels)));
        }
        std::printf("%-40s %4d/%-3d %4d/%-3d %8s %8s %8s %s\n", cases[k].name().c_str(), t.named, t.maps, t.exact,
                    t.maps, fix, pixels, all, extras.c_str());
        if (k > 0) copies += t.maps, named += t.named;
        fixable += t.fixable, givenBack += t.givenBack;
    }
    std::printf("damaged copies named: %d/%d; given back by --fix: %d/%d\n", named, copies, givenBack, fixable);
    std::string extras;
    for (const auto& [words, count] : expectOk.extras) extras += words + " x" + std::to_string(count) + "; ";
    std::printf("undamaged, --expect with the label: %d/%d without a finding; %s\n", expectOk.named, expectOk.maps,
                extras.c_str());

    std::map<std::string, std::pair<int, int>> byKind;
    std::string missed;
    int notNormal = 0;
    for (Picture& picture : nonMaps) {
        const CheckResult result = checkMap(picture.image, GreenConvention::unknown);
        auto& [hit, count] = byKind[kindOf(picture.name)];
        ++count;
        if (result.findings == findingNotANormalMap) ++hit, ++notNormal;
        else missed += picture.name + " (" + findingWords(result.findings) + ") ";
        if (verbose) show((picture.name + " " + findingWords(result.findings)).c_str(), Case{{Damage::none}}, result);
    }
    std::printf("non-maps: %d/%zu not-a-normal-map;", notNormal, nonMaps.size());
    for (const auto& [kind, counts] : byKind) std::printf(" %s %d/%d", kind.c_str(), counts.first, counts.second);
    std::printf("\nmissed: %s\n", missed.c_str());
    for (Picture& p : maps) resetImage(&p.image);
    for (Picture& p : nonMaps) resetImage(&p.image);
    return 0;
}
