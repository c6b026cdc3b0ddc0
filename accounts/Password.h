// The "kvcrypt" encoding of the account "password" files, shared with the mail services: each
// password byte times the matching byte of the lower-cased account name, as four (or more)
// hexadecimal digits.
#pragma once

#include <string>
#include <string_view>

// The encoded form of password under account. Empty when account is empty. Bytes are taken as
// signed 8-bit values, as the services take them: a byte of 128 and above on either side gives
// a negative product, written with eight digits, which DecodePassword cannot read back.
std::string EncodePassword(std::string_view account, std::string_view password);

// The password back from its encoded form under account: one character per four characters of
// encoded, read as a hexadecimal number and divided by the matching account-name byte. Empty
// when account is empty.
std::string DecodePassword(std::string_view account, std::string_view encoded);

// Whether password, stored for account, comes back unchanged from the password file: every
// password byte, and every account-name byte it is multiplied with, lies in 1..127. Callers
// refuse other passwords before they are stored.
bool PasswordSurvivesEncoding(std::string_view account, std::string_view password);
