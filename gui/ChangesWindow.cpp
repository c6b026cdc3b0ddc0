#include "gui/ChangesWindow.h"

#include "gui/TextCodec.h"
#include "pages/Help.h"
#include "platform/FileSystem.h"

#include <QColor>
#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QShortcut>
#include <QSplitter>
#include <QTextBlockFormat>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextEdit>
#include <QVBoxLayout>

#include <algorithm>

namespace {

constexpr const char* kWrittenHeading = "Bereits geschrieben (kann nicht mehr abgebrochen werden):";
constexpr const char* kNothingWritten = "Nichts.";

} // namespace

bool WouldChange(const preview::FileChange& change) {
    using State = preview::FileChange::State;
    return change.state == State::Changed || change.state == State::Created ||
           change.state == State::LineEndsOnly;
}

ChangesOverview CollectChanges(CConfigSet& set) {
    ChangesOverview overview;
    overview.files = preview::OfSet(set);
    // What would change is what the user came to see; the rest keeps the order of the save.
    std::stable_partition(overview.files.begin(), overview.files.end(), WouldChange);
    overview.anyChange = preview::AnyChange(overview.files);
    for (const CJournal::Entry& entry : set.journal.Entries())
        overview.written.push_back(CJournal::Describe(entry));
    return overview;
}

QTextEdit* CreateDiffView(QWidget* parent) {
    auto* view = new QTextEdit(parent);
    view->setReadOnly(true);
    view->setLineWrapMode(QTextEdit::NoWrap);
    view->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    return view;
}

void ShowNote(QTextEdit& view, const QString& text) {
    view.clear();
    // Not in the format the last line of a diff left behind (a header's bold, say).
    view.setCurrentCharFormat(QTextCharFormat());
    view.setPlainText(text);
}

void ShowDiff(QTextEdit& view, std::string_view diff) {
    view.clear();
    QTextCursor cursor(view.document());
    bool inHunks = false;
    bool first = true;
    std::size_t start = 0;
    while (start < diff.size()) {
        std::size_t end = diff.find('\n', start);
        if (end == std::string_view::npos)
            end = diff.size();
        const std::string_view line = diff.substr(start, end - start);
        start = end + 1;

        QTextBlockFormat block;
        QTextCharFormat chars;
        if (line.starts_with("@@")) {
            inHunks = true;
            block.setBackground(QColor(0xdd, 0xe4, 0xee));
            chars.setForeground(QColor(0x2c, 0x3e, 0x5a));
        } else if (!inHunks && (line.starts_with("--- ") || line.starts_with("+++ "))) {
            // The two labels above the first hunk name the versions; they are no change.
            chars.setFontWeight(QFont::Bold);
            chars.setForeground(QColor(0x55, 0x55, 0x55));
        } else if (line.starts_with('+')) {
            block.setBackground(QColor(0xd8, 0xf3, 0xd8));
        } else if (line.starts_with('-')) {
            block.setBackground(QColor(0xf8, 0xd7, 0xd7));
        }
        if (first)
            cursor.setBlockFormat(block);
        else
            cursor.insertBlock(block);
        first = false;
        cursor.insertText(FromAnsi(line), chars);
    }
    view.moveCursor(QTextCursor::Start);
}

CChangesWindow::CChangesWindow(ChangesOverview overview, CPrompter& prompter, QWidget* parent)
    : QDialog(parent), m_overview(std::move(overview)) {
    setWindowTitle(FromUtf8(kCaption));
    setSizeGripEnabled(true);
    auto* layout = new QVBoxLayout(this);

    m_note = new QLabel(FromUtf8(kNothingChanges), this);
    m_note->setVisible(!m_overview.anyChange);
    layout->addWidget(m_note);

    auto* splitter = new QSplitter(Qt::Horizontal, this);
    m_files = new QListWidget(splitter);
    for (const preview::FileChange& change : m_overview.files) {
        // A list file is named by its path; its name is enough to tell it, the tip holds the
        // path.
        auto* item =
            new QListWidgetItem(FromAnsi(platform::BaseName(change.name)) + QStringLiteral(" – ") +
                                    FromUtf8(preview::StateText(change.state)),
                                m_files);
        item->setToolTip(FromAnsi(change.path));
        if (WouldChange(change)) {
            QFont bold = item->font();
            bold.setBold(true);
            item->setFont(bold);
        }
    }
    m_diff = CreateDiffView(splitter);
    splitter->addWidget(m_files);
    splitter->addWidget(m_diff);
    splitter->setStretchFactor(0, 1);
    splitter->setStretchFactor(1, 2);
    splitter->setSizes({340, 560});
    layout->addWidget(splitter, 1);

    auto* heading = new QLabel(FromUtf8(kWrittenHeading), this);
    QFont bold = heading->font();
    bold.setBold(true);
    heading->setFont(bold);
    layout->addWidget(heading);
    QStringList written;
    for (const std::string& entry : m_overview.written)
        written << FromAnsi(entry);
    m_written = new QLabel(
        written.isEmpty() ? FromUtf8(kNothingWritten) : written.join(QLatin1Char('\n')), this);
    m_written->setWordWrap(true);
    m_written->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(m_written);

    auto* buttons = new QDialogButtonBox(this);
    m_help = buttons->addButton(QStringLiteral("Hilfe"), QDialogButtonBox::HelpRole);
    m_close = buttons->addButton(FromUtf8("Schließen"), QDialogButtonBox::RejectRole);
    layout->addWidget(buttons);
    connect(m_close, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_help, &QPushButton::clicked, this, [&prompter] {
        prompter.Help(help::kRequestContext, help::ContextOf(help::resource::kChangesWindow));
    });
    // F1 as on the sheet: the sheet's own key does not reach a window of its own.
    connect(new QShortcut(QKeySequence::HelpContents, this), &QShortcut::activated, m_help,
            &QPushButton::click);

    connect(m_files, &QListWidget::currentRowChanged, this, &CChangesWindow::ShowFile);
    if (!m_overview.files.empty())
        m_files->setCurrentRow(0);
    resize(900, 600);
}

void CChangesWindow::ShowFile(int row) {
    if (row < 0 || static_cast<std::size_t>(row) >= m_overview.files.size()) {
        m_diff->clear();
        return;
    }
    const preview::FileChange& change = m_overview.files[static_cast<std::size_t>(row)];
    if (!change.diff.empty()) {
        ShowDiff(*m_diff, change.diff);
        return;
    }
    // Nothing to compare line by line: the state says it all.
    ShowNote(*m_diff, FromAnsi(change.name) + QStringLiteral(": ") +
                          FromUtf8(preview::StateText(change.state)));
}
