#include "gui/DialogView.h"

#include "gui/FieldBinder.h"
#include "gui/ModelView.h"
#include "gui/TextCodec.h"
#include "pages/Help.h"

#include <QDialogButtonBox>
#include <QPointer>
#include <QPushButton>
#include <QShortcut>
#include <QVBoxLayout>

namespace {

// Qt settles a layout through posted events, one widget level at a time; the window's new
// minimum height must be known before it is resized.
void SettleLayouts(QWidget* from, QWidget& window) {
    for (QWidget* widget = from; widget; widget = widget->parentWidget()) {
        if (QLayout* layout = widget->layout()) {
            layout->invalidate();
            layout->activate();
        }
        if (widget == &window)
            break;
    }
}

} // namespace

CDialogView::CDialogView(CDialogModel& model, CPrompter& prompter, QWidget* owner)
    : QDialog(owner), m_model(model), m_prompter(prompter) {
    setWindowTitle(FromUtf8(model.Caption()));
    auto* layout = new QVBoxLayout(this);
    m_view = CreateModelView(model, prompter, this);
    layout->addWidget(m_view);
    QDialogButtonBox::StandardButtons kinds = model.CloseOnly()
                                                  ? QDialogButtonBox::Close
                                                  : QDialogButtonBox::Ok | QDialogButtonBox::Cancel;
    if (model.HelpContext() != 0)
        kinds |= QDialogButtonBox::Help;
    m_buttons = new QDialogButtonBox(kinds, this);
    // The program's own words, whether or not Qt's German catalogue is loaded.
    if (QPushButton* ok = m_buttons->button(QDialogButtonBox::Ok))
        ok->setText(QStringLiteral("OK"));
    if (QPushButton* cancel = m_buttons->button(QDialogButtonBox::Cancel))
        cancel->setText(QStringLiteral("Abbrechen"));
    if (QPushButton* close = m_buttons->button(QDialogButtonBox::Close))
        close->setText(QString::fromUtf8("Schließen"));
    if (QPushButton* help = m_buttons->button(QDialogButtonBox::Help))
        help->setText(QStringLiteral("&Hilfe"));
    layout->addWidget(m_buttons);
    connect(m_buttons, &QDialogButtonBox::accepted, this, [this] {
        if (!m_view->TakeFields())
            return;
        if (m_model.OnOk(m_prompter))
            accept();
        else if (const auto field = m_model.TakeRefusedField())
            m_view->FocusField(*field); // the refused value, to be corrected where it stands
    });
    connect(m_buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    // A command that completes the dialog closes it as OK; the model outlives this window.
    model.SetEndHandler([window = QPointer<CDialogView>(this)] {
        if (window)
            window->accept();
    });
    connect(m_buttons, &QDialogButtonBox::helpRequested, this, &CDialogView::RequestHelp);
    // F1 asks for the help of this window, not of the sheet beneath it: the sheet's shortcut
    // does not reach into a dialog of its own.
    if (model.HelpContext() != 0) {
        auto* f1 = new QShortcut(QKeySequence::HelpContents, this);
        connect(f1, &QShortcut::activated, this, &CDialogView::RequestHelp);
    }

    // The full height is the one with every group shown; each group the model hides at the
    // start is cut off it.
    std::vector<QWidget*> folded;
    for (QWidget* group : m_view->Groups())
        if (!CFieldBinder::IsShown(*group)) {
            folded.push_back(group);
            group->setVisible(true);
        }
    for (QWidget* group : folded)
        SettleLayouts(group->parentWidget(), *this);
    const QSize full = sizeHint();
    int cut = 0;
    for (QWidget* group : folded) {
        m_folded[group] = FoldHeight(*group);
        cut += m_folded[group];
        group->setVisible(false);
        SettleLayouts(group->parentWidget(), *this);
    }
    resize(full.width(), full.height() - cut);
    m_view->SetGroupShower([this](QWidget* group, bool shown) { ShowGroup(group, shown); });
}

void CDialogView::RequestHelp() {
    m_prompter.Help(help::kRequestContext, help::ContextOf(m_model.HelpContext()));
}

int CDialogView::FoldHeight(QWidget& group) const {
    // A group that has been laid out in the window takes its height; one never shown yet the
    // height the form gives it.
    if (isVisible() && !m_folded.count(&group))
        return group.height();
    return qBound(group.minimumHeight(), group.sizeHint().height(), group.maximumHeight());
}

void CDialogView::ShowGroup(QWidget* group, bool shown) {
    // Measured before the change: showing a group lets Qt grow the window to its new minimum.
    const int before = height();
    int change = 0;
    if (shown) {
        const auto it = m_folded.find(group);
        change = it != m_folded.end() ? it->second : FoldHeight(*group);
        m_folded.erase(group);
    } else {
        change = -FoldHeight(*group);
        m_folded[group] = -change;
    }
    group->setVisible(shown);
    SettleLayouts(group->parentWidget(), *this);
    resize(width(), before + change);
}
