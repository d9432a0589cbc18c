/* A set group over two crate simulators, end to end: made through the
 * Groups menu of the real main window, written once, arriving on every
 * member of both crates. */
/* First: the simulator's headers use words that Qt defines as macros. */
#include "crate/crate_sim.h"
#include "crate/crate_transport.h"

namespace {
/* Four slots, slot 0 a six-channel HV board (V0Set in tenths of a volt).
 * Here, before Qt's headers make "slots" a macro. */
korusim::CrateModel sixChannelCrate()
{
    korusim::CrateModel m = korusim::CrateModel::smallCrate();
    for (auto &slot : m.slots)
        slot.reset();
    m.slots[0] = korusim::hvBoard("HB3006", 6, 21);
    return m;
}
} // namespace

#include "KORUHVEventServer.h"
#include "KORUHVNode.h"
#include "KORUHVWidgetItem.h"
#include "MainWindow.h"
#include "MainWindowUi.h"
#include "QCreateSetGroupsDialog.h"
#include "QSetGroupValueDialog.h"
#include "app_test_support.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <memory>

namespace {

class GroupsSimShell : public ::testing::Test {
protected:
    void SetUp() override
    {
        env = std::make_unique<ShellTestEnvironment>();
        startTestEventServer();
        first = std::make_unique<korusim::CrateSim>(sixChannelCrate(), "127.0.0.2", 0);
        ASSERT_TRUE(first->start()) << first->errorText();
        /* One port for both: the transport's test hook moves the port only. */
        second = std::make_unique<korusim::CrateSim>(sixChannelCrate(), "127.0.0.3", first->port());
        ASSERT_TRUE(second->start()) << second->errorText();
        koruhv::CrateTransport_SetPortForTest(first->port());
        window = new MainWindow;
    }
    void TearDown() override
    {
        for (QWidget *w : QApplication::topLevelWidgets())
            if (qobject_cast<QDialog *>(w) && w->isVisible())
                w->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        stopEventServer();
        delete window;
        for (auto *sim : {first.get(), second.get()})
            if (sim)
                sim->stop();
        koruhv::CrateTransport_SetPortForTest(0);
        env.reset();
    }
    bool connectCrate(const char *address, const char *name)
    {
        ModalAnswerer answer(clickButton());
        const int before = window->getSysInterfaceVector().size();
        window->connectDialogCallback(2, 0, QLatin1String(address), QLatin1String(name),
                                      QStringLiteral("admin"), QStringLiteral("admin"));
        return window->getSysInterfaceVector().size() == before + 1;
    }
    static void clickItem(QTreeWidget *tree, QTreeWidgetItem *item)
    {
        for (QTreeWidgetItem *up = item->parent(); up; up = up->parent())
            up->setExpanded(true);
        tree->scrollToItem(item);
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualItemRect(item).center());
    }

    std::unique_ptr<ShellTestEnvironment> env;
    std::unique_ptr<korusim::CrateSim> first, second;
    MainWindow *window = nullptr;
};

} // namespace

TEST_F(GroupsSimShell, ATwelveMemberV0SetGroupWrittenOnceReachesBothCrates)
{
    ASSERT_TRUE(connectCrate("127.0.0.2", "HV1"));
    ASSERT_TRUE(connectCrate("127.0.0.3", "HV2"));

    window->getUi()->menuCreateGroup->trigger();
    auto *create = qobject_cast<QCreateSetGroupsDialog *>(window->customizationsController()->lastDialog());
    ASSERT_TRUE(create);
    create->show();
    QTest::keyClicks(create->nameField(), "Twelve");
    create->parameterCombo()->setCurrentIndex(create->parameterCombo()->findText(QStringLiteral("V0Set")));
    QTreeWidget *tree = create->tree();
    ASSERT_EQ(tree->topLevelItemCount(), 2);
    int ticked = 0;
    for (int s = 0; s < 2; ++s) {
        /* Slot 0 holds the six channels; the empty slots list none. */
        ASSERT_EQ(tree->topLevelItem(s)->child(0)->childCount(), 6);
        for (int b = 0; b < tree->topLevelItem(s)->childCount(); ++b) {
            QTreeWidgetItem *board = tree->topLevelItem(s)->child(b);
            for (int c = 0; c < board->childCount(); ++c, ++ticked)
                clickItem(tree, board->child(c));
        }
    }
    EXPECT_EQ(ticked, 12);
    QTest::mouseClick(create->buttons()->button(QDialogButtonBox::Ok), Qt::LeftButton);
    ASSERT_EQ(window->getGroups().size(), 1);
    ASSERT_EQ(window->getGroups()[0].size(), 24);

    window->getUi()->menuViewGroups->actions().at(0)->trigger();
    auto *value = qobject_cast<QSetGroupValueDialog *>(window->customizationsController()->lastDialog());
    ASSERT_TRUE(value);
    value->show();
    auto *spin = value->editor()->findChild<QDoubleSpinBox *>();
    ASSERT_TRUE(spin);
    spin->selectAll();
    QTest::keyClicks(spin, "1500");
    QTest::mouseClick(value->buttons()->button(QDialogButtonBox::Ok), Qt::LeftButton);

    for (korusim::CrateSim *sim : {first.get(), second.get()})
        for (unsigned c = 0; c < 6; ++c)
            EXPECT_TRUE(waitUntil([&] { return sim->channelRaw(0, c, "V0Set") == 15000u; }))
                << "channel " << c << ": raw " << sim->channelRaw(0, c, "V0Set").value_or(0);
}
