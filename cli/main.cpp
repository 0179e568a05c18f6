// quorvel-cli: the headless front end. Its result is what the program shows
// after opening INPUT and running the adjustment with the given options.
#include <cstdio>
#include <cstring>

#include "app/apply_run.h"
#include "app/session.h"
#include "writers/writers.h"

namespace {

enum ExitCode { exitOk = 0, exitLoadFailed = 1, exitUsage = 2, exitWriteFailed = 3 };

constexpr char usageText[] =
    "Usage: quorvel-cli [OPTIONS] INPUT OUTPUT.bmp\n"
    "\n"
    "Opens INPUT (BMP, TGA, PCX, PSD, DDS, PPM, PGM or PBM), adjusts its normals\n"
    "and saves the result as a 24-bit BMP file.\n"
    "\n"
    "Options:\n"
    "  --invert-red          invert the red channel (X)\n"
    "  --invert-green        invert the green channel (Y)\n"
    "  --invert-blue         invert the blue channel (Z)\n"
    "  --renormalize         re-normalise every normal after scaling X and Y\n"
    "  --scale TEXT          the scale for X and Y, read like the scale field:\n"
    "                        empty gives 1, text that is not a number gives 0\n"
    "  --thumbnail THUMB.bmp also save the dialog's thumbnail\n"
    "  --help                show this text\n"
    "  --version             show the version\n"
    "\n"
    "Exit status: 0 done, 1 INPUT could not be loaded, 2 usage error,\n"
    "3 a file could not be written.\n";

struct Arguments {
    AdjustOptions options = defaultAdjustOptions;
    const char* input = nullptr;
    const char* output = nullptr;
    const char* thumbnail = nullptr;
};

int usageError(const char* problem) {
    std::fprintf(stderr, "quorvel-cli: %s\n\n%s", problem, usageText);
    return exitUsage;
}

bool writeOrReport(const char* path, BitmapHandle bitmap) {
    OutputFormat format = OutputFormat::bmp;
    outputFormatOf(path, format);
    if (writeImageFile(path, bitmap, format)) return true;
    std::fprintf(stderr, "quorvel-cli: %s: There was an error writing the file.\n", path);
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    Arguments args;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (!optionsEnded && arg[0] == '-' && arg[1] == '-') {
            if (std::strcmp(arg, "--") == 0) {
                optionsEnded = true;
            } else if (std::strcmp(arg, "--help") == 0) {
                std::fputs(usageText, stdout);
                return exitOk;
            } else if (std::strcmp(arg, "--version") == 0) {
                std::printf("quorvel-cli %s\n", QUORVEL_VERSION);
                return exitOk;
            } else if (std::strcmp(arg, "--invert-red") == 0) {
                args.options.invertRed = 1;
            } else if (std::strcmp(arg, "--invert-green") == 0) {
                args.options.invertGreen = 1;
            } else if (std::strcmp(arg, "--invert-blue") == 0) {
                args.options.invertBlue = 1;
            } else if (std::strcmp(arg, "--renormalize") == 0) {
                args.options.renormalize = 1;
            } else if (std::strcmp(arg, "--scale") == 0 || std::strcmp(arg, "--thumbnail") == 0) {
                if (i + 1 >= argc) return usageError("an option needs a value");
                if (arg[2] == 's')
                    args.options.scale = parseScaleText(argv[++i]);
                else
                    args.thumbnail = argv[++i];
            } else {
                return usageError("unknown option");
            }
        } else if (!args.input) {
            args.input = arg;
        } else if (!args.output) {
            args.output = arg;
        } else {
            return usageError("too many arguments");
        }
    }
    if (!args.output) return usageError("INPUT and OUTPUT.bmp are both needed");

    findModuleDirectory();
    session = createSession();
    if (!session) return exitLoadFailed;
    int status = exitOk;
    if (!adoptOpenFile(args.input)) {
        std::fprintf(stderr, "quorvel-cli: %s: Failed to load open file.\n", args.input);
        status = exitLoadFailed;
    } else {
        // The image was just read from the file, so adjusting it is the
        // adjustment run without reading the file a second time.
        session->options = args.options;
        adjustLoadedImage();
        if (!writeOrReport(args.output, session->image.bitmap)) status = exitWriteFailed;
        if (status == exitOk && args.thumbnail) {
            buildThumbnail();
            if (!writeOrReport(args.thumbnail, session->thumbnail.bitmap)) status = exitWriteFailed;
        }
    }
    destroySession(session);
    session = nullptr;
    return status;
}
