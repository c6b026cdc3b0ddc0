// Letter case of the suite's 8-bit text (Windows-1252). Account names, addresses and domains
// compare without regard to case the way the services compare them: A-Z and the accented
// capitals of the code page fold to their small letters; every other byte stays.
#pragma once

#include <string>
#include <string_view>

namespace ansi {

constexpr char ToLower(char c) {
    const unsigned char u = static_cast<unsigned char>(c);
    if ((u >= 'A' && u <= 'Z') || (u >= 0xC0 && u <= 0xDE && u != 0xD7))
        return static_cast<char>(u + 0x20);
    switch (u) {
    case 0x8A: // S caron
    case 0x8C: // OE ligature
    case 0x8E: // Z caron
        return static_cast<char>(u + 0x10);
    case 0x9F: // Y diaeresis
        return static_cast<char>(0xFF);
    default:
        return c;
    }
}

inline std::string ToLower(std::string_view text) {
    std::string lower(text);
    for (char& c : lower)
        c = ToLower(c);
    return lower;
}

inline bool EqualNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (ToLower(a[i]) != ToLower(b[i]))
            return false;
    return true;
}

// Whether text begins with prefix, letter case aside (a drop-down list's prefix search).
inline bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && EqualNoCase(text.substr(0, prefix.size()), prefix);
}

// Windows-1252 text as UTF-8. The five bytes the code page leaves undefined (0x81, 0x8D, 0x8F,
// 0x90, 0x9D) become the control characters of the same number, so every byte survives the
// way there and back.
std::string ToUtf8(std::string_view ansiText);
// Decodes the UTF-8 sequence at text[i] and advances i past it: the code point, or -1 for an
// invalid sequence (overlong forms, surrogates and anything above U+10FFFF are invalid).
long NextCodePoint(std::string_view text, std::size_t& i);
bool IsValidUtf8(std::string_view text);
// UTF-8 text in Windows-1252; a character the code page lacks, or a byte that is not valid
// UTF-8, becomes "?". representable, when given, tells whether that never happened.
std::string FromUtf8(std::string_view utf8Text, bool* representable = nullptr);

} // namespace ansi
