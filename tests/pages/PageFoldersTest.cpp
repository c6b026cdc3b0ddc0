// The folders tab on a configuration set held in memory: which copies of the queue and spool
// directories agree, what gets locked, which clashes are reported, what apply writes where,
// and the "Durchsuchen..." buttons.
#include "pages/PageFolders.h"
#include "pages/BrowseForFolder.h"
#include "platform/DefaultPaths.h"
#include "tests/ScriptedPrompter.h"
#include "tests/TestUtil.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace {

using P = CPageFolders;

// The scripted user, recording also what each picker was opened with.
class CUser : public CScriptedPrompter {
public:
    std::vector<std::pair<std::string, std::string>> pickers; // prompt, start folder

    std::optional<std::string> BrowseForFolder(std::string_view prompt,
                                               std::string_view start) override {
        pickers.emplace_back(prompt, start);
        return CScriptedPrompter::BrowseForFolder(prompt, start);
    }
};

std::vector<std::string> Keys(const CMapEx& map) {
    std::vector<std::string> keys;
    std::string key, value;
    for (auto position = map.GetStartPosition(); position;) {
        map.GetNextAssoc(position, key, value);
        keys.push_back(key);
    }
    return keys;
}

class PageFoldersTest : public testing::Test {
protected:
    CConfigSet config;
    CUser user;
    int cancelLocks = 0;

    P& Page() {
        if (!m_page) {
            m_page.emplace(config);
            m_page->SetLockCancelHandler([this] { ++cancelLocks; });
        }
        return *m_page;
    }
    P& Shown() {
        Page().OnFirstShow(user);
        return *m_page;
    }

private:
    std::optional<P> m_page;
};

// --- What the page shows --------------------------------------------------------------------

TEST_F(PageFoldersTest, ShowsTheDeliveryAgentsCopiesOrTheDefaults) {
    config.mdad.SetString("SpoolDir", "/data/spool");
    config.mdad.SetString("FilterDir", "/data/filtered");
    config.smtpd.SetString("QueueDir", "/elsewhere/queue"); // only compared, never shown
    P& page = Page();
    EXPECT_EQ(page.Value(P::kSpoolDir), "/data/spool");
    EXPECT_EQ(page.Value(P::kFilterDir), "/data/filtered");
    EXPECT_EQ(page.Value(P::kQueueDir), platform::kDefaultQueueDir);
    EXPECT_EQ(page.Value(P::kOutgoingDir), platform::kDefaultOutgoingDir);
    EXPECT_EQ(page.Value(P::kErrorDir), platform::kDefaultErrorDir);
    EXPECT_FALSE(page.IsModified());
}

TEST_F(PageFoldersTest, TableExchangesInFileOrderAndShowsQueuesFirst) {
    P& page = Page();
    EXPECT_STREQ(page.Caption(), "Verzeichnisse");
    std::vector<std::string> exchange;
    std::vector<std::string> screen(5);
    for (const CFieldSpec& field : page.Fields()) {
        exchange.push_back(field.id);
        EXPECT_EQ(field.type, FieldType::Text);
        EXPECT_EQ(field.maxLength, 255);
        ASSERT_TRUE(field.row >= 0 && field.row < 5);
        screen[field.row] = field.id;
    }
    EXPECT_EQ(exchange, (std::vector<std::string>{"ErrorDir", "OutgoingDir", "QueueDir", "SpoolDir",
                                                  "FilterDir"}));
    EXPECT_EQ(screen, (std::vector<std::string>{"QueueDir", "OutgoingDir", "SpoolDir", "ErrorDir",
                                                "FilterDir"}));
    EXPECT_STREQ(page.FindField(P::kErrorDir)->label, "&Ablageverzeichnis für fehlerhafte Mails:");
    ASSERT_EQ(page.Commands().size(), 5u);
    for (const CCommandSpec& command : page.Commands()) {
        EXPECT_STREQ(command.label, "Durchsuchen...");
        EXPECT_EQ(std::string(command.id), std::string("browse") + command.fieldId);
    }
}

// --- Checks on first display ----------------------------------------------------------------

TEST_F(PageFoldersTest, NoKeyAnywhereMeansEveryCopyAgrees) {
    P& page = Shown();
    EXPECT_TRUE(user.events().empty());
    EXPECT_FALSE(page.QueueLocked());
    EXPECT_FALSE(page.SpoolLocked());
    for (const CFieldSpec& field : page.Fields())
        EXPECT_TRUE(page.IsEnabled(field.id)) << field.id;
    for (const CCommandSpec& command : page.Commands())
        EXPECT_TRUE(page.IsEnabled(command.id)) << command.id;
}

TEST_F(PageFoldersTest, CopiesAgreeWhateverTheirLetterCase) {
    config.mdad.SetString("SpoolDir", "D:\\Mail\\Spool");
    for (CConfigMap* copy : {&config.smtpd, &config.pop3d, &config.imap4d})
        copy->SetString("SpoolDir", "d:\\mail\\spool");
    // Accented capitals fold as well: \xC4 is the capital of \xE4 in the code page.
    config.mdad.SetString("QueueDir", "D:\\\xC4nderungen");
    config.smtpd.SetString("QueueDir", "d:\\\xE4NDERUNGEN");
    P& page = Shown();
    EXPECT_TRUE(user.events().empty());
    EXPECT_FALSE(page.QueueLocked());
    EXPECT_FALSE(page.SpoolLocked());
    EXPECT_EQ(page.Value(P::kSpoolDir), "D:\\Mail\\Spool");
}

TEST_F(PageFoldersTest, DisagreeingQueueIsReportedAndLocked) {
    config.mdad.SetString("QueueDir", "/data/queue");
    config.smtpd.SetString("QueueDir", "/data/queue/"); // no normalisation: this differs
    user.ExpectMessage(57347, MessageKind::Warning, Answer::Ok);
    P& page = Shown();
    EXPECT_TRUE(page.QueueLocked());
    EXPECT_FALSE(page.SpoolLocked());
    EXPECT_FALSE(page.IsEnabled(P::kQueueDir));
    EXPECT_FALSE(page.IsEnabled(P::kBrowseQueueDir));
    EXPECT_TRUE(page.IsEnabled(P::kSpoolDir));
    EXPECT_TRUE(page.IsEnabled(P::kBrowseSpoolDir));
    EXPECT_EQ(page.Value(P::kQueueDir), "/data/queue");
}

TEST_F(PageFoldersTest, SpoolOnlyInTheDeliveryAgentsFileDisagreesWithTheOthersDefaults) {
    config.mdad.SetString("SpoolDir", "/data/spool");
    user.ExpectMessage(57348, MessageKind::Warning, Answer::Ok);
    P& page = Shown();
    EXPECT_TRUE(page.SpoolLocked());
    EXPECT_FALSE(page.QueueLocked());
    EXPECT_FALSE(page.IsEnabled(P::kSpoolDir));
    EXPECT_FALSE(page.IsEnabled(P::kBrowseSpoolDir));
    EXPECT_TRUE(page.IsEnabled(P::kQueueDir));
    EXPECT_EQ(page.Value(P::kSpoolDir), "/data/spool");
}

TEST_F(PageFoldersTest, LastSpoolCopyIsComparedToo) {
    // Only the last file in the chain differs: it must still be looked at.
    config.imap4d.SetString("SpoolDir", "/imap/spool");
    user.ExpectMessage(57348);
    EXPECT_TRUE(Shown().SpoolLocked());
}

TEST_F(PageFoldersTest, FileThatFailedToLoadHoldsNoCopyToCompare) {
    // "smtpd.cfg" could not be read: its defaults are no copy of the administrator's, so the
    // disagreeing defaults say nothing. The other files are still compared.
    config.mdad.SetString("QueueDir", "/data/queue");
    config.mdad.SetString("SpoolDir", "/data/spool");
    config.pop3d.SetString("SpoolDir", "/data/spool");
    config.imap4d.SetString("SpoolDir", "/data/spool");
    config.MarkLoadFailed(&config.smtpd);
    P& page = Shown();
    EXPECT_TRUE(user.events().empty());
    EXPECT_FALSE(page.QueueLocked());
    EXPECT_FALSE(page.SpoolLocked());
}

TEST_F(PageFoldersTest, BothCopiesDisagreeingAreReportedQueueFirst) {
    config.smtpd.SetString("QueueDir", "/smtp/queue");
    config.smtpd.SetString("SpoolDir", "/smtp/spool");
    user.ExpectMessage(57347).ExpectMessage(57348);
    P& page = Shown();
    EXPECT_TRUE(page.QueueLocked());
    EXPECT_TRUE(page.SpoolLocked());
}

TEST_F(PageFoldersTest, ClashingDirectoriesAreReportedAsErrorsInOrder) {
    for (CConfigMap* map : {&config.smtpd, &config.pop3d, &config.imap4d, &config.mdad})
        map->SetString("SpoolDir", "/data/Same");
    config.smtpd.SetString("QueueDir", "/DATA/same");
    config.mdad.SetString("QueueDir", "/data/same");
    config.mdad.SetString("OutgoingDir", "/data/SAME");
    user.ExpectMessage(57349).ExpectMessage(57350).ExpectMessage(57351);
    P& page = Shown();
    EXPECT_EQ(user.kinds, std::vector<MessageKind>(3, MessageKind::Error));
    // Warnings only: nothing is locked or changed.
    EXPECT_FALSE(page.QueueLocked());
    EXPECT_FALSE(page.SpoolLocked());
    EXPECT_EQ(page.Value(P::kOutgoingDir), "/data/SAME");
}

// --- Apply ----------------------------------------------------------------------------------

TEST_F(PageFoldersTest, ApplyWritesEveryCopyInOrderAndLocksCancel) {
    P& page = Shown();
    page.SetValue(P::kSpoolDir, "/new/spool");
    page.SetValue(P::kQueueDir, "/new/queue");
    page.SetModified();
    // Missing folders are offered for creation, in screen order; "Nein" writes them as typed.
    user.ExpectText("\"/new/queue\"", Answer::No).ExpectText("\"/new/spool\"", Answer::No);
    EXPECT_TRUE(page.OnApply(user));
    EXPECT_EQ(cancelLocks, 1);
    EXPECT_FALSE(page.IsModified());

    for (CConfigMap* map : {&config.smtpd, &config.pop3d, &config.imap4d, &config.mdad}) {
        EXPECT_EQ(map->GetString("SpoolDir", ""), "/new/spool");
        EXPECT_TRUE(map->IsModified());
    }
    EXPECT_EQ(config.smtpd.GetString("QueueDir", ""), "/new/queue");
    EXPECT_EQ(config.mdad.GetString("QueueDir", ""), "/new/queue");
    EXPECT_EQ(Keys(config.smtpd), (std::vector<std::string>{"QueueDir", "SpoolDir"}));
    EXPECT_EQ(Keys(config.pop3d), std::vector<std::string>{"SpoolDir"});
    EXPECT_EQ(Keys(config.imap4d), std::vector<std::string>{"SpoolDir"});
    // New keys are appended, so the order in the file is the order of writing.
    EXPECT_EQ(Keys(config.mdad), (std::vector<std::string>{"QueueDir", "SpoolDir", "OutgoingDir",
                                                           "ErrorDir", "FilterDir"}));
    EXPECT_EQ(config.mdad.GetString("ErrorDir", ""), platform::kDefaultErrorDir);
    EXPECT_TRUE(config.syslogd.IsEmpty());
    EXPECT_EQ(user.events().size(), 2u);
}

TEST_F(PageFoldersTest, ApplyLeavesLockedKeysUntouchedInEveryFile) {
    // The spool is set only in smtpd.cfg and the queue copies differ: both get locked.
    config.smtpd.SetString("SpoolDir", "/smtp/spool");
    config.smtpd.SetString("QueueDir", "/smtp/queue");
    config.mdad.SetString("QueueDir", "/mda/queue");
    user.ExpectMessage(57347).ExpectMessage(57348);
    P& page = Shown();
    page.SetValue(P::kErrorDir, "/new/error");
    user.ExpectText("\"/new/error\"", Answer::No);
    EXPECT_TRUE(page.OnApply(user));

    EXPECT_EQ(config.smtpd.GetString("SpoolDir", ""), "/smtp/spool");
    EXPECT_EQ(config.smtpd.GetString("QueueDir", ""), "/smtp/queue");
    EXPECT_EQ(config.mdad.GetString("QueueDir", ""), "/mda/queue");
    // Not even the delivery agent's own file gets the shown default written into it.
    EXPECT_FALSE(config.mdad.Contains("SpoolDir"));
    EXPECT_FALSE(config.pop3d.Contains("SpoolDir"));
    EXPECT_FALSE(config.imap4d.Contains("SpoolDir"));
    EXPECT_EQ(config.mdad.GetString("ErrorDir", ""), "/new/error");
    EXPECT_EQ(cancelLocks, 1);
}

TEST_F(PageFoldersTest, EmptiedDirectoryRemovesItsKey) {
    config.mdad.SetString("OutgoingDir", "/data/outgoing");
    config.mdad.SetString("FilterDir", "/data/filtered");
    P& page = Shown();
    page.SetValue(P::kOutgoingDir, "");
    page.OnApply(user);
    EXPECT_FALSE(config.mdad.Contains("OutgoingDir"));
    EXPECT_EQ(config.mdad.GetString("FilterDir", ""), "/data/filtered");
}

TEST_F(PageFoldersTest, ClashTypedInAfterwardsIsReportedOnApplyButStillWritten) {
    P& page = Shown();
    page.SetValue(P::kOutgoingDir, "/data/mail");
    page.SetValue(P::kSpoolDir, "/DATA/mail");
    user.ExpectText("\"/data/mail\"", Answer::No).ExpectText("\"/DATA/mail\"", Answer::No);
    user.ExpectMessage(57350, MessageKind::Error, Answer::Ok);
    EXPECT_TRUE(page.OnApply(user));
    EXPECT_EQ(config.mdad.GetString("OutgoingDir", ""), "/data/mail");
    EXPECT_EQ(config.pop3d.GetString("SpoolDir", ""), "/DATA/mail");
    user.VerifyAllMet();

    // Told once: applying again is silent, until the clash goes and comes back. A folder the
    // user chose not to create is not offered again.
    EXPECT_TRUE(page.OnApply(user));
    page.SetValue(P::kSpoolDir, "/data/spool");
    user.ExpectText("\"/data/spool\"", Answer::No);
    EXPECT_TRUE(page.OnApply(user));
    page.SetValue(P::kSpoolDir, "/data/mail");
    user.ExpectMessage(57350);
    EXPECT_TRUE(page.OnApply(user));
}

TEST_F(PageFoldersTest, ClashReportedOnFirstDisplayIsNotRepeatedOnApply) {
    config.mdad.SetString("QueueDir", "/data/same");
    config.smtpd.SetString("QueueDir", "/data/same");
    config.mdad.SetString("OutgoingDir", "/data/same");
    user.ExpectMessage(57351);
    P& page = Shown();
    user.VerifyAllMet();
    EXPECT_TRUE(page.OnApply(user));
    EXPECT_EQ(user.events().size(), 1u);
}

// --- Edits and the folder picker ------------------------------------------------------------

TEST_F(PageFoldersTest, EditingAFieldMarksThePageChanged) {
    P& page = Shown();
    std::vector<bool> notified;
    page.SetModifiedHandler([&](bool modified) { notified.push_back(modified); });
    page.OnFieldEdited("NoSuchField");
    EXPECT_FALSE(page.IsModified());
    page.OnFieldEdited(P::kFilterDir);
    EXPECT_TRUE(page.IsModified());
    EXPECT_EQ(notified, std::vector<bool>{true});
}

TEST_F(PageFoldersTest, BrowsingStartsAtTheFieldWithItsOwnPrompt) {
    P& page = Shown();
    const unsigned before = page.Revision();
    user.ExpectFolder(std::nullopt);
    page.OnCommand(P::kBrowseQueueDir, user);
    ASSERT_EQ(user.pickers.size(), 1u);
    EXPECT_EQ(user.pickers[0].first,
              "Bitte w\xE4hlen Sie das Verzeichnis f\xFCr die lokale Warteschlange:");
    EXPECT_EQ(user.pickers[0].second, platform::kDefaultQueueDir);
    // Cancelled: nothing changes.
    EXPECT_EQ(page.Revision(), before);
    EXPECT_FALSE(page.IsModified());
    EXPECT_EQ(page.Value(P::kQueueDir), platform::kDefaultQueueDir);
}

TEST_F(PageFoldersTest, ChosenFolderReplacesTheFieldAndMarksThePageChanged) {
    P& page = Shown();
    const unsigned before = page.Revision();
    user.ExpectFolder("/srv/mail/spool");
    page.OnCommand(P::kBrowseSpoolDir, user);
    EXPECT_EQ(page.Value(P::kSpoolDir), "/srv/mail/spool");
    EXPECT_TRUE(page.IsModified());
    EXPECT_GT(page.Revision(), before); // the view redraws all five fields
    EXPECT_EQ(page.Value(P::kQueueDir), platform::kDefaultQueueDir);
}

TEST_F(PageFoldersTest, RelativeOrOverlongFoldersAreNotTaken) {
    P& page = Shown();
    // A relative folder is refused with a word; a picker that names no path says nothing.
    user.ExpectFolder("mail/outgoing")
        .ExpectText("\"mail/outgoing\" (Ausgehendes Warteschlangenverzeichnis) ist kein "
                    "vollst\xE4ndiger Pfad")
        .ExpectFolder("");
    page.OnCommand(P::kBrowseOutgoingDir, user);
    page.OnCommand(P::kBrowseOutgoingDir, user);
    EXPECT_EQ(page.Value(P::kOutgoingDir), platform::kDefaultOutgoingDir);
    EXPECT_FALSE(page.IsModified());
    user.VerifyAllMet();

    // The field holds 255 characters; a longer path would be cut by the control.
    user.ExpectFolder("/" + std::string(255, 'x'))
        .ExpectText("Geben Sie nicht mehr als 255 Zeichen ein.");
    page.OnCommand(P::kBrowseOutgoingDir, user);
    EXPECT_EQ(page.Value(P::kOutgoingDir), platform::kDefaultOutgoingDir);
    EXPECT_FALSE(page.IsModified());
}

TEST_F(PageFoldersTest, ARelativeOrMissingFolderTypedInIsRefusedOrOfferedForCreation) {
    testutil::TempDir dir;
    P& page = Shown();
    page.SetValue(P::kSpoolDir, "spool");
    user.ExpectText("\"spool\" (Spoolverzeichnis f\xFCr Mailkonten) ist kein vollst\xE4ndiger "
                    "Pfad");
    EXPECT_FALSE(page.OnApply(user)); // the sheet stays open, nothing written
    EXPECT_FALSE(config.mdad.Contains("SpoolDir"));
    EXPECT_EQ(cancelLocks, 0);
    user.VerifyAllMet();
#ifndef _WIN32
    page.SetValue(P::kSpoolDir, "c:\\mail\\spool"); // a drive means nothing here
    user.ExpectText("kein vollst\xE4ndiger Pfad");
    EXPECT_FALSE(page.OnApply(user));
#endif

    // "Ja" creates the folder with the folders above it that are missing.
    const std::string spool = dir / "new/spool";
    page.SetValue(P::kSpoolDir, spool);
    user.ExpectText("\"" + spool + "\" (Spoolverzeichnis f\xFCr Mailkonten) ist nicht vorhanden",
                    Answer::Yes);
    EXPECT_TRUE(page.OnApply(user));
    EXPECT_TRUE(std::filesystem::is_directory(spool));
    EXPECT_EQ(config.pop3d.GetString("SpoolDir", ""), spool);

    // A creation that fails is said, and nothing is written; a file is no folder.
    const std::string file = dir / "file";
    testutil::WriteBytes(file, "x");
    page.SetValue(P::kErrorDir, file + "/error");
    user.ExpectText("\"" + file + "/error\"", Answer::Yes)
        .ExpectText("konnte nicht angelegt werden");
    EXPECT_FALSE(page.OnApply(user));
    EXPECT_EQ(config.mdad.GetString("ErrorDir", ""), platform::kDefaultErrorDir); // as before
    page.SetValue(P::kErrorDir, file);
    user.ExpectText("ist kein Verzeichnis");
    EXPECT_FALSE(page.OnApply(user));
}

TEST_F(PageFoldersTest, LockedDirectoryCannotBeBrowsed) {
    config.mdad.SetString("SpoolDir", "/data/spool");
    user.ExpectMessage(57348);
    P& page = Shown();
    user.VerifyAllMet();
    page.OnCommand(P::kBrowseSpoolDir, user); // no picker expected
    page.OnCommand("browseNothing", user);
    EXPECT_EQ(user.events().size(), 1u);
    EXPECT_EQ(page.Value(P::kSpoolDir), "/data/spool");
    EXPECT_FALSE(page.IsModified());
}

TEST(BrowseForFolderTest, AbsolutePathsOfEitherSystemAreTaken) {
    for (const char* path : {"/", "/var/mail", "c:\\mail", "D:/mail", "\\\\server\\mail"})
        EXPECT_TRUE(IsAbsoluteFolderPath(path)) << path;
    for (const char* path : {"", "mail", "./mail", "c:mail", "c:", "\\mail", "\\\\", "1:\\x"})
        EXPECT_FALSE(IsAbsoluteFolderPath(path)) << path;
}

TEST(BrowseForFolderTest, PromptMissingFromTheTableOpensNoPicker) {
    CScriptedPrompter user;
    std::string target = "/keep";
    EXPECT_FALSE(BrowseForFolder(user, target, 1));
    EXPECT_TRUE(user.events().empty());

    user.ExpectFolder("E:\\Mail");
    EXPECT_TRUE(BrowseForFolder(user, target, 158));
    EXPECT_EQ(target, "E:\\Mail");
}

} // namespace
