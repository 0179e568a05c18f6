// PNG output as pigz deflates: each row is filtered with the filter whose
// residues promise the least output (see residueCost), and the rows are
// cut into chunks of about a megabyte of filtered bytes. Every core takes
// chunks from one queue; a chunk is
// deflated as a raw stream whose matches may reach back into the last
// 32 KiB of filtered bytes before it, and ends on a byte boundary, the last
// one with the final block, so that the pieces, laid end to end after a
// zlib header, are one valid zlib stream. Each worker
// filters the rows of its own chunk and the few before it that the priming
// needs, so no chunk waits for another. The Adler-32 is joined from the
// chunks' own with adler32_combine. The pieces are written in order, as
// few IDAT chunks as a few megabytes of held output allow.
// Measured in bench/png-vs-convert and bench/png-encoder-tuning.
#include "writers/png_encoder.h"

#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "platform/basics.h"
#include "writers/deflate.h"

namespace {

constexpr uint8_t pngSignature[8] = {137, 'P', 'N', 'G', 13, 10, 26, 10};
// Each chunk is deflated one of two ways, chosen from its filtered bytes.
// Smooth maps leave residues that repeat (a tiled cell, a flat plate, the
// same slope row after row), which the compressor finds at the last
// distance, one row up or along a short hash chain. Busy pictures leave
// residues that hardly ever repeat, where the full search costs much and
// finds little: those chunks get Huffman codes alone or, when a trial finds
// that they repeat after all (a tiled picture, 16-bit samples), the greedy
// search (DeflateOptions). The order-0 entropy of the chunk's bytes tells
// smooth from busy.
constexpr unsigned defaultChain = 32;
constexpr double busyBitsPerByte = 3.0;
constexpr size_t defaultChunkBytes = size_t{1} << 20;
constexpr size_t windowBytes = size_t{1} << 15;
// Filtered bytes at the top of a chunk whose deflated size decides the
// chunk's RowRule: on smooth and enlarged maps it picks the better rule
// nearly everywhere, for about 3% more time.
constexpr size_t trialBytes = size_t{32} << 10;
// Deflated output held back so that IDAT chunks come this large.
constexpr size_t idatBytes = size_t{4} << 20;

// ------------------------------------------------------------ the rows

struct RowLayout {
    const uint8_t* first;
    ptrdiff_t stride;
    uint32_t width;
    uint32_t height;
    uint32_t channels;
    uint32_t sampleBytes;
    bool bgr;
    bool fileOrder;        // 16-bit samples most significant byte first
    size_t rowBytes;       // a row of samples in the file
    size_t filteredBytes;  // and with its filter byte
    uint32_t pixelBytes;
};

bool hostIsLittleEndian() {
    const uint16_t probe = 1;
    uint8_t low;
    std::memcpy(&low, &probe, 1);
    return low == 1;
}

// Row y (top row 0) as the file stores it: red-green-blue(-alpha),
// 16-bit samples most significant byte first. Returns the source row itself
// when it is already so, else `scratch` filled in.
const uint8_t* fileRow(const RowLayout& l, uint32_t y, uint8_t* scratch) {
    const uint8_t* row = l.first + static_cast<ptrdiff_t>(y) * l.stride;
    if (l.sampleBytes == 2) {
        if (l.fileOrder || !hostIsLittleEndian()) return row;
        copyWordsSwapped(row, scratch, l.rowBytes / 2);
        return scratch;
    }
    if (!l.bgr) return row;
    copyPixelsSwappedKeepingStep(row, l.channels, scratch, l.width);
    return scratch;
}

// ------------------------------------------------------------ filters

// Paeth's predictor of each byte from the one a pixel to its left (a), the
// one above (b) and the one above-left (c): whichever is nearest a + b - c,
// ties going to a, then b.
QUORVEL_VECTOR_CLONES void paethRow(const uint8_t* __restrict raw, const uint8_t* __restrict up,
                                    uint8_t* __restrict out, size_t bpp, size_t n) {
    // Left of the first pixel a and c are 0, and the predictor is b.
    for (size_t i = 0; i < bpp && i < n; ++i) out[i] = static_cast<uint8_t>(raw[i] - up[i]);
    for (size_t i = bpp; i < n; ++i) {
        const int16_t a = raw[i - bpp], b = up[i], c = up[i - bpp];
        const int16_t pa = static_cast<int16_t>(std::abs(b - c));
        const int16_t pb = static_cast<int16_t>(std::abs(a - c));
        const int16_t pc = static_cast<int16_t>(std::abs(a + b - 2 * c));
        const int16_t predicted = (pa <= pb && pa <= pc) ? a : (pb <= pc ? b : c);
        out[i] = static_cast<uint8_t>(raw[i] - predicted);
    }
}

QUORVEL_VECTOR_CLONES void subRow(const uint8_t* __restrict raw, uint8_t* __restrict out, size_t bpp, size_t n) {
    for (size_t i = 0; i < bpp && i < n; ++i) out[i] = raw[i];
    for (size_t i = bpp; i < n; ++i) out[i] = static_cast<uint8_t>(raw[i] - raw[i - bpp]);
}

QUORVEL_VECTOR_CLONES void upRow(const uint8_t* __restrict raw, const uint8_t* __restrict up,
                                 uint8_t* __restrict out, size_t n) {
    for (size_t i = 0; i < n; ++i) out[i] = static_cast<uint8_t>(raw[i] - up[i]);
}

QUORVEL_VECTOR_CLONES void averageRow(const uint8_t* __restrict raw, const uint8_t* __restrict up,
                                      uint8_t* __restrict out, size_t bpp, size_t n) {
    for (size_t i = 0; i < bpp && i < n; ++i) out[i] = static_cast<uint8_t>(raw[i] - up[i] / 2);
    for (size_t i = bpp; i < n; ++i) out[i] = static_cast<uint8_t>(raw[i] - (raw[i - bpp] + up[i]) / 2);
}

// Row `raw` filtered with `type` into `out` (n bytes, no filter byte).
void filterBytes(int type, const uint8_t* raw, const uint8_t* up, uint8_t* out, size_t bpp, size_t n) {
    switch (type) {
        case 0: std::memcpy(out, raw, n); return;
        case 1: subRow(raw, out, bpp, n); return;
        case 2: upRow(raw, up, out, n); return;
        case 3: averageRow(raw, up, out, bpp, n); return;
        default: paethRow(raw, up, out, bpp, n); return;
    }
}

// Two rules for a row's filter, each picking the filter whose residues
// cost least by its own estimate. The PNG format's own suggestion, the
// least sum of the residues' magnitudes (as signed bytes), suits most
// pictures. Enlarged and interpolated pictures are another matter: their Up
// residues run on unchanged along a row while their Paeth residues,
// smaller, keep changing, and deflate makes 10 to 35% less of the runs.
// The other rule counts a byte that repeats the one a pixel before it as
// free (a match takes it) and any other as its magnitude and one. Neither
// rule is always the better one, so each chunk takes the rule whose
// filterings of its first rows deflate smaller (see ruleOfChunk).
enum RowRule { runsRule = 0, leastSumRule = 1, ruleCount = 2 };

struct ResidueCosts {
    uint64_t byRule[ruleCount] = {};
};

void addResidueCosts(const uint8_t* r, const uint8_t* before, size_t n, ResidueCosts& costs) {
    uint64_t runs = 0, sum = 0;
    size_t i = 0;
#if defined(__SSE2__)
    // Sixteen bytes at a time: the magnitude is the smaller of r and -r as
    // unsigned bytes, at most 128, so that it and the one added fit a byte,
    // and psadbw sums the bytes.
    const __m128i zero = _mm_setzero_si128(), one = _mm_set1_epi8(1);
    __m128i runSums = zero, sums = zero;
    for (; i + 16 <= n; i += 16) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(r + i));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(before + i));
        const __m128i magnitude = _mm_min_epu8(x, _mm_sub_epi8(zero, x));
        sums = _mm_add_epi64(sums, _mm_sad_epu8(magnitude, zero));
        const __m128i changed = _mm_andnot_si128(_mm_cmpeq_epi8(x, b), _mm_add_epi8(magnitude, one));
        runSums = _mm_add_epi64(runSums, _mm_sad_epu8(changed, zero));
    }
    const auto total = [](__m128i v) {
        uint64_t halves[2];
        _mm_storeu_si128(reinterpret_cast<__m128i*>(halves), v);
        return halves[0] + halves[1];
    };
    runs = total(runSums);
    sum = total(sums);
#endif
    for (; i < n; ++i) {
        const unsigned magnitude = r[i] < 128 ? r[i] : 256u - r[i];
        sum += magnitude;
        runs += r[i] == before[i] ? 0u : magnitude + 1;
    }
    costs.byRule[runsRule] += runs;
    costs.byRule[leastSumRule] += sum;
}

// The first pixel's bytes have zeros before them.
ResidueCosts residueCosts(const uint8_t* r, size_t bpp, size_t n) {
    ResidueCosts costs;
    for (size_t i = 0; i < bpp && i < n; ++i) {
        const unsigned magnitude = r[i] < 128 ? r[i] : 256u - r[i];
        costs.byRule[leastSumRule] += magnitude;
        costs.byRule[runsRule] += r[i] == 0 ? 0u : magnitude + 1;
    }
    if (n > bpp) addResidueCosts(r + bpp, r, n - bpp, costs);
    return costs;
}

// A row's five filterings in scratch rows, and each rule's choice among
// them. A row's choices depend on it and the row above alone.
struct RowFilters {
    uint8_t* candidates[5] = {};  // by filter type; None needs none

    RowFilters() = default;
    RowFilters(const RowFilters&) = delete;
    RowFilters& operator=(const RowFilters&) = delete;
    ~RowFilters() {
        for (uint8_t* c : candidates) std::free(c);
    }
    bool start(size_t n) {
        for (int type = 1; type < 5; ++type) candidates[type] = static_cast<uint8_t*>(std::malloc(n));
        return candidates[1] && candidates[2] && candidates[3] && candidates[4];
    }
    // Filters the row every way; the filter type each rule picks (the lower
    // type on a tie) goes to `types`.
    void choose(const uint8_t* raw, const uint8_t* up, size_t bpp, size_t n, uint8_t types[ruleCount]) {
        ResidueCosts best = residueCosts(raw, bpp, n);
        types[0] = types[1] = 0;
        for (uint8_t type = 1; type < 5; ++type) {
            filterBytes(type, raw, up, candidates[type], bpp, n);
            const ResidueCosts costs = residueCosts(candidates[type], bpp, n);
            for (int rule = 0; rule < ruleCount; ++rule)
                if (costs.byRule[rule] < best.byRule[rule]) best.byRule[rule] = costs.byRule[rule], types[rule] = type;
        }
    }
    // The row as the last choose filtered it with `type`.
    const uint8_t* residues(const uint8_t* raw, uint8_t type) const { return type == 0 ? raw : candidates[type]; }
};

// ------------------------------------------------------------ chunks

struct Settings {
    unsigned chain;
    int filter;  // the filter type of every row, or -1: each row's own
    uint32_t rowsPerChunk;
    uint32_t chunks;
    uint32_t primingRows;  // rows before a chunk whose filtered bytes hold its window
    bool adaptive;  // busy chunks get Huffman codes alone
    const RowPreparer* preparer;  // null when the rows are all there
    uint32_t trialRows;  // rows at the top of a chunk that decide its RowRule
    // Per chunk, its RowRule once a worker has decided it, else -1; every
    // worker that decides it decides the same.
    std::atomic<int8_t>* rules;

    uint32_t top(uint32_t chunk) const { return chunk * rowsPerChunk; }
    uint32_t end(uint32_t chunk, uint32_t height) const { return std::min(height, top(chunk) + rowsPerChunk); }
    void prepare(uint32_t chunk, uint32_t height) const {
        if (preparer) preparer->prepare(preparer->context, top(chunk), end(chunk, height));
    }
};

// True when the bytes' order-0 entropy, estimated from every 37th byte (a
// step that no pixel size divides), is above busyBitsPerByte.
bool looksBusy(const uint8_t* bytes, size_t size) {
    constexpr size_t step = 37;
    uint32_t counts[256] = {};
    size_t samples = 0;
    for (size_t i = 0; i < size; i += step, ++samples) ++counts[bytes[i]];
    if (samples == 0) return false;
    double bits = 0;
    const double total = static_cast<double>(samples);
    for (uint32_t c : counts)
        if (c > 0) bits += c * std::log2(total / c);
    return bits > busyBitsPerByte * total;
}

// The Adler-32 of RFC 1950 continued over `size` bytes. Blocks of 1024
// bytes keep the weighted sum within 32 bits, and their loop has no
// dependence from byte to byte, so it runs in vector registers.
QUORVEL_VECTOR_CLONES uint32_t adler32Of(uint32_t adler, const uint8_t* __restrict p, size_t size) {
    constexpr uint32_t base = 65521;
    uint32_t s1 = adler & 0xFFFF, s2 = adler >> 16;
    while (size > 0) {
        const uint32_t n = size < 1024 ? static_cast<uint32_t>(size) : 1024;
        uint32_t sum = 0, weighted = 0;
        for (uint32_t i = 0; i < n; ++i) {
            sum += p[i];
            weighted += (n - i) * p[i];
        }
        s2 = (s2 + n * s1 + weighted) % base;
        s1 = (s1 + sum) % base;
        p += n;
        size -= n;
    }
    return (s2 << 16) | s1;
}

// One chunk's deflated bytes and the Adler-32 of its filtered bytes.
struct Piece {
    std::vector<uint8_t> bytes;
    size_t inputSize = 0;
    uLong adler = 1;
    bool done = false;
    bool ok = false;
};

// What a worker keeps from chunk to chunk.
struct Worker {
    DeflateCompressor deflater;
    uint8_t* filtered = nullptr;  // priming rows and the chunk's rows, filtered
    uint8_t* rows[2] = {};        // two rows in the file's form, when the source is not
    uint8_t* zeros = nullptr;     // the row above the top row
    RowFilters choices;
    uint8_t* trial[ruleCount] = {};  // a chunk's first rows filtered by each rule
    std::vector<uint8_t> trialOut;
    std::vector<int> rules;  // of the chunks whose rows a chunk filters

    Worker() = default;
    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;
    ~Worker() {
        std::free(filtered);
        std::free(rows[0]);
        std::free(rows[1]);
        std::free(zeros);
        for (uint8_t* t : trial) std::free(t);
    }

    bool start(const RowLayout& l, const Settings& s) {
        const size_t filteredRows = size_t{s.rowsPerChunk} + s.primingRows;
        filtered = static_cast<uint8_t*>(std::malloc(filteredRows * l.filteredBytes));
        rows[0] = static_cast<uint8_t*>(std::malloc(l.rowBytes));
        rows[1] = static_cast<uint8_t*>(std::malloc(l.rowBytes));
        zeros = static_cast<uint8_t*>(std::calloc(l.rowBytes, 1));
        if (!filtered || !rows[0] || !rows[1] || !zeros) return false;
        if (s.filter >= 0) return true;
        for (uint8_t*& t : trial) t = static_cast<uint8_t*>(std::malloc(size_t{s.trialRows} * l.filteredBytes));
        try {
            rules.resize((s.primingRows + s.rowsPerChunk - 1) / s.rowsPerChunk + 1);
        } catch (const std::bad_alloc&) {
            return false;
        }
        return trial[0] && trial[1] && choices.start(l.rowBytes);
    }
};

// The rule `chunk`'s rows are filtered by: the one whose filterings of the
// chunk's first rows deflate smaller, without a window and with a short
// chain (the runs rule where the two choose alike). Workers that need it
// for rows before their own chunk (their window) decide it the same way.
// False when memory runs out.
bool ruleOfChunk(const RowLayout& l, const Settings& s, Worker& w, uint32_t chunk, int& rule) {
    rule = s.rules[chunk].load(std::memory_order_relaxed);
    if (rule >= 0) return true;
    const uint32_t top = s.top(chunk), end = std::min(s.end(chunk, l.height), top + s.trialRows);
    int slot = 0;
    const uint8_t* above = top == 0 ? w.zeros : fileRow(l, top - 1, w.rows[slot]);
    bool alike = true;
    for (uint32_t y = top; y < end; ++y) {
        slot ^= 1;
        const uint8_t* current = fileRow(l, y, w.rows[slot]);
        uint8_t types[ruleCount];
        w.choices.choose(current, above, l.pixelBytes, l.rowBytes, types);
        for (int r = 0; r < ruleCount; ++r) {
            uint8_t* out = w.trial[r] + size_t{y - top} * l.filteredBytes;
            out[0] = types[r];
            std::memcpy(out + 1, w.choices.residues(current, types[r]), l.rowBytes);
        }
        alike = alike && types[0] == types[1];
        above = current;
    }
    rule = runsRule;
    if (!alike) {
        DeflateOptions options;
        options.chain = std::max(1u, s.chain / 4);
        options.rowDistance = l.filteredBytes;
        size_t sizes[ruleCount];
        for (int r = 0; r < ruleCount; ++r) {
            w.trialOut.clear();
            if (!w.deflater.compress(w.trial[r], size_t{end - top} * l.filteredBytes, 0, true, options, w.trialOut))
                return false;
            sizes[r] = w.trialOut.size();
        }
        if (sizes[leastSumRule] < sizes[runsRule]) rule = leastSumRule;
    }
    s.rules[chunk].store(static_cast<int8_t>(rule), std::memory_order_relaxed);
    return true;
}

// Whether a busy chunk repeats itself (a tiled picture, or residues of
// 16-bit samples that repeat briefly): its first bytes deflate clearly
// smaller with the greedy search than with Huffman codes alone. Most busy
// chunks of 8-bit samples do not, and are coded the cheaper way.
bool busyRepeats(Worker& w, const uint8_t* data, size_t size, DeflateOptions options) {
    const size_t n = std::min(size, trialBytes);
    size_t sizes[2];
    const DeflateSearch searches[2] = {DeflateSearch::literals, DeflateSearch::greedy};
    for (int i = 0; i < 2; ++i) {
        options.search = searches[i];
        w.trialOut.clear();
        if (!w.deflater.compress(data, n, 0, true, options, w.trialOut)) return false;
        sizes[i] = w.trialOut.size();
    }
    return sizes[1] * 100 < sizes[0] * 97;
}

bool deflateChunk(const RowLayout& l, const Settings& s, Worker& w, uint32_t chunk, Piece& piece) {
    const uint32_t top = chunk * s.rowsPerChunk;
    const uint32_t end = std::min(l.height, top + s.rowsPerChunk);
    const uint32_t from = top - std::min(top, s.primingRows);
    const size_t n = l.rowBytes;
    // The rule of each chunk from the one that holds `from` (rows before
    // `top` prime the window) to this one.
    const uint32_t first = from / s.rowsPerChunk;
    if (s.filter < 0) {
        for (uint32_t c = first; c <= chunk; ++c)
            if (!ruleOfChunk(l, s, w, c, w.rules[c - first])) return false;
    }
    // The rows from `from` to `end`, filtered.
    int slot = 0;  // the scratch row that holds `above`, when one does
    const uint8_t* above = from == 0 ? w.zeros : fileRow(l, from - 1, w.rows[slot]);
    for (uint32_t y = from; y < end; ++y) {
        slot ^= 1;
        const uint8_t* current = fileRow(l, y, w.rows[slot]);
        uint8_t* out = w.filtered + size_t{y - from} * l.filteredBytes;
        if (s.filter < 0) {
            uint8_t types[ruleCount];
            w.choices.choose(current, above, l.pixelBytes, n, types);
            out[0] = types[w.rules[y / s.rowsPerChunk - first]];
            std::memcpy(out + 1, w.choices.residues(current, out[0]), n);
        } else {
            out[0] = static_cast<uint8_t>(s.filter);
            filterBytes(s.filter, current, above, out + 1, l.pixelBytes, n);
        }
        above = current;
    }
    const uint8_t* data = w.filtered + size_t{top - from} * l.filteredBytes;
    const size_t size = size_t{end - top} * l.filteredBytes;
    const size_t priming = std::min(windowBytes, size_t{top - from} * l.filteredBytes);

    piece.inputSize = size;
    piece.adler = adler32Of(1, data, size);
    DeflateOptions options;
    options.search = s.chain == 0 ? DeflateSearch::literals : DeflateSearch::full;
    options.chain = s.chain;
    options.rowDistance = l.filteredBytes;
    if (s.adaptive && looksBusy(data, size)) {
        options.search = busyRepeats(w, data, size, options) ? DeflateSearch::greedy : DeflateSearch::literals;
    }
    return w.deflater.compress(data, size, priming, chunk + 1 == s.chunks, options, piece.bytes);
}

// ------------------------------------------------------------ output

void putBigEndian32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
}

struct Span {
    const uint8_t* bytes;
    size_t size;
};

// Writes one chunk of `type` whose data is the spans laid end to end.
bool writeChunk(const ByteSink& sink, const char* type, const Span* spans, size_t count) {
    size_t length = 0;
    for (size_t i = 0; i < count; ++i) length += spans[i].size;
    if (length > 0x7FFFFFFFu) return false;
    uint8_t head[8];
    putBigEndian32(head, static_cast<uint32_t>(length));
    std::memcpy(head + 4, type, 4);
    uLong crc = crc32(0, head + 4, 4);
    bool ok = sink.write(sink.context, head, 8);
    for (size_t i = 0; ok && i < count; ++i) {
        if (spans[i].size == 0) continue;
        crc = crc32(crc, spans[i].bytes, static_cast<uInt>(spans[i].size));
        ok = sink.write(sink.context, spans[i].bytes, spans[i].size);
    }
    uint8_t tail[4];
    putBigEndian32(tail, static_cast<uint32_t>(crc));
    return ok && sink.write(sink.context, tail, 4);
}

// Gathers the zlib stream's parts and writes them as IDAT chunks of about
// idatBytes each.
struct IdatWriter {
    const ByteSink& sink;
    std::vector<Span> held;
    std::vector<std::vector<uint8_t>> owned;  // pieces held until written
    size_t heldBytes = 0;
    bool ok = true;

    explicit IdatWriter(const ByteSink& s) : sink(s) {}
    IdatWriter(const IdatWriter&) = delete;
    IdatWriter& operator=(const IdatWriter&) = delete;
    ~IdatWriter() { release(); }

    void release() {
        owned.clear();
        held.clear();
        heldBytes = 0;
    }
    void add(const uint8_t* bytes, size_t size) {
        if (!ok || size == 0) return;
        // What is held goes out first when this piece would take the chunk
        // past the format's limit (a piece past it alone fails in writeChunk).
        if (!held.empty() && heldBytes + size > 0x7FFFFFFFu) flush();
        held.push_back({bytes, size});
        heldBytes += size;
        if (heldBytes >= idatBytes) flush();
    }
    void add(std::vector<uint8_t>&& piece) {
        if (!ok || piece.empty()) return;
        if (!held.empty() && heldBytes + piece.size() > 0x7FFFFFFFu) flush();  // before the piece is held
        owned.push_back(std::move(piece));
        add(owned.back().data(), owned.back().size());
    }
    void flush() {
        if (ok && !held.empty()) ok = writeChunk(sink, "IDAT", held.data(), held.size());
        release();
    }
};

// The zlib header: deflate with a 32 KiB window, the default level as the
// hint, and the check bits that make it a multiple of 31.
constexpr uint8_t zlibHeader[2] = {0x78, 0x9C};

// The chunks deflated by `workers` threads taking them from one queue, and
// handed to the writer in order. At most `ahead` chunks are taken before the
// writer has taken the earliest of them, which bounds the output held.
struct Queue {
    const RowLayout& layout;
    const Settings& settings;
    std::vector<Piece> pieces;
    std::mutex lock;
    std::condition_variable changed;
    uint32_t next = 0;     // the next chunk to take
    uint32_t written = 0;  // chunks the writer has taken
    uint32_t ahead = 0;
    std::vector<char> prepared;  // per chunk, when rows are made on the way
    uint32_t preparedBefore = 0;  // every chunk before this one is prepared
    bool stop = false;

    Queue(const RowLayout& l, const Settings& s) : layout(l), settings(s) {}

    void work() {
        Worker worker;
        const bool ready = worker.start(layout, settings);
        for (;;) {
            uint32_t chunk;
            {
                std::unique_lock<std::mutex> hold(lock);
                changed.wait(hold, [&] { return stop || next >= settings.chunks || next < written + ahead; });
                if (stop || next >= settings.chunks) return;
                chunk = next++;
            }
            if (settings.preparer) {
                // A chunk reads rows of the chunks before it (the row above,
                // the window): they must be made first.
                settings.prepare(chunk, layout.height);
                std::unique_lock<std::mutex> hold(lock);
                prepared[chunk] = 1;
                while (preparedBefore < settings.chunks && prepared[preparedBefore]) ++preparedBefore;
                changed.notify_all();
                changed.wait(hold, [&] { return stop || preparedBefore >= chunk; });
                if (stop) return;
            }
            Piece piece;
            piece.ok = ready && deflateChunk(layout, settings, worker, chunk, piece);
            piece.done = true;
            std::lock_guard<std::mutex> hold(lock);
            pieces[chunk] = std::move(piece);
            if (!piece.ok) stop = true;
            changed.notify_all();
        }
    }
};

// Every chunk deflated in turn on the calling thread.
bool deflateInTurn(const RowLayout& l, const Settings& s, IdatWriter& out, uLong& adler) {
    Worker worker;
    if (!worker.start(l, s)) return false;
    for (uint32_t chunk = 0; chunk < s.chunks; ++chunk) {
        Piece piece;
        s.prepare(chunk, l.height);
        const bool ok = deflateChunk(l, s, worker, chunk, piece);
        out.add(std::move(piece.bytes));
        if (!ok || !out.ok) return false;
        adler = adler32_combine(adler, piece.adler, static_cast<z_off_t>(piece.inputSize));
    }
    return true;
}

bool deflateAndWrite(const RowLayout& l, const Settings& s, unsigned threads, IdatWriter& out, uLong& adler) {
    adler = 1;
    const unsigned workers = std::max(1u, std::min<unsigned>(threads, s.chunks));
    if (workers == 1) return deflateInTurn(l, s, out, adler);
    Queue queue(l, s);
    queue.pieces.resize(s.chunks);
    if (s.preparer) queue.prepared.assign(s.chunks, 0);
    queue.ahead = 4 * workers;
    std::vector<std::thread> team;
    for (unsigned k = 0; k < workers; ++k) {
        try {
            team.emplace_back(&Queue::work, &queue);
        } catch (...) {
            break;  // fewer threads: the ones there are take every chunk
        }
    }
    if (team.empty()) return deflateInTurn(l, s, out, adler);
    bool ok = true;
    for (uint32_t chunk = 0; ok && chunk < s.chunks; ++chunk) {
        Piece piece;
        {
            std::unique_lock<std::mutex> hold(queue.lock);
            queue.changed.wait(hold, [&] { return queue.pieces[chunk].done || queue.stop; });
            piece = std::move(queue.pieces[chunk]);
            queue.pieces[chunk] = Piece{};
            queue.written = chunk + 1;
            queue.changed.notify_all();
        }
        if (!piece.done) {
            ok = false;
            break;
        }
        out.add(std::move(piece.bytes));
        ok = piece.ok && out.ok;
        adler = adler32_combine(adler, piece.adler, static_cast<z_off_t>(piece.inputSize));
    }
    {
        std::lock_guard<std::mutex> hold(queue.lock);
        queue.stop = true;
        queue.changed.notify_all();
    }
    for (std::thread& t : team) t.join();
    return ok;
}

bool layoutOf(const PixelRows& rows, RowLayout& l) {
    if (!rows.first || rows.width == 0 || rows.height == 0 || rows.width > 0x7FFFFFFFu || rows.height > 0x7FFFFFFFu)
        return false;
    if ((rows.channels != 1 && rows.channels != 3 && rows.channels != 4) ||
        (rows.sampleBits != 8 && rows.sampleBits != 16) || rows.floats)
        return false;
    if (rows.bgr && (rows.sampleBits != 8 || rows.channels == 1)) return false;
    l.first = rows.first;
    l.stride = rows.stride;
    l.width = rows.width;
    l.height = rows.height;
    l.channels = rows.channels;
    l.sampleBytes = rows.sampleBits / 8;
    l.bgr = rows.bgr;
    l.pixelBytes = l.channels * l.sampleBytes;
    const uint64_t rowBytes = uint64_t{l.width} * l.pixelBytes;
    if (rowBytes >= (uint64_t{1} << 40) || rowBytes > SIZE_MAX / 4) return false;
    l.rowBytes = static_cast<size_t>(rowBytes);
    l.filteredBytes = l.rowBytes + 1;
    // Rows that overlap cannot be a picture.
    const uint64_t distance = rows.stride < 0 ? 0 - static_cast<uint64_t>(rows.stride) : static_cast<uint64_t>(rows.stride);
    return l.height == 1 || distance >= rowBytes;
}

}  // namespace

namespace {

bool encode(const PixelRows& rows, const ByteSink& sink, const PngEncoderTuning& tuning, const RowPreparer* preparer) {
    RowLayout l{};
    if (!sink.write || !layoutOf(rows, l)) return false;
    Settings s{};
    s.chain = tuning.chain >= 0 ? static_cast<unsigned>(tuning.chain) : defaultChain;
    s.adaptive = tuning.chain < 0;
    s.preparer = preparer && preparer->prepare ? preparer : nullptr;
    l.fileOrder = s.preparer && s.preparer->fileOrder;
    s.filter = tuning.filter >= 0 && tuning.filter <= 4 ? tuning.filter : -1;
    const size_t chunkBytes = tuning.chunkBytes ? tuning.chunkBytes : defaultChunkBytes;
    s.rowsPerChunk = static_cast<uint32_t>(std::clamp<size_t>(chunkBytes / l.filteredBytes, 1, l.height));
    s.chunks = static_cast<uint32_t>((uint64_t{l.height} + s.rowsPerChunk - 1) / s.rowsPerChunk);
    s.trialRows = static_cast<uint32_t>(std::clamp<size_t>((trialBytes + l.filteredBytes - 1) / l.filteredBytes, 1, s.rowsPerChunk));
    std::unique_ptr<std::atomic<int8_t>[]> rules(new (std::nothrow) std::atomic<int8_t>[s.chunks]);
    if (!rules) return false;
    for (uint32_t c = 0; c < s.chunks; ++c) rules[c].store(-1, std::memory_order_relaxed);
    s.rules = rules.get();
    s.primingRows = static_cast<uint32_t>(std::min<size_t>((windowBytes + l.filteredBytes - 1) / l.filteredBytes, l.height));
    unsigned threads = tuning.threads ? tuning.threads : std::thread::hardware_concurrency();
    if (threads == 0) threads = 1;

    uint8_t ihdr[13];
    putBigEndian32(ihdr, l.width);
    putBigEndian32(ihdr + 4, l.height);
    ihdr[8] = static_cast<uint8_t>(8 * l.sampleBytes);
    ihdr[9] = l.channels == 1 ? 0 : l.channels == 4 ? 6 : 2;  // grey, colour with alpha, or colour
    ihdr[10] = ihdr[11] = ihdr[12] = 0; // deflate, adaptive filtering, not interlaced
    const Span ihdrSpan{ihdr, sizeof ihdr};
    if (!sink.write(sink.context, pngSignature, sizeof pngSignature) || !writeChunk(sink, "IHDR", &ihdrSpan, 1))
        return false;

    IdatWriter out(sink);
    out.add(zlibHeader, 2);
    uLong adler = 1;
    if (!deflateAndWrite(l, s, threads, out, adler)) return false;
    uint8_t checksum[4];
    putBigEndian32(checksum, static_cast<uint32_t>(adler));
    out.add(checksum, 4);
    out.flush();
    return out.ok && writeChunk(sink, "IEND", nullptr, 0);
}

}  // namespace

bool encodePngTuned(const PixelRows& rows, const ByteSink& sink, const PngEncoderTuning& tuning) {
    return encode(rows, sink, tuning, nullptr);
}

bool encodePng(const PixelRows& rows, const ByteSink& sink) { return encode(rows, sink, PngEncoderTuning{}, nullptr); }

bool encodePngPrepared(const PixelRows& rows, const ByteSink& sink, const RowPreparer& preparer, unsigned threads) {
    PngEncoderTuning tuning;
    tuning.threads = threads;
    return encode(rows, sink, tuning, &preparer);
}
