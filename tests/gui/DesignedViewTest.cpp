// The view of a Designer form and the binder's kinds of control, on small models of their own:
// what the user does reaches the model, and what the model says is what the view shows. Also
// the message box's default answer, which decides what a Return does.
#include "gui/DesignedView.h"
#include "gui/FieldBinder.h"
#include "gui/FormRegistry.h"
#include "gui/QtPrompter.h"
#include "gui/RowItemModels.h"
#include "pages/RowModel.h"
#include "tests/ScriptedPrompter.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QToolBar>
#include <QTreeView>
#include <QVBoxLayout>
#include <QtTest/QTest>

#include <gtest/gtest.h>

#include <array>

namespace {

// Rows that count how often a cell's text is asked for.
class CCountingRows : public CRowModel {
public:
    std::span<const CColumnSpec> Columns() const override { return kColumns; }
    std::span<const char* const> Icons() const override { return kIcons; }
    std::size_t RowCount() const override { return count; }
    std::string CellText(std::size_t row, std::size_t column) const override {
        ++cellTexts;
        return (column == 0 ? "adr\xE4" : "kto") + std::to_string(row);
    }
    int RowIcon(std::size_t row) const override { return static_cast<int>(row % 2); }
    void Replace(std::size_t rows) {
        count = rows;
        Reset();
    }
    std::size_t count = 0;
    mutable std::size_t cellTexts = 0;

private:
    static constexpr std::array<CColumnSpec, 2> kColumns{{{"Adresse", 0}, {"Konto", 500}}};
    static constexpr std::array<const char*, 2> kIcons{"account", "forward"};
};

// A model of a tree beside a list on the page's form, that records what reaches it.
class CListsModel : public CFieldModel {
public:
    CListsModel() : tree({"domains-root", "domain-local"}) { Build({"a.test", "b.test"}); }

    std::span<const CFieldSpec> Fields() const override { return {}; }
    std::span<const CCommandSpec> Commands() const override { return kCommands; }
    std::span<const CListSpec> Lists() const override { return kLists; }
    std::span<const char* const> ToolbarLayout() const override { return kToolbar; }
    const char* FormName() const override { return "PageDomains"; }
    CRowModel* RowsOf(std::string_view id) override {
        return id == "addressList" ? &rows : nullptr;
    }
    CTreeModel* TreeOf(std::string_view id) override {
        return id == "domainTree" ? &tree : nullptr;
    }

    void OnCommand(std::string_view id, CPrompter&) override {
        events.push_back("command " + std::string(id));
        if (id == "addDomain") {
            Build({"a.test", "b.test", "c.test"});
            tree.Select(tree.Child(tree.Child(CTreeModel::kNone, 0), 2));
        }
    }
    void OnSelectionChanged(std::string_view id, CPrompter&) override {
        events.push_back("select " + std::string(id));
    }
    // Deleting needs a domain, changing needs a row.
    void UpdateStates() override {
        const auto node = tree.Selected();
        SetEnabled("deleteDomain",
                   node != CTreeModel::kNone && tree.Parent(node) != CTreeModel::kNone);
        SetEnabled("changeAccount", rows.Selected().has_value());
    }

    void Build(std::initializer_list<const char*> domains) {
        tree.Clear();
        const auto root = tree.Add(CTreeModel::kNone, "Domains", 0);
        for (const char* domain : domains)
            tree.Add(root, domain, 1);
        tree.SetExpanded(root, true);
    }

    CTreeModel tree;
    CCountingRows rows;
    std::vector<std::string> events;

private:
    static constexpr std::array<CCommandSpec, 3> kCommands{{
        {.id = "addDomain",
         .label = "&Hinzufügen...",
         .places = kPlaceToolbar | kPlaceMenu,
         .listId = "domainTree",
         .icon = "add-domain"},
        {.id = "deleteDomain",
         .label = "&Löschen",
         .places = kPlaceToolbar | kPlaceMenu | kPlaceDeleteKey,
         .listId = "domainTree",
         .icon = "delete-domain"},
        {.id = "changeAccount",
         .label = "Konto ä&ndern...",
         .places = kPlaceToolbar | kPlaceMenu,
         .listId = "addressList",
         .doubleClick = true,
         .icon = "change-account"},
    }};
    static constexpr std::array<CListSpec, 2> kLists{{
        {"domainTree", CListSpec::Kind::Tree, "Domains"},
        {"addressList", CListSpec::Kind::List, "Konten"},
    }};
    static constexpr std::array<const char*, 4> kToolbar{"addDomain", "deleteDomain", nullptr,
                                                         "changeAccount"};
};

class DesignedView : public testing::Test {
protected:
    DesignedView() : view(model, prompter, FindForm("PageDomains")) {
        view.resize(600, 400);
        view.show();
        model.UpdateStates();
        view.ShowStates();
    }
    QTreeView& Tree() { return *view.ListView("domainTree"); }
    QTreeView& List() { return *view.ListView("addressList"); }

    CListsModel model;
    CScriptedPrompter prompter;
    CDesignedView view;
};

TEST_F(DesignedView, ToolbarAndContextMenusRunTheModelsCommandsInTheirStatedPlaces) {
    ASSERT_NE(view.toolBar(), nullptr);
    QStringList bar;
    for (QAction* action : view.toolBar()->actions())
        bar << (action->isSeparator() ? QStringLiteral("|") : action->text());
    EXPECT_EQ(bar, (QStringList{QString::fromUtf8("&Hinzufügen..."), QString::fromUtf8("&Löschen"),
                                QStringLiteral("|"), QString::fromUtf8("Konto ä&ndern...")}));
    EXPECT_FALSE(view.Action("addDomain")->icon().isNull());
    EXPECT_EQ(view.ContextMenu("domainTree")->title(), QStringLiteral("Domains"));
    EXPECT_EQ(view.ContextMenu("addressList")->actions().size(), 1);

    // Nothing selected: the model has switched deleting off, and the action shows it.
    EXPECT_FALSE(view.Action("deleteDomain")->isEnabled());
    view.ContextMenu("domainTree")->actions().at(1)->trigger();
    EXPECT_TRUE(model.events.empty());

    // The menu opens where the mouse is, and its item reaches the model.
    const QRect row = Tree().visualRect(Tree().model()->index(0, 0));
    QContextMenuEvent click(QContextMenuEvent::Mouse, row.center(),
                            Tree().viewport()->mapToGlobal(row.center()));
    QApplication::sendEvent(Tree().viewport(), &click);
    QMenu& menu = *view.ContextMenu("domainTree");
    EXPECT_TRUE(menu.isVisible());
    EXPECT_LT((menu.pos() - click.globalPos()).manhattanLength(), 4);
    menu.actions().at(0)->trigger();
    menu.hide();
    EXPECT_EQ(model.events, std::vector<std::string>{"command addDomain"});
}

TEST_F(DesignedView, SelectionsReachTheModelAndARebuiltTreeOpensAndSelectsWhatTheModelSays) {
    const QModelIndex root = Tree().model()->index(0, 0);
    EXPECT_TRUE(Tree().isExpanded(root));
    const QModelIndex second = Tree().model()->index(1, 0, root);
    QTest::mouseClick(Tree().viewport(), Qt::LeftButton, {}, Tree().visualRect(second).center());
    ASSERT_NE(model.tree.Selected(), CTreeModel::kNone);
    EXPECT_EQ(model.tree.Text(model.tree.Selected()), "b.test");
    EXPECT_EQ(model.events, std::vector<std::string>{"select domainTree"});
    EXPECT_TRUE(view.Action("deleteDomain")->isEnabled()) << "states are drawn after a selection";

    view.Action("addDomain")->trigger(); // the model rebuilds its tree and selects the new node
    const QModelIndex newRoot = Tree().model()->index(0, 0);
    EXPECT_TRUE(Tree().isExpanded(newRoot));
    ASSERT_EQ(Tree().selectionModel()->selectedRows().size(), 1);
    EXPECT_EQ(Tree().selectionModel()->selectedRows().front().data().toString(),
              QStringLiteral("c.test"));
    EXPECT_EQ(model.events.back(), "command addDomain")
        << "showing its selection is not the user's";
}

TEST_F(DesignedView, DeleteOnASelectedRowRunsTheDeleteCommandAndShiftF10OpensTheMenu) {
    const QModelIndex root = Tree().model()->index(0, 0);
    Tree().setFocus();
    QTest::keyClick(&Tree(), Qt::Key_Delete);
    EXPECT_TRUE(model.events.empty()) << "nothing selected, nothing deleted";

    const QModelIndex second = Tree().model()->index(1, 0, root);
    QTest::mouseClick(Tree().viewport(), Qt::LeftButton, {}, Tree().visualRect(second).center());
    QTest::keyClick(&Tree(), Qt::Key_Delete);
    EXPECT_EQ(model.events.back(), "command deleteDomain");

    QTest::keyClick(&Tree(), Qt::Key_F10, Qt::ShiftModifier);
    QMenu& menu = *view.ContextMenu("domainTree");
    EXPECT_TRUE(menu.isVisible());
    const QPoint below = Tree().viewport()->mapToGlobal(Tree().visualRect(second).bottomLeft());
    EXPECT_LT((menu.pos() - below).manhattanLength(), 4) << "opened at the selected row";
    menu.hide();
}

TEST_F(DesignedView, DoubleClickOnARowRunsTheListsCommand) {
    model.rows.Replace(3);
    view.ShowStates();
    const QRect row = List().visualRect(List().model()->index(1, 0));
    QTest::mouseClick(List().viewport(), Qt::LeftButton, {}, row.center());
    EXPECT_EQ(model.rows.Selected(), std::optional<std::size_t>(1));
    QTest::mouseDClick(List().viewport(), Qt::LeftButton, {}, row.center());
    EXPECT_EQ(model.events.back(), "command changeAccount");
}

TEST_F(DesignedView, ListConvertsOnlyTheCellsItDrawsAndSharesItsWidthByTheColumns) {
    model.rows.Replace(100000);
    view.ShowStates(); // the revision moved on: the adapter resets
    List().viewport()->repaint();
    QApplication::processEvents();
    EXPECT_EQ(List().model()->rowCount(), 100000);
    EXPECT_GT(model.rows.cellTexts, 0u);
    EXPECT_LT(model.rows.cellTexts, 500u) << "only the rows on screen are converted";
    EXPECT_EQ(List().model()->index(0, 0).data().toString(), QString::fromUtf8("adrä0"));
    EXPECT_FALSE(List().model()->index(0, 0).data(Qt::DecorationRole).value<QIcon>().isNull());
    EXPECT_EQ(List().model()->headerData(1, Qt::Horizontal).toString(), QStringLiteral("Konto"));

    const int client = List().viewport()->width();
    EXPECT_EQ(List().columnWidth(1), client / 2);
    EXPECT_EQ(List().columnWidth(0), client - client / 2);
    view.resize(800, 400);
    QApplication::processEvents();
    EXPECT_EQ(List().columnWidth(1), List().viewport()->width() / 2);
}

// A model with every kind of control the binder knows.
class CKindsModel : public CFieldModel {
public:
    std::span<const CFieldSpec> Fields() const override { return kFields; }
    void UpdateStates() override { SetEnabled("note", Value("on") == "1"); }

    static constexpr std::array<CChoice, 2> kModes{{{"a", "Modus &A"}, {"b", "Modus &B"}}};
    static constexpr std::array<CChoice, 2> kSorts{{{"up", "Aufsteigend"}, {"down", "Absteigend"}}};

private:
    static constexpr std::array<CFieldSpec, 6> kFields{{
        {.id = "secret",
         .type = FieldType::Text,
         .label = "&Passwort:",
         .maxLength = 8,
         .flags = kFieldMasked},
        {.id = "note", .type = FieldType::Text, .label = "&Notiz:", .flags = kFieldMultiLine},
        {.id = "on", .type = FieldType::Check, .label = "&Aktiv"},
        {.id = "mode", .type = FieldType::Choice, .label = "Modus", .choices = kModes},
        {.id = "sort", .type = FieldType::Choice, .label = "&Sortierung:", .choices = kSorts},
        {.id = "host", .type = FieldType::Text, .label = "&Server:"},
    }};
};

TEST(FieldBinder, EachKindOfControlShowsTakesAndReportsItsField) {
    QWidget form;
    auto* layout = new QVBoxLayout(&form);
    auto add = [&](QWidget* widget, const char* name) {
        widget->setObjectName(QLatin1String(name));
        layout->addWidget(widget);
        return widget;
    };
    auto* secret = static_cast<QLineEdit*>(add(new QLineEdit, "secret"));
    auto* noteLabel = static_cast<QLabel*>(add(new QLabel(QStringLiteral("x")), "_noteLabel"));
    auto* note = static_cast<QPlainTextEdit*>(add(new QPlainTextEdit, "note"));
    noteLabel->setBuddy(note);
    auto* on = static_cast<QCheckBox*>(add(new QCheckBox, "on"));
    auto* modeB = static_cast<QRadioButton*>(add(new QRadioButton, "mode_b"));
    add(new QRadioButton, "mode_a");
    auto* sort = static_cast<QComboBox*>(add(new QComboBox, "sort"));
    auto* host = static_cast<QComboBox*>(add(new QComboBox, "host"));

    CKindsModel model;
    EXPECT_TRUE(CFieldBinder::Mismatches(model, form).isEmpty());
    model.SetValue("note", "eins\r\nzwei");
    model.SetValue("mode", "a");
    model.SetValue("sort", "down");
    model.SetValue("host", "mx2");
    model.UpdateStates();
    CFieldBinder binder(model, form);
    binder.SetSuggestionSource([](const CFieldSpec&) {
        return std::vector<std::string>{"mx1", "mx\xE4"};
    });
    binder.ModelToControls();

    // Limits and labels from the table.
    EXPECT_EQ(secret->echoMode(), QLineEdit::Password);
    EXPECT_GT(secret->maxLength(), 8) << "the exchange holds the limit, not the typing";
    EXPECT_EQ(noteLabel->text(), QStringLiteral("&Notiz:"));
    EXPECT_EQ(on->text(), QStringLiteral("&Aktiv"));
    EXPECT_EQ(modeB->text(), QStringLiteral("Modus &B"));
    EXPECT_EQ(note->toPlainText(), QStringLiteral("eins\nzwei"));
    EXPECT_FALSE(note->isEnabled());
    EXPECT_FALSE(noteLabel->isEnabled()) << "the label greys with its field";
    EXPECT_EQ(sort->currentText(), QStringLiteral("Absteigend"));
    EXPECT_FALSE(sort->isEditable());
    EXPECT_TRUE(host->isEditable());
    EXPECT_EQ(host->itemText(1), QString::fromUtf8("mxä"));
    EXPECT_EQ(host->currentText(), QStringLiteral("mx2"));

    // Check boxes and choices reach the model at once, and the states follow.
    on->click();
    EXPECT_EQ(model.Value("on"), "1");
    EXPECT_TRUE(model.IsEnabled("note"));
    modeB->click();
    EXPECT_EQ(model.Value("mode"), "b");
    sort->setCurrentIndex(0);
    emit sort->activated(0);
    EXPECT_EQ(model.Value("sort"), "up");

    // Texts wait for the exchange, which takes line breaks as CR LF.
    note->setPlainText(QStringLiteral("drei\nvier"));
    host->setEditText(QString::fromUtf8("mxä"));
    EXPECT_EQ(model.Value("note"), "eins\r\nzwei");
    CScriptedPrompter prompter;
    ASSERT_TRUE(binder.ControlsToModel(prompter));
    EXPECT_EQ(model.Value("note"), "drei\r\nvier");
    EXPECT_EQ(model.Value("host"), "mx\xE4");
}

// Two texts with a short limit, one typed, one with suggestions.
class CLimitedModel : public CFieldModel {
public:
    std::span<const CFieldSpec> Fields() const override { return kFields; }

private:
    static constexpr std::array<CFieldSpec, 2> kFields{{
        {.id = "dir", .type = FieldType::Text, .label = "&Ordner:", .maxLength = 8},
        {.id = "host", .type = FieldType::Text, .label = "&Server:", .maxLength = 8},
    }};
};

TEST(FieldBinder, AStoredValueLongerThanItsLimitIsShownWholeAndRefusedWhenTaken) {
    QWidget form;
    auto* layout = new QVBoxLayout(&form);
    auto* dir = new QLineEdit;
    dir->setObjectName(QStringLiteral("dir"));
    layout->addWidget(dir);
    auto* host = new QComboBox;
    host->setObjectName(QStringLiteral("host"));
    layout->addWidget(host);

    CLimitedModel model;
    model.SetValue("dir", "C:\\Mail\\Spool\xE4");
    model.SetValue("host", "relay.example.test");
    CFieldBinder binder(model, form);
    binder.SetSuggestionSource([](const CFieldSpec&) {
        return std::vector<std::string>{"mx1", "mx.long.example.test"};
    });
    binder.ModelToControls();
    EXPECT_EQ(dir->text(), QString::fromUtf8("C:\\Mail\\Spoolä"));
    EXPECT_EQ(host->currentText(), QStringLiteral("relay.example.test"));
    QTest::keyClick(host, Qt::Key_Down); // picks the second suggestion
    EXPECT_EQ(host->currentText(), QStringLiteral("mx.long.example.test"));

    // Taken unchanged, the value is refused and stays whole in the model.
    CScriptedPrompter prompter;
    prompter.ExpectText("nicht mehr als 8 Zeichen");
    EXPECT_FALSE(binder.ControlsToModel(prompter));
    EXPECT_EQ(model.Value("dir"), "C:\\Mail\\Spool\xE4");
    prompter.VerifyAllMet();

    // Typing on beyond the limit is not cut either: the take refuses the whole text.
    model.SetValue("dir", "C:\\M");
    model.SetValue("host", "mx1");
    binder.ModelToControls();
    dir->end(false);
    QTest::keyClicks(dir, QStringLiteral("ail\\Spool"));
    EXPECT_EQ(dir->text(), QStringLiteral("C:\\Mail\\Spool"));
    prompter.ExpectText("nicht mehr als 8 Zeichen");
    EXPECT_FALSE(binder.ControlsToModel(prompter));
    EXPECT_EQ(model.Value("dir"), "C:\\M");
    dir->setText(QStringLiteral("C:\\Mail"));
    EXPECT_TRUE(binder.ControlsToModel(prompter));
    prompter.VerifyAllMet();
}

// Answers the next message box by a key, once it is shown.
void PressInNextBox(Qt::Key key) {
    QTimer::singleShot(0, [key] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
            QTest::keyClick(box, key);
    });
}

TEST(QtPrompter, ReturnAnswersNoOnlyWhereNoIsTheDefault) {
    CQtPrompter prompter;
    PressInNextBox(Qt::Key_Return);
    EXPECT_EQ(prompter.ShowText("Weiter?", MessageKind::Question), Answer::Yes);
    PressInNextBox(Qt::Key_Return);
    EXPECT_EQ(prompter.AskDefaultNo("Trotzdem speichern?"), Answer::No);
    PressInNextBox(Qt::Key_Enter);
    EXPECT_EQ(prompter.AskDefaultNo("Trotzdem speichern?"), Answer::No);
    PressInNextBox(Qt::Key_Escape);
    EXPECT_EQ(prompter.ShowText("Weiter?", MessageKind::Question), Answer::No);
}

TEST(FieldBinder, MismatchesNameWhatTheFormLacksAndWhatStandsForNothing) {
    QWidget form;
    auto* layout = new QVBoxLayout(&form);
    auto add = [&](QWidget* widget, const char* name) {
        widget->setObjectName(QLatin1String(name));
        layout->addWidget(widget);
    };
    add(new QLineEdit, "secret");
    add(new QLineEdit, "secret"); // twice
    add(new QLineEdit, "on");     // a check field in a line edit
    add(new QRadioButton, "mode_a");
    add(new QComboBox, "sort");
    add(new QComboBox, "host");
    add(new QPushButton, "stray");
    add(new QWidget, "_layoutOnly");
    add(new QLabel, "plainLabel");
    CKindsModel model;
    const QStringList faults = CFieldBinder::Mismatches(model, form);
    EXPECT_EQ(faults.size(), 5) << faults.join(QLatin1Char('\n')).toStdString();
    for (const char* expected :
         {"\"secret\": 2", "\"note\": 0", "\"on\": a QLineEdit", "\"mode_b\": 0", "\"stray\""})
        EXPECT_TRUE(faults.join(QLatin1Char('\n')).contains(QLatin1String(expected))) << expected;
}

} // namespace
