#pragma once

#include <algorithm>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

// Append-only storage for many short strings, a few large blocks instead of one allocation per
// string. The views it hands out stay valid until Clear.
class CStringArena {
public:
    std::string_view Store(std::string_view text) {
        if (text.size() > m_left) {
            const std::size_t size = std::max(kBlock, text.size());
            m_blocks.push_back(std::make_unique_for_overwrite<char[]>(size));
            m_next = m_blocks.back().get();
            m_left = size;
        }
        if (!text.empty())
            std::memcpy(m_next, text.data(), text.size());
        std::string_view stored(m_next, text.size());
        m_next += text.size();
        m_left -= text.size();
        return stored;
    }
    void Clear() {
        m_blocks.clear();
        m_next = nullptr;
        m_left = 0;
    }

private:
    static constexpr std::size_t kBlock = 64 * 1024;
    std::vector<std::unique_ptr<char[]>> m_blocks;
    char* m_next = nullptr;
    std::size_t m_left = 0;
};
