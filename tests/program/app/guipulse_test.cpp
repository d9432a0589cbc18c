/* The GUI thread's pulse during a connection: pending events run only while
 * a scope with a shown modal progress dialog is open. */
#include "KORUHVGuiPulse.h"

#include <QMetaObject>
#include <QProgressDialog>
#include <QWidget>

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>

namespace {

/* Posts a call to the GUI thread; true once it ran. */
struct Posted {
    QObject context;
    bool ran = false;
    Posted()
    {
        QMetaObject::invokeMethod(
            &context, [this] { ran = true; }, Qt::QueuedConnection);
    }
};

void pastThePulse()
{
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
}

} // namespace

TEST(GuiPulse, RunsPendingEventsOnlyBehindAShownModalDialog)
{
    QWidget window;
    window.show();
    {
        Posted p;
        pastThePulse();
        KORUHVGuiPulse::beat(); /* no scope */
        EXPECT_FALSE(p.ran);
        KORUHVGuiPulse none(nullptr);
        pastThePulse();
        KORUHVGuiPulse::beat(); /* a scope without a dialog */
        EXPECT_FALSE(p.ran);
    }
    QProgressDialog progress(QStringLiteral("Please wait"), QString(), 0, 100, &window);
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(0);
    progress.show();
    {
        KORUHVGuiPulse pulse(&progress);
        Posted p;
        pastThePulse();
        KORUHVGuiPulse::beat();
        EXPECT_TRUE(p.ran);
        Posted q;
        pastThePulse();
        KORUHVGuiPulse::beat();
        EXPECT_TRUE(q.ran);
    }
    Posted after;
    pastThePulse();
    KORUHVGuiPulse::beat(); /* the scope has closed */
    EXPECT_FALSE(after.ran);
}

/* Events a beat runs never let further events in: a handler that rebuilds
 * something must not be interrupted halfway by another. Nor does anything
 * within a scope without a dialog. */
TEST(GuiPulse, NoBeatWithinABeatNorWithinAQuietScope)
{
    QWidget window;
    window.show();
    QProgressDialog progress(QStringLiteral("Please wait"), QString(), 0, 100, &window);
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(0);
    progress.show();
    KORUHVGuiPulse::setIntervalForTest(0);
    {
        KORUHVGuiPulse pulse(&progress);
        std::unique_ptr<Posted> inner;
        bool innerRanWithin = true, outerRan = false;
        QObject context;
        QMetaObject::invokeMethod(
            &context,
            [&] {
                outerRan = true;
                inner = std::make_unique<Posted>();
                KORUHVGuiPulse::beat();
                innerRanWithin = inner->ran;
            },
            Qt::QueuedConnection);
        KORUHVGuiPulse::beat();
        EXPECT_TRUE(outerRan);
        EXPECT_FALSE(innerRanWithin);
        {
            KORUHVGuiPulse quiet(nullptr);
            Posted p;
            KORUHVGuiPulse::beat();
            EXPECT_FALSE(p.ran);
        }
        Posted q;
        KORUHVGuiPulse::beat(); /* the quiet scope has closed */
        EXPECT_TRUE(q.ran);
    }
    KORUHVGuiPulse::setIntervalForTest(25);
}
