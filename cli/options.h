// quorvel-cli's command line: what it asks for, the table of its options
// (which feeds both the parser and --help), and the rules of what goes with
// what.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "adjust/adjust.h"
#include "detect/green_convention.h"
#include "generate/blend.h"
#include "generate/generate_options.h"
#include "writers/writers.h"

struct EnginePreset;
struct Arguments;

// --for (cli/engine_presets.cpp): the preset `name` names, or null; and the
// preset applied to `args` where no option said otherwise (an option that
// says otherwise is a usage error: its text, or empty).
const EnginePreset* enginePresetNamed(const char* name);
std::string applyEnginePreset(Arguments& args);

enum ExitCode { exitOk = 0, exitLoadFailed = 1, exitUsage = 2, exitWriteFailed = 3, exitFindings = 5 };

// The options of --check and --fix.
struct CheckArguments {
    bool check = false;
    bool fix = false;
    bool json = false;  // JSON Lines for --check, --fix and --detect
    GreenConvention expect = GreenConvention::unknown;
};

// The options of making maps: --from-height, --to-height and --blend.
struct MapArguments {
    bool fromHeight = false;
    bool toHeight = false;
    bool floatHeights = false;  // --depth float: --to-height writes 32-bit float TIFF
    HeightChannel channel = HeightChannel::automatic;
    double heightScale = 1.0;  // S: white stands S texel widths above black
    bool heightScaleGiven = false;
    DerivativeFilter filter = DerivativeFilter::sobel;
    bool filterGiven = false;
    EdgeRule edges = EdgeRule::wrap;
    GreenConvention convention = GreenConvention::unknown;  // unknown: OpenGL, or detected by --to-height
    bool heightToAlpha = false;
    const char* blend = nullptr;  // DETAIL
    BlendOptions blendOptions;
    bool blendOptionsGiven = false;
};

struct Arguments {
    AdjustOptions options = defaultAdjustOptions;
    const char* scaleText = nullptr;  // --scale as given, for the note on text that is no plain number
    const char* thumbnail = nullptr;
    GreenConvention to = GreenConvention::unknown;  // unknown: no conversion asked for
    bool detect = false;
    const char* outDir = nullptr;
    bool formatGiven = false;
    OutputFormat format = OutputFormat::png;
    bool recursive = false;
    unsigned jobs = 0;  // 0: one per processor; -j gives 1 to 256, so 0 also says -j was not given
    bool quiet = false;
    bool update = false;  // folder runs skip the inputs whose output is up to date
    SaveOptions save;  // --alpha, --depth and the DDS choices
    const EnginePreset* engine = nullptr;  // --for
    bool payloadGiven = false;     // --dds or --ktx
    bool ddsOptionsGiven = false;  // --dds, --dds-dx10
    bool ktxOptionsGiven = false;  // --ktx, --ktx-zstd, --ktx-zlib
    bool mipOptionsGiven = false;  // --mips, --mip-keep-length (DDS and KTX2)
    bool astcOptionsGiven = false;  // --astc
    bool astcQualityGiven = false;  // --astc-quality (.astc and KTX2)
    std::vector<const char*> inputs;
    CheckArguments check;
    MapArguments make;
};

// The runs of quorvel-cli, as bits: which of them an option goes with.
enum RunKind : uint16_t {
    oneFileRun = 1,             // INPUT OUTPUT
    folderRun = 2,              // --out-dir DIR INPUT...
    detectRun = 4,              // --detect INPUT...
    checkRun = 8,               // --check INPUT...
    fixOneRun = 16,             // --fix INPUT OUTPUT
    fixFolderRun = 32,          // --fix --out-dir DIR INPUT...
    fromHeightRun = 64,         // --from-height HEIGHT OUTPUT
    fromHeightFolderRun = 128,  // --from-height --out-dir DIR HEIGHT...
    toHeightRun = 256,          // --to-height NORMALMAP OUTPUT
    toHeightFolderRun = 512,    // --to-height --out-dir DIR NORMALMAP...
    everyRun = 1023,
};

enum class OptionEffect { next, help, version };

// One option: how it is written, what --help says of it, and what it does.
struct Option {
    const char* name;       // "--jobs"
    char shortName;         // 'j', or 0 when it has none
    const char* argument;   // its value as --help names it ("N"); null for a switch
    uint16_t runs;          // RunKind bits: the runs that take it (the others refuse it as a usage error)
    const char* section;    // the heading --help lists it under ("" for the last, unnamed group)
    const char* help;       // its text in --help, lines separated by '\n'
    // Records the option (and its value) in `args`; false when the value is
    // refused, with `refusal` then naming what the option takes.
    bool (*take)(Arguments& args, const char* value);
    const char* refusal;  // "-j takes a number of workers from 1 to 256"
    OptionEffect effect = OptionEffect::next;
};

// Every option, in the order --help lists them.
std::span<const Option> optionTable();

// The text of --help, with the options listed from the table.
std::string helpText();

enum class ParseResult { run, help, version, usage };

// Reads the command line into `args`. On a usage error `error` holds the
// message (the text after "quorvel-cli: "). A --scale text that reads as
// something else than it says is noted on standard error unless --quiet.
ParseResult parseArguments(int argc, const char* const* argv, Arguments& args, std::string& error);

// Prints a usage error as quorvel-cli does, with the hint to --help, and
// returns exitUsage.
int usageError(const std::string& text);
