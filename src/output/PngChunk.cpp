#include "output/PngChunk.h"

#include <QtEndian>

#include <libdeflate.h>

#include <cstring>
#include <limits>
#include <new>

bool PngChunk::append(QByteArray &png, const char type[4], const uint8_t *data, size_t size)
{
    if (size > maxLength)
        return false;
    const qsizetype at = png.size();
    if (!grow(png, 4 + 4 + size + 4)) // length, type, data, checksum
        return false;
    auto *chunk = reinterpret_cast<uint8_t *>(png.data()) + at;
    qToBigEndian(uint32_t(size), chunk);
    std::memcpy(chunk + 4, type, 4);
    if (size)
        std::memcpy(chunk + 8, data, size);
    qToBigEndian(uint32_t(libdeflate_crc32(0, chunk + 4, size + 4)), chunk + 8 + size);
    return true;
}

bool PngChunk::grow(QByteArray &png, size_t bytes)
{
    const qsizetype at = png.size();
    if (bytes > size_t(std::numeric_limits<qsizetype>::max() - at))
        return false;
    const qsizetype total = at + qsizetype(bytes);
    try {
        png.resize(total);
    } catch (const std::bad_alloc &) {
        return false;
    }
    if (png.size() != total) {
        png.resize(at);
        return false;
    }
    return true;
}
