#include "platform/HeapMemory.h"

#include "support/OwnMalloc.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#if defined(__GLIBC__)
#include <malloc.h>
#include <unistd.h>
#endif

TEST(HeapMemory, EveryCaptureSizedBlockComesFromTheSystemAndGoesBackToIt)
{
#if defined(__GLIBC__) && VORNA_OWN_MALLOC
    HeapMemory::giveLargeBlocksBack();
    // A capture of a 2880 x 1800 screen, then a file-sized block: each taken
    // and freed twice, as capture after capture does. By default the first
    // free raises the threshold, and the second block would stay in the
    // allocator's arena once freed.
    for (const size_t bytes : {size_t(2880) * 1800 * 4, size_t(2) << 20, HeapMemory::largeBlockBytes}) {
        for (int round = 0; round < 2; ++round) {
            const size_t mappedBefore = ::mallinfo2().hblkhd;
            void *block = std::malloc(bytes);
            ASSERT_NE(block, nullptr);
            std::memset(block, 1, bytes);
            asm volatile("" : : "r"(block) : "memory");
            EXPECT_GE(::mallinfo2().hblkhd, mappedBefore + bytes) << bytes << " bytes, round " << round;
            std::free(block);
        }
    }
#else
    GTEST_SKIP() << "not the GNU C library's allocator";
#endif
}

TEST(HeapMemory, ARepaintSizedBlockLetGoLeavesTheHeapItsSize)
{
#if defined(__GLIBC__) && VORNA_OWN_MALLOC
    HeapMemory::giveLargeBlocksBack();
    // A thumbnail card's face: taken from the end of the heap and let go,
    // as each repaint after a capture does. The heap must not shrink, or
    // the next repaint grows it again.
    constexpr size_t bytes = 600 * 1024;
    static_assert(bytes < HeapMemory::keptFreeBytes);
    for (int round = 0; round < 3; ++round) {
        void *block = std::malloc(bytes);
        ASSERT_NE(block, nullptr);
        std::memset(block, 1, bytes);
        asm volatile("" : : "r"(block) : "memory");
        const void *end = ::sbrk(0);
        std::free(block);
        EXPECT_EQ(::sbrk(0), end) << "round " << round;
    }
#else
    GTEST_SKIP() << "not the GNU C library's allocator";
#endif
}
