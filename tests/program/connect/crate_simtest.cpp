// The dialog's request reaches the real wrapper: the crate simulator on
// 127.0.0.2 (an ephemeral port through the transport's port hook) accepts
// user and password "admin" and refuses a wrong password.
// The simulator's headers first: they use the word "slots", a Qt macro.
#include "crate/crate_sim.h"
#include "crate/crate_transport.h"

#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>

#include "KORUHVWrapper.h"
#include "QConnectDialog.h"
#include "connect_test_support.h"

namespace {

/* Connects each request with KORUHV_InitSystem, as the main window does,
 * and keeps the return codes. */
class WrapperMainWindow : public MainWindowServices {
public:
    QList<int> codes;
    QList<koruconnect::ConnectionRequest> requests;
    void removeBoardFromGroups(int, unsigned short) override {}
    void connectDialogCallback(int sysType, int linkType, QString initParam, QString name, QString user,
                               QString password) override
    {
        requests.append({sysType, linkType, initParam, name, user, password});
        QByteArray address = initParam.toLatin1();
        int handle = -1;
        int rc = KORUHV_InitSystem(sysType, linkType, address.data(), user.toLatin1().constData(),
                                   password.toLatin1().constData(), &handle);
        codes.append(rc);
        if (rc == 0)
            KORUHV_DeinitSystem(handle);
    }
};

class CrateEndToEnd : public ::testing::Test {
protected:
    void SetUp() override
    {
        korusim::CrateSimOptions opt;
        opt.ramp = false;
        opt.keepAlivePeriod = std::chrono::milliseconds(0);
        sim = std::make_unique<korusim::CrateSim>(korusim::CrateModel::smallCrate(), "127.0.0.2", 0, opt);
        ASSERT_TRUE(sim->start()) << sim->errorText();
        koruhv::CrateTransport_SetPortForTest(sim->port());
        setMainWindow(&window);
    }
    void TearDown() override
    {
        setMainWindow(nullptr);
        koruhv::CrateTransport_SetPortForTest(0);
        sim->stop();
    }
    void connectWith(const QString &password)
    {
        auto *dialog = new QConnectDialog(nullptr, 0, nullptr);
        dialog->show();
        const QList<QLineEdit *> octets = dialog->findChildren<QLineEdit *>("ipAddr");
        const char *parts[] = {"127", "0", "0", "2"};
        for (int i = 0; i < 4; ++i)
            QTest::keyClicks(octets.at(i), parts[i]);
        QTest::keyClicks(dialog->findChild<QLineEdit *>("editCustName"), "Sim crate");
        QTest::keyClicks(dialog->findChild<QLineEdit *>("Username"), "admin");
        QTest::keyClicks(dialog->findChild<QLineEdit *>("Password"), password);
        QPushButton *ok = dialog->findChild<QPushButton *>("okButton");
        ASSERT_TRUE(ok->isEnabled());
        inEventLoop([ok] { QTest::mouseClick(ok, Qt::LeftButton); });
    }

    TempSettings settings;
    WrapperMainWindow window;
    std::unique_ptr<korusim::CrateSim> sim;
};

} // namespace

TEST_F(CrateEndToEnd, RightPasswordConnectsWrongOneIsRefused)
{
    connectWith("admin");
    ASSERT_EQ(window.codes.size(), 1);
    EXPECT_EQ(window.codes.at(0), 0);
    EXPECT_EQ(window.requests.at(0),
              (koruconnect::ConnectionRequest{2, 0, "127.0.0.2", "Sim crate", "admin", "admin"}));
    connectWith("wrong");
    ASSERT_EQ(window.codes.size(), 2);
    EXPECT_NE(window.codes.at(1), 0);
}
