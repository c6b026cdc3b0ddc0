#include "accounts/Password.h"

#include "Common/Ansi.h"

#include <cstdio>

namespace {

// The account-name byte a password byte is combined with, as the signed value the services
// compute with.
int KeyByte(std::string_view account, std::size_t i) {
    return static_cast<signed char>(ansi::ToLower(account[i]));
}

} // namespace

std::string EncodePassword(std::string_view account, std::string_view password) {
    std::string encoded;
    if (account.empty())
        return encoded;
    encoded.reserve(password.size() * 4);
    std::size_t i = 0;
    for (char byte : password) {
        const int product = static_cast<signed char>(byte) * KeyByte(account, i);
        char digits[16];
        // "%04x" of the 32-bit product: a negative one shows as its two's complement.
        const int n = std::snprintf(digits, sizeof digits, "%04x", static_cast<unsigned>(product));
        encoded.append(digits, static_cast<std::size_t>(n));
        if (++i == account.size())
            i = 0;
    }
    return encoded;
}

std::string DecodePassword(std::string_view account, std::string_view encoded) {
    std::string password;
    if (account.empty())
        return password;
    // The services read each group with "%04x" scanning from where the group starts, which
    // may run on into the following text; the same reader on a terminated copy gives the same
    // values, also for damaged files.
    const std::string text(encoded);
    std::size_t i = 0;
    for (std::size_t o = 0; o < text.size(); o += 4) {
        unsigned value = 0;
        if (std::sscanf(text.c_str() + o, "%4x", &value) != 1)
            value = 0;
        const int divisor = KeyByte(account, i);
        // A zero byte in the name would divide by zero; the encoder wrote "0000" for it.
        password.push_back(divisor == 0 ? '\0'
                                        : static_cast<char>(static_cast<int>(value) / divisor));
        if (++i == account.size())
            i = 0;
    }
    return password;
}

bool PasswordSurvivesEncoding(std::string_view account, std::string_view password) {
    if (account.empty())
        return password.empty();
    std::size_t i = 0;
    for (char byte : password) {
        const int c = static_cast<signed char>(byte);
        const int m = KeyByte(account, i);
        if (c < 1 || m < 1) // 0 is lost on the way, 128 and above turn negative
            return false;
        if (++i == account.size())
            i = 0;
    }
    return true;
}
