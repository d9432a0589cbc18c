// The offset menu of a set-value column while a cell of that column is
// open: the open field follows the mode at once (an offset starts at 0, an
// absolute value shows the node's value) and its input is checked by the
// mode it is confirmed in.
#include "AppGlobals.h"
#include "FakeWrapper.h"
#include "KORUHVWidgetItem.h"
#include "QCustomTableWidget.h"
#include "QSubWindow.h"
#include "qt_gtest_print.h"
#include "views_fake_support.h"
#include "views_support.h"

#include <QAbstractSpinBox>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QMenu>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

namespace {

using fakehv::Raw;

class OffsetFollow : public vt::TableWindowTest {
protected:
    void SetUp() override
    {
        fakehv::reset();
        fakehv::System sys;
        fakehv::Board &b = sys.addBoard(0, 2);
        for (auto &ch : b.channels)
            ch.params = {{"VSet", vt::fakeParam(0, Raw::f32(100.0f), vt::limits(0, 500))}};
        showWindow(fakehv::addSystem(sys), {800, 300});
        vset = column("VSet");
        ASSERT_GE(vset, 0);
    }
    /* The operator asks for the column header's menu and clicks an entry. */
    void pickFromHeaderMenu(const QString &entry)
    {
        QHeaderView *header = table->horizontalHeader();
        const QPoint at(header->sectionViewportPosition(vset) + header->sectionSize(vset) / 2,
                        header->height() / 2);
        QContextMenuEvent ask(QContextMenuEvent::Mouse, at, header->viewport()->mapToGlobal(at));
        QCoreApplication::sendEvent(header->viewport(), &ask);
        ASSERT_TRUE(vt::waitFor([] { return qobject_cast<QMenu *>(QApplication::activePopupWidget()); }));
        auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
        ASSERT_EQ(menu->objectName(), QStringLiteral("offsCtxMenu"));
        QAction *action = nullptr;
        for (QAction *a : menu->actions())
            if (a->text() == entry)
                action = a;
        ASSERT_TRUE(action);
        QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(action).center());
        ASSERT_TRUE(vt::waitFor([] { return QApplication::activePopupWidget() == nullptr; }));
    }

    int vset = -1; // the column of "VSet"
};

TEST_F(OffsetFollow, TheOpenFieldFollowsTheModeChosenInTheHeaderMenu)
{
    KORUHVNode *node = QCustomTableWidget::cellNode(table->item(0, vset));
    const struct Step {
        const char *mode; // picked from the menu while the cell is open
        const char *shownAfterPick;
        const char *typed;
        bool written;
        float value; // of the node after Return
    } steps[] = {
        {"Offset", "0.0", "-10", true, 90.0f},       // 100 - 10, over a minimum of 0
        {"Offset", "0.0", "450", false, 100.0f},     // 550 would leave [0, 500]
        {"Offset", "0.0", "400", true, 500.0f},      // up to the maximum
        {"Absolute", "100.0", "-10", false, 100.0f}, // a value again: below the minimum
        {"Absolute", "100.0", "250", true, 250.0f},
    };
    bool offsetOn = false;
    for (const Step &s : steps) {
        SCOPED_TRACE(std::string(s.mode) + " " + s.typed);
        node->setNodeValue(vt::good(100.0f));
        fakehv::system(h).crate[0].channels[0].find("VSet")->value = Raw::f32(100.0f);
        // The cell is opened in the other mode, then the mode is picked.
        const bool wantOffset = QString::fromLatin1(s.mode) == "Offset";
        if (offsetOn == wantOffset) {
            pickFromHeaderMenu(wantOffset ? "Absolute" : "Offset");
            offsetOn = !offsetOn;
        }
        table->setCurrentCell(0, vset);
        table->editItem(table->item(0, vset));
        ASSERT_TRUE(vt::waitFor([&] { return openEditor() != nullptr; }));
        KORUHVWidgetItem *editor = openEditor();
        auto *spin = qobject_cast<QAbstractSpinBox *>(editor->getValueFieldWidget());
        ASSERT_TRUE(spin);
        spin->setFocus();

        pickFromHeaderMenu(QString::fromLatin1(s.mode));
        offsetOn = wantOffset;
        EXPECT_EQ(table->property("Offset_V").toBool(), wantOffset);
        ASSERT_EQ(openEditor(), editor) << "the cell stays open";
        EXPECT_EQ(spin->text().trimmed(), QString::fromLatin1(s.shownAfterPick));

        spin->selectAll();
        QTest::keyClicks(spin, QString::fromLatin1(s.typed));
        EXPECT_EQ(spin->text().trimmed(), QString::fromLatin1(s.typed)) << "typed as such";
        fakehv::clearCalls();
        QTest::keyClick(spin, Qt::Key_Return);
        const auto sets = fakehv::callsOf("KORUHV_SetChParam");
        ASSERT_EQ(sets.size(), s.written ? 1u : 0u);
        if (s.written) {
            EXPECT_FLOAT_EQ(sets[0].value.asF32(), s.value);
        }
        EXPECT_FLOAT_EQ(node->getNodeValue().KORUHVGetValue().toFloat(), s.value);
        if (!s.written) {
            EXPECT_FALSE(spin->toolTip().isEmpty()) << "the field says it refused";
            EXPECT_EQ(spin->text().trimmed(), QString::fromLatin1(s.typed));
        }
        vt::key(Qt::Key_Escape, table);
        ASSERT_TRUE(vt::waitFor([&] { return openEditor() == nullptr; }));
    }
}

} // namespace
