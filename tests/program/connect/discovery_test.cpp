// Network discovery against the simulated responder: the query goes to
// 127.0.0.1 (never broadcast), each device answers from its own address
// 127.0.0.2, .3, ...; times are shortened through the hooks.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTest>
#include <QTimer>

#include "DeviceDiscovery.h"
#include "QAutodetectDialog.h"
#include "QConnectDialog.h"
#include "connect_test_support.h"
#include "discovery/discovery_sim.h"
#include "wait_progress.h"

using namespace koruconnect;
using korusim::DiscoveryDevice;
using korusim::DiscoveryResponder;
using korusim::DiscoveryResponderOptions;

namespace {

constexpr uint32_t kLocalhost = 0x7f000001;

class DiscoveryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        discoveryReceiveAddressForTest = kLocalhost;
        discoveryDestinationForTest = kLocalhost;
        // A port range of its own per process, so parallel runs rarely meet.
        discoveryFirstPortForTest = uint16_t(40000 + (::getpid() % 200) * 100);
        discoveryResendMsForTest = 100;
        discoveryTotalMsForTest = 800;
    }
    void TearDown() override { responder.reset(); }

    void serve(std::vector<DiscoveryDevice> devices)
    {
        DiscoveryResponderOptions opt;
        opt.listenPort = 0;
        opt.devices = std::move(devices);
        responder = std::make_unique<DiscoveryResponder>(opt);
        std::string error;
        ASSERT_TRUE(responder->start(&error)) << error;
        discoveryDestinationPortForTest = responder->port();
    }

    /* One run; step() processes events and may stop it. */
    std::vector<DiscoveredDevice> run(DeviceDiscovery &d, std::function<bool()> step = {})
    {
        std::vector<DiscoveredDevice> found;
        int rc = d.run(
            step ? step : [] { return true; }, [&](const DiscoveredDevice &x) { found.push_back(x); });
        EXPECT_EQ(rc, 0);
        return found;
    }

    std::unique_ptr<DiscoveryResponder> responder;
};

} // namespace

TEST(DiscoveryReply, TextStopsAtNulOrLengthAndFieldsDropEmptyParts)
{
    char raw[8] = {'A', ':', 'B', '\0', 'C', 'D', 'E', 'F'};
    EXPECT_EQ(DeviceDiscovery::replyText(raw, 8), "A:B");
    char full[4] = {'W', 'X', 'Y', 'Z'}; // no NUL: the length ends it
    EXPECT_EQ(DeviceDiscovery::replyText(full, 4), "WXYZ");
    EXPECT_EQ(DeviceDiscovery::replyFields("m::s:f:c"), QStringList({"m", "s", "f", "c"}));
    EXPECT_EQ(DeviceDiscovery::replyFields("a:b:c").size(), 3);
    EXPECT_EQ(DeviceDiscovery::replyFields("").size(), 0);
    EXPECT_EQ(korusim::parseDiscoveryQuery("LUMO5500", 8), 5500);
    EXPECT_EQ(korusim::parseDiscoveryQuery("LUMO", 4), 0);
    EXPECT_EQ(korusim::parseDiscoveryQuery("LUMO55x", 7), 0);
}

TEST_F(DiscoveryTest, EachDeviceListedOnceInArrivalOrderFromItsOwnAddress)
{
    serve({{"HX4400:0001:2.3.0:Tarmin A"}, {"HX5500:0002:2.4.1:Tarmin B"}});
    DeviceDiscovery d;
    auto found = run(d);
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0].fields, QStringList({"HX4400", "0001", "2.3.0", "Tarmin A"}));
    EXPECT_EQ(found[0].address, "127.0.0.2");
    EXPECT_EQ(found[1].address, "127.0.0.3");
    EXPECT_GT(responder->queriesReceived(), 1); // resent while the run lasts
    for (int port : responder->queriedPorts())
        EXPECT_EQ(port, d.boundPort());
}

TEST_F(DiscoveryTest, MalformedRepliesMakeNoRowAndLongRepliesStayInTheBuffer)
{
    std::string longReply = "HX4400:0009:2.3.0:";
    serve({{"a:b:c"},
           {"a::b:c"},
           {""},
           {"M::S:F:C"},
           {longReply, true, false, false},
           {"QUIET:1:2:3", false, true, false},
           {"ONCE:1:2:3", false, false, true}});
    DeviceDiscovery d;
    auto found = run(d);
    ASSERT_EQ(found.size(), 3u);
    EXPECT_EQ(found[0].fields, QStringList({"M", "S", "F", "C"}));
    EXPECT_EQ(found[0].address, "127.0.0.5");
    EXPECT_EQ(found[1].text.size(), 512); // exactly what arrived, nothing past it
    EXPECT_EQ(found[1].address, "127.0.0.6");
    EXPECT_EQ(found[2].fields.first(), "ONCE");
}

TEST_F(DiscoveryTest, NoResponderEndsEmptyWithinItsTotal)
{
    discoveryDestinationPortForTest = 9; // nothing listens there
    DeviceDiscovery d;
    EXPECT_TRUE(run(d).empty());
}

TEST_F(DiscoveryTest, TakenFirstPortMovesTheQueryAndTheReplies)
{
    int blocker = ::socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_GE(blocker, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(kLocalhost);
    uint16_t taken = discoveryFirstPortForTest;
    // Take the first port of the range (move up if another run holds it).
    for (; taken < discoveryFirstPortForTest + 50; ++taken) {
        a.sin_port = htons(taken);
        if (::bind(blocker, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0)
            break;
    }
    discoveryFirstPortForTest = taken;
    serve({{"HX4400:0001:2.3.0:Tarmin A"}});
    DeviceDiscovery d;
    auto found = run(d);
    ::close(blocker);
    EXPECT_GT(d.boundPort(), taken);
    ASSERT_EQ(found.size(), 1u);
    ASSERT_FALSE(responder->queriedPorts().empty());
    EXPECT_EQ(responder->queriedPorts().front(), d.boundPort());
}

TEST_F(DiscoveryTest, StopEndsTheRunAtTheNextStep)
{
    discoveryTotalMsForTest = 20000; // far past the test: the stop ends this run
    serve({{"HX4400:0001:2.3.0:Tarmin A"}});
    DeviceDiscovery d;
    bool stop = false;
    int stepsAfterStop = 0;
    std::vector<DiscoveredDevice> found;
    d.run(
        [&] {
            if (stop)
                ++stepsAfterStop;
            return !stop;
        },
        [&](const DiscoveredDevice &x) {
            found.push_back(x);
            stop = true;
        });
    EXPECT_EQ(found.size(), 1u);
    EXPECT_EQ(stepsAfterStop, 1);
}

namespace {

class DiscoveryDialogTest : public DiscoveryTest {
protected:
    void SetUp() override
    {
        DiscoveryTest::SetUp();
        setMainWindow(&window);
        dialog = new QConnectDialog(nullptr, 0, nullptr);
        dialog->show();
    }
    void TearDown() override
    {
        if (dialog)
            delete dialog.data();
        setMainWindow(nullptr);
        DiscoveryTest::TearDown();
    }
    QPushButton *button(const char *name) { return dialog->findChild<QPushButton *>(name); }
    QTableWidget *table() { return dialog->autodetectDialog()->table(); }

    /* Every 10 ms (at most 500 times) checks ready(); once true runs act()
     * and stops. The run processes events, so this acts inside it. */
    void whenReady(std::function<bool()> ready, std::function<void()> act)
    {
        auto *timer = new QTimer(qApp);
        auto left = std::make_shared<int>(500);
        QObject::connect(timer, &QTimer::timeout, [timer, left, ready, act] {
            if (ready()) {
                timer->stop();
                timer->deleteLater();
                act();
            } else if (--*left <= 0) {
                timer->stop();
                timer->deleteLater();
            }
        });
        timer->start(10);
    }
    void clickAutodetect()
    {
        QPushButton *b = button("autodetectButton");
        inEventLoop([b] { QTest::mouseClick(b, Qt::LeftButton); });
    }

    TempSettings settings;
    RecordingMainWindow window;
    QPointer<QConnectDialog> dialog;
};

} // namespace

TEST_F(DiscoveryDialogTest, DoubleClickSelectsCrateAndFillsTheOctets)
{
    discoveryTotalMsForTest = 20000; // bounded even when the test fails
    serve({{"HX4400:0001:2.3.0:Tarmin A"}, {"HX5500:0002:2.4.1:Tarmin B"}});
    dialog->findChild<QComboBox *>("comboPSType")->setCurrentIndex(7);
    dialog->findChild<QComboBox *>("comboPSType")->setCurrentIndex(0);
    bool okDuringRun = true;
    QString textDuringRun;
    whenReady([this] { return table()->rowCount() == 2; },
              [&] {
                  okDuringRun = button("okButton")->isEnabled();
                  textDuringRun = button("autodetectButton")->text();
                  QTableWidgetItem *item = table()->item(1, 0);
                  QRect r = table()->visualItemRect(item);
                  // As a mouse does it: a click, then the double click on the same row.
                  QTest::mouseClick(table()->viewport(), Qt::LeftButton, {}, r.center());
                  QTest::mouseDClick(table()->viewport(), Qt::LeftButton, {}, r.center());
              });
    clickAutodetect();
    ASSERT_FALSE(dialog.isNull());
    EXPECT_FALSE(okDuringRun);
    EXPECT_EQ(textDuringRun, "Stop");
    EXPECT_EQ(button("autodetectButton")->text(), "Autodetect");
    EXPECT_EQ(table()->item(0, 1)->text(), "127.0.0.2");
    EXPECT_EQ(table()->item(1, 0)->text(), "HX5500");
    EXPECT_EQ(table()->item(1, 4)->text(), "Tarmin B");
    EXPECT_EQ(dialog->findChild<QComboBox *>("comboPSType")->currentIndex(), 0);
    EXPECT_EQ(dialog->findChild<QComboBox *>("comboConnType")->currentText(), "TCP/IP");
    QStringList octets;
    for (QLineEdit *e : dialog->findChildren<QLineEdit *>("ipAddr"))
        if (e->isVisible())
            octets.append(e->text());
    EXPECT_EQ(octets, QStringList({"127", "0", "0", "3"}));
    EXPECT_FALSE(button("okButton")->isEnabled()); // user and password still missing
}

TEST_F(DiscoveryDialogTest, StopButtonEndsTheRun)
{
    discoveryTotalMsForTest = 20000; // bounded even when the test fails
    serve({{"HX4400:0001:2.3.0:Tarmin A"}});
    whenReady([this] { return table()->rowCount() == 1; },
              [this] { QTest::mouseClick(button("autodetectButton"), Qt::LeftButton); });
    clickAutodetect();
    ASSERT_FALSE(dialog.isNull());
    EXPECT_EQ(button("autodetectButton")->text(), "Autodetect");
    EXPECT_FALSE(dialog->autodetectDialog()->isRunning());
    EXPECT_EQ(table()->rowCount(), 1);
}

TEST_F(DiscoveryDialogTest, RunEndingByItselfLeavesOkFollowingTheFields)
{
    serve({});
    QTest::keyClicks(dialog->findChild<QLineEdit *>("Username"), "admin");
    QTest::keyClicks(dialog->findChild<QLineEdit *>("Password"), "admin");
    const QList<QLineEdit *> octets = dialog->findChildren<QLineEdit *>("ipAddr");
    const char *parts[] = {"127", "0", "0", "2"};
    for (int i = 0; i < 4; ++i)
        QTest::keyClicks(octets.at(i), parts[i]);
    bool returnSent = false;
    whenReady([] { return true; },
              [&] {
                  QTest::keyClick(dialog->findChild<QLineEdit *>("Password"), Qt::Key_Return);
                  returnSent = true;
              });
    clickAutodetect();
    EXPECT_TRUE(returnSent);
    EXPECT_TRUE(window.requests.isEmpty()); // Return did nothing during the run
    ASSERT_FALSE(dialog.isNull());
    EXPECT_EQ(button("autodetectButton")->text(), "Autodetect");
    EXPECT_EQ(table()->rowCount(), 0);
    EXPECT_TRUE(button("okButton")->isEnabled());
}

TEST_F(DiscoveryDialogTest, CancelEscapeOrCloseDuringARunCloseAfterIt)
{
    discoveryTotalMsForTest = 20000; // bounded even when the test fails
    serve({{"HX4400:0001:2.3.0:Tarmin A"}});
    const std::function<void(QConnectDialog *)> ways[] = {
        [](QConnectDialog *d) {
            QTest::mouseClick(d->findChild<QPushButton *>("cancelButton"), Qt::LeftButton);
        },
        [](QConnectDialog *d) { QTest::keyClick(d, Qt::Key_Escape); },
        [](QConnectDialog *d) { d->close(); },
    };
    for (const auto &way : ways) {
        if (!dialog) {
            dialog = new QConnectDialog(nullptr, 0, nullptr);
            dialog->show();
        }
        bool stillThere = false;
        whenReady([this] { return table()->rowCount() == 1; },
                  [&] {
                      way(dialog);
                      stillThere = !dialog.isNull() && dialog->isVisible();
                  });
        clickAutodetect();
        EXPECT_TRUE(stillThere); // not closed from inside the run
        EXPECT_TRUE(dialog.isNull());
        EXPECT_TRUE(window.requests.isEmpty());
    }
}

TEST_F(DiscoveryDialogTest, HelpBoxAndCloseButton)
{
    QString text;
    QTimer::singleShot(0, [&] {
        koru_test::waitFor([] { return QApplication::activeModalWidget() != nullptr; },
                           [] { QTest::qWait(5); });
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            text = box->text();
            box->accept();
        }
    });
    dialog->autodetectDialog()->showHelpMessageBox();
    EXPECT_TRUE(text.startsWith("This feature works only with HX4400 / HX5500"));
    dialog->autodetectDialog()->show();
    QTest::mouseClick(dialog->autodetectDialog()->findChild<QPushButton *>("closeButton"), Qt::LeftButton);
    EXPECT_FALSE(dialog->autodetectDialog()->isVisible());
    EXPECT_EQ(button("autodetectButton")->text(), "Autodetect");
}

TEST_F(DiscoveryDialogTest, OkDuringARunConnectsOnceAfterIt)
{
    discoveryTotalMsForTest = 20000; // bounded even when the test fails
    serve({{"HX4400:0001:2.3.0:Tarmin A"}});
    bool stillThere = false;
    whenReady([this] { return table()->rowCount() == 1; },
              [&] {
                  // Another supply type stops the run and enables OK at once.
                  dialog->findChild<QComboBox *>("comboPSType")->setCurrentIndex(6);
                  QTest::mouseClick(button("okButton"), Qt::LeftButton);
                  stillThere = !dialog.isNull() && dialog->isVisible();
              });
    clickAutodetect();
    EXPECT_TRUE(stillThere);
    EXPECT_TRUE(dialog.isNull());
    ASSERT_EQ(window.requests.size(), 1);
    EXPECT_EQ(window.requests.at(0).initParam, "127.0.0.1");
}

/* The panel knows nothing of the dialog around it: each way out of it is a
 * signal, and without a dialog it still works on its own. */
TEST(DiscoveryPanel, TellsByItsSignalsOnly)
{
    QWidget notADialog;
    auto *panel = new QAutodetectDialog(&notADialog);
    QTableWidget *table = panel->table();
    table->setRowCount(1);
    table->setItem(0, 0, new QTableWidgetItem("HX4400"));
    table->setItem(0, 1, new QTableWidgetItem("10.0.0.5"));
    QSignalSpy stopped(panel, &QAutodetectDialog::detectionStopped);
    QSignalSpy closed(panel, &QAutodetectDialog::panelClosed);
    QSignalSpy chosen(panel, &QAutodetectDialog::addressChosen);
    const struct {
        const char *what;
        std::function<void()> act;
        int stopped, closed, chosen;
    } cases[] = {
        {"stop", [&] { panel->stopDetecting(); }, 1, 0, 0},
        {"no item", [&] { panel->setIpField(nullptr); }, 0, 0, 0},
        {"double-click", [&] { panel->setIpField(table->item(0, 0)); }, 0, 0, 1},
        {"close", [&] { QTest::mouseClick(panel->findChild<QPushButton *>("closeButton"), Qt::LeftButton); },
         0, 1, 0},
    };
    notADialog.show();
    panel->show();
    for (const auto &c : cases) {
        stopped.clear();
        closed.clear();
        chosen.clear();
        c.act();
        EXPECT_EQ(stopped.count(), c.stopped) << c.what;
        EXPECT_EQ(closed.count(), c.closed) << c.what;
        EXPECT_EQ(chosen.count(), c.chosen) << c.what;
    }
    EXPECT_FALSE(panel->isVisible());
    EXPECT_FALSE(panel->isRunning());
    panel->setIpField(table->item(0, 1));
    ASSERT_EQ(chosen.count(), 1);
    EXPECT_EQ(chosen.at(0).at(0).toString(), "10.0.0.5");
}
