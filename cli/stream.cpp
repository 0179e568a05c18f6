// The streaming road for the commonest large job: an uncompressed 24-bit BMP
// adjusted into a BMP or Targa file. The picture passes through in bands of
// rows, read, converted, adjusted and written by one thread a core, each
// band in small buffers that every later band reuses. No picture-sized
// memory is ever asked of the system, which on a desktop whose memory is
// fragmented costs more than all the pixel work (fresh pages, and the
// compaction that huge pages wait for). The bytes written are those of the
// whole-picture road: the rows are converted and adjusted by the same code.
#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "cli/stream.h"
#include "image/byte_reader.h"
#include "image/pixel_rows.h"
#include "platform/bmp_header.h"
#include "writers/atomic_file.h"

namespace {

// Rows a band: small enough for a core's cache, large enough that handing
// bands round costs nothing.
constexpr uint32_t bandBytes = 512 * 1024;

struct Plan {
    uint32_t width = 0;
    uint32_t height = 0;
    bool topDown = false;
    uint64_t dataOffset = 0;
    size_t inStride = 0;   // a file row with its padding
    size_t outStride = 0;  // a written row with its padding
    size_t headerSize = 0;
    uint8_t header[rowFileHeaderMax] = {};
};

// The headers of `path` when it is an uncompressed 24-bit BMP whose rows all
// lie in the file; false for every other file, which then takes the
// whole-picture road (and its messages).
bool planFromBmp(const char* path, Plan& plan) {
    FILE* file = std::fopen(path, "rb");
    if (!file) return false;
    uint8_t head[256];
    const size_t got = std::fread(head, 1, sizeof head, file);
    std::fclose(file);
    std::error_code error;
    const uintmax_t end = std::filesystem::file_size(path, error);
    if (error || end > 0xFFFFFFFFu) return false;
    // The reader only borrows the bytes and is never reset.
    ByteReader reader{head, 0, static_cast<uint32_t>(got)};
    BmpHeader header;
    if (!readBmpHeader(&reader, header) || header.compression != biRgb || header.bitCount != 24 ||
        !bmpPixelsCanFit(header, static_cast<uint32_t>(end)))
        return false;
    plan.width = header.width;
    plan.height = header.height;
    plan.topDown = header.topDown;
    plan.dataOffset = header.dataOffset;
    plan.inStride = displayStride(header.width);
    return true;
}

struct Run {
    Run(const Plan& p, const AdjustOptions& o, FILE* file) : plan(p), options(o), input(file) {}
    const Plan& plan;
    const AdjustOptions& options;
    FILE* input;
    const ByteSink* out = nullptr;
    uint32_t bandRows = 1;
    uint32_t bands = 0;
    std::mutex lock;  // guards the input, the turn and the flags
    std::condition_variable turnChanged;
    uint32_t nextBand = 0;
    uint32_t writeTurn = 0;
    bool readFailed = false;
    bool writeFailed = false;
};

bool seekTo(FILE* file, uint64_t offset) {
#ifdef _WIN32
    return _fseeki64(file, static_cast<long long>(offset), SEEK_SET) == 0;
#else
    return fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0;
#endif
}

// Band rows [firstRow, firstRow + rows) in the order they are written, bottom
// row first: the same file rows of a bottom-up input, one run of bytes; the
// mirrored rows of a top-down input, one at a time.
bool readBand(Run& run, uint32_t firstRow, uint32_t rows, uint8_t* raw) {
    const Plan& plan = run.plan;
    const size_t rowBytes = size_t{3} * plan.width;
    if (!plan.topDown) {
        // The last row of the file need not carry its padding.
        const size_t span = size_t{rows - 1} * plan.inStride + rowBytes;
        return seekTo(run.input, plan.dataOffset + uint64_t{firstRow} * plan.inStride) &&
               std::fread(raw, 1, span, run.input) == span;
    }
    for (uint32_t i = 0; i < rows; ++i) {
        const uint32_t fileRow = plan.height - 1 - (firstRow + i);
        if (!seekTo(run.input, plan.dataOffset + uint64_t{fileRow} * plan.inStride) ||
            std::fread(raw + size_t{i} * plan.inStride, 1, rowBytes, run.input) != rowBytes)
            return false;
    }
    return true;
}

void work(Run& run) {
    const Plan& plan = run.plan;
    const size_t rowBytes = size_t{3} * plan.width;
    const size_t rows = run.bandRows;
    std::unique_ptr<uint8_t[]> raw(new (std::nothrow) uint8_t[rows * plan.inStride]);
    std::unique_ptr<uint8_t[]> pixels(new (std::nothrow) uint8_t[rows * rowBytes]);
    std::unique_ptr<uint8_t[]> written(new (std::nothrow) uint8_t[rows * plan.outStride]());
    for (;;) {
        uint32_t band = 0;
        {
            std::unique_lock guard(run.lock);
            if (!raw || !pixels || !written) run.writeFailed = true;
            if (run.readFailed || run.writeFailed || run.nextBand >= run.bands) break;
            band = run.nextBand++;
        }
        const uint32_t first = band * run.bandRows;
        const uint32_t count = std::min(run.bandRows, plan.height - first);
        bool readOk;
        {
            std::lock_guard guard(run.lock);
            readOk = readBand(run, first, count, raw.get());
        }
        if (readOk) {
            // As the whole-picture road does it: blue-green-red rows become
            // red-green-blue pixels, are adjusted, and go back.
            for (uint32_t i = 0; i < count; ++i)
                copyPixelsSwapped(raw.get() + i * plan.inStride, 3, pixels.get() + i * rowBytes, plan.width);
            Image part{};
            part.pixels = pixels.get();
            part.width = static_cast<int32_t>(plan.width);
            part.height = static_cast<int32_t>(count);
            part.bitsPerPixel = 24;
            part.rowBytes = static_cast<int32_t>(rowBytes);
            part.dataSize = static_cast<uint32_t>(rowBytes * count);
            adjustPixels(&part, run.options);
            for (uint32_t i = 0; i < count; ++i)
                copyPixelsSwapped(pixels.get() + i * rowBytes, 3, written.get() + i * plan.outStride, plan.width);
        }
        std::unique_lock guard(run.lock);
        run.turnChanged.wait(guard, [&] { return run.writeTurn == band || run.readFailed || run.writeFailed; });
        if (!readOk) run.readFailed = true;
        if (run.readFailed || run.writeFailed) break;
        if (!run.out->write(run.out->context, written.get(), plan.outStride * count)) run.writeFailed = true;
        ++run.writeTurn;
        run.turnChanged.notify_all();
    }
    run.turnChanged.notify_all();
}

bool fillStream(void* context, const ByteSink& out) {
    Run& run = *static_cast<Run*>(context);
    run.out = &out;
    if (!out.write(out.context, run.plan.header, run.plan.headerSize)) return false;
    const unsigned cores = std::max(1u, std::min(std::thread::hardware_concurrency(), 8u));
    const unsigned workers = std::min<unsigned>(cores, run.bands);
    std::vector<std::thread> helpers;
    for (unsigned i = 1; i < workers; ++i) {
        try {
            helpers.emplace_back(work, std::ref(run));
        } catch (...) {
            break;  // fewer threads to be had: the others share the bands
        }
    }
    work(run);
    for (std::thread& helper : helpers) helper.join();
    return !run.readFailed && !run.writeFailed;
}

}  // namespace

StreamResult streamAdjust(const char* input, const char* output, OutputFormat format, const AdjustOptions& options) {
    OutputFormat inputFormat;
    if (format == OutputFormat::png || !outputFormatOf(input, inputFormat) || inputFormat != OutputFormat::bmp)
        return StreamResult::notStreamable;
    Plan plan;
    if (!planFromBmp(input, plan)) return StreamResult::notStreamable;
    plan.headerSize = rowFileHeader(format, plan.width, plan.height, plan.header);
    if (plan.headerSize == 0) return StreamResult::notStreamable;
    plan.outStride = format == OutputFormat::bmp ? displayStride(plan.width) : size_t{3} * plan.width;

    FILE* file = std::fopen(input, "rb");
    if (!file) return StreamResult::notStreamable;
    Run run(plan, options, file);
    run.bandRows = static_cast<uint32_t>(std::clamp<size_t>(bandBytes / plan.inStride, 1, plan.height));
    run.bands = (plan.height + run.bandRows - 1) / run.bandRows;
    const bool ok = writeFileAtomically(output, fillStream, &run);
    const int reason = errno;
    std::fclose(file);
    errno = reason;
    if (ok) return StreamResult::written;
    return run.readFailed ? StreamResult::loadFailed : StreamResult::writeFailed;
}
