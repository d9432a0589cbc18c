/* The shell against the real wrapper and the crate simulator on loopback:
 * live values of a ramping channel, and clean teardown while it streams. */
/* First: the simulator's headers use words that Qt defines as macros. */
#include "crate/crate_sim.h"
#include "crate/crate_transport.h"

#include "KORUHVConfig.h"
#include "KORUHVEventServer.h"
#include "KORUHVNode.h"
#include "MainWindow.h"
#include "QSystemStatusBar.h"
#include "app_test_support.h"

#include <QCloseEvent>
#include <QCoreApplication>

#include <gtest/gtest.h>

#include <memory>

namespace {

class CrateSimShell : public ::testing::Test {
protected:
    void start(const char *address)
    {
        env = std::make_unique<ShellTestEnvironment>();
        port = startTestEventServer();
        korusim::CrateSimOptions opt;
        opt.tickPeriod = std::chrono::milliseconds(50);
        sim = std::make_unique<korusim::CrateSim>(korusim::CrateModel::smallCrate(), address, 0, opt);
        ASSERT_TRUE(sim->start()) << sim->errorText();
        koruhv::CrateTransport_SetPortForTest(sim->port());
        /* Channel 0 of slot 0 on and ramping towards 200 V. */
        sim->setChannelValue(0, 0, "V0Set", 200.0);
        sim->setChannelValue(0, 0, "Pw", 1);
        baseline = processThreadCount();
        window = new MainWindow;
    }
    void TearDown() override
    {
        stopEventServer();
        delete window;
        if (sim)
            sim->stop();
        koruhv::CrateTransport_SetPortForTest(0);
        env.reset();
    }
    QSystemInterface *connectCrate(const char *address)
    {
        ModalAnswerer answer(clickButton());
        if (window->connectSystem(2, 0, QLatin1String(address), QStringLiteral("SimCrate"),
                                  QStringLiteral("admin"), QStringLiteral("admin")) != 0)
            return nullptr;
        return window->getSysInterfaceVector().last();
    }

    std::unique_ptr<ShellTestEnvironment> env;
    std::unique_ptr<korusim::CrateSim> sim;
    unsigned short port = 0;
    int baseline = 0;
    MainWindow *window = nullptr;
};

} // namespace

TEST_F(CrateSimShell, VMonFollowsTheRampOfASwitchedOnChannel)
{
    start("127.0.0.3");
    QSystemInterface *s = connectCrate("127.0.0.3");
    ASSERT_TRUE(s);
    EXPECT_EQ(s->getSysType(), 3); /* four slots */
    KORUHVNode *vmon =
        KORUHVConfig::KORUHVConfigGetNodeFromItemId(s->getSystemNode(), QStringLiteral("VMon"), 0, 0);
    ASSERT_TRUE(vmon);
    float first = -1.f;
    ASSERT_TRUE(waitUntil(
        [&] {
            const float v = vmon->getNodeValue().KORUHVGetValue().toFloat();
            if (v > 0.f && first < 0.f)
                first = v;
            return first > 0.f && v > first;
        },
        10000));
    EXPECT_EQ(s->getSystemStatusBarWidget()->connStatText(), QStringLiteral("CONNECTED"));
    EXPECT_TRUE(waitUntil([&] {
        return s->getSystemStatusBarWidget()->ledPicture(0) !=
                   QLatin1String(":/Resources/buttons/led_off_mid.png") ||
               s->getSystemStatusBarWidget()->ledPicture(1) !=
                   QLatin1String(":/Resources/buttons/led_off_mid.png");
    }));
}

TEST_F(CrateSimShell, DisconnectingWhileItStreamsJoinsEveryThread)
{
    start("127.0.0.4");
    QSystemInterface *s = connectCrate("127.0.0.4");
    ASSERT_TRUE(s);
    ASSERT_TRUE(waitUntil([&] { return s->eventReaderCount() == 1; })) << "no event reader";
    ASSERT_TRUE(waitUntil([&] { return processThreadCount() >= baseline + 2; }));
    ModalAnswerer answer(clickButton());
    window->disconnectFromSystem(0);
    EXPECT_TRUE(window->getSysInterfaceVector().isEmpty());
    EXPECT_TRUE(answer.seen().isEmpty());
    /* The crate's own session threads end on their side shortly after. */
    EXPECT_TRUE(waitUntil([&] { return processThreadCount() <= baseline; }))
        << processThreadCount() << " threads, " << baseline << " before";
}

TEST_F(CrateSimShell, ClosingTheWindowWhileItStreamsJoinsEveryThread)
{
    start("127.0.0.5");
    QSystemInterface *s = connectCrate("127.0.0.5");
    ASSERT_TRUE(s);
    ASSERT_TRUE(waitUntil([&] { return s->eventReaderCount() == 1; })) << "no event reader";
    QCloseEvent close;
    QCoreApplication::sendEvent(window, &close);
    EXPECT_TRUE(close.isAccepted());
    delete window;
    window = nullptr;
    stopEventServer();
    EXPECT_TRUE(waitUntil([&] { return processThreadCount() <= baseline - 1; }))
        << processThreadCount() << " threads, " << baseline << " before";
}
