#include "platform/Memory.h"

#include <sys/mman.h>

#include <cstdint>
#include <mutex>

namespace platform {

namespace {

constexpr std::size_t kPage = 4096;

std::size_t RoundUp(std::size_t bytes, std::size_t unit) {
    return (bytes + unit - 1) / unit * unit;
}

void* MapLarge(std::size_t size) {
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

// Blocks given back are kept a while for a request of the same size, as the ordinary
// allocator keeps its pages: a file loaded again (the same text, the same tables) then reuses
// pages that are already there instead of faulting in fresh ones. Bounded in count and bytes;
// the oldest goes back to the system first.
class CBlockCache {
public:
    void* Take(std::size_t size) {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (std::size_t i = m_count; i-- > 0;) {
            if (m_blocks[i].size != size)
                continue;
            void* block = m_blocks[i].block;
            RemoveAt(i);
            return block;
        }
        return nullptr;
    }

    void Give(void* block, std::size_t size) {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (size > kMaxBytes) {
            lock.unlock();
            ::munmap(block, size);
            return;
        }
        while (m_count == kMaxBlocks || m_bytes + size > kMaxBytes) {
            const Block oldest = m_blocks[0];
            RemoveAt(0);
            ::munmap(oldest.block, oldest.size);
        }
        m_blocks[m_count++] = Block{block, size};
        m_bytes += size;
    }

private:
    struct Block {
        void* block;
        std::size_t size;
    };
    // Drops entry i, keeping the others oldest first; under the lock.
    void RemoveAt(std::size_t i) {
        m_bytes -= m_blocks[i].size;
        for (std::size_t j = i + 1; j < m_count; ++j)
            m_blocks[j - 1] = m_blocks[j];
        --m_count;
    }
    static constexpr std::size_t kMaxBlocks = 16;
    static constexpr std::size_t kMaxBytes = std::size_t{64} << 20;
    std::mutex m_mutex;
    Block m_blocks[kMaxBlocks] = {};
    std::size_t m_count = 0;
    std::size_t m_bytes = 0;
};

CBlockCache& Cache() {
    static CBlockCache* cache = new CBlockCache; // never destroyed: blocks may go back at exit
    return *cache;
}

} // namespace

void* AllocateLarge(std::size_t bytes) {
    const std::size_t size = RoundUp(bytes, kPage);
    if (size < bytes || size + kLargeBlock < size)
        return nullptr;
    if (void* block = Cache().Take(size))
        return block;
    return MapLarge(size);
}

void FreeLarge(void* block, std::size_t bytes) noexcept {
    if (block != nullptr)
        Cache().Give(block, RoundUp(bytes, kPage));
}

} // namespace platform
