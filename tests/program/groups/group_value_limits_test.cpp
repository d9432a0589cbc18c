// The group value dialog: a number outside the parameter's limits, or no
// number, is refused in the dialog's field; nothing is written to any member
// and the dialog stays open.
#include "FakeWrapper.h"
#include "KORUHVWidgetItem.h"
#include "QSetGroupValueDialog.h"
#include "groups_fixture.h"
#include "qt_gtest_print.h"

#include <QAbstractSpinBox>
#include <QAction>
#include <QDialogButtonBox>
#include <QPointer>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

namespace {

class GroupValueLimits : public gt::CustomizationsTest {
protected:
    void SetUp() override
    {
        gt::CustomizationsTest::SetUp();
        root = connect(gt::crate(1, 3), "HV1", "127.0.0.2");
        QVector<KORUHVNode *> members;
        for (int c = 0; c < 3; ++c)
            members << gt::channel(root, 0, c) << gt::param(gt::channel(root, 0, c), "V0Set");
        controller->groupCreatedCallback(members, "Three");
    }
    QSetGroupValueDialog *openDialog()
    {
        host.menu.actions().at(0)->trigger();
        auto *dialog = qobject_cast<QSetGroupValueDialog *>(controller->lastDialog());
        if (dialog) {
            dialog->show();
            dialog->activateWindow();
            (void)QTest::qWaitForWindowActive(dialog);
        }
        return dialog;
    }

    KORUHVNode *root = nullptr;
};

} // namespace

// V0Set lies within [0, 3000] and holds 10.
TEST_F(GroupValueLimits, OutOfLimitsValueIsRefusedInTheFieldAndNothingIsWritten)
{
    const struct {
        const char *typed;
        bool byReturn; // else the OK button
        const char *why;
    } cases[] = {
        {"-10", false, "between 0 and 3000"},
        {"-10", true, "between 0 and 3000"},
        {"3000.5", false, "between 0 and 3000"},
        {"-", false, "Not a number"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.typed) + (c.byReturn ? " Return" : " OK"));
        QPointer<QSetGroupValueDialog> dialog = openDialog();
        ASSERT_TRUE(dialog);
        auto *spin = dialog->editor()->findChild<QAbstractSpinBox *>();
        ASSERT_TRUE(spin);
        spin->setFocus();
        spin->selectAll();
        QTest::keyClicks(spin, QString::fromLatin1(c.typed));
        EXPECT_EQ(spin->text().trimmed(), QString::fromLatin1(c.typed)) << "typed as such";
        fakehv::clearCalls();
        if (c.byReturn)
            QTest::keyClick(spin, Qt::Key_Return);
        else
            QTest::mouseClick(dialog->buttons()->button(QDialogButtonBox::Ok), Qt::LeftButton);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_TRUE(fakehv::callsOf("KORUHV_SetChParam").empty());
        for (int ch = 0; ch < 3; ++ch) {
            KORUHVNode *p = gt::param(gt::channel(root, 0, ch), "V0Set");
            EXPECT_FLOAT_EQ(p->getNodeValue().KORUHVGetValue().toFloat(), 10.f);
            EXPECT_NE(p->getNodeValue().KORUHVGetQuality(), QUALITY_WRITE_FAILED) << "nothing was tried";
        }
        ASSERT_FALSE(dialog.isNull()) << "the dialog stays open with the refused input";
        // Leaving the field for OK shows a number in its own format; a
        // text that is no number gives way to the last number, still refused.
        bool number = false;
        const double typed = QString::fromLatin1(c.typed).toDouble(&number);
        if (number) {
            EXPECT_DOUBLE_EQ(spin->text().trimmed().toDouble(), typed) << spin->text().toStdString();
        }
        EXPECT_TRUE(spin->styleSheet().contains("#ff3030")) << spin->styleSheet().toStdString();
        EXPECT_TRUE(spin->toolTip().contains(QLatin1String(c.why))) << spin->toolTip().toStdString();
        dialog->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    // Within the limits: every member is written.
    QPointer<QSetGroupValueDialog> dialog = openDialog();
    auto *spin = dialog->editor()->findChild<QAbstractSpinBox *>();
    spin->setFocus();
    spin->selectAll();
    QTest::keyClicks(spin, "0");
    fakehv::clearCalls();
    QTest::mouseClick(dialog->buttons()->button(QDialogButtonBox::Ok), Qt::LeftButton);
    const auto calls = fakehv::callsOf("KORUHV_SetChParam");
    ASSERT_EQ(calls.size(), 3u);
    for (const auto &call : calls)
        EXPECT_FLOAT_EQ(call.value.asF32(), 0.f);
}
