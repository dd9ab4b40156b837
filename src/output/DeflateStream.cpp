#include "output/DeflateStream.h"

#include <array>
#include <cstring>

// The walk follows RFC 1951: block headers, stored blocks, and the fixed or
// dynamic Huffman codes, decoding one symbol at a time. Lengths and
// distances are skipped over rather than applied, so the cost grows with
// the number of symbols, not with the size of the output.

namespace {

constexpr int kMaxBits = 15;
constexpr int kMaxLitLen = 288;
constexpr int kMaxDist = 30;

class BitReader
{
public:
    BitReader(const uint8_t *data, size_t size) : m_data(data), m_size(size) {}

    // The next 16 bits, least significant first, zeros past the end.
    unsigned peek16()
    {
        if (m_count < 16)
            refill();
        return unsigned(m_buffer & 0xffffu);
    }
    bool skip(int n)
    {
        if (m_count < n) {
            refill();
            if (m_count < n)
                return false;
        }
        m_buffer >>= n;
        m_count -= n;
        return true;
    }
    // Reads n (0..16) bits, least significant first; false past the end.
    bool read(int n, unsigned *value)
    {
        const unsigned v = peek16() & ((1u << n) - 1);
        if (!skip(n))
            return false;
        *value = v;
        return true;
    }
    bool bit(unsigned *value) { return read(1, value); }
    // Tops the buffer up when it runs low; then up to 48 bits can be
    // looked at (zeros past the end of the data).
    void ensure()
    {
        if (m_count < 48)
            refill();
    }
    uint64_t peek64() const { return m_buffer; }
    int count() const { return m_count; }
    // Drops n bits the caller has checked are there.
    void drop(int n)
    {
        m_buffer >>= n;
        m_count -= n;
    }
    void alignToByte() { skip(m_count & 7); }
    bool skipBytes(size_t n)
    {
        // Whole bytes still in the buffer first, then straight in the data.
        while (n > 0 && m_count >= 8) {
            skip(8);
            --n;
        }
        if (n == 0)
            return true;
        if (n > m_size - m_next)
            return false;
        // The buffer is empty now, but may hold bytes loaded ahead of
        // their turn: drop them, they are being skipped.
        m_buffer = 0;
        m_count = 0;
        m_next += n;
        return true;
    }
    size_t position() const { return m_next * 8 - size_t(m_count); }

private:
    void refill()
    {
        if (m_size - m_next >= 8) {
            // Eight bytes at once; only the whole bytes that fit are counted.
            uint64_t word;
            std::memcpy(&word, m_data + m_next, 8);
            m_buffer |= word << m_count;
            m_next += size_t(63 - m_count) >> 3;
            m_count |= 56;
            return;
        }
        while (m_count <= 56 && m_next < m_size) {
            m_buffer |= uint64_t(m_data[m_next++]) << m_count;
            m_count += 8;
        }
    }

    const uint8_t *m_data;
    size_t m_size;
    size_t m_next = 0;    // the next byte to load into the buffer
    uint64_t m_buffer = 0; // bits not yet read, the next one lowest
    int m_count = 0;      // how many bits the buffer holds
};

constexpr int kFastBits = 10;

// A canonical Huffman code: how many codes of each length, the symbols
// ordered by code, and a table that decodes codes of up to kFastBits bits
// in one look-up.
struct Huffman
{
    std::array<uint16_t, kMaxBits + 1> count{};
    std::array<uint16_t, kMaxLitLen> symbol{};
    // symbol << 8 | extra bits << 4 | code length; 0: not in the table.
    // The extra bits are those that follow the code (lengths, distances).
    std::array<uint32_t, 1 << kFastBits> fast{};

    // False for an over-subscribed set of lengths. An incomplete set is
    // allowed (a single distance code is legal). Symbol s >= extraFrom is
    // followed by extra[s - extraFrom] bits (for s - extraFrom < extraCount).
    bool build(const uint8_t *lengths, int n, const uint8_t *extra = nullptr, int extraFrom = 0, int extraCount = 0)
    {
        count.fill(0);
        fast.fill(0);
        for (int s = 0; s < n; ++s)
            ++count[lengths[s]];
        if (count[0] == n)
            return true; // no codes at all: decoding will fail if used
        int left = 1;
        for (int len = 1; len <= kMaxBits; ++len) {
            left <<= 1;
            left -= count[len];
            if (left < 0)
                return false;
        }
        std::array<uint16_t, kMaxBits + 1> offs{};
        std::array<unsigned, kMaxBits + 2> next{};
        unsigned code = 0;
        for (int len = 1; len <= kMaxBits; ++len) {
            if (len < kMaxBits)
                offs[len + 1] = uint16_t(offs[len] + count[len]);
            code = (code + (len > 1 ? count[len - 1] : 0)) << 1;
            next[len] = code;
        }
        for (int s = 0; s < n; ++s) {
            const int len = lengths[s];
            if (len == 0)
                continue;
            symbol[offs[len]++] = uint16_t(s);
            const unsigned c = next[len]++;
            if (len <= kFastBits) {
                // Codes arrive most significant bit first; the table is
                // indexed by the bits in the order they are read.
                unsigned rev = 0;
                for (int i = 0; i < len; ++i)
                    rev |= ((c >> i) & 1u) << (len - 1 - i);
                const int e = s - extraFrom;
                const unsigned extraBits = (extra && e >= 0 && e < extraCount) ? extra[e] : 0;
                for (unsigned i = rev; i < (1u << kFastBits); i += 1u << len)
                    fast[i] = uint32_t(s) << 8 | extraBits << 4 | unsigned(len);
            }
        }
        return true;
    }

    // Decodes one symbol. -1 on bad data or end of input.
    int decode(BitReader &in) const
    {
        const unsigned entry = fast[in.peek16() & ((1u << kFastBits) - 1)];
        if (entry != 0)
            return in.skip(int(entry & 15)) ? int(entry >> 8) : -1;
        // A longer code: read it one bit at a time.
        int code = 0, first = 0, index = 0;
        for (int len = 1; len <= kMaxBits; ++len) {
            unsigned b;
            if (!in.bit(&b))
                return -1;
            code |= int(b);
            const int n = count[len];
            if (code - n < first)
                return symbol[size_t(index + (code - first))];
            index += n;
            first += n;
            first <<= 1;
            code <<= 1;
        }
        return -1;
    }
};

constexpr int kLastLength = 285; // the last valid length symbol
constexpr std::array<uint8_t, 29> kLengthExtra = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                                  2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr std::array<uint8_t, 30> kDistExtra = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                                6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

// Skips one symbol (and a length's distance) the slow and careful way.
// 1: a literal or a match skipped, 0: the end of the block, -1: bad data.
int skipOne(BitReader &in, const Huffman &litlen, const Huffman &dist)
{
    const int sym = litlen.decode(in);
    if (sym < 0)
        return -1;
    if (sym < 256)
        return 1;
    if (sym == 256)
        return 0;
    unsigned extra;
    if (sym > kLastLength || !in.read(kLengthExtra[size_t(sym - 257)], &extra))
        return -1;
    const int d = dist.decode(in);
    if (d < 0 || d >= kMaxDist || !in.read(kDistExtra[size_t(d)], &extra))
        return -1;
    return 1;
}

// Skips the symbols of one compressed block up to its end-of-block code.
// The common case, a literal or a length and its distance whose codes are
// in the tables, is skipped in one step with their extra bits and without
// branching on which of the two it is (that would be guessed wrong half of
// the time); anything else goes through skipOne.
bool skipCodes(BitReader &in, const Huffman &litlen, const Huffman &dist)
{
    constexpr uint64_t mask = (1u << kFastBits) - 1;
    for (;;) {
        in.ensure();
        const uint64_t bits = in.peek64();
        const unsigned e = litlen.fast[bits & mask];
        const unsigned sym = e >> 8;
        const unsigned n1 = (e & 15) + ((e >> 4) & 15);
        const unsigned d = dist.fast[(bits >> n1) & mask];
        const bool match = sym > 256;
        const unsigned n2 = match ? (d & 15) + ((d >> 4) & 15) : 0;
        const bool usual = e != 0 && sym != 256 && (!match || (sym <= unsigned(kLastLength) && d != 0 && (d >> 8) < unsigned(kMaxDist)))
                           && int(n1 + n2) <= in.count();
        if (usual) {
            in.drop(int(n1 + n2));
            continue;
        }
        const int r = skipOne(in, litlen, dist);
        if (r <= 0)
            return r == 0;
    }
}

bool skipFixed(BitReader &in)
{
    static const std::pair<Huffman, Huffman> codes = [] {
        std::array<uint8_t, kMaxLitLen> lengths{};
        int s = 0;
        for (; s < 144; ++s) lengths[size_t(s)] = 8;
        for (; s < 256; ++s) lengths[size_t(s)] = 9;
        for (; s < 280; ++s) lengths[size_t(s)] = 7;
        for (; s < kMaxLitLen; ++s) lengths[size_t(s)] = 8;
        Huffman litlen, dist;
        litlen.build(lengths.data(), kMaxLitLen, kLengthExtra.data(), 257, int(kLengthExtra.size()));
        std::array<uint8_t, kMaxDist> d{};
        d.fill(5);
        dist.build(d.data(), kMaxDist, kDistExtra.data(), 0, int(kDistExtra.size()));
        return std::make_pair(litlen, dist);
    }();
    return skipCodes(in, codes.first, codes.second);
}

bool skipDynamic(BitReader &in)
{
    static constexpr std::array<uint8_t, 19> order = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5,
                                                      11, 4,  12, 3, 13, 2, 14, 1, 15};
    unsigned hlit, hdist, hclen;
    if (!in.read(5, &hlit) || !in.read(5, &hdist) || !in.read(4, &hclen))
        return false;
    const int nlen = int(hlit) + 257;
    const int ndist = int(hdist) + 1;
    const int ncode = int(hclen) + 4;
    if (nlen > 286 || ndist > kMaxDist)
        return false;

    std::array<uint8_t, 19> codeLengths{};
    for (int i = 0; i < ncode; ++i) {
        unsigned v;
        if (!in.read(3, &v))
            return false;
        codeLengths[order[size_t(i)]] = uint8_t(v);
    }
    Huffman lencode;
    if (!lencode.build(codeLengths.data(), 19))
        return false;

    std::array<uint8_t, kMaxLitLen + kMaxDist> lengths{};
    int index = 0;
    while (index < nlen + ndist) {
        const int sym = lencode.decode(in);
        if (sym < 0)
            return false;
        if (sym < 16) {
            lengths[size_t(index++)] = uint8_t(sym);
            continue;
        }
        uint8_t value = 0;
        unsigned repeat;
        if (sym == 16) {
            if (index == 0)
                return false;
            value = lengths[size_t(index - 1)];
            if (!in.read(2, &repeat))
                return false;
            repeat += 3;
        } else if (sym == 17) {
            if (!in.read(3, &repeat))
                return false;
            repeat += 3;
        } else {
            if (!in.read(7, &repeat))
                return false;
            repeat += 11;
        }
        if (index + int(repeat) > nlen + ndist)
            return false;
        while (repeat--)
            lengths[size_t(index++)] = value;
    }
    if (lengths[256] == 0)
        return false; // no end-of-block code

    Huffman litlen, dist;
    if (!litlen.build(lengths.data(), nlen, kLengthExtra.data(), 257, int(kLengthExtra.size()))
        || !dist.build(lengths.data() + nlen, ndist, kDistExtra.data(), 0, int(kDistExtra.size())))
        return false;
    return skipCodes(in, litlen, dist);
}

} // namespace

bool DeflateStream::findFinalBlock(const uint8_t *data, size_t size, FinalBlock *result)
{
    BitReader in(data, size);
    for (;;) {
        const size_t header = in.position();
        unsigned final, type;
        if (!in.bit(&final) || !in.read(2, &type))
            return false;
        bool ok = false;
        if (type == 0) {
            in.alignToByte();
            unsigned len, nlen;
            ok = in.read(16, &len) && in.read(16, &nlen) && (len ^ 0xffffu) == nlen && in.skipBytes(len);
        } else if (type == 1) {
            ok = skipFixed(in);
        } else if (type == 2) {
            ok = skipDynamic(in);
        }
        if (!ok)
            return false;
        if (final) {
            // The stream must end within its last byte.
            if ((in.position() + 7) / 8 != size)
                return false;
            result->headerBit = header;
            result->endBit = in.position();
            return true;
        }
    }
}

bool DeflateStream::makeNonFinal(std::vector<uint8_t> &stream)
{
    FinalBlock fb;
    if (!findFinalBlock(stream.data(), stream.size(), &fb))
        return false;
    stream[fb.headerBit >> 3] &= uint8_t(~(1u << (fb.headerBit & 7)));
    // An empty stored block: header bits 0 (not final) and 00 (stored),
    // padding to the byte boundary, then LEN 0 and NLEN 0xffff.
    const size_t headerEnd = fb.endBit + 3;
    stream.resize((headerEnd + 7) / 8, 0);
    for (size_t b = fb.endBit; b < stream.size() * 8; ++b)
        stream[b >> 3] &= uint8_t(~(1u << (b & 7)));
    stream.insert(stream.end(), {0x00, 0x00, 0xff, 0xff});
    return true;
}
