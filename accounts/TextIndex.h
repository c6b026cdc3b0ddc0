// Hash indexes over many short texts (account names, alias keys and targets, domains),
// compared exactly or without regard to letter case by the Windows-1252 rule of
// ansi::EqualNoCase. The look-up structures of the account store; not part of what the pages
// see.
#pragma once

#include "Common/Ansi.h"
#include "platform/Memory.h"

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <stdexcept>
#include <string_view>
#include <vector>

namespace accounts_detail {

// ansi::ToLower as a table: hashing folds every byte of every key, so the fold must be cheap.
inline constexpr std::array<unsigned char, 256> kLowerTable = [] {
    std::array<unsigned char, 256> table{};
    for (int c = 0; c < 256; ++c)
        table[static_cast<std::size_t>(c)] =
            static_cast<unsigned char>(ansi::ToLower(static_cast<char>(c)));
    return table;
}();

namespace detail {

inline std::uint64_t Load8(const char* p) {
    std::uint64_t word;
    std::memcpy(&word, p, 8);
    return word;
}

inline std::uint64_t LoadTail(const char* p, std::size_t n) {
    std::uint64_t word = 0;
    std::memcpy(&word, p, n);
    return word;
}

// The eight bytes of word folded as ansi::ToLower folds each. Plain ASCII (the common case:
// account names and domains) is folded all at once: a byte gets 0x20 added when it lies in
// 'A'..'Z'. Anything with a byte of 128 or above goes through the table.
inline std::uint64_t FoldWord(std::uint64_t word) {
    constexpr std::uint64_t kOnes = 0x0101010101010101ull;
    constexpr std::uint64_t kHigh = 0x8080808080808080ull;
    if ((word & kHigh) == 0) {
        const std::uint64_t atLeastA = word + kOnes * (0x80 - 'A');
        const std::uint64_t aboveZ = word + kOnes * (0x80 - 'Z' - 1);
        return word | ((atLeastA & ~aboveZ & kHigh) >> 2);
    }
    std::uint64_t folded = 0;
    for (int i = 0; i < 8; ++i)
        folded |= static_cast<std::uint64_t>(kLowerTable[(word >> (8 * i)) & 0xFF]) << (8 * i);
    return folded;
}

inline std::uint64_t Mix(std::uint64_t hash, std::uint64_t word) {
    hash = (hash ^ word) * 0x9E3779B97F4A7C15ull;
    return hash ^ (hash >> 32);
}

template <bool Fold> std::uint64_t HashWords(std::string_view text) {
    std::uint64_t hash = 0x243F6A8885A308D3ull ^ text.size();
    std::size_t i = 0;
    for (; i + 8 <= text.size(); i += 8) {
        const std::uint64_t word = Load8(text.data() + i);
        hash = Mix(hash, Fold ? FoldWord(word) : word);
    }
    if (i < text.size()) {
        const std::uint64_t word = LoadTail(text.data() + i, text.size() - i);
        hash = Mix(hash, Fold ? FoldWord(word) : word);
    }
    hash *= 0xFF51AFD7ED558CCDull;
    return hash ^ (hash >> 33);
}

} // namespace detail

// A hash of the folded text, eight bytes at a time: texts equal by ansi::EqualNoCase hash
// alike. (Zero bytes that pad the last word fold to themselves.)
inline std::uint64_t HashNoCase(std::string_view text) {
    return detail::HashWords<true>(text);
}

// ansi::EqualNoCase, quicker where the texts are equal byte for byte, as they mostly are.
inline bool EqualNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    if (a == b)
        return true;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (kLowerTable[static_cast<unsigned char>(a[i])] !=
            kLowerTable[static_cast<unsigned char>(b[i])])
            return false;
    return true;
}

// Exact hashing for containers of std::string searched with a string_view.
struct ExactHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view text) const noexcept {
        return std::hash<std::string_view>{}(text);
    }
};

// How an index compares its texts: without regard to case, or exactly.
struct NoCaseRule {
    static std::uint64_t Hash(std::string_view text) { return HashNoCase(text); }
    static bool Equal(std::string_view a, std::string_view b) { return EqualNoCase(a, b); }
};

struct ExactRule {
    static std::uint64_t Hash(std::string_view text) { return detail::HashWords<false>(text); }
    static bool Equal(std::string_view a, std::string_view b) { return a == b; }
};

// An index over texts that live elsewhere (the entries of a map, the names of a list): it
// stores only numbers, and asks textOf(number) for the text when two hashes agree. Building it
// over a few hundred thousand texts therefore copies no string. A slot is eight bytes (part of
// the hash and the number), so that the table of a large installation stays in the processor's
// cache: a look-up then costs one slot and one text. Each distinct text (by Rule) has one
// number, the one it was first added with.
template <class Rule> class CTextIndex {
public:
    static constexpr std::uint32_t kNone = 0xFFFFFFFFu;

    void Clear(std::size_t expected) {
        std::size_t size = 16;
        while (size * 3 < expected * 4 + 4)
            size *= 2;
        Reset(size);
    }

    // The number of text; when text is new it is added with number, and added is set.
    template <class TextOf>
    std::uint32_t FindOrAdd(std::string_view text, std::uint32_t number, TextOf textOf,
                            bool& added) {
        if ((m_used + 1) * 4 > m_slots.size() * 3)
            Grow();
        const std::uint32_t tag = Tag(text);
        for (std::size_t i = Start(tag);; i = (i + 1) & m_mask) {
            Slot& slot = m_slots[i];
            if (slot.number == kNone) {
                slot = Slot{tag, number};
                ++m_used;
                added = true;
                return number;
            }
            if (slot.tag == tag && Rule::Equal(textOf(slot.number), text)) {
                added = false;
                return slot.number;
            }
        }
    }

    // The number of text, or kNone.
    template <class TextOf> std::uint32_t Find(std::string_view text, TextOf textOf) const {
        return m_used == 0 ? kNone : Find(text, Tag(text), textOf);
    }

    // The same in two steps, for callers that look up many texts at once: Tag, then Prefetch
    // for each, then Find with the tag; the cache misses of the look-ups then overlap.
    static std::uint32_t Tag(std::string_view text) {
        return static_cast<std::uint32_t>(Rule::Hash(text) >> 32);
    }
    void Prefetch(std::uint32_t tag) const {
        if (!m_slots.empty())
            __builtin_prefetch(&m_slots[Start(tag)]);
    }
    template <class TextOf>
    std::uint32_t Find(std::string_view text, std::uint32_t tag, TextOf textOf) const {
        if (m_used == 0)
            return kNone;
        for (std::size_t i = Start(tag);; i = (i + 1) & m_mask) {
            const Slot& slot = m_slots[i];
            if (slot.number == kNone)
                return kNone;
            if (slot.tag == tag && Rule::Equal(textOf(slot.number), text))
                return slot.number;
        }
    }

    // The number of the first slot on text's way whose tag agrees, or kNone: for batched
    // look-ups, which fetch that number's text ahead and confirm with Find when it differs.
    std::uint32_t Candidate(std::uint32_t tag) const {
        if (m_used == 0)
            return kNone;
        for (std::size_t i = Start(tag);; i = (i + 1) & m_mask) {
            const Slot& slot = m_slots[i];
            if (slot.number == kNone || slot.tag == tag)
                return slot.number;
        }
    }

    std::size_t GetCount() const { return m_used; }

private:
    struct Slot {
        std::uint32_t tag = 0;
        std::uint32_t number = kNone; // kNone: the slot is empty
    };
    using Slots = std::vector<Slot, platform::LargeAllocator<Slot>>;

    // The place is taken from the tag alone (its product with a large odd constant, top
    // bits), so that growing needs no text.
    std::size_t Start(std::uint32_t tag) const {
        return static_cast<std::size_t>((tag * 0x9E3779B97F4A7C15ull) >> m_shift) & m_mask;
    }

    void Reset(std::size_t size) {
        m_slots.assign(size, Slot{});
        m_mask = size - 1;
        m_shift = 64 - static_cast<unsigned>(std::countr_zero(size));
        m_used = 0;
    }

    void Grow() {
        Slots old;
        old.swap(m_slots);
        const std::size_t used = m_used;
        Reset(old.empty() ? 16 : old.size() * 2);
        for (const Slot& slot : old) {
            if (slot.number == kNone)
                continue;
            std::size_t i = Start(slot.tag);
            while (m_slots[i].number != kNone)
                i = (i + 1) & m_mask;
            m_slots[i] = slot;
        }
        m_used = used;
    }

    Slots m_slots;
    std::size_t m_mask = 0;
    unsigned m_shift = 64;
    std::size_t m_used = 0;
};

using CNoCaseIndex = CTextIndex<NoCaseRule>;
using CExactIndex = CTextIndex<ExactRule>;

// Texts packed one after another into one buffer, each record headed by Words numbers of the
// owner's and the text's length, and numbered by the offset where it starts: an index that
// finds a number reaches the text, and what the owner keeps about it, in one step, and a
// hundred thousand texts cost one allocation.
template <std::size_t Words> class CPackedTexts {
public:
    void Clear() { m_buffer.clear(); }
    void Reserve(std::size_t bytes) { m_buffer.reserve(bytes); }
    bool IsEmpty() const { return m_buffer.empty(); }

    // Appends text with its numbers all 0; returns its offset.
    std::uint32_t Add(std::string_view text) {
        const std::size_t offset = m_buffer.size();
        const std::size_t size = (kHead + text.size() + 3) & ~std::size_t{3};
        if (offset + size > kNone)
            throw std::length_error("packed texts beyond 4 GB");
        m_buffer.resize(offset + size, '\0');
        const auto length = static_cast<std::uint32_t>(text.size());
        std::memcpy(m_buffer.data() + offset + 4 * Words, &length, 4);
        if (!text.empty())
            std::memcpy(m_buffer.data() + offset + kHead, text.data(), text.size());
        return static_cast<std::uint32_t>(offset);
    }

    std::string_view Text(std::uint32_t offset) const {
        std::uint32_t length;
        std::memcpy(&length, m_buffer.data() + offset + 4 * Words, 4);
        return std::string_view(m_buffer.data() + offset + kHead, length);
    }
    std::uint32_t Word(std::uint32_t offset, std::size_t i) const {
        std::uint32_t word;
        std::memcpy(&word, m_buffer.data() + offset + 4 * i, 4);
        return word;
    }
    void SetWord(std::uint32_t offset, std::size_t i, std::uint32_t word) {
        std::memcpy(m_buffer.data() + offset + 4 * i, &word, 4);
    }
    void Prefetch(std::uint32_t offset) const { __builtin_prefetch(m_buffer.data() + offset); }

    // Walking the records in the order they were added: First, then Next until End.
    std::uint32_t First() const { return 0; }
    std::uint32_t End() const { return static_cast<std::uint32_t>(m_buffer.size()); }
    std::uint32_t Next(std::uint32_t offset) const {
        return offset +
               static_cast<std::uint32_t>((kHead + Text(offset).size() + 3) & ~std::size_t{3});
    }

private:
    static constexpr std::size_t kHead = 4 * (Words + 1);
    static constexpr std::size_t kNone = 0xFFFFFFFFu;
    std::vector<char, platform::LargeAllocator<char>> m_buffer;
};

} // namespace accounts_detail
