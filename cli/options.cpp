// The option table, the parser and --help that are both made from it, and
// the rules of what goes with what.
#include "cli/options.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "adjust/scale_text.h"
#include "platform/supercompression.h"
#include "readers/ktx2_format.h"

namespace {

// A picture format, or exr (heights).
bool parseFormat(const char* text, OutputFormat& format) {
    std::string name = std::string("x.") + text;
    return outputFormatOf(name.c_str(), format) || heightFormatOf(name.c_str(), format);
}

bool parseDdsFormat(const char* text, TextureFormat& format) {
    if (std::strcmp(text, "bc5") == 0) format = TextureFormat::bc5;
    else if (std::strcmp(text, "bc1") == 0) format = TextureFormat::bc1;
    else if (std::strcmp(text, "bc3") == 0) format = TextureFormat::bc3;
    else if (std::strcmp(text, "bgra8") == 0) format = TextureFormat::bgra8;
    else if (std::strcmp(text, "bc7") == 0) format = TextureFormat::bc7;
    else return false;
    return true;
}

// An ASTC block size as --astc names it ("4x4" ... "8x8").
bool parseAstcBlock(const char* text, TextureFormat& format) {
    constexpr TextureFormat blocks[] = {TextureFormat::astc4x4, TextureFormat::astc5x4, TextureFormat::astc5x5,
                                        TextureFormat::astc6x5, TextureFormat::astc6x6, TextureFormat::astc8x5,
                                        TextureFormat::astc8x6, TextureFormat::astc8x8};
    for (TextureFormat candidate : blocks) {
        AstcBlock block;
        astcBlockOf(candidate, block);
        if (std::to_string(block.x) + "x" + std::to_string(block.y) == text) {
            format = candidate;
            return true;
        }
    }
    return false;
}

bool parseAstcQuality(const char* text, AstcQuality& quality) {
    if (std::strcmp(text, "fastest") == 0) quality = AstcQuality::fastest;
    else if (std::strcmp(text, "fast") == 0) quality = AstcQuality::fast;
    else if (std::strcmp(text, "medium") == 0) quality = AstcQuality::medium;
    else if (std::strcmp(text, "thorough") == 0) quality = AstcQuality::thorough;
    else return false;
    return true;
}

// A whole decimal number from `low` to `high`.
bool parseCount(const char* text, long low, long high, long& count) {
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (end == text || *end || value < low || value > high) return false;
    count = value;
    return true;
}

bool parseConvention(const char* text, GreenConvention& convention) {
    return parseChoice<GreenConvention>(conventionNames, text, &convention);
}

// A switch turned on, for the table's actions; always true.
constexpr bool set(bool& flag) { return flag = true; }
constexpr bool set(int32_t& flag) {
    flag = 1;
    return true;
}
// A text value kept as given; always true.
constexpr bool keep(const char*& field, const char* text) {
    field = text;
    return true;
}

// The groups of --help, in their order.
constexpr char adjustments[] = "Adjustments";
constexpr char output[] = "Output";
constexpr char engines[] = "Engines";
constexpr char ddsOutput[] = "DDS output";
constexpr char ktxOutput[] = "KTX2 output";
constexpr char astcOutput[] = "ASTC output (.astc)";
constexpr char manyFiles[] = "Many files";
constexpr char greenConvention[] = "Green convention";
constexpr char checking[] = "Checking and fixing";
constexpr char makingMaps[] = "Making maps";
constexpr char general[] = "";

// The runs an adjustment goes with: not --check, which only reads (--detect
// takes them and reads on regardless).
constexpr uint16_t makingRuns = fromHeightRun | fromHeightFolderRun;
constexpr uint16_t heightRuns = toHeightRun | toHeightFolderRun;
constexpr uint16_t mapRuns = makingRuns | heightRuns;  // the runs of the map makers
// Every run that reads or writes normal maps: all but --to-height.
constexpr uint16_t normalRuns = everyRun & ~heightRuns;
constexpr uint16_t adjustingRuns = oneFileRun | folderRun | detectRun | fixOneRun | fixFolderRun | makingRuns;
// The DDS choices go wherever a DDS file may be written, and with --check,
// which lets them be.
constexpr uint16_t ddsRuns = oneFileRun | folderRun | checkRun | fixOneRun | fixFolderRun | makingRuns;
constexpr uint16_t outDirRuns = folderRun | fixFolderRun | fromHeightFolderRun | toHeightFolderRun;
constexpr uint16_t manyFileRuns = folderRun | detectRun | checkRun | fixFolderRun | fromHeightFolderRun | toHeightFolderRun;
constexpr uint16_t checkRuns = checkRun | fixOneRun | fixFolderRun;
// --blend goes on the adjusting road: one file, folders, and maps just made.
constexpr uint16_t blendRuns = oneFileRun | folderRun | makingRuns;

constexpr Option options[] = {
    {.name = "--invert-red", .shortName = 0, .argument = nullptr, .runs = adjustingRuns, .section = adjustments,
     .help = "invert the red channel (X)",
     .take = [](Arguments& a, const char*) { return set(a.options.invertRed); }, .refusal = nullptr},
    {.name = "--invert-green", .shortName = 0, .argument = nullptr, .runs = adjustingRuns, .section = adjustments,
     .help = "invert the green channel (Y)",
     .take = [](Arguments& a, const char*) { return set(a.options.invertGreen); }, .refusal = nullptr},
    {.name = "--invert-blue", .shortName = 0, .argument = nullptr, .runs = adjustingRuns, .section = adjustments,
     .help = "invert the blue channel (Z)",
     .take = [](Arguments& a, const char*) { return set(a.options.invertBlue); }, .refusal = nullptr},
    {.name = "--renormalize", .shortName = 0, .argument = nullptr, .runs = adjustingRuns, .section = adjustments,
     .help = "re-normalise every normal after scaling X and Y",
     .take = [](Arguments& a, const char*) { return set(a.options.renormalize); }, .refusal = nullptr},
    {.name = "--scale", .shortName = 0, .argument = "TEXT", .runs = normalRuns, .section = adjustments,
     .help = "the scale for X and Y, read like the scale field:\n"
             "empty gives 1, text that is not a number gives 0",
     .take =
         [](Arguments& a, const char* text) {
             a.options.scale = parseScaleText(text);
             a.scaleText = text;
             return true;
         },
     .refusal = nullptr},
    {.name = "--to", .shortName = 0, .argument = "opengl|directx", .runs = oneFileRun | folderRun,
     .section = adjustments,
     .help = "convert to one green convention: each map's convention\n"
             "is detected and green inverted where it differs; a map\n"
             "whose convention is unclear is written unchanged, with\n"
             "a warning. This comes before the other adjustments.",
     .take = [](Arguments& a, const char* text) { return parseConvention(text, a.to); },
     .refusal = "--to takes opengl or directx"},
    {.name = "--thumbnail", .shortName = 0, .argument = "THUMB", .runs = oneFileRun | fromHeightRun, .section = adjustments,
     .help = "also save the dialog's thumbnail (.bmp, .png, .tga or\n"
             ".tif)",
     .take = [](Arguments& a, const char* path) { return keep(a.thumbnail, path); }, .refusal = nullptr},

    {.name = "--alpha", .shortName = 0, .argument = "keep|drop", .runs = normalRuns, .section = output,
     .help = "keep an input's alpha channel in PNG, Targa and TIFF\n"
             "output (the default), or leave it out; BMP holds no\n"
             "alpha",
     .take =
         [](Arguments& a, const char* text) {
             const bool keep = std::strcmp(text, "keep") == 0;
             if (!keep && std::strcmp(text, "drop") != 0) return false;
             a.save.keepAlpha = keep;
             return true;
         },
     .refusal = "--alpha takes keep or drop"},
    {.name = "--depth", .shortName = 0, .argument = "8|16|float", .runs = everyRun, .section = output,
     .help = "the bits a sample of PNG and TIFF output: 8 reduces\n"
             "16-bit samples, 16 widens 8-bit ones; by default the\n"
             "input's own depth. BMP and Targa hold 8 bits.\n"
             "--to-height writes 16 (the default) or float: 32-bit\n"
             "float TIFF heights in texel widths",
     .take =
         [](Arguments& a, const char* text) {
             if (std::strcmp(text, "float") == 0) return set(a.make.floatHeights);
             if (std::strcmp(text, "8") != 0 && std::strcmp(text, "16") != 0) return false;
             a.save.depth = std::atoi(text);
             a.make.floatHeights = false;
             return true;
         },
     .refusal = "--depth takes 8, 16 or float"},

    {.name = "--for", .shortName = 0, .argument = "ENGINE", .runs = ddsRuns, .section = engines,
     .help = "write what ENGINE takes for normal maps: unreal (BC5\n"
             "DDS, DirectX green, every mip level), unity, godot\n"
             "(PNG, OpenGL green: the engine makes the mips), bevy\n"
             "(BC5 KTX2 with zstd, OpenGL, every level), threejs\n"
             "(RGBA8 KTX2 with zstd, OpenGL, every level), blender\n"
             "(16-bit PNG, OpenGL). With --check or --fix: the\n"
             "engine's convention is expected. An option that says\n"
             "otherwise is refused",
     .take =
         [](Arguments& a, const char* text) {
             a.engine = enginePresetNamed(text);
             return a.engine != nullptr;
         },
     .refusal = "--for takes unreal, unity, godot, bevy, threejs or blender"},

    {.name = "--dds", .shortName = 0, .argument = "FORMAT", .runs = ddsRuns, .section = ddsOutput,
     .help = "bc5 (default): X and Y only, Z is rebuilt by the reader;\n"
             "bc1 or bc3: the RGB map for older engines (bc3's alpha\n"
             "is 255); bc7: X, Y, Z and the picture's alpha (a\n"
             "height, say; 255 without one), always with the DX10\n"
             "header; bgra8: uncompressed",
     .take =
         [](Arguments& a, const char* text) {
             return parseDdsFormat(text, a.save.ddsFormat) && set(a.payloadGiven) && set(a.ddsOptionsGiven);
         },
     .refusal = "--dds takes bc5, bc1, bc3, bc7 or bgra8"},
    {.name = "--bc7-fast", .shortName = 0, .argument = nullptr, .runs = ddsRuns, .section = ddsOutput,
     .help = "with bc7 (DDS or KTX2): a quicker search (fewer modes\n"
             "and partitions, one round of refinement), a little\n"
             "less accurate",
     .take =
         [](Arguments& a, const char*) {
             a.save.bc7Fast = 1;
             return set(a.mipOptionsGiven);
         },
     .refusal = nullptr},
    {.name = "--dds-dx10", .shortName = 0, .argument = nullptr, .runs = ddsRuns, .section = ddsOutput,
     .help = "write the DX10 header (DXGI format) instead of the\n"
             "legacy one (ATI2, DXT1, DXT5 or bit masks)",
     .take =
         [](Arguments& a, const char*) {
             a.save.ddsDx10 = 1;
             return set(a.ddsOptionsGiven);
         },
     .refusal = nullptr},
    {.name = "--mips", .shortName = 0, .argument = "N", .runs = ddsRuns, .section = ddsOutput,
     .help = "DDS and KTX2: at most N mip levels (default: every\n"
             "level down to 1 x 1; 1: none). Each level averages\n"
             "the one above over its exact footprint and is\n"
             "re-normalised (bc4: plain averages).",
     .take =
         [](Arguments& a, const char* text) {
             long mips = 0;
             if (!parseCount(text, 1, 32, mips)) return false;
             a.save.mips = static_cast<uint32_t>(mips);
             return set(a.mipOptionsGiven);
         },
     .refusal = "--mips takes a number of levels from 1 to 32"},
    {.name = "--mip-keep-length", .shortName = 0, .argument = nullptr, .runs = ddsRuns, .section = ddsOutput,
     .help = "keep the averaged lengths in the levels below the top\n"
             "(bgra8, bc1, bc3, rgba8, rgba16; bc5, rg8 and rg16\n"
             "always store unit vectors)",
     .take =
         [](Arguments& a, const char*) {
             a.save.mipKeepLength = 1;
             return set(a.mipOptionsGiven);
         },
     .refusal = nullptr},

    {.name = "--ktx", .shortName = 0, .argument = "FORMAT", .runs = ddsRuns, .section = ktxOutput,
     .help = "bc5 (default): X and Y, Z is rebuilt by the reader;\n"
             "bc1, bc3: RGB; bc4: one channel (a height or grey\n"
             "map: the picture's red); bc7: RGB and the picture's\n"
             "alpha; astc4x4, astc5x4, astc5x5, astc6x5, astc6x6,\n"
             "astc8x5, astc8x6, astc8x8: X in RGB, Y in alpha (read\n"
             ".ga, as --astc); rg8, rgba8, rg16, rgba16: plain (16\n"
             "bits kept from 16-bit pictures; rgba keeps alpha)",
     .take =
         [](Arguments& a, const char* text) {
             const ktx2::Payload* payload = ktx2::payloadNamed(text);
             if (!payload) return false;
             a.save.ktxFormat = payload->texture;
             return set(a.payloadGiven) && set(a.ktxOptionsGiven);
         },
     .refusal = "--ktx takes bc5, bc1, bc3, bc4, rg8, rgba8, rg16, rgba16, bc7 or astc4x4 to astc8x8"},
    {.name = "--ktx-zstd", .shortName = 0, .argument = "LEVEL", .runs = ddsRuns, .section = ktxOutput,
     .help = "supercompress each level with zstd at LEVEL (1 to 22;\n"
             "0: none). Default: 18 for bc*, 9 for plain payloads;\n"
             "none on Windows, whose build has no zstd",
     .take =
         [](Arguments& a, const char* text) {
             long level = 0;
             if (!parseCount(text, 0, 22, level)) return false;
             a.save.ktxZstd = static_cast<int32_t>(level);
             return set(a.ktxOptionsGiven);
         },
     .refusal = "--ktx-zstd takes a level from 0 (none) to 22"},
    {.name = "--ktx-zlib", .shortName = 0, .argument = "LEVEL", .runs = ddsRuns, .section = ktxOutput,
     .help = "supercompress each level with zlib at LEVEL (1 to 9)\n"
             "instead of zstd",
     .take =
         [](Arguments& a, const char* text) {
             long level = 0;
             if (!parseCount(text, 1, 9, level)) return false;
             a.save.ktxZlib = static_cast<int32_t>(level);
             return set(a.ktxOptionsGiven);
         },
     .refusal = "--ktx-zlib takes a level from 1 to 9"},
    {.name = "--astc", .shortName = 0, .argument = "BLOCK", .runs = ddsRuns, .section = astcOutput,
     .help = "block size in texels: 4x4 (default, 8 bits a texel\n"
             "as BC5), 5x4, 5x5, 6x5, 6x6, 8x5, 8x6 or 8x8. The\n"
             "map is stored in the ASTC normal-map layout: X in\n"
             "red, green and blue, Y in alpha; read .ga in a\n"
             "shader (X = .g, Y = .a) and rebuild Z. One level.",
     .take = [](Arguments& a, const char* text) { return parseAstcBlock(text, a.save.astcFormat) && set(a.astcOptionsGiven); },
     .refusal = "--astc takes 4x4, 5x4, 5x5, 6x5, 6x6, 8x5, 8x6 or 8x8"},
    {.name = "--astc-quality", .shortName = 0, .argument = "PRESET", .runs = ddsRuns, .section = astcOutput,
     .help = "ASTC (.astc, or KTX2 with --ktx astc*): the encoder's\n"
             "search: fastest, fast, medium (default) or thorough\n"
             "(slower, a little closer)",
     .take = [](Arguments& a, const char* text) { return parseAstcQuality(text, a.save.astcQuality) && set(a.astcQualityGiven); },
     .refusal = "--astc-quality takes fastest, fast, medium or thorough"},

    {.name = "--out-dir", .shortName = 0, .argument = "DIR", .runs = outDirRuns, .section = manyFiles,
     .help = "write each INPUT (a file, or every readable file in a\n"
             "folder) to DIR/NAME.FORMAT; DIR is made when missing",
     .take = [](Arguments& a, const char* folder) { return keep(a.outDir, folder); }, .refusal = nullptr},
    {.name = "--format", .shortName = 0, .argument = "FORMAT", .runs = outDirRuns, .section = manyFiles,
     .help = "bmp, png, tga, tif (tiff), dds, ktx2 or astc; by\n"
             "default an input's own format when it is bmp, png, tga\n"
             "or tif, otherwise png. --to-height: png (default), tif\n"
             "or exr",
     .take = [](Arguments& a, const char* text) { return parseFormat(text, a.format) && set(a.formatGiven); },
     .refusal = "--format takes bmp, png, tga, tif, dds, ktx2, astc or exr"},
    {.name = "--recursive", .shortName = 'r', .argument = nullptr, .runs = manyFileRuns, .section = manyFiles,
     .help = "also take the files in sub-folders, keeping the\n"
             "sub-folders under DIR",
     .take = [](Arguments& a, const char*) { return set(a.recursive); }, .refusal = nullptr},
    {.name = "--update", .shortName = 'u', .argument = nullptr, .runs = outDirRuns, .section = manyFiles,
     .help = "skip each INPUT whose output exists and is not older\n"
             "than it, as cp -u does; the files are not read, so\n"
             "changing the options does not make an output out\n"
             "of date (remove it, or run without -u)",
     .take = [](Arguments& a, const char*) { return set(a.update); }, .refusal = nullptr},
    {.name = "--jobs", .shortName = 'j', .argument = "N", .runs = manyFileRuns, .section = manyFiles,
     .help = "work on N files at once (default: one per processor)",
     .take =
         [](Arguments& a, const char* text) {
             long jobs = 0;
             if (!parseCount(text, 1, 256, jobs)) return false;
             a.jobs = static_cast<unsigned>(jobs);
             return true;
         },
     .refusal = "-j takes a number of workers from 1 to 256"},
    {.name = "--quiet", .shortName = 'q', .argument = nullptr, .runs = everyRun, .section = manyFiles,
     .help = "no progress line and no notes",
     .take = [](Arguments& a, const char*) { return set(a.quiet); }, .refusal = nullptr},

    {.name = "--detect", .shortName = 0, .argument = nullptr, .runs = detectRun, .section = greenConvention,
     .help = "print 'PATH: opengl|directx CONFIDENCE' for each INPUT,\n"
             "the confidence running from 0 to 1, or 'PATH: unknown\n"
             "CONFIDENCE (REASON)' when it falls below 0.10:\n"
             "  flat               no relief at all\n"
             "  not a normal map: N% unit-length normals\n"
             "                     (albedo, height maps, photographs)\n"
             "  too little relief  relief too faint, or running only\n"
             "                     along the axes (planks, stripes)\n"
             "  parts disagree     parts read as different\n"
             "                     conventions (mirrored pasted parts)\n"
             "Only the relation of X to Y can be seen, so a map with\n"
             "red inverted reads as the other convention.",
     .take = [](Arguments& a, const char*) { return set(a.detect); }, .refusal = nullptr},
    {.name = "--json", .shortName = 0, .argument = nullptr, .runs = detectRun | checkRuns | heightRuns,
     .section = greenConvention,
     .help = "one JSON object a line (JSON Lines) instead of text,\n"
             "for --detect, --check, --fix and --to-height",
     .take = [](Arguments& a, const char*) { return set(a.check.json); }, .refusal = nullptr},

    {.name = "--check", .shortName = 0, .argument = nullptr, .runs = checkRun, .section = checking,
     .help = "print 'PATH: FINDINGS (CONVENTION CONFIDENCE; N% unit\n"
             "length)' for each INPUT, or 'ok' for FINDINGS. The\n"
             "findings: z-missing, z-inverted, dxt5nm, srgb-decoded,\n"
             "srgb-encoded, not-normalized, object-space,\n"
             "not-a-normal-map; with --expect also wrong-convention\n"
             "or convention-unknown",
     .take = [](Arguments& a, const char*) { return set(a.check.check); }, .refusal = nullptr},
    {.name = "--fix", .shortName = 0, .argument = nullptr, .runs = fixOneRun | fixFolderRun, .section = checking,
     .help = "write each map repaired: DXT5nm unpacked, the sRGB\n"
             "curve undone, Z rebuilt or un-inverted, every vector\n"
             "re-normalised, and with --expect green converted; the\n"
             "other options are applied afterwards. Object-space\n"
             "maps and pictures that are no normal map are skipped",
     .take = [](Arguments& a, const char*) { return set(a.check.fix); }, .refusal = nullptr},
    {.name = "--expect", .shortName = 0, .argument = "CONVENTION", .runs = checkRuns, .section = checking,
     .help = "opengl or directx: a map of the other convention is\n"
             "wrong-convention (--fix converts it)",
     .take = [](Arguments& a, const char* text) { return parseConvention(text, a.check.expect); },
     .refusal = "--expect takes opengl or directx"},

    {.name = "--from-height", .shortName = 0, .argument = nullptr, .runs = makingRuns, .section = makingMaps,
     .help = "make a normal map of each height map (white high,\n"
             "black low); the other options apply to the map made",
     .take = [](Arguments& a, const char*) { return set(a.make.fromHeight); }, .refusal = nullptr},
    {.name = "--to-height", .shortName = 0, .argument = nullptr, .runs = heightRuns, .section = makingMaps,
     .help = "make the height map of each normal map: a 16-bit grey\n"
             "PNG or TIFF, lowest black and highest white, or float\n"
             "heights in texel widths above the lowest (.exr, or\n"
             "--depth float with .tif); prints 'height range R\n"
             "texels'",
     .take = [](Arguments& a, const char*) { return set(a.make.toHeight); }, .refusal = nullptr},
    {.name = "--height-channel", .shortName = 0, .argument = "CH", .runs = makingRuns, .section = makingMaps,
     .help = "r, g, b, a or luma: where the height is read (default:\n"
             "grey pictures as grey, colour ones as luma; an\n"
             "OpenEXR file's one channel, or its R, G, B)",
     .take = [](Arguments& a, const char* text) { return parseChoice<HeightChannel>(heightChannelNames, text, &a.make.channel); },
     .refusal = "--height-channel takes r, g, b, a or luma"},
    {.name = "--height-scale", .shortName = 0, .argument = "S", .runs = mapRuns, .section = makingMaps,
     .help = "white stands S texel widths above black, or one unit\n"
             "of an OpenEXR file S texel widths (default 1);\n"
             "--to-height then writes S texel widths a step of\n"
             "white, or a unit of float",
     .take =
         [](Arguments& a, const char* text) {
             char* end = nullptr;
             const double value = std::strtod(text, &end);
             if (end == text || *end || !std::isfinite(value)) return false;
             a.make.heightScale = value;
             return set(a.make.heightScaleGiven);
         },
     .refusal = "--height-scale takes a number"},
    {.name = "--filter", .shortName = 0, .argument = "FILTER", .runs = mapRuns, .section = makingMaps,
     .help = "central, sobel (default), scharr, prewitt or sobel5\n"
             "(5 x 5, smoothest): the slope of the heights;\n"
             "--to-height fits the height to it (default central)",
     .take =
         [](Arguments& a, const char* text) {
             return parseChoice<DerivativeFilter>(derivativeFilterNames, text, &a.make.filter) &&
                    set(a.make.filterGiven);
         },
     .refusal = "--filter takes central, sobel, scharr, prewitt or sobel5"},
    {.name = "--wrap", .shortName = 0, .argument = nullptr, .runs = mapRuns, .section = makingMaps,
     .help = "the picture tiles: edges read across (default)",
     .take =
         [](Arguments& a, const char*) {
             a.make.edges = EdgeRule::wrap;
             return true;
         },
     .refusal = nullptr},
    {.name = "--clamp", .shortName = 0, .argument = nullptr, .runs = mapRuns, .section = makingMaps,
     .help = "for pictures that do not tile: edges repeated",
     .take =
         [](Arguments& a, const char*) {
             a.make.edges = EdgeRule::clamp;
             return true;
         },
     .refusal = nullptr},
    {.name = "--convention", .shortName = 0, .argument = "NAME", .runs = mapRuns, .section = makingMaps,
     .help = "opengl (default) or directx: the map made; for\n"
             "--to-height the map read (default: detected)",
     .take = [](Arguments& a, const char* text) { return parseConvention(text, a.make.convention); },
     .refusal = "--convention takes opengl or directx"},
    {.name = "--height-to-alpha", .shortName = 0, .argument = nullptr, .runs = makingRuns, .section = makingMaps,
     .help = "also keep the height in the map's alpha channel",
     .take = [](Arguments& a, const char*) { return set(a.make.heightToAlpha); }, .refusal = nullptr},
    {.name = "--blend", .shortName = 0, .argument = "DETAIL", .runs = blendRuns, .section = makingMaps,
     .help = "lay the normal map DETAIL over each map (tiled when\n"
             "smaller), after --to and before the other\n"
             "adjustments; DETAIL is read once, before any work",
     .take = [](Arguments& a, const char* path) { return keep(a.make.blend, path); }, .refusal = nullptr},
    {.name = "--blend-mode", .shortName = 0, .argument = "MODE", .runs = blendRuns, .section = makingMaps,
     .help = "rnm (default, reoriented normal mapping), whiteout,\n"
             "udn or linear",
     .take =
         [](Arguments& a, const char* text) {
             return parseChoice<BlendMode>(blendModeNames, text, &a.make.blendOptions.mode) &&
                    set(a.make.blendOptionsGiven);
         },
     .refusal = "--blend-mode takes rnm, whiteout, udn or linear"},
    {.name = "--blend-strength", .shortName = 0, .argument = "K", .runs = blendRuns, .section = makingMaps,
     .help = "the detail's slopes times K (default 1; 0 leaves the\n"
             "map as it was)",
     .take =
         [](Arguments& a, const char* text) {
             char* end = nullptr;
             const double value = std::strtod(text, &end);
             if (end == text || *end || !std::isfinite(value)) return false;
             a.make.blendOptions.strength = value;
             return set(a.make.blendOptionsGiven);
         },
     .refusal = "--blend-strength takes a number"},

    {.name = "--help", .shortName = 'h', .argument = nullptr, .runs = everyRun, .section = general,
     .help = "show this text", .take = [](Arguments&, const char*) { return true; }, .refusal = nullptr,
     .effect = OptionEffect::help},
    {.name = "--version", .shortName = 0, .argument = nullptr, .runs = everyRun, .section = general,
     .help = "show the version", .take = [](Arguments&, const char*) { return true; }, .refusal = nullptr,
     .effect = OptionEffect::version},
};

// The column where an option's text starts in --help, and the room its
// label ("-j, --jobs N") has before it.
constexpr size_t helpColumn = 24;

constexpr size_t labelLength(const Option& option) {
    const size_t name = std::string_view(option.name).size();
    const size_t argument = option.argument ? 1 + std::string_view(option.argument).size() : 0;
    return (option.shortName ? 4 : 0) + name + argument;
}

constexpr bool labelsFit() {
    for (const Option& option : options)
        if (2 + labelLength(option) >= helpColumn) return false;
    return true;
}
static_assert(labelsFit(), "an option's label must leave a space before the column of its text");

constexpr char helpHead[] =
    "Usage: quorvel-cli [OPTIONS] INPUT OUTPUT\n"
    "       quorvel-cli [OPTIONS] --out-dir DIR [--format bmp|png|tga|tif|dds|ktx2|astc] [-r] [-u] [-j N] INPUT...\n"
    "       quorvel-cli --detect [--json] [-r] [-j N] INPUT...\n"
    "       quorvel-cli --check [--expect opengl|directx] [--json] [-r] [-j N] INPUT...\n"
    "       quorvel-cli --fix [--expect opengl|directx] [OPTIONS] INPUT OUTPUT\n"
    "       quorvel-cli --fix [--expect opengl|directx] [OPTIONS] --out-dir DIR [-r] [-j N] INPUT...\n"
    "       quorvel-cli --from-height [OPTIONS] HEIGHT OUTPUT\n"
    "       quorvel-cli --from-height [OPTIONS] --out-dir DIR [-r] [-u] [-j N] HEIGHT...\n"
    "       quorvel-cli --to-height [--convention opengl|directx] [--clamp] [--json] NORMALMAP OUTPUT\n"
    "       quorvel-cli --to-height [OPTIONS] --out-dir DIR [--format png|tif|exr] [-r] [-u] [-j N] NORMALMAP...\n"
    "\n"
    "Opens tangent-space normal maps (BMP, TGA, PCX, PSD, DDS, KTX2, ASTC, PPM, PGM,\n"
    "PBM, PNG, JPEG, TIFF), adjusts their normals and saves them as BMP, PNG, Targa\n"
    "or TIFF files, as DDS or KTX2 textures with mip maps, or as ASTC files (X in\n"
    "RGB, Y in alpha: read .ga in a shader): OUTPUT's extension (.bmp, .png, .tga,\n"
    ".tif, .tiff, .dds, .ktx2 or .astc, any case) picks the format.\n";

constexpr char helpTail[] =
    "\n"
    "Examples:\n"
    "  quorvel-cli --invert-green baked.png fixed.png\n"
    "  quorvel-cli --renormalize baked.png engine_normal.dds\n"
    "  quorvel-cli --ktx bc5 --ktx-zstd 19 baked.png engine_normal.ktx2\n"
    "  quorvel-cli --astc 6x6 --astc-quality thorough baked.png mobile_normal.astc\n"
    "  quorvel-cli --to directx -r --out-dir converted textures/\n"
    "  quorvel-cli --invert-green -u --out-dir fixed textures/\n"
    "  quorvel-cli --detect textures/*.png\n"
    "  quorvel-cli --check --expect directx -r textures/\n"
    "  quorvel-cli --fix -r --out-dir fixed textures/\n"
    "  quorvel-cli --from-height --height-scale 4 --filter scharr height.png normal.png\n"
    "  quorvel-cli --from-height --convention directx --out-dir normals heights/\n"
    "  quorvel-cli --to-height --clamp baked.png height.png\n"
    "  quorvel-cli --to-height --format exr -r --out-dir heights textures/\n"
    "  quorvel-cli --from-height --height-scale 0.5 height.exr normal.png\n"
    "  quorvel-cli --blend fabric.png --blend-strength 0.5 baked.png detailed.png\n"
    "\n"
    "Exit status: 0 done; 1 an INPUT could not be loaded (with many files, the\n"
    "others are still written); 2 usage error; 3 a file could not be written;\n"
    "5 --check found something wrong with a map, or --fix skipped a map.\n";

// The option `arg` names and its attached value ("--jobs=4", "-j=4", "-j4"),
// or null. A switch matches only its names exactly.
const Option* findOption(const char* arg, const char*& attached) {
    const std::string_view text(arg);
    attached = nullptr;
    for (const Option& option : options) {
        const std::string_view name(option.name);
        const char shortName[3] = {'-', option.shortName, '\0'};
        for (const std::string_view spelling : {name, std::string_view(option.shortName ? shortName : "")}) {
            if (spelling.empty() || text.substr(0, spelling.size()) != spelling) continue;
            if (text.size() == spelling.size()) return &option;
            if (!option.argument) continue;
            if (text[spelling.size()] == '=') {
                attached = arg + spelling.size() + 1;
                return &option;
            }
            // A short name takes its value directly after it: -j4.
            if (spelling.size() == 2) {
                attached = arg + 2;
                return &option;
            }
        }
    }
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

// What goes with what, as --check and --fix see it: the problem, or null.
const char* checkUsageProblem(const Arguments& args) {
    const CheckArguments& c = args.check;
    const bool checkOrFix = c.check || c.fix;
    if (c.check && c.fix) return "--check only reads; --fix checks and writes: give one of them";
    if (c.json && !checkOrFix && !args.detect && !args.make.toHeight)
        return "--json goes with --check, --fix or --detect";
    if (c.expect != GreenConvention::unknown && !checkOrFix)
        return "--expect goes with --check or --fix (--to converts without checking)";
    if (!checkOrFix) return nullptr;
    if (args.detect) return "--detect and --check/--fix are separate runs";
    if (args.to != GreenConvention::unknown) return "--fix converts with --expect, not --to";
    if (args.thumbnail) return "--thumbnail does not go with --check or --fix";
    if (c.check && (args.outDir || args.formatGiven)) return "--check only reads: it takes no --out-dir or --format";
    if (c.check && (args.options.invertRed || args.options.invertGreen || args.options.invertBlue ||
                    args.options.renormalize))
        return "--check only reads: the adjustments go with --fix";
    if (args.inputs.empty()) return "no INPUT given";
    return nullptr;
}

std::string commonUsageProblem(const Arguments& args);
std::string heightOutputProblem(const Arguments& args);

// What goes with what among the map makers' runs: the problem, or null.
const char* mapUsageProblem(const Arguments& args) {
    const MapArguments& m = args.make;
    const bool checkOrFix = args.check.check || args.check.fix;
    if (m.fromHeight && m.toHeight) return "--from-height and --to-height are separate runs: give one of them";
    if (m.blend && (args.check.check || args.detect || m.toHeight))
        return "--blend writes normal maps: it does not go with --check, --detect or --to-height";
    if ((m.fromHeight || m.toHeight) && (checkOrFix || args.detect))
        return "--from-height and --to-height do not go with --check, --detect or --fix";
    if (m.blendOptionsGiven && !m.blend) return "--blend-mode and --blend-strength go with --blend";
    if (m.floatHeights && !m.toHeight) return "--depth float goes with --to-height";
    if (!m.toHeight && args.formatGiven && args.format == OutputFormat::exr)
        return "OpenEXR output holds heights: --format exr goes with --to-height";
    return nullptr;
}

// The run the arguments ask for.
RunKind runOf(const Arguments& args) {
    if (args.make.toHeight) return args.outDir ? toHeightFolderRun : toHeightRun;
    if (args.make.fromHeight) return args.outDir ? fromHeightFolderRun : fromHeightRun;
    if (args.check.fix) return args.outDir ? fixFolderRun : fixOneRun;
    if (args.check.check) return checkRun;
    if (args.detect) return detectRun;
    return args.outDir ? folderRun : oneFileRun;
}

const char* runName(RunKind run) {
    switch (run) {
        case oneFileRun: return "one INPUT and OUTPUT";
        case folderRun: return "--out-dir";
        case detectRun: return "--detect";
        case checkRun: return "--check";
        case fixOneRun: return "--fix";
        case fixFolderRun: return "--fix --out-dir";
        case fromHeightRun: return "--from-height";
        case fromHeightFolderRun: return "--from-height --out-dir";
        case toHeightRun: return "--to-height";
        case toHeightFolderRun: return "--to-height --out-dir";
        case everyRun: break;
    }
    return "this run";
}

// The first option given that the run does not take, as the table says.
std::string runProblem(const Arguments& args, std::span<const Option* const> given) {
    const RunKind run = runOf(args);
    for (const Option* option : given) {
        if (option->runs & run) continue;
        const std::string name = option->name;
        if ((option->runs & ~mapRuns) == 0) {
            const bool making = option->runs & makingRuns, height = option->runs & heightRuns;
            return name + " goes with " + (making ? "--from-height" : "") + (making && height ? " or " : "") +
                   (height ? "--to-height" : "");
        }
        return name + " does not go with " + runName(run);
    }
    return {};
}

// What goes with what: the usage error, or an empty text.
std::string usageProblem(const Arguments& args, std::span<const Option* const> given) {
    if (const char* problem = mapUsageProblem(args)) return problem;
    const bool makingMap = args.make.fromHeight || args.make.toHeight;
    if (makingMap) {
        if (std::string problem = runProblem(args, given); !problem.empty()) return problem;
    }
    if (std::string problem = commonUsageProblem(args); !problem.empty()) return problem;
    if (args.make.toHeight) {
        if (std::string problem = heightOutputProblem(args); !problem.empty()) return problem;
        if (args.make.heightScaleGiven && !(args.make.heightScale > 0.0))
            return "--to-height takes a --height-scale above 0";
    }
    return runProblem(args, given);
}

// What --to-height writes: a grey PNG or TIFF of 16 bits, float TIFF with
// --depth float, or OpenEXR (float always, and nowhere without a library).
std::string heightOutputProblem(const Arguments& args) {
    OutputFormat format = args.format;
    if (!args.outDir && !heightFormatOf(args.inputs[1], format))
        return std::string("--to-height writes a grey PNG or TIFF or an OpenEXR file: OUTPUT must end in .png, "
                           ".tif, .tiff or .exr: ") +
               args.inputs[1];
    if (args.outDir && format != OutputFormat::png && format != OutputFormat::tif && format != OutputFormat::exr)
        return "--to-height writes PNG, TIFF or OpenEXR: --format takes png, tif or exr";
    if (args.save.depth == 8) return "--to-height writes 16-bit or float heights: --depth takes 16 or float";
    if (format == OutputFormat::exr && args.save.depth == 16)
        return "OpenEXR heights are floats: --depth 16 goes with PNG or TIFF output";
    if (format == OutputFormat::png && args.make.floatHeights)
        return "PNG holds no floats: --depth float goes with TIFF output (or write .exr)";
    if (format == OutputFormat::exr && !platformHasOpenExr())
        return "this quorvel-cli writes no OpenEXR files (Windows has no OpenEXR library): use --depth float with TIFF";
    return {};
}

// The texture options go with the format that takes them: the usage error,
// or null. `folder`: the format comes from --format.
const char* textureOptionsProblem(const Arguments& args, OutputFormat format, bool folder) {
    if (args.ddsOptionsGiven && format != OutputFormat::dds)
        return folder ? "--dds and --dds-dx10 go with --format dds" : "--dds and --dds-dx10 go with a .dds OUTPUT";
    if (args.ktxOptionsGiven && format != OutputFormat::ktx2)
        return folder ? "--ktx, --ktx-zstd and --ktx-zlib go with --format ktx2"
                      : "--ktx, --ktx-zstd and --ktx-zlib go with a .ktx2 OUTPUT";
    if (args.mipOptionsGiven && format == OutputFormat::astc)
        return "--mips, --mip-keep-length and --bc7-fast go with DDS or KTX2 output: an .astc file holds one level";
    if (args.mipOptionsGiven && format != OutputFormat::dds && format != OutputFormat::ktx2)
        return folder ? "--mips, --mip-keep-length and --bc7-fast go with --format dds or ktx2"
                      : "--mips, --mip-keep-length and --bc7-fast go with a .dds or .ktx2 OUTPUT";
    if (args.astcOptionsGiven && format != OutputFormat::astc)
        return folder ? "--astc goes with --format astc (KTX2 takes --ktx astc4x4 ...)"
                      : "--astc goes with an .astc OUTPUT (KTX2 takes --ktx astc4x4 ...)";
    if (args.astcQualityGiven && format != OutputFormat::astc && format != OutputFormat::ktx2)
        return folder ? "--astc-quality goes with --format astc or ktx2"
                      : "--astc-quality goes with an .astc or .ktx2 OUTPUT";
    if (format == OutputFormat::astc && !platformHasAstc())
        return "this build has no ASTC encoder: .astc output is not written (write .dds or .png)";
    return nullptr;
}

// The rules every run shares: the usage error, or an empty text.
std::string commonUsageProblem(const Arguments& args) {
    if (const char* problem = checkUsageProblem(args)) return problem;
    const bool many = args.outDir != nullptr;
    if (args.detect && (many || args.to != GreenConvention::unknown || args.thumbnail || args.formatGiven))
        return "--detect only reads: it takes no --out-dir, --to, --format or --thumbnail";
    if (!many && !args.detect && !args.check.check) {
        if (args.formatGiven || args.jobs != 0 || args.recursive) return "--format, --jobs and --recursive go with --out-dir";
        if (args.inputs.size() != 2)
            return args.inputs.size() < 2 ? "INPUT and OUTPUT are both needed"
                                          : "too many arguments: one INPUT and one OUTPUT, or --out-dir DIR";
        OutputFormat format = OutputFormat::png;
        if (args.make.toHeight) {
            // heightOutputProblem names what --to-height writes.
        } else if (heightFormatOf(args.inputs[1], format) && format == OutputFormat::exr) {
            return std::string("OpenEXR output holds heights: .exr goes with --to-height: ") + args.inputs[1];
        } else if (!outputFormatOf(args.inputs[1], format)) {
            return std::string("OUTPUT must end in .bmp, .png, .tga, .tif, .tiff, .dds, .ktx2 or .astc: ") + args.inputs[1];
        }
        if (const char* problem = textureOptionsProblem(args, format, false)) return problem;
    }
    if (many) {
        const OutputFormat format = args.formatGiven ? args.format : OutputFormat::png;
        if (const char* problem = textureOptionsProblem(args, format, true)) return problem;
    }
    if (args.detect && (args.ddsOptionsGiven || args.ktxOptionsGiven || args.mipOptionsGiven || args.astcOptionsGiven ||
                        args.astcQualityGiven))
        return "--detect only reads: it takes no DDS, KTX2 or ASTC options";
    if (args.save.ktxZlib > 0 && args.save.ktxZstd > 0) return "--ktx-zstd and --ktx-zlib: choose one";
    if (args.save.ktxZstd > 0 && !platformHasPacking(Packing::zstd))
        return "this quorvel-cli writes no zstd (the Windows build has no zstd library): use --ktx-zlib LEVEL or --ktx-zstd 0";
    AstcBlock astcBlock;
    if ((args.astcOptionsGiven || args.astcQualityGiven || (args.formatGiven && args.format == OutputFormat::astc) ||
         astcBlockOf(args.save.ktxFormat, astcBlock)) &&
        !platformHasAstc())
        return "this build has no ASTC encoder: --astc, --astc-quality, --ktx astc* and --format astc are not taken";
    if (args.update && !many) return "--update goes with --out-dir";
    if (many && args.thumbnail) return "--thumbnail goes with one INPUT and OUTPUT, not with --out-dir";
    if ((many || args.detect) && args.inputs.empty()) return "no INPUT given";
    OutputFormat thumbnailFormat;
    if (args.thumbnail && (!outputFormatOf(args.thumbnail, thumbnailFormat) || thumbnailFormat == OutputFormat::dds ||
                           thumbnailFormat == OutputFormat::ktx2 || thumbnailFormat == OutputFormat::astc))
        return std::string("THUMB must end in .bmp, .png, .tga, .tif or .tiff: ") + args.thumbnail;
    return {};
}

}  // namespace

std::span<const Option> optionTable() { return options; }

std::string helpText() {
    std::string text = helpHead;
    const char* section = nullptr;
    for (const Option& option : options) {
        if (!section || std::strcmp(section, option.section) != 0) {
            section = option.section;
            text += *section ? "\n" + std::string(section) + ":\n" : "\n";
        }
        std::string label = option.shortName ? std::string{'-', option.shortName} + ", " + option.name : option.name;
        if (option.argument) label += std::string(" ") + option.argument;
        text += "  " + label + std::string(helpColumn - 2 - label.size(), ' ');
        for (const char* line = option.help; *line;) {
            const char* end = std::strchr(line, '\n');
            const size_t length = end ? static_cast<size_t>(end - line) : std::strlen(line);
            if (line != option.help) text += std::string(helpColumn, ' ');
            text.append(line, length);
            text += '\n';
            line += length + (end ? 1 : 0);
        }
    }
    return text + helpTail;
}

ParseResult parseArguments(int argc, const char* const* argv, Arguments& args, std::string& error) {
    bool optionsEnded = false;
    std::vector<const Option*> given;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (optionsEnded || arg[0] != '-' || arg[1] == '\0') {
            args.inputs.push_back(arg);
            continue;
        }
        if (std::strcmp(arg, "--") == 0) {
            optionsEnded = true;
            continue;
        }
        const char* value = nullptr;
        const Option* option = findOption(arg, value);
        if (!option) {
            error = std::string("unknown option '") + arg + "'";
            return ParseResult::usage;
        }
        // A value not attached is the next argument.
        if (option->argument && !value) {
            if (i + 1 >= argc) {
                error = std::string("option '") + arg + "' needs a value";
                return ParseResult::usage;
            }
            value = argv[++i];
        }
        if (!option->take(args, value)) {
            error = std::string(option->refusal) + ", not '" + value + "'";
            return ParseResult::usage;
        }
        given.push_back(option);
        if (option->effect == OptionEffect::help) return ParseResult::help;
        if (option->effect == OptionEffect::version) return ParseResult::version;
    }
    if (args.scaleText && !args.quiet) noteScaleText(args.scaleText, args.options.scale);
    error = applyEnginePreset(args);
    if (error.empty()) error = usageProblem(args, given);
    return error.empty() ? ParseResult::run : ParseResult::usage;
}

int usageError(const std::string& text) {
    std::fprintf(stderr, "quorvel-cli: %s\nTry 'quorvel-cli --help' for more information.\n", text.c_str());
    return exitUsage;
}
