#include "output/DeflateStream.h"

#include <array>

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
    void alignToByte() { skip(m_count & 7); }
    bool skipBytes(size_t n)
    {
        // Whole bytes still in the buffer first, then straight in the data.
        while (n > 0 && m_count >= 8) {
            skip(8);
            --n;
        }
        if (n > m_size - m_next)
            return false;
        m_next += n;
        return true;
    }
    size_t position() const { return m_next * 8 - size_t(m_count); }

private:
    void refill()
    {
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
    std::array<uint16_t, 1 << kFastBits> fast{}; // symbol << 4 | length; 0: not in the table

    // False for an over-subscribed set of lengths. An incomplete set is
    // allowed (a single distance code is legal).
    bool build(const uint8_t *lengths, int n)
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
                for (unsigned i = rev; i < (1u << kFastBits); i += 1u << len)
                    fast[i] = uint16_t(s << 4 | len);
            }
        }
        return true;
    }

    // Decodes one symbol. -1 on bad data or end of input.
    int decode(BitReader &in) const
    {
        const unsigned entry = fast[in.peek16() & ((1u << kFastBits) - 1)];
        if (entry != 0)
            return in.skip(int(entry & 15)) ? int(entry >> 4) : -1;
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

constexpr std::array<uint8_t, 29> kLengthExtra = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                                  2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr std::array<uint8_t, 30> kDistExtra = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                                6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

// Skips the symbols of one compressed block up to its end-of-block code.
bool skipCodes(BitReader &in, const Huffman &litlen, const Huffman &dist)
{
    for (;;) {
        const int sym = litlen.decode(in);
        if (sym < 0)
            return false;
        if (sym < 256)
            continue;
        if (sym == 256)
            return true;
        const int li = sym - 257;
        if (li >= int(kLengthExtra.size()))
            return false;
        unsigned extra;
        if (!in.read(kLengthExtra[size_t(li)], &extra))
            return false;
        const int d = dist.decode(in);
        if (d < 0 || d >= kMaxDist)
            return false;
        if (!in.read(kDistExtra[size_t(d)], &extra))
            return false;
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
        litlen.build(lengths.data(), kMaxLitLen);
        std::array<uint8_t, kMaxDist> d{};
        d.fill(5);
        dist.build(d.data(), kMaxDist);
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
    if (!litlen.build(lengths.data(), nlen) || !dist.build(lengths.data() + nlen, ndist))
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
