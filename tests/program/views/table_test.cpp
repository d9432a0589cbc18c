// The table window over a system tree from the fake wrapper: columns, row
// labels and view modes; editing cells with keys and the mouse (one write per
// confirmation, nothing from arrowing, Escape or refreshes); multi-cell
// writes; alarm rows; a board pulled while an editor is open.
#include "AppGlobals.h"
#include "FakeWrapper.h"
#include "KORUHVChannelAlarm.h"
#include "KORUHVMirrorNode.h"
#include "KORUHVWidgetItem.h"
#include "QCustomTableWidget.h"
#include "QCustomTableWidgetDelegate.h"
#include "QSubWindow.h"
#include "QSubWindowLayout.h"
#include "qt_gtest_print.h"
#include "views_fake_support.h"
#include "views_support.h"

#include <QComboBox>
#include <QDialog>
#include <QDoubleSpinBox>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

using fakehv::Raw;

void fillChannel(fakehv::Channel &ch, float vset, float max, bool withTripInt)
{
    ch.name = "ch";
    ch.params = {
        {"Name", vt::fakeParam(5, Raw::text("dup"))}, // a second "Name" beside the model's own
        {"Trip", vt::fakeParam(0, Raw::f32(1), vt::limits(0, 100, 1))},
        {"RUp", vt::fakeParam(0, Raw::f32(5), vt::limits(0, 100, 1))},
        {"VSet", vt::fakeParam(0, Raw::f32(vset), vt::limits(0, max, 1))},
        {"ISet", vt::fakeParam(0, Raw::f32(10), vt::limits(0, 300, 1))},
        {"Status", vt::readOnly(vt::fakeParam(2, Raw::u32(0)))},
        {"Pw", vt::fakeParam(1, Raw::u32(0), {{"Onstate", Raw::text("On")}, {"Offstate", Raw::text("Off")}})},
        {"VMon", vt::readOnly(vt::fakeParam(0, Raw::f32(0), vt::limits(0, 3100, 1)))}};
    if (withTripInt)
        ch.params.push_back({"TripInt", vt::fakeParam(4, Raw::u32(0))});
}

/* Routes the model's board-removal notice as the main window does: the cell
 * editors the window opened hear it and close without writing. */
struct RemovalRouting {
    int removals = 0;
    QObject context;
    std::vector<QPointer<KORUHVWidgetItem>> editors;
    explicit RemovalRouting(QSubWindow *window)
    {
        QObject::connect(window, &QSubWindow::cellEditorOpened, &context,
                         [this](KORUHVWidgetItem *editor) { editors.emplace_back(editor); });
        KORUHVConfig::KORUHVConfigSetBoardRemovalHandler([this](int, unsigned short, KORUHVNode *) {
            ++removals;
            for (const QPointer<KORUHVWidgetItem> &editor : editors)
                if (editor)
                    KORUHVCloseCellEditor(editor);
        });
    }
    ~RemovalRouting() { KORUHVConfig::KORUHVConfigSetBoardRemovalHandler(nullptr); }
};

class TableWindow : public vt::TableWindowTest {
protected:
    void SetUp() override
    {
        fakehv::reset();
        fakehv::System sys;
        fakehv::Board &b0 = sys.addBoard(0, 4);
        for (size_t i = 0; i < b0.channels.size(); ++i)
            fillChannel(b0.channels[i], i == 2 ? 1500.0f : 100.0f + float(i), i == 3 ? 1505.0f : 3000.0f,
                        true);
        sys.addBoard(2, 2);
        for (auto &ch : sys.crate[2].channels)
            fillChannel(ch, 200.0f, 3000.0f, false);
        sys.crate.resize(3);
        showWindow(fakehv::addSystem(sys), {1400, 600});
        fakehv::clearCalls();
    }

    void clickCell(int row, const QString &name, Qt::KeyboardModifiers mods = Qt::NoModifier)
    {
        QTableWidgetItem *it = table->item(row, column(name));
        QTest::mouseClick(table->viewport(), Qt::LeftButton, mods, table->visualItemRect(it).center());
    }
    static size_t writes() { return fakehv::callsOf("KORUHV_SetChParam").size(); }
};

TEST_F(TableWindow, LeadingColumnsRowsAndLabels)
{
    QStringList headers;
    for (int c = 0; c < table->columnCount(); ++c)
        headers << table->horizontalHeaderItem(c)->text();
    EXPECT_EQ(headers,
              QStringList({"Name", "ISet", "VSet", "VMon", "Pw", "Status", "RUp", "Trip", "TripInt"}));
    ASSERT_EQ(table->rowCount(), 6);
    EXPECT_EQ(table->verticalHeaderItem(0)->text(), "00.000");
    EXPECT_EQ(table->verticalHeaderItem(5)->text(), "02.001");
    EXPECT_EQ(table->item(4, column("TripInt"))->text(), "...") << "a channel without the parameter";
    EXPECT_EQ(table->item(0, column("VSet")), vt::param(vt::channel(tree.get(), 0, 0), "VSet"));
    EXPECT_TRUE(table->item(0, column("VMon"))->flags() == Qt::ItemIsEnabled);
    EXPECT_TRUE(window->getViewModeCombo() != nullptr);
    EXPECT_EQ(window->getViewMode(), 2);
}

TEST(RowLabels, PerWindowAndSystemType)
{
    struct Case {
        bool custom;
        int type;
        unsigned short slot;
        const char *board, *channel, *label;
    };
    const Case cases[] = {
        {false, 16, 50, "Board50", "Chan007", "2.00.007"},
        {false, 16, 27, "Board27", "Chan003", "1.02.003"},
        {false, 2, 5, "Board05", "Chan012", "05.012"},
        {true, 2, 5, "Board05", "Chan003", "(crate1)05.003"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(koruviews::rowLabel(c.custom, c.type, "crate1", c.slot, c.board, c.channel), c.label);
    EXPECT_TRUE(koruviews::isMinimalViewColumn("vset"));
    EXPECT_FALSE(koruviews::isMinimalViewColumn("TripInt"));
}

TEST_F(TableWindow, ViewModesAndDisabledChannels)
{
    window->getViewModeCombo()->setCurrentText("Minimal");
    EXPECT_EQ(window->getViewMode(), 1);
    EXPECT_TRUE(table->isColumnHidden(column("TripInt")));
    EXPECT_FALSE(table->isColumnHidden(column("VSet")));
    window->getViewModeCombo()->setCurrentText("Full");
    EXPECT_FALSE(table->isColumnHidden(column("TripInt")));

    vt::channel(tree.get(), 0, 1)->setNodeEnabled(false);
    window->getViewModeCombo()->setCurrentText("Custom");
    EXPECT_TRUE(table->isRowHidden(1));
    window->getViewModeCombo()->setCurrentText("Full");
    EXPECT_FALSE(table->isRowHidden(1));

    // Every channel disabled: the notice replaces the table.
    for (int s : {0, 2})
        for (KORUHVNode *ch : tree->getChildren()[s]->getChildren())
            ch->setNodeEnabled(false);
    KORUHVUpdateSubWindowLive(window.get(), false, tree.get(), {});
    ASSERT_NE(window->getNoChannelsLabel(), nullptr);
    EXPECT_EQ(window->getNoChannelsLabel()->text(), "No channels present");
    EXPECT_TRUE(table->isHidden());
}

TEST_F(TableWindow, TypedValueWritesOnceAndShowsTheNodesText)
{
    clickCell(0, "VSet");
    ASSERT_TRUE(vt::waitFor([&] { return openEditor() != nullptr; }));
    vt::type("1234.5", table);
    vt::key(Qt::Key_Return, table);
    ASSERT_TRUE(vt::waitFor([&] { return openEditor() == nullptr; }));
    auto sets = fakehv::callsOf("KORUHV_SetChParam");
    ASSERT_EQ(sets.size(), 1u);
    EXPECT_FLOAT_EQ(sets[0].value.asF32(), 1234.5f);
    KORUHVNode *n = node(0, "VSet");
    EXPECT_EQ(n->text(), n->cellText());
    EXPECT_TRUE(n->text().startsWith("1234.5")) << n->text().toStdString();
}

TEST_F(TableWindow, ArrowingEscapeAndRefreshWriteNothing)
{
    for (int r = 0; r < 4; ++r)
        node(r, "VSet")->setNodeValue(vt::good(1.0f, QUALITY_READ_FAILED));
    clickCell(0, "VSet");
    ASSERT_TRUE(vt::waitFor([&] { return openEditor() != nullptr; }));
    for (int i = 0; i < 3; ++i)
        vt::key(Qt::Key_Down, table);
    vt::key(Qt::Key_Up, table);
    QTest::qWait(20);
    EXPECT_EQ(writes(), 0u) << "arrowing over stale cells";

    KORUHVNode *n = node(table->currentRow(), "VSet");
    ASSERT_TRUE(vt::waitFor([&] { return openEditor() != nullptr; }));
    vt::type("77", table);
    openEditor()->setDataInValueField(5.0f); // a live refresh while typing
    vt::key(Qt::Key_Escape, table);
    ASSERT_TRUE(vt::waitFor([&] { return openEditor() == nullptr; }));
    QTest::qWait(20);
    EXPECT_EQ(writes(), 0u);
    EXPECT_EQ(n->text(), n->cellText()) << "the cell shows the node again after Escape";
}

TEST_F(TableWindow, MultiCellAbsoluteAndOffset)
{
    // Five VSet cells selected; row 2 already holds 1500.
    table->setCurrentItem(table->item(0, column("VSet")));
    for (int r = 0; r < 5; ++r)
        table->item(r, column("VSet"))->setSelected(true);
    auto *editor = new KORUHVWidgetItem(table->viewport(), node(0, "VSet"));
    editor->setOffsetTable(table);
    QObject::connect(editor, &KORUHVWidgetItem::endEditing, table,
                     &QCustomTableWidget::setValueForAllSelected);
    editor->createInternalWidget(DATA_FLOAT, ACCESS_READ_WRITE, "V", 100.0f, 1, true);
    auto *spin = qobject_cast<QDoubleSpinBox *>(editor->getValueFieldWidget());
    spin->setValue(1500);
    editor->setValueAndEmitSignalForNode();
    auto sets = fakehv::callsOf("KORUHV_SetChParam");
    std::vector<int> written;
    for (const auto &c : sets)
        written.push_back(c.slot * 10 + (c.list.empty() ? -1 : c.list[0]));
    EXPECT_EQ(written, (std::vector<int>{0, 1, 3, 20})) << "row 2 already at 1500 is skipped";

    // Offset 10: each its own value plus 10, except row 3 (Maxval 1505).
    fakehv::clearCalls();
    table->setProperty("Offset_V", true);
    for (int r = 0; r < 5; ++r)
        table->item(r, column("VSet"))->setSelected(true);
    node(4, "VSet")->setNodeValue(vt::good(200.0f));
    spin->setValue(10);
    editor->setValueAndEmitSignalForNode();
    sets = fakehv::callsOf("KORUHV_SetChParam");
    ASSERT_EQ(sets.size(), 4u);
    EXPECT_FLOAT_EQ(sets[0].value.asF32(), 1510.0f); // the edited cell
    EXPECT_FLOAT_EQ(sets[1].value.asF32(), 1510.0f);
    EXPECT_FLOAT_EQ(sets[2].value.asF32(), 1510.0f);
    EXPECT_EQ(sets[3].slot, 2);
    EXPECT_FLOAT_EQ(sets[3].value.asF32(), 210.0f);
    delete editor;
}

TEST_F(TableWindow, SelectionStaysInOneColumn)
{
    clickCell(0, "VSet");
    clickCell(1, "VSet", Qt::ShiftModifier);
    EXPECT_EQ(table->selectedItems().size(), 2);
    clickCell(1, "ISet", Qt::ControlModifier);
    EXPECT_EQ(table->selectedItems().size(), 1);
    clickCell(0, "ISet");
    clickCell(2, "ISet", Qt::ShiftModifier);
    EXPECT_EQ(table->selectedItems().size(), 3);
    window->setFocus();
    QTest::keyClick(table, Qt::Key_Left);
    EXPECT_EQ(table->selectedItems().size(), 1);
}

TEST_F(TableWindow, AlarmRowsPaintRedFromTheModelsFlags)
{
    KORUHVNode *status = node(4, "Status");
    QVector<KORUHVNode *> rowNodes;
    for (int c = 0; c < table->columnCount(); ++c)
        if (KORUHVNode *n = QCustomTableWidget::cellNode(table->item(4, c)))
            rowNodes.append(n);
    window->setRowColorForStatusAlarm(false, status);
    EXPECT_FALSE(status->getIsAlarmed()) << "the table only paints";
    KORUHVSetChannelAlarm(status, rowNodes, true);
    window->setRowColorForStatusAlarm(false, status);
    EXPECT_TRUE(status->getIsAlarmed());
    EXPECT_EQ(table->item(4, column("VSet"))->background().color(), QColor(238, 0, 0));
    EXPECT_EQ(table->item(4, column("TripInt"))->background().color(), QColor(238, 0, 0));
    EXPECT_TRUE(node(4, "VSet")->getIsAlarmed());
    table->alternateRowColors();
    EXPECT_EQ(table->item(4, column("TripInt"))->background().color(), QColor(238, 0, 0))
        << "a filler right of a red cell";
    window->setRowColorForStatusAlarm(true, status);
    EXPECT_EQ(table->item(4, column("VSet"))->background().color(), QColor(238, 238, 238));
}

TEST_F(TableWindow, HeaderGestures)
{
    QSignalSpy trip(table, &QCustomTableWidget::createDialogForTripHandling);
    // The window opens the trip editor modally: answer it within a bound.
    QString title;
    QTimer answer;
    answer.setInterval(20);
    QObject::connect(&answer, &QTimer::timeout, [&] {
        if (auto *modal = qobject_cast<QDialog *>(QApplication::activeModalWidget())) {
            title = modal->windowTitle();
            modal->reject();
        }
    });
    answer.start();
    table->horizontalHeaderItem(column("TripInt"))->setText("tRIPiNT");
    table->emitCreateDialogForTripHandling(column("tRIPiNT"));
    table->emitCreateDialogForTripHandling(column("Trip"));
    ASSERT_EQ(trip.count(), 1);
    EXPECT_EQ(trip.at(0).at(0).toInt(), 0);
    EXPECT_EQ(title, "Internal Trip Configuration");
}

TEST_F(TableWindow, OffsetMenuSwitchesThePairOfColumns)
{
    window->handleSelectOffsetSettingModality(QPoint(10, 10), column("VSet"), 1);
    auto *menu = window->findChild<QMenu *>("offsCtxMenu");
    ASSERT_NE(menu, nullptr);
    QAction *offset = nullptr;
    for (QAction *a : menu->actions())
        if (a->text() == "Offset")
            offset = a;
    ASSERT_NE(offset, nullptr);
    EXPECT_FALSE(offset->isChecked());
    offset->trigger();
    EXPECT_TRUE(table->property("Offset_V").toBool());
    EXPECT_FALSE(table->property("Offset_I").toBool());
    menu->close();
    window->handleSelectOffsetSettingModality(QPoint(10, 10), column("VSet"), 7); // unknown kind: no menu
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(window->findChild<QMenu *>("offsCtxMenu"), nullptr);
}

TEST_F(TableWindow, BoardPulledWhileEditingWritesNothing)
{
    RemovalRouting mw(window.get());
    clickCell(1, "VSet");
    ASSERT_TRUE(vt::waitFor([&] { return openEditor() != nullptr; }));
    vt::type("42", table);
    fakehv::system(h).crate[0].channelCount = 0;
    fakehv::system(h).crate[0].channels.clear();
    KORUHVConfig::KORUHVConfigChangeBoardsLive(h, tree.get());
    EXPECT_EQ(mw.removals, 1);
    KORUHVUpdateSubWindowLive(window.get(), false, tree.get(), {});
    QTest::qWait(30);
    EXPECT_EQ(writes(), 0u);
    EXPECT_EQ(table->rowCount(), 2);
}

TEST(MinimalView, WithoutKnownColumnsShowsTheFirstThree)
{
    fakehv::reset();
    fakehv::System sys;
    fakehv::Channel &ch = sys.addBoard(0, 1).channels[0];
    for (const char *name : {"Alpha", "Beta", "Gamma", "Delta"})
        ch.params.push_back({name, vt::fakeParam(0, Raw::f32(1))});
    const int h = fakehv::addSystem(sys);
    std::unique_ptr<KORUHVNode> tree(vt::buildTree(h, 4)); // a type without the "Name" column
    std::unique_ptr<QSubWindow> w(KORUHVCreateSubWindow(nullptr, nullptr, 0, false, tree.get(), "x", {}));
    QCustomTableWidget *t = w->getTableWidget();
    ASSERT_EQ(t->columnCount(), 4);
    w->setViewTableMode("Minimal");
    std::vector<bool> hidden;
    for (int c = 0; c < 4; ++c)
        hidden.push_back(t->isColumnHidden(c));
    EXPECT_EQ(hidden, (std::vector<bool>{false, false, false, true}));
    w->setViewTableMode("minimal"); // already Minimal: nothing changes
    EXPECT_EQ(w->getViewMode(), 1);
}

TEST(CustomView, MirrorsAndAlarmRowOfTheMirror)
{
    fakehv::reset();
    fakehv::System sys;
    fillChannel(sys.addBoard(0, 2).channels[0], 1.0f, 3000.0f, false);
    fillChannel(sys.crate[0].channels[1], 2.0f, 3000.0f, false);
    const int h = fakehv::addSystem(sys);
    std::unique_ptr<KORUHVNode> tree(vt::buildTree(h, 2));
    for (KORUHVNode *ch : tree->getChildren()[0]->getChildren()) {
        ch->setEnabledInCustomView(true);
        for (KORUHVNode *p : ch->getParameters())
            p->setEnabledInCustomView(true);
    }
    auto root = std::make_unique<KORUHVNode>();
    root->KORUHVPrepareNode("customView", NODE_GROUP, -1, -1, "", "", "");
    root->addChildNode(tree.get());
    std::unique_ptr<QSubWindow> w(
        KORUHVCreateSubWindow(nullptr, nullptr, 4, true, root.get(), "CustomView", {}));
    QCustomTableWidget *t = w->getTableWidget();
    ASSERT_EQ(t->rowCount(), 2);
    EXPECT_EQ(w->getViewModeCombo(), nullptr);
    EXPECT_EQ(t->verticalHeaderItem(1)->text(), "(crate1)00.001");
    KORUHVNode *status = vt::param(vt::channel(tree.get(), 0, 1), "Status");
    EXPECT_EQ(status->getMirrorNode()->tableWidget(), t);
    w->setRowColorForStatusAlarm(false, status);
    int statusCol = -1;
    for (int c = 0; c < t->columnCount(); ++c)
        if (t->horizontalHeaderItem(c)->text() == "Status")
            statusCol = c;
    EXPECT_EQ(t->item(1, statusCol)->background().color(), QColor(238, 0, 0));
    w.reset();
    EXPECT_EQ(status->getMirrorNode()->tableWidget(), nullptr) << "taken out, not deleted";
}

} // namespace
