// The program's own forms with their real models: each binds every id of its model, and the
// account dialogs fold their reply area away.
#include "gui/DesignedView.h"
#include "gui/DialogView.h"
#include "gui/FieldBinder.h"
#include "pages/AccountDialogs.h"
#include "pages/PageDelivery.h"
#include "pages/PageDomains.h"
#include "tests/ScriptedPrompter.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSpinBox>
#include <QtTest/QTest>

#include <gtest/gtest.h>

namespace {

QString Faults(const QStringList& faults) {
    return faults.join(QLatin1Char('\n'));
}

TEST(Forms, EveryFormAndItsModelAgreeOnEveryId) {
    CConfigSet set;
    CPageDomains page(set, [] { return platform::HostIdentity{"mail.example.test", "0.0.0.0"}; });
    CAddDomainDlg addDomain;
    CAddAliasDlg addAlias("example.test");
    CAddAccountDlg addAccount("example.test");
    CChangeAccountDlg changeAccount("info@example.test", "info.example.test");
    CPageConfigMDA delivery(set, {}, {}, CPageConfigMDA::Environment{.configDir = "/cfg"});
    CScriptedPrompter prompter;
    for (CFieldModel* model : std::initializer_list<CFieldModel*>{
             &page, &addDomain, &addAlias, &addAccount, &changeAccount, &delivery}) {
        SCOPED_TRACE(model->FormName());
        std::unique_ptr<CModelView> view(CreateModelView(*model, prompter));
        auto* designed = dynamic_cast<CDesignedView*>(view.get());
        ASSERT_NE(designed, nullptr) << "the form is built in";
        EXPECT_EQ(Faults(CFieldBinder::Mismatches(*model, *designed->form())).toStdString(), "");
    }
    // The toolbar says what its two delete buttons act on.
    std::unique_ptr<CModelView> pageView(CreateModelView(page, prompter));
    auto* designed = static_cast<CDesignedView*>(pageView.get());
    EXPECT_EQ(designed->Action(CPageDomains::kDeleteDomain)->toolTip(),
              QString::fromUtf8("Domain löschen"));
    EXPECT_EQ(designed->Action(CPageDomains::kDeleteEntry)->toolTip(),
              QString::fromUtf8("Konto oder Alias löschen"));
    // The texts shown are the model's.
    std::unique_ptr<CModelView> view(CreateModelView(addAccount, prompter));
    for (const CFieldSpec& field : addAccount.Fields()) {
        if (auto* check = view->findChild<QCheckBox*>(QLatin1String(field.id))) {
            EXPECT_EQ(check->text(), QString::fromUtf8(field.label));
        }
    }
}

TEST(Forms, AccountDialogFoldsByItsReplyAreaAndUnfoldsAgain) {
    CChangeAccountDlg model("info@example.test", "info.example.test");
    model.FieldChanged(CAccountDlgBase::kReply, "1");
    CScriptedPrompter prompter;
    CDialogView dialog(model, prompter);
    dialog.show();
    QApplication::processEvents();
    auto* reply = dialog.findChild<QCheckBox*>(QLatin1String(CAccountDlgBase::kReply));
    auto* area = dialog.findChild<QWidget*>(QLatin1String(CAccountDlgBase::kReplyArea));
    auto* subject = dialog.findChild<QLineEdit*>(QLatin1String(CAccountDlgBase::kReplySubject));
    ASSERT_TRUE(reply && area && subject);
    ASSERT_TRUE(area->isVisible()) << "a dialog whose reply is on opens at its full height";
    const int full = dialog.height();

    reply->click();
    QApplication::processEvents();
    EXPECT_FALSE(area->isVisible());
    EXPECT_FALSE(subject->isEnabled());
    EXPECT_EQ(dialog.height(), full - 185);

    reply->click();
    QApplication::processEvents();
    EXPECT_TRUE(area->isVisible());
    EXPECT_TRUE(subject->isEnabled());
    EXPECT_EQ(dialog.height(), full);

    // One that opens with the reply off opens folded, and grows by the area's height.
    CAddAccountDlg add("example.test");
    CDialogView folded(add, prompter);
    folded.show();
    QApplication::processEvents();
    auto* addArea = folded.findChild<QWidget*>(QLatin1String(CAccountDlgBase::kReplyArea));
    EXPECT_FALSE(addArea->isVisible());
    const int short_ = folded.height();
    folded.findChild<QCheckBox*>(QLatin1String(CAccountDlgBase::kReply))->click();
    QApplication::processEvents();
    EXPECT_TRUE(addArea->isVisible());
    EXPECT_EQ(folded.height(), short_ + 185);
    EXPECT_EQ(addArea->height(), 185);
}

} // namespace

TEST(Forms, LimitArrowsStopAt32767ButALargerStoredValueIsShownAndKept) {
    CChangeAccountDlg model("info@example.test", "info.example.test");
    model.FieldChanged(CAccountDlgBase::kQuotaOn, "1");
    model.SetNumber(CAccountDlgBase::kQuota, 32767);
    CScriptedPrompter prompter;
    CDialogView dialog(model, prompter);
    auto* quota = dialog.findChild<QSpinBox*>(QLatin1String(CAccountDlgBase::kQuota));
    ASSERT_NE(quota, nullptr);
    EXPECT_EQ(quota->value(), 32767);
    quota->stepUp();
    EXPECT_EQ(quota->value(), 32767);
    // A quota set by hand beyond the arrows: shown as it is, the arrows lead only down.
    quota->setValue(50000);
    EXPECT_EQ(quota->value(), 50000);
    quota->stepUp();
    EXPECT_EQ(quota->value(), 50000);
    quota->stepDown();
    EXPECT_EQ(quota->value(), 49999);
}
