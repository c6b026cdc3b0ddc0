// Raw listing of one directory: every name it holds, with whether the entry is a folder.
// Pattern matching and any other selection happen above this layer; the listing only reads.
#pragma once

#include <memory>
#include <string>

namespace platform {

struct DirectoryEntry {
    std::string name;         // the name inside the directory, without any path
    bool isDirectory = false; // the entry's own kind: a link to a folder is not a folder
};

// Streams the entries of a directory in the order the file system returns them. "." and ".."
// are always among them, as the listings the suite's services were written against report
// them and callers skip them by name. Entries are read one at a time, so a directory with a
// hundred thousand entries costs no more memory than one with ten.
class DirectoryListing {
public:
    // Opens the directory; IsOpen tells whether that worked.
    explicit DirectoryListing(const std::string& directory);
    ~DirectoryListing();
    DirectoryListing(const DirectoryListing&) = delete;
    DirectoryListing& operator=(const DirectoryListing&) = delete;

    bool IsOpen() const;
    // The next entry, or false at the end (or when the directory could not be read further).
    // The listing closes itself once it has reported the end.
    bool Next(DirectoryEntry& entry);

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

} // namespace platform
