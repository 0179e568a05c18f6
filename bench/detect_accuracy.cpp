// The green-convention detection measured on many maps.
//
//   detect_accuracy [SEEDS [AMPLITUDE [GRAIN [verbose]]]]
//     the generated set: every relief, in both conventions, whole or cut into
//     turned islands, at several sizes and seeds;
//   detect_accuracy --real DIR [--lengths] [--verbose]
//     a folder of real maps: every map that DIR/MANIFEST.tsv lists (columns
//     `file` and `convention`), and its copy with green inverted, then every
//     picture in DIR/not-normal/, which must come out unknown. --lengths
//     also prints how the squared lengths of each picture's pixels spread.
//
// Prints how many maps were told right, left unknown or told wrong, the
// lowest confidence of a right answer, the highest of a wrong one, and each
// miss with what its answer was made of.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "detect/green_convention.h"
#include "readers/readers.h"
#include "tests/unit/generated_normal_maps.h"

using namespace normalmaps;

namespace {

const char* name(GreenConvention c) {
    return c == GreenConvention::openGl ? "opengl" : c == GreenConvention::directX ? "directx" : "unknown";
}

const char* reliefName(Relief r) {
    static const char* const names[] = {"noise",  "bricks",  "rivets", "strokes", "cones",
                                        "planks", "stripes", "flat",   "photo",   "greyscale"};
    return names[static_cast<int>(r)];
}

// The tally of one set.
struct Tally {
    int right = 0, unknowns = 0, wrong = 0, wrongAtHalf = 0;
    float lowestRight = 1.0f, highestWrong = 0.0f;

    void add(GreenConvention want, const ConventionGuess& guess) {
        if (guess.convention == want) {
            ++right;
            lowestRight = std::min(lowestRight, guess.confidence);
        } else if (guess.convention == GreenConvention::unknown) {
            ++unknowns;
        } else {
            ++wrong;
            wrongAtHalf += guess.confidence >= 0.5f;
            highestWrong = std::max(highestWrong, guess.confidence);
        }
    }
    void print() const {
        const int all = right + unknowns + wrong;
        std::printf("  right %d of %d (%.1f%%), unknown %d, wrong %d (%d at confidence 0.5 or more;"
                    " highest confidence of a wrong answer %.3f)\n",
                    right, all, all ? 100.0 * right / all : 0.0, unknowns, wrong, wrongAtHalf,
                    static_cast<double>(highestWrong));
        std::printf("  lowest confidence of a right answer %.3f\n", static_cast<double>(lowestRight));
    }
};

int generatedSet(int argc, char** argv) {
    const int seeds = argc > 1 ? std::atoi(argv[1]) : 2;
    const double amplitude = argc > 2 ? std::atof(argv[2]) : 1.0;
    const int grain = argc > 3 ? std::atoi(argv[3]) : 0;
    const bool verbose = argc > 4;
    const Relief reliefs[] = {Relief::noise,  Relief::bricks,  Relief::rivets, Relief::strokes, Relief::cones,
                              Relief::planks, Relief::stripes, Relief::flat,   Relief::photo,   Relief::greyscale};
    const int32_t sizes[][2] = {{256, 256}, {512, 256}, {1024, 1024}};
    Tally tally;
    int toldUntellable = 0, maps = 0;
    float highestUntellable = 0.0f;
    for (const Relief relief : reliefs)
        for (const auto& size : sizes)
            for (int pieces : {0, 1, 3, 8})  // 0: whole, the left half mirrored and pasted on the right
                for (int seed = 1; seed <= seeds; ++seed)
                    for (const GreenConvention convention : {GreenConvention::openGl, GreenConvention::directX}) {
                        MapRecipe recipe{
                            relief, convention, size[0], size[1], static_cast<uint32_t>(seed), std::max(1, pieces)};
                        recipe.mirrored = pieces == 0;
                        recipe.amplitude = amplitude;
                        recipe.grain = grain;
                        Image image = makeMap(recipe);
                        const ConventionGuess guess = detectGreenConvention(image);
                        resetImage(&image);
                        ++maps;
                        const GreenConvention want = expected(recipe);
                        if (verbose)
                            std::printf("%-9s %4dx%-4d pieces %d seed %d %-7s: %-7s %.3f score %+.3f agreement %.3f"
                                        " unit normals %.3f relief %.5f %s\n",
                                        reliefName(relief), size[0], size[1], pieces, seed, name(convention),
                                        name(guess.convention), static_cast<double>(guess.confidence),
                                        static_cast<double>(guess.score), static_cast<double>(guess.agreement),
                                        static_cast<double>(guess.normalShare), static_cast<double>(guess.relief),
                                        unknownReasonText(guess).c_str());
                        if (want == GreenConvention::unknown) {
                            if (guess.convention != GreenConvention::unknown) {
                                ++toldUntellable;
                                highestUntellable = std::max(highestUntellable, guess.confidence);
                            }
                            continue;
                        }
                        tally.add(want, guess);
                    }
    const int tellable = tally.right + tally.unknowns + tally.wrong;
    std::printf("%d maps, %d with relief that tells the convention:\n", maps, tellable);
    tally.print();
    std::printf(
        "%d maps that cannot be told (planks, stripes, flat, photo, greyscale, mirrored halves): %d given an answer"
        " (highest confidence %.3f)\n",
        maps - tellable, toldUntellable, static_cast<double>(highestUntellable));
    return 0;
}

// Inverts the green sample of every pixel, at 8 or 16 bits.
void flipGreen(Image& image) {
    const size_t step = pixelBytes(image);
    const size_t rowAdvance = static_cast<size_t>(image.rowBytes) + static_cast<size_t>(image.rowPad);
    for (int32_t r = 0; r < image.height; ++r) {
        uint8_t* row = image.pixels + static_cast<size_t>(r) * rowAdvance;
        for (int32_t c = 0; c < image.width; ++c) {
            uint8_t* pixel = row + static_cast<size_t>(c) * step;
            if (isSixteenBit(image)) {
                uint16_t green;
                std::memcpy(&green, pixel + 2, 2);
                green = static_cast<uint16_t>(65535 - green);
                std::memcpy(pixel + 2, &green, 2);
            } else {
                pixel[1] = static_cast<uint8_t>(255 - pixel[1]);
            }
        }
    }
}

// How the squared lengths of an 8-bit picture's pixels spread: the shares of
// pixels within 0.05, 0.1, 0.2 and 0.3 of 1 (of those with z > 0.2, of all),
// and the 5th, 25th, 50th, 75th and 95th percentiles over the pixels with
// z > 0.2.
void printLengths(const Image& image, const std::string& label) {
    if (!isEightBitRgb(image)) return;
    const size_t step = pixelBytes(image);
    const size_t red = image.bgrOrder ? 2 : 0, blue = image.bgrOrder ? 0 : 2;
    const size_t rowAdvance = static_cast<size_t>(image.rowBytes) + static_cast<size_t>(image.rowPad);
    std::vector<float> lengths;
    const double tolerances[] = {0.05, 0.1, 0.2, 0.3};
    double within[4] = {};
    for (int32_t r = 0; r < image.height; ++r)
        for (int32_t c = 0; c < image.width; ++c) {
            const uint8_t* pixel = image.pixels + static_cast<size_t>(r) * rowAdvance + static_cast<size_t>(c) * step;
            const double x = pixel[red] / 127.5 - 1, y = pixel[1] / 127.5 - 1, z = pixel[blue] / 127.5 - 1;
            if (z <= 0.2) continue;
            const double squared = x * x + y * y + z * z;
            lengths.push_back(static_cast<float>(squared));
            for (int k = 0; k < 4; ++k) within[k] += std::abs(squared - 1) <= tolerances[k];
        }
    const double all = static_cast<double>(image.width) * image.height;
    const double count = static_cast<double>(lengths.size());
    std::sort(lengths.begin(), lengths.end());
    auto at = [&](double q) {
        return lengths.empty() ? 0.0 : static_cast<double>(lengths[static_cast<size_t>(q * (count - 1))]);
    };
    std::printf("  %-48s z>0.2 %5.1f%%  within .05/.1/.2/.3: %5.1f %5.1f %5.1f %5.1f%%  len2 p5 %.2f p25 %.2f "
                "p50 %.2f p75 %.2f p95 %.2f\n",
                label.c_str(), 100.0 * count / all, 100.0 * within[0] / all, 100.0 * within[1] / all,
                100.0 * within[2] / all, 100.0 * within[3] / all, at(0.05), at(0.25), at(0.5), at(0.75), at(0.95));
}

void printGuess(const char* label, GreenConvention want, const ConventionGuess& guess) {
    std::printf("  %-48s want %-7s got %-7s %.3f  score %+.3f  agreement %.3f  unit normals %5.1f%%  relief %.5f  %s\n",
                label, name(want), name(guess.convention), static_cast<double>(guess.confidence),
                static_cast<double>(guess.score), static_cast<double>(guess.agreement),
                100.0 * static_cast<double>(guess.normalShare), static_cast<double>(guess.relief),
                unknownReasonText(guess).c_str());
}

// The `file` and `convention` columns of a MANIFEST.tsv, found by the header.
bool readManifest(const std::filesystem::path& path, std::vector<std::pair<std::string, GreenConvention>>& maps) {
    std::ifstream in(path);
    std::string line;
    if (!std::getline(in, line)) return false;
    std::vector<std::string> header;
    std::istringstream fields(line);
    for (std::string field; std::getline(fields, field, '\t');) header.push_back(field);
    const auto column = [&](const char* title) {
        return static_cast<size_t>(std::find(header.begin(), header.end(), title) - header.begin());
    };
    const size_t fileColumn = column("file"), conventionColumn = column("convention");
    if (fileColumn >= header.size() || conventionColumn >= header.size()) return false;
    while (std::getline(in, line)) {
        std::vector<std::string> row;
        std::istringstream cells(line);
        for (std::string cell; std::getline(cells, cell, '\t');) row.push_back(cell);
        if (row.size() <= std::max(fileColumn, conventionColumn)) continue;
        const std::string& c = row[conventionColumn];
        const GreenConvention convention = c == "opengl"    ? GreenConvention::openGl
                                           : c == "directx" ? GreenConvention::directX
                                                            : GreenConvention::unknown;
        maps.emplace_back(row[fileColumn], convention);
    }
    return true;
}

int realSet(const std::filesystem::path& folder, bool lengths, bool verbose) {
    std::vector<std::pair<std::string, GreenConvention>> maps;
    if (!readManifest(folder / "MANIFEST.tsv", maps)) {
        std::fprintf(stderr, "detect_accuracy: cannot read %s\n", (folder / "MANIFEST.tsv").c_str());
        return 1;
    }
    Tally tally;
    std::vector<std::string> misses;
    std::printf("%zu maps in %s, each as it is and with green inverted:\n", maps.size(), folder.c_str());
    for (const auto& [file, convention] : maps) {
        const std::string path = (folder / file).string();
        Image image{};
        if (!readImageFile(path.c_str(), &image)) {
            std::fprintf(stderr, "detect_accuracy: cannot load %s\n", path.c_str());
            resetImage(&image);
            return 1;
        }
        if (lengths) printLengths(image, file);
        for (int flipped = 0; flipped < 2; ++flipped) {
            const GreenConvention want = flipped ? opposite(convention) : convention;
            const ConventionGuess guess = detectGreenConvention(image);
            tally.add(want, guess);
            const std::string label = file + (flipped ? " (flipped)" : "");
            if (verbose || guess.convention != want) printGuess(label.c_str(), want, guess);
            flipGreen(image);
        }
        resetImage(&image);
    }
    tally.print();

    const std::filesystem::path others = folder / "not-normal";
    std::error_code error;
    if (!std::filesystem::is_directory(others, error)) return 0;
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(others, error))
        if (entry.is_regular_file() && formatNameOf(entry.path().c_str())) files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    int told = 0;
    std::printf("%zu pictures in %s that are not normal maps:\n", files.size(), others.c_str());
    for (const auto& path : files) {
        Image image{};
        if (!readImageFile(path.c_str(), &image)) {
            std::fprintf(stderr, "detect_accuracy: cannot load %s\n", path.c_str());
            resetImage(&image);
            continue;
        }
        if (lengths) printLengths(image, path.filename().string());
        const ConventionGuess guess = detectGreenConvention(image);
        told += guess.convention != GreenConvention::unknown;
        if (verbose || guess.convention != GreenConvention::unknown)
            printGuess(path.filename().c_str(), GreenConvention::unknown, guess);
        resetImage(&image);
    }
    std::printf("  unknown %zu of %zu, given an answer %d\n", files.size() - static_cast<size_t>(told), files.size(),
                told);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 2 && std::strcmp(argv[1], "--real") == 0) {
        bool lengths = false, verbose = false;
        for (int k = 3; k < argc; ++k) {
            lengths = lengths || std::strcmp(argv[k], "--lengths") == 0;
            verbose = verbose || std::strcmp(argv[k], "--verbose") == 0;
        }
        return realSet(argv[2], lengths, verbose);
    }
    return generatedSet(argc, argv);
}
