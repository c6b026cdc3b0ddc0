// A watch for changes in a directory tree, armed in three steps so that the caller can report
// each failure on its own: open the directory, create the notifier, add the watch.
// Notifications are queued by the system; TakeChanges tells whether any arrived. A watch stays
// armed until it is closed.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace platform {

// Kinds of change a watch listens for, numbered as the suite's configuration numbers them.
enum ChangeFilter : std::uint32_t {
    kChangeFileName = 0x001,
    kChangeDirName = 0x002,
    kChangeAttributes = 0x004,
    kChangeSize = 0x008,
    kChangeLastWrite = 0x010,
    kChangeLastAccess = 0x020,
    kChangeCreation = 0x040,
    kChangeSecurity = 0x100,
};

// One change a watch reported: an entry of the watched folder that appeared, went or was
// written to, or anything else (the folder itself removed, the system's queue overflowing, an
// entry of a subfolder), after which the caller cannot know what is there without looking.
struct DirectoryChange {
    enum class Kind { Added, Removed, Written, Other };
    Kind kind = Kind::Other;
    // For Removed: the entry was, or may have been, a folder. Windows reports a removal without
    // the kind, and the entry is gone by then, so there every removal counts as a folder's.
    bool isDirectory = false;
    std::string name; // the entry's name in the watched folder; empty for Other
};

// Every step returns 0 on success or the system's error code. The object can be armed again
// after both handles are closed. Its destructor releases whatever it still holds, silently.
class DirectoryWatch {
public:
    virtual ~DirectoryWatch() = default;

    // Opens path, which must be an existing directory (a link to one is followed).
    virtual int OpenDirectory(const std::string& path) = 0;
    // Creates the notifier the watch reports to.
    virtual int CreateNotifier() = 0;
    // Watches the opened directory, and with subtree every folder below it that exists now,
    // for the kinds of change in filter. Fails when filter holds no kind this system knows.
    virtual int AddWatch(std::uint32_t filter, bool subtree) = 0;
    // Closing releases the handle even when the system reports an error for it.
    virtual int CloseNotifier() = 0;
    virtual int CloseDirectory() = 0;

    virtual bool HasDirectory() const = 0;
    virtual bool HasNotifier() const = 0;

    // The changes reported since the last call, appended to changes (the notifications are
    // consumed); never waits. False when there were none or nothing is armed.
    virtual bool TakeChanges(std::vector<DirectoryChange>& /*changes*/) { return false; }
};

// The watch of this system.
std::unique_ptr<DirectoryWatch> CreateDirectoryWatch();

} // namespace platform
