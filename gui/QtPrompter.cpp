#include "gui/QtPrompter.h"

#include "Common/Ansi.h"
#include "app/Strings.h"
#include "gui/DialogView.h"
#include "gui/ProgressNote.h"
#include "gui/TextCodec.h"
#include "pages/FieldModel.h"
#include "pages/Help.h"

#include <QFileDialog>
#include <QMessageBox>

#include <cstdio>

namespace {

QString Title() {
    return FromAnsi(strings::Text(57344));
}

// The kinds answered with Yes or No.
bool IsQuestion(MessageKind kind) {
    return kind == MessageKind::Question || kind == MessageKind::QuestionWarning;
}

} // namespace

CQtPrompter::CQtPrompter() = default;
CQtPrompter::~CQtPrompter() = default;

Answer CQtPrompter::ShowMessage(const PromptMessage& message) {
    QMessageBox box(m_owner);
    box.setWindowTitle(Title());
    box.setText(FromAnsi(message.text));
    switch (message.kind) {
    case MessageKind::Plain:
        // A box without an icon looks like a fault of the program; a plain notice is one.
        box.setIcon(QMessageBox::Information);
        box.setStandardButtons(QMessageBox::Ok);
        break;
    case MessageKind::Error:
        box.setIcon(QMessageBox::Critical);
        box.setStandardButtons(QMessageBox::Ok);
        break;
    case MessageKind::Warning:
        box.setIcon(QMessageBox::Warning);
        box.setStandardButtons(QMessageBox::Ok);
        break;
    case MessageKind::Information:
        box.setIcon(QMessageBox::Information);
        box.setStandardButtons(QMessageBox::Ok);
        break;
    case MessageKind::InformationOkCancel:
        box.setIcon(QMessageBox::Information);
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        break;
    case MessageKind::Question:
    case MessageKind::QuestionWarning:
        box.setIcon(message.kind == MessageKind::Question ? QMessageBox::Question
                                                          : QMessageBox::Warning);
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        // Return answers with the default button; where "Yes" would throw something away, a
        // key pressed out of habit must keep it. Escape answers "No" in either case.
        if (message.defaultNo)
            box.setDefaultButton(QMessageBox::No);
        break;
    }
    switch (box.exec()) {
    case QMessageBox::Ok:
        return Answer::Ok;
    case QMessageBox::Yes:
        return Answer::Yes;
    case QMessageBox::No:
        return Answer::No;
    default:
        return IsQuestion(message.kind) ? Answer::No : Answer::Cancel;
    }
}

bool CQtPrompter::RunDialog(CDialogModel& dialog) {
    dialog.OnOpen(*this);
    CDialogView view(dialog, *this, m_owner);
    return view.exec() == QDialog::Accepted;
}

void CQtPrompter::OpenProgress(std::string_view text) {
    m_progress = std::make_unique<CProgressNote>(FromAnsi(text), m_owner);
    m_progress->ShowNow();
}

void CQtPrompter::CloseProgress() {
    m_progress.reset();
}

std::optional<std::string> CQtPrompter::BrowseForFolder(std::string_view prompt,
                                                        std::string_view startFolder) {
    const QString folder = QFileDialog::getExistingDirectory(
        m_owner, FromAnsi(prompt), FromAnsi(startFolder), QFileDialog::ShowDirsOnly);
    if (folder.isEmpty())
        return std::nullopt;
    return ToAnsi(folder);
}

void CQtPrompter::Help(unsigned command, unsigned long data) {
    if (m_help)
        m_help(command, data);
}

Answer CUnattendedPrompter::ShowMessage(const PromptMessage& message) {
    std::fprintf(stderr, "Meldung %u: %s\n", message.id, ansi::ToUtf8(message.text).c_str());
    return IsQuestion(message.kind) ? Answer::Yes : Answer::Ok;
}
