// The green-convention detection over a larger generated set than the unit
// tests: every relief, in both conventions, whole or cut into turned
// islands, at several sizes and seeds. Prints how many maps were told right,
// left unknown or told wrong, and the highest confidence of a wrong answer.
#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "detect/green_convention.h"
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

}  // namespace

int main(int argc, char** argv) {
    const int seeds = argc > 1 ? std::atoi(argv[1]) : 2;
    const double amplitude = argc > 2 ? std::atof(argv[2]) : 1.0;
    const int grain = argc > 3 ? std::atoi(argv[3]) : 0;
    const bool verbose = argc > 4;
    const Relief reliefs[] = {Relief::noise,  Relief::bricks,  Relief::rivets, Relief::strokes, Relief::cones,
                              Relief::planks, Relief::stripes, Relief::flat,   Relief::photo,   Relief::greyscale};
    const int32_t sizes[][2] = {{256, 256}, {512, 256}, {1024, 1024}};
    int right = 0, unknowns = 0, wrong = 0, toldUntellable = 0, maps = 0;
    float worstWrong = 0.0f, lowestRight = 1.0f, highestUntellable = 0.0f;
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
                            std::printf("%-9s %4dx%-4d pieces %d seed %d %-7s: %-7s %.3f\n", reliefName(relief),
                                        size[0], size[1], pieces, seed, name(convention), name(guess.convention),
                                        static_cast<double>(guess.confidence));
                        if (want == GreenConvention::unknown) {
                            if (guess.convention != GreenConvention::unknown) {
                                ++toldUntellable;
                                highestUntellable = std::max(highestUntellable, guess.confidence);
                            }
                            continue;
                        }
                        if (guess.convention == want) {
                            ++right;
                            lowestRight = std::min(lowestRight, guess.confidence);
                        } else if (guess.convention == GreenConvention::unknown) {
                            ++unknowns;
                        } else {
                            ++wrong;
                            worstWrong = std::max(worstWrong, guess.confidence);
                        }
                    }
    const int tellable = right + unknowns + wrong;
    std::printf("%d maps, %d with relief that tells the convention:\n", maps, tellable);
    std::printf("  right %d (%.1f%%), unknown %d, wrong %d (highest confidence of a wrong answer %.3f)\n", right,
                100.0 * right / tellable, unknowns, wrong, static_cast<double>(worstWrong));
    std::printf("  lowest confidence of a right answer %.3f\n", static_cast<double>(lowestRight));
    std::printf(
        "%d maps that cannot be told (planks, stripes, flat, photo, greyscale, mirrored halves): %d given an answer"
        " (highest confidence %.3f)\n",
        maps - tellable, toldUntellable, static_cast<double>(highestUntellable));
    return 0;
}
