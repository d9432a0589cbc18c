// The program's input widgets, the clickable label and the on/off switch,
// driven by keys and mouse as the operator does.
#include "KORUHVSwitch.h"
#include "QCustomComboBox.h"
#include "QCustomDoubleSpinBox.h"
#include "QCustomLabel.h"
#include "QCustomLineEdit.h"
#include "QCustomSpinBox.h"

#include <QImage>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>

#include <gtest/gtest.h>

namespace {

const QString editingSheet = "background:#383838; border: 2px solid #98bd40; color: #bfff27;";

struct KeyCase {
    Qt::Key key;
    bool tableChild;
    bool accepted; // reaches the base (and is accepted there)
};

TEST(LineEdit, KeysByMode)
{
    const KeyCase cases[] = {
        {Qt::Key_Left, true, false}, {Qt::Key_Down, true, false},   {Qt::Key_Comma, true, false},
        {Qt::Key_Left, false, true}, {Qt::Key_Comma, false, false}, {Qt::Key_A, true, true},
    };
    for (const KeyCase &c : cases) {
        QCustomLineEdit edit(true, nullptr);
        if (c.tableChild)
            edit.setIsTableWidgetChild();
        edit.setText("ab");
        QKeyEvent ev(QEvent::KeyPress, c.key, Qt::NoModifier,
                     c.key == Qt::Key_Comma ? ","
                     : c.key == Qt::Key_A   ? "a"
                                            : "");
        QApplication::sendEvent(&edit, &ev);
        EXPECT_EQ(ev.isAccepted(), c.accepted) << c.key << " table " << c.tableChild;
        EXPECT_FALSE(edit.text().contains(',')) << "a comma is never inserted";
    }
}

TEST(SpinBoxes, CommaRefusedAndDotIsTheSeparator)
{
    QLocale::setDefault(QLocale(QLocale::German));
    QCustomDoubleSpinBox d(false, nullptr);
    d.setDecimals(2);
    d.setRange(-100, 100);
    d.show();
    d.selectAll();
    QTest::keyClicks(&d, "1,5");
    EXPECT_FALSE(d.text().contains(','));
    d.selectAll();
    QTest::keyClicks(&d, "2.25");
    EXPECT_DOUBLE_EQ(d.value(), 2.25);
    EXPECT_EQ(d.text(), "2.25");
    QLocale::setDefault(QLocale::c());

    QCustomSpinBox s(false, nullptr);
    s.setIsTableWidgetChild();
    QKeyEvent up(QEvent::KeyPress, Qt::Key_Up, Qt::NoModifier);
    s.setValue(3);
    QApplication::sendEvent(&s, &up);
    EXPECT_EQ(s.value(), 3) << "arrows stay with the table";
    EXPECT_FALSE(up.isAccepted());
}

TEST(InputWidgets, StyleByMode)
{
    QCustomLineEdit panel(false, nullptr), dialog(false, nullptr), cell(false, nullptr);
    dialog.setIsDialogChild();
    dialog.setStyleSheet("x:y;");
    cell.setIsTableWidgetChild();
    for (QCustomLineEdit *e : {&panel, &dialog, &cell}) {
        QTest::keyClick(e, Qt::Key_A);
    }
    EXPECT_EQ(panel.styleSheet(), editingSheet);
    EXPECT_EQ(dialog.styleSheet(), "x:y;") << "a dialog field keeps its look";
    EXPECT_EQ(cell.styleSheet(), "background:transparent;");
    QFocusEvent out(QEvent::FocusOut);
    QApplication::sendEvent(&dialog, &out);
    EXPECT_EQ(dialog.styleSheet(), "") << "rest style sheet after losing the focus";

    QCustomSpinBox ro(false, nullptr);
    ro.setReadOnly(true);
    ro.show();
    QTest::mouseClick(&ro, Qt::LeftButton);
    EXPECT_EQ(ro.styleSheet(), "") << "a read-only field keeps its look";
}

TEST(ComboBox, SpaceWrapsInTableAndWheelNeverChanges)
{
    QCustomComboBox combo;
    combo.addItems({"a", "b", "c"});
    combo.setCurrentIndex(2);
    combo.setIsTableWidgetChild();
    EXPECT_EQ(combo.objectName(), "tableWidgetChild");
    QTest::keyClick(&combo, Qt::Key_Space);
    EXPECT_EQ(combo.currentIndex(), 0);
    QTest::keyClick(&combo, Qt::Key_Space);
    EXPECT_EQ(combo.currentIndex(), 1);
    QKeyEvent left(QEvent::KeyPress, Qt::Key_Left, Qt::NoModifier);
    QApplication::sendEvent(&combo, &left);
    EXPECT_FALSE(left.isAccepted());

    QWheelEvent wheel(QPointF(5, 5), QPointF(5, 5), QPoint(), QPoint(0, -120), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(&combo, &wheel);
    EXPECT_EQ(combo.currentIndex(), 1);
    EXPECT_FALSE(wheel.isAccepted());
}

TEST(ComboBox, ClearTextOnlyInTable)
{
    QCustomComboBox cell, panel;
    for (QCustomComboBox *c : {&cell, &panel}) {
        c->addItems({"On", "Off"});
        c->setCurrentIndex(1);
        c->setAlignmentRight();
    }
    cell.setIsTableWidgetChild();
    cell.clearComboCurrentText();
    panel.clearComboCurrentText();
    EXPECT_EQ(cell.lineEdit()->text(), "");
    EXPECT_EQ(cell.currentIndex(), 1);
    EXPECT_EQ(panel.lineEdit()->text(), "Off");
    EXPECT_TRUE(cell.lineEdit()->isReadOnly());
    EXPECT_EQ(cell.itemData(0, Qt::TextAlignmentRole).toInt(), int(Qt::AlignRight));
}

TEST(Label, ClickIsLeftPressThenRelease)
{
    QCustomLabel label;
    label.resize(40, 20);
    label.show();
    QSignalSpy spy(&label, &QCustomLabel::clicked);
    QTest::mouseClick(&label, Qt::RightButton);
    EXPECT_EQ(spy.count(), 0);
    QTest::mousePress(&label, Qt::LeftButton);
    QFocusEvent out(QEvent::FocusOut);
    QApplication::sendEvent(&label, &out);
    QTest::mouseRelease(&label, Qt::LeftButton);
    EXPECT_EQ(spy.count(), 0);
    QTest::mouseClick(&label, Qt::LeftButton);
    EXPECT_EQ(spy.count(), 1);
}

struct GeometryCase {
    int w, h;
    bool checked;
    QRect track, knob, text;
    int font;
};

TEST(Switch, GeometryTable)
{
    const GeometryCase cases[] = {
        {120, 30, true, QRect(2, 2, 116, 26), QRect(94, 4, 22, 22), QRect(QPoint(4, 4), QPoint(89, 25)), 15},
        {100, 60, false, QRect(2, 2, 96, 46), QRect(4, 4, 42, 42), QRect(QPoint(50, 4), QPoint(95, 45)), 25},
    };
    for (const GeometryCase &c : cases) {
        const KORUHVSwitchGeometry g = KORUHVSwitchGeometryFor(c.w, c.h, c.checked);
        EXPECT_EQ(g.track, c.track);
        EXPECT_EQ(g.knob, c.knob);
        EXPECT_EQ(g.textBox, c.text);
        EXPECT_EQ(g.fontPixelSize, c.font);
    }
}

TEST(Switch, PaintsItsColoursAndFollowsClicks)
{
    KORUHVSwitch sw("ON", "OFF", 1, nullptr);
    sw.resize(120, 30);
    EXPECT_EQ(sw.minimumSize(), QSize(60, 30));
    QImage off = sw.grab().toImage();
    EXPECT_EQ(off.pixelColor(8, 8), QColor(88, 88, 88)) << "knob fill, off";
    EXPECT_EQ(off.pixelColor(110, 24), QColor(205, 205, 205)) << "track fill, off";
    QSignalSpy clicked(&sw, &QAbstractButton::clicked);
    sw.show();
    QTest::mouseClick(&sw, Qt::LeftButton);
    EXPECT_EQ(sw.getCurrentString(), "ON");
    QImage on = sw.grab().toImage();
    EXPECT_EQ(on.pixelColor(100, 10), QColor(Qt::white)) << "knob fill, on";
    EXPECT_EQ(on.pixelColor(6, 24), QColor(104, 204, 56)) << "track fill, on";
    sw.setChecked(false);
    EXPECT_EQ(clicked.count(), 1) << "setChecked does not click";
    EXPECT_EQ(sw.getCurrentString(), "OFF");

    QWidget holder;
    auto *l = new QVBoxLayout(&holder);
    auto *small = new KORUHVSwitch("", "", 1, &holder);
    l->addWidget(small);
    holder.resize(10, 10);
    holder.show();
    EXPECT_GE(small->width(), 60);
    EXPECT_GE(small->height(), 30);
}

} // namespace
