#pragma once

#include <QByteArray>

#include <cstddef>
#include <cstdint>

// One chunk of a PNG file: the length of its data, its type, the data and
// the checksum of type and data.
class PngChunk
{
public:
    // The most data one chunk may hold: its length field is a 31-bit number.
    static constexpr size_t maxLength = 0x7fffffff;

    // Appends a chunk of the four-letter type holding size bytes of data
    // (none when size is 0) to png, in place when png has room for it. False,
    // and png as it was, when size is over maxLength or png cannot take the
    // chunk (its largest size, or memory).
    static bool append(QByteArray &png, const char type[4], const uint8_t *data, size_t size);
    // Makes png bytes longer at its end. False, and png as it was, when a
    // byte array cannot be that long or there is no memory for it.
    static bool grow(QByteArray &png, size_t bytes);
};
