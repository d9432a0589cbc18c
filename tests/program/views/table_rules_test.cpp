// Rules of the channel table that the operator meets with the keys and the
// mouse: an offset typed into a set-point cell is an amount, free of the
// cell's limits (which bound the sum); the "Name" column keeps a single
// cell selected and an edited name is never copied to other cells.
#include "AppGlobals.h"
#include "FakeWrapper.h"
#include "KORUHVWidgetItem.h"
#include "QCustomTableWidget.h"
#include "QSubWindow.h"
#include "qt_gtest_print.h"
#include "views_fake_support.h"
#include "views_support.h"

#include <QDoubleSpinBox>
#include <QLineEdit>
#include <QMouseEvent>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

namespace {

using fakehv::Raw;

class TableRules : public vt::TableWindowTest {
protected:
    void SetUp() override
    {
        fakehv::reset();
        fakehv::System sys;
        fakehv::Board &b = sys.addBoard(0, 4);
        for (size_t i = 0; i < b.channels.size(); ++i) {
            auto &ch = b.channels[i];
            ch.name = "ch" + std::to_string(i);
            ch.params = {{"VSet", vt::fakeParam(0, Raw::f32(100.0f), vt::limits(0, 500))},
                         {"ISet", vt::fakeParam(0, Raw::f32(10.0f), vt::limits(0, 300))}};
        }
        showWindow(fakehv::addSystem(sys), {1000, 400});
        fakehv::clearCalls();
    }

    QPoint centre(int row, const QString &name) const
    {
        return table->visualItemRect(table->item(row, column(name))).center();
    }
    static std::vector<fakehv::Call> writes(const char *function = "KORUHV_SetChParam")
    {
        return fakehv::callsOf(function);
    }
};

// "VSet" holds 100 within [0, 500]; the offset is typed into the open cell
// editor and confirmed with Return.
TEST_F(TableRules, AnOffsetIsTypedFreeOfTheLimitsAndTheSumIsBounded)
{
    table->setProperty("Offset_V", true);
    const struct {
        const char *typed;
        bool written;
        float shown; // in the editor after Return
    } cases[] = {
        {"-10", true, 90.0f},                             // a negative offset over a minimum of 0
        {"-100", true, 0.0f},                             // down to the minimum
        {"-150", false, -150.0f},                         // the sum would leave [0, 500]: kept, not written
        {"450", false, 450.0f},   {"600", false, 600.0f}, // above the maximum itself: still an offset
        {"25.5", true, 125.5f},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.typed);
        node(1, "VSet")->setNodeValue(vt::good(100.0f));
        fakehv::system(h).crate[0].channels[1].find("VSet")->value = Raw::f32(100.0f);
        table->setCurrentCell(1, column("VSet"));
        table->editItem(table->item(1, column("VSet")));
        ASSERT_TRUE(vt::waitFor([&] { return openEditor() != nullptr; }));
        KORUHVWidgetItem *editor = openEditor();
        auto *spin = qobject_cast<QDoubleSpinBox *>(editor->getValueFieldWidget());
        ASSERT_TRUE(spin);
        EXPECT_LE(spin->minimum(), -2147483647.0);
        EXPECT_GE(spin->maximum(), 2147483647.0);
        spin->selectAll();
        QTest::keyClicks(spin, QString::fromLatin1(c.typed));
        EXPECT_DOUBLE_EQ(spin->value(), QString::fromLatin1(c.typed).toDouble())
            << "the field holds the offset";
        fakehv::clearCalls();
        QTest::keyClick(spin, Qt::Key_Return);
        const auto sets = writes();
        ASSERT_EQ(sets.size(), c.written ? 1u : 0u);
        if (c.written) {
            EXPECT_FLOAT_EQ(sets[0].value.asF32(), c.shown);
            EXPECT_FLOAT_EQ(node(1, "VSet")->getNodeValue().KORUHVGetValue().toFloat(), c.shown);
        } else {
            EXPECT_FLOAT_EQ(node(1, "VSet")->getNodeValue().KORUHVGetValue().toFloat(), 100.0f);
            if (KORUHVWidgetItem *still = openEditor()) {
                EXPECT_DOUBLE_EQ(qobject_cast<QDoubleSpinBox *>(still->getValueFieldWidget())->value(),
                                 c.shown);
            }
        }
        vt::key(Qt::Key_Escape, table);
        ASSERT_TRUE(vt::waitFor([&] { return openEditor() == nullptr; }));
    }
}

TEST_F(TableRules, OutsideOffsetModeTheCellKeepsItsLimits)
{
    table->setCurrentCell(0, column("VSet"));
    table->editItem(table->item(0, column("VSet")));
    ASSERT_TRUE(vt::waitFor([&] { return openEditor() != nullptr; }));
    auto *spin = qobject_cast<QDoubleSpinBox *>(openEditor()->getValueFieldWidget());
    ASSERT_TRUE(spin);
    EXPECT_DOUBLE_EQ(openEditor()->lowerLimit(), 0.0);
    EXPECT_DOUBLE_EQ(openEditor()->upperLimit(), 500.0);
    // The "ISet" pair is not in offset mode when only "Offset_V" is on.
    vt::key(Qt::Key_Escape, table);
    ASSERT_TRUE(vt::waitFor([&] { return openEditor() == nullptr; }));
    table->setProperty("Offset_V", true);
    table->setCurrentCell(0, column("ISet"));
    table->editItem(table->item(0, column("ISet")));
    ASSERT_TRUE(vt::waitFor([&] { return openEditor() != nullptr; }));
    spin = qobject_cast<QDoubleSpinBox *>(openEditor()->getValueFieldWidget());
    ASSERT_TRUE(spin);
    EXPECT_DOUBLE_EQ(openEditor()->upperLimit(), 300.0);
    EXPECT_FALSE(openEditor()->isOffsetMode());
}

// A drag down one column keeps its cells selected, except down "Name"; a
// drag across columns keeps only the current cell.
TEST_F(TableRules, DragSelectionKeepsOneColumnAndNeverSeveralNames)
{
    const struct {
        const char *from;
        const char *to;
        int lastRow;
        int selected;
    } cases[] = {
        {"VSet", "VSet", 2, 3}, {"ISet", "ISet", 3, 4}, {"Name", "Name", 2, 1},
        {"Name", "Name", 3, 1}, {"VSet", "ISet", 2, 1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.from) + " to " + c.to + " row " + std::to_string(c.lastRow));
        // The drag starts on the current cell, its editor closed (a press
        // that changes the current cell opens an editor instead).
        table->setCurrentCell(0, column(c.from));
        vt::key(Qt::Key_Escape, table);
        ASSERT_TRUE(vt::waitFor([&] { return openEditor() == nullptr; }));
        table->clearSelection();
        QWidget *vp = table->viewport();
        QTest::mousePress(vp, Qt::LeftButton, {}, centre(0, c.from));
        for (int r = 1; r <= c.lastRow; ++r) {
            // A move with the left button held (QTest moves carry no button).
            const QPoint at = centre(r, r == c.lastRow ? c.to : c.from);
            QMouseEvent move(QEvent::MouseMove, at, vp->mapToGlobal(at), Qt::NoButton, Qt::LeftButton,
                             Qt::NoModifier);
            QApplication::sendEvent(vp, &move);
        }
        QTest::mouseRelease(vp, Qt::LeftButton, {}, centre(c.lastRow, c.to));
        const QList<QTableWidgetItem *> selected = table->selectedItems();
        ASSERT_EQ(selected.size(), c.selected);
        if (c.selected == 1) {
            EXPECT_EQ(selected[0], table->currentItem());
        }
        for (QTableWidgetItem *i : selected)
            EXPECT_EQ(table->horizontalHeaderItem(i->column())->text(),
                      QString::fromLatin1(c.selected > 1 ? c.from : c.to));
        vt::key(Qt::Key_Escape, table);
        ASSERT_TRUE(vt::waitFor([&] { return openEditor() == nullptr; }));
    }
}

TEST_F(TableRules, ANameEditedWithSeveralCellsSelectedIsWrittenToItsChannelOnly)
{
    table->setCurrentItem(table->item(0, column("Name")));
    for (int r = 0; r < 4; ++r)
        table->item(r, column("Name"))->setSelected(true);
    ASSERT_EQ(table->selectedItems().size(), 4);
    // The editor as the delegate builds it, its commit routed to the table.
    auto *editor = new KORUHVWidgetItem(table->viewport(), node(0, "Name"));
    editor->setOffsetTable(table);
    QObject::connect(editor, &KORUHVWidgetItem::endEditing, table,
                     &QCustomTableWidget::setValueForAllSelected);
    editor->createInternalWidget(DATA_STRING, ACCESS_READ_WRITE, QString(), QStringLiteral("ch0"), 0, true);
    editor->show();
    auto *edit = qobject_cast<QLineEdit *>(editor->getValueFieldWidget());
    ASSERT_TRUE(edit);
    edit->setFocus();
    edit->selectAll();
    QTest::keyClicks(edit, "probe");
    fakehv::clearCalls();
    editor->setValueAndEmitSignalForNode();

    std::vector<fakehv::Call> named = writes("KORUHV_SetChName");
    const std::vector<fakehv::Call> params = writes();
    named.insert(named.end(), params.begin(), params.end());
    ASSERT_EQ(named.size(), 1u) << "the edited channel only";
    EXPECT_EQ(named[0].list, std::vector<unsigned short>{0});
    for (int r = 1; r < 4; ++r)
        EXPECT_EQ(node(r, "Name")->getNodeValue().KORUHVGetValue().toString(), QStringLiteral("ch%0").arg(r))
            << "row " << r;
    delete editor;
}

} // namespace

namespace {

// A panel or table rebuilt under the operator's hands deletes an editor whose
// field has the focus and typed text: the field's last "finished" must not
// reach the half-deleted editor (nothing written, nothing undefined).
TEST_F(TableRules, AnEditorDeletedWhileItsFieldHasTheFocusCommitsNothing)
{
    auto *editor = new KORUHVWidgetItem(table->viewport(), node(0, "VSet"));
    editor->createInternalWidget(DATA_FLOAT, ACCESS_READ_WRITE, "V", 100.0f, 1, true);
    editor->show();
    auto *spin = qobject_cast<QDoubleSpinBox *>(editor->getValueFieldWidget());
    ASSERT_TRUE(spin);
    spin->setFocus();
    ASSERT_TRUE(vt::waitFor([&] { return spin->hasFocus(); }));
    spin->selectAll();
    QTest::keyClicks(spin, "321");
    fakehv::clearCalls();
    delete editor;
    EXPECT_TRUE(writes().empty());
    EXPECT_FLOAT_EQ(node(0, "VSet")->getNodeValue().KORUHVGetValue().toFloat(), 100.0f);
}

} // namespace
