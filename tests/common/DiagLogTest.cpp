#include "Common/DiagLog.h"
#include "platform/Socket.h"
#include "platform/Thread.h"

#include "tests/TestUtil.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

using testutil::UdpReceiver;

std::string ThreadTag(unsigned long id) {
    char tag[32];
    std::snprintf(tag, sizeof tag, "[%04lX]", id);
    return tag;
}

class DiagLogToSyslog : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(receiver.ok()); }
    UdpReceiver receiver;
    CDiagLog log{std::make_unique<CSyslogSender>("Quibrel", 24, "127.0.0.1", receiver.port())};
    const std::string thread = ThreadTag(platform::CurrentThreadId());
};

TEST_F(DiagLogToSyslog, PriorityIsSeverityOrFacility) {
    log.LogError("%s", "x");
    EXPECT_EQ(receiver.Receive(), "<27> " + thread + " Quibrel: x");
    log.LogAt(7, "trace %d", 5);
    EXPECT_EQ(receiver.Receive(), "<31> " + thread + " Quibrel: trace 5");

    CDiagLog local0(std::make_unique<CSyslogSender>("T", 16 * 8, "localhost", receiver.port()));
    local0.LogAt(6, "y");
    EXPECT_EQ(receiver.Receive(), "<134> " + thread + " T: y");
}

TEST_F(DiagLogToSyslog, EachThreadSendsItsOwnId) {
    unsigned long otherId = 0;
    std::thread other([&] {
        otherId = platform::CurrentThreadId();
        log.LogError("from another thread");
    });
    other.join();
    ASSERT_NE(otherId, platform::CurrentThreadId());
    EXPECT_EQ(receiver.Receive(), "<27> " + ThreadTag(otherId) + " Quibrel: from another thread");
}

TEST_F(DiagLogToSyslog, DatagramIsCutToItsFirst512Bytes) {
    const std::string head = "<27> " + thread + " Quibrel: ";
    const std::string fits(512 - head.size(), 'f');
    log.LogError("%s", fits.c_str());
    EXPECT_EQ(receiver.Receive(), head + fits);

    // The 512th byte must still be text, not a terminator.
    std::string text(600, 'a');
    text[512 - head.size() - 1] = 'Z';
    log.LogError("%s", text.c_str());
    auto got = receiver.Receive();
    ASSERT_TRUE(got);
    ASSERT_EQ(got->size(), 512u);
    EXPECT_EQ(*got, (head + text).substr(0, 512));
    EXPECT_EQ(got->back(), 'Z');
}

TEST_F(DiagLogToSyslog, LostLinesDoNotDisturbTheCaller) {
    // Nobody listens on the port of a closed receiver; the host name resolves nowhere.
    int deadPort = 0;
    {
        UdpReceiver gone;
        deadPort = gone.port();
    }
    CSyslogSender nobody("Quibrel", 24, "127.0.0.1", deadPort);
    CSyslogSender nowhere("Quibrel", 24, "no-such-host.invalid", receiver.port());
    nobody.Write(3, "dropped");
    nowhere.Write(3, "dropped");
    nobody.Write(3, nullptr);

    log.LogError("still here");
    EXPECT_EQ(receiver.Receive(), "<27> " + thread + " Quibrel: still here");
}

// Keeps every line it is given.
struct Sink : CLogSender {
    std::vector<std::pair<int, std::string>> lines;
    void Write(int severity, const char* text) override { lines.emplace_back(severity, text); }
};

TEST(DiagLog, LinesAreFormattedAndCutAt1023Characters) {
    auto sink = std::make_unique<Sink>();
    Sink* lines = sink.get();
    CDiagLog log(std::move(sink));

    log.LogError("%d-%s-%c", 42, "ab", 'z');
    const std::string longText(2000, 'L');
    log.LogAt(7, "%s!", longText.c_str());

    ASSERT_EQ(lines->lines.size(), 2u);
    EXPECT_EQ(lines->lines[0], std::make_pair(3, std::string("42-ab-z")));
    EXPECT_EQ(lines->lines[1].first, 7);
    EXPECT_EQ(lines->lines[1].second, std::string(1023, 'L'));
}

TEST(DiagLog, WithoutSenderNothingHappensAndReplaceHandsBackThePrevious) {
    CDiagLog log(nullptr);
    log.LogError("nobody hears %s", "this");

    auto first = std::make_unique<Sink>();
    Sink* firstLines = first.get();
    EXPECT_EQ(log.ReplaceSender(std::move(first)), nullptr);
    log.LogAt(5, "one");
    auto previous = log.ReplaceSender(nullptr);
    EXPECT_EQ(previous.get(), firstLines);
    log.LogAt(5, "two");
    ASSERT_EQ(firstLines->lines.size(), 1u);
    EXPECT_EQ(firstLines->lines[0].second, "one");
}

// Counts lines; safe to share between threads, unlike Sink.
struct CountingSink : CLogSender {
    std::atomic<int> count{0};
    void Write(int, const char*) override { ++count; }
};

TEST(DiagLog, SenderCanBeReplacedWhileOtherThreadsLog) {
    CDiagLog log(std::make_unique<CountingSink>());
    std::atomic<bool> stop{false};
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t)
        writers.emplace_back([&] {
            while (!stop)
                log.LogAt(7, "busy %d", 1);
        });
    // Each replacement destroys the previous sink; a writer still inside it would be caught
    // by the address sanitizer.
    for (int i = 0; i < 2000; ++i)
        log.ReplaceSender(std::make_unique<CountingSink>());
    stop = true;
    for (auto& w : writers)
        w.join();
}

TEST(DiagLog, ProcessLogSendsToLocalSyslogPort) {
    UdpReceiver syslog(514);
    if (!syslog.ok())
        GTEST_SKIP() << "port 514 is taken or reserved here";
    EXPECT_EQ(&DiagLog(), &DiagLog());
    DiagLog().LogError("x");
    // Other library code of this process may log meanwhile; look for our line among them.
    const std::string expected = "<27> " + ThreadTag(platform::CurrentThreadId()) + " Quibrel: x";
    std::optional<std::string> got;
    for (int i = 0; i < 20 && (got = syslog.Receive()) && *got != expected;)
        ++i;
    EXPECT_EQ(got, expected);
}

} // namespace
