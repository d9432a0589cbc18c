// Remembered connection settings: each combination saved on OK and shown
// again when the dialog reopens; stale rows removed; never a password.
#include <QComboBox>
#include <QGridLayout>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>

#include "ConnectionSettings.h"
#include "QConnectDialog.h"
#include "connect_test_support.h"

using namespace koruconnect;

namespace {

class ConnectSettingsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        setMainWindow(&window);
        open();
    }
    void TearDown() override
    {
        if (dialog)
            delete dialog.data();
        setMainWindow(nullptr);
    }
    void open()
    {
        if (dialog)
            delete dialog.data();
        dialog = new QConnectDialog(nullptr, 0, nullptr);
        dialog->show();
    }
    void ok()
    {
        ASSERT_TRUE(dialog->findChild<QPushButton *>("okButton")->isEnabled());
        QPushButton *button = dialog->findChild<QPushButton *>("okButton");
        inEventLoop([button] { QTest::mouseClick(button, Qt::LeftButton); });
        ASSERT_TRUE(dialog.isNull());
    }
    void choose(int ps, int conn)
    {
        dialog->findChild<QComboBox *>("comboPSType")->setCurrentIndex(ps);
        if (conn >= 0)
            dialog->findChild<QComboBox *>("comboConnType")->setCurrentIndex(conn);
    }
    int psType() { return dialog->findChild<QComboBox *>("comboPSType")->currentIndex(); }
    int connType() { return dialog->findChild<QComboBox *>("comboConnType")->currentIndex(); }
    QList<QLineEdit *> tcpOctets()
    {
        QList<QLineEdit *> out;
        const QList<QLineEdit *> eth =
            dialog->findChild<QWidget *>("ethWidget")->findChildren<QLineEdit *>("ipAddr");
        for (QLineEdit *e : dialog->findChildren<QLineEdit *>("ipAddr"))
            if (!eth.contains(e))
                out.append(e);
        return out;
    }
    QStringList octetTexts()
    {
        QStringList out;
        for (QLineEdit *e : tcpOctets())
            out.append(e->text());
        return out;
    }
    void typeIp(const QStringList &parts)
    {
        for (int i = 0; i < 4; ++i) {
            tcpOctets().at(i)->clear();
            QTest::keyClicks(tcpOctets().at(i), parts.at(i));
        }
    }
    QWidget *cell(const char *group, int row, int column)
    {
        auto *g = qobject_cast<QGridLayout *>(dialog->findChild<QWidget *>(group)->layout());
        QLayoutItem *item = g->itemAtPosition(row, column);
        return item ? item->widget() : nullptr;
    }
    QComboBox *serialCombo(int row, int column)
    {
        QLineEdit *port = nullptr;
        for (QLineEdit *e : dialog->findChildren<QLineEdit *>())
            if (e->placeholderText() == "ttyS..")
                port = e;
        auto *g = qobject_cast<QGridLayout *>(port->parentWidget()->layout());
        return qobject_cast<QComboBox *>(g->itemAtPosition(row, column)->widget());
    }
    QLineEdit *portField()
    {
        return qobject_cast<QLineEdit *>(serialCombo(0, 3)->parentWidget()->layout()->itemAt(1)->widget());
    }
    int optRows()
    {
        return dialog->findChild<QWidget *>("optWidget")->findChildren<QSpinBox *>("opt1").size();
    }
    void setOptRows(int rows)
    {
        while (optRows() < rows) {
            auto *plus = dialog->findChild<QWidget *>("optWidget")->findChild<QPushButton *>("plus");
            QTest::mouseClick(plus, Qt::LeftButton);
            QCoreApplication::processEvents();
        }
        while (optRows() > rows) {
            auto *minus = dialog->findChild<QWidget *>("optWidget")->findChild<QPushButton *>("minus");
            QTest::mouseClick(minus, Qt::LeftButton);
            QCoreApplication::processEvents();
        }
    }

    TempSettings settings;
    RecordingMainWindow window;
    QPointer<QConnectDialog> dialog;
};

} // namespace

TEST_F(ConnectSettingsTest, CrateAddressUserAndNameComeBackButNeverThePassword)
{
    QTest::keyClicks(dialog->findChild<QLineEdit *>("editCustName"), "North crate");
    typeIp({"10", "1", "2", "3"});
    QTest::keyClicks(dialog->findChild<QLineEdit *>("Username"), "admin");
    QTest::keyClicks(dialog->findChild<QLineEdit *>("Password"), "TopSecret77");
    ok();
    open();
    EXPECT_EQ(psType(), 0);
    EXPECT_EQ(dialog->findChild<QLineEdit *>("editCustName")->text(), "North crate");
    EXPECT_EQ(octetTexts(), QStringList({"10", "1", "2", "3"}));
    EXPECT_EQ(dialog->findChild<QLineEdit *>("Username")->text(), "admin");
    EXPECT_TRUE(dialog->findChild<QLineEdit *>("Password")->text().isEmpty());
    QSettings store("KORU", "App");
    EXPECT_EQ(store.value("HX4400_lastIpAddress").toString(), "10.1.2.3");
    EXPECT_EQ(store.value("lastIpAddress").toString(), "10.1.2.3");
    EXPECT_EQ(store.value("lastConnectionType").toInt(), 0);
    for (const QString &key : store.allKeys())
        EXPECT_FALSE(store.value(key).toString().contains("TopSecret77")) << key.toStdString();
}

TEST_F(ConnectSettingsTest, P8080UserComesBack)
{
    choose(7, 0);
    typeIp({"10", "0", "0", "9"});
    QTest::keyClicks(dialog->findChild<QLineEdit *>("Username"), "operator");
    QTest::keyClicks(dialog->findChild<QLineEdit *>("Password"), "pw");
    ok();
    open();
    EXPECT_EQ(psType(), 7);
    EXPECT_EQ(dialog->findChild<QLineEdit *>("Username")->text(), "operator");
    EXPECT_TRUE(dialog->findChild<QLineEdit *>("Password")->text().isEmpty());
    EXPECT_EQ(octetTexts(), QStringList({"10", "0", "0", "9"}));
}

TEST_F(ConnectSettingsTest, OpticalRowsComeBackAndFewerRowsReopenAsFewer)
{
    choose(1, 1);
    setOptRows(3);
    const char *bases[] = {"20", "30", "40"};
    for (int r = 0; r < 3; ++r) {
        QTest::keyClicks(cell("optWidget", r, 0), QString("B%1").arg(r));
        qobject_cast<QSpinBox *>(cell("optWidget", r, 2))->setValue(r + 1);
        qobject_cast<QSpinBox *>(cell("optWidget", r, 3))->setValue(r);
        QTest::keyClicks(cell("optWidget", r, 5), bases[r]);
    }
    ok();
    open();
    EXPECT_EQ(psType(), 1);
    EXPECT_EQ(connType(), 1);
    EXPECT_EQ(optRows(), 3);
    setOptRows(2);
    ok();
    open();
    ASSERT_EQ(optRows(), 2);
    for (int r = 0; r < 2; ++r) {
        EXPECT_EQ(qobject_cast<QLineEdit *>(cell("optWidget", r, 0))->text(), QString("B%1").arg(r));
        EXPECT_EQ(qobject_cast<QSpinBox *>(cell("optWidget", r, 2))->value(), r + 1);
        EXPECT_EQ(qobject_cast<QSpinBox *>(cell("optWidget", r, 3))->value(), r);
        EXPECT_EQ(qobject_cast<QLineEdit *>(cell("optWidget", r, 5))->text(), bases[r]);
    }
    QSettings store("KORU", "App");
    for (const char *prefix : {"HV_W3860", "rem"}) {
        for (const char *key : {"_lastBdName_", "_lastOptical1_", "_lastOptical2_", "_lastOptical3_"}) {
            EXPECT_TRUE(store.contains(QString("%1%2%3").arg(prefix, key, "1"))) << prefix << key;
            EXPECT_FALSE(store.contains(QString("%1%2%3").arg(prefix, key, "2"))) << prefix << key;
        }
    }
    EXPECT_EQ(store.value("HV_W3860_lastOptical3_1").toString(), "30");
}

TEST_F(ConnectSettingsTest, SerialParityAndBaudComeBack)
{
    choose(2, 1);
    QTest::keyClicks(portField(), "ttyUSB0");
    serialCombo(0, 3)->setCurrentText("115200");
    serialCombo(1, 3)->setCurrentText("Odd");
    serialCombo(1, 5)->setCurrentIndex(4);
    ok();
    EXPECT_EQ(window.requests.last().initParam, "ttyUSB0_115200_8_0_2_4");
    open();
    EXPECT_EQ(psType(), 2);
    EXPECT_EQ(connType(), 1);
    EXPECT_EQ(portField()->text(), "ttyUSB0");
    EXPECT_EQ(serialCombo(0, 3)->currentText(), "115200");
    EXPECT_EQ(serialCombo(1, 3)->currentText(), "Odd");
    EXPECT_EQ(serialCombo(1, 5)->currentIndex(), 4);
}

TEST_F(ConnectSettingsTest, Bq71xxeAndTrixShareTheirAddress)
{
    choose(5, 0);
    typeIp({"172", "16", "0", "5"});
    ok();
    open();
    choose(4, -1);
    EXPECT_EQ(octetTexts(), QStringList({"172", "16", "0", "5"}));
}

TEST_F(ConnectSettingsTest, EveryVmeCombinationComesBack)
{
    choose(1, 2);
    QTest::keyClicks(cell("PIDWidget", 0, 2), "1234");
    QTest::keyClicks(cell("PIDWidget", 0, 4), "ABCD");
    ok();
    open();
    EXPECT_EQ(connType(), 2);
    EXPECT_EQ(qobject_cast<QLineEdit *>(cell("PIDWidget", 0, 2))->text(), "1234");
    EXPECT_EQ(qobject_cast<QLineEdit *>(cell("PIDWidget", 0, 4))->text(), "ABCD");

    choose(1, 4);
    QTest::keyClicks(cell("J6280Widget", 0, 2), "55");
    qobject_cast<QSpinBox *>(cell("J6280Widget", 0, 3))->setValue(6);
    QTest::keyClicks(cell("J6280Widget", 0, 5), "0x10");
    ok();
    open();
    EXPECT_EQ(connType(), 4);
    EXPECT_EQ(qobject_cast<QLineEdit *>(cell("J6280Widget", 0, 2))->text(), "55");
    EXPECT_EQ(qobject_cast<QSpinBox *>(cell("J6280Widget", 0, 3))->value(), 6);
    EXPECT_EQ(qobject_cast<QLineEdit *>(cell("J6280Widget", 0, 5))->text(), "0x10");

    choose(3, 2);
    QTest::keyClicks(dialog->findChild<QWidget *>("PIDJ6280Widget")->findChild<QLineEdit *>("PID"), "999");
    ok();
    open();
    EXPECT_EQ(psType(), 3);
    EXPECT_EQ(connType(), 2);
    EXPECT_EQ(dialog->findChild<QWidget *>("PIDJ6280Widget")->findChild<QLineEdit *>("PID")->text(), "999");
}

TEST_F(ConnectSettingsTest, StaleRowKeysAndPrefixedKeysTable)
{
    // saveRows on its own: fewer rows drop the higher rows' keys of that prefix only.
    QSettings store("KORU", "App");
    QList<BoardRow> three = {{"a", "1", "0", "10", ""}, {"b", "2", "0", "20", ""}, {"c", "3", "0", "30", ""}};
    saveRows(store, "HV_W3860", three);
    saveRows(store, "BQHV_71", three);
    saveRows(store, "HV_W3860", three.mid(0, 1));
    EXPECT_EQ(loadRows(store, "HV_W3860").size(), 1);
    EXPECT_EQ(loadRows(store, "BQHV_71").size(), 3);
    EXPECT_EQ(loadRows(store, "nothing").size(), 1); // row 0 always, empty
    EXPECT_TRUE(loadRows(store, "nothing").first().baseAddress.isEmpty());
}
