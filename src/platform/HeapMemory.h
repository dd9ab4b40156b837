#pragma once

#include <cstddef>

// How the C library's allocator treats large blocks. By default it hands
// blocks above a threshold straight from and back to the system, but
// raises that threshold to the size of each such block freed, up to 32 MB:
// from then on captures, their copies and their encoded files live in its
// arenas, and a freed one stays there, resident, for the next block that
// fits. Every thread has an arena of its own, so a session of captures ends
// up holding hundreds of megabytes nobody uses.
class HeapMemory
{
public:
    // Blocks of this size and more are never kept by the allocator:
    // captures, the pictures made of them and encoded files. The smaller
    // ones an encoding or a repaint takes again and again (strips, small
    // pictures) are still reused from the arenas.
    static constexpr size_t largeBlockBytes = size_t(1) << 20;

    // Free memory an arena keeps at its end rather than giving it back.
    // With the default of 128 kB, a repaint that takes a picture of a few
    // hundred kilobytes and lets it go grows the heap and shrinks it again
    // each time; growing it waits for the process's memory map, which an
    // encoding on other threads holds often. No larger than largeBlockBytes,
    // so nothing near a capture's size stays.
    static constexpr size_t keptFreeBytes = size_t(1) << 20;

    // Keeps the threshold at largeBlockBytes, and the free memory an arena
    // keeps at keptFreeBytes, for the rest of the run. Called once at launch; it costs a system call for each large block, which
    // the pages' first touch costs many times over anyway.
    static void giveLargeBlocksBack();
};
