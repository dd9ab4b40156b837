#include "platform/HeapMemory.h"

#if defined(__GLIBC__)
#include <malloc.h>
#endif

void HeapMemory::giveLargeBlocksBack()
{
#if defined(__GLIBC__)
    // Setting the threshold also ends its raising.
    ::mallopt(M_MMAP_THRESHOLD, int(largeBlockBytes));
    ::mallopt(M_TRIM_THRESHOLD, int(keptFreeBytes));
#endif
}
