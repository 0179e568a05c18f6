// Heights on the command line: --from-height's one reading of a height map
// (pictures and float files alike), and --to-height, the height map of a
// normal map written as a 16-bit grey picture or as float heights, with
// the height's range printed.
#include <cstdio>
#include <string>

#include "cli/cli.h"
#include "generate/normal_to_height.h"
#include "platform/platform.h"
#include "readers/float_picture.h"
#include "readers/readers.h"

namespace {

// Releases the run's picture, samples and field on every way out.
struct HeightRun {
    Image normals{};
    HeightField field;
    uint16_t* grey = nullptr;  // platformAllocLarge
    ~HeightRun() {
        resetImage(&normals);
        releaseHeightField(&field);
        platformFreeLarge(grey);
    }
};

// The float heights of a FloatPicture file, refusing NaN and the
// infinities.
bool readFloatHeights(const Arguments& args, const char* input, HeightField* field) {
    if (!platformHasOpenExr()) {
        reportLine("%s: Failed to load open file: this quorvel-cli reads no OpenEXR files (Windows has no OpenEXR "
                   "library)",
                   input);
        return false;
    }
    FloatPicture picture;
    LoadFailure failure;
    if (!readFloatPictureFile(input, &picture, failure)) {
        reportLoadFailure(input, failure);
        return false;
    }
    GenerateError error = GenerateError::none;
    if (!heightFieldFromFloatPicture(picture, args.make.channel, field, &error)) {
        reportLine("%s: cannot make a normal map of it: %s", input, generateErrorText(error));
        return false;
    }
    if (checkHeightField(*field, nullptr)) return true;
    const NonFiniteHeights bad = findNonFinite(*field);
    if (bad.count == 1)
        reportLine("%s: 1 sample is not a finite number (at x %u, y %u); heights must be finite", input, bad.x, bad.y);
    else
        reportLine("%s: %s samples are not finite numbers (the first at x %u, y %u); heights must be finite", input,
                   std::to_string(bad.count).c_str(), bad.x, bad.y);
    releaseHeightField(field);
    return false;
}

}  // namespace

bool readHeightFile(const Arguments& args, const char* input, HeightField* field) {
    if (isFloatPictureName(input)) return readFloatHeights(args, input, field);
    Image picture{};
    LoadFailure failure;
    if (!readImageFile(input, &picture, &failure, DisplayBitmap::notMade)) {
        resetImage(&picture);
        reportLoadFailure(input, failure);
        return false;
    }
    GenerateError error = GenerateError::none;
    const bool read = heightFieldFromImage(picture, args.make.channel, field, &error);
    resetImage(&picture);
    if (!read) reportLine("%s: cannot make a normal map of it: %s", input, generateErrorText(error));
    return read;
}

bool heightsOfMap(const Arguments& args, const char* input, const Image& normals, HeightField* field,
                  FileResult& result) {
    const MapArguments& m = args.make;
    NormalToHeightOptions options;
    options.edges = m.edges;
    if (m.filterGiven) options.filter = m.filter;
    options.convention = m.convention;
    if (options.convention == GreenConvention::unknown) {
        result.guess = detectGreenConvention(normals);
        options.convention = result.guess.convention;
        if (options.convention == GreenConvention::unknown) {
            result.conversion = Conversion::undecided;
            return false;
        }
    }
    result.heightConvention = options.convention;
    GenerateError error = GenerateError::none;
    if (!heightFromNormals(normals, options, field, &error)) {
        reportLine("%s: cannot make a height map of it: %s", input, generateErrorText(error));
        return false;
    }
    return true;
}

FileResult heightFile(const Arguments& args, const char* input, const char* output, OutputFormat format) {
    const MapArguments& m = args.make;
    FileResult result;
    result.outcome = Outcome::loadFailed;
    HeightRun run;
    LoadFailure failure;
    if (!readImageFile(input, &run.normals, &failure, DisplayBitmap::notMade)) {
        reportLoadFailure(input, failure);
        return result;
    }
    if (!heightsOfMap(args, input, run.normals, &run.field, result)) return result;
    resetImage(&run.normals);
    const HeightRange range = heightRange(run.field);
    result.heightSpan = static_cast<double>(range.high) - range.low;
    GenerateError error = GenerateError::none;

    // The samples written: 16-bit grey, or the field itself as floats.
    const uint32_t width = run.field.width, height = run.field.height;
    const bool floats = format == OutputFormat::exr || m.floatHeights;
    PixelRows rows;
    rows.width = width;
    rows.height = height;
    rows.channels = 1;
    bool made = false;
    if (floats) {
        made = heightAboveLowest(&run.field, m.heightScale, &error);
        rows.first = reinterpret_cast<const uint8_t*>(run.field.values);
        rows.stride = static_cast<ptrdiff_t>(size_t{width} * sizeof(float));
        rows.sampleBits = 32;
        rows.floats = true;
    } else {
        run.grey = static_cast<uint16_t*>(platformAllocLarge(size_t{width} * height * sizeof(uint16_t)));
        error = GenerateError::noMemory;
        made = run.grey && heightToGreySamples(run.field, m.heightScaleGiven ? m.heightScale : 0.0, run.grey, &error);
        rows.first = reinterpret_cast<const uint8_t*>(run.grey);
        rows.stride = static_cast<ptrdiff_t>(size_t{width} * sizeof(uint16_t));
        rows.sampleBits = 16;
    }
    if (!made) {
        reportLine("%s: cannot make a height map of it: %s", input, generateErrorText(error));
        return result;
    }
    const bool written = format == OutputFormat::exr   ? writeExrRows(output, rows)
                         : format == OutputFormat::tif ? writeTiffRows(output, rows)
                                                       : writePngRows(output, rows);
    if (!written) {
        reportWriteFailure(output);
        result.outcome = Outcome::writeFailed;
        return result;
    }
    if (!floats && m.heightScaleGiven && result.heightSpan > m.heightScale && !args.quiet)
        reportLine("note: %s: the height spans %s texels; above %s it is written white", input,
                   fixedDecimals(result.heightSpan, 1).c_str(), fixedDecimals(m.heightScale, 3).c_str());
    result.outcome = Outcome::done;
    return result;
}

std::string heightLine(const Arguments& args, const char* input, const char* output, const FileResult& result,
                       bool named) {
    if (args.check.json)
        return "{\"path\":" + jsonString(input) + ",\"output\":" + jsonString(output) + ",\"convention\":\"" +
               conventionName(result.heightConvention) + "\",\"height_range\":" + fixedDecimals(result.heightSpan, 3) +
               "}\n";
    return (named ? std::string(input) + ": " : std::string()) + "height range " +
           fixedDecimals(result.heightSpan, 1) + " texels\n";
}

int runToHeight(const Arguments& args) {
    const char* input = args.inputs[0];
    const char* output = args.inputs[1];
    OutputFormat format = OutputFormat::png;
    heightFormatOf(output, format);
    const FileResult result = heightFile(args, input, output, format);
    if (result.conversion == Conversion::undecided)
        return usageError(std::string(input) + ": its green convention is unclear (detected: " +
                          guessText(result.guess) + "); give --convention opengl or directx");
    if (result.outcome == Outcome::loadFailed) return exitLoadFailed;
    if (result.outcome == Outcome::writeFailed) return exitWriteFailed;
    std::fputs(heightLine(args, input, output, result, false).c_str(), stdout);
    return exitOk;
}
