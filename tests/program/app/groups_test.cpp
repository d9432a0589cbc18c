/* Set groups and the custom view in the real main window over the fake
 * wrapper: a group made through the Groups menu writes each member; a board
 * removal and disconnections purge it; the custom view loses a system on
 * its disconnection. */
#include "KORUHVNode.h"
#include "KORUHVWidgetItem.h"
#include "MainWindowUi.h"
#include "QCreateSetGroupsDialog.h"
#include "QCustomLineEdit.h"
#include "QCustomTableWidget.h"
#include "QCustomViewDialog.h"
#include "QSetGroupValueDialog.h"
#include "QSubWindow.h"
#include "shell_fixture.h"

#include <QAction>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

#include <map>
#include <set>

namespace {

fakehv::Param param(unsigned type, unsigned mode, fakehv::Raw value,
                    std::map<std::string, fakehv::Raw> props = {})
{
    fakehv::Param p;
    p.type = type;
    p.mode = mode;
    p.value = std::move(value);
    p.props = std::move(props);
    return p;
}

/* A 16-slot crate with `boards` boards of `channels` channels, each with a
 * writable "V0Set" (0..3000) and a read-only "VMon". */
fakehv::System setCrate(int boards, int channels)
{
    fakehv::System s;
    s.props.push_back({"ModelName", {fakehv::SYSPROP_TEXT, 0, fakehv::Raw::text("HX4400")}});
    s.crate.resize(16);
    for (int b = 0; b < boards; ++b) {
        fakehv::Board &board =
            s.addBoard(static_cast<unsigned short>(b), static_cast<unsigned short>(channels), "A1535",
                       100u + static_cast<unsigned>(b));
        for (auto &ch : board.channels) {
            ch.params.push_back({"V0Set", param(0, 2, fakehv::Raw::f32(10.f),
                                                {{"Minval", fakehv::Raw::f32(0.f)},
                                                 {"Maxval", fakehv::Raw::f32(3000.f)},
                                                 {"Unit", fakehv::Raw::u16(2)},
                                                 {"Exp", fakehv::Raw::i16(0)},
                                                 {"Decimal", fakehv::Raw::i16(1)}})});
            ch.params.push_back({"VMon", param(0, 0, fakehv::Raw::f32(0.f))});
        }
    }
    return s;
}

void clickItem(QTreeWidget *tree, QTreeWidgetItem *item)
{
    for (QTreeWidgetItem *up = item->parent(); up; up = up->parent())
        up->setExpanded(true);
    tree->scrollToItem(item);
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualItemRect(item).center());
}

KORUHVNode *v0Set(KORUHVNode *root, int slot, int ch)
{
    for (KORUHVNode *p : root->getChildren().at(slot)->getChildren().at(ch)->getParameters())
        if (p->getNodeName() == QLatin1String("V0Set"))
            return p;
    return nullptr;
}

class GroupsShellTest : public ShellTest {
protected:
    void SetUp() override { ShellTest::SetUp(); }
    void TearDown() override
    {
        for (QWidget *w : QApplication::topLevelWidgets())
            if (qobject_cast<QDialog *>(w) && w->isVisible())
                w->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        ShellTest::TearDown();
    }
    /* Through the connection dialog's own entry point. */
    QSystemInterface *connectCrate(const QString &address, const QString &name, int boards = 2,
                                   int channels = 3)
    {
        fakehv::queueInit(setCrate(boards, channels));
        const int before = window->getSysInterfaceVector().size();
        window->connectDialogCallback(2, 0, address, name, QStringLiteral("admin"), QStringLiteral("pw"));
        const auto v = window->getSysInterfaceVector();
        return v.size() == before + 1 ? v.last() : nullptr;
    }
    /* Groups > New Group, a name, V0Set and every channel of every system. */
    void makeGroupThroughTheMenu(const QString &name)
    {
        window->getUi()->menuCreateGroup->trigger();
        auto *dialog =
            qobject_cast<QCreateSetGroupsDialog *>(window->customizationsController()->lastDialog());
        ASSERT_TRUE(dialog);
        EXPECT_TRUE(qobject_cast<QCustomLineEdit *>(dialog->nameField()));
        dialog->show();
        QTest::keyClicks(dialog->nameField(), name);
        dialog->parameterCombo()->setCurrentIndex(
            dialog->parameterCombo()->findText(QStringLiteral("V0Set")));
        QTreeWidget *tree = dialog->tree();
        for (int s = 0; s < tree->topLevelItemCount(); ++s)
            for (int b = 0; b < tree->topLevelItem(s)->childCount(); ++b)
                for (int c = 0; c < tree->topLevelItem(s)->child(b)->childCount(); ++c)
                    clickItem(tree, tree->topLevelItem(s)->child(b)->child(c));
        QTest::mouseClick(dialog->buttons()->button(QDialogButtonBox::Ok), Qt::LeftButton);
    }
    QMenu *groupsMenu() const { return window->getUi()->menuViewGroups; }
};

} // namespace

TEST_F(GroupsShellTest, AGroupMadeThroughTheGroupsMenuWritesEachMember)
{
    QSystemInterface *a = connectCrate(QStringLiteral("10.0.0.1"), QStringLiteral("HV1"));
    QSystemInterface *b = connectCrate(QStringLiteral("10.0.0.2"), QStringLiteral("HV2"));
    ASSERT_TRUE(a && b);
    EXPECT_TRUE(window->getUi()->menuCreateGroup->isEnabled());
    EXPECT_FALSE(groupsMenu()->isEnabled());

    makeGroupThroughTheMenu(QStringLiteral("Twelve"));
    ASSERT_EQ(window->getGroups().size(), 1);
    EXPECT_EQ(window->getGroups()[0].size(), 24) << "channel and parameter of 12 members";
    ASSERT_EQ(groupsMenu()->actions().size(), 1);
    EXPECT_EQ(groupsMenu()->actions()[0]->text(), QStringLiteral("Twelve"));
    EXPECT_TRUE(groupsMenu()->isEnabled());

    groupsMenu()->actions()[0]->trigger();
    auto *value = qobject_cast<QSetGroupValueDialog *>(window->customizationsController()->lastDialog());
    ASSERT_TRUE(value);
    value->show();
    auto *spin = value->editor()->findChild<QDoubleSpinBox *>();
    ASSERT_TRUE(spin);
    spin->selectAll();
    QTest::keyClicks(spin, "1500");
    fakehv::clearCalls();
    QTest::mouseClick(value->buttons()->button(QDialogButtonBox::Ok), Qt::LeftButton);

    const auto calls = fakehv::callsOf("KORUHV_SetChParam");
    ASSERT_EQ(calls.size(), 12u) << "one write per member";
    std::map<int, std::set<std::pair<int, int>>> written;
    for (const auto &c : calls) {
        EXPECT_EQ(c.name, "V0Set");
        EXPECT_FLOAT_EQ(c.value.asF32(), 1500.f);
        ASSERT_EQ(c.list.size(), 1u);
        written[c.handle].insert({c.slot, c.list[0]});
    }
    EXPECT_EQ(written[a->getSystemHandle()].size(), 6u);
    EXPECT_EQ(written[b->getSystemHandle()].size(), 6u);
    EXPECT_FLOAT_EQ(v0Set(b->getSystemNode(), 1, 2)->getNodeValue().KORUHVGetValue().toFloat(), 1500.f);
}

TEST_F(GroupsShellTest, BoardRemovalAndDisconnectionsPurgeTheGroup)
{
    ModalAnswerer answer(clickButton()); /* the empty-list and progress boxes of the disconnections */
    QSystemInterface *a = connectCrate(QStringLiteral("10.0.0.1"), QStringLiteral("HV1"));
    QSystemInterface *b = connectCrate(QStringLiteral("10.0.0.2"), QStringLiteral("HV2"));
    ASSERT_TRUE(a && b);
    makeGroupThroughTheMenu(QStringLiteral("All"));
    ASSERT_EQ(window->getGroups().size(), 1);
    ASSERT_EQ(window->getGroups()[0].size(), 24);

    /* Its value dialog is open while board 1 of HV1 leaves its slot. */
    groupsMenu()->actions()[0]->trigger();
    QPointer<QDialog> value = window->customizationsController()->lastDialog();
    ASSERT_TRUE(value);
    value->show();
    fakehv::System &script = fakehv::system(a->getSystemHandle());
    script.crate[1].channelCount = 0;
    script.crate[1].channels.clear();
    window->handleEventLiveInsertion(a, true, true, a->getSerial());
    ASSERT_EQ(a->getSystemNode()->getChildren()[1]->getNodeType(), NODE_GROUP);
    ASSERT_EQ(window->getGroups().size(), 1);
    EXPECT_EQ(window->getGroups()[0].size(), 18) << "the three channels of the pulled board left";
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(!value || !value->isVisible()) << "the dialog pointing at the board closed unwritten";
    const QVector<KORUHVNode *> afterRemoval = window->getGroups().at(0);
    for (KORUHVNode *n : afterRemoval)
        EXPECT_FALSE(n->getSysHandle() == a->getSystemHandle() && n->getBdSlotNr() == 1);

    const int handleA = a->getSystemHandle();
    window->disconnectFromSystem(0);
    ASSERT_EQ(window->getGroups().size(), 1);
    EXPECT_EQ(window->getGroups()[0].size(), 12) << "only HV2's six members stay";
    const QVector<KORUHVNode *> afterDisconnection = window->getGroups().at(0);
    for (KORUHVNode *n : afterDisconnection)
        EXPECT_NE(n->getSysHandle(), handleA);

    /* Writing the group now reaches HV2 only. */
    groupsMenu()->actions()[0]->trigger();
    auto *again = qobject_cast<QSetGroupValueDialog *>(window->customizationsController()->lastDialog());
    ASSERT_TRUE(again);
    again->show();
    auto *spin = again->editor()->findChild<QDoubleSpinBox *>();
    ASSERT_TRUE(spin);
    spin->selectAll();
    QTest::keyClicks(spin, "700");
    fakehv::clearCalls();
    QTest::mouseClick(again->buttons()->button(QDialogButtonBox::Ok), Qt::LeftButton);
    EXPECT_EQ(fakehv::callsOf("KORUHV_SetChParam").size(), 6u);

    /* The last member system goes: no empty group stays, the menu empties. */
    window->disconnectFromSystem(0);
    EXPECT_TRUE(window->getGroups().isEmpty());
    EXPECT_TRUE(groupsMenu()->actions().isEmpty());
    EXPECT_FALSE(groupsMenu()->isEnabled());
}

TEST_F(GroupsShellTest, ABoardInsertedBesideTheMembersKeepsTheValueDialogOpen)
{
    ModalAnswerer answer(clickButton());
    QSystemInterface *a = connectCrate(QStringLiteral("10.0.0.1"), QStringLiteral("HV1"));
    ASSERT_TRUE(a);
    makeGroupThroughTheMenu(QStringLiteral("All"));
    ASSERT_EQ(window->getGroups().size(), 1);
    groupsMenu()->actions()[0]->trigger();
    QPointer<QSetGroupValueDialog> value =
        qobject_cast<QSetGroupValueDialog *>(window->customizationsController()->lastDialog());
    ASSERT_TRUE(value);
    value->show();

    /* A board goes into the empty slot 5 of the same crate. */
    fakehv::System &script = fakehv::system(a->getSystemHandle());
    fakehv::Board &inserted = script.addBoard(5, 2, "A1535", 105u);
    for (auto &ch : inserted.channels)
        ch.params.push_back(
            {"V0Set", param(0, 2, fakehv::Raw::f32(10.f),
                            {{"Minval", fakehv::Raw::f32(0.f)}, {"Maxval", fakehv::Raw::f32(3000.f)}})});
    window->handleEventLiveInsertion(a, true, true, a->getSerial());
    ASSERT_EQ(a->getSystemNode()->getChildren()[5]->getNodeType(), NODE_BOARD);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    ASSERT_FALSE(value.isNull()) << "its members are all still there";
    EXPECT_TRUE(value->isVisible());

    auto *spin = value->editor()->findChild<QDoubleSpinBox *>();
    ASSERT_TRUE(spin);
    spin->setFocus();
    spin->selectAll();
    QTest::keyClicks(spin, "800");
    fakehv::clearCalls();
    QTest::mouseClick(value->buttons()->button(QDialogButtonBox::Ok), Qt::LeftButton);
    EXPECT_EQ(fakehv::callsOf("KORUHV_SetChParam").size(), 6u) << "the six members, nothing else";
}

TEST_F(GroupsShellTest, TheCustomViewLosesASystemOnItsDisconnection)
{
    ModalAnswerer answer(clickButton());
    QSystemInterface *a = connectCrate(QStringLiteral("10.0.0.1"), QStringLiteral("HV1"), 2, 2);
    QSystemInterface *b = connectCrate(QStringLiteral("10.0.0.2"), QStringLiteral("HV2"), 1, 2);
    ASSERT_TRUE(a && b);
    KORUHVNode *rootB = b->getSystemNode();

    window->getUi()->menuCustomView->trigger();
    auto *dialog = qobject_cast<QCustomViewDialog *>(window->customizationsController()->lastDialog());
    ASSERT_TRUE(dialog);
    dialog->show();
    QTreeWidget *tree = dialog->sourceTree();
    ASSERT_EQ(tree->topLevelItemCount(), 2);
    clickItem(tree, tree->topLevelItem(0));
    clickItem(tree, tree->topLevelItem(1));
    for (QPushButton *p : dialog->findChildren<QPushButton *>())
        if (p->text() == QLatin1String(" Check all parameters "))
            QTest::mouseClick(p, Qt::LeftButton);
    QTest::mouseClick(dialog->buttons()->button(QDialogButtonBox::Ok), Qt::LeftButton);

    ASSERT_EQ(window->hasCustomView(), 2);
    QSystemInterface *cv = window->getSysInterfaceVector()[2];
    EXPECT_TRUE(cv->getIsCustomView());
    EXPECT_EQ(cv->getSysName(), QStringLiteral("CustomView"));
    KORUHVNode *root = cv->getSystemNode();
    ASSERT_TRUE(root);
    EXPECT_EQ(root->getNodeType(), NODE_GROUP);
    EXPECT_EQ(root->getChildren(), QVector<KORUHVNode *>({a->getSystemNode(), rootB}));
    ASSERT_TRUE(cv->getSystemSubwinWidget());
    EXPECT_TRUE(cv->getSystemSubwinWidget()->isCustomMode());
    QCustomTableWidget *table = cv->getSystemSubwinWidget()->getTableWidget();
    ASSERT_TRUE(table);
    const int rowsBefore = table->rowCount();

    /* A board shown in the view leaves its slot: the view's table follows. */
    fakehv::System &script = fakehv::system(a->getSystemHandle());
    script.crate[1].channelCount = 0;
    script.crate[1].channels.clear();
    window->handleEventLiveInsertion(a, true, true, a->getSerial());
    ASSERT_EQ(a->getSystemNode()->getChildren()[1]->getNodeType(), NODE_GROUP);
    EXPECT_LT(table->rowCount(), rowsBefore);

    window->disconnectFromSystem(0);
    ASSERT_EQ(window->getSysInterfaceVector().size(), 2);
    ASSERT_EQ(window->hasCustomView(), 1);
    EXPECT_EQ(cv->getSystemNode()->getChildren(), QVector<KORUHVNode *>({rootB}));
    /* Its Configure button opens the custom view dialog again, on HV2 alone. */
    emit cv->clickedExtraButton(cv->getWidgetIndex());
    auto *reopened = qobject_cast<QCustomViewDialog *>(window->customizationsController()->lastDialog());
    ASSERT_TRUE(reopened);
    EXPECT_EQ(reopened->sourceTree()->topLevelItemCount(), 1);
    reopened->close();

    window->disconnectFromSystem(0);
    ASSERT_EQ(window->hasCustomView(), 0);
    EXPECT_TRUE(window->getSysInterfaceVector()[0]->getSystemNode()->getChildren().isEmpty());
}

TEST_F(GroupsShellTest, AShownWindowWithAGroupAndACustomViewIsDestroyedCleanly)
{
    window->show();
    ASSERT_TRUE(connectCrate(QStringLiteral("10.0.0.1"), QStringLiteral("HV1")));
    makeGroupThroughTheMenu(QStringLiteral("G"));
    window->customViewCreationDialogCallback();
    ASSERT_EQ(window->hasCustomView(), 1);
    ASSERT_TRUE(connectCrate(QStringLiteral("10.0.0.2"), QStringLiteral("HV2")));
    /* TearDown deletes the shown window: systems, view and group go in turn. */
}
