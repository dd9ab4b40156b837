#include "output/PngEncoder.h"

#include "output/DeflateStream.h"
#include "output/EncodingThreads.h"
#include "output/PngChunk.h"
#include "platform/UiActivity.h"

#include <QThreadPool>
#include <QtEndian>

#include <isa-l/igzip_lib.h>
#include <libdeflate.h>

#if defined(__linux__)
#include <sys/mman.h>
#endif

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>
#include <climits>
#include <limits>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

// Screenshots are mostly flat areas, text and a few gradients. For them the
// PNG filters "up" and "sub" take most rows to long runs of zeros, and
// Paeth handles gradients and anti-aliased edges. Each row gets the filter
// whose output has the smallest sum of absolute (signed) values, the usual
// heuristic, computed sixteen bytes at a time; at the fast effort the
// choice is between sub and up only. The rows are cut into strips
// that are filtered and compressed in parallel; the strips' DEFLATE streams
// are then joined into the one zlib stream PNG requires. The balanced
// effort compresses with libdeflate; the fast one with ISA-L's level 1,
// which takes well under half the time for files a few per cent larger
// (libdeflate stands in should it fail).

namespace {

// Rows are filtered and compressed in strips of about this many bytes, in
// parallel; each strip is a separate part of the one DEFLATE stream.
constexpr size_t kStripBytes = size_t(256) << 10;
constexpr size_t kMaxChunk = size_t(1) << 20;
constexpr size_t kPad = 16;
// The longest a helper waits, over one encoding, for the UI thread to be
// done: longer than the UI thread takes to show a capture on a quiet
// machine, so that the wait ends when it is done; on a busy machine, where
// the UI thread is slow at everything, the file is late by at most this.
constexpr std::chrono::milliseconds kRoomForTheUi(40);

// Adler-32 of two pieces joined, from the Adler-32 of each and the length
// of the second.
uint32_t adler32Combine(uint32_t adler1, uint32_t adler2, size_t len2)
{
    constexpr uint32_t base = 65521;
    const uint32_t rem = uint32_t(len2 % base);
    uint64_t sum1 = adler1 & 0xffff;
    uint64_t sum2 = (uint64_t(rem) * sum1) % base;
    sum1 += (adler2 & 0xffff) + base - 1;
    sum2 += ((adler1 >> 16) & 0xffff) + ((adler2 >> 16) & 0xffff) + base - rem;
    sum1 %= base;
    sum2 %= base;
    return uint32_t(sum1 | (sum2 << 16));
}

inline uint8_t paeth(uint8_t a, uint8_t b, uint8_t c)
{
    const int p = int(a) + int(b) - int(c);
    const int pa = std::abs(p - int(a));
    const int pb = std::abs(p - int(b));
    const int pc = std::abs(p - int(c));
    if (pa <= pb && pa <= pc)
        return a;
    return pb <= pc ? b : c;
}

inline uint32_t absSigned(uint8_t v)
{
    return uint32_t(std::abs(int(int8_t(v))));
}

// PNG filter types.
constexpr uint8_t kSub = 1, kUp = 2, kPaeth = 4;

// The sums of the absolute (signed) values of the candidate filters' output
// for bytes [from, n) of a row, added to sums (sub, up, Paeth; Paeth only
// when asked). cur[-Bpp..-1] and prev[-Bpp..-1] must be readable zeros.
template<int Bpp>
void sumScalar(const uint8_t *cur, const uint8_t *prev, size_t from, size_t n, bool withPaeth, uint64_t sums[3])
{
    for (size_t i = from; i < n; ++i) {
        // A signed index: for the first pixel i - Bpp is negative, which as
        // size_t would wrap the pointer around (undefined behaviour).
        const std::ptrdiff_t left = static_cast<std::ptrdiff_t>(i) - Bpp;
        sums[0] += absSigned(uint8_t(cur[i] - cur[left]));
        sums[1] += absSigned(uint8_t(cur[i] - prev[i]));
        if (withPaeth)
            sums[2] += absSigned(uint8_t(cur[i] - paeth(cur[left], prev[i], prev[left])));
    }
}

// Writes bytes [from, n) of the row filtered with `type` to out.
template<int Bpp>
void applyScalar(uint8_t type, const uint8_t *cur, const uint8_t *prev, size_t from, size_t n, uint8_t *out)
{
    for (size_t i = from; i < n; ++i) {
        const std::ptrdiff_t left = static_cast<std::ptrdiff_t>(i) - Bpp;
        const uint8_t pred = type == kSub ? cur[left] : type == kUp ? prev[i] : paeth(cur[left], prev[i], prev[left]);
        out[i] = uint8_t(cur[i] - pred);
    }
}

#if defined(__SSE2__)
// |int8(v)| for every byte: the smaller of v and 256 - v.
inline __m128i absSigned8(__m128i v)
{
    return _mm_min_epu8(v, _mm_sub_epi8(_mm_setzero_si128(), v));
}

inline __m128i abs16(__m128i v)
{
    return _mm_max_epi16(v, _mm_sub_epi16(_mm_setzero_si128(), v));
}

// The Paeth predictor of eight pixels' bytes held as 16-bit lanes.
inline __m128i paeth16(__m128i a, __m128i b, __m128i c)
{
    const __m128i bc = _mm_sub_epi16(b, c);
    const __m128i ac = _mm_sub_epi16(a, c);
    const __m128i pa = abs16(bc);
    const __m128i pb = abs16(ac);
    const __m128i pc = abs16(_mm_add_epi16(bc, ac));
    const __m128i notA = _mm_or_si128(_mm_cmpgt_epi16(pa, pb), _mm_cmpgt_epi16(pa, pc));
    const __m128i useC = _mm_cmpgt_epi16(pb, pc);
    const __m128i bOrC = _mm_or_si128(_mm_and_si128(useC, c), _mm_andnot_si128(useC, b));
    return _mm_or_si128(_mm_and_si128(notA, bOrC), _mm_andnot_si128(notA, a));
}

// The Paeth predictions of sixteen bytes.
inline __m128i paeth8(__m128i a, __m128i b, __m128i c)
{
    const __m128i zero = _mm_setzero_si128();
    const __m128i lo = paeth16(_mm_unpacklo_epi8(a, zero), _mm_unpacklo_epi8(b, zero), _mm_unpacklo_epi8(c, zero));
    const __m128i hi = paeth16(_mm_unpackhi_epi8(a, zero), _mm_unpackhi_epi8(b, zero), _mm_unpackhi_epi8(c, zero));
    return _mm_packus_epi16(lo, hi);
}

inline __m128i load(const uint8_t *p)
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
}

template<int Bpp>
void filterSums(const uint8_t *cur, const uint8_t *prev, size_t n, bool withPaeth, uint64_t sums[3])
{
    const __m128i zero = _mm_setzero_si128();
    __m128i accSub = zero, accUp = zero, accPae = zero;
    size_t i = 0;
    if (withPaeth) {
        for (; i + 16 <= n; i += 16) {
            const __m128i x = load(cur + i), a = load(cur + i - Bpp), b = load(prev + i), c = load(prev + i - Bpp);
            accSub = _mm_add_epi64(accSub, _mm_sad_epu8(absSigned8(_mm_sub_epi8(x, a)), zero));
            accUp = _mm_add_epi64(accUp, _mm_sad_epu8(absSigned8(_mm_sub_epi8(x, b)), zero));
            accPae = _mm_add_epi64(accPae, _mm_sad_epu8(absSigned8(_mm_sub_epi8(x, paeth8(a, b, c))), zero));
        }
    } else {
        for (; i + 16 <= n; i += 16) {
            const __m128i x = load(cur + i), a = load(cur + i - Bpp), b = load(prev + i);
            accSub = _mm_add_epi64(accSub, _mm_sad_epu8(absSigned8(_mm_sub_epi8(x, a)), zero));
            accUp = _mm_add_epi64(accUp, _mm_sad_epu8(absSigned8(_mm_sub_epi8(x, b)), zero));
        }
    }
    auto total = [](__m128i v) {
        return uint64_t(_mm_cvtsi128_si64(v)) + uint64_t(_mm_cvtsi128_si64(_mm_unpackhi_epi64(v, v)));
    };
    sums[0] += total(accSub);
    sums[1] += total(accUp);
    sums[2] += total(accPae);
    sumScalar<Bpp>(cur, prev, i, n, withPaeth, sums);
}

inline void store(uint8_t *p, __m128i v)
{
    _mm_storeu_si128(reinterpret_cast<__m128i *>(p), v);
}

template<int Bpp>
void applyFilter(uint8_t type, const uint8_t *cur, const uint8_t *prev, size_t n, uint8_t *out)
{
    size_t i = 0;
    if (type == kSub) {
        for (; i + 16 <= n; i += 16)
            store(out + i, _mm_sub_epi8(load(cur + i), load(cur + i - Bpp)));
    } else if (type == kUp) {
        for (; i + 16 <= n; i += 16)
            store(out + i, _mm_sub_epi8(load(cur + i), load(prev + i)));
    } else {
        for (; i + 16 <= n; i += 16)
            store(out + i, _mm_sub_epi8(load(cur + i), paeth8(load(cur + i - Bpp), load(prev + i), load(prev + i - Bpp))));
    }
    applyScalar<Bpp>(type, cur, prev, i, n, out);
}
#else
template<int Bpp>
void filterSums(const uint8_t *cur, const uint8_t *prev, size_t n, bool withPaeth, uint64_t sums[3])
{
    sumScalar<Bpp>(cur, prev, 0, n, withPaeth, sums);
}

template<int Bpp>
void applyFilter(uint8_t type, const uint8_t *cur, const uint8_t *prev, size_t n, uint8_t *out)
{
    applyScalar<Bpp>(type, cur, prev, 0, n, out);
}
#endif

// Filters one row of n bytes into out[0] (the filter type) and out[1..n].
// cur and prev (the previous row, zeros above the first) must be preceded
// by Bpp zero bytes. The sums are taken first and only the chosen filter
// is written. Without Paeth (the fast effort) the choice is between sub
// and up: for screen content Paeth rarely wins by much and costs the most
// to weigh.
template<int Bpp>
void filterRow(const uint8_t *cur, const uint8_t *prev, size_t n, bool withPaeth, uint8_t *out)
{
    uint64_t sums[3] = {0, 0, 0};
    filterSums<Bpp>(cur, prev, n, withPaeth, sums);

    uint8_t type = kUp;
    uint64_t bestSum = sums[1];
    if (sums[0] < bestSum) {
        type = kSub;
        bestSum = sums[0];
    }
    if (withPaeth && sums[2] < bestSum)
        type = kPaeth;
    out[0] = type;
    applyFilter<Bpp>(type, cur, prev, n, out + 1);
}

// One row of 32-bit 0xffRRGGBB pixels to R, G, B bytes. The vector
// version writes 4 bytes past the row's end.
void rgb32ToRgbScalar(const uint32_t *src, int width, uint8_t *dst)
{
    for (int x = 0; x < width; ++x) {
        const uint32_t p = src[x];
        dst[0] = uint8_t(p >> 16);
        dst[1] = uint8_t(p >> 8);
        dst[2] = uint8_t(p);
        dst += 3;
    }
}

#if defined(__x86_64__) || defined(__i386__)
#include <tmmintrin.h>
__attribute__((target("ssse3"))) void rgb32ToRgbSsse3(const uint32_t *src, int width, uint8_t *dst)
{
    const __m128i order = _mm_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1);
    int x = 0;
    for (; x + 4 <= width; x += 4, dst += 12)
        _mm_storeu_si128(reinterpret_cast<__m128i *>(dst),
                         _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(src + x)), order));
    rgb32ToRgbScalar(src + x, width - x, dst);
}

void rgb32ToRgb(const uint32_t *src, int width, uint8_t *dst)
{
    static const bool ssse3 = __builtin_cpu_supports("ssse3");
    if (ssse3)
        rgb32ToRgbSsse3(src, width, dst);
    else
        rgb32ToRgbScalar(src, width, dst);
}
#else
void rgb32ToRgb(const uint32_t *src, int width, uint8_t *dst)
{
    rgb32ToRgbScalar(src, width, dst);
}
#endif

const char kSignature[8] = {'\x89', 'P', 'N', 'G', '\r', '\n', '\x1a', '\n'};
constexpr qsizetype kIhdrEnd = 8 + 4 + 4 + 13 + 4; // signature, IHDR length, type, body, CRC

// The resolution as a pHYs chunk: 72 dots per inch is one pixel per point.
bool appendResolution(QByteArray &png, qreal pixelsPerPoint)
{
    constexpr double inchesPerMetre = 39.3700787;
    const uint32_t perMetre = uint32_t(std::lround(pixelsPerPoint * 72.0 * inchesPerMetre));
    uint8_t phys[9];
    qToBigEndian(perMetre, phys);
    qToBigEndian(perMetre, phys + 4);
    phys[8] = 1; // unit: metre
    return PngChunk::append(png, "pHYs", phys, sizeof phys);
}

// The zlib stream, given as pieces, appended as image data chunks of
// kMaxChunk bytes (the last one shorter). The chunks are independent: each
// is filled, and its checksum computed, by whichever thread takes it, this
// one and up to helpers of the encoders' helpers. Most of the time goes into
// the first writes to the file's fresh memory, which so spread over cores.
// False when memory runs out.
bool appendImageData(QByteArray &png, const std::vector<std::pair<const uint8_t *, size_t>> &pieces,
                     size_t zlibSize, int helpers)
{
    struct Fill
    {
        uint8_t *out = nullptr;            // the first chunk's length field
        std::vector<size_t> pieceStarts;   // offset of each piece in the stream
        const std::vector<std::pair<const uint8_t *, size_t>> *pieces = nullptr;
        size_t zlibSize = 0;
        size_t chunkCount = 0;
        std::atomic<size_t> next{0};
        std::mutex mutex;
        std::condition_variable filled;
        size_t done = 0; // under mutex

        void fillChunk(size_t index)
        {
            const size_t first = index * kMaxChunk;
            const size_t length = std::min(kMaxChunk, zlibSize - first);
            uint8_t *at = out + index * (kMaxChunk + 12);
            qToBigEndian(uint32_t(length), at);
            std::memcpy(at + 4, "IDAT", 4);
            uint8_t *data = at + 8;
            size_t piece = size_t(std::upper_bound(pieceStarts.begin(), pieceStarts.end(), first)
                                  - pieceStarts.begin()) - 1;
            size_t offset = first - pieceStarts[piece];
            for (size_t need = length; need > 0; ++piece, offset = 0) {
                const auto &[bytes, size] = (*pieces)[piece];
                const size_t take = std::min(need, size - offset);
                std::memcpy(data, bytes + offset, take);
                data += take;
                need -= take;
            }
            qToBigEndian(libdeflate_crc32(0, at + 4, length + 4), data);
        }
        // Fills chunks until none is left.
        void fillSome()
        {
            size_t mine = 0;
            for (size_t index = next++; index < chunkCount; index = next++) {
                fillChunk(index);
                ++mine;
            }
            if (mine == 0)
                return;
            std::lock_guard<std::mutex> lock(mutex);
            done += mine;
            filled.notify_all();
        }
    };
    auto fill = std::make_shared<Fill>();
    fill->chunkCount = (zlibSize + kMaxChunk - 1) / kMaxChunk;
    fill->zlibSize = zlibSize;
    fill->pieces = &pieces;
    size_t start = 0;
    for (const auto &piece : pieces) {
        fill->pieceStarts.push_back(start);
        start += piece.second;
    }
    const qsizetype headerSize = png.size();
    // The chunks, and the IEND chunk after them, within what a byte array
    // holds.
    if (zlibSize > size_t(std::numeric_limits<qsizetype>::max()) / 2
        || !PngChunk::grow(png, zlibSize + fill->chunkCount * 12 + 12))
        return false;
    const qsizetype total = png.size();
    fill->out = reinterpret_cast<uint8_t *>(png.data()) + headerSize;
    const size_t others = std::min(size_t(std::max(helpers, 0)), fill->chunkCount - 1);
    for (size_t i = 0; i < others; ++i)
        EncodingThreads::helpers().start([fill] { fill->fillSome(); });
    fill->fillSome();
    {
        std::unique_lock<std::mutex> lock(fill->mutex);
        fill->filled.wait(lock, [&fill] { return fill->done == fill->chunkCount; });
    }
    // The IEND chunk goes after them.
    png.resize(total - 12);
    return true;
}

struct FreeDeleter
{
    void operator()(uint8_t *p) const { std::free(p); }
};
using LargeBuffer = std::unique_ptr<uint8_t, FreeDeleter>;

// A buffer for the filtered rows. The whole image's (one stream) is tens of
// megabytes: in 2 MiB pages where the system offers them, it is set up with
// a few hundred times fewer page faults, which otherwise cost a sixth of the
// encoding's time.
LargeBuffer allocateLarge(size_t bytes)
{
#if defined(__linux__)
    constexpr size_t hugePage = size_t(2) << 20;
    if (bytes >= 2 * hugePage) {
        const size_t rounded = (bytes + hugePage - 1) & ~(hugePage - 1);
        LargeBuffer buffer(static_cast<uint8_t *>(std::aligned_alloc(hugePage, rounded)));
        if (buffer)
            ::madvise(buffer.get(), rounded, MADV_HUGEPAGE); // a hint; fine if refused
        return buffer;
    }
#endif
    return LargeBuffer(static_cast<uint8_t *>(std::malloc(bytes)));
}

struct CompressorDeleter
{
    void operator()(libdeflate_compressor *c) const { libdeflate_free_compressor(c); }
};

// The buffers of a whole image encoded as one stream: its filtered rows and
// its compressed stream.
struct StreamBuffers
{
    LargeBuffer filtered;
    size_t filteredSize = 0;
    std::unique_ptr<uint8_t[]> out;
    size_t outSize = 0;

    size_t bytes() const { return filteredSize + outSize; }
};

// Buffers of one-stream encodings kept for the next ones. The history and
// the clipboard encode each capture that way, one capture after another,
// and fresh buffers cost the zeroing of tens of megabytes of pages each
// time. They belong to the encoder, not to the thread that used them last:
// whatever thread encodes, and however many did, no more than two sets are
// kept (the clipboard's and the history's encodings of one capture run at
// the same time), each for no more than a screen-sized capture. A long
// scrolling capture's buffers go back to the system once it is encoded.
class KeptBuffers
{
public:
    // The largest filtered rows kept: a capture of a 5K screen with alpha.
    static constexpr size_t kLargestFiltered = size_t(64) << 20;
    static constexpr size_t kSets = 2;

    // A kept set with at least these sizes, now the caller's alone; or an
    // empty set when none is large enough.
    static StreamBuffers take(size_t filtered, size_t out)
    {
        StreamBuffers found, tooSmall;
        {
            std::lock_guard<std::mutex> lock(mutex());
            std::vector<StreamBuffers> &sets = kept();
            auto best = sets.end();
            for (auto it = sets.begin(); it != sets.end(); ++it)
                if (it->filteredSize >= filtered && it->outSize >= out
                    && (best == sets.end() || it->bytes() < best->bytes()))
                    best = it;
            if (best != sets.end()) {
                found = std::move(*best);
                sets.erase(best);
            } else if (!sets.empty() && filtered <= kLargestFiltered) {
                // Captures have grown (another screen): the smallest set
                // makes way for the one this encoding will give back.
                auto smallest = std::min_element(sets.begin(), sets.end(), [](const auto &a, const auto &b) {
                    return a.bytes() < b.bytes();
                });
                tooSmall = std::move(*smallest);
                sets.erase(smallest);
            }
        }
        return found;
    }

    // Keeps set for the next encodings when there is room for it and it is
    // not too large; frees it otherwise.
    static void giveBack(StreamBuffers &&set)
    {
        if (!set.filtered || !set.out)
            return;
        StreamBuffers freed = std::move(set);
        if (freed.filteredSize > kLargestFiltered)
            return;
        std::lock_guard<std::mutex> lock(mutex());
        std::vector<StreamBuffers> &sets = kept();
        if (sets.size() >= kSets)
            return;
        try {
            sets.push_back(std::move(freed));
        } catch (const std::bad_alloc &) {
        }
    }

private:
    // Never destroyed: an encoding may still end while the program exits.
    static std::mutex &mutex()
    {
        static auto *m = new std::mutex;
        return *m;
    }
    static std::vector<StreamBuffers> &kept()
    {
        static auto *sets = new std::vector<StreamBuffers>;
        return *sets;
    }
};


// One strip's compressed bytes: a DEFLATE part (the last one final).
struct Strip
{
    std::vector<uint8_t> deflated; // the part's own bytes (parallel strips)
    const uint8_t *bytes = nullptr; // the part: in deflated, or in the encoding's stream buffer
    size_t size = 0;
    uint32_t adler = 1;
    size_t rawSize = 0;
    bool ok = false;
};

// An image being encoded in strips, shared by the encoding thread and its
// helpers. Each strip is taken by exactly one thread. Helpers may still
// start after the encoding has returned (they then find nothing left to
// do), so it lives as long as any of them.
struct StripJob
{
    int width = 0;
    int height = 0;
    size_t rowBytes = 0;
    bool alpha = false;
    int rowsPerStrip = 1;
    int stripCount = 0;
    bool withPaeth = false;
    PngEncoder::Effort effort = PngEncoder::Effort::balanced;
    bool oneStream = false;
    size_t maxFiltered = 0;

    std::atomic<int> nextStrip{0};
    std::atomic<int> helpersAtWork{0};
    std::vector<Strip> results;
    std::mutex mutex;
    std::condition_variable finished;
    int stripsDone = 0; // under mutex

    QImage image; // under mutex once helpers run

    QImage pixels()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return image;
    }

    void letGoOfImage()
    {
        QImage pixels;
        std::lock_guard<std::mutex> lock(mutex);
        std::swap(pixels, image);
    }

    // Counts strips finished by a thread and wakes the encoding thread.
    void finish(int strips)
    {
        if (strips == 0)
            return;
        std::lock_guard<std::mutex> lock(mutex);
        stripsDone += strips;
        finished.notify_all();
    }

    void waitForAll()
    {
        std::unique_lock<std::mutex> lock(mutex);
        finished.wait(lock, [this] { return stripsDone == stripCount; });
    }

    static void help(const std::shared_ptr<StripJob> &job);
};

// What one thread needs to filter and compress strips, set up once for all
// the strips it takes.
class StripCompressor
{
public:
    StripCompressor(const StripJob &job, const QImage &image);
    ~StripCompressor() { KeptBuffers::giveBack(std::move(m_stream)); }
    StripCompressor(const StripCompressor &) = delete;
    StripCompressor &operator=(const StripCompressor &) = delete;
    bool ready() const { return m_compressor && m_filtered && m_out; }
    // Filters and compresses strip index into result (ok stays false on
    // failure).
    void compress(int index, Strip &result);
    // Whether this thread, a helper beyond those that go on beside the UI
    // thread, waits while the UI thread is at work: for at most
    // kRoomForTheUi in all.
    void setMakesRoomForTheUi(bool makesRoom) { m_makesRoom = makesRoom; }

private:
    void makeRoomForTheUi();

    const uint8_t *loadRow(int y, int slot);
    // ISA-L level 1 in one call, or 0 when it could not (the output did not
    // fit, or the input is too large for its counters).
    size_t compressFast(size_t size);

    const StripJob &m_job;
    bool m_makesRoom = false;
    std::chrono::steady_clock::duration m_roomLeft = kRoomForTheUi;
    QImage m_image;
    std::unique_ptr<libdeflate_compressor, CompressorDeleter> m_compressor;
    size_t m_outCapacity = 0;
    LargeBuffer m_ownFiltered;
    StreamBuffers m_stream; // one stream: the whole image's, kept or fresh
    uint8_t *m_filtered = nullptr;
    std::unique_ptr<uint8_t[]> m_ownOut;
    uint8_t *m_out = nullptr;
    std::vector<uint8_t> m_levelBuffer; // ISA-L's working memory
    // Two row slots, each with zero padding before and after, so the
    // filters can read the bytes left of the first pixel; a third of zeros
    // stands above row 0.
    size_t m_slotBytes = 0;
    std::vector<uint8_t> m_rows;
};

StripCompressor::StripCompressor(const StripJob &job, const QImage &image)
    : m_job(job)
    , m_image(image)
    , m_compressor(libdeflate_alloc_compressor(int(job.effort)))
{
    if (!m_compressor)
        return;
    m_outCapacity = libdeflate_deflate_compress_bound(m_compressor.get(), job.maxFiltered);
    if (job.oneStream) {
        // The whole image's buffers: kept ones where there are, for the
        // next image they are given back. The compressed stream is read
        // from there into the file, without a copy.
        m_stream = KeptBuffers::take(job.maxFiltered, m_outCapacity);
        if (!m_stream.filtered) {
            m_stream.filtered = allocateLarge(job.maxFiltered);
            m_stream.filteredSize = m_stream.filtered ? job.maxFiltered : 0;
            m_stream.out.reset(new uint8_t[m_outCapacity]);
            m_stream.outSize = m_outCapacity;
        }
        m_filtered = m_stream.filtered.get();
        m_out = m_stream.out.get();
    } else {
        m_ownFiltered = allocateLarge(job.maxFiltered);
        m_filtered = m_ownFiltered.get();
        m_ownOut.reset(new uint8_t[m_outCapacity]);
        m_out = m_ownOut.get();
    }
    m_slotBytes = kPad + job.rowBytes + kPad;
    m_rows.assign(3 * m_slotBytes, 0);
}

const uint8_t *StripCompressor::loadRow(int y, int slot)
{
    uint8_t *row = m_rows.data() + size_t(slot) * m_slotBytes + kPad;
    if (m_job.alpha)
        std::memcpy(row, m_image.constScanLine(y), m_job.rowBytes);
    else
        rgb32ToRgb(reinterpret_cast<const uint32_t *>(m_image.constScanLine(y)), m_job.width, row);
    return row;
}

size_t StripCompressor::compressFast(size_t size)
{
    if (size > UINT32_MAX || m_outCapacity > UINT32_MAX)
        return 0;
    isal_zstream stream;
    isal_deflate_stateless_init(&stream);
    stream.level = 1;
    m_levelBuffer.resize(ISAL_DEF_LVL1_DEFAULT);
    stream.level_buf = m_levelBuffer.data();
    stream.level_buf_size = uint32_t(m_levelBuffer.size());
    stream.next_in = m_filtered;
    stream.avail_in = uint32_t(size);
    stream.next_out = m_out;
    stream.avail_out = uint32_t(m_outCapacity);
    stream.end_of_stream = 1;
    stream.flush = NO_FLUSH;
    stream.gzip_flag = IGZIP_DEFLATE;
    if (isal_deflate_stateless(&stream) != COMP_OK || stream.avail_in != 0)
        return 0;
    return stream.total_out;
}

void StripCompressor::makeRoomForTheUi()
{
    if (!m_makesRoom || m_roomLeft <= std::chrono::steady_clock::duration::zero() || !UiActivity::busy())
        return;
    const auto start = std::chrono::steady_clock::now();
    const auto until = start + m_roomLeft;
    auto now = start;
    while (UiActivity::busy() && now < until) {
        std::this_thread::sleep_for(std::chrono::microseconds(250));
        now = std::chrono::steady_clock::now();
    }
    m_roomLeft -= now - start;
}

void StripCompressor::compress(int index, Strip &strip)
{
    strip.ok = false;
    try {
        const int first = index * m_job.rowsPerStrip;
        const int last = std::min(m_job.height, first + m_job.rowsPerStrip);
        const size_t rowBytes = m_job.rowBytes;
        const size_t size = (rowBytes + 1) * size_t(last - first);
        const uint8_t *prev = first == 0 ? m_rows.data() + 2 * m_slotBytes + kPad : loadRow(first - 1, 1);
        int slot = 0; // the previous row is in the other slot
        for (int y = first; y < last; ++y, slot ^= 1) {
            if ((y & 7) == 0)
                makeRoomForTheUi();
            const uint8_t *cur = loadRow(y, slot);
            uint8_t *row = m_filtered + size_t(y - first) * (rowBytes + 1);
            if (m_job.alpha)
                filterRow<4>(cur, prev, rowBytes, m_job.withPaeth, row);
            else
                filterRow<3>(cur, prev, rowBytes, m_job.withPaeth, row);
            prev = cur;
        }
        makeRoomForTheUi();
        size_t n = m_job.effort == PngEncoder::Effort::fast ? compressFast(size) : 0;
        if (n == 0)
            n = libdeflate_deflate_compress(m_compressor.get(), m_filtered, size, m_out, m_outCapacity);
        if (n == 0)
            return;
        if (m_job.oneStream) {
            strip.bytes = m_out;
            strip.size = n;
        } else {
            strip.deflated.assign(m_out, m_out + n);
            if (index + 1 < m_job.stripCount && !DeflateStream::makeNonFinal(strip.deflated))
                return;
            strip.bytes = strip.deflated.data();
            strip.size = strip.deflated.size();
        }
        strip.adler = libdeflate_adler32(1, m_filtered, size);
        strip.rawSize = size;
        strip.ok = true;
    } catch (const std::bad_alloc &) {
        // The strip stays marked as failed.
    }
}

void StripJob::help(const std::shared_ptr<StripJob> &job)
{
    if (job->nextStrip.load() >= job->stripCount)
        return; // the encoding thread has taken every strip
    const QImage image = job->pixels();
    if (image.isNull())
        return; // the encoding is over
    std::optional<StripCompressor> compressor;
    try {
        compressor.emplace(*job, image);
    } catch (const std::bad_alloc &) {
        return; // the others do the strips
    }
    if (!compressor->ready())
        return;
    compressor->setMakesRoomForTheUi(job->helpersAtWork++ >= EncodingThreads::helpersBesideTheUi());
    for (int index = job->nextStrip++; index < job->stripCount; index = job->nextStrip++) {
        compressor->compress(index, job->results[size_t(index)]);
        job->finish(1);
    }
}
} // namespace

QByteArray PngEncoder::encode(const QImage &input, qreal pixelsPerPoint, Effort effort, Threads threads)
{
    if (input.isNull())
        return QByteArray();

    const bool alpha = input.hasAlphaChannel();
    QImage image;
    if (alpha)
        image = input.convertToFormat(QImage::Format_RGBA8888);
    else if (input.format() == QImage::Format_RGB32)
        image = input;
    else
        image = input.convertToFormat(QImage::Format_RGB32);
    if (image.isNull())
        return QByteArray();

    const int width = image.width();
    const int height = image.height();
    const size_t rowBytes = size_t(width) * (alpha ? 4 : 3);
    const bool oneStream = threads == Threads::callingThreadOnly;
    const int rowsPerStrip = oneStream ? height : int(std::max<size_t>(1, kStripBytes / (rowBytes + 1)));
    const int stripCount = (height + rowsPerStrip - 1) / rowsPerStrip;

    auto job = std::make_shared<StripJob>();
    job->image = image;
    job->width = width;
    job->height = height;
    job->rowBytes = rowBytes;
    job->alpha = alpha;
    job->rowsPerStrip = rowsPerStrip;
    job->stripCount = stripCount;
    job->withPaeth = effort != Effort::fast;
    job->effort = effort;
    job->oneStream = oneStream;
    job->maxFiltered = (rowBytes + 1) * size_t(std::min(rowsPerStrip, height));
    job->results.resize(size_t(stripCount));

    std::optional<StripCompressor> mine;
    try {
        mine.emplace(*job, image);
    } catch (const std::bad_alloc &) {
        return QByteArray();
    }
    if (!mine->ready())
        return QByteArray();

    // The helpers and this thread each take strips until none are left; a
    // helper that starts late (its pool busy with another image) finds
    // nothing to do. The strips a helper has taken are waited for: the
    // helpers run at the same priority as this thread.
    const int helpers = std::min(stripCount - 1, EncodingThreads::helpers().maxThreadCount());
    for (int i = 0; i < helpers; ++i)
        EncodingThreads::helpers().start([job] { StripJob::help(job); });
    int ownStrips = 0;
    for (int index = job->nextStrip++; index < stripCount; index = job->nextStrip++) {
        mine->compress(index, job->results[size_t(index)]);
        ++ownStrips;
    }
    job->finish(ownStrips);
    job->waitForAll();
    // Late helpers need the pixels no more.
    job->letGoOfImage();
    const std::vector<Strip> &strips = job->results;
    uint32_t adler = 1;
    size_t deflatedSize = 0;
    for (const Strip &strip : strips) {
        if (!strip.ok)
            return QByteArray();
        adler = adler32Combine(adler, strip.adler, strip.rawSize);
        deflatedSize += strip.size;
    }

    // The zlib stream: header (deflate, 32 KiB window), the parts, Adler-32;
    // it goes straight into the IDAT chunks.
    static const uint8_t zlibHeader[2] = {0x78, 0x9c};
    uint8_t zlibTrailer[4];
    qToBigEndian(adler, zlibTrailer);
    std::vector<std::pair<const uint8_t *, size_t>> pieces;
    pieces.reserve(strips.size() + 2);
    pieces.emplace_back(zlibHeader, sizeof zlibHeader);
    for (const Strip &strip : strips)
        pieces.emplace_back(strip.bytes, strip.size);
    pieces.emplace_back(zlibTrailer, sizeof zlibTrailer);
    const size_t zlibSize = deflatedSize + sizeof zlibHeader + sizeof zlibTrailer;

    QByteArray png;
    png.append(kSignature, 8);

    uint8_t ihdr[13];
    qToBigEndian(uint32_t(width), ihdr);
    qToBigEndian(uint32_t(height), ihdr + 4);
    ihdr[8] = 8;             // bit depth
    ihdr[9] = alpha ? 6 : 2; // colour type: RGBA or RGB
    ihdr[10] = 0;            // deflate
    ihdr[11] = 0;            // adaptive filtering
    ihdr[12] = 0;            // not interlaced
    if (!PngChunk::append(png, "IHDR", ihdr, sizeof ihdr)
        || (pixelsPerPoint > 0 && !appendResolution(png, pixelsPerPoint))
        || !appendImageData(png, pieces, zlibSize, oneStream ? 0 : helpers)
        || !PngChunk::append(png, "IEND", nullptr, 0))
        return QByteArray();
    // The strips' bytes are in the file now; a helper that has yet to start
    // keeps the job, but not them.
    job->results = {};
    return png;
}

QSize PngEncoder::imageSize(const QByteArray &png)
{
    if (png.size() < kIhdrEnd || !png.startsWith(QByteArray::fromRawData(kSignature, 8))
        || png.mid(8, 8) != QByteArray("\0\0\0\x0dIHDR", 8))
        return QSize();
    const auto *ihdr = reinterpret_cast<const uchar *>(png.constData()) + 16;
    const quint32 width = qFromBigEndian<quint32>(ihdr);
    const quint32 height = qFromBigEndian<quint32>(ihdr + 4);
    if (width == 0 || height == 0 || width > INT_MAX || height > INT_MAX)
        return QSize();
    return QSize(int(width), int(height));
}

QByteArray PngEncoder::withPixelsPerPoint(const QByteArray &png, qreal pixelsPerPoint)
{
    if (!imageSize(png).isValid() || !(pixelsPerPoint > 0))
        return QByteArray();
    QByteArray out;
    out.reserve(png.size() + 21);
    out.append(png.constData(), kIhdrEnd);
    if (!appendResolution(out, pixelsPerPoint))
        return QByteArray();
    // The chunks up to the image data, but any resolution they had; the
    // rest as it is.
    qsizetype at = kIhdrEnd;
    while (at + 12 <= png.size()) {
        const quint32 length = qFromBigEndian<quint32>(png.constData() + at);
        const QByteArray type = png.mid(at + 4, 4);
        if (type == "IDAT")
            break;
        const qsizetype end = at + 12 + qsizetype(length);
        if (length > PngChunk::maxLength || end > png.size())
            return QByteArray();
        if (type != "pHYs")
            out.append(png.constData() + at, end - at);
        at = end;
    }
    if (at + 12 > png.size())
        return QByteArray();
    out.append(png.constData() + at, png.size() - at);
    return out;
}
