// A number typed outside the parameter's limits (or no number at all), or
// register text that is no hexadecimal word, is refused in the field where
// it was typed: the field keeps the text, shows the refused look and says
// why, and nothing is written. In a channel-table cell, in a board panel
// field and in a panel's integer field. Input a table cell's editor takes
// away with it unwritten is said on the cell. A write the device refuses
// from a panel field shows the node's value again and says so.
#include "AppGlobals.h"
#include "FakeWrapper.h"
#include "KORUHVConfig.h"
#include "KORUHVSwitch.h"
#include "KORUHVWidgetItem.h"
#include "QBoardInformations.h"
#include "QCustomTableWidget.h"
#include "QCustomTableWidgetDelegate.h"
#include "QSubWindow.h"
#include "qt_gtest_print.h"
#include "views_fake_support.h"
#include "views_support.h"

#include <QAbstractSpinBox>
#include <QLineEdit>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

namespace {

using fakehv::Raw;

constexpr int kRefusedByTheDevice = 5;

QString shown(KORUHVWidgetItem *item)
{
    if (auto *edit = qobject_cast<QLineEdit *>(item->getValueFieldWidget()))
        return edit->text();
    auto *spin = qobject_cast<QAbstractSpinBox *>(item->getValueFieldWidget());
    return spin ? spin->text().trimmed() : QString();
}

/* Clicks into a number field and types over its text. */
void typeOver(QAbstractSpinBox *spin, const char *typed)
{
    QTest::mouseClick(spin, Qt::LeftButton);
    spin->setFocus();
    spin->selectAll();
    QTest::keyClicks(spin, QString::fromLatin1(typed));
}

/* What the operator sees of a refused input. */
void expectRefusedLook(KORUHVWidgetItem *item, const QString &typed)
{
    QWidget *field = item->getValueFieldWidget();
    EXPECT_EQ(shown(item), typed) << "the field keeps what was typed";
    EXPECT_TRUE(field->styleSheet().contains("#ff3030")) << field->styleSheet().toStdString();
    EXPECT_FALSE(field->toolTip().isEmpty());
    EXPECT_TRUE(field->toolTip().contains("nothing written")) << field->toolTip().toStdString();
}

const struct RefusedCase {
    const char *typed;
    const char *why; // part of the tool tip
} refusedCases[] = {
    {"-10", "between 0 and 500"}, // below "Minval" 0: not turned into -0 or 0
    {"600", "between 0 and 500"},
    {"500.5", "between 0 and 500"},
    {"-", "Not a number"},
};

class RefusedInTable : public vt::TableWindowTest {
protected:
    void SetUp() override
    {
        fakehv::reset();
        fakehv::System sys;
        fakehv::Board &b = sys.addBoard(0, 2);
        for (auto &ch : b.channels)
            ch.params = {{"VSet", vt::fakeParam(0, Raw::f32(100.0f), vt::limits(0, 500))},
                         {"TripInt", vt::fakeParam(4, Raw::u32(0x5))}};
        showWindow(fakehv::addSystem(sys), {800, 300});
        vset = column("VSet");
        registerColumn = column("TripInt");
        ASSERT_GE(vset, 0);
        ASSERT_GE(registerColumn, 0);
    }
    KORUHVWidgetItem *open(int row, int col = -1)
    {
        if (col < 0)
            col = vset;
        table->setCurrentCell(row, col);
        table->editItem(table->item(row, col));
        vt::waitFor([&] { return openEditor() != nullptr; });
        return openEditor();
    }
    using vt::TableWindowTest::node;
    KORUHVNode *node(int row, int col) const { return QCustomTableWidget::cellNode(table->item(row, col)); }

    int vset = -1;           // the column of "VSet"
    int registerColumn = -1; // of "TripInt"
};

TEST_F(RefusedInTable, OutOfLimitsInputStaysInTheOpenCellAndNothingIsWritten)
{
    KORUHVNode *node = QCustomTableWidget::cellNode(table->item(0, vset));
    for (const RefusedCase &c : refusedCases) {
        SCOPED_TRACE(c.typed);
        KORUHVWidgetItem *editor = open(0);
        ASSERT_TRUE(editor);
        auto *spin = qobject_cast<QAbstractSpinBox *>(editor->getValueFieldWidget());
        ASSERT_TRUE(spin);
        spin->selectAll();
        QTest::keyClicks(spin, QString::fromLatin1(c.typed));
        fakehv::clearCalls();
        QTest::keyClick(spin, Qt::Key_Return);
        QTest::qWait(20); // a queued close of the editor would run here
        EXPECT_TRUE(fakehv::callsOf("KORUHV_SetChParam").empty());
        EXPECT_FLOAT_EQ(node->getNodeValue().KORUHVGetValue().toFloat(), 100.0f);
        ASSERT_EQ(openEditor(), editor) << "the cell stays open with the refused input";
        expectRefusedLook(editor, QString::fromLatin1(c.typed));
        EXPECT_TRUE(spin->toolTip().contains(QLatin1String(c.why))) << spin->toolTip().toStdString();

        // The next key takes the refused look away; a value within the
        // limits is then written once.
        QTest::keyClick(spin, Qt::Key_Backspace);
        EXPECT_TRUE(spin->toolTip().isEmpty());
        EXPECT_FALSE(spin->styleSheet().contains("#ff3030"));
        vt::key(Qt::Key_Escape, table);
        ASSERT_TRUE(vt::waitFor([&] { return openEditor() == nullptr; }));
        EXPECT_TRUE(fakehv::callsOf("KORUHV_SetChParam").empty());
    }

    KORUHVWidgetItem *editor = open(0);
    ASSERT_TRUE(editor);
    auto *spin = qobject_cast<QAbstractSpinBox *>(editor->getValueFieldWidget());
    spin->selectAll();
    QTest::keyClicks(spin, "500");
    fakehv::clearCalls();
    QTest::keyClick(spin, Qt::Key_Return);
    const auto sets = fakehv::callsOf("KORUHV_SetChParam");
    ASSERT_EQ(sets.size(), 1u) << "the limit itself is within";
    EXPECT_FLOAT_EQ(sets[0].value.asF32(), 500.0f);
}

// Several cells selected: a refused input of the edited cell is not copied
// to the others either.
TEST_F(RefusedInTable, ARefusedInputReachesNoOtherSelectedCell)
{
    KORUHVWidgetItem *editor = open(0);
    ASSERT_TRUE(editor);
    table->item(1, vset)->setSelected(true);
    auto *spin = qobject_cast<QAbstractSpinBox *>(editor->getValueFieldWidget());
    spin->selectAll();
    QTest::keyClicks(spin, "-10");
    fakehv::clearCalls();
    QTest::keyClick(spin, Qt::Key_Return);
    // Leaving the cell ends its editing as well: still nothing.
    table->setFocus();
    QTest::qWait(20);
    EXPECT_TRUE(fakehv::callsOf("KORUHV_SetChParam").empty());
}

// A register cell takes 1 to 8 hexadecimal digits; any other text stays
// in the open cell, refused, and nothing is written.
TEST_F(RefusedInTable, TextThatIsNoRegisterWordStaysInTheOpenCell)
{
    for (const char *typed : {"ff ff", "-1", "g", ""}) {
        SCOPED_TRACE(std::string("\"") + typed + "\"");
        KORUHVWidgetItem *editor = open(0, registerColumn);
        ASSERT_TRUE(editor);
        auto *edit = qobject_cast<QLineEdit *>(editor->getValueFieldWidget());
        ASSERT_TRUE(edit);
        edit->selectAll();
        QTest::keyClick(edit, Qt::Key_Backspace);
        QTest::keyClicks(edit, QString::fromLatin1(typed));
        fakehv::clearCalls();
        QTest::keyClick(edit, Qt::Key_Return);
        QTest::qWait(20); // a queued close of the editor would run here
        EXPECT_TRUE(fakehv::callsOf("KORUHV_SetChParam").empty());
        ASSERT_EQ(openEditor(), editor) << "the cell stays open with the refused text";
        expectRefusedLook(editor, QString::fromLatin1(typed));
        EXPECT_TRUE(edit->toolTip().contains("hexadecimal")) << edit->toolTip().toStdString();
        vt::key(Qt::Key_Escape, table);
        ASSERT_TRUE(vt::waitFor([&] { return openEditor() == nullptr; }));
        EXPECT_TRUE(fakehv::callsOf("KORUHV_SetChParam").empty());
        EXPECT_TRUE(qobject_cast<QCustomTableWidgetDelegate *>(table->itemDelegate())
                        ->droppedInputAt(table->model()->index(0, registerColumn))
                        .isEmpty())
            << "Escape cancels: nothing to say";
    }
    KORUHVWidgetItem *editor = open(0, registerColumn);
    ASSERT_TRUE(editor);
    auto *edit = qobject_cast<QLineEdit *>(editor->getValueFieldWidget());
    edit->selectAll();
    QTest::keyClicks(edit, "1f");
    fakehv::clearCalls();
    QTest::keyClick(edit, Qt::Key_Return);
    const auto sets = fakehv::callsOf("KORUHV_SetChParam");
    ASSERT_EQ(sets.size(), 1u);
    EXPECT_EQ(sets[0].value.asU32(), 0x1Fu);
}

// Refused input left by a click on another cell goes unwritten with the
// closing editor (as an offset left without Return does); the cell says so
// with a mark and its tool tip until it is edited again or shows a value.
TEST_F(RefusedInTable, InputLeftByAClickOnAnotherCellIsSaidOnItsCell)
{
    const struct {
        bool registerCell;
        bool offsetMode;
        const char *typed;
        const char *why; // part of what the cell says
    } cases[] = {
        {false, false, "600", "between 0 and 500"},
        {false, false, "-", "Not a number"},
        {true, false, "g", "hexadecimal"},
        {false, true, "450", "plus this offset"},   // 100 + 450 is above 500
        {false, true, "50", "entered with Return"}, // within, but never entered
    };
    auto *delegate = qobject_cast<QCustomTableWidgetDelegate *>(table->itemDelegate());
    ASSERT_TRUE(delegate);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.typed);
        table->setProperty("Offset_V", c.offsetMode);
        const int col = c.registerCell ? registerColumn : vset;
        const QModelIndex cell = table->model()->index(0, col);
        KORUHVNode *n = node(0, col);
        const QVariant before = n->getNodeValue().KORUHVGetValue();
        KORUHVWidgetItem *editor = open(0, col);
        ASSERT_TRUE(editor);
        QWidget *field = editor->getValueFieldWidget();
        if (auto *edit = qobject_cast<QLineEdit *>(field))
            edit->selectAll();
        else
            qobject_cast<QAbstractSpinBox *>(field)->selectAll();
        QTest::keyClicks(field, QString::fromLatin1(c.typed));
        fakehv::clearCalls();
        QTest::mouseClick(table->viewport(), Qt::LeftButton, {},
                          table->visualItemRect(table->item(1, col)).center());
        ASSERT_TRUE(vt::waitFor([&] { return openEditor() != editor; }));
        EXPECT_TRUE(fakehv::callsOf("KORUHV_SetChParam").empty());
        EXPECT_EQ(n->getNodeValue().KORUHVGetValue(), before);
        EXPECT_EQ(table->item(0, col)->text(), n->cellText()) << "the cell shows the node's value";
        const QString said = delegate->droppedInputAt(cell);
        // As typed; a number field may have put it in its own format ("600.0").
        EXPECT_TRUE(said.contains(QStringLiteral("\"%1").arg(QLatin1String(c.typed))) &&
                    said.contains(QLatin1String(c.why)) && said.contains("Slot 0, channel 0") &&
                    said.contains(n->getNodeName()))
            << said.toStdString();
        EXPECT_TRUE(delegate->droppedInputAt(table->model()->index(1, col)).isEmpty());
        vt::key(Qt::Key_Escape, table); // the editor the click opened on row 1
        ASSERT_TRUE(vt::waitFor([&] { return openEditor() == nullptr; }));
        EXPECT_FALSE(delegate->droppedInputAt(cell).isEmpty()) << "the mark stays";

        // Edited again, the cell no longer says it.
        ASSERT_TRUE(open(0, col));
        EXPECT_TRUE(delegate->droppedInputAt(cell).isEmpty());
        vt::key(Qt::Key_Escape, table);
        ASSERT_TRUE(vt::waitFor([&] { return openEditor() == nullptr; }));
    }

    // A new value shown in the cell ends the mark as well.
    table->setProperty("Offset_V", false);
    KORUHVWidgetItem *editor = open(0);
    ASSERT_TRUE(editor);
    auto *spin = qobject_cast<QAbstractSpinBox *>(editor->getValueFieldWidget());
    spin->selectAll();
    QTest::keyClicks(spin, "600");
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {},
                      table->visualItemRect(table->item(1, vset)).center());
    ASSERT_TRUE(vt::waitFor([&] { return openEditor() != editor; }));
    vt::key(Qt::Key_Escape, table);
    ASSERT_TRUE(vt::waitFor([&] { return openEditor() == nullptr; }));
    const QModelIndex cell = table->model()->index(0, vset);
    ASSERT_FALSE(delegate->droppedInputAt(cell).isEmpty());
    node(0, vset)->setNodeValue(vt::good(120.0f));
    EXPECT_TRUE(delegate->droppedInputAt(cell).isEmpty());
}

class RefusedInPanel : public ::testing::Test {
protected:
    void SetUp() override
    {
        fakehv::reset();
        fakehv::System sys;
        fakehv::Board &b = sys.addBoard(0, 1);
        b.channels[0].params = {{"VSet", vt::fakeParam(0, Raw::f32(100.0f), vt::limits(0, 500))}};
        b.params = {
            {"VLim", vt::fakeParam(0, Raw::f32(1000.0f), vt::limits(0, 4000))},
            // Two the device refuses to change.
            {"VMax", vt::fakeParam(0, Raw::f32(10.0f), vt::limits(0, 4000), kRefusedByTheDevice)},
            {"Fan", vt::fakeParam(1, Raw::u32(0),
                                  {{"Onstate", Raw::text("Enabled")}, {"Offstate", Raw::text("Disabled")}},
                                  kRefusedByTheDevice)}};
        sys.errorText = "Value out of range";
        h = fakehv::addSystem(sys);
        tree.reset(vt::buildTree(h, 2));
        // The board's parameters, as the system controller adds them.
        KORUHVNode *board = tree->getChildren()[0];
        for (KORUHVNode *p : KORUHVConfig::KORUHVConfigCreateBoardParams(h, 0, 2)) {
            for (KORUHVNodeProperty *q : KORUHVConfig::KORUHVConfigCreateBoardParameterProperties(
                     h, p->getNodeName(), p->getParWrapperType(), 0))
                p->addProperty(q);
            vt::applyDisplayProperties(p);
            board->addParameter(p);
        }
        panel = std::make_unique<QBoardInformations>(nullptr, 0);
        panel->setSystemTree(tree.get());
        panel->createInternalWidget();
        panel->resize(400, 400);
        panel->show();
        panel->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(panel.get()));
        item = boardItem("VLim");
        ASSERT_TRUE(item);
        fakehv::clearCalls();
    }
    KORUHVWidgetItem *boardItem(const char *name) const
    {
        return panel->getInternalWidget()->findChild<KORUHVWidgetItem *>(
            QStringLiteral("%0:0:%1").arg(h).arg(QLatin1String(name)));
    }
    fakehv::Param &script(const char *name) const { return *fakehv::system(h).crate[0].find(name); }
    /* A refused write as the operator sees it on the field. */
    static void expectRefusedWriteSaid(KORUHVWidgetItem *i)
    {
        const QString tip = i->getValueFieldWidget()->toolTip();
        EXPECT_TRUE(i->isInputRefused());
        EXPECT_TRUE(tip.contains("refused") && tip.contains("code 5") && tip.contains("Value out of range"))
            << tip.toStdString();
        EXPECT_TRUE(tip.contains(i->getReferenceNode()->getNodeName())) << "names the parameter";
        if (auto *sw = qobject_cast<KORUHVSwitch *>(i->getValueFieldWidget()))
            EXPECT_TRUE(sw->hasRefusedLook());
        else
            EXPECT_TRUE(i->getValueFieldWidget()->styleSheet().contains("#ff3030"));
    }
    void TearDown() override
    {
        panel.reset();
        tree.reset();
    }
    static size_t writes() { return fakehv::callsOf("KORUHV_SetBdParam").size(); }

    int h = -1;
    std::unique_ptr<KORUHVNode> tree;
    std::unique_ptr<QBoardInformations> panel;
    KORUHVWidgetItem *item = nullptr;
};

TEST_F(RefusedInPanel, BoardFieldRefusesOnReturnAndOnLeaving)
{
    auto *spin = qobject_cast<QAbstractSpinBox *>(item->getValueFieldWidget());
    ASSERT_TRUE(spin);
    const struct {
        const char *typed;
        bool byReturn; // else by leaving the field
    } cases[] = {{"-10", true}, {"-10", false}, {"4000.5", true}, {"5000", false}};
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.typed) + (c.byReturn ? " Return" : " leaving"));
        typeOver(spin, c.typed);
        if (c.byReturn)
            QTest::keyClick(spin, Qt::Key_Return);
        else
            QMetaObject::invokeMethod(spin, "editingFinished");
        EXPECT_EQ(writes(), 0u);
        EXPECT_FLOAT_EQ(item->getReferenceNode()->getNodeValue().KORUHVGetValue().toFloat(), 1000.0f);
        expectRefusedLook(item, QString::fromLatin1(c.typed));
        EXPECT_TRUE(spin->toolTip().contains("between 0 and 4000")) << spin->toolTip().toStdString();
    }
    spin->selectAll();
    QTest::keyClicks(spin, "2000");
    EXPECT_TRUE(spin->toolTip().isEmpty());
    QTest::keyClick(spin, Qt::Key_Return);
    ASSERT_EQ(writes(), 1u);
    EXPECT_FLOAT_EQ(fakehv::callsOf("KORUHV_SetBdParam")[0].value.asF32(), 2000.0f);
}

// A live refresh shows the node's value again and ends the refused look.
TEST_F(RefusedInPanel, ARefreshEndsTheRefusedLook)
{
    auto *spin = qobject_cast<QAbstractSpinBox *>(item->getValueFieldWidget());
    spin->setFocus();
    spin->selectAll();
    QTest::keyClicks(spin, "-10");
    QTest::keyClick(spin, Qt::Key_Return);
    ASSERT_FALSE(spin->toolTip().isEmpty());
    item->setDataInValueField(1200.0f);
    EXPECT_TRUE(spin->toolTip().isEmpty());
    EXPECT_FALSE(spin->styleSheet().contains("#ff3030"));
    EXPECT_EQ(writes(), 0u);
}

// A write the device refuses (no event follows, nothing changed there):
// the switch shows the device's state again and says the refusal on it.
TEST_F(RefusedInPanel, ARefusedSwitchShowsTheDevicesStateAndTheRefusal)
{
    KORUHVWidgetItem *fan = boardItem("Fan");
    ASSERT_TRUE(fan);
    auto *sw = qobject_cast<KORUHVSwitch *>(fan->getValueFieldWidget());
    ASSERT_TRUE(sw);
    QTest::mouseClick(sw, Qt::LeftButton);
    ASSERT_EQ(writes(), 1u) << "the click asked for Enabled";
    EXPECT_EQ(fan->getReferenceNode()->getNodeValue().KORUHVGetValue().toBool(), false);
    EXPECT_EQ(fan->getReferenceNode()->getNodeValue().KORUHVGetQuality(), QUALITY_WRITE_FAILED);
    EXPECT_FALSE(sw->isChecked());
    EXPECT_EQ(sw->getCurrentString(), "Disabled") << "not the refused Enabled";
    expectRefusedWriteSaid(fan);

    // Taken: the switch turns and no longer says a refusal.
    script("Fan").setCode = 0;
    QTest::mouseClick(sw, Qt::LeftButton);
    EXPECT_EQ(writes(), 2u);
    EXPECT_TRUE(sw->isChecked());
    EXPECT_FALSE(sw->hasRefusedLook());
    EXPECT_TRUE(sw->toolTip().isEmpty());
}

// The same for a number field, confirmed by Return or by leaving it.
TEST_F(RefusedInPanel, ARefusedNumberShowsTheNodesValueAndTheRefusal)
{
    KORUHVWidgetItem *vmax = boardItem("VMax");
    ASSERT_TRUE(vmax);
    auto *spin = qobject_cast<QAbstractSpinBox *>(vmax->getValueFieldWidget());
    ASSERT_TRUE(spin);
    const struct {
        const char *typed;
        bool byReturn; // else by leaving the field
    } cases[] = {{"55", true}, {"55", false}, {"3999.5", true}};
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.typed) + (c.byReturn ? " Return" : " leaving"));
        fakehv::clearCalls();
        typeOver(spin, c.typed);
        if (c.byReturn)
            QTest::keyClick(spin, Qt::Key_Return);
        else
            item->getValueFieldWidget()->setFocus(); // the operator goes on to VLim
        ASSERT_EQ(writes(), 1u) << "asked once";
        EXPECT_FLOAT_EQ(vmax->getReferenceNode()->getNodeValue().KORUHVGetValue().toFloat(), 10.0f);
        EXPECT_EQ(spin->text().trimmed(), "10.0") << "the node's value, not the refused one";
        expectRefusedWriteSaid(vmax);
        EXPECT_TRUE(spin->toolTip().contains("keeps 10.0")) << spin->toolTip().toStdString();
    }

    // A live value shows and ends the refusal's look.
    vmax->setDataInValueField(12.0f);
    EXPECT_FALSE(vmax->isInputRefused());
    EXPECT_FALSE(spin->styleSheet().contains("#ff3030"));
    EXPECT_EQ(spin->text().trimmed(), "12.0");
}

// An integer field of a panel: the minimum's sign is typed as such.
TEST(RefusedIntegerField, SignAndLimitsOfAnIntegerField)
{
    fakehv::reset();
    fakehv::System sys;
    sys.addBoard(0, 1).channels[0].params = {{"Count", vt::fakeParam(0, Raw::f32(5))}};
    const int h = fakehv::addSystem(sys);
    std::unique_ptr<KORUHVNode> n(vt::makeParam("Count", NODE_CHANNEL_PARAM, DATA_INT32, WRAPPER_TYPE_NUMERIC,
                                                ACCESS_READ_WRITE, 5, h));
    n->addProperty(vt::prop("Minval", 0.0f));
    n->addProperty(vt::prop("Maxval", 4000.0f));
    KORUHVWidgetItem item(nullptr, n.get());
    item.createInternalWidget(DATA_INT32, ACCESS_READ_WRITE, "", 5, 0, true);
    item.setSelectedStyleSheet();
    item.show();
    item.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&item));
    auto *spin = qobject_cast<QAbstractSpinBox *>(item.getValueFieldWidget());
    fakehv::clearCalls();
    for (const char *typed : {"-5", "4001"}) {
        SCOPED_TRACE(typed);
        spin->setFocus();
        spin->selectAll();
        QTest::keyClicks(spin, QString::fromLatin1(typed));
        QTest::keyClick(spin, Qt::Key_Return);
        EXPECT_TRUE(fakehv::callsOf("KORUHV_SetChParam").empty()) << "not 5, not 4000";
        expectRefusedLook(&item, QString::fromLatin1(typed));
        EXPECT_TRUE(spin->toolTip().contains("between 0 and 4000")) << spin->toolTip().toStdString();
    }
    EXPECT_EQ(n->getNodeValue().KORUHVGetValue().toInt(), 5);
}

} // namespace
