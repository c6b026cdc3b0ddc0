#include "pages/BrowseForFolder.h"

#include "app/Strings.h"

namespace {

bool IsSeparator(char c) {
    return c == '/' || c == '\\';
}

bool IsDriveLetter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

} // namespace

bool IsAbsoluteFolderPath(std::string_view path) {
    if (path.empty())
        return false;
    if (path[0] == '/')
        return true;
    // A lone leading backslash is relative to the current drive, so only a share counts.
    if (path.size() > 2 && path[0] == '\\' && path[1] == '\\')
        return true;
    return path.size() >= 3 && IsDriveLetter(path[0]) && path[1] == ':' && IsSeparator(path[2]);
}

bool BrowseForFolder(CPrompter& prompter, std::string& target, unsigned promptId) {
    const std::string& prompt = strings::Text(promptId);
    if (prompt.empty())
        return false;
    std::optional<std::string> chosen = prompter.BrowseForFolder(prompt, target);
    // The services resolve these directories from their own working directory, so a relative
    // answer would point somewhere else for them than for the user.
    if (!chosen || !IsAbsoluteFolderPath(*chosen))
        return false;
    target = std::move(*chosen);
    return true;
}
