// The executor end to end: scripts run against the crate simulator through
// the real wrapper; what reaches the crate, in which order, refused writes,
// and a stop that lands while a slow write is under way.
#include "KORUHVConfig.h"
#include "KORUHVNode.h"
#include "KORUHVNodeProperty.h"
#include "KORUHVScriptExecutor.h"
#include "KORUHVWrapper.h"
#include "crate/crate_sim.h"
#include "crate/crate_transport.h"
#include "qt_gtest_print.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>

namespace {

using korusim::CrateFault;
using korusim::CrateModel;
using korusim::CrateSim;

template <typename Pred> bool waitFor(Pred pred, int timeoutMs = 120000)
{ // a hang guard only
    QElapsedTimer t;
    t.start();
    while (!pred()) {
        if (t.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents();
        QThread::msleep(1);
    }
    return true;
}

class ExecutorOverCrate : public ::testing::Test {
protected:
    void SetUp() override
    {
        korusim::CrateSimOptions opts;
        opts.ramp = false;
        sim = std::make_unique<CrateSim>(CrateModel::smallCrate(), "127.0.0.2", 0, opts);
        ASSERT_TRUE(sim->start()) << sim->errorText();
        koruhv::CrateTransport_SetPortForTest(sim->port());
        char address[] = "127.0.0.2";
        ASSERT_EQ(KORUHV_InitSystem(2, 0, address, "admin", "admin", &handle), 0);
        root.reset(buildTree());
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
        if (handle >= 0)
            KORUHV_DeinitSystem(handle);
        sim->stop();
    }

    KORUHVNode *buildTree()
    {
        auto *sys = new KORUHVNode();
        sys->KORUHVPrepareNode("HV", NODE_SYSTEM, 2, 0, "127.0.0.2", "admin", "admin");
        for (KORUHVNode *slot : KORUHVConfig::KORUHVConfigCreateBoards(handle)) {
            sys->addChildNode(slot);
            if (slot->getNodeType() != NODE_BOARD)
                continue;
            const unsigned short s = slot->getBdSlotNr();
            for (KORUHVNode *ch : KORUHVConfig::KORUHVConfigCreateChannels(handle, s, slot->getBdChCount())) {
                slot->addChildNode(ch);
                for (KORUHVNode *p :
                     KORUHVConfig::KORUHVConfigCreateChannelParams(handle, 2, s, ch->getChIdx())) {
                    for (KORUHVNodeProperty *prop :
                         KORUHVConfig::KORUHVConfigCreateChannelParameterProperties(
                             handle, p->getNodeName(), p->getParWrapperType(), s, ch->getChIdx()))
                        p->addProperty(prop);
                    ch->addParameter(p);
                }
            }
        }
        return sys;
    }

    QString runToEnd(const QString &script)
    {
        log.clear();
        done = false;
        EXPECT_TRUE(exec.start(script));
        EXPECT_TRUE(waitFor([&] { return done; }));
        return log.mid(KORUHVScriptExecutor::headFragment().size());
    }

    std::unique_ptr<CrateSim> sim;
    int handle = -1;
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
