#include "gui/QuibrelDlg.h"

#include "Common/Ansi.h"
#include "app/Strings.h"
#include "gui/BackupsWindow.h"
#include "gui/ChangesWindow.h"
#include "gui/DialogView.h"
#include "gui/FormRegistry.h"
#include "gui/ModelView.h"
#include "gui/QtPrompter.h"
#include "gui/TextCodec.h"
#include "pages/AccountDialogs.h"
#include "pages/CheckDlg.h"
#include "pages/Help.h"
#include "pages/InterfaceDlg.h"
#include "pages/MdaAdvanced.h"
#include "pages/PageListener.h"
#include "pages/Pages.h"
#include "pages/RowModel.h"
#include "pages/ServerAdvanced.h"
#include "pages/SheetCheck.h"
#include "pages/TraceDlg.h"
#include "pages/TransportRules.h"
#include "platform/Clock.h"
#include "platform/FileSystem.h"
#include "platform/HostIdentity.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QShortcut>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <initializer_list>

// Asked before Abbrechen, Escape or the close box throw away edits that were not applied.
constexpr const char* kDiscardQuestion =
    "Ihre Änderungen wurden noch nicht gespeichert. Sollen sie verworfen werden?";

// How often the page in front looks for changes made outside the program.
constexpr int kPollIntervalMs = 500;

// The configuration directory, as the application cycle finds it.
constexpr const char* kConfigVariable = "MAILCONFIGDIR";

namespace {

// Message boxes and dialogs asked for while one of the sheet's windows is open stand over that
// window, not behind it over the sheet.
class COwnerScope {
public:
    COwnerScope(CPrompter& prompter, QWidget* owner) : m_qt(dynamic_cast<CQtPrompter*>(&prompter)) {
        if (m_qt) {
            m_previous = m_qt->Owner();
            m_qt->SetOwner(owner);
        }
    }
    ~COwnerScope() {
        if (m_qt)
            m_qt->SetOwner(m_previous);
    }
    COwnerScope(const COwnerScope&) = delete;
    COwnerScope& operator=(const COwnerScope&) = delete;

private:
    CQtPrompter* m_qt;
    QWidget* m_previous = nullptr;
};

} // namespace

// The icon lives in the resources of this static library, which Qt registers only on request.
static void RegisterResources() {
    static const bool registered = [] {
        Q_INIT_RESOURCE(resources);
        return true;
    }();
    (void)registered;
}

CQuibrelDlg::CQuibrelDlg(const std::vector<std::unique_ptr<CPageModel>>& pages, CPrompter& prompter,
                         QWidget* parent)
    : QDialog(parent), m_prompter(prompter) {
    RegisterResources();
    setWindowTitle(FromAnsi(strings::Text(128)));
    setWindowIcon(QIcon(QStringLiteral(":/korvane.svg")));
    auto* layout = new QVBoxLayout(this);
    m_tabs = new QTabWidget(this);
    layout->addWidget(m_tabs);
    m_buttons = new QDialogButtonBox(this);
    m_ok = m_buttons->addButton(QDialogButtonBox::Ok);
    m_cancel = m_buttons->addButton(QDialogButtonBox::Cancel);
    // Qt's German catalogue says "Anwenden"; the program has always said "Übernehmen".
    m_apply = m_buttons->addButton(QString::fromUtf8("Übernehmen"), QDialogButtonBox::ApplyRole);
    m_ok->setText(QStringLiteral("OK"));
    m_cancel->setText(QStringLiteral("Abbrechen"));
    m_apply->setEnabled(false);
    // Secondary buttons stand at the left, apart from those that end the sheet.
    m_checkButton =
        m_buttons->addButton(FromUtf8("Prüfen..."), QDialogButtonBox::ResetRole);
    m_changes =
        m_buttons->addButton(FromUtf8("Änderungen anzeigen..."), QDialogButtonBox::ResetRole);
    m_backups = m_buttons->addButton(QStringLiteral("Sicherungen..."), QDialogButtonBox::ResetRole);
    // The check's summary, a link to its window; empty until the check has run.
    m_summary = new QLabel(this);
    m_summary->setTextFormat(Qt::RichText);
    m_summary->setObjectName(QStringLiteral("checkSummary"));
    layout->addWidget(m_summary);
    connect(m_summary, &QLabel::linkActivated, this, [this] { ShowCheck(); });
    layout->addWidget(m_buttons);

    for (const auto& page : pages) {
        // The binder tells the model of every edit (FieldChanged), which marks it modified.
        CModelView* view = CreateModelView(*page, prompter, m_tabs);
        m_tabs->addTab(view, FromUtf8(page->Caption()));
        CPageModel* model = page.get();
        model->SetModifiedHandler([this](bool) { UpdateApply(); });
        model->SetLockCancelHandler([this] { LockCancel(); });
        // A page that changes the set at once (the domains page) is checked again right after
        // the command, once the event loop is back.
        model->SetSetChangedHandler([this] {
            if (!m_check || m_checkPending)
                return;
            m_checkPending = true;
            QTimer::singleShot(0, this, [this] {
                m_checkPending = false;
                RefreshCheck(false);
            });
        });
        m_pages.push_back({model, view, false});
    }
    connect(m_tabs, &QTabWidget::currentChanged, this, &CQuibrelDlg::OnTabChanged);
    // F1: the help of the page in front, or of the sheet.
    auto* f1 = new QShortcut(QKeySequence::HelpContents, this);
    connect(f1, &QShortcut::activated, this, [this] {
        const unsigned page =
            m_pages.empty() ? 0 : m_pages[static_cast<std::size_t>(m_current)].model->HelpContext();
        m_prompter.Help(help::kRequestContext,
                        help::ContextOf(page != 0 ? page : help::resource::kSheet));
    });
    connect(m_ok, &QPushButton::clicked, this, &CQuibrelDlg::OnOk);
    connect(m_cancel, &QPushButton::clicked, this, &CQuibrelDlg::reject);
    connect(m_apply, &QPushButton::clicked, this, [this] {
        if (Apply() && m_check)
            RefreshCheck(false);
    });
    connect(m_checkButton, &QPushButton::clicked, this, &CQuibrelDlg::ShowCheck);
    connect(m_changes, &QPushButton::clicked, this, &CQuibrelDlg::ShowChanges);
    connect(m_backups, &QPushButton::clicked, this, &CQuibrelDlg::ShowBackups);
    // The page in front looks now and then for what changed outside the program (accounts
    // made by other tools). Never while a dialog or message box stands over the sheet: the
    // operation that opened it still works on the page's current rows.
    auto* poll = new QTimer(this);
    poll->setInterval(kPollIntervalMs);
    connect(poll, &QTimer::timeout, this, [this] {
        if (m_pages.empty() || QApplication::activeModalWidget() != this)
            return;
        Page& page = m_pages[static_cast<std::size_t>(m_current)];
        if (page.shown && page.model->Poll(m_prompter))
            page.view->Refresh();
    });
    poll->start();
    // Every tab stays in sight: without scroll buttons the tab bar asks for the width of all
    // seven captions, and the sheet is at least that wide.
    m_tabs->setUsesScrollButtons(false);
    resize(560, 480);
}

void CQuibrelDlg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!m_firstShowDone && !m_pages.empty()) {
        m_firstShowDone = true;
        // After the sheet has appeared, so that a warning of the first page stands over it.
        // The check's first run follows: it stands for the set as loaded.
        QTimer::singleShot(0, this, [this] {
            ShowPage(m_tabs->currentIndex());
            if (m_check && !m_check->HasRun())
                RefreshCheck(false);
        });
    }
}

void CQuibrelDlg::ShowPage(int index) {
    if (index < 0 || static_cast<std::size_t>(index) >= m_pages.size())
        return;
    Page& page = m_pages[static_cast<std::size_t>(index)];
    if (page.shown)
        return;
    page.shown = true;
    page.model->OnFirstShow(m_prompter);
    page.view->Refresh();
}

void CQuibrelDlg::OnTabChanged(int index) {
    if (index == m_current)
        return;
    // Leaving a page takes its fields; a refused value keeps the page.
    if (!m_pages[static_cast<std::size_t>(m_current)].view->TakeFields()) {
        const QSignalBlocker block(m_tabs);
        m_tabs->setCurrentIndex(m_current);
        return;
    }
    m_current = index;
    ShowPage(index);
}

bool CQuibrelDlg::Apply() {
    if (m_pages.empty())
        return true;
    if (!m_pages[static_cast<std::size_t>(m_current)].view->TakeFields())
        return false;
    for (Page& page : m_pages) {
        if (!page.shown)
            continue;
        if (!page.model->OnApply(m_prompter))
            return false;
        page.model->SetModified(false);
        page.view->Refresh();
        // The set in memory no longer is the one loaded: a reload would lose the apply.
        m_applied = true;
    }
    UpdateApply();
    return true;
}

bool CQuibrelDlg::StagePages() {
    if (!m_pages.empty() && !m_pages[static_cast<std::size_t>(m_current)].view->TakeFields())
        return false;
    // Staged, not applied: the pages write their values into the set, nothing reaches a file.
    for (Page& page : m_pages)
        if (page.shown && !page.model->OnStage(m_prompter))
            return false;
    return true;
}

bool CQuibrelDlg::ShowChanges() {
    if (!m_set || !StagePages())
        return false;
    CChangesWindow window(CollectChanges(*m_set), m_prompter, this);
    const COwnerScope owner(m_prompter, &window);
    window.exec();
    return true;
}

void CQuibrelDlg::ShowBackups() {
    const std::string configDir = platform::GetEnvironment(kConfigVariable).value_or("");
    CBackupsWindow window(configDir, MayReload(), m_prompter, this);
    {
        const COwnerScope owner(m_prompter, &window);
        window.exec();
    }
    if (!window.Restored())
        return;
    // The files on disk are not those the pages show any more. Nothing is edited (a restore is
    // offered only then), so the sheet closes without the discard question.
    m_reloadRequested = true;
    QDialog::reject();
}

void CQuibrelDlg::OnOk() {
    // Asked before anything is applied: the listener pages write their lists at the apply, and
    // "Nein" must leave everything as it is.
    if (m_check) {
        if (!RefreshCheck(true))
            return;
        if (const auto question = m_check->SaveQuestion();
            question && m_prompter.AskDefaultNo(ansi::FromUtf8(*question)) != Answer::Yes)
            return;
    }
    if (Apply())
        accept();
}

CQuibrelDlg::~CQuibrelDlg() = default;

const std::vector<CFinding>& CQuibrelDlg::checkFindings() const {
    static const std::vector<CFinding> none;
    return m_check ? m_check->Findings() : none;
}

void CQuibrelDlg::SetConfigSet(CConfigSet* set, std::optional<CheckEnvironment> check) {
    m_set = set;
    if (!set) {
        m_check.reset();
        return;
    }
    if (!check) {
        check.emplace();
        check->hostName = platform::QueryHostIdentity().name;
        check->configDir = platform::GetEnvironment(kConfigVariable).value_or("");
        check->now = platform::CurrentTime();
    }
    m_check = std::make_unique<CSheetCheck>(std::move(*check));
}

bool CQuibrelDlg::RefreshCheck(bool stage) {
    if (!m_check || !m_set || (stage && !StagePages()))
        return false;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const std::vector<CFinding>& findings = m_check->Run(*m_set);
    QApplication::restoreOverrideCursor();
    const bool critical = std::any_of(findings.begin(), findings.end(), [](const CFinding& f) {
        return f.severity == Severity::Critical;
    });
    const QString summary = FromUtf8(FindingsSummary(findings).c_str()).toHtmlEscaped();
    m_summary->setText(
        FromUtf8("Prüfung: ") +
        (critical ? QStringLiteral("<a href=\"check\" style=\"color:#b00020\"><b>%1</b></a>")
                  : QStringLiteral("<a href=\"check\">%1</a>"))
            .arg(summary));
    return true;
}

bool CQuibrelDlg::ShowCheck() {
    if (!RefreshCheck(true))
        return false;
    CCheckDlg dialog(m_check->Findings());
    m_prompter.RunDialog(dialog);
    if (const auto chosen = dialog.Chosen())
        GoTo(*chosen);
    return true;
}

bool CQuibrelDlg::GoTo(const CFinding& finding) {
    // The findings speak UTF-8; the pages, like the files, the code page.
    const std::string file = ansi::FromUtf8(finding.file);
    const std::string key = ansi::FromUtf8(finding.key);
    for (std::size_t i = 0; i < m_pages.size(); ++i) {
        Page& page = m_pages[i];
        const auto control = page.model->ShowKey(file, key, m_prompter);
        if (!control)
            continue;
        const int index = static_cast<int>(i);
        m_tabs->setCurrentIndex(index);
        if (m_tabs->currentIndex() != index)
            return false; // the page in front refused a value and keeps the user there
        ShowPage(index);
        page.view->Refresh();
        if (auto* widget = page.view->findChild<QWidget*>(QString::fromStdString(*control))) {
            widget->setFocus(Qt::OtherFocusReason);
            if (auto* edit = qobject_cast<QLineEdit*>(widget))
                edit->selectAll();
        }
        return true;
    }
    return false;
}

bool CQuibrelDlg::HasUnsavedEdits() const {
    for (const Page& page : m_pages)
        if (page.model->IsModified())
            return true;
    return false;
}

bool CQuibrelDlg::MayDiscard() {
    // One Escape meant for a drop-down must not throw away an afternoon's edits: "Nein", the
    // default, leads back to the sheet.
    return !HasUnsavedEdits() ||
           m_prompter.AskDefaultNo(strings::Literal(kDiscardQuestion)) == Answer::Yes;
}

void CQuibrelDlg::reject() {
    // With cancel locked there is no way back: Escape does nothing, the close box saves.
    if (!m_cancelLocked && MayDiscard())
        QDialog::reject();
}

void CQuibrelDlg::closeEvent(QCloseEvent* event) {
    if (m_cancelLocked) {
        event->ignore();
        OnOk();
        return;
    }
    QDialog::closeEvent(event);
}

void CQuibrelDlg::LockCancel() {
    m_cancelLocked = true;
    m_cancel->setEnabled(false);
    m_ok->setText(QString::fromUtf8("Schließen"));
}

void CQuibrelDlg::UpdateApply() {
    bool any = false;
    for (const Page& page : m_pages)
        any = any || page.model->IsModified();
    m_apply->setEnabled(any);
}

void PrimeToolkit() {
    // A sheet without page models, with the pages' forms as its tabs and the first in front, as
    // the real one opens; grab() lays it out and paints it without showing it.
    CUnattendedPrompter silent;
    CQuibrelDlg sheet({}, silent);
    for (const char* name :
         {"PageDomains", "PageSmtp", "PageListener", "PageDelivery", "PageSyslog"}) {
        if (FormSetup setup = FindForm(name)) {
            auto* form = new QWidget;
            setup(form);
            sheet.tabs()->addTab(form, QString::fromLatin1(name));
        }
    }
    sheet.adjustSize();
    (void)sheet.grab();
}

bool CQtSheet::Run(CConfigSet& set, CPrompter& prompter) {
    const auto pages = CreatePages(set);
    CQuibrelDlg sheet(pages, prompter);
    sheet.SetConfigSet(&set);
    if (m_qtPrompter)
        m_qtPrompter->SetOwner(&sheet);
    const bool ok = sheet.exec() == QDialog::Accepted;
    if (m_qtPrompter)
        m_qtPrompter->SetOwner(nullptr);
    m_reloadRequested = !ok && sheet.ReloadRequested();
    return ok;
}

namespace {

// The first node below the first top node of a tree (the first domain below the root).
CTreeModel::NodeId FirstInnerNode(const CTreeModel& tree) {
    if (tree.ChildCount(CTreeModel::kNone) == 0)
        return CTreeModel::kNone;
    const CTreeModel::NodeId top = tree.Child(CTreeModel::kNone, 0);
    return tree.ChildCount(top) == 0 ? CTreeModel::kNone : tree.Child(top, 0);
}

// text with the value of key replaced (a line "key:<tabs>value"), or with the line added.
std::string WithValue(std::string text, const std::string& key, const std::string& value) {
    const std::string head = key + ":";
    for (std::size_t start = 0; start < text.size();) {
        std::size_t end = text.find('\n', start);
        end = end == std::string::npos ? text.size() : end;
        if (text.compare(start, head.size(), head) == 0) {
            std::size_t from = start + head.size();
            while (from < end && (text[from] == '\t' || text[from] == ' '))
                ++from;
            std::size_t to = end;
            if (to > from && text[to - 1] == '\r')
                --to;
            return text.replace(from, to - from, value);
        }
        start = end + 1;
    }
    return text + head + "\t\t" + value + "\r\n";
}

bool WriteFile(const QString& path, const std::string& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) &&
           file.write(bytes.data(), static_cast<qint64>(bytes.size())) ==
               static_cast<qint64>(bytes.size());
}

// A configuration directory of two files with the history of two saves, made from the sample
// set in a folder of its own: the sample has no backups, and rendering writes nothing into the
// configuration.
bool WriteSampleHistory(const QString& folder, CConfigSet& set) {
    const auto smtpdText = set.smtpd.TextToSave();
    const auto mdadText = set.mdad.TextToSave();
    const std::string smtpd(smtpdText.data(), smtpdText.size());
    const std::string mdad(mdadText.data(), mdadText.size());
    const QString backups = folder + QStringLiteral("/backup.cfg");
    const QString older = QStringLiteral("-261120-091512");
    const QString newer = QStringLiteral("-261204-163045");
    return QDir().mkpath(backups) && WriteFile(folder + QStringLiteral("/smtpd.cfg"), smtpd) &&
           WriteFile(folder + QStringLiteral("/mdad.cfg"), mdad) &&
           WriteFile(backups + QStringLiteral("/smtpd.cfg") + older,
                     WithValue(WithValue(smtpd, "MaxThreads", "4"), "TimeOut", "120")) &&
           WriteFile(backups + QStringLiteral("/mdad.cfg") + older, mdad) &&
           WriteFile(backups + QStringLiteral("/smtpd.cfg") + newer,
                     WithValue(smtpd, "MaxThreads", "6"));
}

} // namespace

bool CShowOnceSheet::Run(CConfigSet& set, CPrompter& prompter) {
    const auto pages = CreatePages(set);
    CQuibrelDlg sheet(pages, prompter);
    sheet.show();
    // The first page's checks run right after the sheet appears; then it is painted with what
    // they left.
    QApplication::processEvents();
    QApplication::processEvents();
    sheet.repaint();
    return false; // Cancel: nothing is written
}

bool CRenderSheet::Run(CConfigSet& set, CPrompter& prompter) {
    const auto pages = CreatePages(set);
    CQuibrelDlg sheet(pages, prompter);
    sheet.show();
    QApplication::processEvents();
    QDir().mkpath(m_folder);
    auto save = [this](QWidget& widget, const QString& name) {
        QApplication::processEvents();
        const QString file = QStringLiteral("%1/%2.png").arg(m_folder, name);
        if (widget.grab().save(file))
            m_files << file;
    };
    for (int i = 0; i < sheet.tabs()->count(); ++i) {
        sheet.tabs()->setCurrentIndex(i);
        sheet.ShowPage(i);
        const QString page = QStringLiteral("sheet-%1").arg(i + 1, 2, 10, QLatin1Char('0'));
        save(sheet, page);
        // A page with a tree once more with its first inner node selected, as the user would.
        CPageModel& model = *pages[static_cast<std::size_t>(i)];
        for (const CListSpec& list : model.Lists()) {
            CTreeModel* tree = list.kind == CListSpec::Kind::Tree ? model.TreeOf(list.id) : nullptr;
            if (!tree || FirstInnerNode(*tree) == CTreeModel::kNone)
                continue;
            tree->Select(FirstInnerNode(*tree));
            model.SelectionChanged(list.id, prompter);
            sheet.view(i)->ShowStates();
            save(sheet, page + QStringLiteral("-selected"));
            break;
        }
    }

    // The dialogs of the pages, filled as a user would have filled them.
    CAddDomainDlg addDomain;
    addDomain.SetValue(CAddDomainDlg::kDomainName, "example.test");
    CAddAliasDlg addAlias("example.test");
    addAlias.SetValue(CAddAliasDlg::kTarget, "vertrieb@example.test");
    addAlias.SetValue(CAddAliasDlg::kLocalPart, "verkauf");
    CAddAccountDlg addAccount("example.test", "info");
    addAccount.SetValue(CAddAccountDlg::kPassword, "geheim");
    addAccount.FieldChanged(CAddAccountDlg::kQuotaOn, "1");
    addAccount.SetNumber(CAddAccountDlg::kQuota, 50);
    addAccount.FieldChanged(CAddAccountDlg::kSaveEnvelope, "1");
    CChangeAccountDlg changeAccount("info@example.test", "info.example.test");
    changeAccount.SetValue(CChangeAccountDlg::kPassword, "geheim");
    changeAccount.FieldChanged(CChangeAccountDlg::kSizeOn, "1");
    changeAccount.SetNumber(CChangeAccountDlg::kSize, 2048);
    changeAccount.FieldChanged(CChangeAccountDlg::kAntiSpam, "1");
    changeAccount.SetValue(CChangeAccountDlg::kReplySubject, "Abwesenheitsnotiz");
    changeAccount.SetValue(CChangeAccountDlg::kReplyText,
                           "Ich bin bis zum 14. M\xE4rz nicht im B\xFCro.\r\n"
                           "Ihre Nachricht wird nicht weitergeleitet.");
    changeAccount.FieldChanged(CChangeAccountDlg::kReply, "1");
    // The delivery page's dialogs on the rules and settings as loaded; the editor on the first
    // rule that logs in, as a user opens it to change the provider's password.
    CTransportRulesDlg transportRules(set);
    if (transportRules.rows().RowCount() > 0) {
        transportRules.rows().Select(0);
        transportRules.SelectionChanged(CTransportRulesDlg::kRules, prompter);
    }
    std::string ruleKey = "<example.test";
    std::string ruleValue = "versand:geheim@smtp.provider.test:587";
    std::string key;
    std::string value;
    for (auto position = set.smarthosts.GetStartPosition(); position;) {
        set.smarthosts.GetNextAssoc(position, key, value);
        if (value.find('@') != std::string::npos) {
            ruleKey = key;
            ruleValue = value;
            break;
        }
    }
    CTransportRuleDlg transportRule(&set.domains, ruleKey, ruleValue);
    CMDAAdvancedDlg mdaAdvanced(set);
    CInterfaceDlg interfaceDlg(110);
    interfaceDlg.Set("<alle>", 995, true);
    // The server dialogs over the machine's certificates (the demo points them at the sample's);
    // where nothing is stored yet the first certificate is chosen, as a user would.
    CSmtpAdvancedDlg smtpAdvanced(set);
    CPop3AdvancedDlg pop3Advanced(set);
    CImap4AdvancedDlg imap4Advanced(set);
    for (CServerSettingsDlg* server :
         std::initializer_list<CServerSettingsDlg*>{&smtpAdvanced, &pop3Advanced, &imap4Advanced}) {
        server->OnOpen(prompter);
        const auto certificates = server->Certificates().Choices();
        if (server->Value(CServerSettingsDlg::kCertificate).empty() && !certificates.empty())
            server->SetValue(CServerSettingsDlg::kCertificate, certificates.front().value);
    }
    const std::pair<CDialogModel*, const char*> dialogs[] = {
        {&addDomain, "add-domain"},           {&addAlias, "add-alias"},
        {&addAccount, "add-account"},         {&changeAccount, "change-account"},
        {&transportRules, "transport-rules"}, {&transportRule, "transport-rule"},
        {&mdaAdvanced, "delivery-advanced"},  {&interfaceDlg, "interface"},
        {&smtpAdvanced, "smtp-advanced"},     {&pop3Advanced, "pop3-advanced"},
        {&imap4Advanced, "imap4-advanced"},
    };
    for (const auto& [model, name] : dialogs) {
        model->OnOpen(prompter);
        CDialogView dialog(*model, prompter, &sheet);
        dialog.show();
        save(dialog, QStringLiteral("dialog-%1").arg(QLatin1String(name)));
    }

    // The sheet's own windows: what OK would write after one edit a user might make (in memory
    // only), and the backups of a made-up history.
    sheet.SetConfigSet(&set);
    if (sheet.StagePages()) {
        set.smtpd.SetInt("MaxThreads", 12);
        CChangesWindow changes(CollectChanges(set), prompter, &sheet);
        changes.show();
        save(changes, QStringLiteral("changes-window"));
        // The check after two more edits of that kind: a relay entry for every address, and
        // VRFY switched on.
        CPageConfigSMTP smtp(set);
        smtp.ListOf("AccessRelayFile").AddTail("0.0.0.0/0.0.0.0");
        set.smtpd.SetString("Vrfy.Enable", "1");
        CheckEnvironment environment;
        environment.hostName = "example.test";
        environment.configDir = platform::GetEnvironment(kConfigVariable).value_or("");
        environment.now = platform::CurrentTime();
        CCheckDlg check(CheckConfiguration(set, environment));
        check.OnOpen(prompter);
        CDialogView checkView(check, prompter, &sheet);
        checkView.show();
        save(checkView, QStringLiteral("check-window"));
    }
    // Where mail to the sample's first address goes.
    CTraceDlg trace(set, "info@example.test");
    trace.OnOpen(prompter);
    CDialogView traceView(trace, prompter, &sheet);
    traceView.show();
    save(traceView, QStringLiteral("trace-window"));
    QTemporaryDir history;
    if (history.isValid() && WriteSampleHistory(history.path(), set)) {
        CBackupsWindow backups(ToAnsi(history.path()), true, prompter, &sheet);
        QTreeWidget* moments = backups.momentList();
        // The older save, on the copy that differs from today.
        if (moments->topLevelItemCount() > 1)
            moments->setCurrentItem(moments->topLevelItem(1));
        const auto differing =
            backups.copyList()->findItems(QStringLiteral("smtpd.cfg"), Qt::MatchStartsWith);
        if (!differing.isEmpty())
            backups.copyList()->setCurrentItem(differing.front());
        backups.show();
        save(backups, QStringLiteral("backups-window"));
    }
    return false; // Cancel: rendering writes nothing
}
