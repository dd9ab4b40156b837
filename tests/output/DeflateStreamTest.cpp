// Separately compressed pieces joined into one stream decompress to the
// pieces in order, whatever kind of blocks the compressor chose.

#include "output/DeflateStream.h"

#include <QRandomGenerator>

#include <gtest/gtest.h>

#include <libdeflate.h>

namespace {

std::vector<uint8_t> deflate(const std::vector<uint8_t> &data, int level)
{
    libdeflate_compressor *c = libdeflate_alloc_compressor(level);
    std::vector<uint8_t> out(libdeflate_deflate_compress_bound(c, data.size()));
    out.resize(libdeflate_deflate_compress(c, data.data(), data.size(), out.data(), out.size()));
    libdeflate_free_compressor(c);
    return out;
}

std::vector<uint8_t> inflate(const std::vector<uint8_t> &stream, size_t expected, bool *ok)
{
    std::vector<uint8_t> out(expected + 16);
    size_t actual = 0;
    libdeflate_decompressor *d = libdeflate_alloc_decompressor();
    *ok = libdeflate_deflate_decompress(d, stream.data(), stream.size(), out.data(), out.size(), &actual)
          == LIBDEFLATE_SUCCESS;
    libdeflate_free_decompressor(d);
    out.resize(actual);
    return out;
}

// Pieces that lead the compressor to stored, fixed and dynamic blocks.
std::vector<std::vector<uint8_t>> pieces()
{
    QRandomGenerator rng(42);
    std::vector<std::vector<uint8_t>> result;
    std::vector<uint8_t> noise(70000);
    for (auto &b : noise)
        b = uint8_t(rng.generate());
    result.push_back(noise);
    const std::string text = "short text";
    result.emplace_back(text.begin(), text.end());
    std::vector<uint8_t> pattern(300000);
    for (size_t i = 0; i < pattern.size(); ++i)
        pattern[i] = uint8_t((i % 7 == 0) ? rng.bounded(4) : (i / 1000) % 3);
    result.push_back(pattern);
    result.push_back(std::vector<uint8_t>(1, 0x5a));
    std::vector<uint8_t> mixed(200000);
    for (size_t i = 0; i < mixed.size(); ++i)
        mixed[i] = i % 50000 < 25000 ? uint8_t(rng.generate()) : uint8_t(i % 251);
    result.push_back(mixed);
    return result;
}

} // namespace

TEST(DeflateStream, JoinedPartsInflateToThePiecesInOrder)
{
    const auto parts = pieces();
    for (int level : {0, 1, 6, 12}) {
        SCOPED_TRACE(level);
        std::vector<uint8_t> joined, expected;
        for (size_t i = 0; i < parts.size(); ++i) {
            std::vector<uint8_t> stream = deflate(parts[i], level);
            if (i + 1 < parts.size()) {
                ASSERT_TRUE(DeflateStream::makeNonFinal(stream)) << i;
            }
            joined.insert(joined.end(), stream.begin(), stream.end());
            expected.insert(expected.end(), parts[i].begin(), parts[i].end());
        }
        bool ok = false;
        EXPECT_EQ(inflate(joined, expected.size(), &ok), expected);
        EXPECT_TRUE(ok);
    }
}

TEST(DeflateStream, RefusesDataThatIsNotOneCompleteStream)
{
    const std::vector<uint8_t> stream = deflate(pieces()[2], 6);
    // Cut short, trailing bytes after the end, garbage, nothing.
    std::vector<uint8_t> truncated(stream.begin(), stream.begin() + stream.size() / 2);
    std::vector<uint8_t> trailing = stream;
    trailing.push_back(0);
    std::vector<uint8_t> garbage = {0xff, 0xff, 0xff, 0xff, 0xff};
    std::vector<uint8_t> empty;
    for (std::vector<uint8_t> *bad : {&truncated, &trailing, &garbage, &empty}) {
        const std::vector<uint8_t> before = *bad;
        EXPECT_FALSE(DeflateStream::makeNonFinal(*bad));
        EXPECT_EQ(*bad, before);
    }
}
