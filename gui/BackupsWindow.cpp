#include "gui/BackupsWindow.h"

#include "app/BackupHistory.h"
#include "app/QuibrelApp.h"
#include "app/Strings.h"
#include "gui/ChangesWindow.h"
#include "gui/TextCodec.h"
#include "pages/Help.h"
#include "platform/FileSystem.h"
#include "platform/ServiceManager.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QShortcut>
#include <QSplitter>
#include <QTextEdit>
#include <QThread>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdio>

namespace {

constexpr const char* kNoFolder =
    "Es gibt noch keine Sicherungen. Das Programm legt sie beim Speichern im Ordner „%s“ an.";
constexpr const char* kFolderUnreadable =
    "Der Ordner der Sicherungen „%s“ kann nicht gelesen werden.";
constexpr const char* kNoDifference = "Keine Unterschiede zur heutigen Datei.";
constexpr const char* kSameAsToday = " (wie heute)";
constexpr const char* kCopyUnreadable = "Die Kopie kann nicht gelesen werden.";
constexpr const char* kNewestKept =
    "Die neueste Sicherung kann nicht gelöscht werden: Sie enthält den Stand vor dem letzten "
    "Speichern.";
constexpr const char* kAskRestore =
    "Sollen %s aus der Sicherung vom %s wiederhergestellt werden?\n\n"
    "Vorher legt das Programm eine Sicherung der heutigen Dateien an. Mit ihr können Sie die "
    "Wiederherstellung rückgängig machen.";
constexpr const char* kRestored =
    "Die Sicherung wurde wiederhergestellt. Das Programm lädt die Konfiguration jetzt neu.";
constexpr const char* kNothingToDo =
    "Die gewählten Dateien sind schon so, wie die Sicherung sie enthält.";
constexpr const char* kAskDelete =
    "Soll die Sicherung vom %s gelöscht werden? Ihre Kopien lassen sich danach nicht mehr "
    "wiederherstellen.";
constexpr const char* kDeleteFailed = "Nicht jede Kopie konnte gelöscht werden: %s";

// The restart of the services a save does, here without a sheet that owns a service manager.
void RestartMachineServices(CPrompter& prompter) {
    const auto services = platform::CreateServiceManager();
    RestartRunningServices(*services, prompter, [](unsigned ms) { QThread::msleep(ms); });
}

std::string Joined(const std::vector<std::string>& names, const char* separator) {
    std::string text;
    for (const std::string& name : names)
        text += (text.empty() ? "" : separator) + name;
    return text;
}

} // namespace

QString SizeText(std::uint64_t bytes) {
    if (bytes < 1024)
        return QStringLiteral("%1 Bytes").arg(bytes);
    const bool megabytes = bytes >= 1024 * 1024;
    const double value = static_cast<double>(bytes) / (megabytes ? 1024.0 * 1024.0 : 1024.0);
    QString number = QString::number(value, 'f', 1);
    number.replace(QLatin1Char('.'), QLatin1Char(','));
    return number + (megabytes ? QStringLiteral(" MB") : QStringLiteral(" KB"));
}

CBackupsWindow::CBackupsWindow(std::string configDir, bool mayRestore, CPrompter& prompter,
                               QWidget* parent)
    : QDialog(parent), m_configDir(std::move(configDir)), m_mayRestore(mayRestore),
      m_prompter(prompter), m_restartServices(RestartMachineServices) {
    setWindowTitle(FromUtf8(kCaption));
    setSizeGripEnabled(true);
    auto* layout = new QVBoxLayout(this);

    m_folderMessage = new QLabel(this);
    m_folderMessage->setWordWrap(true);
    m_folderMessage->hide();
    layout->addWidget(m_folderMessage);

    auto* splitter = new QSplitter(Qt::Vertical, this);
    m_moments = new QTreeWidget(splitter);
    m_moments->setRootIsDecorated(false);
    m_moments->setUniformRowHeights(true);
    m_moments->setHeaderLabels(
        {QStringLiteral("Zeitpunkt"), QStringLiteral("Dateien"), FromUtf8("Größe")});
    m_moments->header()->setStretchLastSection(false);
    m_moments->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    m_moments->header()->setSectionResizeMode(1, QHeaderView::Stretch);
    m_moments->header()->setSectionResizeMode(2, QHeaderView::ResizeToContents);
    auto* lower = new QSplitter(Qt::Horizontal, splitter);
    m_copies = new QListWidget(lower);
    m_diff = CreateDiffView(lower);
    lower->setStretchFactor(0, 1);
    lower->setStretchFactor(1, 3);
    lower->setSizes({220, 660});
    splitter->addWidget(m_moments);
    splitter->addWidget(lower);
    splitter->setStretchFactor(0, 1);
    splitter->setStretchFactor(1, 2);
    layout->addWidget(splitter, 1);

    m_foreignNote = new QLabel(this);
    m_foreignNote->hide();
    layout->addWidget(m_foreignNote);
    m_restoreNote = new QLabel(FromUtf8(kRestoreBlocked), this);
    m_restoreNote->setWordWrap(true);
    m_restoreNote->setVisible(!m_mayRestore);
    layout->addWidget(m_restoreNote);

    auto* buttons = new QDialogButtonBox(this);
    m_restore =
        buttons->addButton(QStringLiteral("Wiederherstellen"), QDialogButtonBox::ActionRole);
    m_delete = buttons->addButton(FromUtf8("Löschen"), QDialogButtonBox::ActionRole);
    m_help = buttons->addButton(QStringLiteral("Hilfe"), QDialogButtonBox::HelpRole);
    m_close = buttons->addButton(FromUtf8("Schließen"), QDialogButtonBox::RejectRole);
    layout->addWidget(buttons);
    connect(m_restore, &QPushButton::clicked, this, &CBackupsWindow::RestoreSelected);
    connect(m_delete, &QPushButton::clicked, this, &CBackupsWindow::DeleteSelected);
    connect(m_close, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_help, &QPushButton::clicked, this, [this] {
        m_prompter.Help(help::kRequestContext, help::ContextOf(help::resource::kBackupsWindow));
    });
    // F1 as on the sheet: the sheet's own key does not reach a window of its own.
    connect(new QShortcut(QKeySequence::HelpContents, this), &QShortcut::activated, m_help,
            &QPushButton::click);
    connect(m_moments, &QTreeWidget::currentItemChanged, this, &CBackupsWindow::ShowMoment);
    connect(m_copies, &QListWidget::currentRowChanged, this, &CBackupsWindow::ShowCopy);
    connect(m_copies, &QListWidget::itemChanged, this, &CBackupsWindow::UpdateButtons);

    Reload();
    resize(900, 600);
}

void CBackupsWindow::Reload() {
    const std::string folder = backups::FolderOf(m_configDir);
    const backupfolder::Moment* before = SelectedMoment();
    const std::string selected = before ? before->id : std::string();
    m_listing = backupfolder::List(folder);
    {
        const QSignalBlocker block(m_moments);
        m_moments->clear();
        for (const backupfolder::Moment& moment : m_listing.moments) {
            std::vector<std::string> files;
            std::uint64_t size = 0;
            for (const backupfolder::Copy& copy : moment.copies) {
                files.push_back(copy.file);
                size += copy.size;
            }
            auto* item = new QTreeWidgetItem(m_moments);
            item->setText(0, FromAnsi(backupfolder::MomentText(moment.id)));
            item->setText(1, FromAnsi(Joined(files, ", ")));
            item->setText(2, SizeText(size));
            item->setTextAlignment(2, Qt::AlignRight | Qt::AlignVCenter);
        }
    }
    if (!m_listing.readable) {
        const bool missing = !platform::StatPath(folder).has_value();
        m_folderMessage->setText(
            FromAnsi(strings::Literal(missing ? kNoFolder : kFolderUnreadable, folder)));
    }
    m_folderMessage->setVisible(!m_listing.readable);
    const std::size_t foreign = m_listing.foreign.size();
    if (foreign > 0) {
        m_foreignNote->setText(
            foreign == 1
                ? FromUtf8("1 fremde Datei im Ordner wird nicht angezeigt.")
                : FromUtf8("%1 fremde Dateien im Ordner werden nicht angezeigt.").arg(foreign));
        m_foreignNote->setToolTip(FromAnsi(Joined(m_listing.foreign, "\n")));
    }
    m_foreignNote->setVisible(foreign > 0);
    // The moment shown before stays selected while it is there; otherwise the newest.
    int row = 0;
    for (std::size_t i = 0; i < m_listing.moments.size(); ++i)
        if (m_listing.moments[i].id == selected)
            row = static_cast<int>(i);
    if (m_moments->topLevelItemCount() > 0) {
        const QSignalBlocker block(m_moments);
        m_moments->setCurrentItem(m_moments->topLevelItem(row));
    }
    ShowMoment();
}

const backupfolder::Moment* CBackupsWindow::SelectedMoment() const {
    const int row = m_moments->indexOfTopLevelItem(m_moments->currentItem());
    if (row < 0 || static_cast<std::size_t>(row) >= m_listing.moments.size())
        return nullptr;
    return &m_listing.moments[static_cast<std::size_t>(row)];
}

void CBackupsWindow::ShowMoment() {
    const backupfolder::Moment* moment = SelectedMoment();
    m_expected.clear();
    int firstDiffering = -1;
    {
        const QSignalBlocker block(m_copies);
        m_copies->clear();
        if (moment) {
            for (const backupfolder::Copy& copy : moment->copies) {
                // A copy like today's file would change nothing: it is named so, and the first
                // copy that differs is the one shown.
                const bool same = backups::SameAsToday(m_configDir, copy);
                auto* item = new QListWidgetItem(
                    FromAnsi(copy.file) + (same ? FromUtf8(kSameAsToday) : QString()), m_copies);
                item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
                item->setCheckState(Qt::Checked);
                item->setToolTip(FromAnsi(copy.path));
                if (same)
                    item->setForeground(palette().brush(QPalette::Disabled, QPalette::Text));
                else if (firstDiffering < 0)
                    firstDiffering = m_copies->count() - 1;
                m_expected[copy.file] = backups::TodaysHash(m_configDir, copy.file);
            }
        }
    }
    if (m_copies->count() > 0)
        m_copies->setCurrentRow(std::max(firstDiffering, 0));
    ShowCopy();
    UpdateButtons();
}

void CBackupsWindow::ShowCopy() {
    const backupfolder::Moment* moment = SelectedMoment();
    const int row = m_copies->currentRow();
    if (!moment || row < 0 || static_cast<std::size_t>(row) >= moment->copies.size()) {
        m_diff->clear();
        return;
    }
    bool unreadable = false;
    const std::string diff = backups::DiffWithToday(
        m_configDir, *moment, moment->copies[static_cast<std::size_t>(row)], &unreadable);
    if (unreadable)
        ShowNote(*m_diff, FromUtf8(kCopyUnreadable));
    else if (diff.empty())
        ShowNote(*m_diff, FromUtf8(kNoDifference));
    else
        ShowDiff(*m_diff, diff);
}

void CBackupsWindow::UpdateButtons() {
    const backupfolder::Moment* moment = SelectedMoment();
    bool anyChecked = false;
    for (int i = 0; i < m_copies->count(); ++i)
        anyChecked = anyChecked || m_copies->item(i)->checkState() == Qt::Checked;
    m_restore->setEnabled(m_mayRestore && moment && anyChecked);
    m_restore->setToolTip(m_mayRestore ? QString() : FromUtf8(kRestoreBlocked));
    const bool newest = moment == (m_listing.moments.empty() ? nullptr : &m_listing.moments[0]);
    m_delete->setEnabled(moment && !newest);
    m_delete->setToolTip(moment && newest ? FromUtf8(kNewestKept) : QString());
}

void CBackupsWindow::RestoreSelected() {
    const backupfolder::Moment* moment = SelectedMoment();
    if (!m_mayRestore || !moment)
        return;
    backups::RestoreOptions options;
    std::vector<std::string> quoted;
    for (int i = 0; i < m_copies->count(); ++i) {
        if (m_copies->item(i)->checkState() != Qt::Checked)
            continue;
        const std::string& file = moment->copies[static_cast<std::size_t>(i)].file;
        options.files.push_back(file);
        options.expected[file] = m_expected[file];
        quoted.push_back("\x84" + file + "\x93"); // „…“ in the code page
    }
    if (options.files.empty())
        return;
    const std::string files =
        (quoted.size() == 1 ? strings::Literal("die Datei ") : strings::Literal("die Dateien ")) +
        Joined(quoted, ", ");
    const std::string when = backupfolder::MomentText(moment->id);
    if (m_prompter.AskDefaultNo(strings::Literal(kAskRestore, {files, when})) != Answer::Yes)
        return;
    const backups::RestoreResult result =
        backups::Restore(m_configDir, *moment, options, m_prompter);
    switch (result.outcome) {
    case backups::RestoreResult::Outcome::Restored:
        if (m_restartServices)
            m_restartServices(m_prompter);
        m_prompter.ShowText(strings::Literal(kRestored), MessageKind::Information);
        m_restored = true;
        accept();
        return;
    case backups::RestoreResult::Outcome::NothingToDo:
        m_prompter.ShowText(strings::Literal(kNothingToDo), MessageKind::Information);
        return;
    case backups::RestoreResult::Outcome::Refused:
    case backups::RestoreResult::Outcome::Failed:
        // The restore has said why; the window stays for another choice.
        Reload();
        return;
    }
}

void CBackupsWindow::DeleteSelected() {
    const backupfolder::Moment* moment = SelectedMoment();
    if (!moment || moment == &m_listing.moments.front())
        return;
    const std::string when = backupfolder::MomentText(moment->id);
    if (m_prompter.AskDefaultNo(strings::Literal(kAskDelete, when)) != Answer::Yes)
        return;
    const backups::PruneResult result = backups::Delete(m_listing, {moment->id});
    if (!result.failed.empty())
        m_prompter.ShowText(strings::Literal(kDeleteFailed, Joined(result.failed, ", ")),
                            MessageKind::Error);
    Reload();
}
