#include "app/ChangePreview.h"

#include "Common/Ansi.h"
#include "Common/UnifiedDiff.h"
#include "platform/FileSystem.h"

namespace preview {

FileChange OfFile(std::string name, const std::string& path, std::string_view text) {
    FileChange change{std::move(name), path, FileChange::State::Unchanged, {}};
    platform::LargeString disk;
    if (platform::QueryPathKind(path) == platform::PathKind::Missing && !platform::StatPath(path)) {
        change.state = FileChange::State::Created;
        change.diff = textdiff::Unified({}, text, "/dev/null", change.name + " (neu)");
        return change;
    }
    if (!platform::ReadWholeFile(path, disk)) {
        change.state = FileChange::State::Unreadable;
        return change;
    }
    const std::string_view before(disk.data(), disk.size());
    if (before == text)
        return change;
    change.diff = textdiff::Unified(before, text, change.name + " (jetzt)",
                                    change.name + " (nach dem Speichern)");
    change.state =
        change.diff.empty() ? FileChange::State::LineEndsOnly : FileChange::State::Changed;
    return change;
}

std::vector<FileChange> OfSet(CConfigSet& set) {
    std::vector<FileChange> changes;
    for (const CConfigSet::File& file : set.Files()) {
        const std::string& path = file.Path();
        // What the save leaves alone: a file that could not be read at the load (it exists, so
        // it is not written over), and "aliases" loaded without the account list.
        const bool kept = (set.LoadFailed(file.Object()) && !path.empty() &&
                           platform::StatPath(path).has_value()) ||
                          (set.aliasesUnchecked && file.map == &set.aliases);
        if (kept || path.empty()) {
            changes.push_back({file.name, path, FileChange::State::Kept, {}});
            continue;
        }
        changes.push_back(OfFile(file.name, path, file.TextToSave()));
    }
    for (const auto& [path, list] : set.SharedLists())
        changes.push_back(OfFile(path, path, list->TextToSave()));
    return changes;
}

const char* StateText(FileChange::State state) {
    switch (state) {
    case FileChange::State::Unchanged:
        return "unverändert";
    case FileChange::State::Changed:
        return "geändert";
    case FileChange::State::LineEndsOnly:
        return "nur die Zeilenenden ändern sich (CR LF)";
    case FileChange::State::Created:
        return "wird neu angelegt";
    case FileChange::State::Kept:
        return "wird nicht geschrieben (beim Laden nicht lesbar)";
    case FileChange::State::Unreadable:
        return "kann jetzt nicht gelesen werden, kein Vergleich möglich";
    }
    return "";
}

bool AnyChange(const std::vector<FileChange>& changes) {
    for (const FileChange& change : changes)
        if (change.state != FileChange::State::Unchanged && change.state != FileChange::State::Kept)
            return true;
    return false;
}

std::string Report(const std::vector<FileChange>& changes, const CJournal& journal) {
    std::string out;
    for (const FileChange& change : changes)
        out += change.diff;
    for (const FileChange& change : changes) {
        if (change.state == FileChange::State::Unchanged ||
            change.state == FileChange::State::Changed ||
            change.state == FileChange::State::Created)
            continue;
        out += change.name + ": " + ansi::FromUtf8(StateText(change.state)) + "\n";
    }
    for (const CJournal::Entry& entry : journal.Entries())
        out += CJournal::Describe(entry) + "\n";
    return out;
}

} // namespace preview
