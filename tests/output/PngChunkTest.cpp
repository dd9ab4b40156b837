// Chunks past the first 2 GiB of a file: the byte array is reserved but
// never touched, so it takes address space, not memory.

#include "output/PngChunk.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

TEST(PngChunk, AChunkPastTwoGibibytesIsWholeAndAnOverlongOneIsRefused)
{
    const qsizetype before = (qsizetype(1) << 31) + 100;
    QByteArray png;
    png.reserve(before + 64);
    png.resize(before);
    ASSERT_EQ(png.size(), before);

    // The end chunk: length 0, its type and the checksum every PNG file
    // ends with.
    ASSERT_TRUE(PngChunk::append(png, "IEND", nullptr, 0));
    ASSERT_EQ(png.size(), before + 12);
    EXPECT_EQ(png.right(12), QByteArray("\0\0\0\0IEND\xae\x42\x60\x82", 12));

    // A chunk with data, its checksum over type and data.
    const uint8_t phys[9] = {0, 0, 0x16, 0x25, 0, 0, 0x16, 0x25, 1};
    ASSERT_TRUE(PngChunk::append(png, "pHYs", phys, sizeof phys));
    ASSERT_EQ(png.size(), before + 12 + 21);
    EXPECT_EQ(png.right(21), QByteArray("\0\0\0\x09pHYs\0\0\x16\x25\0\0\x16\x25\x01\x49\x52\x24\xf0", 21));

    // Data longer than a chunk's length field can say is refused, and
    // nothing is written.
    std::unique_ptr<uint8_t[]> overlong(new uint8_t[PngChunk::maxLength + 1]);
    EXPECT_FALSE(PngChunk::append(png, "IDAT", overlong.get(), PngChunk::maxLength + 1));
    EXPECT_EQ(png.size(), before + 12 + 21);
}

} // namespace
