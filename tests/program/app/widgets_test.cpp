/* The shell's widgets: status bar texts and lights, board titles, header
 * boxes, the dock buttons and the panel lock, the manual and the start-up
 * look. */
#include "KORUHVNode.h"
#include "MainWindowUi.h"
#include "ProgramStartup.h"
#include "QBoardInformations.h"
#include "QCollapsibleWidget.h"
#include "QCustomBox.h"
#include "QCustomLabel.h"
#include "QSystemStatusBar.h"
#include "shell_fixture.h"

#include <QAction>
#include <QDockWidget>
#include <QLocale>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

TEST(StatusBarText, ConnectionTextByLinkType)
{
    struct Case {
        int link;
        const char *init;
        const char *expected;
    };
    const Case cases[] = {
        {0, "10.0.0.1", "10.0.0.1"},
        {3, "0", "USB 0"},
        {3, "", "USB "},
        {4, "0_1_8000", "OPTICAL LINK 0_1"},
        {5, "ttyUSB0_9600_8_0_0_0", "COMttyUSB0, BaudRate: 9600, Data: 8, Stop: 1, Parity: None"},
        {5, "ttyUSB0_9600_8_1_2_0", "COMttyUSB0, BaudRate: 9600, Data: 8, Stop: 1.5, Parity: Odd"},
        {5, "ttyUSB0_9600_8_x_7_0", "COMttyUSB0, BaudRate: 9600, Data: 8, Stop: 1, Parity: "},
        {5, "ttyUSB0_9600_8", ""},
    };
    for (const Case &c : cases)
        EXPECT_EQ(KORUHVStatusBarConnectionText(c.link, QLatin1String(c.init)), QLatin1String(c.expected))
            << c.init;
}

TEST(StatusBar, StateWordsAndLights)
{
    QSystemStatusBar bar;
    bar.setConnStatLabel(CONN_OK);
    EXPECT_EQ(bar.connStatText(), QStringLiteral("CONNECTED"));
    bar.setConnStatLabel(CONN_KO);
    EXPECT_EQ(bar.connStatText(), QStringLiteral("DISCONNECTED"));
    EXPECT_EQ(bar.connStatStyle(), QStringLiteral("QLabel {color : green; }")); /* keeps its colour */
    bar.setConnStatLabel(static_cast<connStatus>(9));
    EXPECT_TRUE(bar.connStatText().isEmpty());
    bar.setEvStatusSync(false);
    EXPECT_EQ(bar.ledPicture(0), QStringLiteral(":/Resources/buttons/led_off_mid.png"));
    bar.clearAllEvStatus();
    EXPECT_EQ(bar.ledPicture(0), QStringLiteral(":/Resources/buttons/led_off.png"));
    EXPECT_FALSE(QPixmap(bar.ledPicture(0)).isNull());
}

TEST(BoardTitle, ByTheSystemType)
{
    KORUHVNode board;
    board.KORUHVPrepareNode(QStringLiteral("Board73"), NODE_BOARD, 16, 0, QString(), QString(), QString());
    board.setBdModel(QStringLiteral("M1"));
    board.setBdSerNr(42);
    EXPECT_EQ(KORUHVBoardTitle(&board, 16, QString(), QString(), false, QString()),
              QStringLiteral("Crate02 Board23 - M1 - [42]"));
    EXPECT_EQ(KORUHVBoardTitle(&board, 2, QString(), QString(), false, QString()),
              QStringLiteral("Board73 - M1 - [42]"));
    EXPECT_EQ(KORUHVBoardTitle(&board, 8, QString(), QString(), false, QString()), QStringLiteral("M1"));
    board.setSysName(QString());
    EXPECT_EQ(KORUHVBoardTitle(&board, 5, QStringLiteral("A"), QStringLiteral("0_0_8000"), false, QString()),
              QStringLiteral("A - M1 - [0x8000]"));
    EXPECT_EQ(KORUHVP8080CrateBoardName(QStringLiteral("Board")), QStringLiteral("Board"));
}

TEST(CustomBox, ButtonsExpandAndClicks)
{
    QCustomBox none(QStringLiteral("S"), 3, nullptr, false, true, QString(), QString());
    EXPECT_TRUE(none.findChildren<QPushButton *>().isEmpty());
    EXPECT_TRUE(none.getDisconnectButtonText().isEmpty());

    QCollapsibleWidget list;
    auto *content = new QWidget;
    auto *box = new QCustomBox(QStringLiteral("S"), 0, nullptr, false, true, QStringLiteral("Disconnect"),
                               QStringLiteral("Configure"));
    list.addChildWidget(content, box);
    list.resize(300, 300);
    list.show();
    QSignalSpy disconnect(box, &QCustomBox::clickedDisconnectButton);
    QPushButton *button = box->findChild<QPushButton *>(QStringLiteral("disconnectButton"));
    ASSERT_TRUE(button);
    QTest::mouseClick(button, Qt::LeftButton);
    ASSERT_EQ(disconnect.size(), 1);
    EXPECT_EQ(disconnect[0][0].toInt(), 0);
    /* The expand switch collapses the entry and turns the switch off. */
    auto *expand = box->findChild<QCustomLabel *>();
    ASSERT_TRUE(expand);
    EXPECT_TRUE(list.topLevelItem(0)->isExpanded());
    QTest::mouseClick(expand, Qt::LeftButton);
    EXPECT_FALSE(list.topLevelItem(0)->isExpanded());
    EXPECT_EQ(expand->property("picture").toString(), QStringLiteral(":/Resources/Elementi/switch_OFF.gif"));
    QTest::mouseClick(expand, Qt::LeftButton);
    EXPECT_TRUE(list.topLevelItem(0)->isExpanded());
    /* A right-button release emits nothing. */
    QSignalSpy clicked(box, &QCustomBox::itemClicked);
    QTest::mouseClick(box, Qt::RightButton);
    EXPECT_EQ(clicked.size(), 0);
    QTest::mouseClick(box, Qt::LeftButton);
    EXPECT_EQ(clicked.size(), 1);
}

TEST_F(ShellTest, LockedPanelsIgnoreTheDockButtons)
{
    Ui_MainWindow *ui = window->getUi();
    EXPECT_TRUE(ui->menuLockPanels->isChecked());
    window->tbarSysClicked();
    EXPECT_FALSE(ui->menuSystems->isChecked());
    ui->menuLockPanels->setChecked(false);
    window->tbarSysClicked();
    EXPECT_TRUE(ui->menuSystems->isChecked());
    EXPECT_FALSE(ui->menuBoards->isChecked());
    EXPECT_TRUE(window->toolButton(2)->isChecked());
    EXPECT_FALSE(window->toolButton(1)->isChecked());
    window->tbarAllClicked();
    EXPECT_TRUE(ui->menuSystems->isChecked());
    EXPECT_TRUE(ui->menuBoards->isChecked());
}

TEST_F(ShellTest, TheManualOpensThroughTheDesktopOrWarns)
{
    window->showUserManual();
    ASSERT_EQ(env->openedUrls.size(), 1);
    EXPECT_EQ(env->openedUrls[0].toString(),
              QStringLiteral("file:///usr/share/KORU/RORERAVA2020/MN5190_LUMO2020_REV9.pdf"));
}

TEST_F(ShellTest, ConnectingTheFirstSystemShowsBothDocks)
{
    ASSERT_EQ(connect(), 0);
    EXPECT_TRUE(window->getUi()->menuSystems->isChecked());
    EXPECT_TRUE(window->getUi()->menuBoards->isChecked());
    EXPECT_TRUE(window->getUi()->menuLockPanels->isChecked());
    /* One page per system in the BOARDS dock, one entry per board. */
    QSystemInterface *s = window->getSysInterfaceVector()[0];
    ASSERT_TRUE(s->getBoardInfoWidget());
    ASSERT_TRUE(s->getBoardInfoWidget()->getInternalWidget());
    EXPECT_EQ(s->getBoardInfoWidget()->getInternalWidget()->topLevelItemCount(), 1);
    EXPECT_TRUE(s->getBoardInfoWidget()->getInternalWidget()->findChild<QWidget *>(
        QStringLiteral("%1:0:HVMax").arg(s->getSystemHandle())));
}

TEST(StartUp, LookVariantByCountry)
{
    const KORUHVLookResources regional = KORUHVLookFor(QLocale::India);
    EXPECT_EQ(regional.icon, QStringLiteral(":/Resources/Elementi/iconI.ico"));
    EXPECT_EQ(regional.splash, QStringLiteral(":/Resources/Elementi/splashscrI-WIDE_LUMO.jpg"));
    EXPECT_EQ(regional.styleSheet, QStringLiteral(":/Resources/stylesheet-I.qss"));
    const KORUHVLookResources standard = KORUHVLookFor(QLocale::Italy);
    EXPECT_EQ(standard.styleSheet, QStringLiteral(":/Resources/stylesheet-3.qss"));
    for (const KORUHVLookResources &l : {regional, standard}) {
        EXPECT_FALSE(QPixmap(l.splash).isNull());
        EXPECT_FALSE(KORUHVReadStyleSheet(l.styleSheet).isEmpty());
    }
    EXPECT_EQ(KORUHVRegisterFont(), QStringLiteral("DejaVu Sans Condensed"));
    EXPECT_EQ(KORUHVFontFamily(), QStringLiteral("DejaVu Sans Condensed"));
}
