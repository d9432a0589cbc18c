// Set groups through their dialogs: creating, naming, writing one value to
// every member (fitting each member's own texts and limits), editing,
// deleting, and the purge when boards or systems go while dialogs are open.
#include "FakeWrapper.h"
#include "KORUHVUtils.h"
#include "KORUHVWidgetItem.h"
#include "QCreateSetGroupsDialog.h"
#include "QSetGroupValueDialog.h"
#include "groups_fixture.h"
#include "modal_answer.h"
#include "qt_gtest_print.h"

#include <QAction>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

#include <gtest/gtest.h>

namespace {

class Groups : public gt::CustomizationsTest {
protected:
    static QVector<KORUHVNode *> members(KORUHVNode *root, const QString &param, int boards, int channels)
    {
        QVector<KORUHVNode *> out;
        for (int b = 0; b < boards; ++b)
            for (int c = 0; c < channels; ++c) {
                KORUHVNode *ch = gt::channel(root, b, c);
                out << ch << gt::param(ch, param);
            }
        return out;
    }
    QSetGroupValueDialog *openValueDialog(int index)
    {
        host.menu.actions().at(index)->trigger();
        return qobject_cast<QSetGroupValueDialog *>(controller->lastDialog());
    }
    // Text of the visible information box, closing it; empty when none.
    static QString shownMessage()
    {
        for (QWidget *w : QApplication::topLevelWidgets())
            if (auto *box = qobject_cast<QMessageBox *>(w); box && box->isVisible()) {
                const QString text = box->text();
                box->close();
                return text;
            }
        return {};
    }
    static bool on(QTreeWidgetItem *item)
    {
        return item->flags().testFlag(Qt::ItemIsEnabled) && item->checkState(0) == Qt::Checked;
    }
};

} // namespace

TEST_F(Groups, CreateDialogOffersWritableParametersAndBuildsTheGroup)
{
    KORUHVNode *a = connect(gt::crate(2, 2), "HV1", "127.0.0.2");
    host.window.show();
    controller->createDialogForGroupSettings();
    auto *dialog = qobject_cast<QCreateSetGroupsDialog *>(controller->lastDialog());
    ASSERT_TRUE(dialog);
    QComboBox *combo = dialog->parameterCombo();
    QStringList offered;
    for (int i = 0; i < combo->count(); ++i)
        offered << combo->itemText(i);
    EXPECT_EQ(offered, QStringList({"Name", "V0Set", "Pw"})) << "read-only VMon is never offered";
    EXPECT_EQ(combo->currentIndex(), -1);
    QPushButton *ok = dialog->buttons()->button(QDialogButtonBox::Ok);
    EXPECT_FALSE(ok->isEnabled());

    combo->setCurrentIndex(combo->findText("V0Set"));
    EXPECT_TRUE(ok->isEnabled());
    QTreeWidget *tree = dialog->tree();
    QTreeWidgetItem *system = tree->topLevelItem(0);
    QTreeWidgetItem *board1 = system->child(1);
    QTreeWidgetItem *ch = board1->child(1);
    EXPECT_FALSE(on(ch));

    // OK with nothing ticked: the critical box, and the dialog stays.
    auto answered = koru_test::answerNextModal<QMessageBox>(
        [](QMessageBox *box) {
            EXPECT_EQ(box->text(), QStringLiteral("Select at least one channel"));
            EXPECT_EQ(box->windowTitle(), QStringLiteral("LUMO2020"));
            box->accept();
        },
        5000, koru_test::AfterAnswer::CloseAfterBound);
    QTest::mouseClick(ok, Qt::LeftButton);
    EXPECT_TRUE(*answered);
    EXPECT_TRUE(controller->getGroups().isEmpty());

    click(tree, ch);
    EXPECT_TRUE(on(ch));
    EXPECT_TRUE(on(board1)) << "ticking a channel ticks its board";
    EXPECT_TRUE(on(system));
    click(tree, ch);
    EXPECT_FALSE(on(ch));
    EXPECT_TRUE(on(board1)) << "unticking leaves the parents";
    click(tree, board1);
    EXPECT_FALSE(on(board1));
    click(tree, board1);
    EXPECT_TRUE(on(board1->child(0)));
    EXPECT_TRUE(on(board1->child(1)));
    click(tree, board1->child(0));

    QTest::keyClicks(dialog->nameField(), "North");
    QPointer<QDialog> guard(dialog);
    QTest::mouseClick(ok, Qt::LeftButton);
    ASSERT_EQ(controller->getGroups().size(), 1);
    KORUHVNode *c11 = gt::channel(a, 1, 1);
    EXPECT_EQ(controller->getGroups()[0], QVector<KORUHVNode *>({c11, gt::param(c11, "V0Set")}));
    ASSERT_EQ(host.menu.actions().size(), 1);
    EXPECT_EQ(host.menu.actions()[0]->text(), QStringLiteral("North"));
    EXPECT_EQ(host.menu.actions()[0]->objectName(), QStringLiteral("0"));
    EXPECT_TRUE(host.menu.isEnabled());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(guard.isNull()) << "the dialog deletes itself on OK";
}

TEST_F(Groups, UnnamedGroupsAndDeletionKeepMenuAndListInStep)
{
    KORUHVNode *a = connect(gt::crate(1, 3), "HV1", "127.0.0.2");
    for (int c = 0; c < 3; ++c)
        controller->groupCreatedCallback({gt::channel(a, 0, c), gt::param(gt::channel(a, 0, c), "V0Set")},
                                         QString());
    controller->groupCreatedCallback({}, "ignored");
    auto texts = [&] {
        QStringList t;
        for (QAction *x : host.menu.actions())
            t << x->text() + "/" + x->objectName();
        return t;
    };
    EXPECT_EQ(texts(), QStringList({"Group 0/0", "Group 1/1", "Group 2/2"}));

    // No keeps the group; Yes removes it and renumbers the rest.
    auto no = koru_test::answerNextModal<QMessageBox>(
        [](QMessageBox *box) {
            EXPECT_EQ(box->text(), QStringLiteral("You are deleting Group 1."));
            box->button(QMessageBox::No)->click();
        },
        5000, koru_test::AfterAnswer::CloseAfterBound);
    controller->deleteGroupCallback(1);
    EXPECT_TRUE(*no);
    EXPECT_EQ(controller->getGroups().size(), 3);
    auto yes = koru_test::answerNextModal<QMessageBox>(
        [](QMessageBox *box) { box->button(QMessageBox::Yes)->click(); }, 5000,
        koru_test::AfterAnswer::CloseAfterBound);
    controller->deleteGroupCallback(1);
    EXPECT_TRUE(*yes);
    EXPECT_EQ(texts(), QStringList({"Group 0/0", "Group 2/1"}));
    EXPECT_EQ(controller->getGroups()[1][0], gt::channel(a, 0, 2)) << "action 1 opens the former group 2";

    controller->groupCreatedCallback({gt::channel(a, 0, 1), gt::param(gt::channel(a, 0, 1), "V0Set")},
                                     QString());
    EXPECT_EQ(texts().last(), QStringLiteral("Group 1/2"));
    controller->groupCreatedCallback({gt::channel(a, 0, 1), gt::param(gt::channel(a, 0, 1), "V0Set")},
                                     "Same");
    controller->groupCreatedCallback({gt::channel(a, 0, 1), gt::param(gt::channel(a, 0, 1), "V0Set")},
                                     "Same");
    EXPECT_EQ(texts().mid(3), QStringList({"Same/3", "Same/4"})) << "two groups may share a name";

    for (int left = 5; left > 0; --left) {
        koru_test::answerNextModal<QMessageBox>(
            [](QMessageBox *box) { box->button(QMessageBox::Yes)->click(); }, 5000,
            koru_test::AfterAnswer::CloseAfterBound);
        controller->deleteGroupCallback(0);
    }
    EXPECT_TRUE(host.menu.actions().isEmpty());
    EXPECT_FALSE(host.menu.isEnabled()) << "the last deletion disables the menu";
}

TEST_F(Groups, OneValueGoesToEveryMemberAndARefusedMemberIsMarked)
{
    fakehv::System s1 = gt::crate(2, 3);
    s1.crate[1].channels[2].find("V0Set")->setCode = 5; // this member is refused
    s1.errorText = "Channel in trip";
    KORUHVNode *a = connect(s1, "HV1", "127.0.0.2");
    KORUHVNode *b = connect(gt::crate(2, 3), "HV2", "127.0.0.3");
    controller->groupCreatedCallback(members(a, "V0Set", 2, 3) + members(b, "V0Set", 2, 3), "Twelve");
    ASSERT_EQ(controller->getGroups()[0].size(), 24);

    QPointer<QSetGroupValueDialog> dialog = openValueDialog(0);
    ASSERT_TRUE(dialog);
    EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Set V0Set for Group Twelve"));
    EXPECT_EQ(dialog->membersList()->topLevelItemCount(), 12);
    EXPECT_TRUE(dialog->membersList()->isHidden());
    dialog->show();
    QTest::mouseClick(dialog->showButton(), Qt::LeftButton);
    EXPECT_FALSE(dialog->membersList()->isHidden());
    EXPECT_FALSE(dialog->hideButton()->isHidden());
    QTest::mouseClick(dialog->hideButton(), Qt::LeftButton);
    EXPECT_TRUE(dialog->membersList()->isHidden());

    auto *spin = dialog->editor()->findChild<QDoubleSpinBox *>();
    ASSERT_TRUE(spin);
    spin->selectAll();
    QTest::keyClicks(spin, "1500");
    fakehv::clearCalls();
    QTest::mouseClick(dialog->buttons()->button(QDialogButtonBox::Ok), Qt::LeftButton);

    const auto calls = fakehv::callsOf("KORUHV_SetChParam");
    ASSERT_EQ(calls.size(), 12u) << "one write per member";
    for (const auto &c : calls) {
        EXPECT_EQ(c.name, "V0Set");
        EXPECT_FLOAT_EQ(c.value.asF32(), 1500.f);
    }
    int writtenA = 0;
    for (const auto &c : calls)
        writtenA += c.handle == a->getSysHandle() ? 1 : 0;
    EXPECT_EQ(writtenA, 6);
    KORUHVNode *refused = gt::param(gt::channel(a, 1, 2), "V0Set");
    EXPECT_EQ(refused->getNodeValue().KORUHVGetQuality(), QUALITY_WRITE_FAILED);
    EXPECT_FLOAT_EQ(refused->getNodeValue().KORUHVGetValue().toFloat(), 10.f);
    KORUHVNode *written = gt::param(gt::channel(b, 1, 2), "V0Set");
    EXPECT_EQ(written->getNodeValue().KORUHVGetQuality(), QUALITY_GOOD);
    EXPECT_FLOAT_EQ(written->getNodeValue().KORUHVGetValue().toFloat(), 1500.f);

    // The refusal is said, naming the member and the device's reason.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    ASSERT_FALSE(dialog.isNull()) << "a refused member: not closed as if done";
    auto *report = dialog->findChild<QLabel *>("writeReport");
    ASSERT_TRUE(report);
    EXPECT_TRUE(report->isVisible());
    KORUHVNode *refusedChannel = gt::channel(a, 1, 2);
    const QString member =
        QStringLiteral("%1 / %2 / %3")
            .arg(refusedChannel->getSysName(), refusedChannel->getBdName(), refusedChannel->getNodeName());
    EXPECT_EQ(report->text(), QStringLiteral("Written to 11 of the 12 members. Not written:\n"
                                             "%1: refused by the device (code 5: Channel in trip)")
                                  .arg(member));
}

TEST_F(Groups, TheChosenStateGoesToEveryMemberInItsOwnWords)
{
    // The operator chooses a state, shown in the first member's words; every
    // member is switched to that state, whatever its own words for it.
    const struct {
        const char *firstOn, *firstOff, *secondOn, *secondOff;
        uint32_t before;
        const char *chosen;
        bool state;
    } cases[] = {
        {"On", "Off", "ON", "OFF", 1u, "Off", false},
        {"ON", "OFF", "On", "Off", 1u, "OFF", false},
        {"On", "Off", "Enabled", "Disabled", 0u, "On", true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.chosen);
        host.menu.clear();
        fakehv::System first = gt::crate(1, 2, c.firstOn, c.firstOff);
        fakehv::System second = gt::crate(1, 2, c.secondOn, c.secondOff);
        for (fakehv::System *sys : {&first, &second})
            for (auto &ch : sys->crate[0].channels)
                ch.find("Pw")->value = fakehv::Raw::u32(c.before);
        KORUHVNode *a = connect(first, "HV1", "127.0.0.2");
        KORUHVNode *b = connect(second, "HV2", "127.0.0.3");
        controller->groupCreatedCallback(members(a, "Pw", 1, 2) + members(b, "Pw", 1, 2), "Power");
        QPointer<QSetGroupValueDialog> dialog = openValueDialog(int(host.menu.actions().size()) - 1);
        ASSERT_TRUE(dialog);
        dialog->show();
        auto *combo = dialog->editor()->findChild<QComboBox *>();
        ASSERT_TRUE(combo);
        combo->setCurrentIndex(combo->findText(c.chosen));
        fakehv::clearCalls();
        QTest::mouseClick(dialog->buttons()->button(QDialogButtonBox::Ok), Qt::LeftButton);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

        EXPECT_EQ(fakehv::callsOf("KORUHV_SetChParam").size(), 4u) << "one write per member";
        for (KORUHVNode *root : {a, b})
            for (int ch = 0; ch < 2; ++ch) {
                KORUHVNode *pw = gt::param(gt::channel(root, 0, ch), "Pw");
                EXPECT_EQ(
                    fakehv::system(root->getSysHandle()).crate[0].channels[ch].find("Pw")->value.asU32(),
                    c.state ? 1u : 0u);
                EXPECT_EQ(pw->getNodeValue().KORUHVGetQuality(), QUALITY_GOOD);
                EXPECT_EQ(pw->getNodeValue().KORUHVGetValue().toBool(), c.state);
            }
        const QString secondWord = QString::fromLatin1(c.state ? c.secondOn : c.secondOff);
        EXPECT_EQ(
            KORUHVUtils::KORUHVConvertPropertyStringFromBool(gt::param(gt::channel(b, 0, 0), "Pw"), c.state),
            secondWord)
            << "shown in the member's own words";
        EXPECT_TRUE(dialog.isNull()) << "every member written: the dialog closes";
        TearDown();
        SetUp();
    }
}

TEST_F(Groups, ANumberSomeMembersCannotTakeIsRefusedWholeWhateverTheOrder)
{
    // HV1's channel takes 0..3000, HV2's 0..1000; the group lists them in
    // either order.
    for (const bool wideFirst : {true, false}) {
        SCOPED_TRACE(wideFirst ? "0..3000 first" : "0..1000 first");
        host.menu.clear();
        fakehv::System narrow = gt::crate(1, 1);
        narrow.crate[0].channels[0].find("V0Set")->props["Maxval"] = fakehv::Raw::f32(1000.f);
        KORUHVNode *a = connect(gt::crate(1, 1), "HV1", "127.0.0.2");
        KORUHVNode *b = connect(narrow, "HV2", "127.0.0.3");
        const QVector<KORUHVNode *> wide = members(a, "V0Set", 1, 1);
        const QVector<KORUHVNode *> small = members(b, "V0Set", 1, 1);
        controller->groupCreatedCallback(wideFirst ? wide + small : small + wide, "Mixed limits");
        QPointer<QSetGroupValueDialog> dialog = openValueDialog(0);
        ASSERT_TRUE(dialog);
        dialog->show();
        auto *spin = dialog->editor()->findChild<QDoubleSpinBox *>();
        ASSERT_TRUE(spin);
        auto type = [&](const char *text) {
            spin->setFocus();
            spin->selectAll();
            QTest::keyClicks(spin, text);
            fakehv::clearCalls();
            QTest::mouseClick(dialog->buttons()->button(QDialogButtonBox::Ok), Qt::LeftButton);
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        };

        // Outside every member's limits: refused in the field, as always.
        type("3500");
        ASSERT_FALSE(dialog.isNull());
        EXPECT_TRUE(fakehv::callsOf("KORUHV_SetChParam").empty());
        EXPECT_TRUE(spin->toolTip().contains("between 0 and 3000")) << spin->toolTip().toStdString();

        // Within HV1's limits only: nothing goes out, HV2's member is named.
        type("2000");
        ASSERT_FALSE(dialog.isNull()) << "not closed as if done";
        EXPECT_TRUE(dialog->isVisible());
        EXPECT_TRUE(fakehv::callsOf("KORUHV_SetChParam").empty()) << "no member written";
        auto *report = dialog->findChild<QLabel *>("writeReport");
        ASSERT_TRUE(report) << "the dialog says what was not written";
        EXPECT_TRUE(report->isVisible());
        const QString text = report->text();
        EXPECT_TRUE(text.startsWith("Nothing was written: 1 of the 2 members cannot take 2000.")) << text;
        EXPECT_TRUE(text.contains("HV2") && text.contains("outside its limits 0 to 1000")) << text;
        EXPECT_FALSE(text.contains("HV1")) << text;
        EXPECT_FLOAT_EQ(gt::param(gt::channel(a, 0, 0), "V0Set")->getNodeValue().KORUHVGetValue().toFloat(),
                        10.f);
        EXPECT_FLOAT_EQ(fakehv::system(b->getSysHandle()).crate[0].channels[0].find("V0Set")->value.asF32(),
                        10.f);

        // A value every member takes: written to both, the dialog closes.
        type("500");
        EXPECT_EQ(fakehv::callsOf("KORUHV_SetChParam").size(), 2u);
        EXPECT_TRUE(dialog.isNull());
        TearDown();
        SetUp();
    }
}

TEST_F(Groups, AReportOnManyMembersNamesTheFirstAndCountsTheRest)
{
    // 16 members cannot take the value: ten are named, the other six counted,
    // so the dialog stays within the screen.
    fakehv::System narrow = gt::crate(2, 8);
    for (auto &board : narrow.crate)
        for (auto &ch : board.channels)
            ch.find("V0Set")->props["Maxval"] = fakehv::Raw::f32(1000.f);
    KORUHVNode *a = connect(gt::crate(1, 1), "HV1", "127.0.0.2");
    KORUHVNode *b = connect(narrow, "HV2", "127.0.0.3");
    controller->groupCreatedCallback(members(a, "V0Set", 1, 1) + members(b, "V0Set", 2, 8), "Many");
    QPointer<QSetGroupValueDialog> dialog = openValueDialog(0);
    ASSERT_TRUE(dialog);
    dialog->show();
    auto *spin = dialog->editor()->findChild<QDoubleSpinBox *>();
    ASSERT_TRUE(spin);
    spin->setFocus();
    spin->selectAll();
    QTest::keyClicks(spin, "2000");
    fakehv::clearCalls();
    QTest::mouseClick(dialog->buttons()->button(QDialogButtonBox::Ok), Qt::LeftButton);
    ASSERT_FALSE(dialog.isNull());
    EXPECT_TRUE(fakehv::callsOf("KORUHV_SetChParam").empty());
    auto *report = dialog->findChild<QLabel *>("writeReport");
    ASSERT_TRUE(report);
    const QStringList lines = report->text().split('\n');
    ASSERT_EQ(lines.size(), 12) << report->text();
    EXPECT_EQ(lines.first(), "Nothing was written: 16 of the 17 members cannot take 2000.");
    EXPECT_TRUE(lines[1].startsWith("HV2 / ")) << lines[1];
    EXPECT_EQ(lines.last(), "... and 6 more members");
}

TEST_F(Groups, EditPreTicksMembersByPointerAndKeepsTheMenuText)
{
    // Two systems of one name: only the real members are ticked.
    KORUHVNode *a = connect(gt::crate(1, 2), "HV", "127.0.0.2");
    KORUHVNode *b = connect(gt::crate(1, 2), "HV", "127.0.0.3");
    controller->groupCreatedCallback(members(a, "V0Set", 1, 1), "Edit me");
    QSetGroupValueDialog *value = openValueDialog(0);
    ASSERT_TRUE(value);
    value->show();
    QTest::mouseClick(value->editButton(), Qt::LeftButton);
    auto *edit = value->findChild<QCreateSetGroupsDialog *>();
    ASSERT_TRUE(edit);
    EXPECT_FALSE(edit->parameterCombo()->isEnabled());
    EXPECT_FALSE(edit->nameField()->isEnabled());
    QTreeWidget *tree = edit->tree();
    ASSERT_EQ(tree->topLevelItemCount(), 2);
    EXPECT_TRUE(on(tree->topLevelItem(0)->child(0)->child(0)));
    EXPECT_FALSE(on(tree->topLevelItem(0)->child(0)->child(1)));
    EXPECT_FALSE(on(tree->topLevelItem(1)->child(0)->child(0))) << "same name, slot and channel elsewhere";
    edit->show();
    click(tree, tree->topLevelItem(1)->child(0)->child(1));
    QTest::mouseClick(edit->buttons()->button(QDialogButtonBox::Ok), Qt::LeftButton);
    KORUHVNode *b01 = gt::channel(b, 0, 1);
    const QVector<KORUHVNode *> expected =
        members(a, "V0Set", 1, 1) + QVector<KORUHVNode *>({b01, gt::param(b01, "V0Set")});
    EXPECT_EQ(controller->getGroups()[0], expected);
    EXPECT_EQ(value->membersList()->topLevelItemCount(), 2);
    EXPECT_EQ(host.menu.actions()[0]->text(), QStringLiteral("Edit me"));
}

TEST_F(Groups, BoardRemovalWhileTheValueDialogIsOpenClosesItUnwritten)
{
    KORUHVNode *a = connect(gt::crate(2, 2), "HV1", "127.0.0.2");
    controller->groupCreatedCallback(members(a, "V0Set", 1, 2), "Board 0 only");
    controller->groupCreatedCallback(members(a, "V0Set", 2, 2), "Both boards");
    QPointer<QSetGroupValueDialog> dialog = openValueDialog(1);
    ASSERT_TRUE(dialog);
    dialog->show();
    fakehv::clearCalls();
    controller->removeBoardFromGroups(a->getSysHandle(), 0);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(dialog.isNull()) << "closed: it pointed at the board";
    // The operator is told why, with the group and the members gone.
    const QString why = shownMessage();
    EXPECT_TRUE(why.startsWith("Group \"Both boards\": the board in slot 0 of HV1 is gone")) << why;
    for (int c = 0; c < 2; ++c)
        EXPECT_TRUE(why.contains(gt::channel(a, 0, c)->getNodeName())) << why;
    EXPECT_FALSE(
        why.contains(gt::channel(a, 1, 0)->getBdName() + " / " + gt::channel(a, 1, 0)->getNodeName()))
        << "members that stay are not listed: " << why.toStdString();
    EXPECT_TRUE(fakehv::callsOf("KORUHV_SetChParam").empty());
    ASSERT_EQ(controller->getGroups().size(), 1);
    EXPECT_EQ(controller->getGroups()[0], members(a, "V0Set", 2, 2).mid(4));
    ASSERT_EQ(host.menu.actions().size(), 1);
    EXPECT_EQ(host.menu.actions()[0]->text(), QStringLiteral("Both boards"));
    EXPECT_EQ(host.menu.actions()[0]->objectName(), QStringLiteral("0"));
}

TEST_F(Groups, DisconnectionPurgesGroupsAndClosesTheEditDialog)
{
    KORUHVNode *a = connect(gt::crate(1, 2), "HV1", "127.0.0.2");
    KORUHVNode *b = connect(gt::crate(1, 2), "HV2", "127.0.0.3");
    controller->groupCreatedCallback(members(b, "V0Set", 1, 2), "Only B");
    controller->groupCreatedCallback(members(a, "V0Set", 1, 1) + members(b, "V0Set", 1, 1), "Mixed");
    QPointer<QSetGroupValueDialog> value = openValueDialog(1);
    value->show();
    QTest::mouseClick(value->editButton(), Qt::LeftButton);
    QPointer<QCreateSetGroupsDialog> edit = value->findChild<QCreateSetGroupsDialog *>();
    ASSERT_TRUE(edit);
    host.disconnect(*controller, host.positionOf(b));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(value.isNull());
    EXPECT_TRUE(edit.isNull());
    const QString why = shownMessage();
    EXPECT_TRUE(why.startsWith("Group \"Mixed\": HV2 is disconnected")) << why;
    ASSERT_EQ(controller->getGroups().size(), 1);
    EXPECT_EQ(controller->getGroups()[0], members(a, "V0Set", 1, 1));
    EXPECT_EQ(host.menu.actions()[0]->text(), QStringLiteral("Mixed"));
    EXPECT_EQ(host.menu.actions()[0]->objectName(), QStringLiteral("0"));
    host.menu.actions()[0]->trigger();
    auto *again = qobject_cast<QSetGroupValueDialog *>(controller->lastDialog());
    ASSERT_TRUE(again);
    EXPECT_EQ(again->membersList()->topLevelItemCount(), 1);
}

TEST_F(Groups, APurgeDuringTheDeleteQuestionDeletesOnlyTheGroupAskedAbout)
{
    KORUHVNode *a = connect(gt::crate(1, 1), "HV1", "127.0.0.2");
    KORUHVNode *b = connect(gt::crate(1, 1), "HV2", "127.0.0.3");
    controller->groupCreatedCallback(members(b, "V0Set", 1, 1), "B");
    controller->groupCreatedCallback(members(a, "V0Set", 1, 1), "A");
    controller->groupCreatedCallback(members(a, "Pw", 1, 1), "A power");
    QPointer<QSetGroupValueDialog> value = openValueDialog(1);
    value->show();
    const int handleB = b->getSysHandle();
    auto asked = koru_test::answerNextModal<QMessageBox>(
        [&](QMessageBox *box) {
            // While the question is up, system B goes (and group B with it).
            host.disconnect(*controller, host.positionOf(b));
            box->button(QMessageBox::Yes)->click();
        },
        5000, koru_test::AfterAnswer::CloseAfterBound);
    QTest::mouseClick(value->deleteButton(), Qt::LeftButton);
    EXPECT_TRUE(*asked);
    (void)handleB;
    ASSERT_EQ(controller->getGroups().size(), 1);
    EXPECT_EQ(controller->getGroups()[0], members(a, "Pw", 1, 1));
    ASSERT_EQ(host.menu.actions().size(), 1);
    EXPECT_EQ(host.menu.actions()[0]->text(), QStringLiteral("A power"));
    EXPECT_EQ(host.menu.actions()[0]->objectName(), QStringLiteral("0"));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(value.isNull());
}
