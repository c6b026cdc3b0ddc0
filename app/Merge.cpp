#include "app/Merge.h"

#include <optional>
#include <string_view>
#include <unordered_set>

namespace merge {
namespace {

using Value = std::optional<std::string_view>;

// Calls visit(key) once for every key of base and of theirs that theirs changed.
template <class Visit>
void ForEachTheirChange(const CMapEx& base, const CMapEx& theirs, Visit visit) {
    std::string key;
    std::string value;
    for (auto position = base.GetStartPosition(); position;) {
        base.GetNextAssoc(position, key, value);
        if (theirs.FindView(key) != Value(value))
            visit(key);
    }
    for (auto position = theirs.GetStartPosition(); position;) {
        theirs.GetNextAssoc(position, key, value);
        if (!base.Contains(key))
            visit(key);
    }
}

} // namespace

std::vector<std::string> Conflicts(const CMapEx& ours, const CMapEx& base, const CMapEx& theirs) {
    std::vector<std::string> conflicts;
    ForEachTheirChange(base, theirs, [&](const std::string& key) {
        const Value mine = ours.FindView(key);
        if (mine != base.FindView(key) && mine != theirs.FindView(key))
            conflicts.push_back(key);
    });
    return conflicts;
}

void IntoMap(CMapEx& ours, const CMapEx& base, const CMapEx& theirs, bool theirsWins) {
    std::vector<std::string> changed;
    ForEachTheirChange(base, theirs, [&](const std::string& key) { changed.push_back(key); });
    for (const std::string& key : changed) {
        const Value mine = ours.FindView(key);
        const Value their = theirs.FindView(key);
        if (mine == their || (mine != base.FindView(key) && !theirsWins))
            continue;
        if (their)
            ours.SetAt(key, std::string(*their)); // a copy: SetAt may move what views point to
        else
            ours.RemoveKey(key);
    }
}

void IntoList(CStringListEx& ours, const CStringListEx& base, const CStringListEx& theirs) {
    const auto items = [](const CStringListEx& list) {
        std::unordered_set<std::string_view> set;
        for (auto position = list.GetHeadPosition(); position;)
            set.insert(list.GetNext(position));
        return set;
    };
    const auto inBase = items(base);
    const auto inTheirs = items(theirs);
    for (auto position = base.GetHeadPosition(); position;) {
        const std::string_view item = base.GetNext(position);
        if (!inTheirs.count(item))
            if (auto mine = ours.Find(item))
                ours.RemoveAt(mine);
    }
    for (auto position = theirs.GetHeadPosition(); position;) {
        const std::string_view item = theirs.GetNext(position);
        if (!inBase.count(item) && !ours.Find(item))
            ours.AddTail(item);
    }
}

} // namespace merge
