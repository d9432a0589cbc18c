// The executor end to end: scripts run against the crate simulator through
// the real wrapper; what reaches the crate, in which order, refused writes,
// and a stop that lands while a slow write is under way.
#include "KORUHVNode.h"
#include "KORUHVScriptExecutor.h"
#include "KORUHVWrapper.h"
#include "qt_gtest_print.h"
#include "sim_crate_fixture.h"
#include "wait_progress.h"

#include <QCoreApplication>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>

namespace {

using korusim::CrateFault;

// Runs the event loop until pred holds; the bound is a hang guard only.
template <typename Pred> bool waitFor(Pred pred)
{
    return koru_test::waitFor(pred, [] {
        QCoreApplication::processEvents();
        QThread::msleep(1);
    });
}

class ExecutorOverCrate : public koru_test::OverSimCrate {
protected:
    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(OverSimCrate::SetUp());
        root.reset(crateTree({}));
        exec.setSystemNode(root.get());
        QObject::connect(&exec, &KORUHVScriptExecutor::fragment, [this](const QString &f) { log += f; });
        QObject::connect(&exec, &KORUHVScriptExecutor::finished, [this](int r) {
            done = true;
            result = r;
        });
        sim->clearRequests();
    }
    void TearDown() override
    {
        exec.setSystemNode(nullptr);
        root.reset();
        OverSimCrate::TearDown();
    }

    QString runToEnd(const QString &script)
    {
        log.clear();
        done = false;
        EXPECT_TRUE(exec.start(script));
        EXPECT_TRUE(waitFor([&] { return done; }));
        return log.mid(KORUHVScriptExecutor::headFragment().size());
    }

    std::unique_ptr<KORUHVNode> root;
    KORUHVScriptExecutor exec;
    QString log;
    bool done = false;
    int result = 99;
};

TEST_F(ExecutorOverCrate, ScriptReachesTheCrateInOrder)
{
    const QString body = runToEnd(QStringLiteral("set V0Set 0{0,1} 100; wait 300; set Pw 0{*} 1;"));
    EXPECT_EQ(body, QStringLiteral("SET [V0Set] for [0{0,1}] to [100]... <b>OK</b><br>"
                                   "WAIT 300 ms... <b>OK</b><br>"
                                   "SET [Pw] for [0{ALL}] to [1]... <b>OK</b><br>"
                                   "<br>Script successfully executed.<br><br></div></body></html>"));
    EXPECT_EQ(result, 0);
    const auto writes = sim->requestsFor("SETCHPARAM");
    ASSERT_EQ(writes.size(), 6u);
    for (size_t i = 0; i < writes.size(); ++i) {
        const bool v0 = i < 2;
        EXPECT_NE(writes[i].body.find(v0 ? "V0Set" : "Pw"), std::string::npos) << writes[i].body;
        EXPECT_EQ(writes[i].status, 0);
    }
    EXPECT_DOUBLE_EQ(*sim->channelValue(0, 1, "V0Set"), 100.0);
    for (unsigned ch = 0; ch < 4; ++ch)
        EXPECT_EQ(*sim->channelRaw(0, ch, "Pw"), 1u);
    EXPECT_TRUE(sim->protocolErrors().empty());
}

TEST_F(ExecutorOverCrate, RefusedWriteLogsItsLine)
{
    CrateFault f;
    f.keyword = "SETCHPARAM";
    f.action = CrateFault::Refuse;
    f.count = 1;
    sim->addFault(f);
    const QString body = runToEnd(QStringLiteral("set V0Set 0{0,1} 50;"));
    EXPECT_NE(body.indexOf(QStringLiteral("<b>ERROR</b> - SET [V0Set] for bd[0] ch[0] to [50] ")), -1)
        << body;
    EXPECT_TRUE(
        body.endsWith(QStringLiteral("<br>Some errors occourred in script.<br><br></div></body></html>")));
    EXPECT_NE(result, 0);
    EXPECT_EQ(sim->requestsFor("SETCHPARAM").size(), 2u);
    EXPECT_DOUBLE_EQ(*sim->channelValue(0, 1, "V0Set"), 50.0);
}

TEST_F(ExecutorOverCrate, StopDuringASlowWriteSendsNoSecond)
{
    CrateFault f;
    f.keyword = "SETCHPARAM";
    f.action = CrateFault::Delay;
    f.delay = std::chrono::milliseconds(500);
    f.count = -1;
    sim->addFault(f);
    log.clear();
    done = false;
    bool timerFired = false;
    // Due while the first write blocks the GUI thread: it runs between writes.
    QTimer::singleShot(100, [&] {
        timerFired = true;
        exec.stop();
    });
    ASSERT_TRUE(exec.start(QStringLiteral("set V0Set 0{0,1,2} 10;")));
    ASSERT_TRUE(waitFor([&] { return done; }));
    EXPECT_TRUE(timerFired);
    EXPECT_EQ(result, KORUHVScriptExecutor::StoppedResult);
    EXPECT_EQ(sim->requestsFor("SETCHPARAM").size(), 1u);
    EXPECT_TRUE(log.endsWith(QStringLiteral("<br>Script stopped by the user.<br><br></div></body></html>")));
}

TEST_F(ExecutorOverCrate, FailingScriptSendsNothing)
{
    const QString body = runToEnd(QStringLiteral("set V0Set 0{0} 10; set V0Set 0{0} 1e9;"));
    EXPECT_TRUE(
        body.startsWith(QStringLiteral("Script checking has incountered an error.<br>"
                                       "Syntax error in action [2]: value &quot;1e9&quot; for V0Set: out "
                                       "of range (0 to 3000)<br>")))
        << body;
    EXPECT_TRUE(sim->requestsFor("SETCHPARAM").empty());
}

} // namespace
