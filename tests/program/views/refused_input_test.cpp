// A number typed outside the parameter's limits (or no number at all) is
// refused in the field where it was typed: the field keeps the text, shows
// the refused look and says why, and nothing is written. In a channel-table
// cell, in a board panel field and in a panel's integer field.
#include "AppGlobals.h"
#include "FakeWrapper.h"
#include "KORUHVConfig.h"
#include "KORUHVWidgetItem.h"
#include "QBoardInformations.h"
#include "QCustomTableWidget.h"
#include "QSubWindow.h"
#include "qt_gtest_print.h"
#include "views_support.h"

#include <QAbstractSpinBox>
#include <QLineEdit>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

namespace {

using fakehv::Raw;

fakehv::Param fp(unsigned type, Raw v, std::map<std::string, Raw> props = {})
{
    fakehv::Param p;
    p.type = type;
    p.mode = 2;
    p.value = std::move(v);
    p.props = std::move(props);
    return p;
}

std::map<std::string, Raw> limits(float min, float max)
{
    return {{"Minval", Raw::f32(min)},
            {"Maxval", Raw::f32(max)},
            {"Decimal", Raw::i16(1)},
            {"Unit", Raw::u16(2)},
            {"Exp", Raw::i16(0)}};
}

QString shown(KORUHVWidgetItem *item)
{
    auto *spin = qobject_cast<QAbstractSpinBox *>(item->getValueFieldWidget());
    return spin ? spin->text().trimmed() : QString();
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

class RefusedInTable : public ::testing::Test {
protected:
    void SetUp() override
    {
        fakehv::reset();
        fakehv::System sys;
        fakehv::Board &b = sys.addBoard(0, 2);
        for (auto &ch : b.channels)
            ch.params = {{"VSet", fp(0, Raw::f32(100.0f), limits(0, 500))}};
        h = fakehv::addSystem(sys);
        tree.reset(vt::buildTree(h, 2));
        window.reset(KORUHVCreateSubWindow(nullptr, nullptr, 0, false, tree.get(), "crate1", {}));
        window->resize(800, 300);
        window->show();
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
        table = window->getTableWidget();
        for (int c = 0; c < table->columnCount(); ++c)
            if (table->horizontalHeaderItem(c)->text() == "VSet")
                column = c;
        ASSERT_GE(column, 0);
    }
    void TearDown() override
    {
        window.reset();
        tree.reset();
        setMainWindow(nullptr);
    }
    KORUHVWidgetItem *openEditor() const
    {
        for (KORUHVWidgetItem *i :
             table->viewport()->findChildren<KORUHVWidgetItem *>(Qt::FindDirectChildrenOnly))
            if (!i->isCancelled())
                return i;
        return nullptr;
    }
    KORUHVWidgetItem *open(int row)
    {
        table->setCurrentCell(row, column);
        table->editItem(table->item(row, column));
        vt::waitFor([&] { return openEditor() != nullptr; });
        return openEditor();
    }

    int h = -1;
    int column = -1;
    std::unique_ptr<KORUHVNode> tree;
    std::unique_ptr<QSubWindow> window;
    QCustomTableWidget *table = nullptr;
};

TEST_F(RefusedInTable, OutOfLimitsInputStaysInTheOpenCellAndNothingIsWritten)
{
    KORUHVNode *node = QCustomTableWidget::cellNode(table->item(0, column));
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
    table->item(1, column)->setSelected(true);
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

class RefusedInPanel : public ::testing::Test {
protected:
    void SetUp() override
    {
        fakehv::reset();
        fakehv::System sys;
        fakehv::Board &b = sys.addBoard(0, 1);
        b.channels[0].params = {{"VSet", fp(0, Raw::f32(100.0f), limits(0, 500))}};
        b.params = {{"VLim", fp(0, Raw::f32(1000.0f), limits(0, 4000))}};
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
        item = panel->getInternalWidget()->findChild<KORUHVWidgetItem *>(QStringLiteral("%0:0:VLim").arg(h));
        ASSERT_TRUE(item);
        fakehv::clearCalls();
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
        QTest::mouseClick(spin, Qt::LeftButton);
        spin->setFocus();
        spin->selectAll();
        QTest::keyClicks(spin, QString::fromLatin1(c.typed));
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

// An integer field of a panel: the minimum's sign is typed as such.
TEST(RefusedIntegerField, SignAndLimitsOfAnIntegerField)
{
    fakehv::reset();
    fakehv::System sys;
    sys.addBoard(0, 1).channels[0].params = {{"Count", fp(0, Raw::f32(5))}};
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
