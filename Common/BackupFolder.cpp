#include "Common/BackupFolder.h"

#include "Common/MapEx.h"
#include "platform/DirectoryList.h"
#include "platform/FileSystem.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <map>

namespace backupfolder {

namespace {

constexpr std::string_view kShape = "-dddddd-dddddd";

bool Digits(std::string_view s) {
    return !s.empty() && s.find_first_not_of("0123456789") == std::string_view::npos;
}

int Number(std::string_view s) {
    int n = 0;
    for (char c : s)
        n = n * 10 + (c - '0');
    return n;
}

// The "-N" of a moment, 1 for none.
long Sequence(std::string_view moment) {
    if (moment.size() <= kShape.size() - 1)
        return 1;
    const std::string_view rest = moment.substr(kShape.size());
    return Digits(rest) && rest.size() < 9 ? std::stol(std::string(rest)) : 1;
}

// Whether the date and time of a stamp are in range (without asking the time zone, which is
// slow enough to be felt over thousands of copies).
bool ValidStamp(std::string_view moment) {
    const int month = Number(moment.substr(2, 2)), day = Number(moment.substr(4, 2));
    return month >= 1 && month <= 12 && day >= 1 && day <= 31 && Number(moment.substr(7, 2)) < 24 &&
           Number(moment.substr(9, 2)) < 60 && Number(moment.substr(11, 2)) <= 60;
}

} // namespace

bool IsMomentSuffix(std::string_view suffix) {
    if (suffix.size() < kShape.size())
        return false;
    for (std::size_t i = 0; i < kShape.size(); ++i) {
        const bool digit = suffix[i] >= '0' && suffix[i] <= '9';
        if (kShape[i] == 'd' ? !digit : suffix[i] != kShape[i])
            return false;
    }
    const std::string_view number = suffix.substr(kShape.size());
    return number.empty() || (number.size() > 1 && number[0] == '-' && Digits(number.substr(1)));
}

std::optional<CopyName> ParseCopyName(std::string_view name) {
    // The file's own name may hold "-" and digits: the stamp is found from the end.
    for (std::size_t at = name.size(); at-- > 0;) {
        if (name[at] != '-' || at == 0)
            continue;
        if (IsMomentSuffix(name.substr(at)) && ValidStamp(name.substr(at + 1)))
            return CopyName{std::string(name.substr(0, at)), std::string(name.substr(at + 1))};
    }
    return std::nullopt;
}

std::optional<std::int64_t> MomentTime(std::string_view moment) {
    if (moment.size() < 13 || !Digits(moment.substr(0, 6)) || !Digits(moment.substr(7, 6)) ||
        !ValidStamp(moment))
        return std::nullopt;
    std::tm tm{};
    tm.tm_year = 100 + Number(moment.substr(0, 2));
    tm.tm_mon = Number(moment.substr(2, 2)) - 1;
    tm.tm_mday = Number(moment.substr(4, 2));
    tm.tm_hour = Number(moment.substr(7, 2));
    tm.tm_min = Number(moment.substr(9, 2));
    tm.tm_sec = Number(moment.substr(11, 2));
    if (tm.tm_mon < 0 || tm.tm_mon > 11 || tm.tm_mday < 1 || tm.tm_mday > 31 || tm.tm_hour > 23 ||
        tm.tm_min > 59 || tm.tm_sec > 60)
        return std::nullopt;
    tm.tm_isdst = -1;
    const std::time_t t = std::mktime(&tm);
    if (t == static_cast<std::time_t>(-1))
        return std::nullopt;
    return static_cast<std::int64_t>(t);
}

std::string MomentText(std::string_view moment) {
    if (moment.size() < 13)
        return std::string(moment);
    char text[64];
    std::snprintf(text, sizeof text, "%.2s.%.2s.20%.2s %.2s:%.2s:%.2s", moment.data() + 4,
                  moment.data() + 2, moment.data(), moment.data() + 7, moment.data() + 9,
                  moment.data() + 11);
    std::string result = text;
    if (const long n = Sequence(moment); n > 1)
        result += " (" + std::to_string(n) + ")";
    return result;
}

bool MomentBefore(std::string_view a, std::string_view b) {
    const std::string_view stampA = a.substr(0, 13), stampB = b.substr(0, 13);
    if (stampA != stampB)
        return stampA < stampB;
    return Sequence(a) < Sequence(b);
}

namespace {

// What NewMoment found, for the copies of the save it chose the moment for: with a thousand
// moments in the folder, a listing per copied file would cost more than the save itself. Only
// ever a hint: a copy is linked to an earlier one after their bytes were compared.
struct MomentMemo {
    std::string folder;
    std::string moment;
    std::map<std::string, std::string, std::less<>> newest; // file -> moment of its newest copy
};
thread_local MomentMemo t_memo;

} // namespace

std::string NewMoment(const std::string& folder) {
    // Temporary files of copies a killed save left behind go here, once for the whole save.
    platform::RemoveStaleTemporaries(
        folder, [](std::string_view target) { return ParseCopyName(target).has_value(); });
    const std::string stamp = platform::FormatLocalTimeNow("%y%m%d-%H%M%S");
    long highest = 0;
    MomentMemo memo{folder, {}, {}};
    platform::DirectoryListing listing(folder);
    platform::DirectoryEntry entry;
    while (listing.Next(entry)) {
        const auto copy = entry.isDirectory ? std::nullopt : ParseCopyName(entry.name);
        if (!copy)
            continue;
        if (copy->moment.compare(0, stamp.size(), stamp) == 0)
            highest = std::max(highest, Sequence(copy->moment));
        const auto known = memo.newest.find(copy->file);
        if (known == memo.newest.end())
            memo.newest.emplace(copy->file, copy->moment);
        else if (MomentBefore(known->second, copy->moment))
            known->second = copy->moment;
    }
    memo.moment = highest == 0 ? stamp : stamp + "-" + std::to_string(highest + 1);
    t_memo = std::move(memo);
    return t_memo.moment;
}

std::optional<std::string> NewestCopy(const std::string& folder, std::string_view file,
                                      std::string_view moment) {
    if (!moment.empty() && t_memo.moment == moment && t_memo.folder == folder) {
        const auto known = t_memo.newest.find(file);
        if (known == t_memo.newest.end())
            return std::nullopt;
        return PathJoin(folder, std::string(file) + "-" + known->second);
    }
    std::optional<std::string> newest;
    std::string newestMoment;
    platform::DirectoryListing listing(folder);
    platform::DirectoryEntry entry;
    while (listing.Next(entry)) {
        if (entry.isDirectory || !entry.name.starts_with(file))
            continue;
        const auto copy = ParseCopyName(entry.name);
        if (!copy || copy->file != file)
            continue;
        if (!newest || MomentBefore(newestMoment, copy->moment)) {
            newestMoment = copy->moment;
            newest = PathJoin(folder, entry.name);
        }
    }
    return newest;
}

Listing List(const std::string& folder) {
    Listing result;
    platform::DirectoryListing listing(folder);
    result.readable = listing.IsOpen();
    std::map<std::string, Moment, bool (*)(const std::string&, const std::string&)> byMoment(
        [](const std::string& a, const std::string& b) { return MomentBefore(a, b); });
    platform::DirectoryEntry entry;
    while (listing.Next(entry)) {
        if (entry.name == "." || entry.name == "..")
            continue;
        const auto copy = entry.isDirectory ? std::nullopt : ParseCopyName(entry.name);
        // A copy being written, or one a killed save left, is nobody's business here.
        if (!copy && entry.name.find(".tmp-") != std::string::npos)
            continue;
        if (!copy) {
            result.foreign.push_back(entry.name);
            continue;
        }
        Moment& moment = byMoment[copy->moment];
        moment.id = copy->moment;
        Copy c{copy->file, PathJoin(folder, entry.name), 0};
        if (const auto status = platform::StatPath(c.path))
            c.size = status->size;
        moment.copies.push_back(std::move(c));
    }
    std::vector<Moment> ordered;
    for (auto& [id, moment] : byMoment) {
        moment.time = MomentTime(id).value_or(0);
        std::sort(moment.copies.begin(), moment.copies.end(),
                  [](const Copy& a, const Copy& b) { return a.file < b.file; });
        ordered.push_back(std::move(moment));
    }
    std::sort(result.foreign.begin(), result.foreign.end());
    result.moments.assign(std::make_move_iterator(ordered.rbegin()),
                          std::make_move_iterator(ordered.rend()));
    return result;
}

} // namespace backupfolder
