// A save that cannot complete must leave the old file exactly as it was.
#include "Common/MapEx.h"
#include "Common/StringList.h"
#include "tests/TestUtil.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

using testutil::ReadBytes;
using testutil::WriteBytes;

namespace {

// A small tmpfs of our own, so that a test can fill it or make it read-only without touching
// the machine's file systems. Only root may mount; the tests skip otherwise.
class ScratchMount {
public:
    explicit ScratchMount(const std::string& where, const char* options) : m_where(where) {
        std::filesystem::create_directory(where);
        m_mounted = ::geteuid() == 0 && ::mount("tmpfs", where.c_str(), "tmpfs", 0, options) == 0;
    }
    ~ScratchMount() {
        if (m_mounted)
            ::umount2(m_where.c_str(), MNT_DETACH);
    }
    bool mounted() const { return m_mounted; }
    bool MakeReadOnly() {
        return ::mount("tmpfs", m_where.c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, nullptr) == 0;
    }

private:
    std::string m_where;
    bool m_mounted = false;
};

std::size_t EntriesIn(const std::string& directory) {
    std::size_t n = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(directory))
        ++n;
    return n;
}

} // namespace

TEST(SaveFault, FullFileSystemKeepsTheOldFileAndLeavesNoTemporaryFile) {
    testutil::TempDir dir;
    ScratchMount mount(dir / "small", "size=32k");
    if (!mount.mounted())
        GTEST_SKIP() << "needs root to mount a small tmpfs";
    const std::string cfg = dir / "small/smtpd.cfg";
    const std::string list = dir / "small/domains";
    WriteBytes(cfg, "# keep me\nA: 1\n");
    WriteBytes(list, "example.com\n");

    CConfigMap map;
    ASSERT_TRUE(map.Load(cfg));
    map.SetString("Big", std::string(256 * 1024, 'x'));
    std::filesystem::create_directory(dir / "backup.cfg");
    EXPECT_FALSE(map.Save(true, dir / "backup.cfg/smtpd.cfg"));
    EXPECT_EQ(ReadBytes(cfg), "# keep me\nA: 1\n");
    EXPECT_EQ(EntriesIn(dir / "backup.cfg"), 1u) << "the backup is taken before the write";
    EXPECT_TRUE(map.IsModified());

    CStorableList domains;
    ASSERT_TRUE(domains.Load(list));
    for (int i = 0; i < 20000; ++i)
        domains.AddTail("domain" + std::to_string(i) + ".example");
    EXPECT_FALSE(domains.Save(false));
    EXPECT_EQ(ReadBytes(list), "example.com\n");
    EXPECT_EQ(EntriesIn(dir / "small"), 2u);
}

TEST(SaveFault, ReadOnlyDirectoryKeepsTheOldFile) {
    testutil::TempDir dir;
    const std::string where = dir / "ro";
    ScratchMount mount(where, "size=64k");
    const std::string cfg = where + "/pop3d.cfg";
    if (mount.mounted()) {
        WriteBytes(cfg, "A: 1\n");
        ASSERT_TRUE(mount.MakeReadOnly());
    } else if (::geteuid() == 0) {
        GTEST_SKIP() << "root ignores permissions, and the tmpfs could not be mounted";
    } else {
        // Without root a plain read-only directory does the same.
        WriteBytes(cfg, "A: 1\n");
        ::chmod(where.c_str(), 0555);
    }
    CConfigMap map;
    ASSERT_TRUE(map.Load(cfg));
    map.SetString("A", "2");
    EXPECT_FALSE(map.Save(false));
    EXPECT_EQ(ReadBytes(cfg), "A: 1\n");
    EXPECT_EQ(EntriesIn(where), 1u);
}
