// The real "Connect to System" dialog driven by keys and clicks: which
// groups each combination shows, the OK rule on every row, the rows' "+"
// and "-" buttons, and the requests it sends to the main window.
#include <QApplication>
#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>

#include "QConnectDialog.h"
#include "connect_test_support.h"

using koruconnect::ConnectionRequest;

namespace {

class ConnectDialogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        setMainWindow(&window);
        dialog = new QConnectDialog(nullptr, 0, nullptr);
        dialog->show();
    }
    void TearDown() override
    {
        if (dialog)
            delete dialog.data();
        setMainWindow(nullptr);
    }

    QComboBox *combo(const char *name) { return dialog->findChild<QComboBox *>(name); }
    QPushButton *button(const char *name) { return dialog->findChild<QPushButton *>(name); }
    QWidget *groupWidget(const char *name) { return dialog->findChild<QWidget *>(name); }
    QList<QLineEdit *> tcpOctets()
    {
        QList<QLineEdit *> out;
        const QList<QLineEdit *> eth = groupWidget("ethWidget")->findChildren<QLineEdit *>("ipAddr");
        for (QLineEdit *e : dialog->findChildren<QLineEdit *>("ipAddr"))
            if (!eth.contains(e))
                out.append(e);
        return out;
    }
    QList<QLineEdit *> ethOctets() { return groupWidget("ethWidget")->findChildren<QLineEdit *>("ipAddr"); }
    QWidget *tcpGroup() { return tcpOctets().first()->parentWidget()->parentWidget(); }
    QWidget *serialGroup() { return portField()->parentWidget(); }
    QLineEdit *portField()
    {
        for (QLineEdit *e : dialog->findChildren<QLineEdit *>())
            if (e->placeholderText() == "ttyS..")
                return e;
        return nullptr;
    }
    QComboBox *serialCombo(int row, int column)
    {
        auto *g = qobject_cast<QGridLayout *>(serialGroup()->layout());
        return qobject_cast<QComboBox *>(g->itemAtPosition(row, column)->widget());
    }
    QComboBox *tcpLBus()
    {
        auto *g = qobject_cast<QGridLayout *>(tcpGroup()->layout());
        return qobject_cast<QComboBox *>(g->itemAtPosition(3, 1)->widget());
    }
    QWidget *cell(const char *group, int row, int column)
    {
        auto *g = qobject_cast<QGridLayout *>(groupWidget(group)->layout());
        QLayoutItem *item = g->itemAtPosition(row, column);
        return item ? item->widget() : nullptr;
    }
    void type(QWidget *w, const QString &text)
    {
        ASSERT_NE(w, nullptr);
        QTest::keyClicks(w, text);
    }
    void typeIp(const QList<QLineEdit *> &octets, const QStringList &parts)
    {
        for (int i = 0; i < 4; ++i) {
            octets.at(i)->clear();
            QTest::keyClicks(octets.at(i), parts.at(i));
        }
    }
    void choose(int psType, int connType)
    {
        combo("comboPSType")->setCurrentIndex(psType);
        if (connType >= 0)
            combo("comboConnType")->setCurrentIndex(connType);
    }
    void clickAndSettle(QPushButton *b)
    {
        ASSERT_NE(b, nullptr);
        QTest::mouseClick(b, Qt::LeftButton);
        QCoreApplication::processEvents();
    }
    bool okEnabled() { return button("okButton")->isEnabled(); }
    void pressOk()
    {
        QPushButton *ok = button("okButton");
        inEventLoop([ok] { QTest::mouseClick(ok, Qt::LeftButton); });
    }

    TempSettings settings;
    RecordingMainWindow window;
    QPointer<QConnectDialog> dialog;
};

} // namespace

TEST_F(ConnectDialogTest, OpensOnCrateWithEmptyFields)
{
    EXPECT_EQ(dialog->windowTitle(), "Connect to System");
    EXPECT_EQ(combo("comboPSType")->count(), 8);
    EXPECT_EQ(combo("comboPSType")->currentText(), "HX4400 / HX5500");
    EXPECT_EQ(combo("comboConnType")->currentText(), "TCP/IP");
    EXPECT_TRUE(button("autodetectButton")->isVisible());
    EXPECT_FALSE(okEnabled());
    for (QLineEdit *e : tcpOctets())
        EXPECT_TRUE(e->text().isEmpty());
}

TEST_F(ConnectDialogTest, CrateOkNeedsAddressUserAndPassword)
{
    typeIp(tcpOctets(), {"10", "0", "0", "1"});
    type(dialog->findChild<QLineEdit *>("Username"), "admin");
    EXPECT_FALSE(okEnabled());
    type(dialog->findChild<QLineEdit *>("Password"), "secret");
    EXPECT_TRUE(okEnabled());
    typeIp(tcpOctets(), {"0", "0", "0", "1"});
    EXPECT_FALSE(okEnabled());
    typeIp(tcpOctets(), {"255", "255", "255", "255"});
    EXPECT_FALSE(okEnabled());
    tcpOctets().at(2)->clear();
    EXPECT_FALSE(okEnabled());
    typeIp(tcpOctets(), {"010", "000", "0", "1"});
    EXPECT_TRUE(okEnabled());
    type(dialog->findChild<QLineEdit *>("editCustName"), "Main crate");
    pressOk();
    ASSERT_EQ(window.requests.size(), 1);
    EXPECT_EQ(window.requests.at(0), (ConnectionRequest{2, 0, "10.0.0.1", "Main crate", "admin", "secret"}));
    EXPECT_TRUE(dialog.isNull());
}

TEST_F(ConnectDialogTest, ReturnSendsExactlyOnce)
{
    typeIp(tcpOctets(), {"10", "0", "0", "2"});
    type(dialog->findChild<QLineEdit *>("Username"), "admin");
    type(dialog->findChild<QLineEdit *>("Password"), "admin");
    QLineEdit *password = dialog->findChild<QLineEdit *>("Password");
    inEventLoop([password] { QTest::keyClick(password, Qt::Key_Return); });
    EXPECT_EQ(window.requests.size(), 1);
    EXPECT_TRUE(dialog.isNull());
}

TEST_F(ConnectDialogTest, ReturnWithOkDisabledDoesNothing)
{
    typeIp(tcpOctets(), {"10", "0", "0", "2"});
    QLineEdit *octet = tcpOctets().at(3);
    inEventLoop([octet] { QTest::keyClick(octet, Qt::Key_Enter); });
    EXPECT_TRUE(window.requests.isEmpty());
    ASSERT_FALSE(dialog.isNull());
    EXPECT_TRUE(dialog->isVisible());
}

TEST_F(ConnectDialogTest, PowerSupplyBoxesNeedNoField)
{
    choose(6, -1);
    EXPECT_FALSE(combo("comboConnType")->isVisible());
    EXPECT_FALSE(groupWidget("connParamsGB")->isVisible());
    EXPECT_EQ(dialog->findChild<QLabel *>("label_3")->text(), "Connection Type:\t          LOCAL SERVICE ");
    EXPECT_TRUE(okEnabled());
    pressOk();
    ASSERT_EQ(window.requests.size(), 1);
    EXPECT_EQ(window.requests.at(0), (ConnectionRequest{13, 0, "127.0.0.1", "PS BOXES", "admin", ""}));
}

TEST_F(ConnectDialogTest, WithoutMainWindowOkClosesAndSendsNothing)
{
    setMainWindow(nullptr);
    choose(6, -1);
    pressOk();
    EXPECT_TRUE(window.requests.isEmpty());
    EXPECT_TRUE(dialog.isNull());
    auto store = QSettings("KORU", "App");
    EXPECT_TRUE(store.allKeys().isEmpty());
}

TEST_F(ConnectDialogTest, OpticalRowsSendOneRequestPerRowInOrder)
{
    choose(1, 1);
    type(dialog->findChild<QLineEdit *>("editCustName"), "VME");
    clickAndSettle(qobject_cast<QPushButton *>(cell("optWidget", 0, 6)));
    type(cell("optWidget", 0, 0), "left");
    qobject_cast<QSpinBox *>(cell("optWidget", 0, 2))->setValue(1);
    qobject_cast<QSpinBox *>(cell("optWidget", 0, 3))->setValue(2);
    type(cell("optWidget", 0, 5), "20");
    qobject_cast<QSpinBox *>(cell("optWidget", 1, 2))->setValue(3);
    EXPECT_FALSE(okEnabled()); // the second row's base address is empty
    type(cell("optWidget", 1, 5), "12G4");
    EXPECT_FALSE(okEnabled());
    qobject_cast<QLineEdit *>(cell("optWidget", 1, 5))->clear();
    type(cell("optWidget", 1, 5), "30");
    EXPECT_TRUE(okEnabled());
    pressOk();
    ASSERT_EQ(window.requests.size(), 2);
    EXPECT_EQ(window.requests.at(0), (ConnectionRequest{5, 4, "1_2_20", "VME", "left", ""}));
    EXPECT_EQ(window.requests.at(1), (ConnectionRequest{5, 4, "3_0_30", "VME", "Board01", ""}));
}

TEST_F(ConnectDialogTest, ThreeRowsThenMinusTwiceLeavesTheFirstWithPlusOnly)
{
    choose(1, 1);
    clickAndSettle(qobject_cast<QPushButton *>(cell("optWidget", 0, 6)));
    clickAndSettle(qobject_cast<QPushButton *>(cell("optWidget", 1, 7)));
    EXPECT_EQ(groupWidget("optWidget")->findChildren<QSpinBox *>("opt1").size(), 3);
    EXPECT_EQ(groupWidget("optWidget")->findChildren<QPushButton *>().size(), 2);
    clickAndSettle(qobject_cast<QPushButton *>(cell("optWidget", 2, 6)));
    clickAndSettle(qobject_cast<QPushButton *>(cell("optWidget", 1, 6)));
    const QList<QPushButton *> buttons = groupWidget("optWidget")->findChildren<QPushButton *>();
    ASSERT_EQ(buttons.size(), 1);
    EXPECT_EQ(buttons.first()->text(), "+");
    EXPECT_EQ(groupWidget("optWidget")->findChildren<QSpinBox *>("opt1").size(), 1);
    EXPECT_EQ(groupWidget("optWidget")->findChildren<QSpinBox *>("opt2").size(), 1);
    type(cell("optWidget", 0, 5), "1A2B");
    EXPECT_TRUE(okEnabled());
    pressOk();
    EXPECT_EQ(window.requests.size(), 1);
}

TEST_F(ConnectDialogTest, UsbDisablesNodesAndOpticalEnablesThem)
{
    choose(1, 1);
    clickAndSettle(qobject_cast<QPushButton *>(cell("optWidget", 0, 6)));
    qobject_cast<QSpinBox *>(cell("optWidget", 1, 3))->setValue(4);
    choose(1, 0);
    for (QSpinBox *node : groupWidget("optWidget")->findChildren<QSpinBox *>("opt2")) {
        EXPECT_EQ(node->value(), 0);
        EXPECT_FALSE(node->isEnabled());
    }
    choose(1, 1);
    for (QSpinBox *node : groupWidget("optWidget")->findChildren<QSpinBox *>("opt2")) {
        EXPECT_EQ(node->value(), 0);
        EXPECT_TRUE(node->isEnabled());
    }
}

TEST_F(ConnectDialogTest, EachCombinationShowsExactlyItsGroups)
{
    struct Case {
        int ps, conn;
        const char *group; // "tcp", "serial" or an object name
        bool user, tcpLBus, serialLBus;
    } cases[] = {
        {0, 0, "tcp", true, false, false},
        {7, 0, "tcp", true, false, false},
        {2, 0, "tcp", false, true, false},
        {2, 1, "serial", false, false, true},
        {1, 4, "J6280Widget", false, false, false},
        {4, 0, "tcp", false, false, false},
        {4, 1, "serial", false, false, false},
        {5, 0, "tcp", false, false, false},
        {5, 1, "serial", false, false, true},
        {1, 0, "optWidget", false, false, false},
        {1, 1, "optWidget", false, false, false},
        {1, 2, "PIDWidget", false, false, false},
        {1, 3, "ethWidget", false, false, false},
        {3, 0, "optWidget", false, false, false},
        {3, 2, "PIDJ6280Widget", false, false, false},
    };
    for (const Case &c : cases) {
        choose(c.ps, c.conn);
        QWidget *groups[] = {tcpGroup(),
                             groupWidget("optWidget"),
                             serialGroup(),
                             groupWidget("ethWidget"),
                             groupWidget("PIDWidget"),
                             groupWidget("J6280Widget"),
                             groupWidget("PIDJ6280Widget")};
        QWidget *expected = QString(c.group) == "tcp"      ? tcpGroup()
                            : QString(c.group) == "serial" ? serialGroup()
                                                           : groupWidget(c.group);
        for (QWidget *g : groups)
            EXPECT_EQ(g->isVisible(), g == expected)
                << c.ps << "/" << c.conn << " " << g->objectName().toStdString();
        if (expected == tcpGroup()) {
            EXPECT_EQ(dialog->findChild<QLineEdit *>("Username")->isVisible(), c.user)
                << c.ps << "/" << c.conn;
            EXPECT_EQ(tcpLBus()->isVisible(), c.tcpLBus) << c.ps << "/" << c.conn;
        }
        if (expected == serialGroup()) {
            EXPECT_EQ(serialCombo(1, 5)->isVisible(), c.serialLBus);
        }
    }
}

TEST_F(ConnectDialogTest, Bq71xxUsbHidesNamesBasesAndButtons)
{
    choose(1, 1);
    clickAndSettle(qobject_cast<QPushButton *>(cell("optWidget", 0, 6)));
    choose(3, 0);
    EXPECT_FALSE(cell("optWidget", 0, 0)->isVisible());
    EXPECT_FALSE(cell("optWidget", 0, 5)->isVisible());
    EXPECT_TRUE(cell("optWidget", 0, 2)->isVisible());
    EXPECT_TRUE(cell("optWidget", 1, 2)->isVisible());
    for (QPushButton *b : groupWidget("optWidget")->findChildren<QPushButton *>())
        EXPECT_FALSE(b->isVisible());
    EXPECT_TRUE(okEnabled());
    qobject_cast<QSpinBox *>(cell("optWidget", 1, 2))->setValue(2);
    pressOk();
    ASSERT_EQ(window.requests.size(), 2);
    EXPECT_EQ(window.requests.at(0).initParam, "0_0_0");
    EXPECT_EQ(window.requests.at(1), (ConnectionRequest{9, 3, "2_0_0", "", "Board01", ""}));
}

TEST_F(ConnectDialogTest, Usb3RowsUseTheFirstRowsPid)
{
    choose(1, 2);
    type(cell("PIDWidget", 0, 2), "1234");
    type(cell("PIDWidget", 0, 4), "10");
    clickAndSettle(qobject_cast<QPushButton *>(cell("PIDWidget", 0, 5)));
    EXPECT_FALSE(okEnabled());
    type(cell("PIDWidget", 1, 4), "20");
    EXPECT_TRUE(okEnabled());
    pressOk();
    ASSERT_EQ(window.requests.size(), 2);
    EXPECT_EQ(window.requests.at(0).initParam, "1234_0_10");
    EXPECT_EQ(window.requests.at(1).initParam, "1234_0_20");
    EXPECT_EQ(window.requests.at(1).linkType, 6);
}

TEST_F(ConnectDialogTest, AddedJ6280PidsAreValidated)
{
    choose(1, 4);
    type(cell("J6280Widget", 0, 2), "77");
    type(cell("J6280Widget", 0, 5), "10");
    EXPECT_TRUE(okEnabled());
    clickAndSettle(qobject_cast<QPushButton *>(cell("J6280Widget", 0, 6)));
    type(cell("J6280Widget", 1, 5), "20");
    EXPECT_FALSE(okEnabled());              // the added row's PID is empty
    type(cell("J6280Widget", 1, 2), "78x"); // the validator keeps only digits
    EXPECT_EQ(qobject_cast<QLineEdit *>(cell("J6280Widget", 1, 2))->text(), "78");
    EXPECT_TRUE(okEnabled());
    qobject_cast<QSpinBox *>(cell("J6280Widget", 1, 3))->setValue(2);
    pressOk();
    ASSERT_EQ(window.requests.size(), 2);
    EXPECT_EQ(window.requests.at(1), (ConnectionRequest{5, 7, "78_2_20", "", "Board01", ""}));
}

TEST_F(ConnectDialogTest, EthernetRowsShareTheFirstRowsAddress)
{
    choose(1, 3);
    typeIp(ethOctets(), {"10", "0", "0", "7"});
    type(cell("ethWidget", 0, 4), "1000");
    clickAndSettle(qobject_cast<QPushButton *>(cell("ethWidget", 0, 5)));
    type(cell("ethWidget", 1, 4), "2000");
    pressOk();
    ASSERT_EQ(window.requests.size(), 2);
    EXPECT_EQ(window.requests.at(0).initParam, "10.0.0.7_0_1000");
    EXPECT_EQ(window.requests.at(1).initParam, "10.0.0.7_0_2000");
}

TEST_F(ConnectDialogTest, SerialRequestsOfTheThreeModuleTypes)
{
    struct Case {
        int ps;
        int lbus;
        ConnectionRequest expect;
    } cases[] = {
        {2, 3, {6, 5, "ttyS0_9600_8_0_0_3", "", "", ""}},
        {5, -1, {13, 5, "ttyS0_9600_8_0_0_0", "", "", ""}},
        {4, -1, {11, 5, "ttyS0_9600_8_0_0", "", "", ""}},
    };
    for (const Case &c : cases) {
        if (!dialog) {
            dialog = new QConnectDialog(nullptr, 0, nullptr);
            dialog->show();
        }
        choose(c.ps, 1);
        if (c.ps != 2) {
            EXPECT_EQ(serialCombo(1, 5)->currentIndex(), -1);
        }
        portField()->clear();
        type(portField(), "ttyS0");
        serialCombo(0, 3)->setCurrentText("9600");
        serialCombo(0, 5)->setCurrentText("8");
        serialCombo(1, 1)->setCurrentIndex(0);
        serialCombo(1, 3)->setCurrentText("None");
        if (c.lbus >= 0)
            serialCombo(1, 5)->setCurrentIndex(c.lbus);
        ASSERT_TRUE(okEnabled()) << c.ps;
        window.requests.clear();
        pressOk();
        ASSERT_EQ(window.requests.size(), 1);
        EXPECT_EQ(window.requests.at(0), c.expect);
    }
}

TEST_F(ConnectDialogTest, NimTcpCarriesTheLBusAddress)
{
    choose(2, 0);
    typeIp(tcpOctets(), {"192", "168", "0", "10"});
    tcpLBus()->setCurrentIndex(5);
    pressOk();
    ASSERT_EQ(window.requests.size(), 1);
    EXPECT_EQ(window.requests.at(0), (ConnectionRequest{6, 0, "192.168.0.10_5", "", "", ""}));
}

TEST_F(ConnectDialogTest, ChangingConnectionTypeEmptiesTheOctets)
{
    choose(2, 0);
    typeIp(tcpOctets(), {"192", "168", "0", "10"});
    choose(2, 1);
    choose(2, 0);
    for (QLineEdit *e : tcpOctets())
        EXPECT_TRUE(e->text().isEmpty());
}

TEST_F(ConnectDialogTest, DiscoveredAddressSelectsCrateAndFillsOctets)
{
    choose(2, 1);
    dialog->setIpValueInFields("192.168.1.20");
    EXPECT_EQ(combo("comboPSType")->currentIndex(), 0);
    EXPECT_EQ(combo("comboConnType")->currentText(), "TCP/IP");
    QStringList texts;
    for (QLineEdit *e : tcpOctets())
        texts.append(e->text());
    EXPECT_EQ(texts, QStringList({"192", "168", "1", "20"}));
    dialog->setIpValueInFields("1.2.3"); // not four parts: octets stay as the restore left them
    dialog->setIpValueInFields(QString());
    EXPECT_EQ(combo("comboPSType")->currentIndex(), 0);
}
