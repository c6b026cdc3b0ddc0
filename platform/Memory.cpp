// The large blocks of Memory.h: a small cache in front of the system's own mapping, which the
// POSIX and the Windows half provide (LargeBlocks.h).
#include "platform/Memory.h"
#include "platform/LargeBlocks.h"

#include <cstdint>
#include <mutex>

namespace platform {

namespace {

constexpr std::size_t kPage = 4096;

std::size_t RoundUp(std::size_t bytes, std::size_t unit) {
    return (bytes + unit - 1) / unit * unit;
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
            detail::UnmapLargeBlock(block, size);
            return;
        }
        while (m_count == kMaxBlocks || m_bytes + size > kMaxBytes) {
            const Block oldest = m_blocks[0];
            RemoveAt(0);
            detail::UnmapLargeBlock(oldest.block, oldest.size);
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
    return detail::MapLargeBlock(size);
}

void FreeLarge(void* block, std::size_t bytes) noexcept {
    if (block != nullptr)
        Cache().Give(block, RoundUp(bytes, kPage));
}

} // namespace platform
