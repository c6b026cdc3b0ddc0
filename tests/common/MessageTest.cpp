// Message files as the servers read them: byte-exact layout, header parsing, body form, the
// Date header, and the cross-process lock with a real second process.
#include "Common/Message.h"
#include "platform/Clock.h"
#include "platform/FileLock.h"
#include "tests/Matchers.h"
#include "tests/TestUtil.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <optional>
#include <vector>
#ifdef _WIN32
#include <condition_variable>
#include <future>
#include <mutex>
#include <thread>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

using testutil::Crlf;
using testutil::ReadBytes;
using testutil::WriteBytes;
using namespace std::chrono_literals;
using namespace std::string_literals;

namespace {

class MessageFile : public testing::Test {
protected:
    // A mail whose locks live in the test's own directory and wait briefly.
    CMail NewMail() {
        CMail mail;
        mail.SetLocking(locks, 300ms);
        return mail;
    }
    // Loads bytes as a message file.
    CMail Loaded(const std::string& bytes, int flags = 0) {
        WriteBytes(path, bytes);
        CMail mail = NewMail();
        EXPECT_TRUE(mail.Load(path, nullptr, flags));
        return mail;
    }
    std::string Saved(const CMail& mail, int kind = 0) {
        EXPECT_TRUE(mail.Save(path, kind));
        return ReadBytes(path);
    }

    testutil::TempDir dir;
    testutil::TempDir lockDir;
    std::string locks = lockDir.path();
    std::string path = dir / "reply.emt";
};

std::string Items(const CStringListEx& list) {
    return list.Join("|");
}

} // namespace

// --- Writing -------------------------------------------------------------------------------

TEST_F(MessageFile, ReplyTemplateHasExactlyFromSubjectDateAndTheBody) {
    CMail mail = NewMail();
    mail.SetFrom("info@example.test");
    mail.SetSubject("Abwesend");
    mail.SetBody("Ich bin im Urlaub.\r\nGru\xdf\r\n");
    EXPECT_EQ(Saved(mail), "From: <info@example.test>\r\nSubject: Abwesend\r\nDate: " +
                               mail.GetDate() + "\r\n\r\nIch bin im Urlaub.\r\nGru\xdf\r\n");

    mail.SetSubject("");
    EXPECT_EQ(Saved(mail), "From: <info@example.test>\r\nDate: " + mail.GetDate() +
                               "\r\n\r\nIch bin im Urlaub.\r\nGru\xdf\r\n");
    if (testutil::kFilesHaveModes) {
        EXPECT_EQ(std::filesystem::status(path).permissions() & std::filesystem::perms::all,
                  std::filesystem::perms(0644));
    }
}

TEST_F(MessageFile, HeadersAreWrittenInTheFileOrderWhateverOrderTheyWereRead) {
    const std::string ordered = ReadBytes(KORVANE_TEST_DATA "/message-ordered.emt");
    CMail mail = Loaded(ReadBytes(KORVANE_TEST_DATA "/message-scrambled.emt"));
    EXPECT_EQ(Saved(mail, 0), ordered);
    EXPECT_EQ(Saved(mail, 1),
              "X-Envelope-From: sender@example.test\r\nX-Envelope-To: info@example.test\r\n" +
                  ordered);
    EXPECT_EQ(Saved(mail, 2), "Return-Path: <bounce@example.test>\r\n" + ordered);
    // The written form is stable: reading it back and writing again changes nothing.
    EXPECT_EQ(Saved(Loaded(ordered), 0), ordered);
}

TEST_F(MessageFile, BodyIsWrittenWithCrlfAndWithoutTheTransferEndMark) {
    CMail mail = NewMail();
    mail.SetFrom("a@example.test");
    mail.SetDate("D");
    mail.SetBody("Hallo\n.\n");
    EXPECT_EQ(Saved(mail), Crlf("From: <a@example.test>\nDate: D\n\nHallo"));
    mail.SetBody("1\r\n.\r\n2\r\n");
    EXPECT_EQ(Saved(mail), Crlf("From: <a@example.test>\nDate: D\n\n1\n.\n2\n"));
}

TEST_F(MessageFile, LineBreakInAHeaderValueCannotEndTheHeaderBlock) {
    CMail mail = NewMail();
    mail.SetDate("D");
    mail.SetSubject("a\n\nBcc: x@example.test");
    EXPECT_EQ(Saved(mail), "Subject: a\r\n\t\r\n\tBcc: x@example.test\r\nDate: D\r\n\r\n");
    CMail back = Loaded(ReadBytes(path));
    EXPECT_EQ(back.GetSubject(), "a\r\n\t\r\n\tBcc: x@example.test");
    EXPECT_EQ(back.GetBcc(), "");
}

TEST_F(MessageFile, FailedWriteTellsWhy) {
    testutil::CapturedLog log;
    CMail mail = NewMail();
    CFileError error;
    EXPECT_FALSE(mail.Save(dir / "missing/reply.emt", 0, &error));
    EXPECT_EQ(error.cause, 2);
    EXPECT_EQ(error.systemError, ENOENT);
    EXPECT_THAT(log.texts(), testing::ElementsAre(testutil::MatchesPattern(
                                 "CFileException in Common.Message:[0-9]+, cause=2 error=2")));
}

TEST_F(MessageFile, LinkPlantedAtTheTemplatePathIsReplacedNotWrittenThrough) {
    KORVANE_NEEDS_LINKS();
    const std::string outside = dir / "outside.txt";
    WriteBytes(outside, "keep");
    std::filesystem::create_symlink(outside, path);
    CMail mail = NewMail();
    mail.SetBody("text");
    ASSERT_TRUE(mail.Save(path));
    EXPECT_EQ(ReadBytes(outside), "keep");
    EXPECT_FALSE(std::filesystem::is_symlink(path));
}

// --- Reading -------------------------------------------------------------------------------

TEST_F(MessageFile, ContinuationLinesJoinTheirHeaderWithCrlfAndTab) {
    CMail mail = Loaded("Subject: x\r\n\ty\r\n  z \r\nX-Note: 1\n\n");
    EXPECT_EQ(mail.GetSubject(), "x\r\n\ty\r\n\tz");
    EXPECT_EQ(Items(mail.GetHeaderLines()), "X-Note: 1");
}

TEST_F(MessageFile, BodyIsHeldWithCrlfLineEndsNoNulAndEveryLoneDotDoubled) {
    EXPECT_EQ(Loaded("Subject: s\r\n\r\na\nb\rc").GetBody(), "a\r\nb\r\nc");
    EXPECT_EQ(Loaded("Subject: s\r\n\r\nx\r\r\ny\0z"s).GetBody(), "x\r\n\r\nyz");
    EXPECT_EQ(Loaded("Subject: s\r\n\r\na\r\n.\r\n.\r\nb\r\n").GetBody(), "a\r\n..\r\n..\r\nb\r\n");
    // Lines that merely hold a dot stay; a lone dot as first or last line is doubled too.
    EXPECT_EQ(Loaded("Subject: s\r\n\r\n.a\r\n..\r\nb.\r\n").GetBody(), ".a\r\n..\r\nb.\r\n");
    EXPECT_EQ(Loaded("Subject: s\r\n\r\n.\r\nb\n.").GetBody(), "..\r\nb\r\n..");
}

TEST_F(MessageFile, FileWithoutHeadersIsAllBody) {
    CMail mail = Loaded("Hallo\r\nWelt\r\n\r\nMehr\r\n");
    EXPECT_EQ(mail.GetBody(), "Hallo\r\nWelt\r\n\r\nMehr\r\n");
    EXPECT_EQ(mail.GetHeaderLines().GetCount(), 0u);
    // Lines without a colon are skipped among real headers, and a block that runs to the end
    // of the file leaves the body empty.
    CMail headersOnly = Loaded("Subject: s\r\nno colon here\r\nTo: t");
    EXPECT_EQ(headersOnly.GetSubject(), "s");
    EXPECT_EQ(headersOnly.GetTo(), "t");
    EXPECT_EQ(headersOnly.GetBodyLength(), 0u);
    // Flags other than 0 read the headers and leave the body alone.
    WriteBytes(path, "Subject: neu\r\n\r\nText\r\n");
    ASSERT_TRUE(headersOnly.Load(path, nullptr, 1));
    EXPECT_EQ(headersOnly.GetSubject(), "neu");
    EXPECT_EQ(headersOnly.GetBodyLength(), 0u);
}

TEST_F(MessageFile, FilesOfTwoBytesOrLessAndMissingFilesDoNotLoad) {
    CMail mail = NewMail();
    WriteBytes(path, "\r\n");
    EXPECT_FALSE(mail.Load(path));
    WriteBytes(path, "a:b");
    EXPECT_TRUE(mail.Load(path));
    EXPECT_EQ(mail.GetHeaderLines().GetHead(), "a: b");
    CFileError error;
    EXPECT_FALSE(mail.Load(dir / "none.emt", &error));
    EXPECT_EQ(error.cause, 2);
}

// --- Header fields -------------------------------------------------------------------------

TEST(MailHeaders, EnvelopeSenderAlsoSetsReturnPathAndAMissingFrom) {
    CMail mail;
    mail.SetHeaderField("envelope-from", "<bounce@example.test>");
    EXPECT_EQ(mail.GetEnvelopeFrom(), "bounce@example.test");
    EXPECT_EQ(mail.GetReturnPath(), "bounce@example.test");
    EXPECT_EQ(mail.GetFrom(), "bounce@example.test");
    mail.SetHeaderField("X-Sender", "other@example.test");
    EXPECT_EQ(mail.GetEnvelopeFrom(), "bounce@example.test") << "X-Sender only fills a gap";

    CMail withFrom;
    withFrom.SetHeaderField("From", "jane@example.test");
    withFrom.SetHeaderField("X-Sender", "x@example.test (X)");
    EXPECT_EQ(withFrom.GetEnvelopeFrom(), "x@example.test");
    EXPECT_EQ(withFrom.GetFrom(), "jane@example.test");
}

TEST(MailHeaders, RecipientsComeFromEnvelopeHeadersOrElseFromTheFirstFallback) {
    CMail mail;
    mail.SetHeaderField("X-Original-To", "a@example.test");
    mail.SetHeaderField("X-Receiver", "b@example.test");
    mail.SetHeaderField("Envelope-To", "<c@example.test>");
    mail.SetHeaderField("X-Envelope-To", "<>");
    EXPECT_EQ(Items(mail.GetEnvelopeTo()), "a@example.test|c@example.test");

    CMail delivered;
    delivered.SetHeaderField("Delivered-To", "for info <info@example.test>");
    delivered.SetHeaderField("Delivered-To", "later@example.test");
    EXPECT_EQ(Items(delivered.GetEnvelopeTo()), "info@example.test");
}

TEST(MailHeaders, EachFieldGoesToItsPlace) {
    CMail mail;
    mail.SetHeaderField("received", "r1");
    mail.SetHeaderField("Received", "r2");
    mail.SetHeaderField("MESSAGE-ID", "<id@example.test>");
    mail.SetHeaderField("Reply-To", "Jane <jane@example.test> (home)");
    mail.SetHeaderField("In-Reply-To", "<x@example.test>");
    mail.SetHeaderField("X-Unknown", "v");
    EXPECT_EQ(Items(mail.GetReceived()), "r1|r2");
    EXPECT_EQ(mail.GetMessageId(), "id@example.test");
    EXPECT_EQ(mail.GetReplyTo(), "jane@example.test");
    EXPECT_EQ(mail.GetInReplyTo(), "<x@example.test>");
    EXPECT_EQ(Items(mail.GetHeaderLines()), "X-Unknown: v");
}

TEST(MailHeaders, ContentTypeParametersKeepTheirCaseWithoutQuotes) {
    CMail mail;
    mail.SetHeaderField("Content-Type", "Multipart/Mixed; BOUNDARY=\"AbC=_1\"; charset=x");
    EXPECT_EQ(mail.GetBoundary(), "AbC=_1");
    EXPECT_EQ(mail.GetCharset(), "");
    mail.SetContentType("text/plain; Charset=Windows-1252; name=\"Antwort.txt\"");
    EXPECT_EQ(mail.GetContentType(), "text/plain; Charset=Windows-1252; name=\"Antwort.txt\"");
    EXPECT_EQ(mail.GetCharset(), "Windows-1252");
    EXPECT_EQ(mail.GetName(), "Antwort.txt");
    EXPECT_EQ(mail.GetBoundary(), "");
}

TEST(MailHeaders, FromValueGivesAddressAndDisplayName) {
    struct Case {
        const char* value;
        const char* address;
        const char* name;
    };
    const Case cases[] = {
        {"Jane Doe <jane@example.test>", "jane@example.test", "Jane Doe"},
        {"\"Doe, Jane\" <jane@example.test>", "jane@example.test", "Doe, Jane"},
        {"<jane@example.test>", "jane@example.test", ""},
        {"jane@example.test (Jane)", "jane@example.test", "Jane"},
        {"jane@example.test", "jane@example.test", ""},
        {"a > b <c", "a", ""},
    };
    for (const Case& c : cases) {
        CMail mail;
        mail.SetHeaderField("From", "Old <old@example.test>");
        mail.SetHeaderField("From", c.value);
        EXPECT_EQ(mail.GetFrom(), c.address) << c.value;
        EXPECT_EQ(mail.GetFromName(), c.name) << c.value;
    }
}

// --- Date ----------------------------------------------------------------------------------

TEST(MessageDate, EnglishNamesDayWithoutZeroAndSignedOffset) {
    EXPECT_EQ(message::FormatDate({2025, 1, 6, 9, 5, 3, 1, 60}), "Mon, 6 Jan 2025 09:05:03 +0100");
    EXPECT_EQ(message::FormatDate({1999, 12, 31, 23, 59, 59, 5, -210}),
              "Fri, 31 Dec 1999 23:59:59 -0330");
}

TEST(MessageDate, NewMessageCarriesItsCreationTimeInLocalTime) {
    const std::int64_t before = platform::CurrentTime();
    CMail mail;
    EXPECT_GE(mail.GetCreationTime(), before);
    EXPECT_LE(mail.GetCreationTime(), platform::CurrentTime());
    EXPECT_EQ(mail.GetDate(), message::FormatDate(platform::ToLocalTime(mail.GetCreationTime())));
}

TEST(MessageDate, LocalOffsetIncludesDaylightSaving) {
    KORVANE_POSIX_ONLY("the zone comes from TZ; Windows takes it from its own settings");
    const char* old = std::getenv("TZ");
    const std::optional<std::string> saved = old ? std::optional<std::string>(old) : std::nullopt;
    ::setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
    const std::int64_t winter = 1705320000; // 2024-01-15 12:00 UTC
    const std::int64_t summer = 1721044800; // 2024-07-15 12:00 UTC
    EXPECT_EQ(platform::LocalUtcOffsetMinutes(winter), 60);
    EXPECT_EQ(platform::LocalUtcOffsetMinutes(summer), 120);
    EXPECT_EQ(message::FormatDate(platform::ToLocalTime(summer)),
              "Mon, 15 Jul 2024 14:00:00 +0200");
    if (saved)
        ::setenv("TZ", saved->c_str(), 1);
    else
        ::unsetenv("TZ");
    ::tzset();
}

// --- Cross-process lock --------------------------------------------------------------------

namespace {

#ifdef _WIN32
// On Windows the holder is a second thread with a lock object of its own, taking the mutex by
// the name in lockFile ("DIR/NAME.lock"): the adapter excludes another object of the same
// process as it excludes another process (which the adapters' own tests hold it from).
class LockHolder {
public:
    explicit LockHolder(const std::string& lockFile, int holdMs = -1) {
        const std::size_t slash = lockFile.find_last_of("/\\");
        const std::string directory = lockFile.substr(0, slash);
        std::string name = lockFile.substr(slash + 1);
        name.resize(name.size() - std::string_view(".lock").size());
        std::promise<bool> ready;
        std::future<bool> locked = ready.get_future();
        m_thread = std::thread([this, directory, name, holdMs, ready = std::move(ready)]() mutable {
            platform::FileLock lock(directory);
            ready.set_value(lock.Acquire(name, std::chrono::milliseconds(0)));
            std::unique_lock<std::mutex> guard(m_mutex);
            if (holdMs >= 0)
                m_changed.wait_for(guard, std::chrono::milliseconds(holdMs), [] { return false; });
            else
                m_changed.wait(guard, [this] { return m_release; });
        });
        m_locked = locked.get();
    }
    ~LockHolder() {
        {
            std::lock_guard<std::mutex> guard(m_mutex);
            m_release = true;
        }
        m_changed.notify_all();
        m_thread.join();
    }
    bool locked() const { return m_locked; }

private:
    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_release = false;
    bool m_locked = false;
};
#else
// A second process that holds a lock file until the object goes, or for holdMs only. It locks
// the file by path, the way a server following the naming rule would.
class LockHolder {
public:
    explicit LockHolder(const std::string& lockFile, int holdMs = -1) {
        int ready[2];
        int release[2];
        if (::pipe(ready) != 0 || ::pipe(release) != 0)
            return;
        m_pid = ::fork();
        if (m_pid == 0) {
            ::close(ready[0]);
            ::close(release[1]);
            const int fd = ::open(lockFile.c_str(), O_RDONLY | O_CREAT, 0644);
            const char ok = fd >= 0 && ::flock(fd, LOCK_EX) == 0 ? 1 : 0;
            (void)!::write(ready[1], &ok, 1);
            if (holdMs >= 0) {
                const timespec hold{holdMs / 1000, (holdMs % 1000) * 1000000L};
                ::nanosleep(&hold, nullptr);
            } else {
                char c;
                (void)!::read(release[0], &c, 1); // returns when the parent closes its end
            }
            ::_exit(0);
        }
        ::close(ready[1]);
        ::close(release[0]);
        m_release = release[1];
        char ok = 0;
        m_locked = ::read(ready[0], &ok, 1) == 1 && ok == 1;
        ::close(ready[0]);
    }
    ~LockHolder() {
        if (m_release >= 0)
            ::close(m_release);
        if (m_pid > 0)
            ::waitpid(m_pid, nullptr, 0);
    }
    bool locked() const { return m_locked; }

private:
    pid_t m_pid = -1;
    int m_release = -1;
    bool m_locked = false;
};
#endif

std::chrono::milliseconds Since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start);
}

} // namespace

TEST(MessageLockName, IsTheBaseNameWithoutExtension) {
    EXPECT_EQ(message::LockNameFor("/var/spool/korvane/spool/info/reply.emt"), "reply");
    EXPECT_EQ(message::LockNameFor("c:\\mail\\spool\\info\\reply.emt"), "reply");
    EXPECT_EQ(message::LockNameFor("archive.tar.gz"), "archive.tar");
    EXPECT_EQ(message::LockNameFor("dir.d/reply"), "reply");
}

TEST_F(MessageFile, ServerHoldingTheLockMakesLoadAndSaveFailAfterTheLimit) {
    std::filesystem::create_directories(dir / "b");
    WriteBytes(path, "Subject: alt\r\n\r\n");
    LockHolder server(locks + "/reply.lock");
    ASSERT_TRUE(server.locked());
    testutil::CapturedLog log;

    CMail mail = NewMail();
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(mail.Load(path));
    EXPECT_GE(Since(start), 300ms);
    EXPECT_LT(Since(start), 3000ms);
    EXPECT_EQ(mail.GetSubject(), "");

    mail.SetSubject("neu");
    start = std::chrono::steady_clock::now();
    EXPECT_FALSE(mail.Save(dir / "b/reply.emt")) << "one name, one lock, whatever the folder";
    EXPECT_GE(Since(start), 300ms);
    EXPECT_THAT(log.texts(), testing::ElementsAre(testutil::MatchesPattern(
                                 "CMutex::Lock failed in Common.Message:[0-9]+, error=" +
                                 std::to_string(ETIMEDOUT))));
    EXPECT_FALSE(std::filesystem::exists(dir / "b/reply.emt"));

    // Another name is another lock.
    EXPECT_TRUE(mail.Save(dir / "other.emt"));
}

TEST_F(MessageFile, ServerReleasingWithinTheLimitOnlyDelaysSave) {
    LockHolder server(locks + "/reply.lock", 200);
    ASSERT_TRUE(server.locked());
    CMail mail = NewMail();
    mail.SetLocking(locks, 5000ms);
    mail.SetSubject("neu");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(mail.Save(path));
    EXPECT_GE(Since(start), 100ms);
    EXPECT_TRUE(mail.Load(path));
    EXPECT_EQ(mail.GetSubject(), "neu");
}

TEST_F(MessageFile, LoadAndSaveLeaveTheLockFreeAndTheFolderClean) {
    CMail mail = NewMail();
    mail.SetBody("x");
    ASSERT_TRUE(mail.Save(path));
    ASSERT_TRUE(mail.Load(path));
    platform::FileLock lock(locks);
    EXPECT_TRUE(lock.Acquire("reply", 0ms));
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_THAT(names, testing::ElementsAre("reply.emt"));
}

TEST(FileLock, ExcludesWithinTheProcessAndMakesItsDirectoryForEveryone) {
    testutil::TempDir dir;
    const std::string locks = dir / "locks";
    platform::FileLock first(locks);
    ASSERT_TRUE(first.Acquire("reply", 0ms));
#ifndef _WIN32 // a folder of lock files, open to the services' accounts; Windows names mutexes
    EXPECT_EQ(std::filesystem::status(locks).permissions(), std::filesystem::perms(01777));
#endif

    platform::FileLock second(locks);
    EXPECT_FALSE(second.Acquire("reply", 50ms));
    EXPECT_EQ(second.LastError(), ETIMEDOUT);
    platform::FileLock moved(std::move(first));
    EXPECT_FALSE(second.Acquire("reply", 0ms)) << "the lock moves with the object";
    moved.Release();
    EXPECT_TRUE(second.Acquire("reply", 0ms));
}

TEST(FileLock, RefusesALinkPlantedUnderTheLockName) {
    KORVANE_POSIX_ONLY("Windows' lock is a named mutex: there is no lock file to plant a link at");
#ifndef _WIN32
    testutil::TempDir dir;
    WriteBytes(dir / "target", "keep");
    std::filesystem::create_symlink(dir / "target", dir / "reply.lock");
    platform::FileLock lock(dir.path());
    EXPECT_FALSE(lock.Acquire("reply", 0ms));
    EXPECT_EQ(lock.LastError(), ELOOP);
    EXPECT_EQ(ReadBytes(dir / "target"), "keep");
#endif
}
