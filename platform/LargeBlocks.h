// The system's half of the large blocks of Memory.h: a fresh block of size bytes (a whole number
// of pages) and giving one back. Memory.cpp keeps a cache in front of them; posix/ and win32/
// each provide the pair.
#pragma once

#include <cstddef>

namespace platform::detail {

// nullptr when the system has no memory for it.
void* MapLargeBlock(std::size_t size);
void UnmapLargeBlock(void* block, std::size_t size) noexcept;

} // namespace platform::detail
