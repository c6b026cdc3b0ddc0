#include "pages/Help.h"

#include "platform/FileSystem.h"
#include "tests/ScriptedPrompter.h"
#include "tests/TestUtil.h"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

constexpr const char* kFailure = "Die Hilfe konnte nicht gestartet werden.";

// One log for everything that happens around a request, in order: the wait cursor, the viewer,
// the message boxes.
using Log = std::vector<std::string>;

// The scripted user, who also notes in the shared log when a message box opens and with what
// icon.
class CLoggingPrompter : public CScriptedPrompter {
public:
    explicit CLoggingPrompter(Log& log) : m_log(log) {}
    Answer ShowMessage(const PromptMessage& message) override {
        m_log.push_back(message.kind == MessageKind::Error ? "error box" : "other box");
        return CScriptedPrompter::ShowMessage(message);
    }

private:
    Log& m_log;
};

// A viewer that shows a page when its file is there, like the real one, and notes every call.
class CFakeViewer : public CHelpViewer {
public:
    struct Call {
        unsigned command;
        unsigned long data;
    };
    CFakeViewer(Log& log, std::vector<Call>& calls) : m_log(log), m_calls(calls) {}
    bool Show(const std::string& helpFolder, unsigned command, unsigned long data) override {
        m_log.push_back("show");
        m_calls.push_back({command, data});
        if (throws)
            throw std::runtime_error("viewer broke down");
        const std::string page = help::PagePath(helpFolder, command, data);
        return !page.empty() && platform::StatPath(page).has_value();
    }
    bool throws = false;

private:
    Log& m_log;
    std::vector<Call>& m_calls;
};

class HelpRouterTest : public ::testing::Test {
protected:
    HelpRouterTest() {
        testutil::WriteBytes(m_help / "index.html", "<html><title>Inhalt</title></html>");
        testutil::WriteBytes(m_help / "folders.html", "<html><title>Verzeichnisse</title></html>");
    }

    // A router over the temporary help folder whose factory makes a fake viewer and counts how
    // often it was asked.
    std::unique_ptr<CHelpRouter> MakeRouter(bool viewerAvailable = true) {
        return MakeRouterAt(m_help.path(), viewerAvailable);
    }
    std::unique_ptr<CHelpRouter> MakeRouterAt(const std::string& folder, bool viewerAvailable) {
        auto factory = [this, viewerAvailable]() -> std::unique_ptr<CHelpViewer> {
            ++factoryCalls;
            if (!viewerAvailable)
                return nullptr;
            auto viewer = std::make_unique<CFakeViewer>(log, calls);
            viewer->throws = viewerThrows;
            return viewer;
        };
        auto busy = [this](bool on) {
            log.push_back(on ? "busy on" : "busy off");
            busyNow = on;
        };
        return std::make_unique<CHelpRouter>(prompter, folder, factory, busy);
    }

    testutil::TempDir m_help;
    Log log;
    std::vector<CFakeViewer::Call> calls;
    CLoggingPrompter prompter{log};
    int factoryCalls = 0;
    bool busyNow = false;
    bool viewerThrows = false;
};

TEST_F(HelpRouterTest, RequestCommandsReachTheViewerMapped) {
    struct Case {
        unsigned request;
        unsigned long data;
        unsigned viewerCommand;
        bool shown; // commands the viewer does not know show nothing, like unknown contexts
    };
    const Case cases[] = {
        {1, help::ContextOf(help::resource::kPageFolders), 15, true}, // context help
        {3, 0, 1, true},                                              // contents
        {11, 0, 0, true},                                             // start page
        {0, 0, 0, true}, // no counterpart: passed on unchanged
        {2, 0, 2, false},
        {15, 7, 15, false},
        {257, 9, 257, false},
    };
    auto router = MakeRouter();
    for (const Case& c : cases) {
        calls.clear();
        if (!c.shown)
            prompter.ExpectText(kFailure);
        router->WinHelp(c.data, c.request);
        ASSERT_EQ(calls.size(), 1u) << "request " << c.request;
        EXPECT_EQ(calls[0].command, c.viewerCommand) << "request " << c.request;
        EXPECT_EQ(calls[0].data, c.data) << "request " << c.request;
        prompter.VerifyAllMet();
    }
    EXPECT_EQ(factoryCalls, 1);
}

TEST_F(HelpRouterTest, DeliveryAdvancedContextReachesTheViewerAsContextCommand) {
    auto router = MakeRouter();
    prompter.ExpectText(kFailure); // its page is not written yet
    router->WinHelp(0x20000 + 150, help::kRequestContext);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].command, 15u);
    EXPECT_EQ(calls[0].data, 0x20096ul);
}

TEST_F(HelpRouterTest, PageThatExistsIsShownWithoutMessage) {
    auto router = MakeRouter();
    router->WinHelp(help::ContextOf(help::resource::kPageFolders), help::kRequestContext);
    router->WinHelp(0, help::kRequestContents);
    EXPECT_EQ(calls.size(), 2u);
    EXPECT_EQ(prompter.events().size(), 0u);
}

TEST_F(HelpRouterTest, UnknownContextFailsWithTheMessageEveryTime) {
    auto router = MakeRouter();
    prompter.ExpectText(kFailure).ExpectText(kFailure);
    router->WinHelp(0x20000 + 999, help::kRequestContext);
    router->WinHelp(0x20000 + 999, help::kRequestContext);
    EXPECT_EQ(calls.size(), 2u);
}

TEST_F(HelpRouterTest, NoViewerFailsEveryRequestAndIsLookedForOnce) {
    auto router = MakeRouter(/*viewerAvailable=*/false);
    prompter.ExpectText(kFailure).ExpectText(kFailure).ExpectText(kFailure);
    router->WinHelp(0, help::kRequestContents);
    router->WinHelp(help::ContextOf(help::resource::kPageFolders), help::kRequestContext);
    router->WinHelp(0, help::kRequestFinder);
    EXPECT_EQ(factoryCalls, 1);
    EXPECT_EQ(log, (Log{"busy on", "busy off", "error box", "busy on", "busy off", "error box",
                        "busy on", "busy off", "error box"}));
}

TEST_F(HelpRouterTest, MissingHelpFolderFailsEveryRequestWithoutMakingAViewer) {
    auto router = MakeRouterAt(m_help / "nowhere", true);
    prompter.ExpectText(kFailure).ExpectText(kFailure);
    router->WinHelp(0, help::kRequestContents);
    router->WinHelp(help::ContextOf(help::resource::kPageFolders), help::kRequestContext);
    EXPECT_EQ(factoryCalls, 0);
    EXPECT_TRUE(calls.empty());
    EXPECT_FALSE(busyNow);
}

TEST_F(HelpRouterTest, HelpFolderThatAppearsLaterStaysFailed) {
    // The first look decides for the whole run, as for the viewer itself.
    auto router = MakeRouterAt(m_help / "later", true);
    prompter.ExpectText(kFailure).ExpectText(kFailure);
    router->WinHelp(0, help::kRequestContents);
    ASSERT_TRUE(platform::MakeDirectory(m_help / "later"));
    testutil::WriteBytes(m_help / "later/index.html", "<html></html>");
    router->WinHelp(0, help::kRequestContents);
    EXPECT_EQ(factoryCalls, 0);
}

TEST_F(HelpRouterTest, FactoryThatThrowsCountsAsNoViewer) {
    int made = 0;
    CHelpRouter router(prompter, m_help.path(), [&made]() -> std::unique_ptr<CHelpViewer> {
        ++made;
        throw std::runtime_error("no viewer on this desktop");
    });
    prompter.ExpectText(kFailure).ExpectText(kFailure);
    router.WinHelp(0, help::kRequestContents);
    router.WinHelp(0, help::kRequestContents);
    EXPECT_EQ(made, 1);
}

TEST_F(HelpRouterTest, WaitCursorIsOnWhileTheViewerWorksAndOffBeforeTheMessage) {
    auto router = MakeRouter();
    router->WinHelp(0, help::kRequestContents);
    EXPECT_EQ(log, (Log{"busy on", "show", "busy off"}));

    log.clear();
    prompter.ExpectText(kFailure);
    router->WinHelp(0x20000 + 150, help::kRequestContext);
    EXPECT_EQ(log, (Log{"busy on", "show", "busy off", "error box"}));
    EXPECT_FALSE(busyNow);
}

TEST_F(HelpRouterTest, ViewerThatBreaksDownGivesTheMessageAndTheCursorBack) {
    viewerThrows = true;
    auto router = MakeRouter();
    prompter.ExpectText(kFailure).ExpectText(kFailure);
    router->WinHelp(0, help::kRequestContents);
    router->WinHelp(0, help::kRequestContents);
    EXPECT_EQ(log, (Log{"busy on", "show", "busy off", "error box", "busy on", "show", "busy off",
                        "error box"}));
    // The viewer itself was made; only the page failed, so it is asked again each time.
    EXPECT_EQ(factoryCalls, 1);
    EXPECT_EQ(calls.size(), 2u);
}

TEST_F(HelpRouterTest, RouterWithoutCursorHookStillWorks) {
    CHelpRouter router(prompter, m_help / "nowhere", nullptr);
    prompter.ExpectText(kFailure);
    router.WinHelp(0, help::kRequestContents);
}

TEST(HelpPages, PathOfEachViewerCommand) {
    const std::string folder = "/opt/korvane/help";
    const std::string in = folder + platform::kPathSeparator;
    EXPECT_EQ(help::PagePath(folder, help::kViewContents, 0), in + "index.html");
    EXPECT_EQ(help::PagePath(folder, help::kViewContents, 12345), in + "index.html");
    EXPECT_EQ(help::PagePath(folder, help::kViewTopic, 0), in + "index.html");
    EXPECT_EQ(help::PagePath(folder, help::kViewContext, 0x20000 + 131), in + "folders.html");
    EXPECT_EQ(help::PagePath(folder, help::kViewTopic, 0x20000 + 128), in + "sheet.html");
    EXPECT_EQ(help::PagePath(folder, help::kViewContext, 0x20000 + 150),
              in + "delivery-advanced.html");
    EXPECT_EQ(help::PagePath(folder, help::kViewContext, 0), "");
    EXPECT_EQ(help::PagePath(folder, help::kViewContext, 131), ""); // without the base
    EXPECT_EQ(help::PagePath(folder, 2, 0), "");
}

TEST(HelpPages, EveryContextHasOnePageAndEveryPageOneContext) {
    const auto pages = help::ContextPages();
    for (std::size_t i = 0; i < pages.size(); ++i) {
        EXPECT_GE(pages[i].context, help::kDialogContextBase);
        for (std::size_t j = i + 1; j < pages.size(); ++j) {
            EXPECT_NE(pages[i].context, pages[j].context) << pages[i].file;
            EXPECT_STRNE(pages[i].file, pages[j].file);
        }
        EXPECT_STRNE(pages[i].file, help::kContentsPage);
    }
}

// What the program puts between a folder and a name.
const std::string kSeparator(1, platform::kPathSeparator);

TEST(HelpFolder, BesideTheProgramFirst) {
    testutil::TempDir root;
    ASSERT_TRUE(platform::MakeDirectory(root / "bin"));
    ASSERT_TRUE(platform::MakeDirectory(root / ("bin" + kSeparator + "help")));
    ASSERT_TRUE(platform::MakeDirectory(root / "source-help"));
    EXPECT_EQ(help::FindHelpFolder(root / "bin/korvane-config", root / "source-help"),
              root / ("bin" + kSeparator + "help"));
}

TEST(HelpFolder, FallbackWhenNothingIsBesideTheProgram) {
    testutil::TempDir root;
    ASSERT_TRUE(platform::MakeDirectory(root / "bin"));
    ASSERT_TRUE(platform::MakeDirectory(root / "source-help"));
    EXPECT_EQ(help::FindHelpFolder(root / "bin/korvane-config", root / "source-help"),
              root / "source-help");
}

TEST(HelpFolder, BesideTheProgramWhenTheFallbackIsMissingToo) {
    testutil::TempDir root;
    ASSERT_TRUE(platform::MakeDirectory(root / "bin"));
    EXPECT_EQ(help::FindHelpFolder(root / "bin/korvane-config", root / "gone"),
              root / ("bin" + kSeparator + "help"));
    EXPECT_EQ(help::FindHelpFolder(root / "bin/korvane-config", ""),
              root / ("bin" + kSeparator + "help"));
}

TEST(HelpFolder, AFileNamedHelpIsNoHelpFolder) {
    testutil::TempDir root;
    testutil::WriteBytes(root / "help", "not a folder");
    ASSERT_TRUE(platform::MakeDirectory(root / "source-help"));
    EXPECT_EQ(help::FindHelpFolder(root / "korvane-config", root / "source-help"),
              root / "source-help");
}

} // namespace
