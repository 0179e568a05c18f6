// The adjusting road of one file, shared by the one-file run and folder
// runs: the streaming road where it takes the file, otherwise the whole
// picture read, converted to the asked green convention, adjusted and
// written, each on an Image of its own.

#include "cli/cli.h"
#include "cli/stream.h"
#include "generate/blend.h"
#include "generate/height_to_normal.h"
#include "image/thumbnail.h"
#include "readers/readers.h"

namespace {

const char* formatLabel(OutputFormat format) {
    switch (format) {
        case OutputFormat::bmp: return "BMP";
        case OutputFormat::tga: return "Targa";
        case OutputFormat::tif: return "TIFF";
        case OutputFormat::dds: return "DDS";
        case OutputFormat::ktx2: return "KTX2";
        case OutputFormat::exr: return "OpenEXR";
        case OutputFormat::astc: return "ASTC";
        case OutputFormat::png: break;
    }
    return "PNG";
}

// The thumbnail of the adjusted picture, as the desktop programs show it,
// written to `path` in the format its extension names.
bool saveThumbnail(const char* path, const Image& image) {
    const BitmapHandle thumbnail = makeThumbnailBitmap(image.bitmap);
    OutputFormat format = OutputFormat::bmp;
    outputFormatOf(path, format);
    const bool written = writeImageFile(path, thumbnail, format);
    if (!written) reportWriteFailure(path);
    if (thumbnail) platformDeleteBitmap(thumbnail);
    return written;
}

// The bits a made map is written with: 16 where the format holds them
// (PNG, TIFF, and DDS, KTX2 and ASTC, whose encoders read them), unless
// --depth 8.
int madeMapBits(const Arguments& args, OutputFormat format) {
    const bool wide = format == OutputFormat::png || format == OutputFormat::tif || format == OutputFormat::dds ||
                      format == OutputFormat::ktx2 || format == OutputFormat::astc;
    return wide && args.save.depth != 8 ? 16 : 8;
}

// The convention of a map --from-height makes: opengl unless told.
GreenConvention madeConvention(const Arguments& args) {
    return args.make.convention == GreenConvention::unknown ? GreenConvention::openGl : args.make.convention;
}

}  // namespace

bool normalMapOfHeights(const Arguments& args, const char* input, const HeightField& field, OutputFormat format,
                        Image* image) {
    const MapArguments& m = args.make;
    HeightToNormalOptions options;
    options.heightScale = m.heightScale;
    options.filter = m.filter;
    options.edges = m.edges;
    options.convention = madeConvention(args);
    options.outputBits = madeMapBits(args, format);
    options.heightToAlpha = m.heightToAlpha;
    GenerateError error = GenerateError::none;
    const bool made = normalsFromHeight(field, options, image, &error);
    if (!made) reportLine("%s: cannot make a normal map of it: %s", input, generateErrorText(error));
    return made;
}

namespace {

// --from-height: the normal map of the height map `input`, into `image`.
bool makeNormalMap(const Arguments& args, const char* input, OutputFormat format, Image* image) {
    HeightField field;
    if (!readHeightFile(args, input, &field)) return false;
    const bool made = normalMapOfHeights(args, input, field, format, image);
    releaseHeightField(&field);
    return made;
}

}  // namespace

bool readBlendDetail(const Arguments& args, BlendDetail* detail) {
    if (!args.make.blend) return true;
    LoadFailure failure;
    if (readImageFile(args.make.blend, &detail->image, &failure, DisplayBitmap::notMade)) {
        detail->convention = detectGreenConvention(detail->image).convention;
        return true;
    }
    resetImage(&detail->image);
    reportLoadFailure(args.make.blend, failure);
    return false;
}

bool needsGreenFlip(GreenConvention found, GreenConvention wanted) {
    return found != GreenConvention::unknown && wanted != GreenConvention::unknown && found != wanted;
}

bool saveResult(const Arguments& args, const char* input, const char* output, const Image& image,
                OutputFormat format) {
    SaveReport report;
    if (!writeImage(output, image, format, args.save, &report)) {
        reportWriteFailure(output);
        return false;
    }
    if (!args.quiet && report.reduced)
        reportLine("note: %s has 16-bit samples; %s keeps 8 bits", input, formatLabel(format));
    if (!args.quiet && report.alphaDropped)
        reportLine("note: %s has an alpha channel, which %s cannot hold; it was left out", input,
                   formatLabel(format));
    return true;
}

FileResult adjustFile(const Arguments& args, const char* input, const char* output, OutputFormat format,
                      const BlendDetail* detail, unsigned streamThreads) {
    FileResult result;
    result.outcome = Outcome::done;
    // The thumbnail, the conversion, a made map and a blend need the whole picture.
    if (!args.thumbnail && args.to == GreenConvention::unknown && !args.make.fromHeight && !detail) {
        switch (streamAdjust(input, output, format, args.options, args.save, streamThreads)) {
            case StreamResult::written: return result;
            case StreamResult::loadFailed:
                reportLine("%s: Failed to load open file: it changed while it was read", input);
                result.outcome = Outcome::loadFailed;
                return result;
            case StreamResult::writeFailed:
                reportWriteFailure(output);
                result.outcome = Outcome::writeFailed;
                return result;
            case StreamResult::notStreamable: break;
        }
    }
    Image image{};
    LoadFailure failure;
    if (args.make.fromHeight) {
        if (!makeNormalMap(args, input, format, &image)) {
            result.outcome = Outcome::loadFailed;
            return result;
        }
    } else if (!readImageFile(input, &image, &failure, DisplayBitmap::notMade)) {
        resetImage(&image);
        reportLoadFailure(input, failure);
        result.outcome = Outcome::loadFailed;
        return result;
    }
    if (!adjustImage(args, input, &image, detail, result)) {
        resetImage(&image);
        result.outcome = Outcome::loadFailed;
        return result;
    }
    // The display bitmap shows the pixels as they were loaded: it is made
    // again, of the adjusted pixels, only where the writer or the thumbnail
    // reads it.
    releaseBitmap(&image);
    if ((args.thumbnail || writeReadsBitmap(image, format, args.save)) && !buildDisplayBitmap(&image)) {
        reportWriteFailure(output);
        result.outcome = Outcome::writeFailed;
    } else if (!saveResult(args, input, output, image, format) ||
               (args.thumbnail && !saveThumbnail(args.thumbnail, image))) {
        result.outcome = Outcome::writeFailed;
    }
    resetImage(&image);
    return result;
}

bool adjustImage(const Arguments& args, const char* input, Image* imageIn, const BlendDetail* detail,
                 FileResult& result) {
    Image& image = *imageIn;
    if (args.to != GreenConvention::unknown) {
        const ConventionGuess guess = detectGreenConvention(image);
        if (needsGreenFlip(guess.convention, args.to)) {
            AdjustOptions flip = defaultAdjustOptions;
            flip.invertGreen = 1;
            adjustPixels(&image, flip);
            result.conversion = Conversion::converted;
        } else if (guess.convention == GreenConvention::unknown) {
            warnUnclear(input, guess);
            result.conversion = Conversion::undecided;
        } else {
            result.conversion = Conversion::unchanged;
        }
    }
    if (detail) {
        // A detail of the other convention is laid over in the base's: the
        // base's is the one asked for (made, or converted to), else detected.
        BlendOptions blend = args.make.blendOptions;
        if (detail->convention != GreenConvention::unknown) {
            GreenConvention base = result.conversion == Conversion::undecided ? GreenConvention::unknown : args.to;
            if (base == GreenConvention::unknown)
                base = args.make.fromHeight ? madeConvention(args) : detectGreenConvention(image).convention;
            blend.invertDetailGreen = needsGreenFlip(detail->convention, base);
            if (blend.invertDetailGreen && !args.quiet)
                reportLine("note: the detail %s is in the %s convention and %s in the %s one: its green is "
                           "inverted to match",
                           args.make.blend, conventionName(detail->convention), input, conventionName(base));
        }
        GenerateError error = GenerateError::none;
        if (!blendDetail(&image, detail->image, blend, &error)) {
            reportLine("%s: cannot lay %s over it: %s", input, args.make.blend, generateErrorText(error));
            return false;
        }
    }
    adjustPixels(&image, args.options);
    return true;
}

int runOneFile(const Arguments& args) {
    const char* output = args.inputs[1];
    OutputFormat format = OutputFormat::bmp;
    outputFormatOf(output, format);
    BlendDetail detail;
    if (!readBlendDetail(args, &detail)) return exitLoadFailed;
    const Outcome outcome =
        adjustFile(args, args.inputs[0], output, format, args.make.blend ? &detail : nullptr, 0).outcome;
    switch (outcome) {
        case Outcome::loadFailed: return exitLoadFailed;
        case Outcome::writeFailed: return exitWriteFailed;
        default: return exitOk;
    }
}
