// The streaming road for the commonest large jobs: an uncompressed 24-bit
// BMP or Targa file adjusted into a BMP or Targa file. Both formats store
// blue-green-red rows, so the picture passes through in bands of rows that
// are read, adjusted where they lie and written, by one thread a core: while
// one band is written the next ones are read and adjusted. Each worker keeps
// one band buffer for the whole run. No picture-sized memory is ever asked
// of the system, which on a desktop whose memory is fragmented costs more
// than all the pixel work (fresh pages, and the compaction that huge pages
// wait for). The bytes written are those of the whole-picture road: the
// readers' pixels are the file's, and adjustBgrRows gives each pixel the
// bytes adjustPixels gives it.
//
// A red-green-blue(-alpha) PNG saved as PNG takes a road of its own: its
// image data is inflated at once, one thread unfilters the rows in place,
// and the encoder's workers adjust and encode the rows above the one being
// unfiltered, so that nothing waits for the whole picture. 8-bit pixels are
// never copied; 16-bit ones become native words on their way through the
// adjustment, as the encoder takes them.
#include <algorithm>
#include <atomic>
#include <bit>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "cli/stream.h"
#include "platform/basics.h"
#include "platform/bmp_header.h"
#include "readers/readers.h"
#include "readers/tga_reader.h"
#include "writers/atomic_file.h"
#include "writers/png_encoder.h"

namespace {

// Bytes a band: enough that the atomic save hands every band to the system
// as it is (its blocks are 1 MiB), and enough bands of a large picture to
// keep every core busy while one band is written.
constexpr size_t bandBytes = 2 * 1024 * 1024;

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

// The first bytes of a file, for its header to be read, and the file's length.
struct Head {
    uint8_t bytes[256];
    ByteReader reader;  // over `bytes`; it only borrows them and is never reset
    uint32_t fileLength;
};

// False when `path` cannot be read or is too long for any reader.
bool readHead(const char* path, Head& head) {
    FILE* file = std::fopen(path, "rb");
    if (!file) return false;
    const size_t got = std::fread(head.bytes, 1, sizeof head.bytes, file);
    std::fclose(file);
    std::error_code error;
    const uintmax_t end = std::filesystem::file_size(path, error);
    if (error || end > 0xFFFFFFFFu) return false;
    head.reader = ByteReader{head.bytes, 0, static_cast<uint32_t>(got)};
    head.fileLength = static_cast<uint32_t>(end);
    return true;
}

// The headers of `path` when it is an uncompressed 24-bit BMP whose rows all
// lie in the file; false for every other file, which then takes the
// whole-picture road (and its messages).
bool planFromBmp(const char* path, Plan& plan) {
    Head head;
    if (!readHead(path, head)) return false;
    BmpHeader header;
    if (!readBmpHeader(&head.reader, header) || header.compression != biRgb || header.bitCount != 24 ||
        !bmpPixelsCanFit(header, head.fileLength))
        return false;
    plan.width = header.width;
    plan.height = header.height;
    plan.topDown = header.topDown;
    plan.dataOffset = header.dataOffset;
    plan.inStride = displayStride(header.width);
    return true;
}

// The same for an uncompressed 24-bit true-colour Targa file (type 2), whose
// rows are blue-green-red without padding, bottom row first unless the
// descriptor says otherwise. The image ID and a declared colour map (which
// such a file does not use) lie before the pixels; what follows them (the
// developer area, the footer) is not read.
bool planFromTga(const char* path, Plan& plan) {
    Head head;
    if (!readHead(path, head)) return false;
    TgaHeader header;
    if (!readTgaHeader(&head.reader, header) || header.imageType != 2 || header.pixelDepth != 24 ||
        header.colourMapType > 1 || !imageSizeAllowed(header.width, header.height))
        return false;
    const uint64_t mapBytes =
        header.colourMapType ? uint64_t{header.colourMapLength} * ((header.colourMapEntrySize + 7u) / 8u) : 0;
    const uint64_t offset = tgaHeaderSize + header.idLength + mapBytes;
    if (offset + uint64_t{3} * header.width * header.height > head.fileLength) return false;
    plan.width = header.width;
    plan.height = header.height;
    plan.topDown = (header.descriptor & 0x20) != 0;
    plan.dataOffset = offset;
    plan.inStride = size_t{3} * header.width;
    return true;
}

bool planFor(const char* path, OutputFormat inputFormat, Plan& plan) {
    switch (inputFormat) {
        case OutputFormat::bmp: return planFromBmp(path, plan);
        case OutputFormat::tga: return planFromTga(path, plan);
        case OutputFormat::png:
        case OutputFormat::tif:
        case OutputFormat::dds:
        case OutputFormat::ktx2:
        case OutputFormat::exr:
        case OutputFormat::astc: break;
    }
    return false;
}

struct Run {
    Run(const Plan& p, const AdjustOptions& o, FILE* file) : plan(p), options(o), input(file) {}
    const Plan& plan;
    const AdjustOptions& options;
    FILE* input;
    const ByteSink* out = nullptr;
    uint32_t bandRows = 1;
    uint32_t bands = 0;
    std::atomic<uint32_t> nextBand{0};
    std::atomic<bool> readFailed{false};
    std::atomic<bool> writeFailed{false};
    std::mutex lock;  // guards the turn (and, on Windows, the input's position)
    std::condition_variable turnChanged;
    uint32_t writeTurn = 0;  // the band whose turn it is to be written

    bool failed() const { return readFailed || writeFailed; }
};

// `size` bytes of the input from `offset`, from any thread.
bool readAt(Run& run, uint64_t offset, uint8_t* buffer, size_t size) {
#ifdef _WIN32
    std::lock_guard guard(run.lock);
    return _fseeki64(run.input, static_cast<long long>(offset), SEEK_SET) == 0 &&
           std::fread(buffer, 1, size, run.input) == size;
#else
    const int fd = fileno(run.input);
    while (size > 0) {
        const ssize_t got = pread(fd, buffer, size, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;  // an error, or the file got shorter
        buffer += got;
        offset += static_cast<uint64_t>(got);
        size -= static_cast<size_t>(got);
    }
    return true;
#endif
}

// Band rows [firstRow, firstRow + rows) in the order they are written, bottom
// row first, `inStride` bytes apart: the same file rows of a bottom-up input,
// one run of bytes; the mirrored rows of a top-down input, one at a time.
bool readBand(Run& run, uint32_t firstRow, uint32_t rows, uint8_t* band) {
    const Plan& plan = run.plan;
    const size_t rowBytes = size_t{3} * plan.width;
    if (!plan.topDown) {
        // The last row of the file need not carry its padding.
        const size_t span = size_t{rows - 1} * plan.inStride + rowBytes;
        return readAt(run, plan.dataOffset + uint64_t{firstRow} * plan.inStride, band, span);
    }
    for (uint32_t i = 0; i < rows; ++i) {
        const uint32_t fileRow = plan.height - 1 - (firstRow + i);
        if (!readAt(run, plan.dataOffset + uint64_t{fileRow} * plan.inStride, band + size_t{i} * plan.inStride,
                    rowBytes))
            return false;
    }
    return true;
}

// Moves the band's rows from `inStride` to `outStride` apart where they lie,
// each followed by zero padding, as the display bitmap holds them.
void layOutRows(const Plan& plan, uint8_t* band, uint32_t rows) {
    const size_t rowBytes = size_t{3} * plan.width;
    const size_t padding = plan.outStride - rowBytes;
    auto place = [&](uint32_t i) {
        uint8_t* to = band + size_t{i} * plan.outStride;
        if (plan.outStride != plan.inStride) std::memmove(to, band + size_t{i} * plan.inStride, rowBytes);
        if (padding) std::memset(to + rowBytes, 0, padding);
    };
    if (plan.outStride > plan.inStride) {
        for (uint32_t i = rows; i-- > 0;) place(i);
    } else {
        for (uint32_t i = 0; i < rows; ++i) place(i);
    }
}

void work(Run& run) {
    const Plan& plan = run.plan;
    const size_t rowSpace = std::max(plan.inStride, plan.outStride);
    std::unique_ptr<uint8_t[]> band(new (std::nothrow) uint8_t[size_t{run.bandRows} * rowSpace]);
    if (!band) run.writeFailed = true;
    while (!run.failed()) {
        const uint32_t index = run.nextBand.fetch_add(1);
        if (index >= run.bands) break;
        const uint32_t first = index * run.bandRows;
        const uint32_t count = std::min(run.bandRows, plan.height - first);
        const bool readOk = readBand(run, first, count, band.get());
        if (readOk) {
            adjustBgrRows(band.get(), plan.width, count, plan.inStride, run.options);
            layOutRows(plan, band.get(), count);
        }
        {
            std::unique_lock guard(run.lock);
            if (!readOk) run.readFailed = true;
            run.turnChanged.wait(guard, [&] { return run.writeTurn == index || run.failed(); });
        }
        // Only the band whose turn it is gets here, so the sink is never
        // used by two threads at once.
        if (run.failed()) break;
        const bool written = run.out->write(run.out->context, band.get(), plan.outStride * count);
        std::lock_guard guard(run.lock);
        if (!written) run.writeFailed = true;
        ++run.writeTurn;
        run.turnChanged.notify_all();
    }
    std::lock_guard guard(run.lock);
    run.turnChanged.notify_all();
}

struct Fill {
    Run* run;
    unsigned threads;
};

bool fillStream(void* context, const ByteSink& out) {
    const Fill& fill = *static_cast<const Fill*>(context);
    Run& run = *fill.run;
    run.out = &out;
    if (!out.write(out.context, run.plan.header, run.plan.headerSize)) return false;
    const unsigned workers = std::min(fill.threads, run.bands);
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
    return !run.failed();
}

// ------------------------------------------------------------ PNG

struct PngRun {
    PngRowsInPlace rows;
    AdjustOptions options{};
    unsigned threads = 0;
    std::mutex lock;
    std::condition_variable madeMore;
    uint32_t made = 0;  // rows unfiltered
};

// A chunk's rows, adjusted once they are unfiltered and no longer needed as
// the row above the one being unfiltered.
void prepareRows(void* context, uint32_t top, uint32_t end) {
    PngRun& run = *static_cast<PngRun*>(context);
    const uint32_t needed = std::min(end + 1, run.rows.height());
    {
        std::unique_lock hold(run.lock);
        run.madeMore.wait(hold, [&] { return run.made >= needed; });
    }
    const uint32_t width = run.rows.width(), channels = run.rows.channels();
    if (run.rows.sampleBits() == 8) {
        adjustRgbRows(run.rows.row(top), width, end - top, run.rows.stride(), channels, run.options);
        return;
    }
    // Each row's words, most significant byte first and not aligned, are
    // adjusted as native words in a row of this thread's own, and go back
    // as the file has them, which is how the encoder takes them.
    thread_local std::vector<uint16_t> words;
    words.resize(size_t{width} * channels);
    auto* native = reinterpret_cast<uint8_t*>(words.data());
    constexpr bool swap = std::endian::native == std::endian::little;
    const size_t bytes = 2 * words.size();
    for (uint32_t y = top; y < end; ++y) {
        uint8_t* row = run.rows.row(y);
        if constexpr (swap) copyWordsSwapped(row, native, words.size());
        else std::memcpy(native, row, bytes);
        adjustWordPixels(words.data(), width, channels, run.options);
        if constexpr (swap) copyWordsSwapped(native, row, words.size());
        else std::memcpy(row, native, bytes);
    }
}

void unfilterAll(PngRun& run) {
    const uint32_t height = run.rows.height();
    for (uint32_t y = 0; y < height; y += 16) {
        const uint32_t count = std::min(16u, height - y);
        run.rows.unfilter(y, count);
        std::lock_guard hold(run.lock);
        run.made = y + count;
        run.madeMore.notify_all();
    }
}

bool fillPng(void* context, const ByteSink& out) {
    PngRun& run = *static_cast<PngRun*>(context);
    std::thread unfiltering;
    try {
        unfiltering = std::thread(unfilterAll, std::ref(run));
    } catch (...) {
        unfilterAll(run);  // no thread to be had: every row first
    }
    PixelRows pixels;
    pixels.first = run.rows.row(0);
    pixels.stride = static_cast<ptrdiff_t>(run.rows.stride());
    pixels.width = run.rows.width();
    pixels.height = run.rows.height();
    pixels.channels = run.rows.channels();
    pixels.sampleBits = run.rows.sampleBits();
    const bool ok = encodePngPrepared(pixels, out, RowPreparer{&run, prepareRows, true}, run.threads);
    if (unfiltering.joinable()) unfiltering.join();
    return ok;
}

StreamResult streamPng(const char* input, const char* output, const AdjustOptions& options, const SaveOptions& save,
                       unsigned threads) {
    const char* name = formatNameOf(input);
    if (!name || std::strcmp(name, "PNG") != 0) return StreamResult::notStreamable;
    PngRun run;
    if (!openPngRows(input, run.rows)) return StreamResult::notStreamable;
    // Options that change the samples' depth or drop alpha take the whole road.
    if ((save.depth != 0 && save.depth != static_cast<int32_t>(run.rows.sampleBits())) ||
        (run.rows.channels() == 4 && save.keepAlpha != 1))
        return StreamResult::notStreamable;
    run.options = options;
    run.threads = threads;
    return writeFileAtomically(output, fillPng, &run) ? StreamResult::written : StreamResult::writeFailed;
}

}  // namespace

StreamResult streamAdjust(const char* input, const char* output, OutputFormat format, const AdjustOptions& options,
                          const SaveOptions& save, unsigned threads) {
    if (format == OutputFormat::png) return streamPng(input, output, options, save, threads);
    OutputFormat inputFormat;
    if (!outputFormatOf(input, inputFormat)) return StreamResult::notStreamable;
    Plan plan;
    if (!planFor(input, inputFormat, plan)) return StreamResult::notStreamable;
    plan.headerSize = rowFileHeader(format, plan.width, plan.height, plan.header);
    if (plan.headerSize == 0) return StreamResult::notStreamable;
    plan.outStride = format == OutputFormat::bmp ? displayStride(plan.width) : size_t{3} * plan.width;

    FILE* file = std::fopen(input, "rb");
    if (!file) return StreamResult::notStreamable;
    Run run(plan, options, file);
    const size_t rowSpace = std::max(plan.inStride, plan.outStride);
    run.bandRows = static_cast<uint32_t>(std::clamp<size_t>(bandBytes / rowSpace, 1, plan.height));
    run.bands = (plan.height + run.bandRows - 1) / run.bandRows;
    if (threads == 0) threads = std::max(1u, std::min(std::thread::hardware_concurrency(), 8u));
    Fill fill{&run, threads};
    const bool ok = writeFileAtomically(output, fillStream, &fill);
    const int reason = errno;
    std::fclose(file);
    errno = reason;
    if (ok) return StreamResult::written;
    return run.readFailed ? StreamResult::loadFailed : StreamResult::writeFailed;
}

bool rowFileLayout(const char* path, OutputFormat inputFormat, RowFileLayout& layout) {
    Plan plan;
    if (!planFor(path, inputFormat, plan)) return false;
    layout.width = plan.width;
    layout.height = plan.height;
    layout.topDown = plan.topDown;
    layout.dataOffset = plan.dataOffset;
    layout.stride = plan.inStride;
    return true;
}
