// The difference of two versions of a text file, as a unified diff: what the preview of a save,
// a dry run and the history of backup copies show. The texts are compared line by line in the
// files' own code page; a CR before the line end is no part of a line, so a file written with
// LF alone compares equal line for line to its CR LF version (LineEndsOnly tells them apart),
// and the preview says "nur die Zeilenenden ändern sich" instead of showing every line changed.
//
// The shortest edit script (dtl, Debian's header-only libdtl-dev: O(ND)) runs only on the lines
// between the common head and tail, so a one-key change of a 200,000-line "aliases" costs two
// line splits and a comparison.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace textdiff {

struct Options {
    std::size_t context = 3; // unchanged lines shown around each change
    // Above this many lines between the common head and tail on either side, no shortest edit
    // is searched: the middle is shown removed and added as a whole (still a correct diff,
    // never a slow one).
    std::size_t searchLimit = 50000;
};

// The unified diff of before against after, "\n"-separated, with "--- beforeLabel" and
// "+++ afterLabel" above its hunks; empty when both have the same lines.
std::string Unified(std::string_view before, std::string_view after, std::string_view beforeLabel,
                    std::string_view afterLabel, const Options& options = {});

// Whether the two texts hold the same lines and differ only in their line ends (CR LF against
// LF, or a line end after the last line).
bool LineEndsOnly(std::string_view before, std::string_view after);

} // namespace textdiff
