/* The shell against the real wrapper and the crate simulator on loopback:
 * live values of a ramping channel, and clean teardown while it streams. */
#include "KORUHVConfig.h"
#include "KORUHVNode.h"
#include "QSystemStatusBar.h"
#include "shell_sim_fixture.h"

#include <QCloseEvent>
#include <QCoreApplication>

#include <gtest/gtest.h>

namespace {

class CrateSimShell : public CrateShellTest {
protected:
    void start(const char *address)
    {
        startCrate(address);
        /* Channel 0 of slot 0 on and ramping towards 200 V. */
        sim->setChannelValue(0, 0, "V0Set", 200.0);
        sim->setChannelValue(0, 0, "Pw", 1);
    }
};

} // namespace

TEST_F(CrateSimShell, VMonFollowsTheRampOfASwitchedOnChannel)
{
    ASSERT_NO_FATAL_FAILURE(start("127.0.0.3"));
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
    ASSERT_NO_FATAL_FAILURE(start("127.0.0.4"));
    QSystemInterface *s = connectCrate("127.0.0.4");
    ASSERT_TRUE(s);
    ASSERT_TRUE(waitUntil([&] { return s->eventReaderCount() == 1; })) << "no event reader";
    ASSERT_TRUE(waitUntil([&] { return processThreadCount() >= threadsBefore + 2; }));
    ModalAnswerer answer(clickButton());
    window->disconnectFromSystem(0);
    EXPECT_TRUE(window->getSysInterfaceVector().isEmpty());
    EXPECT_TRUE(answer.seen().isEmpty());
    /* The crate's own session threads end on their side shortly after. */
    EXPECT_TRUE(waitUntil([&] { return processThreadCount() <= threadsBefore; }))
        << processThreadCount() << " threads, " << threadsBefore << " before";
}

TEST_F(CrateSimShell, ClosingTheWindowWhileItStreamsJoinsEveryThread)
{
    ASSERT_NO_FATAL_FAILURE(start("127.0.0.5"));
    QSystemInterface *s = connectCrate("127.0.0.5");
    ASSERT_TRUE(s);
    ASSERT_TRUE(waitUntil([&] { return s->eventReaderCount() == 1; })) << "no event reader";
    QCloseEvent close;
    QCoreApplication::sendEvent(window, &close);
    EXPECT_TRUE(close.isAccepted());
    delete window;
    window = nullptr;
    stopEventServer();
    EXPECT_TRUE(waitUntil([&] { return processThreadCount() <= threadsBefore - 1; }))
        << processThreadCount() << " threads, " << threadsBefore << " before";
}
