#include "Common/UnifiedDiff.h"

#include <dtl/dtl.hpp>

#include <algorithm>
#include <vector>

namespace textdiff {

namespace {

std::vector<std::string_view> SplitLines(std::string_view text) {
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        const std::size_t next = end == std::string_view::npos ? text.size() : end + 1;
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        lines.push_back(line);
        start = next;
    }
    return lines;
}

// One line of the edit script: kept, removed from before or added in after, with its line
// number (0-based) on each side; on the side a line does not belong to, the number of that
// side's lines that stand before it.
struct Edit {
    char kind; // ' ', '-', '+'
    std::size_t before;
    std::size_t after;
    std::string_view text;
};

std::vector<Edit> EditScript(const std::vector<std::string_view>& a,
                             const std::vector<std::string_view>& b, const Options& options) {
    // Most saves change a few lines of a long file: the common head and tail are cut off first,
    // and only the middle is searched, beginning with the last context lines of the head.
    std::size_t head = 0;
    while (head < a.size() && head < b.size() && a[head] == b[head])
        ++head;
    std::size_t tail = 0;
    while (tail < a.size() - head && tail < b.size() - head &&
           a[a.size() - 1 - tail] == b[b.size() - 1 - tail])
        ++tail;
    std::vector<Edit> edits;
    for (std::size_t i = head - std::min(head, options.context); i < head; ++i)
        edits.push_back({' ', i, i, a[i]});
    const std::size_t aEnd = a.size() - tail;
    const std::size_t bEnd = b.size() - tail;
    const std::vector<std::string_view> midA(a.begin() + static_cast<std::ptrdiff_t>(head),
                                             a.begin() + static_cast<std::ptrdiff_t>(aEnd));
    const std::vector<std::string_view> midB(b.begin() + static_cast<std::ptrdiff_t>(head),
                                             b.begin() + static_cast<std::ptrdiff_t>(bEnd));
    if (midA.empty() || midB.empty() || midA.size() > options.searchLimit ||
        midB.size() > options.searchLimit) {
        for (std::size_t i = 0; i < midA.size(); ++i)
            edits.push_back({'-', head + i, head, midA[i]});
        for (std::size_t i = 0; i < midB.size(); ++i)
            edits.push_back({'+', aEnd, head + i, midB[i]});
    } else {
        dtl::Diff<std::string_view, std::vector<std::string_view>> diff(midA, midB);
        diff.onHuge();
        diff.compose();
        std::size_t aNext = head, bNext = head;
        for (const auto& [text, info] : diff.getSes().getSequence()) {
            // The script counts from 1 on the side a line belongs to.
            const auto at = [head](long long index) {
                return head + static_cast<std::size_t>(index - 1);
            };
            if (info.type == dtl::SES_COMMON)
                edits.push_back({' ', at(info.beforeIdx), at(info.afterIdx), text});
            else if (info.type == dtl::SES_DELETE)
                edits.push_back({'-', at(info.beforeIdx), bNext, text});
            else
                edits.push_back({'+', aNext, at(info.afterIdx), text});
            if (edits.back().kind != '+')
                aNext = edits.back().before + 1;
            if (edits.back().kind != '-')
                bNext = edits.back().after + 1;
        }
    }
    for (std::size_t i = 0; i < std::min(tail, options.context); ++i)
        edits.push_back({' ', aEnd + i, bEnd + i, a[aEnd + i]});
    return edits;
}

// "start,count" of a hunk's side; an empty side names the line before it, as diff does.
std::string Range(std::size_t first, std::size_t count) {
    const std::size_t start = count == 0 ? first : first + 1;
    return count == 1 ? std::to_string(start) : std::to_string(start) + "," + std::to_string(count);
}

// Where two texts differ, cut to whole lines: the bytes before begin are the same in both and
// end at a line end, and so are the last tail bytes of each, which begin at a line start; each
// side keeps up to context lines of them around what differs. lines is the number of lines
// before begin.
struct Region {
    std::size_t begin = 0;
    std::size_t tail = 0;
    std::size_t lines = 0;
};

Region DifferingRegion(std::string_view a, std::string_view b, std::size_t context) {
    Region region;
    const std::size_t shorter = std::min(a.size(), b.size());
    const std::size_t same = static_cast<std::size_t>(
        std::mismatch(a.begin(), a.begin() + static_cast<std::ptrdiff_t>(shorter), b.begin())
            .first -
        a.begin());
    // Back to the start of the line the first difference is in, then context lines further.
    std::size_t begin = a.substr(0, same).rfind('\n');
    begin = begin == std::string_view::npos ? 0 : begin + 1;
    for (std::size_t n = 0; n < context && begin > 0; ++n) {
        const std::size_t previous = a.substr(0, begin - 1).rfind('\n');
        begin = previous == std::string_view::npos ? 0 : previous + 1;
    }
    // The common tail, never reaching into the line the head was cut at.
    std::size_t tail = 0;
    while (tail < shorter - begin && a[a.size() - 1 - tail] == b[b.size() - 1 - tail])
        ++tail;
    // Forward to a line start in both. begin is one in both texts, and the tail may begin there
    // (in the shorter text); anywhere else it begins at a line start only right after a line end.
    const auto lineStart = [begin](std::string_view text, std::size_t at) {
        return at == begin || text[at - 1] == '\n';
    };
    std::size_t at = a.size() - tail;
    if (tail > 0 && !(lineStart(a, at) && lineStart(b, b.size() - tail))) {
        const std::size_t end = a.find('\n', at);
        at = end == std::string_view::npos ? a.size() : end + 1;
    }
    for (std::size_t n = 0; n < context && at < a.size(); ++n) {
        const std::size_t end = a.find('\n', at);
        at = end == std::string_view::npos ? a.size() : end + 1;
    }
    region.begin = begin;
    region.tail = a.size() - at;
    region.lines = static_cast<std::size_t>(
        std::count(a.begin(), a.begin() + static_cast<std::ptrdiff_t>(begin), '\n'));
    return region;
}

} // namespace

std::string Unified(std::string_view before, std::string_view after, std::string_view beforeLabel,
                    std::string_view afterLabel, const Options& options) {
    // A save mostly changes a few lines of a long file: only the lines around what differs are
    // split and compared, the rest is passed over at the speed of a byte comparison.
    const Region region = DifferingRegion(before, after, options.context);
    const std::vector<std::string_view> a =
        SplitLines(before.substr(region.begin, before.size() - region.tail - region.begin));
    const std::vector<std::string_view> b =
        SplitLines(after.substr(region.begin, after.size() - region.tail - region.begin));
    if (a == b)
        return {};
    std::vector<Edit> edits = EditScript(a, b, options);
    for (Edit& edit : edits) {
        edit.before += region.lines;
        edit.after += region.lines;
    }
    std::string out;
    out.append("--- ").append(beforeLabel).append("\n+++ ").append(afterLabel).append("\n");
    std::size_t i = 0;
    while (i < edits.size()) {
        // A hunk starts context lines before the next change and ends where more than twice the
        // context of kept lines follows its last change.
        std::size_t change = i;
        while (change < edits.size() && edits[change].kind == ' ')
            ++change;
        if (change == edits.size())
            break;
        const std::size_t first = change - std::min(change - i, options.context);
        std::size_t last = change; // one past the hunk's last change
        for (std::size_t j = change; j < edits.size();) {
            if (edits[j].kind != ' ') {
                last = ++j;
                continue;
            }
            std::size_t kept = j;
            while (kept < edits.size() && edits[kept].kind == ' ')
                ++kept;
            if (kept == edits.size() || kept - j > 2 * options.context)
                break;
            j = kept;
        }
        const std::size_t end = std::min(edits.size(), last + options.context);
        // A side without lines in the hunk is named by the number of its lines before it.
        std::size_t aCount = 0, bCount = 0;
        for (std::size_t j = first; j < end; ++j) {
            aCount += edits[j].kind != '+' ? 1 : 0;
            bCount += edits[j].kind != '-' ? 1 : 0;
        }
        std::size_t aStart = edits[first].before, bStart = edits[first].after;
        for (std::size_t j = first; j < end; ++j)
            if (edits[j].kind != '+') {
                aStart = edits[j].before;
                break;
            }
        for (std::size_t j = first; j < end; ++j)
            if (edits[j].kind != '-') {
                bStart = edits[j].after;
                break;
            }
        out.append("@@ -").append(Range(aStart, aCount)).append(" +").append(Range(bStart, bCount));
        out.append(" @@\n");
        for (std::size_t j = first; j < end; ++j)
            out.append(1, edits[j].kind).append(edits[j].text).append("\n");
        i = end;
    }
    return out;
}

bool LineEndsOnly(std::string_view before, std::string_view after) {
    return before != after && SplitLines(before) == SplitLines(after);
}

} // namespace textdiff
