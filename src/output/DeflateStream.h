#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Joins raw DEFLATE streams that were compressed separately (in parallel)
// into one stream: every part but the last loses its final-block flag and
// gets an empty stored block that ends it on a byte boundary, the same
// thing a "sync flush" produces. The parts' bytes then simply follow one
// another. A part may not refer back into the previous one, so each can be
// compressed on its own.
class DeflateStream
{
public:
    struct FinalBlock
    {
        size_t headerBit = 0; // bit offset of the final block's BFINAL bit
        size_t endBit = 0;    // bit offset just past its end-of-block code
    };

    // Walks a complete raw DEFLATE stream block by block (without writing
    // its output). Returns false when the data is not one complete, valid
    // stream that ends in its last byte.
    static bool findFinalBlock(const uint8_t *data, size_t size, FinalBlock *result);

    // Turns a complete raw stream into a non-final part that ends on a byte
    // boundary. Returns false (leaving the stream unchanged) when it is not
    // a complete, valid stream.
    static bool makeNonFinal(std::vector<uint8_t> &stream);
};
