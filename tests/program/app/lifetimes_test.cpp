/* What holds on to a system when something else goes: the start-up's
 * splash after a click, a W38XX group's panel after its main board leaves,
 * the custom view's BOARDS page after a member system leaves, the groups of
 * other bridges when one bridge's boards go, and the board indexes of a
 * group after leaves and joins. Real main window over the fake wrapper. */
#include "KORUHVEventServer.h"
#include "KORUHVNode.h"
#include "KORUHVSwitch.h"
#include "KORUHVWidgetItem.h"
#include "MainWindowUi.h"
#include "ProgramStartup.h"
#include "QBoardInformations.h"
#include "QConnectDialog.h"
#include "QCrateMapDialog.h"
#include "QCustomBox.h"
#include "QCustomSplashScreen.h"
#include "QDisconnectDialog.h"
#include "QSystemInformations.h"
#include "ShellGlobals.h"
#include "qt_gtest_print.h"
#include "shell_fixture.h"

#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <set>

namespace {

/* One W38XX board with a settable board parameter and one channel that
 * can be switched off. */
fakehv::System vmeBoard(const std::string &model)
{
    fakehv::System s;
    fakehv::Board &b = s.addBoard(0, 1, model, 1);
    b.params.push_back({"BdStatus", {3, 0, fakehv::Raw::u32(0)}});
    b.params.push_back({"HVMax", {0, 2, fakehv::Raw::f32(3000.f)}});
    b.channels[0].params.push_back({"VMon", {0, 0, fakehv::Raw::f32(0.f)}});
    b.channels[0].params.push_back(
        {"Pw",
         {1,
          2,
          fakehv::Raw::u32(1),
          {{"Onstate", fakehv::Raw::text("On")}, {"Offstate", fakehv::Raw::text("Off")}}}});
    return s;
}

/* Handles of the recorded calls of a function. */
std::multiset<int> handlesOf(const std::string &function, const std::string &name)
{
    std::multiset<int> out;
    for (const fakehv::Call &c : fakehv::callsOf(function))
        if (c.name == name)
            out.insert(c.handle);
    return out;
}

} // namespace

/* ---------------------------------------------- start-up */

TEST(StartUpSplash, AClickDuringTheWaitEndsTheSplashAndStartUpGoesOn)
{
    fakehv::reset();
    ShellTestEnvironment env;
    /* The server the start-up starts binds loopback only, on a free port. */
    setEventServerAddressForTest(QStringLiteral("127.0.0.1"));
    tcpPort.store(freeLoopbackPort());
    /* Long enough for the click to come while the start-up still waits. */
    setSplashWaitForTest(1500);

    QPointer<QCustomSplashScreen> splash;
    bool clicked = false;
    bool windowShownAtClick = true;
    QTimer poll;
    poll.setInterval(1);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        for (QWidget *w : QApplication::topLevelWidgets())
            if (auto *s = qobject_cast<QCustomSplashScreen *>(w); s && s->isVisible() && !clicked) {
                poll.stop();
                splash = s;
                clicked = true;
                windowShownAtClick = getMainWindow() && getMainWindow()->mainWindowWidget()->isVisible();
                QTest::mouseClick(s, Qt::LeftButton);
            }
    });
    poll.start();

    MainWindow *w = KORUHVStartProgram();
    ASSERT_TRUE(w);
    EXPECT_TRUE(clicked);
    EXPECT_FALSE(windowShownAtClick) << "the click came after the wait";
    /* The start-up went on to its end: window shown, server up, connection
     * dialog open; the splash is closed and released. */
    EXPECT_TRUE(w->isVisible());
    EXPECT_TRUE(eventServerRunning());
    EXPECT_TRUE(w->findChild<QConnectDialog *>());
    EXPECT_TRUE(waitUntil([&] { return splash.isNull(); }));

    stopEventServer();
    delete w;
    setSplashWaitForTest(0);
}

/* ---------------------------------------------- W38XX groups */

class Lifetimes : public ShellTest {
protected:
    void SetUp() override
    {
        ShellTest::SetUp();
        window->resize(1000, 700);
        window->show();
    }
    int connectBoard(const QString &init, const QString &board, const std::string &model = "V1")
    {
        fakehv::queueInit(vmeBoard(model));
        return window->connectSystem(5, 4, init, QStringLiteral("VME"), board, QString());
    }
    QSystemInterface *at(int i) const { return window->getSysInterfaceVector().value(i); }
    QSystemInterface *named(const QString &board) const
    {
        for (QSystemInterface *s : window->getSysInterfaceVector())
            if (s->getSystemNode() && !s->getSystemNode()->getChildren().isEmpty() &&
                s->getSystemNode()->getChildren()[0]->getSysName() == board)
                return s;
        return nullptr;
    }
    /* The disconnect dialog of the group shown by interface i, answered with
     * the board at vector position idx (-1: all boards). */
    void disconnectThroughDialog(int i, int idx)
    {
        QPushButton *button =
            at(i)->getSystemBoxWidget()->findChild<QPushButton *>(QStringLiteral("disconnectButton"));
        ASSERT_TRUE(button);
        QTest::mouseClick(button, Qt::LeftButton);
        QDisconnectDialog *d = window->findChild<QDisconnectDialog *>();
        ASSERT_TRUE(d);
        QRadioButton *choice = nullptr;
        for (QRadioButton *r : d->findChildren<QRadioButton *>())
            if (r->property("idx").toInt() == idx)
                choice = r;
        ASSERT_TRUE(choice);
        QTest::mouseClick(choice, Qt::LeftButton);
        QTest::mouseClick(d->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok), Qt::LeftButton);
    }
    /* The text of every cell of the crate map the panel opens. */
    QStringList crateMapOf(QSystemInformations *panel)
    {
        QStringList cells;
        ModalAnswerer answers;
        answers.then([&](QWidget *w) {
            if (auto *map = qobject_cast<QCrateMapDialog *>(w)) {
                auto *tree = map->findChild<QTreeWidget *>(QStringLiteral("treeWidget"));
                for (int r = 0; tree && r < tree->topLevelItemCount(); ++r)
                    for (int c = 0; c < tree->columnCount(); ++c)
                        cells << tree->topLevelItem(r)->text(c);
            }
            if (auto *d = qobject_cast<QDialog *>(w))
                d->reject();
        });
        QTest::mouseClick(panel->commandButton(syspanel::Cmd::CrateMap), Qt::LeftButton);
        EXPECT_EQ(answers.pending(), 0) << "no crate map opened";
        return cells;
    }
};

TEST_F(Lifetimes, TheMainBoardLeavingHandsThePanelWithItsTreeAndWiringToTheNext)
{
    ASSERT_EQ(connectBoard(QStringLiteral("0_1_8000"), QStringLiteral("A"), "VA"), 0);
    ASSERT_EQ(connectBoard(QStringLiteral("0_1_9000"), QStringLiteral("B"), "VB"), 0);
    ASSERT_EQ(connectBoard(QStringLiteral("0_1_a000"), QStringLiteral("C"), "VC"), 0);
    QSystemInformations *panel = at(0)->getSystemInfoWidget();
    ASSERT_TRUE(panel);
    disconnectThroughDialog(0, 0);
    ASSERT_EQ(window->getSysInterfaceVector().size(), 2);
    QSystemInterface *b = named(QStringLiteral("B"));
    QSystemInterface *c = named(QStringLiteral("C"));
    ASSERT_TRUE(b && c);
    ASSERT_EQ(b->getSystemInfoWidget(), panel);
    EXPECT_EQ(panel->getSystemTree(), b->getSystemNode());
    EXPECT_EQ(panel->getParentWidget(), b);

    /* KILL, answered Yes: every remaining board's channel is switched off. */
    fakehv::clearCalls();
    {
        ModalAnswerer answers;
        answers.thenButton(QMessageBox::Yes);
        QTest::mouseClick(panel->commandButton(syspanel::Cmd::Kill), Qt::LeftButton);
        EXPECT_EQ(answers.pending(), 0);
    }
    EXPECT_EQ(handlesOf("KORUHV_SetChParam", "Pw"),
              (std::multiset<int>{b->getSystemHandle(), c->getSystemHandle()}));

    /* CRATE MAP lists the boards the group has now. */
    const QStringList map = crateMapOf(panel);
    EXPECT_TRUE(map.contains(QStringLiteral("VB"))) << map.join(QLatin1Char('|')).toStdString();
    EXPECT_TRUE(map.contains(QStringLiteral("VC"))) << map.join(QLatin1Char('|')).toStdString();
    EXPECT_FALSE(map.contains(QStringLiteral("VA"))) << map.join(QLatin1Char('|')).toStdString();

    /* The Log switch starts logging on the group's new interfaces. */
    auto *logSwitch = panel->findChild<KORUHVSwitch *>(QStringLiteral("logSwitch"));
    ASSERT_TRUE(logSwitch);
    QTest::mouseClick(logSwitch, Qt::LeftButton);
    EXPECT_TRUE(b->getIsLogStarted());
    EXPECT_TRUE(c->getIsLogStarted());
    QTest::mouseClick(logSwitch, Qt::LeftButton);
    EXPECT_FALSE(b->getIsLogStarted());
    EXPECT_FALSE(c->getIsLogStarted());

    /* A click on the panel brings the group to the front through B. */
    QSignalSpy clicks(b, &QSystemInterface::clicked);
    QTest::mouseClick(panel, Qt::LeftButton, {}, QPoint(2, 2));
    EXPECT_EQ(clicks.count(), 1);
}

TEST_F(Lifetimes, OneBridgesBoardsGoingLeaveTheOtherBridgesGroupWhole)
{
    struct Case {
        const char *why;
        QStringList firstBridge;
        bool lost; /* its event stream failed: the box shows "Close" */
    };
    const Case cases[] = {
        {"a lost group of two boards is closed", {QStringLiteral("A"), QStringLiteral("B")}, true},
        {"a group of one board is disconnected", {QStringLiteral("A")}, false},
    };
    for (const Case &k : cases) {
        SCOPED_TRACE(k.why);
        for (int i = 0; i < k.firstBridge.size(); ++i)
            ASSERT_EQ(connectBoard(QStringLiteral("0_1_%1000").arg(8 + i), k.firstBridge[i]), 0);
        ASSERT_EQ(connectBoard(QStringLiteral("0_2_8000"), QStringLiteral("C")), 0);
        ASSERT_EQ(connectBoard(QStringLiteral("0_2_9000"), QStringLiteral("D")), 0);
        QSystemInterface *first = at(0);
        QSystemInterface *c = named(QStringLiteral("C"));
        ASSERT_TRUE(c);
        if (k.lost) {
            ModalAnswerer answers(clickButton());
            window->handleSystemDisconnected(first, KORUHV_ERR_EVENT_SOCKET, first->getSerial());
            ASSERT_EQ(first->getSystemBoxWidget()->getDisconnectButtonText(), QStringLiteral("Close"));
        }
        QTest::mouseClick(
            first->getSystemBoxWidget()->findChild<QPushButton *>(QStringLiteral("disconnectButton")),
            Qt::LeftButton);
        ASSERT_EQ(window->getSysInterfaceVector().size(), 2);
        ASSERT_EQ(at(0), c);
        /* C's group still holds both its boards, on its page too. */
        const QVector<KORUHVNode *> boards = c->getSystemNode()->getChildren();
        ASSERT_EQ(boards.size(), 2);
        EXPECT_EQ(boards[1]->getSysName(), QStringLiteral("D"));
        EXPECT_EQ(c->getBoardInfoWidget()->getInternalWidget()->topLevelItemCount(), 2);
        /* Its Disconnect asks which board goes. */
        QTest::mouseClick(
            c->getSystemBoxWidget()->findChild<QPushButton *>(QStringLiteral("disconnectButton")),
            Qt::LeftButton);
        QDisconnectDialog *d = window->findChild<QDisconnectDialog *>();
        EXPECT_TRUE(d);
        EXPECT_EQ(window->getSysInterfaceVector().size(), 2);
        /* All boards, to begin the next case from nothing. */
        if (d) {
            QTest::mouseClick(d->findChildren<QRadioButton *>()[0], Qt::LeftButton);
            QTest::mouseClick(d->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok),
                              Qt::LeftButton);
        }
        ASSERT_TRUE(window->getSysInterfaceVector().isEmpty());
        QPointer<QDisconnectDialog> gone(d);
        ASSERT_TRUE(waitUntil([&] { return gone.isNull(); }));
    }
}

TEST_F(Lifetimes, BoardIndexesStayDistinctAndFollowTheBoardNamesAfterALeaveAndAJoin)
{
    struct Case {
        const char *why;
        int leaving; /* vector position */
    };
    const Case cases[] = {{"a further board leaves", 1}, {"the main board leaves", 0}};
    for (const Case &k : cases) {
        SCOPED_TRACE(k.why);
        ASSERT_EQ(connectBoard(QStringLiteral("0_1_8000"), QStringLiteral("A")), 0);
        ASSERT_EQ(connectBoard(QStringLiteral("0_1_9000"), QStringLiteral("B")), 0);
        ASSERT_EQ(connectBoard(QStringLiteral("0_1_a000"), QStringLiteral("C")), 0);
        window->disconnectDialogCallback(k.leaving);
        ASSERT_EQ(connectBoard(QStringLiteral("0_1_b000"), QStringLiteral("D")), 0);
        const auto v = window->getSysInterfaceVector();
        ASSERT_EQ(v.size(), 3);
        /* Index n is the n-th board of the group, the one named Board0n. */
        std::set<int> indexes;
        QStringList seen;
        for (QSystemInterface *s : v) {
            KORUHVNode *board = s->getSystemNode()->getChildren()[0];
            seen << QStringLiteral("%1:idx%2:%3")
                        .arg(board->getSysName())
                        .arg(s->getW38xxBoardIndex())
                        .arg(board->getNodeName());
            indexes.insert(s->getW38xxBoardIndex());
            EXPECT_EQ(board->getNodeName(),
                      QStringLiteral("Board%1").arg(s->getW38xxBoardIndex(), 2, 10, QLatin1Char('0')))
                << seen.join(QStringLiteral(", ")).toStdString();
        }
        EXPECT_EQ(indexes, (std::set<int>{0, 1, 2})) << seen.join(QStringLiteral(", ")).toStdString();
        EXPECT_EQ(v[0]->getSystemNode()->getChildren().size(), 3);
        window->disconnectDialogCallback(2);
        window->disconnectDialogCallback(1);
        window->disconnectDialogCallback(0);
        ASSERT_TRUE(window->getSysInterfaceVector().isEmpty());
    }
}

/* ---------------------------------------------- custom view */

TEST_F(Lifetimes, TheCustomViewsBoardsPageDropsAGoneSystemsEditors)
{
    struct Case {
        const char *why;
        bool w38xx;
    };
    const Case cases[] = {{"a crate is disconnected", false}, {"a further W38XX board leaves", true}};
    for (const Case &k : cases) {
        SCOPED_TRACE(k.why);
        QSystemInterface *gone = nullptr;
        if (k.w38xx) {
            ASSERT_EQ(connectBoard(QStringLiteral("0_1_8000"), QStringLiteral("A")), 0);
            ASSERT_EQ(connectBoard(QStringLiteral("0_1_9000"), QStringLiteral("B")), 0);
            gone = at(1);
        } else {
            ASSERT_EQ(connect(QStringLiteral("10.0.0.1"), QStringLiteral("A")), 0);
            gone = at(0);
        }
        ASSERT_EQ(connect(QStringLiteral("10.0.0.2"), QStringLiteral("Other")), 0);
        window->customViewCreationDialogCallback();
        const int cvAt = window->hasCustomView();
        ASSERT_GE(cvAt, 0);
        QSystemInterface *cv = at(cvAt);
        const int goneHandle = gone->getSystemHandle();
        const auto editorsOf = [&](int handle) {
            QList<KORUHVWidgetItem *> out;
            for (KORUHVWidgetItem *e :
                 cv->getBoardInfoWidget()->getInternalWidget()->findChildren<KORUHVWidgetItem *>())
                if (e->objectName().startsWith(QStringLiteral("%1:").arg(handle)))
                    out << e;
            return out;
        };
        ASSERT_FALSE(editorsOf(goneHandle).isEmpty());

        if (k.w38xx)
            window->disconnectDialogCallback(1);
        else
            window->disconnectFromSystem(0);
        ASSERT_EQ(window->hasCustomView(), cvAt - 1);
        ASSERT_TRUE(cv->getBoardInfoWidget() && cv->getBoardInfoWidget()->getInternalWidget());
        ASSERT_TRUE(editorsOf(goneHandle).isEmpty()) << "an editor of the gone system is left";

        /* Editing what is left writes to connected handles only. */
        std::set<int> connected;
        for (QSystemInterface *s : window->getSysInterfaceVector())
            if (!s->getIsCustomView())
                connected.insert(s->getSystemHandle());
        fakehv::clearCalls();
        int edited = 0;
        for (KORUHVWidgetItem *e :
             cv->getBoardInfoWidget()->getInternalWidget()->findChildren<KORUHVWidgetItem *>()) {
            auto *spin = qobject_cast<QDoubleSpinBox *>(e->getValueFieldWidget());
            if (!spin || !e->objectName().endsWith(QStringLiteral(":HVMax")))
                continue;
            spin->setFocus();
            spin->selectAll();
            QTest::keyClicks(spin, "1234");
            QTest::keyClick(spin, Qt::Key_Return);
            ++edited;
        }
        EXPECT_GE(edited, 1);
        const auto writes = fakehv::callsOf("KORUHV_SetBdParam");
        EXPECT_EQ(int(writes.size()), edited);
        for (const fakehv::Call &call : writes)
            EXPECT_TRUE(connected.count(call.handle)) << "written to handle " << call.handle;

        /* Every system and the custom view go, for the next case. */
        while (!window->getSysInterfaceVector().isEmpty())
            window->disconnectFromSystem(int(window->getSysInterfaceVector().size()) - 1);
        if (QDisconnectDialog *d = window->findChild<QDisconnectDialog *>())
            d->reject();
        for (QConnectDialog *d : window->findChildren<QConnectDialog *>())
            d->close();
    }
}
