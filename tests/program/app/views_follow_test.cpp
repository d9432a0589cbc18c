/* The pieces that show a system stay with that system: widget indexes with
 * the custom view among the systems, the BOARDS page across rebuilds, a
 * W38XX group's status bar across a hand-over, and the table's view mode
 * across rebuilds and loaded customizations. Fake wrapper, real widgets. */
#include "KORUHVConfig.h"
#include "KORUHVNode.h"
#include "KORUHVUtils.h"
#include "MainWindowUi.h"
#include "QBoardInformations.h"
#include "QCollapsibleWidget.h"
#include "QCustomBox.h"
#include "QCustomTableWidget.h"
#include "QSubWindow.h"
#include "QSystemStatusBar.h"
#include "shell_fixture.h"

#include <QComboBox>
#include <QHeaderView>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPushButton>
#include <QStackedWidget>
#include <QTest>

namespace {

fakehv::System vmeBoard()
{
    fakehv::System s;
    fakehv::Board &b = s.addBoard(0, 1, "V1", 1);
    b.params.push_back({"BdStatus", {3, 0, fakehv::Raw::u32(0)}});
    b.channels[0].params.push_back({"VMon", {0, 0, fakehv::Raw::f32(0.f)}});
    b.channels[0].params.push_back({"Status", {2, 0, fakehv::Raw::u32(0)}});
    return s;
}

/* Every channel and channel parameter of the tree chosen for the custom view. */
void chooseAllForCustomView(KORUHVNode *systemNode)
{
    for (KORUHVNode *board : systemNode->getChildren())
        for (KORUHVNode *ch : board->getChildren()) {
            ch->setEnabledInCustomView(true);
            for (KORUHVNode *p : ch->getParameters())
                p->setEnabledInCustomView(true);
        }
}

} // namespace

class ViewsFollow : public ShellTest {
protected:
    void SetUp() override
    {
        ShellTest::SetUp();
        window->resize(1200, 800);
        window->show();
    }
    QSystemInterface *at(int i) const { return window->getSysInterfaceVector().value(i); }
    QSystemInterface *customView() const { return at(window->hasCustomView()); }
    int connectBoard(const char *init, const char *board)
    {
        fakehv::queueInit(vmeBoard());
        return window->connectSystem(5, 4, QLatin1String(init), QStringLiteral("VME"), QLatin1String(board),
                                     QString());
    }
    void createCustomView()
    {
        for (QSystemInterface *s : window->getSysInterfaceVector())
            if (s->getIsMainInterface())
                chooseAllForCustomView(s->getSystemNode());
        window->customViewCreationDialogCallback();
    }
    /* The boxes of the SYSTEM list, row by row. */
    QVector<QWidget *> rowHeaders() const
    {
        QVector<QWidget *> out;
        QCollapsibleWidget *list = window->systemList();
        for (int i = 0; i < list->topLevelItemCount(); ++i)
            out.append(list->itemWidget(list->topLevelItem(i), 0));
        return out;
    }
    QWidget *activeView() const
    {
        QMdiSubWindow *sub = window->getUi()->viewsArea->activeSubWindow();
        return sub ? sub->widget() : nullptr;
    }
    QWidget *shownBoardPage() const { return window->getUi()->stackedWidgetRight->currentWidget(); }
    static QWidget *pageOf(QSystemInterface *s)
    {
        return s->getBoardInfoWidget() ? s->getBoardInfoWidget()->getInternalWidget() : nullptr;
    }
    /* The operator clicks the system's box in the SYSTEM dock. */
    static void clickBox(QSystemInterface *s) { QTest::mouseClick(s->getSystemBoxWidget(), Qt::LeftButton); }
};

/* ---------------------------------------------- widget indexes, custom view */

TEST_F(ViewsFollow, ASystemConnectedAfterTheCustomViewGetsAnIndexOfItsOwn)
{
    ASSERT_EQ(connect(QStringLiteral("10.0.0.1"), QStringLiteral("A")), 0);
    ASSERT_EQ(connect(QStringLiteral("10.0.0.2"), QStringLiteral("B")), 0);
    createCustomView();
    QSystemInterface *cv = customView();
    ASSERT_TRUE(cv);
    EXPECT_EQ(cv->getWidgetIndex(), 2);
    ASSERT_EQ(connect(QStringLiteral("10.0.0.3"), QStringLiteral("C")), 0);
    QSystemInterface *c = at(3);
    EXPECT_EQ(c->getWidgetIndex(), 3);
    EXPECT_EQ(c->getSystemBoxWidget()->getWidgetIdx(), 3);
    EXPECT_EQ(c->getSystemSubwinWidget()->getWidgetIdx(), 3);

    /* Its box brings up its own table and board page, the custom view's box
     * the custom view's. */
    clickBox(cv);
    EXPECT_EQ(activeView(), cv->getSystemSubwinWidget());
    EXPECT_EQ(shownBoardPage(), pageOf(cv));
    clickBox(c);
    EXPECT_EQ(activeView(), c->getSystemSubwinWidget());
    EXPECT_EQ(shownBoardPage(), pageOf(c));

    /* Disconnecting it leaves no empty row and keeps the others' rows. */
    const QVector<QWidget *> before = {at(0)->getSystemBoxWidget(), at(1)->getSystemBoxWidget(),
                                       cv->getSystemBoxWidget()};
    QTest::mouseClick(c->getSystemBoxWidget()->findChild<QPushButton *>(QStringLiteral("disconnectButton")),
                      Qt::LeftButton);
    ASSERT_EQ(window->getSysInterfaceVector().size(), 3);
    EXPECT_EQ(rowHeaders(), before);
    EXPECT_EQ(window->getUi()->viewsArea->subWindowList().size(), 3);
}

TEST_F(ViewsFollow, RenumberingAfterADisconnectionIncludesTheCustomView)
{
    ASSERT_EQ(connect(QStringLiteral("10.0.0.1"), QStringLiteral("A")), 0);
    ASSERT_EQ(connect(QStringLiteral("10.0.0.2"), QStringLiteral("B")), 0);
    createCustomView();
    QSystemInterface *b = at(1);
    QSystemInterface *cv = customView();
    window->disconnectFromSystem(0);
    ASSERT_EQ(window->getSysInterfaceVector().size(), 2);
    EXPECT_EQ(b->getWidgetIndex(), 0);
    EXPECT_EQ(cv->getWidgetIndex(), 1);
    EXPECT_EQ(cv->getSystemBoxWidget()->getWidgetIdx(), 1);
    EXPECT_EQ(cv->getSystemSubwinWidget()->getWidgetIdx(), 1);
    clickBox(b);
    clickBox(cv);
    EXPECT_EQ(activeView(), cv->getSystemSubwinWidget());
    EXPECT_EQ(shownBoardPage(), pageOf(cv));

    /* "Delete" takes the custom view's row and view away. */
    QPushButton *remove =
        cv->getSystemBoxWidget()->findChild<QPushButton *>(QStringLiteral("disconnectButton"));
    ASSERT_TRUE(remove);
    EXPECT_EQ(remove->text(), QStringLiteral("Delete"));
    QTest::mouseClick(remove, Qt::LeftButton);
    EXPECT_EQ(window->hasCustomView(), -1);
    EXPECT_EQ(rowHeaders(), QVector<QWidget *>{b->getSystemBoxWidget()});
    ASSERT_EQ(window->getUi()->viewsArea->subWindowList().size(), 1);
    EXPECT_EQ(window->getUi()->viewsArea->subWindowList()[0]->widget(), b->getSystemSubwinWidget());
}

TEST_F(ViewsFollow, AConnectionAppliesTheCustomViewsChoicesAgain)
{
    ASSERT_EQ(connect(QStringLiteral("10.0.0.1"), QStringLiteral("A")), 0);
    createCustomView();
    QSystemInterface *cv = customView();
    QTableWidget *table = cv->getSystemSubwinWidget()->getTableWidget();
    ASSERT_EQ(table->rowCount(), 2);
    EXPECT_FALSE(table->isRowHidden(1));
    /* A choice changed on the nodes since the view was last applied. */
    at(0)->getSystemNode()->getChildren()[0]->getChildren()[1]->setEnabledInCustomView(false);
    ASSERT_EQ(connect(QStringLiteral("10.0.0.2"), QStringLiteral("B")), 0);
    /* The new system does not join the view; the choice shows. */
    EXPECT_EQ(table->rowCount(), 2);
    EXPECT_FALSE(table->isRowHidden(0));
    EXPECT_TRUE(table->isRowHidden(1));
    EXPECT_EQ(cv->getSystemNode()->getChildren().size(), 1);
}

/* ---------------------------------------------- the BOARDS page stays */

enum class Rebuild { LiveInsertion, FurtherBoardLeaves, MainBoardLeaves };

class BoardPageStays : public ViewsFollow, public ::testing::WithParamInterface<Rebuild> {};

TEST_P(BoardPageStays, TheRebuiltPageStaysShownAndAnUnshownOneStaysHidden)
{
    const Rebuild rebuild = GetParam();
    if (rebuild == Rebuild::LiveInsertion) {
        ASSERT_EQ(connect(QStringLiteral("10.0.0.1"), QStringLiteral("A")), 0);
    } else {
        ASSERT_EQ(connectBoard("0_1_8000", "A"), 0);
        ASSERT_EQ(connectBoard("0_1_9000", "B"), 0);
    }
    ASSERT_EQ(connect(QStringLiteral("10.0.0.9"), QStringLiteral("Other")), 0);
    QSystemInterface *other = window->getSysInterfaceVector().last();
    QSystemInterface *first = at(0);

    const auto rebuildFirst = [&] {
        switch (rebuild) {
        case Rebuild::LiveInsertion: {
            fakehv::Board &b = fakehv::system(first->getSystemHandle()).addBoard(5, 1, "HB3001", 9);
            b.channels[0].params.push_back({"VMon", {0, 0, fakehv::Raw::f32(0.f)}});
            window->handleEventLiveInsertion(first, true, true, first->getSerial());
            return first;
        }
        case Rebuild::FurtherBoardLeaves:
            window->disconnectDialogCallback(1);
            return first;
        case Rebuild::MainBoardLeaves:
            window->disconnectDialogCallback(0);
            return at(0);
        }
        return first;
    };

    /* The other system shown: it stays shown. */
    if (rebuild == Rebuild::LiveInsertion) {
        clickBox(other);
        ASSERT_EQ(shownBoardPage(), pageOf(other));
        fakehv::Board &b = fakehv::system(first->getSystemHandle()).addBoard(3, 1, "HB3001", 8);
        b.channels[0].params.push_back({"VMon", {0, 0, fakehv::Raw::f32(0.f)}});
        window->handleEventLiveInsertion(first, true, true, first->getSerial());
        EXPECT_EQ(shownBoardPage(), pageOf(other));
    }

    clickBox(first);
    ASSERT_EQ(shownBoardPage(), pageOf(first));
    QSystemInterface *shown = rebuildFirst();
    ASSERT_TRUE(pageOf(shown));
    EXPECT_EQ(shownBoardPage(), pageOf(shown));
    EXPECT_NE(shownBoardPage(), pageOf(other));
    EXPECT_EQ(window->getUi()->stackedWidgetRight->count(), 2);
    /* Both stay reachable through their boxes. */
    clickBox(other);
    EXPECT_EQ(shownBoardPage(), pageOf(other));
    QTest::qWait(20);
    clickBox(shown);
    EXPECT_EQ(shownBoardPage(), pageOf(shown));
    QTest::qWait(20);
}

INSTANTIATE_TEST_SUITE_P(Rebuilds, BoardPageStays,
                         ::testing::Values(Rebuild::LiveInsertion, Rebuild::FurtherBoardLeaves,
                                           Rebuild::MainBoardLeaves));

/* ---------------------------------------------- W38XX status bar */

TEST_F(ViewsFollow, TheGroupsStatusBarPassesToTheNextBoard)
{
    ASSERT_EQ(connectBoard("0_1_8000", "A"), 0);
    ASSERT_EQ(connectBoard("0_1_9000", "B"), 0);
    ASSERT_EQ(connectBoard("0_1_a000", "C"), 0);
    QSystemStatusBar *bar = at(0)->getSystemStatusBarWidget();
    ASSERT_TRUE(bar);
    EXPECT_EQ(window->statusBar(), bar);
    window->disconnectDialogCallback(0);
    QSystemInterface *next = at(0);
    ASSERT_TRUE(next->getIsMainInterface());
    ASSERT_EQ(next->getSystemStatusBarWidget(), bar);
    EXPECT_EQ(window->findChild<QStatusBar *>(QString(), Qt::FindDirectChildrenOnly), bar);
    EXPECT_EQ(bar->connStatText(), QStringLiteral("CONNECTED"));
    EXPECT_EQ(bar->sysNameText(), QStringLiteral("VME HV Crate"));
    /* Event lights and state words reach it. */
    KORUHV_SYSTEMSTATUS_t status{};
    status.System = 2;
    window->handleSystemEvStatus(next, status, next->getSerial());
    EXPECT_EQ(bar->ledPicture(2), QStringLiteral(":/Resources/buttons/led_err_mid.png"));
    window->handleTransparentMode(next, next->getSerial());
    EXPECT_EQ(bar->connStatText(), QStringLiteral("TRANSPARENT MODE ACTIVE"));
    /* The last boards go with it without a fault. */
    window->disconnectDialogCallback(1);
    window->disconnectDialogCallback(0);
    EXPECT_TRUE(window->getSysInterfaceVector().isEmpty());
}

/* ---------------------------------------------- view modes stay */

enum class ModeChange { LiveInsertion, BoardJoins, BoardLeaves, LoadedCustomization };

struct ModeCase {
    ModeChange change;
    const char *mode;
};

class ViewModeStays : public ViewsFollow, public ::testing::WithParamInterface<ModeCase> {};

TEST_P(ViewModeStays, TheTableKeepsTheOperatorsModeAndTheComboReadsIt)
{
    const ModeCase c = GetParam();
    const bool vme = c.change == ModeChange::BoardJoins || c.change == ModeChange::BoardLeaves;
    if (vme) {
        ASSERT_EQ(connectBoard("0_1_8000", "A"), 0);
        if (c.change == ModeChange::BoardLeaves) {
            ASSERT_EQ(connectBoard("0_1_9000", "B"), 0);
        }
    } else {
        ASSERT_EQ(connect(QStringLiteral("10.0.0.1"), QStringLiteral("A")), 0);
    }
    QSystemInterface *s = at(0);
    QSubWindow *view = s->getSystemSubwinWidget();
    QComboBox *combo = view->getViewModeCombo();
    ASSERT_TRUE(combo);
    /* The system's own choices hide a column that Custom would not show. */
    const auto hideVMonInCustom = [&] {
        for (KORUHVNode *board : s->getSystemNode()->getChildren())
            for (KORUHVNode *ch : board->getChildren())
                for (KORUHVNode *p : ch->getParameters())
                    if (p->getNodeName() == QLatin1String("VMon"))
                        p->setNodeEnabled(false);
    };
    hideVMonInCustom();
    /* The operator picks the mode in the corner combo. */
    combo->setCurrentText(QLatin1String(c.mode));
    const int mode = combo->currentIndex();
    ASSERT_EQ(view->getViewMode(), mode);

    switch (c.change) {
    case ModeChange::LiveInsertion: {
        fakehv::Board &b = fakehv::system(s->getSystemHandle()).addBoard(5, 1, "HB3001", 9);
        b.channels[0].params.push_back({"VMon", {0, 0, fakehv::Raw::f32(0.f)}});
        window->handleEventLiveInsertion(s, true, true, s->getSerial());
        break;
    }
    case ModeChange::BoardJoins:
        ASSERT_EQ(connectBoard("0_1_9000", "B"), 0);
        break;
    case ModeChange::BoardLeaves:
        window->disconnectDialogCallback(1);
        break;
    case ModeChange::LoadedCustomization: {
        auto *hash = new QMultiHash<QString, QVariant>(
            KORUHVUtils::KORUHVCreateHashFromNodeVector(s->getSystemNode(), true, false));
        window->loadCustomizedViewCallback({hash}, {QStringLiteral("admin")}, {QStringLiteral("pw")}, false);
        break;
    }
    }
    ASSERT_EQ(s->getSystemSubwinWidget(), view);
    EXPECT_EQ(view->getViewMode(), mode);
    EXPECT_EQ(combo->currentIndex(), mode);
    const int vmon = [&] {
        for (int col = 0; col < view->getTableWidget()->columnCount(); ++col)
            if (view->getTableWidget()->horizontalHeaderItem(col)->text() == QLatin1String("VMon"))
                return col;
        return -1;
    }();
    ASSERT_GE(vmon, 0);
    EXPECT_FALSE(view->getTableWidget()->isColumnHidden(vmon)); /* Full and Minimal both show VMon */

    /* Custom picked by the operator applies the choices at once. */
    hideVMonInCustom();
    combo->setCurrentText(QStringLiteral("Custom"));
    EXPECT_EQ(view->getViewMode(), 2);
    EXPECT_TRUE(view->getTableWidget()->isColumnHidden(vmon));
}

INSTANTIATE_TEST_SUITE_P(Changes, ViewModeStays,
                         ::testing::Values(ModeCase{ModeChange::LiveInsertion, "Full"},
                                           ModeCase{ModeChange::LiveInsertion, "Minimal"},
                                           ModeCase{ModeChange::BoardJoins, "Full"},
                                           ModeCase{ModeChange::BoardJoins, "Minimal"},
                                           ModeCase{ModeChange::BoardLeaves, "Full"},
                                           ModeCase{ModeChange::BoardLeaves, "Minimal"},
                                           ModeCase{ModeChange::LoadedCustomization, "Full"},
                                           ModeCase{ModeChange::LoadedCustomization, "Minimal"}));

TEST_F(ViewsFollow, CustomIsAppliedAgainWhereItIsShown)
{
    ASSERT_EQ(connect(QStringLiteral("10.0.0.1"), QStringLiteral("A")), 0);
    QSystemInterface *s = at(0);
    QSubWindow *view = s->getSystemSubwinWidget();
    ASSERT_EQ(view->getViewModeCombo()->currentText(), QStringLiteral("Custom"));
    KORUHVNode *ch1 = s->getSystemNode()->getChildren()[0]->getChildren()[1];
    ch1->setNodeEnabled(false);
    fakehv::Board &b = fakehv::system(s->getSystemHandle()).addBoard(5, 1, "HB3001", 9);
    b.channels[0].params.push_back({"VMon", {0, 0, fakehv::Raw::f32(0.f)}});
    window->handleEventLiveInsertion(s, true, true, s->getSerial());
    EXPECT_EQ(view->getViewMode(), 2);
    EXPECT_EQ(view->getViewModeCombo()->currentText(), QStringLiteral("Custom"));
    EXPECT_TRUE(view->getTableWidget()->isRowHidden(1));
    EXPECT_FALSE(view->getTableWidget()->isRowHidden(0));
}
