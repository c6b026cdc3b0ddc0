#include "Common/Ansi.h"

#include <cstdint>

namespace ansi {
namespace {

// Unicode of the bytes 0x80 to 0x9F; the undefined ones map to themselves.
constexpr std::uint16_t kHigh[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

void AppendUtf8(std::string& out, std::uint32_t code) {
    if (code < 0x80) {
        out.push_back(static_cast<char>(code));
    } else if (code < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (code >> 6)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xE0 | (code >> 12)));
        out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
}

// The byte for a code point, or -1 when the code page has none.
int ByteOf(std::uint32_t code) {
    if (code < 0x80 || (code >= 0xA0 && code <= 0xFF))
        return static_cast<int>(code);
    for (int i = 0; i < 32; ++i)
        if (kHigh[i] == code)
            return 0x80 + i;
    return -1;
}

} // namespace

long NextCodePoint(std::string_view text, std::size_t& i) {
    const unsigned char lead = static_cast<unsigned char>(text[i++]);
    if (lead < 0x80)
        return lead;
    int extra = lead >= 0xF0 && lead < 0xF5 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC2 ? 1 : -1;
    if (extra < 0 || lead >= 0xF5)
        return -1;
    long code = lead & (0x3F >> extra);
    for (int k = 0; k < extra; ++k) {
        if (i >= text.size() || (static_cast<unsigned char>(text[i]) & 0xC0) != 0x80)
            return -1;
        code = (code << 6) | (static_cast<unsigned char>(text[i++]) & 0x3F);
    }
    const long minimum[] = {0, 0x80, 0x800, 0x10000};
    if (code < minimum[extra] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        return -1;
    return code;
}

bool IsValidUtf8(std::string_view text) {
    for (std::size_t i = 0; i < text.size();)
        if (NextCodePoint(text, i) < 0)
            return false;
    return true;
}

std::string ToUtf8(std::string_view ansiText) {
    std::string out;
    out.reserve(ansiText.size() + ansiText.size() / 8);
    for (char c : ansiText) {
        const unsigned char u = static_cast<unsigned char>(c);
        AppendUtf8(out, u >= 0x80 && u < 0xA0 ? kHigh[u - 0x80] : u);
    }
    return out;
}

std::string FromUtf8(std::string_view utf8Text, bool* representable) {
    std::string out;
    out.reserve(utf8Text.size());
    bool all = true;
    for (std::size_t i = 0; i < utf8Text.size();) {
        const long code = NextCodePoint(utf8Text, i);
        const int byte = code < 0 ? -1 : ByteOf(static_cast<std::uint32_t>(code));
        if (byte < 0) {
            out.push_back('?');
            all = false;
        } else {
            out.push_back(static_cast<char>(byte));
        }
    }
    if (representable)
        *representable = all;
    return out;
}

} // namespace ansi
