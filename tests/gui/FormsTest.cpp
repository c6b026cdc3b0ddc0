// The program's own forms with their real models: each binds every id of its model, and the
// account dialogs fold their reply area away.
#include "gui/DesignedView.h"
#include "gui/DialogView.h"
#include "gui/FieldBinder.h"
#include "pages/AccountDialogs.h"
#include "pages/InterfaceDlg.h"
#include "pages/MdaAdvanced.h"
#include "pages/PageDelivery.h"
#include "pages/PageDomains.h"
#include "pages/PageListener.h"
#include "pages/PageSyslog.h"
#include "pages/ServerAdvanced.h"
#include "pages/TransportRules.h"
#include "tests/ScriptedPrompter.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFocusEvent>
#include <QHeaderView>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTreeView>
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
    set.domains.AddTail("example.test");
    set.smarthosts.SetAt("<example.test", "user:pw@relay.example.test:587s");
    CTransportRulesDlg transportRules(set);
    CTransportRuleDlg transportRule(&set.domains, "<example.test", "user:pw@relay.example.test:587s");
    set.mdad.SetString(CMDAAdvancedDlg::kDomainKey, "example.test");
    CMDAAdvancedDlg mdaAdvanced(set);
    const auto none = [] { return platform::LocalAddresses{}; };
    CPageConfigSMTP smtp(set, {}, none);
    CPageConfigPOP3 pop3(set, {}, none);
    CPageConfigIMAP4 imap4(set, {}, none);
    CPageConfigSyslog syslog(set, none);
    CInterfaceDlg interfaceDlg(110, none);
    CPageConfigMDA delivery(set, {}, {}, CPageConfigMDA::Environment{.configDir = "/cfg"});
    CScriptedPrompter prompter;
    // The server dialogs as they open: with a certificate list (here from a store that cannot be
    // opened, so the list is empty, as it may be) and the SRS domains.
    const CertificateStoreFactory noStore = [] {
        return platform::MakeFolderCertificateStore("/nonexistent/korvane-certs");
    };
    CSmtpAdvancedDlg smtpAdvanced(set, noStore);
    CPop3AdvancedDlg pop3Advanced(set, noStore);
    CImap4AdvancedDlg imap4Advanced(set, noStore);
    for (CDialogModel* server :
         std::initializer_list<CDialogModel*>{&smtpAdvanced, &pop3Advanced, &imap4Advanced}) {
        prompter.ExpectText("Zertifikatsspeicher");
        server->OnOpen(prompter);
    }
    for (CFieldModel* model : std::initializer_list<CFieldModel*>{
             &page, &addDomain, &addAlias, &addAccount, &changeAccount, &transportRules,
             &transportRule, &mdaAdvanced, &smtp, &pop3, &imap4, &syslog, &interfaceDlg,
             &smtpAdvanced, &pop3Advanced, &imap4Advanced, &delivery}) {
        SCOPED_TRACE(model->FormName());
        std::unique_ptr<CModelView> view(CreateModelView(*model, prompter));
        auto* designed = dynamic_cast<CDesignedView*>(view.get());
        ASSERT_NE(designed, nullptr) << "the form is built in";
        EXPECT_EQ(Faults(CFieldBinder::Mismatches(*model, *designed->form())).toStdString(), "");
    }
    // The rule editor's domain is a text the drop-down only suggests; the SRS domain can only
    // be picked from the local domains.
    std::unique_ptr<CModelView> ruleView(CreateModelView(transportRule, prompter));
    ruleView->Refresh();
    auto* domain = ruleView->findChild<QComboBox*>(QLatin1String(CTransportRuleDlg::kDomain));
    ASSERT_NE(domain, nullptr);
    EXPECT_TRUE(domain->isEditable());
    EXPECT_EQ(domain->count(), 2);
    EXPECT_EQ(domain->currentText(), QStringLiteral("example.test"));
    std::unique_ptr<CModelView> mdaView(CreateModelView(mdaAdvanced, prompter));
    mdaView->Refresh();
    auto* srs = mdaView->findChild<QComboBox*>(QLatin1String(CMDAAdvancedDlg::kSrsDomain));
    ASSERT_NE(srs, nullptr);
    EXPECT_FALSE(srs->isEditable());
    EXPECT_EQ(srs->currentText(), QStringLiteral("example.test"));

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

TEST(Forms, AddingADeliveryTimeAsksAboutTheSchedulerBeforeTheTimeIsChecked) {
    CConfigSet set;
    CPageConfigMDA delivery(set, {}, {}, CPageConfigMDA::Environment{.configDir = "/cfg"});
    delivery.FieldChanged(CPageConfigMDA::kMode, "0"); // by scripts at fixed times
    CScriptedPrompter prompter;
    std::unique_ptr<CModelView> view(CreateModelView(delivery, prompter));
    view->Refresh();
    auto* hour = view->findChild<QLineEdit*>(QLatin1String(CPageConfigMDA::kHour));
    ASSERT_NE(hour, nullptr);
    hour->setText(QStringLiteral("24"));
    prompter.ExpectMessage(134, MessageKind::Question, Answer::No);
    static_cast<CDesignedView*>(view.get())->RunCommand(CPageConfigMDA::kAddTime);
    prompter.VerifyAllMet();
    EXPECT_EQ(hour->text(), QStringLiteral("24")) << "what was typed stays";
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

// The spin box settles its text when it loses the focus, as when the user clicks OK.
static void LeaveControl(QWidget* control) {
    QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
    QApplication::sendEvent(control, &out);
}

TEST(Forms, TypedValuesBeyondTheirFieldReachTheTakeWholeAndAreRefused) {
    CScriptedPrompter prompter;
    CInterfaceDlg ports(110, [] {
        return platform::LocalAddresses{platform::AddressQueryOutcome::Success, {"10.0.0.1"}};
    });
    ports.OnOpen(prompter);
    CDialogView portDialog(ports, prompter);
    auto* port = portDialog.findChild<QSpinBox*>(QLatin1String(CInterfaceDlg::kPort));
    ASSERT_NE(port, nullptr);
    for (const char* typed : {"99999", "12345678901"}) {
        port->selectAll();
        QTest::keyClicks(port, typed);
        LeaveControl(port);
        EXPECT_EQ(port->text(), QLatin1String(typed));
        prompter.ExpectText("Geben Sie eine ganze Zahl zwischen 0 und 65535 ein.");
        EXPECT_FALSE(portDialog.view()->TakeFields()) << typed;
        EXPECT_EQ(ports.Number(CInterfaceDlg::kPort), 110) << typed;
    }

    CAddDomainDlg domain;
    CDialogView domainDialog(domain, prompter);
    auto* name = domainDialog.findChild<QLineEdit*>(QLatin1String(CAddDomainDlg::kDomainName));
    ASSERT_NE(name, nullptr);
    const QString typed = QString(66, QLatin1Char('a')) + QStringLiteral(".test");
    QTest::keyClicks(name, typed);
    EXPECT_EQ(name->text(), typed);
    prompter.ExpectText("Geben Sie nicht mehr als 64 Zeichen ein.");
    EXPECT_FALSE(domainDialog.view()->TakeFields());
    EXPECT_EQ(domain.Value(CAddDomainDlg::kDomainName), "");
    prompter.VerifyAllMet();
}

TEST(Forms, F1InADialogAsksForTheHelpOfThatDialog) {
    CScriptedPrompter prompter;
    CConfigSet set;
    CAddDomainDlg addDomain;
    CMDAAdvancedDlg advanced(set);
    for (const auto& [model, resource] :
         {std::pair<CDialogModel*, unsigned>{&addDomain, help::resource::kAddDomainDlg},
          std::pair<CDialogModel*, unsigned>{&advanced, help::resource::kDeliveryAdvanced}}) {
        CDialogView dialog(*model, prompter);
        dialog.show();
        QApplication::setActiveWindow(&dialog);
        ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
        QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : &dialog,
                        Qt::Key_F1);
        ASSERT_FALSE(prompter.events().empty());
        EXPECT_EQ(prompter.events().back(), "help 1 " + std::to_string(help::ContextOf(resource)));
    }
}

TEST(Forms, ListenerViewsShowColumnsAddressChoicesAndAStoredPortBeyondTheRange) {
    CConfigSet set;
    set.pop3d.SetString("Interface", "*:995s");
    set.syslogd.SetString("Port", "70000");
    const auto found = [] {
        return platform::LocalAddresses{platform::AddressQueryOutcome::Success, {"10.0.0.1"}};
    };
    CScriptedPrompter prompter;
    CPageConfigPOP3 pop3(set, {}, found);
    std::unique_ptr<CModelView> view(CreateModelView(pop3, prompter));
    auto* designed = static_cast<CDesignedView*>(view.get());
    QTreeView* interfaces = designed->ListView(CPageConfigListener::kInterfaces);
    ASSERT_NE(interfaces, nullptr);
    EXPECT_FALSE(interfaces->isHeaderHidden());
    EXPECT_EQ(interfaces->model()->headerData(1, Qt::Horizontal).toString(),
              QString::fromUtf8("TCP-Anschluß"));
    EXPECT_EQ(interfaces->model()->index(0, 2).data().toString(), QStringLiteral("Ja"));
    EXPECT_FALSE(interfaces->model()->index(0, 0).data(Qt::DecorationRole).isNull());
    EXPECT_TRUE(designed->ListView(CPageConfigListener::kAllowList)->header()->isHidden());

    // ">" follows the typing in both fields and adds what was typed.
    auto* add = view->findChild<QPushButton*>(QLatin1String(CPageConfigListener::kAllowAdd));
    auto* allowAddress =
        view->findChild<QLineEdit*>(QLatin1String(CPageConfigListener::kAllowAddress));
    auto* allowMask = view->findChild<QLineEdit*>(QLatin1String(CPageConfigListener::kAllowMask));
    ASSERT_TRUE(add && allowAddress && allowMask);
    EXPECT_FALSE(add->isEnabled());
    QTest::keyClicks(allowAddress, "10.0.0.0");
    EXPECT_FALSE(add->isEnabled());
    QTest::keyClicks(allowMask, "255.0.0.0");
    EXPECT_TRUE(add->isEnabled());
    add->click();
    EXPECT_EQ(pop3.ListOf("AccessAllowFile").Join(","), "0.0.0.0/0.0.0.0,10.0.0.0/255.0.0.0");
    EXPECT_TRUE(allowAddress->text().isEmpty());
    EXPECT_FALSE(add->isEnabled());

    CInterfaceDlg dialog(110, found);
    dialog.OnOpen(prompter);
    CDialogView dialogView(dialog, prompter);
    auto* address = dialogView.findChild<QComboBox*>(QLatin1String(CInterfaceDlg::kAddress));
    ASSERT_NE(address, nullptr);
    EXPECT_EQ(address->count(), 2);
    EXPECT_EQ(address->currentText(), QStringLiteral("<alle>"));

    // Shown as stored, and refused when the page is left.
    CPageConfigSyslog syslog(set, found);
    std::unique_ptr<CModelView> syslogView(CreateModelView(syslog, prompter));
    auto* port = syslogView->findChild<QSpinBox*>(QLatin1String(CPageConfigSyslog::kPort));
    ASSERT_NE(port, nullptr);
    EXPECT_EQ(port->value(), 70000);
    prompter.ExpectText("65535");
    EXPECT_FALSE(syslogView->TakeFields());
}

namespace {

// Two certificates, one with a name beyond the Latin-1 range of the code page.
class CTwoCertificates : public platform::CertificateStore {
public:
    bool Open() override { return true; }
    bool Next(std::string& subject) override {
        if (m_next >= 2)
            return false;
        subject = m_next++ == 0 ? "mail.example.test, Korvane Test, DE"
                                : "imap.example.test, M\xC3\xBCller, DE";
        return true;
    }
    bool Close() override { return true; }

private:
    int m_next = 0;
};

} // namespace

TEST(Forms, CertificateListShowsTheStoreAndMayStayWithoutAChoice) {
    CConfigSet set;
    CImap4AdvancedDlg model(set, [] { return std::make_unique<CTwoCertificates>(); });
    CScriptedPrompter prompter;
    model.OnOpen(prompter);
    CDialogView dialog(model, prompter);
    auto* list = dialog.findChild<QComboBox*>(QLatin1String(CServerSettingsDlg::kCertificate));
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(list->count(), 2);
    EXPECT_EQ(list->itemText(0), QString::fromUtf8("imap.example.test, Müller, DE"));
    EXPECT_EQ(list->currentIndex(), -1) << "nothing stored, nothing chosen";
    auto* view = dialog.findChild<CModelView*>();
    ASSERT_NE(view, nullptr);
    EXPECT_TRUE(view->TakeFields()) << "no choice is accepted";
    EXPECT_EQ(model.Value(CServerSettingsDlg::kCertificate), "");
    list->setCurrentIndex(0);
    EXPECT_TRUE(view->TakeFields());
    EXPECT_EQ(model.Value(CServerSettingsDlg::kCertificate), "imap.example.test, M\xFCller, DE");
}
