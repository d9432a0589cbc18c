/* What the operator sees follow the systems: the red alarm row of a channel
 * status event (in the system's table and in the custom view), the W38XX
 * disconnect dialog, and the tabbed, tiled and floated views. Fake wrapper,
 * real widgets, events through a real reader thread. */
#include "KORUHVConfig.h"
#include "KORUHVMirrorNode.h"
#include "KORUHVNode.h"
#include "MainWindowUi.h"
#include "QBoardInformations.h"
#include "QCustomBox.h"
#include "QCustomTableWidget.h"
#include "QDisconnectDialog.h"
#include "QFloatingWindow.h"
#include "QSubWindow.h"
#include "QSystemStatusBar.h"
#include "shell_fixture.h"

#include <QDialogButtonBox>
#include <QGroupBox>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QTableWidget>
#include <QTest>

#include <sys/socket.h>
#include <unistd.h>

namespace {

const QColor alarmRed(238, 0, 0);
const QColor evenGrey(238, 238, 238);
const QColor oddGrey(213, 213, 213);

fakehv::System vmeBoard(const char *model)
{
    fakehv::System s;
    fakehv::Board &b = s.addBoard(0, 1, model, 1);
    b.params.push_back({"BdStatus", {3, 0, fakehv::Raw::u32(0)}});
    b.channels[0].params.push_back({"VMon", {0, 0, fakehv::Raw::f32(0.f)}});
    return s;
}

/* The row that shows the node in the window's table: the node itself in a
 * system's table, its mirror in the custom view; -1 when none. */
int rowOf(QSubWindow *view, KORUHVNode *node)
{
    QTableWidget *table = view->getTableWidget();
    if (node->tableWidget() == table)
        return table->row(node);
    KORUHVMirrorNode *mirror = node->getMirrorNode();
    return mirror && mirror->tableWidget() == table ? table->row(mirror) : -1;
}

/* Background of every cell of the row, and text colour of every cell but
 * the "Pw" column's, are the expected ones. */
::testing::AssertionResult rowPainted(QSubWindow *view, int row, const QColor &background, const QColor &text)
{
    QTableWidget *table = view->getTableWidget();
    if (row < 0)
        return ::testing::AssertionFailure() << "no row";
    for (int c = 0; c < table->columnCount(); ++c) {
        QTableWidgetItem *cell = table->item(row, c);
        if (!cell)
            continue;
        if (cell->background().color() != background)
            return ::testing::AssertionFailure() << "row " << row << " column " << c << " background "
                                                 << cell->background().color().name().toStdString();
        const bool pw = table->horizontalHeaderItem(c)->text() == QLatin1String("Pw");
        if (!pw && cell->foreground().color() != text)
            return ::testing::AssertionFailure() << "row " << row << " column " << c << " text "
                                                 << cell->foreground().color().name().toStdString();
    }
    return ::testing::AssertionSuccess();
}

} // namespace

/* ---------------------------------------------- red alarm rows */

class AlarmRows : public ShellTest {
protected:
    void SetUp() override
    {
        ShellTest::SetUp();
        ASSERT_EQ(connect(QStringLiteral("10.0.0.1"), QStringLiteral("Crate"), crate(16, 4)), 0);
        sys = window->getSysInterfaceVector()[0];
        for (KORUHVNode *ch : sys->getSystemNode()->getChildren()[0]->getChildren()) {
            ch->setEnabledInCustomView(true);
            for (KORUHVNode *p : ch->getParameters())
                p->setEnabledInCustomView(true);
        }
        window->customViewCreationDialogCallback();
        ASSERT_GE(window->hasCustomView(), 0);
        int sv[2];
        ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, sv), 0);
        peer = sv[1];
        ASSERT_TRUE(sys->startEventReader(sv[0]));
        fd = sv[0];
    }
    void TearDown() override
    {
        ShellTest::TearDown();
        ::close(peer);
    }
    KORUHVNode *status(int channel) const
    {
        return KORUHVConfig::KORUHVConfigGetNodeFromItemId(sys->getSystemNode(), QStringLiteral("Status"), 0,
                                                           channel);
    }
    /* One batch of channel-status values, waited for. */
    void sendStatuses(const QVector<uint32_t> &values)
    {
        std::vector<EventRecord> batch;
        for (int ch = 0; ch < values.size(); ++ch)
            batch.push_back(fakehv::valueEvent(0, 0, ch, "Status", fakehv::Raw::u32(values[ch])));
        fakehv::queueEvents(fd, batch);
        ASSERT_TRUE(waitUntil(
            [&] {
                for (int ch = 0; ch < values.size(); ++ch)
                    if (status(ch)->getNodeValue().KORUHVGetValue().toUInt() != values[ch])
                        return false;
                return true;
            },
            60000));
    }
    QSystemInterface *sys = nullptr;
    int fd = -1;
    int peer = -1;
};

TEST_F(AlarmRows, AStatusEventPaintsTheRowRedInTheTableAndTheCustomViewAndBack)
{
    struct Case {
        uint32_t value;
        bool alarm;
        const char *why;
    };
    /* Crate channel status words: the alarm bits, and the plain states. */
    const Case cases[] = {
        {8, true, "Ovc"},
        {2, false, "Up"},
        {4 | 64, true, "E-Trp-Dwn"},
        {4, false, "Down"},
    };
    QSubWindow *own = sys->getSystemSubwinWidget();
    QSubWindow *custom = window->getSysInterfaceVector()[window->hasCustomView()]->getSystemSubwinWidget();
    const auto check = [&](const Case *rows, int n) {
        for (int ch = 0; ch < n; ++ch) {
            SCOPED_TRACE(rows[ch].why);
            KORUHVNode *node = status(ch);
            EXPECT_EQ(node->getIsAlarmed(), rows[ch].alarm);
            for (QSubWindow *view : {own, custom}) {
                const int row = rowOf(view, node);
                const QColor background = rows[ch].alarm ? alarmRed : (row % 2 == 0 ? evenGrey : oddGrey);
                EXPECT_TRUE(
                    rowPainted(view, row, background, rows[ch].alarm ? QColor(Qt::white) : QColor(Qt::black)))
                    << (view == own ? "system table" : "custom view");
            }
        }
    };
    sendStatuses({cases[0].value, cases[1].value, cases[2].value, cases[3].value});
    check(cases, 4);
    /* The states turn round: the red rows go back to their grey. */
    const Case turned[] = {cases[1], cases[0], cases[3], cases[2]};
    sendStatuses({turned[0].value, turned[1].value, turned[2].value, turned[3].value});
    check(turned, 4);
}

/* ---------------------------------------------- W38XX disconnect dialog */

class DisconnectDialog : public ShellTest {
protected:
    void SetUp() override
    {
        ShellTest::SetUp();
        window->resize(1000, 700);
        window->show();
        for (const auto &[init, board] : {std::pair{"0_1_8000", "A"}, {"0_1_9000", "B"}, {"0_1_a000", "C"}}) {
            fakehv::queueInit(vmeBoard("V1"));
            ASSERT_EQ(window->connectSystem(5, 4, QLatin1String(init), QStringLiteral("VME"),
                                            QLatin1String(board), QString()),
                      0);
        }
        for (QSystemInterface *s : window->getSysInterfaceVector())
            handles.append(s->getSystemHandle());
    }
    QDisconnectDialog *open()
    {
        QPushButton *button =
            window->getSysInterfaceVector()[0]->getSystemBoxWidget()->findChild<QPushButton *>(
                QStringLiteral("disconnectButton"));
        QTest::mouseClick(button, Qt::LeftButton);
        return window->findChild<QDisconnectDialog *>();
    }
    static QList<QRadioButton *> radios(QDisconnectDialog *d) { return d->findChildren<QRadioButton *>(); }
    static QPushButton *ok(QDisconnectDialog *d)
    {
        return d->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok);
    }
    QVector<int> handles;
};

TEST_F(DisconnectDialog, OffersEveryBoardAndOkWaitsForAChoice)
{
    fakehv::clearCalls();
    QDisconnectDialog *d = open();
    ASSERT_TRUE(d);
    EXPECT_TRUE(d->isVisible());
    EXPECT_FALSE(d->isModal());
    EXPECT_EQ(window->getSysInterfaceVector().size(), 3); /* nothing removed yet */
    QStringList texts;
    QVector<int> idx;
    for (QRadioButton *r : radios(d)) {
        texts << r->text();
        idx << r->property("idx").toInt();
        EXPECT_FALSE(r->isChecked());
    }
    EXPECT_EQ(texts, (QStringList{QStringLiteral("All boards"), QStringLiteral("VME - V1 -  - [0x8000]"),
                                  QStringLiteral("VME - V1 -  - [0x9000]"),
                                  QStringLiteral("VME - V1 -  - [0xa000]")}));
    EXPECT_EQ(idx, (QVector<int>{-1, 0, 1, 2}));
    EXPECT_EQ(d->findChild<QGroupBox *>(QStringLiteral("views"))->title(), QStringLiteral("Views"));
    EXPECT_FALSE(ok(d)->isEnabled());
    QTest::mouseClick(radios(d)[2], Qt::LeftButton);
    EXPECT_TRUE(ok(d)->isEnabled());
    EXPECT_TRUE(radios(d)[2]->isChecked());

    /* Cancel removes nothing. */
    QPointer<QDisconnectDialog> gone(d);
    QTest::mouseClick(d->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Cancel), Qt::LeftButton);
    EXPECT_TRUE(waitUntil([&] { return gone.isNull(); }));
    EXPECT_EQ(window->getSysInterfaceVector().size(), 3);
    EXPECT_TRUE(fakehv::callsOf("KORUHV_DeinitSystem").empty());
}

TEST_F(DisconnectDialog, OneBoardGoesAlone)
{
    QDisconnectDialog *d = open();
    ASSERT_TRUE(d);
    fakehv::clearCalls();
    QTest::mouseClick(radios(d)[2], Qt::LeftButton); /* B */
    QTest::mouseClick(ok(d), Qt::LeftButton);
    const auto deinit = fakehv::callsOf("KORUHV_DeinitSystem");
    ASSERT_EQ(deinit.size(), 1u);
    EXPECT_EQ(deinit[0].handle, handles[1]);
    ASSERT_EQ(window->getSysInterfaceVector().size(), 2);
    EXPECT_EQ(window->getSysInterfaceVector()[0]->getSystemNode()->getChildren().size(), 2);
}

TEST_F(DisconnectDialog, AllBoardsGoFromTheLastToTheFirst)
{
    QDisconnectDialog *d = open();
    ASSERT_TRUE(d);
    QPointer<QDisconnectDialog> gone(d);
    fakehv::clearCalls();
    QTest::mouseClick(radios(d)[0], Qt::LeftButton);
    QTest::mouseClick(ok(d), Qt::LeftButton);
    QVector<int> order;
    for (const auto &c : fakehv::callsOf("KORUHV_DeinitSystem"))
        order.append(c.handle);
    EXPECT_EQ(order, (QVector<int>{handles[2], handles[1], handles[0]}));
    EXPECT_TRUE(window->getSysInterfaceVector().isEmpty());
    EXPECT_TRUE(waitUntil([&] { return gone.isNull(); }));
    EXPECT_TRUE(window->getUi()->viewsArea->subWindowList().isEmpty());
    EXPECT_EQ(window->getUi()->stackedWidgetRight->count(), 0);
}

/* ---------------------------------------------- tabbed, tiled, floated */

class ViewModes : public ShellTest {
protected:
    void SetUp() override
    {
        ShellTest::SetUp();
        window->resize(1200, 800);
        window->show();
        for (const char *name : {"A", "B", "C"})
            ASSERT_EQ(connect(QStringLiteral("10.0.0.%1").arg(name[0] - 'A' + 1), QLatin1String(name)), 0);
    }
    QSystemInterface *at(int i) const { return window->getSysInterfaceVector().value(i); }
    QMdiArea *area() const { return window->getUi()->viewsArea; }
    QList<QFloatingWindow *> floats() const
    {
        return window->findChildren<QFloatingWindow *>(QString(), Qt::FindDirectChildrenOnly);
    }
    QWidget *shownBoardPage() const { return window->getUi()->stackedWidgetRight->currentWidget(); }
    QVector<bool> checkedModes() const
    {
        const Ui_MainWindow *ui = window->getUi();
        return {ui->menuTab->isChecked(), ui->menuTile->isChecked(), ui->menuFloat->isChecked()};
    }
    /* The views' windows in the order of their systems. */
    QVector<QWidget *> views() const
    {
        QVector<QWidget *> out;
        for (QSystemInterface *s : window->getSysInterfaceVector())
            out.append(s->getSystemSubwinWidget());
        return out;
    }
    QVector<QWidget *> viewsInArea() const
    {
        QVector<QWidget *> out;
        for (QMdiSubWindow *sub : area()->subWindowList(QMdiArea::CreationOrder))
            out.append(sub->widget());
        return out;
    }
    QVector<QWidget *> viewsFloating() const
    {
        QVector<QWidget *> out;
        for (QFloatingWindow *f : floats())
            out.append(f->centralWidget());
        return out;
    }
};

TEST_F(ViewModes, FloatedViewsGoBackTabbedOrTiled)
{
    struct Case {
        bool tabbed;
        QMdiArea::ViewMode mode;
        QVector<bool> checked;
        bool maximized;
    };
    const Case cases[] = {
        {true, QMdiArea::TabbedView, {true, false, false}, true},
        {false, QMdiArea::SubWindowView, {false, true, false}, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.mode == QMdiArea::TabbedView ? "tabbed" : "tiled");
        window->floatMdiAreaViews();
        EXPECT_EQ(checkedModes(), (QVector<bool>{false, false, true}));
        EXPECT_TRUE(area()->subWindowList().isEmpty());
        EXPECT_EQ(viewsFloating(), views());
        for (int i = 0; i < floats().size(); ++i) {
            EXPECT_EQ(floats()[i]->getWidgetIndex(), i);
            EXPECT_TRUE(floats()[i]->isVisible());
            EXPECT_EQ(floats()[i]->windowTitle(), at(i)->getSystemNode()->getNodeName());
        }
        if (c.tabbed)
            window->tabMdiAreaViews();
        else
            window->tileMdiAreaViews();
        EXPECT_EQ(checkedModes(), c.checked);
        EXPECT_EQ(area()->viewMode(), c.mode);
        EXPECT_TRUE(floats().isEmpty());
        EXPECT_EQ(viewsInArea(), views());
        for (QMdiSubWindow *sub : area()->subWindowList())
            EXPECT_TRUE(sub->widget()->isVisibleTo(window));
        if (c.maximized) {
            /* Tabbed: the current tab fills the area. */
            ASSERT_TRUE(area()->activeSubWindow());
            EXPECT_TRUE(area()->activeSubWindow()->geometry().contains(area()->viewport()->rect()));
        } else {
            /* Tiled: side by side, none hidden behind another. */
            const QList<QMdiSubWindow *> subs = area()->subWindowList();
            for (int i = 0; i < subs.size(); ++i) {
                EXPECT_FALSE(subs[i]->geometry().isEmpty());
                for (int j = i + 1; j < subs.size(); ++j)
                    EXPECT_FALSE(subs[i]->geometry().intersects(subs[j]->geometry()));
            }
        }
    }
}

TEST_F(ViewModes, FloatingWindowsFollowClicksStayOpenAndRenumber)
{
    window->floatMdiAreaViews();
    ASSERT_EQ(floats().size(), 3);
    /* A click on the middle system's box raises its window and shows its page. */
    QTest::mouseClick(at(1)->getSystemBoxWidget(), Qt::LeftButton);
    EXPECT_TRUE(floats()[1]->windowState() & Qt::WindowActive);
    EXPECT_EQ(shownBoardPage(), at(1)->getBoardInfoWidget()->getInternalWidget());
    EXPECT_TRUE(at(1)->getSystemBoxWidget()->getIsSelected());
    EXPECT_FALSE(at(0)->getSystemBoxWidget()->getIsSelected());
    /* Its title bar's close button does nothing. */
    floats()[1]->close();
    EXPECT_TRUE(floats()[1]->isVisible());
    ASSERT_EQ(floats().size(), 3);
    /* A system connected meanwhile floats at once. */
    ASSERT_EQ(connect(QStringLiteral("10.0.0.4"), QStringLiteral("D")), 0);
    EXPECT_EQ(floats().size(), 4);
    EXPECT_TRUE(area()->subWindowList().isEmpty());
    EXPECT_EQ(viewsFloating(), views());
    /* Disconnecting the middle one renumbers the rest. */
    window->disconnectFromSystem(1);
    ASSERT_EQ(floats().size(), 3);
    EXPECT_EQ(viewsFloating(), views());
    for (int i = 0; i < floats().size(); ++i)
        EXPECT_EQ(floats()[i]->getWidgetIndex(), i);
}

TEST_F(ViewModes, ATabActivatedBringsItsPanelPageAndStatusBar)
{
    window->tabMdiAreaViews();
    ASSERT_EQ(area()->viewMode(), QMdiArea::TabbedView);
    const QList<QMdiSubWindow *> subs = area()->subWindowList(QMdiArea::CreationOrder);
    ASSERT_EQ(subs.size(), 3);
    for (int i : {0, 2, 1}) {
        SCOPED_TRACE(i);
        QSystemStatusBar *previous = qobject_cast<QSystemStatusBar *>(
            window->findChild<QStatusBar *>(QString(), Qt::FindDirectChildrenOnly));
        area()->setActiveSubWindow(subs[i]);
        EXPECT_EQ(shownBoardPage(), at(i)->getBoardInfoWidget()->getInternalWidget());
        for (int k = 0; k < 3; ++k)
            EXPECT_EQ(at(k)->getSystemBoxWidget()->getIsSelected(), k == i);
        EXPECT_EQ(window->findChild<QStatusBar *>(QString(), Qt::FindDirectChildrenOnly),
                  at(i)->getSystemStatusBarWidget());
        /* The one it replaced lives on with its system, off the window. */
        if (previous && previous != at(i)->getSystemStatusBarWidget()) {
            EXPECT_EQ(previous->parent(), nullptr);
            EXPECT_FALSE(previous->connStatText().isEmpty());
        }
        EXPECT_EQ(subs[i]->geometry(), QRect(QPoint(0, 0), area()->size()));
        for (int k = 0; k < 3; ++k) {
            if (k != i) {
                EXPECT_TRUE(subs[k]->geometry().isEmpty());
            }
        }
    }
}
