// _quorvel: quorvel-cli's roads over NumPy arrays. Options come as keyword
// arguments and are read by the command line's own parser (cli/options.cpp)
// into its own Arguments; the pictures go through the command line's own
// per-file road (cli/cli.h) on Images made of the arrays. The package
// `quorvel` (python/quorvel) wraps these functions.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <malloc.h>

#include <cerrno>
#include <cstdio>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "adjust/adjust.h"
#include "check/repair.h"
#include "cli/cli.h"
#include "encode/mip_chain.h"
#include "encode/texture_encoder.h"
#include "generate/height_field.h"
#include "image/bands.h"
#include "image/rows.h"
#include "platform/platform.h"
#include "readers/dds_format.h"
#include "readers/readers.h"

namespace py = pybind11;

namespace {

// A bad argument, raised as quorvel.Error (a ValueError).
struct QuorvelError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// What a file road said about an array: "array" in place of a path.
constexpr char arrayName[] = "array";

// The command line the keyword arguments stand for, read by its parser.
// `args` points into `words`, so the two live together.
struct Parsed {
    std::vector<std::string> words;
    Arguments args;
};

std::unique_ptr<Parsed> parseOptions(const std::vector<std::string>& before, const py::kwargs& options,
                                     const std::vector<std::string>& after) {
    auto parsed = std::make_unique<Parsed>();
    std::vector<std::string>& words = parsed->words;
    words.push_back("quorvel");
    words.insert(words.end(), before.begin(), before.end());
    for (const auto& [key, value] : options) {
        std::string name = "--" + py::str(key).cast<std::string>();
        for (char& c : name)
            if (c == '_') c = '-';
        if (value.is_none()) continue;
        if (py::isinstance<py::bool_>(value)) {
            if (value.cast<bool>()) words.push_back(name);
            continue;
        }
        // Attached, so that a value beginning with '-' is still the value.
        words.push_back(name + "=" + py::str(value).cast<std::string>());
    }
    words.insert(words.end(), after.begin(), after.end());
    std::vector<const char*> argv;
    for (const std::string& word : words) argv.push_back(word.c_str());
    std::string error;
    switch (parseArguments(static_cast<int>(argv.size()), argv.data(), parsed->args, error)) {
        case ParseResult::run: return parsed;
        case ParseResult::usage: throw QuorvelError(error);
        case ParseResult::help:
        case ParseResult::version: break;
    }
    throw QuorvelError("help and version are the command line's: see help(quorvel)");
}

struct OwnedImage {
    Image image{};
    OwnedImage() = default;
    OwnedImage(const OwnedImage&) = delete;
    OwnedImage& operator=(const OwnedImage&) = delete;
    ~OwnedImage() { resetImage(&image); }
};

struct OwnedField {
    HeightField field;
    OwnedField() = default;
    OwnedField(const OwnedField&) = delete;
    OwnedField& operator=(const OwnedField&) = delete;
    ~OwnedField() { releaseHeightField(&field); }
};

// The warnings a road gave, passed on as Python warnings.
void warnWith(const std::vector<std::string>& lines, size_t from = 0) {
    for (size_t i = from; i < lines.size(); ++i)
        if (PyErr_WarnEx(PyExc_UserWarning, lines[i].c_str(), 1) < 0) throw py::error_already_set();
}

// The last line a failed road reported, or `fallback`.
std::string failureText(const std::vector<std::string>& lines, const char* fallback) {
    return lines.empty() ? std::string(fallback) : lines.back();
}

// Copies `width` pixels of `channels` samples of type T, the source's
// samples `from` apart (pixels `fromStep`, channels `fromChannel` bytes), into
// pixels `toStep` bytes apart whose channel c is at sample `index[c]`.
template <typename T>
void copyPixels(const uint8_t* from, ptrdiff_t fromStep, ptrdiff_t fromChannel, uint8_t* to, size_t toStep,
                const size_t* index, size_t channels, size_t width) {
    for (size_t x = 0; x < width; ++x, from += fromStep, to += toStep) {
        T* pixel = reinterpret_cast<T*>(to);
        for (size_t c = 0; c < channels; ++c) {
            T v;
            std::memcpy(&v, from + static_cast<ptrdiff_t>(c) * fromChannel, sizeof v);
            pixel[index[c]] = v;
        }
    }
}

// The copies of a picture's rows spread over the cores as the program's
// other passes over pixels are.
void forRows(uint32_t height, size_t rowBytes, const std::function<void(uint32_t y)>& copy) {
    runInBands(height, bandWorkers(height, rowBytes, uint64_t{1} << 21), [&](uint32_t first, uint32_t last) {
        for (uint32_t y = first; y < last; ++y) copy(y);
    });
}

// Rows copied at a time before they are adjusted, while the first-level
// cache holds them (32 KiB ran faster than 16 or 64).
constexpr size_t adjustedRunBytes = size_t{32} << 10;

// The picture of an array of height x width x 3 or 4 samples (uint8 or
// uint16, any strides), copied once into `image`'s own pixels. Given
// `adjusting`, each run of rows is adjusted as adjustPixels adjusts them
// right after it is copied, in the same pass: the copy costs no second
// pass over the picture.
void imageFromArray(const py::array& array, Image* image, const char* what,
                    const AdjustOptions* adjusting = nullptr) {
    const std::string name = what;
    if (array.ndim() != 3)
        throw QuorvelError(name + ": an array of height x width x channels (3 or 4) is needed, not one of " +
                           std::to_string(array.ndim()) + " dimension" + (array.ndim() == 1 ? "" : "s"));
    const py::ssize_t height = array.shape(0), width = array.shape(1), channels = array.shape(2);
    if (channels != 3 && channels != 4)
        throw QuorvelError(name + ": 3 (RGB) or 4 (RGBA) channels are needed, not " + std::to_string(channels));
    const bool sixteen = array.dtype().is(py::dtype::of<uint16_t>());
    if (!sixteen && !array.dtype().is(py::dtype::of<uint8_t>()))
        throw QuorvelError(name + ": uint8 or uint16 samples are needed, not " +
                           py::str(array.dtype()).cast<std::string>());
    if (height <= 0 || width <= 0) throw QuorvelError(name + ": the picture has no pixels");
    if (height > 0xFFFFFFFF || width > 0xFFFFFFFF ||
        !startImage(image, static_cast<uint32_t>(width), static_cast<uint32_t>(height), sixteen ? 16 : 8,
                    channels == 4))
        throw QuorvelError(name + ": a picture of " + std::to_string(width) + " x " + std::to_string(height) +
                           " is larger than the program takes, or there is no memory for it");
    ImageRows rows;
    if (!viewRows(*image, rows)) throw QuorvelError(name + ": the picture has no pixels");
    const size_t sample = sixteen ? 2 : 1, count = static_cast<size_t>(channels);
    const auto* data = static_cast<const uint8_t*>(array.data());
    const py::ssize_t s0 = array.strides(0), s1 = array.strides(1), s2 = array.strides(2);
    const size_t index[4] = {rows.red, 1, rows.blue, 3};
    const bool packed = rows.red == 0 && s2 == static_cast<py::ssize_t>(sample) &&
                        s1 == static_cast<py::ssize_t>(sample * count) && rows.step == sample * count;
    const size_t rowLength = rows.rowLength();
    auto copyRow = [&](uint32_t y) {
        const uint8_t* from = data + static_cast<py::ssize_t>(y) * s0;
        uint8_t* to = rows.row(y);
        if (packed) std::memcpy(to, from, rowLength);
        else if (sixteen) copyPixels<uint16_t>(from, s1, s2, to, rows.step, index, count, rows.width);
        else copyPixels<uint8_t>(from, s1, s2, to, rows.step, index, count, rows.width);
    };
    py::gil_scoped_release unlocked;
    if (!adjusting) {
        forRows(rows.height, rowLength, copyRow);
        return;
    }
    // startImage's rows are top first, red first and unpadded.
    unsigned workers = bandWorkers(rows.height, rowLength, uint64_t{1} << 21);
    if (adjusting->renormalize == 1)
        workers = std::max(workers, pixelWorkers(uint64_t{rows.width} * rows.height, uint64_t{1} << 20, 8));
    const uint32_t run = static_cast<uint32_t>(std::max<size_t>(1, adjustedRunBytes / rowLength));
    runInBands(rows.height, workers, [&](uint32_t first, uint32_t last) {
        for (uint32_t top = first; top < last; top += std::min(run, last - top)) {
            const uint32_t end = top + std::min(run, last - top);
            for (uint32_t y = top; y < end; ++y) copyRow(y);
            if (sixteen)
                adjustWordPixels(reinterpret_cast<uint16_t*>(rows.row(top)), size_t{end - top} * rows.width, count,
                                 *adjusting);
            else
                adjustRgbRows(rows.row(top), rows.width, end - top, rowLength, count, *adjusting);
        }
    });
}

// A new array of an Image's pixels: height x width x 3, or 4 with alpha,
// at its sample size. Pixels that already lie as a C-contiguous array's
// (top row first, red first, no padding) are taken over, not copied: the
// array owns the block and gives it back to platformFreeLarge, which keeps
// it for the next picture of the thread that drops the array.
py::array arrayFromImage(Image& image) {
    ImageRows rows;
    if (!viewRows(image, rows)) throw QuorvelError("the picture holds no pixels");
    const size_t channels = rows.alpha ? 4 : 3, sample = rows.sampleBytes();
    const std::vector<py::ssize_t> shape{rows.height, rows.width, static_cast<py::ssize_t>(channels)};
    const py::dtype type = rows.sixteen ? py::dtype::of<uint16_t>() : py::dtype::of<uint8_t>();
    const size_t outRow = size_t{rows.width} * channels * sample;
    const bool packed = rows.red == 0 && rows.step == channels * sample &&
                        rows.stride == static_cast<ptrdiff_t>(outRow) && rows.top == image.pixels;
    if (packed) {
        // The capsule owns the block from here on, even should the array fail.
        uint8_t* pixels = image.pixels;
        py::capsule owner(pixels, [](void* block) { platformFreeLarge(block); });
        image.pixels = nullptr;
        return py::array(type, shape, {}, pixels, owner);
    }
    py::array out(type, shape);
    auto* data = static_cast<uint8_t*>(out.mutable_data());
    const size_t index[4] = {rows.red, 1, rows.blue, 3};
    // The same copy the other way: each output channel c read from sample
    // index[c] of the Image's pixel (the mapping is its own inverse).
    const auto step = static_cast<ptrdiff_t>(rows.step), one = static_cast<ptrdiff_t>(sample);
    py::gil_scoped_release unlocked;
    forRows(rows.height, outRow, [&](uint32_t y) {
        const uint8_t* from = rows.row(y);
        uint8_t* to = data + outRow * y;
        if (rows.red == 0 && rows.step == channels * sample) std::memcpy(to, from, outRow);
        else if (rows.sixteen) copyPixels<uint16_t>(from, step, one, to, channels * sample, index, channels, rows.width);
        else copyPixels<uint8_t>(from, step, one, to, channels * sample, index, channels, rows.width);
    });
    return out;
}

// A failed load as Python raises it: OSError for a file the system would
// not open, quorvel.Error with the reader's reason otherwise.
[[noreturn]] void raiseLoadFailure(const char* path, const LoadFailure& failure) {
    if (failure.problem == LoadProblem::cannotOpen || failure.problem == LoadProblem::notRegularFile) {
        const int code = failure.problem == LoadProblem::cannotOpen ? failure.systemError : EISDIR;
        PyErr_SetObject(PyExc_OSError,
                        py::make_tuple(code, describeLoadFailure(failure, "quorvel"), path).ptr());
        throw py::error_already_set();
    }
    throw QuorvelError(std::string(path) + ": " + describeLoadFailure(failure, "quorvel"));
}

const char* sourceName(dds::Source source) {
    switch (source) {
        case dds::Source::bc1: return "BC1";
        case dds::Source::bc2: return "BC2";
        case dds::Source::bc3: return "BC3";
        case dds::Source::bc4: return "BC4";
        case dds::Source::bc5: return "BC5";
        case dds::Source::bc7: return "BC7";
        case dds::Source::masks: return "channel masks";
        case dds::Source::rgba8: return "RGBA8";
        case dds::Source::bgra8: return "BGRA8";
        case dds::Source::bgrx8: return "BGRX8";
        case dds::Source::rg8: return "RG8";
        case dds::Source::rg16: return "RG16";
        case dds::Source::rgba16: return "RGBA16";
        case dds::Source::rgb10a2: return "RGB10A2";
    }
    return "unknown";
}

// What a DDS file read holds, as its header (and extension) name it: the
// payload's format, whether it is signed and whether the DX10 header names
// it, where the payload starts and how many bytes of the file follow.
py::dict ddsPayload(std::span<const uint8_t> head, uint64_t fileBytes) {
    py::dict payload;
    if (head.size() < dds::headerBytes) return payload;
    const dds::DdsHeader header = dds::parseHeader(head.data());
    const bool extended = header.fourCc == dds::dx10 && head.size() >= dds::headerBytes + dds::extensionBytes;
    const dds::Choice choice = dds::chooseFormat(header, extended ? head.data() + dds::headerBytes : nullptr);
    if (choice.verdict != dds::Verdict::readable) return payload;
    payload["format"] = sourceName(choice.format.source);
    payload["signed"] = choice.format.isSigned;
    payload["dx10"] = header.fourCc == dds::dx10;
    payload["offset"] = choice.dataOffset;
    payload["bytes"] = fileBytes > choice.dataOffset ? fileBytes - choice.dataOffset : 0;
    return payload;
}

py::dict infoOf(const Image& image, const char* name, std::span<const uint8_t> head, uint64_t fileBytes) {
    py::dict info;
    const char* format = formatNameOf(name);
    info["format"] = format ? py::str(format) : py::str("unknown");
    info["bit_depth"] = isSixteenBit(image) ? 16 : 8;
    info["alpha"] = image.hasAlpha != 0;
    info["size"] = py::make_tuple(image.width, image.height);
    if (format && std::strcmp(format, "DDS") == 0) info["payload"] = ddsPayload(head, fileBytes);
    return info;
}

py::tuple loadFile(const std::string& path) {
    OwnedImage owned;
    LoadFailure failure;
    bool read;
    {
        py::gil_scoped_release unlocked;
        read = readImageFile(path.c_str(), &owned.image, &failure, DisplayBitmap::notMade);
    }
    if (!read) raiseLoadFailure(path.c_str(), failure);
    // A DDS file's headers, read again for its payload.
    uint8_t head[dds::headerBytes + dds::extensionBytes] = {};
    size_t got = 0;
    uint64_t fileBytes = 0;
    if (const char* format = formatNameOf(path.c_str()); format && std::strcmp(format, "DDS") == 0) {
        if (std::FILE* file = std::fopen(path.c_str(), "rb")) {
            got = std::fread(head, 1, sizeof head, file);
            if (std::fseek(file, 0, SEEK_END) == 0) fileBytes = static_cast<uint64_t>(std::max(0L, std::ftell(file)));
            std::fclose(file);
        }
    }
    return py::make_tuple(arrayFromImage(owned.image), infoOf(owned.image, path.c_str(), std::span(head, got), fileBytes));
}

py::tuple decodeBytes(const py::bytes& data, const std::string& name) {
    std::string_view bytes = data;
    OwnedImage owned;
    LoadFailure failure;
    bool read;
    {
        py::gil_scoped_release unlocked;
        read = decodeImage(std::span(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()), name.c_str(),
                           &owned.image, failure, DisplayBitmap::notMade);
    }
    if (!read) raiseLoadFailure("bytes", failure);
    const auto* file = reinterpret_cast<const uint8_t*>(bytes.data());
    return py::make_tuple(arrayFromImage(owned.image),
                          infoOf(owned.image, name.c_str(),
                                 std::span(file, std::min<size_t>(bytes.size(), dds::headerBytes + dds::extensionBytes)),
                                 bytes.size()));
}

// The adjusting road's middle on `image`; failures raised, notes warned.
void adjustRoad(const Arguments& args, Image* image, const BlendDetail* detail) {
    std::vector<std::string> lines;
    bool adjusted;
    {
        py::gil_scoped_release unlocked;
        ReportCapture capture;
        FileResult result;
        adjusted = adjustImage(args, arrayName, image, detail, result);
        lines = std::move(capture.lines);
    }
    if (!adjusted) throw QuorvelError(failureText(lines, "the adjustment failed"));
    warnWith(lines);
}

// The array adjusted as the road without a blend adjusts a picture, into
// `image`. Without --to the road is adjustPixels alone, made as the rows are
// copied.
void adjustedImage(const Arguments& args, const py::array& array, Image* image) {
    if (args.to == GreenConvention::unknown) {
        imageFromArray(array, image, arrayName, &args.options);
        return;
    }
    imageFromArray(array, image, arrayName);
    adjustRoad(args, image, nullptr);
}

py::array adjust(const py::array& array, const py::kwargs& options) {
    const auto parsed = parseOptions({}, options, {arrayName, "out.png"});
    // The input copied once into the Image, adjusted there (the road
    // without a blend works in place) and handed over as the result.
    OwnedImage owned;
    adjustedImage(parsed->args, array, &owned.image);
    return arrayFromImage(owned.image);
}

py::array blend(const py::array& base, const py::array& detail, const py::kwargs& options) {
    const auto parsed = parseOptions({"--blend=detail"}, options, {arrayName, "out.png"});
    OwnedImage owned;
    imageFromArray(base, &owned.image, "base");
    BlendDetail laid;
    imageFromArray(detail, &laid.image, "detail");
    {
        py::gil_scoped_release unlocked;
        laid.convention = detectGreenConvention(laid.image).convention;
    }
    adjustRoad(parsed->args, &owned.image, &laid);
    return arrayFromImage(owned.image);
}

void save(const std::string& path, const py::array& array, const py::kwargs& options) {
    const auto parsed = parseOptions({}, options, {arrayName, path});
    const Arguments& args = parsed->args;
    OutputFormat format = OutputFormat::png;
    outputFormatOf(path.c_str(), format);
    OwnedImage owned;
    adjustedImage(args, array, &owned.image);
    std::vector<std::string> lines;
    bool saved;
    int code = 0;
    {
        py::gil_scoped_release unlocked;
        ReportCapture capture;
        errno = 0;
        saved = (!writeReadsBitmap(owned.image, format, args.save) || buildDisplayBitmap(&owned.image)) &&
                saveResult(args, arrayName, path.c_str(), owned.image, format);
        code = errno;
        lines = std::move(capture.lines);
    }
    if (!saved) {
        PyErr_SetObject(PyExc_OSError,
                        py::make_tuple(code, failureText(lines, "There was an error writing the file"), path).ptr());
        throw py::error_already_set();
    }
    warnWith(lines);
}

py::tuple detect(const py::array& array) {
    OwnedImage owned;
    imageFromArray(array, &owned.image, arrayName);
    ConventionGuess guess;
    {
        py::gil_scoped_release unlocked;
        guess = detectGreenConvention(owned.image);
    }
    return py::make_tuple(conventionName(guess.convention), static_cast<double>(guess.confidence),
                          unknownReasonText(guess));
}

std::string check(const py::array& array, const py::object& expect) {
    std::vector<std::string> before{"--check"};
    if (!expect.is_none()) before.push_back("--expect=" + py::str(expect).cast<std::string>());
    const auto parsed = parseOptions(before, py::kwargs(), {arrayName});
    OwnedImage owned;
    imageFromArray(array, &owned.image, arrayName);
    py::gil_scoped_release unlocked;
    const CheckResult result = checkMap(owned.image, parsed->args.check.expect);
    return checkJsonLine(arrayName, result, nullptr);
}

py::array fix(const py::array& array, const py::kwargs& options) {
    const auto parsed = parseOptions({"--fix"}, options, {arrayName, "out.png"});
    OwnedImage owned, fixed;
    imageFromArray(array, &owned.image, arrayName);
    std::vector<std::string> lines;
    Outcome outcome;
    {
        py::gil_scoped_release unlocked;
        ReportCapture capture;
        FileResult result;
        result.check = checkMap(owned.image, parsed->args.check.expect);
        outcome = repairImage(parsed->args, arrayName, arrayName, owned.image, result, &fixed.image);
        lines = std::move(capture.lines);
    }
    if (outcome != Outcome::done) throw QuorvelError(failureText(lines, "the map could not be repaired"));
    warnWith(lines);
    return arrayFromImage(fixed.image);
}

py::array fromHeight(const py::array& heights, const py::kwargs& options) {
    const auto parsed = parseOptions({"--from-height"}, options, {arrayName, "out.png"});
    const Arguments& args = parsed->args;
    OwnedField owned;
    GenerateError error = GenerateError::none;
    const bool floats = heights.dtype().kind() == 'f';
    if (floats) {
        if (heights.ndim() != 2) throw QuorvelError("array: float heights are height x width, one a pixel");
        const py::array_t<float, py::array::c_style | py::array::forcecast> values(heights);
        const auto height = values.shape(0), width = values.shape(1);
        if (height <= 0 || width <= 0) throw QuorvelError("array: the picture has no pixels");
        if (height > 0xFFFFFFFF || width > 0xFFFFFFFF ||
            !allocateHeightField(&owned.field, static_cast<uint32_t>(width), static_cast<uint32_t>(height), &error))
            throw QuorvelError(std::string("array: ") + generateErrorText(error));
        std::memcpy(owned.field.values, values.data(), sizeof(float) * static_cast<size_t>(width * height));
        if (!checkHeightField(owned.field, &error)) {
            const NonFiniteHeights bad = findNonFinite(owned.field);
            throw QuorvelError("array: " + std::to_string(bad.count) + " heights are not finite numbers, the first at (" +
                               std::to_string(bad.x) + ", " + std::to_string(bad.y) + ")");
        }
    } else {
        OwnedImage picture;
        imageFromArray(heights, &picture.image, arrayName);
        bool read;
        {
            py::gil_scoped_release unlocked;
            read = heightFieldFromImage(picture.image, args.make.channel, &owned.field, &error);
        }
        if (!read) throw QuorvelError(std::string("array: ") + generateErrorText(error));
    }
    OwnedImage made;
    std::vector<std::string> lines;
    bool done;
    {
        py::gil_scoped_release unlocked;
        ReportCapture capture;
        done = normalMapOfHeights(args, arrayName, owned.field, OutputFormat::png, &made.image);
        lines = std::move(capture.lines);
    }
    if (!done) throw QuorvelError(failureText(lines, "the normal map could not be made"));
    return arrayFromImage(made.image);
}

py::array toHeight(const py::array& array, const py::kwargs& options) {
    const auto parsed = parseOptions({"--to-height"}, options, {arrayName, "out.exr"});
    const Arguments& args = parsed->args;
    OwnedImage owned;
    imageFromArray(array, &owned.image, arrayName);
    OwnedField field;
    FileResult result;
    std::vector<std::string> lines;
    bool made;
    GenerateError error = GenerateError::none;
    {
        py::gil_scoped_release unlocked;
        ReportCapture capture;
        made = heightsOfMap(args, arrayName, owned.image, &field.field, result) &&
               heightAboveLowest(&field.field, args.make.heightScale, &error);
        lines = std::move(capture.lines);
    }
    if (!made && result.conversion == Conversion::undecided)
        throw QuorvelError(std::string(arrayName) + ": its green convention is unclear (detected: " +
                           guessText(result.guess) + "); give convention='opengl' or 'directx'");
    if (!made) throw QuorvelError(failureText(lines, generateErrorText(error)));
    py::array_t<float> out({static_cast<py::ssize_t>(field.field.height), static_cast<py::ssize_t>(field.field.width)});
    std::memcpy(out.mutable_data(), field.field.values, sizeof(float) * size_t{field.field.width} * field.field.height);
    return out;
}

py::list mips(const py::array& array, const py::kwargs& options) {
    const auto parsed = parseOptions({}, options, {arrayName, "out.dds"});
    const Arguments& args = parsed->args;
    OwnedImage owned;
    adjustedImage(args, array, &owned.image);
    TextureOptions texture;
    texture.format = TextureFormat::bgra8;
    texture.maxLevels = args.save.mips;
    texture.keepLength = args.save.mipKeepLength != 0;
    const uint32_t width = static_cast<uint32_t>(owned.image.width), height = static_cast<uint32_t>(owned.image.height);
    const uint32_t levels = mipLevelCount(width, height, texture.maxLevels);
    const uint64_t size = textureBytes(texture.format, width, height, levels);
    std::vector<uint8_t> encoded;
    bool made = false;
    {
        py::gil_scoped_release unlocked;
        try {
            encoded.resize(size);
            made = encodeTexture(owned.image, texture, encoded.data(), size);
        } catch (const std::bad_alloc&) {
        }
    }
    if (!made) throw QuorvelError("array: there is no memory for its mip levels");
    py::list out;
    const uint8_t* level = encoded.data();
    for (uint32_t k = 0; k < levels; ++k) {
        const uint32_t w = mipSide(width, k), h = mipSide(height, k);
        py::array_t<uint8_t> pixels({static_cast<py::ssize_t>(h), static_cast<py::ssize_t>(w), py::ssize_t{3}});
        uint8_t* to = pixels.mutable_data();
        for (size_t i = 0; i < size_t{w} * h; ++i, level += 4, to += 3) {  // blue, green, red, alpha
            to[0] = level[2];
            to[1] = level[1];
            to[2] = level[0];
        }
        out.append(pixels);
    }
    return out;
}

// A folder run's command line: --out-dir DST, the options, the sources.
std::unique_ptr<Parsed> parseFolderRun(const std::vector<std::string>& sources, const std::string& destination,
                                       const py::kwargs& options) {
    return parseOptions({"--out-dir=" + destination}, options, sources);
}

// The files of a folder run as quorvel-cli plans them: (input, output, up
// to date) for each, the output folders made. Usage problems are raised.
py::list planTree(const std::vector<std::string>& sources, const std::string& destination, const py::kwargs& options) {
    const auto parsed = parseFolderRun(sources, destination, options);
    const Arguments& args = parsed->args;
    std::vector<std::string> problems;
    std::vector<batch::InputFile> files = batch::collectInputs(args, problems);
    if (files.empty() && problems.empty()) problems.push_back("no input found");
    batch::planOutputs(args, files, problems);
    if (!problems.empty()) {
        std::string text;
        for (const std::string& problem : problems) text += (text.empty() ? "" : "\n") + problem;
        throw QuorvelError(text);
    }
    std::vector<std::string> lines;
    bool made;
    {
        ReportCapture capture;
        made = batch::makeOutputFolders(files);
        lines = std::move(capture.lines);
    }
    if (!made) {
        PyErr_SetString(PyExc_OSError, failureText(lines, "cannot make the output folders").c_str());
        throw py::error_already_set();
    }
    py::list planned;
    for (const batch::InputFile& file : files)
        planned.append(py::make_tuple(batch::display(file.path), batch::display(file.output),
                                      args.update && batch::upToDate(file)));
    return planned;
}

// One file of a folder run, on the folder run's own road (streaming on at
// most `streamThreads` threads, 0: one per processor): its outcome
// ("done", "loadFailed", "writeFailed"), what --to did ("none",
// "converted", "unchanged", "undecided") and the lines it reported.
py::tuple convertFile(const std::vector<std::string>& sources, const std::string& destination,
                      const std::string& input, const std::string& output, unsigned streamThreads,
                      const py::kwargs& options) {
    const auto parsed = parseFolderRun(sources, destination, options);
    const Arguments& args = parsed->args;
    FileResult result;
    std::vector<std::string> lines;
    {
        py::gil_scoped_release unlocked;
        ReportCapture capture;
        result = adjustFile(args, input.c_str(), output.c_str(), batch::formatFor(args, input), nullptr,
                            streamThreads);
        lines = std::move(capture.lines);
    }
    const char* outcome = result.outcome == Outcome::done          ? "done"
                          : result.outcome == Outcome::writeFailed ? "writeFailed"
                                                                   : "loadFailed";
    const char* conversion = result.conversion == Conversion::converted   ? "converted"
                             : result.conversion == Conversion::unchanged ? "unchanged"
                             : result.conversion == Conversion::undecided ? "undecided"
                                                                          : "none";
    return py::make_tuple(outcome, conversion, lines);
}

// Dask's nanny starts its workers with MALLOC_TRIM_THRESHOLD_ set, which
// also fixes glibc's mmap threshold at 128 KiB instead of letting it grow as
// it does by default: every buffer of a file's road (the deflate output of a
// chunk, the rows) then comes as fresh pages from the system, which made a
// worker's files half as slow again as quorvel-cli's. This puts the
// threshold where glibc's own growth ends (32 MiB), unless the process was
// told one; the trim threshold, which gives memory back, is left as set.
bool keepBuffersOnTheHeap() {
#ifdef __GLIBC__
    if (std::getenv("MALLOC_MMAP_THRESHOLD_")) return false;
    return mallopt(M_MMAP_THRESHOLD, 32 << 20) == 1;
#else
    return false;
#endif
}

// The summary quorvel-cli prints of a folder run, of the (outcome,
// conversion) pairs convertFile gave and "upToDate" for files skipped.
std::string folderSummary(const std::vector<std::string>& sources, const std::string& destination,
                          const std::vector<std::pair<std::string, std::string>>& outcomes, const py::kwargs& options) {
    const auto parsed = parseFolderRun(sources, destination, options);
    std::vector<FileResult> results(outcomes.size());
    for (size_t i = 0; i < outcomes.size(); ++i) {
        const auto& [outcome, conversion] = outcomes[i];
        results[i].outcome = outcome == "done"          ? Outcome::done
                             : outcome == "upToDate"    ? Outcome::upToDate
                             : outcome == "writeFailed" ? Outcome::writeFailed
                                                        : Outcome::loadFailed;
        results[i].conversion = conversion == "converted"   ? Conversion::converted
                                : conversion == "unchanged" ? Conversion::unchanged
                                : conversion == "undecided" ? Conversion::undecided
                                                            : Conversion::none;
    }
    return batch::folderSummary(parsed->args, results);
}

}  // namespace

PYBIND11_MODULE(_quorvel, m) {
    m.doc() = "quorvel-cli's roads over NumPy arrays (see the package quorvel)";
    py::register_exception<QuorvelError>(m, "Error", PyExc_ValueError);
    m.attr("version") = QUORVEL_VERSION;
    m.def("load", &loadFile, py::arg("path"));
    m.def("decode", &decodeBytes, py::arg("data"), py::arg("name"));
    m.def("save", &save, py::arg("path"), py::arg("array"));
    m.def("adjust", &adjust, py::arg("array"));
    m.def("blend", &blend, py::arg("base"), py::arg("detail"));
    m.def("detect", &detect, py::arg("array"));
    m.def("check", &check, py::arg("array"), py::arg("expect") = py::none());
    m.def("fix", &fix, py::arg("array"));
    m.def("from_height", &fromHeight, py::arg("heights"));
    m.def("to_height", &toHeight, py::arg("array"));
    m.def("mips", &mips, py::arg("array"));
    m.def("plan_tree", &planTree, py::arg("sources"), py::arg("destination"));
    m.def("convert_file", &convertFile, py::arg("sources"), py::arg("destination"), py::arg("input"),
          py::arg("output"), py::arg("stream_threads") = 0);
    m.def("keep_buffers_on_the_heap", &keepBuffersOnTheHeap);
    m.def("folder_summary", &folderSummary, py::arg("sources"), py::arg("destination"), py::arg("outcomes"));
}
