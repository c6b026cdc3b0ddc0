// Matchers the tests share.
#pragma once

#include <gmock/gmock.h>

#include <regex>
#include <string>

namespace testutil {

// The whole text matches an (ECMAScript) regular expression. GoogleTest's own MatchesRegex
// falls back to its "simple" expressions on Windows, which know neither "[0-9]" nor "{6}".
MATCHER_P(MatchesPattern, pattern,
          std::string(negation ? "doesn't match" : "matches") + " the regular expression \"" +
              std::string(pattern) + "\"") {
    return std::regex_match(std::string(arg), std::regex(pattern));
}

} // namespace testutil
