/* A full crate connected through the program's own path keeps serving
 * queued calls while its panels, table and board page are built: a call
 * that posts itself again each time it runs tells which stretch of the
 * build it was served in. A long stretch without events shows as a stretch
 * that served none. */
/* First: the simulator's headers use words that Qt defines as macros. */
#include "crate/crate_sim.h"
#include "crate/crate_transport.h"

#include "KORUHVEventServer.h"
#include "KORUHVGuiPulse.h"
#include "KORUHVNode.h"
#include "MainWindow.h"
#include "QSubWindow.h"
#include "app_test_support.h"

#include <QMdiSubWindow>
#include <QMetaObject>

#include <gtest/gtest.h>

#include <memory>

namespace {

/* Where the newest interface's widgets stand when a queued call is served. */
enum Stretch { BeforePanel, BeforeTable, DuringPage, BeforeShown, Other, StretchCount };

class StretchCounter : public QObject {
public:
    explicit StretchCounter(MainWindow *w) : window(w) { post(); }
    void stop() { stopped = true; }
    int served[StretchCount] = {};

private:
    void post()
    {
        QMetaObject::invokeMethod(
            this, [this] { serve(); }, Qt::QueuedConnection);
    }
    void serve()
    {
        if (stopped)
            return;
        served[where()]++;
        post();
    }
    Stretch where()
    {
        const QVector<QSystemInterface *> all = window->getSysInterfaceVector();
        QSystemInterface *s = all.isEmpty() ? nullptr : all.last();
        if (!s || s->isReady())
            return Other;
        if (!s->getSystemInfoWidget())
            return BeforePanel;
        if (!s->getSystemSubwinWidget())
            return BeforeTable;
        if (!s->getBoardInfoWidget())
            return DuringPage;
        if (!qobject_cast<QMdiSubWindow *>(s->getSystemSubwinWidget()->parentWidget()))
            return BeforeShown;
        return Other;
    }
    MainWindow *window;
    bool stopped = false;
};

} // namespace

TEST(GuiPulseConnect, AFullCrateServesQueuedCallsThroughoutItsWidgetBuild)
{
    ShellTestEnvironment env;
    startTestEventServer();
    korusim::CrateSimOptions opt;
    opt.tickPeriod = std::chrono::milliseconds(200);
    korusim::CrateSim sim(korusim::CrateModel::fullCrate(), "127.0.0.4", 0, opt);
    ASSERT_TRUE(sim.start()) << sim.errorText();
    koruhv::CrateTransport_SetPortForTest(sim.port());
    /* Every beat serves events: the count no longer depends on speed. */
    KORUHVGuiPulse::setIntervalForTest(0);
    auto *window = new MainWindow;
    window->show();
    int rc = -1;
    StretchCounter counter(window);
    {
        ModalAnswerer answer(clickButton());
        rc = window->connectSystem(2, 0, QStringLiteral("127.0.0.4"), QStringLiteral("Full"),
                                   QStringLiteral("admin"), QStringLiteral("admin"));
    }
    counter.stop();
    KORUHVGuiPulse::setIntervalForTest(25);
    EXPECT_EQ(rc, 0);
    ASSERT_FALSE(window->getSysInterfaceVector().isEmpty());
    int boards = 0;
    for (KORUHVNode *b : window->getSysInterfaceVector().last()->getSystemNode()->getChildren())
        if (b->getNodeType() != NODE_GROUP)
            ++boards;
    EXPECT_EQ(boards, 12);
    /* Between the panel and the table, once per board of the page, and
     * between the page and the table's first showing. */
    EXPECT_GE(counter.served[BeforeTable], 1);
    EXPECT_GE(counter.served[DuringPage], boards);
    EXPECT_GE(counter.served[BeforeShown], 1);
    stopEventServer();
    delete window;
    sim.stop();
    koruhv::CrateTransport_SetPortForTest(0);
}
