#include "System/Platform/LargeBlocks.h"

#include <sys/mman.h>

namespace System::Platform {

void* AllocateLargeBlock(std::size_t bytes)
{
    void* block = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (block == MAP_FAILED)
        return nullptr;
#ifdef MADV_HUGEPAGE
    // Only a hint: where transparent huge pages are off, the block keeps normal pages.
    (void)madvise(block, bytes, MADV_HUGEPAGE);
#endif
    return block;
}

void FreeLargeBlock(void* block, std::size_t bytes)
{
    if (block != nullptr)
        munmap(block, bytes);
}

} // namespace System::Platform
