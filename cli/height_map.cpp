// --to-height: the height map of one normal map, written as a 16-bit grey
// picture (the grey in red, green and blue alike), and the height's range
// printed.
#include <cstdio>
#include <string>

#include "cli/cli.h"
#include "generate/height_field.h"
#include "generate/normal_to_height.h"
#include "readers/readers.h"

namespace {

// Releases the run's pictures and field on every way out.
struct HeightRun {
    Image normals{};
    Image grey{};
    HeightField field;
    ~HeightRun() {
        resetImage(&normals);
        resetImage(&grey);
        releaseHeightField(&field);
    }
};

}  // namespace

int runToHeight(const Arguments& args) {
    const char* input = args.inputs[0];
    const char* output = args.inputs[1];
    const MapArguments& m = args.make;
    HeightRun run;
    LoadFailure failure;
    if (!readImageFile(input, &run.normals, &failure, DisplayBitmap::notMade)) {
        reportLoadFailure(input, failure);
        return exitLoadFailed;
    }
    NormalToHeightOptions options;
    options.edges = m.edges;
    if (m.filterGiven) options.filter = m.filter;
    options.convention = m.convention;
    if (options.convention == GreenConvention::unknown) {
        const ConventionGuess guess = detectGreenConvention(run.normals);
        if (guess.convention == GreenConvention::unknown)
            return usageError(std::string(input) + ": its green convention is unclear (detected: " + guessText(guess) +
                              "); give --convention opengl or directx");
        options.convention = guess.convention;
    }
    GenerateError error = GenerateError::none;
    if (!heightFromNormals(run.normals, options, &run.field, &error)) {
        reportLine("%s: cannot make a height map of it: %s", input, generateErrorText(error));
        return exitLoadFailed;
    }
    const HeightRange range = heightRange(run.field);
    const double span = static_cast<double>(range.high) - range.low;
    const bool made = m.heightScaleGiven ? heightToScaledGreyImage(run.field, m.heightScale, &run.grey, &error)
                                         : heightToGreyImage(run.field, &run.grey, &error);
    if (!made) {
        reportLine("%s: cannot make a height map of it: %s", input, generateErrorText(error));
        return exitLoadFailed;
    }
    OutputFormat format = OutputFormat::png;
    outputFormatOf(output, format);
    if (!saveResult(args, input, output, run.grey, format)) return exitWriteFailed;
    if (m.heightScaleGiven && span > m.heightScale && !args.quiet)
        reportLine("note: %s: the height spans %s texels; above %s it is written white", input,
                   fixedDecimals(span, 1).c_str(), fixedDecimals(m.heightScale, 3).c_str());
    if (args.check.json)
        std::printf("{\"path\":%s,\"output\":%s,\"convention\":\"%s\",\"height_range\":%s}\n",
                    jsonString(input).c_str(), jsonString(output).c_str(), conventionName(options.convention),
                    fixedDecimals(span, 3).c_str());
    else
        std::printf("height range %s texels\n", fixedDecimals(span, 1).c_str());
    return exitOk;
}
