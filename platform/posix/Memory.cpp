// The POSIX half of the large blocks: mappings of their own, offered to transparent huge pages.
#include "platform/Memory.h"
#include "platform/LargeBlocks.h"

#include <sys/mman.h>

#include <cstdint>

namespace platform::detail {

namespace {

std::uintptr_t RoundUp(std::uintptr_t address, std::size_t unit) {
    return (address + unit - 1) / unit * unit;
}

} // namespace

void* MapLargeBlock(std::size_t size) {
    // Mapped with room to spare, then trimmed to a start on a huge page's boundary, so that
    // every whole 2 MiB of the block can be one huge page. The tail after the last whole one is
    // kept in small pages rather than rounded up: nothing is touched that is not asked for.
    void* mapped = ::mmap(nullptr, size + kLargeBlock, PROT_READ | PROT_WRITE,
                          MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED)
        return nullptr;
    const auto start = reinterpret_cast<std::uintptr_t>(mapped);
    const std::uintptr_t aligned = RoundUp(start, kLargeBlock);
    if (aligned > start)
        ::munmap(mapped, aligned - start);
    const std::uintptr_t end = start + size + kLargeBlock;
    if (end > aligned + size)
        ::munmap(reinterpret_cast<void*>(aligned + size), end - (aligned + size));
    // Only advice: where the system keeps no huge pages the block works as well, just slower.
    (void)::madvise(reinterpret_cast<void*>(aligned), size, MADV_HUGEPAGE);
    return reinterpret_cast<void*>(aligned);
}

void UnmapLargeBlock(void* block, std::size_t size) noexcept {
    ::munmap(block, size);
}

} // namespace platform::detail
