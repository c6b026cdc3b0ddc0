// The Windows half of the large blocks: committed memory of its own.
#include "platform/LargeBlocks.h"

#include <windows.h>

namespace platform::detail {

// Windows offers large pages only to a process holding the "lock pages in memory" right, and
// never transparently, so a block is plain committed memory on its own. It starts on a 64 KiB
// boundary (the system's allocation granularity); a 2 MiB start would buy nothing here. What
// still pays is the cache in front of it (Memory.cpp), which spares a reloaded file its page
// faults.
void* MapLargeBlock(std::size_t size) {
    return ::VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
}

void UnmapLargeBlock(void* block, std::size_t) noexcept {
    (void)::VirtualFree(block, 0, MEM_RELEASE);
}

} // namespace platform::detail
