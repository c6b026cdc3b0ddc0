// Memory for the few large arrays of a big installation: the bytes of a file of 200,000 aliases,
// the entries and hash slots of the maps built from it, the names of 100,000 accounts. Fresh
// memory costs a page fault per 4 KiB page on first touch, and on virtual machines a fault is
// dear (several microseconds), so a start that touches 30 MB of new memory would spend much of
// its time in the kernel. A large block is therefore mapped on its own and offered to the
// system's transparent huge pages (2 MiB), which turn 512 faults into one. On the benchmarks'
// installation this alone took the start from about 280 ms to 210 ms. Small blocks stay with
// the ordinary allocator.
#pragma once

#include <cstddef>
#include <limits>
#include <memory>
#include <new>
#include <string>

namespace platform {

// From this size on a block is mapped on its own; below it a huge page could not be used.
inline constexpr std::size_t kLargeBlock = std::size_t{2} << 20;

// A block of at least bytes, aligned for huge pages, with the system advised to back it by
// them (on Linux; Windows has no transparent huge pages and gives plain committed pages); nullptr
// when the system has no memory for it. Not zeroed by contract (fresh mappings happen to be).
void* AllocateLarge(std::size_t bytes);
// Gives back a block of AllocateLarge with the size it was asked for. A few blocks given back
// (up to 16, 64 MiB in all) are kept for the next request of their size, as the ordinary
// allocator keeps its pages, so that a file loaded again finds its pages instead of faulting
// in fresh memory.
void FreeLarge(void* block, std::size_t bytes) noexcept;

// An allocator for containers that may grow large: blocks of kLargeBlock and more come from
// AllocateLarge, smaller ones from the ordinary allocator. Stateless, so containers using it
// swap and move like those with std::allocator.
template <class T> class LargeAllocator {
public:
    using value_type = T;

    LargeAllocator() noexcept = default;
    template <class U> LargeAllocator(const LargeAllocator<U>&) noexcept {}

    T* allocate(std::size_t n) {
        if (n > std::numeric_limits<std::size_t>::max() / sizeof(T))
            throw std::bad_array_new_length();
        if (n * sizeof(T) < kLargeBlock)
            return std::allocator<T>().allocate(n);
        void* block = AllocateLarge(n * sizeof(T));
        if (block == nullptr)
            throw std::bad_alloc();
        return static_cast<T*>(block);
    }
    void deallocate(T* p, std::size_t n) noexcept {
        if (n * sizeof(T) < kLargeBlock)
            std::allocator<T>().deallocate(p, n);
        else
            FreeLarge(p, n * sizeof(T));
    }

    template <class U> bool operator==(const LargeAllocator<U>&) const noexcept { return true; }
};

// The bytes of a whole file, as read for a load.
using LargeString = std::basic_string<char, std::char_traits<char>, LargeAllocator<char>>;

} // namespace platform
