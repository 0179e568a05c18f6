// quorvel-cli: the headless front end. With one INPUT and OUTPUT its result
// is what the program shows after opening INPUT and running the adjustment
// with the given options; with --out-dir it does that for whole folders in
// parallel; with --detect it tells each map's green convention.
#include <cmath>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <string_view>

#include "app/apply_run.h"
#include "app/session.h"
#include "cli/cli.h"
#include "cli/progress.h"
#include "cli/stream.h"
#include "readers/readers.h"

namespace {

constexpr char usageText[] =
    "Usage: quorvel-cli [OPTIONS] INPUT OUTPUT\n"
    "       quorvel-cli [OPTIONS] --out-dir DIR [--format bmp|png|tga|tif|dds] [-r] [-u] [-j N] INPUT...\n"
    "       quorvel-cli --detect [--json] [-r] [-j N] INPUT...\n"
    "       quorvel-cli --check [--expect opengl|directx] [--json] [-r] [-j N] INPUT...\n"
    "       quorvel-cli --fix [--expect opengl|directx] [OPTIONS] INPUT OUTPUT\n"
    "       quorvel-cli --fix [--expect opengl|directx] [OPTIONS] --out-dir DIR [-r] [-j N] INPUT...\n"
    "\n"
    "Opens tangent-space normal maps (BMP, TGA, PCX, PSD, DDS, PPM, PGM, PBM, PNG,\n"
    "JPEG, TIFF), adjusts their normals and saves them as BMP, PNG, Targa or TIFF\n"
    "files or as DDS textures with mip maps: OUTPUT's extension (.bmp, .png, .tga,\n"
    ".tif, .tiff or .dds, any case) picks the format.\n"
    "\n"
    "Adjustments:\n"
    "  --invert-red          invert the red channel (X)\n"
    "  --invert-green        invert the green channel (Y)\n"
    "  --invert-blue         invert the blue channel (Z)\n"
    "  --renormalize         re-normalise every normal after scaling X and Y\n"
    "  --scale TEXT          the scale for X and Y, read like the scale field:\n"
    "                        empty gives 1, text that is not a number gives 0\n"
    "  --to opengl|directx   convert to one green convention: each map's convention\n"
    "                        is detected and green inverted where it differs; a map\n"
    "                        whose convention is unclear is written unchanged, with\n"
    "                        a warning. This comes before the other adjustments.\n"
    "  --thumbnail THUMB     also save the dialog's thumbnail (.bmp, .png, .tga or\n"
    "                        .tif)\n"
    "\n"
    "Output:\n"
    "  --alpha keep|drop     keep an input's alpha channel in PNG, Targa and TIFF\n"
    "                        output (the default), or leave it out; BMP holds no\n"
    "                        alpha\n"
    "  --depth 8|16          the bits a sample of PNG and TIFF output: 8 reduces\n"
    "                        16-bit samples, 16 widens 8-bit ones; by default the\n"
    "                        input's own depth. BMP and Targa hold 8 bits.\n"
    "\n"
    "DDS output:\n"
    "  --dds FORMAT          bc5 (default): X and Y only, Z is rebuilt by the reader;\n"
    "                        bc1 or bc3: the RGB map for older engines (bc3's alpha\n"
    "                        is 255); bgra8: uncompressed\n"
    "  --dds-dx10            write the DX10 header (DXGI format) instead of the\n"
    "                        legacy one (ATI2, DXT1, DXT5 or bit masks)\n"
    "  --mips N              at most N mip levels (default: every level down to\n"
    "                        1 x 1; 1: none). Each level averages the one above\n"
    "                        over its exact footprint and is re-normalised.\n"
    "  --mip-keep-length     keep the averaged lengths in the levels below the top\n"
    "                        (bgra8, bc1, bc3; bc5 always stores unit vectors)\n"
    "\n"
    "Many files:\n"
    "  --out-dir DIR         write each INPUT (a file, or every readable file in a\n"
    "                        folder) to DIR/NAME.FORMAT; DIR is made when missing\n"
    "  --format FORMAT       bmp, png, tga, tif (tiff) or dds; by default an input's\n"
    "                        own format when it is bmp, png, tga or tif, otherwise\n"
    "                        png\n"
    "  -r, --recursive       also take the files in sub-folders, keeping the\n"
    "                        sub-folders under DIR\n"
    "  -u, --update          skip each INPUT whose output exists and is not older\n"
    "                        than it, as cp -u does; the files are not read, so\n"
    "                        changing the options does not make an output out\n"
    "                        of date (remove it, or run without -u)\n"
    "  -j, --jobs N          work on N files at once (default: one per processor)\n"
    "  -q, --quiet           no progress line and no notes\n"
    "\n"
    "Green convention:\n"
    "  --detect              print 'PATH: opengl|directx CONFIDENCE' for each INPUT,\n"
    "                        the confidence running from 0 to 1, or 'PATH: unknown\n"
    "                        CONFIDENCE (REASON)' when it falls below 0.10:\n"
    "                          flat               no relief at all\n"
    "                          not a normal map: N% unit-length normals\n"
    "                                             (albedo, height maps, photographs)\n"
    "                          too little relief  relief too faint, or running only\n"
    "                                             along the axes (planks, stripes)\n"
    "                          parts disagree     parts read as different\n"
    "                                             conventions (mirrored pasted parts)\n"
    "                        Only the relation of X to Y can be seen, so a map with\n"
    "                        red inverted reads as the other convention.\n"
    "  --json                one JSON object a line (JSON Lines) instead of text,\n"
    "                        for --detect, --check and --fix\n"
    "\n"
    "Checking and fixing:\n"
    "  --check               print 'PATH: FINDINGS (CONVENTION CONFIDENCE; N% unit\n"
    "                        length)' for each INPUT, or 'ok' for FINDINGS. The\n"
    "                        findings: z-missing, z-inverted, dxt5nm, srgb-decoded,\n"
    "                        srgb-encoded, not-normalized, object-space,\n"
    "                        not-a-normal-map; with --expect also wrong-convention\n"
    "                        or convention-unknown\n"
    "  --fix                 write each map repaired: DXT5nm unpacked, the sRGB\n"
    "                        curve undone, Z rebuilt or un-inverted, every vector\n"
    "                        re-normalised, and with --expect green converted; the\n"
    "                        other options are applied afterwards. Object-space\n"
    "                        maps and pictures that are no normal map are skipped\n"
    "  --expect CONVENTION   opengl or directx: a map of the other convention is\n"
    "                        wrong-convention (--fix converts it)\n"
    "\n"
    "  -h, --help            show this text\n"
    "  --version             show the version\n"
    "\n"
    "Examples:\n"
    "  quorvel-cli --invert-green baked.png fixed.png\n"
    "  quorvel-cli --renormalize baked.png engine_normal.dds\n"
    "  quorvel-cli --to directx -r --out-dir converted textures/\n"
    "  quorvel-cli --invert-green -u --out-dir fixed textures/\n"
    "  quorvel-cli --detect textures/*.png\n"
    "  quorvel-cli --check --expect directx -r textures/\n"
    "  quorvel-cli --fix -r --out-dir fixed textures/\n"
    "\n"
    "Exit status: 0 done; 1 an INPUT could not be loaded (with many files, the\n"
    "others are still written); 2 usage error; 3 a file could not be written;\n"
    "5 --check found something wrong with a map, or --fix skipped a map.\n";

int usageError(const char* format, ...) __attribute__((format(printf, 1, 2)));
int usageError(const char* format, ...) {
    std::fputs("quorvel-cli: ", stderr);
    va_list list;
    va_start(list, format);
    std::vfprintf(stderr, format, list);
    va_end(list);
    std::fputs("\nTry 'quorvel-cli --help' for more information.\n", stderr);
    return exitUsage;
}

// The text of `--name=value` after the '=', or null.
const char* attachedValue(const char* arg, std::string_view name) {
    const std::string_view text(arg);
    if (text.size() > name.size() && text.substr(0, name.size()) == name && text[name.size()] == '=')
        return arg + name.size() + 1;
    return nullptr;
}

// Says so when the scale text is not plain decimal number, since it still
// takes effect (as the scale field would take it).
void noteScaleText(const char* text, float scale) {
    if (!*text) return;
    char* end = nullptr;
    const double value = std::strtod(text, &end);
    while (end && (*end == ' ' || (*end >= '\t' && *end <= '\r'))) ++end;
    const bool plainNumber = end != text && end && *end == '\0' && std::isfinite(value) && scale == static_cast<float>(value);
    if (plainNumber) return;
    if (scale == 0.0f)
        std::fprintf(stderr, "quorvel-cli: note: --scale '%s' is not a number; the scale is 0, as in the scale field\n", text);
    else
        std::fprintf(stderr, "quorvel-cli: note: --scale '%s' reads as %g\n", text, static_cast<double>(scale));
}

bool parseFormat(const char* text, OutputFormat& format) {
    std::string name = std::string("x.") + text;
    return outputFormatOf(name.c_str(), format);
}

bool parseDdsFormat(const char* text, TextureFormat& format) {
    if (std::strcmp(text, "bc5") == 0) format = TextureFormat::bc5;
    else if (std::strcmp(text, "bc1") == 0) format = TextureFormat::bc1;
    else if (std::strcmp(text, "bc3") == 0) format = TextureFormat::bc3;
    else if (std::strcmp(text, "bgra8") == 0) format = TextureFormat::bgra8;
    else return false;
    return true;
}

bool parseMips(const char* text, uint32_t& mips) {
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (end == text || *end || value < 1 || value > 32) return false;
    mips = static_cast<uint32_t>(value);
    return true;
}

bool parseConvention(const char* text, GreenConvention& convention) {
    if (std::strcmp(text, "opengl") == 0) convention = GreenConvention::openGl;
    else if (std::strcmp(text, "directx") == 0) convention = GreenConvention::directX;
    else return false;
    return true;
}

bool parseJobs(const char* text, unsigned& jobs) {
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (end == text || *end || value < 1 || value > 256) return false;
    jobs = static_cast<unsigned>(value);
    return true;
}

enum class ParseResult { run, exitOk, usage };

ParseResult parseArguments(int argc, char** argv, Arguments& args, int& status) {
    bool optionsEnded = false;
    bool jobsGiven = false, recursiveGiven = false;
    const char* scaleText = nullptr;  // noted once --quiet is known
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (optionsEnded || arg[0] != '-' || arg[1] == '\0') {
            args.inputs.push_back(arg);
            continue;
        }
        // The value of an option: attached with '=' (or directly, for -j),
        // otherwise the next argument.
        auto value = [&](std::string_view name, const char*& out) {
            if (const char* attached = attachedValue(arg, name)) {
                out = attached;
                return true;
            }
            if (arg != name) return false;
            if (i + 1 >= argc) {
                status = usageError("option '%s' needs a value", arg);
                out = nullptr;
                return true;
            }
            out = argv[++i];
            return true;
        };
        const char* text = nullptr;
        if (std::strcmp(arg, "--") == 0) {
            optionsEnded = true;
        } else if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
            std::fputs(usageText, stdout);
            return ParseResult::exitOk;
        } else if (std::strcmp(arg, "--version") == 0) {
            std::printf("quorvel-cli %s\n", QUORVEL_VERSION);
            return ParseResult::exitOk;
        } else if (std::strcmp(arg, "--invert-red") == 0) {
            args.options.invertRed = 1;
        } else if (std::strcmp(arg, "--invert-green") == 0) {
            args.options.invertGreen = 1;
        } else if (std::strcmp(arg, "--invert-blue") == 0) {
            args.options.invertBlue = 1;
        } else if (std::strcmp(arg, "--renormalize") == 0) {
            args.options.renormalize = 1;
        } else if (std::strcmp(arg, "--dds-dx10") == 0) {
            args.save.ddsDx10 = 1;
            args.ddsOptionsGiven = true;
        } else if (std::strcmp(arg, "--mip-keep-length") == 0) {
            args.save.mipKeepLength = 1;
            args.ddsOptionsGiven = true;
        } else if (std::strcmp(arg, "--detect") == 0) {
            args.detect = true;
        } else if (std::strcmp(arg, "--recursive") == 0 || std::strcmp(arg, "-r") == 0) {
            args.recursive = recursiveGiven = true;
        } else if (std::strcmp(arg, "--quiet") == 0 || std::strcmp(arg, "-q") == 0) {
            args.quiet = true;
        } else if (std::strcmp(arg, "--update") == 0 || std::strcmp(arg, "-u") == 0) {
            args.update = true;
        } else if (value("--scale", text)) {
            if (!text) return ParseResult::usage;
            args.options.scale = parseScaleText(text);
            scaleText = text;
        } else if (value("--thumbnail", text)) {
            if (!text) return ParseResult::usage;
            args.thumbnail = text;
        } else if (value("--out-dir", text)) {
            if (!text) return ParseResult::usage;
            args.outDir = text;
        } else if (value("--to", text)) {
            if (!text) return ParseResult::usage;
            if (!parseConvention(text, args.to)) {
                status = usageError("--to takes opengl or directx, not '%s'", text);
                return ParseResult::usage;
            }
        } else if (value("--alpha", text)) {
            if (!text) return ParseResult::usage;
            if (std::strcmp(text, "keep") != 0 && std::strcmp(text, "drop") != 0) {
                status = usageError("--alpha takes keep or drop, not '%s'", text);
                return ParseResult::usage;
            }
            args.save.keepAlpha = std::strcmp(text, "keep") == 0;
        } else if (value("--depth", text)) {
            if (!text) return ParseResult::usage;
            if (std::strcmp(text, "8") != 0 && std::strcmp(text, "16") != 0) {
                status = usageError("--depth takes 8 or 16, not '%s'", text);
                return ParseResult::usage;
            }
            args.save.depth = std::atoi(text);
        } else if (value("--dds", text)) {
            if (!text) return ParseResult::usage;
            if (!parseDdsFormat(text, args.save.ddsFormat)) {
                status = usageError("--dds takes bc5, bc1, bc3 or bgra8, not '%s'", text);
                return ParseResult::usage;
            }
            args.ddsOptionsGiven = true;
        } else if (value("--mips", text)) {
            if (!text) return ParseResult::usage;
            if (!parseMips(text, args.save.mips)) {
                status = usageError("--mips takes a number of levels from 1 to 32, not '%s'", text);
                return ParseResult::usage;
            }
            args.ddsOptionsGiven = true;
        } else if (value("--format", text)) {
            if (!text) return ParseResult::usage;
            if (!parseFormat(text, args.format)) {
                status = usageError("--format takes bmp, png, tga, tif or dds, not '%s'", text);
                return ParseResult::usage;
            }
            args.formatGiven = true;
        } else if (value("--jobs", text) || value("-j", text) || (arg[1] == 'j' && (text = arg + 2))) {
            if (!text) return ParseResult::usage;
            if (!parseJobs(text, args.jobs)) {
                status = usageError("-j takes a number of workers from 1 to 256, not '%s'", text);
                return ParseResult::usage;
            }
            jobsGiven = true;
        } else if (bool bad = false; parseCheckOption(argc, argv, i, args.check, status, bad)) {
            if (bad) return ParseResult::usage;
        } else {
            status = usageError("unknown option '%s'", arg);
            return ParseResult::usage;
        }
    }

    if (scaleText && !args.quiet) noteScaleText(scaleText, args.options.scale);

    // What goes with what.
    if (!checkUsageAllowed(args, status)) return ParseResult::usage;
    const bool many = args.outDir != nullptr;
    if (args.detect && (many || args.to != GreenConvention::unknown || args.thumbnail || args.formatGiven)) {
        status = usageError("--detect only reads: it takes no --out-dir, --to, --format or --thumbnail");
        return ParseResult::usage;
    }
    if (!many && !args.detect && !args.check.check) {
        if (args.formatGiven || jobsGiven || recursiveGiven) {
            status = usageError("--format, --jobs and --recursive go with --out-dir");
            return ParseResult::usage;
        }
        if (args.inputs.size() != 2) {
            status = usageError(args.inputs.size() < 2 ? "INPUT and OUTPUT are both needed"
                                                       : "too many arguments: one INPUT and one OUTPUT, or --out-dir DIR");
            return ParseResult::usage;
        }
        OutputFormat format;
        if (!outputFormatOf(args.inputs[1], format)) {
            status = usageError("OUTPUT must end in .bmp, .png, .tga, .tif, .tiff or .dds: %s", args.inputs[1]);
            return ParseResult::usage;
        }
        if (args.ddsOptionsGiven && format != OutputFormat::dds) {
            status = usageError("--dds, --dds-dx10, --mips and --mip-keep-length go with a .dds OUTPUT");
            return ParseResult::usage;
        }
    }
    if (many && args.ddsOptionsGiven && !(args.formatGiven && args.format == OutputFormat::dds)) {
        status = usageError("--dds, --dds-dx10, --mips and --mip-keep-length go with --format dds");
        return ParseResult::usage;
    }
    if (args.detect && args.ddsOptionsGiven) {
        status = usageError("--detect only reads: it takes no DDS options");
        return ParseResult::usage;
    }
    if (args.update && !many) {
        status = usageError("--update goes with --out-dir");
        return ParseResult::usage;
    }
    if (many && args.thumbnail) {
        status = usageError("--thumbnail goes with one INPUT and OUTPUT, not with --out-dir");
        return ParseResult::usage;
    }
    if ((many || args.detect) && args.inputs.empty()) {
        status = usageError("no INPUT given");
        return ParseResult::usage;
    }
    OutputFormat thumbnailFormat;
    if (args.thumbnail && (!outputFormatOf(args.thumbnail, thumbnailFormat) || thumbnailFormat == OutputFormat::dds)) {
        status = usageError("THUMB must end in .bmp, .png, .tga, .tif or .tiff: %s", args.thumbnail);
        return ParseResult::usage;
    }
    return ParseResult::run;
}

const char* formatLabel(OutputFormat format) {
    switch (format) {
        case OutputFormat::bmp: return "BMP";
        case OutputFormat::tga: return "Targa";
        case OutputFormat::tif: return "TIFF";
        case OutputFormat::dds: return "DDS";
        case OutputFormat::png: break;
    }
    return "PNG";
}

bool writeOrReport(const char* path, BitmapHandle bitmap) {
    OutputFormat format = OutputFormat::bmp;
    outputFormatOf(path, format);
    if (writeImageFile(path, bitmap, format)) return true;
    reportLine("%s: There was an error writing the file: %s", path, writeFailureReason().c_str());
    return false;
}

}  // namespace

void reportLine(const char* format, ...) {
    char text[1024];
    va_list list;
    va_start(list, format);
    std::vsnprintf(text, sizeof text, format, list);
    va_end(list);
    printAboveProgress("quorvel-cli: " + std::string(text) + "\n");
}

std::string loadFailureReason(const char* path) {
    FILE* file = std::fopen(path, "rb");
    if (!file) return std::strerror(errno);
    std::fclose(file);
    if (!platformFileExists(path)) return "not a regular file";
    if (const char* format = formatNameOf(path)) {
        char kind[96];
        if (unreadableKindOf(path, kind, sizeof kind))
            return std::string("a ") + format + " file of " + kind + ", which quorvel-cli does not read";
        return std::string("not a ") + format + " file that quorvel-cli can read (damaged, or a kind it does not read)";
    }
    const char* name = std::strrchr(path, pathSeparator);
    if (pathSeparator != '/')
        if (const char* slash = std::strrchr(path, '/'); slash && (!name || slash > name)) name = slash;
    const char* dot = std::strrchr(name ? name : path, '.');
    const std::string kind = dot ? std::string(".") + (dot + 1) + " files" : std::string("files without an extension");
    return "quorvel-cli does not read " + kind + " (it reads BMP, TGA, PCX, PSD, DDS, PPM, PGM, PBM, PNG, JPEG and TIFF)";
}

std::string writeFailureReason() {
    return errno ? std::strerror(errno) : "the picture could not be encoded";
}

const char* conventionName(GreenConvention convention) {
    switch (convention) {
        case GreenConvention::openGl: return "opengl";
        case GreenConvention::directX: return "directx";
        case GreenConvention::unknown: break;
    }
    return "unknown";
}

std::string guessText(const ConventionGuess& guess) {
    char confidence[16];
    std::snprintf(confidence, sizeof confidence, " %.2f", static_cast<double>(guess.confidence));
    std::string text = conventionName(guess.convention) + std::string(confidence);
    const std::string reason = unknownReasonText(guess);
    return reason.empty() ? text : text + " (" + reason + ")";
}

void warnUnclear(const char* input, const ConventionGuess& guess) {
    const std::string reason = unknownReasonText(guess);
    reportLine("warning: %s: green convention unclear%s%s (%.2f); written unconverted", input,
               reason.empty() ? "" : ": ", reason.c_str(), static_cast<double>(guess.confidence));
}

bool needsGreenFlip(GreenConvention found, GreenConvention wanted) {
    return found != GreenConvention::unknown && wanted != GreenConvention::unknown && found != wanted;
}

bool saveResult(const Arguments& args, const char* input, const char* output, const Image& image,
                OutputFormat format) {
    SaveReport report;
    if (!writeImage(output, image, format, args.save, &report)) {
        reportLine("%s: There was an error writing the file: %s", output, writeFailureReason().c_str());
        return false;
    }
    if (!args.quiet && report.reduced)
        reportLine("note: %s has 16-bit samples; %s keeps 8 bits", input, formatLabel(format));
    if (!args.quiet && report.alphaDropped)
        reportLine("note: %s has an alpha channel, which %s cannot hold; it was left out", input,
                   formatLabel(format));
    return true;
}

int runOneFile(const Arguments& args) {
    const char* input = args.inputs[0];
    const char* output = args.inputs[1];
    if (!args.thumbnail && args.to == GreenConvention::unknown) {
        OutputFormat format = OutputFormat::bmp;
        outputFormatOf(output, format);
        switch (streamAdjust(input, output, format, args.options, args.save)) {
            case StreamResult::written: return exitOk;
            case StreamResult::loadFailed:
                reportLine("%s: Failed to load open file: it changed while it was read", input);
                return exitLoadFailed;
            case StreamResult::writeFailed:
                reportLine("%s: There was an error writing the file: %s", output, writeFailureReason().c_str());
                return exitWriteFailed;
            case StreamResult::notStreamable: break;
        }
    }
    findModuleDirectory();
    session = createSession();
    if (!session) return exitLoadFailed;
    int status = exitOk;
    if (!adoptOpenFile(input)) {
        reportLine("%s: Failed to load open file: %s", input, loadFailureReason(input).c_str());
        status = exitLoadFailed;
    } else {
        if (args.to != GreenConvention::unknown) {
            const ConventionGuess guess = detectGreenConvention(session->image);
            if (needsGreenFlip(guess.convention, args.to)) {
                AdjustOptions flip = defaultAdjustOptions;
                flip.invertGreen = 1;
                adjustPixels(&session->image, flip);
            } else if (guess.convention == GreenConvention::unknown) {
                warnUnclear(input, guess);
            }
        }
        // The image was just read from the file, so adjusting it is the
        // adjustment run without reading the file a second time.
        session->options = args.options;
        adjustLoadedImage();
        OutputFormat format = OutputFormat::bmp;
        outputFormatOf(output, format);
        if (!saveResult(args, input, output, session->image, format)) status = exitWriteFailed;
        if (status == exitOk && args.thumbnail) {
            buildThumbnail();
            if (!writeOrReport(args.thumbnail, session->thumbnail.bitmap)) status = exitWriteFailed;
        }
    }
    destroySession(session);
    session = nullptr;
    return status;
}

int main(int argc, char** argv) {
    Arguments args;
    int status = exitUsage;
    switch (parseArguments(argc, argv, args, status)) {
        case ParseResult::exitOk: return exitOk;
        case ParseResult::usage: return status;
        case ParseResult::run: break;
    }
    if (args.check.check || args.check.fix) return runCheck(args);
    if (args.detect) return runDetect(args);
    if (args.outDir) return runFolder(args);
    return runOneFile(args);
}
