// The executor turn by turn on the fake wrapper: run-log texts, what reaches
// the wrapper and in which order, failing scripts, stop, pause and abort.
#include "KORUHVScriptExecutor.h"
#include "automation_support.h"
#include "qt_gtest_print.h"

#include <QElapsedTimer>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

const QString errOpen = QStringLiteral("<br><p style=\"text-indent:10px;\">");
const QString errClose = QStringLiteral("<br></p>");
const QString tail = QStringLiteral("</div></body></html>");

class Executor : public ::testing::Test {
protected:
    void SetUp() override
    {
        fakehv::reset();
        crate = autotest::makeCrate();
        exec.setSystemNode(crate.node());
        QObject::connect(&exec, &KORUHVScriptExecutor::fragment, [this](const QString &f) { log += f; });
        QObject::connect(&exec, &KORUHVScriptExecutor::finished, [this](int r) {
            finishedCount++;
            result = r;
        });
    }
    void TearDown() override { exec.setSystemNode(nullptr); }

    // Runs the script to its end and returns the log without the head.
    QString run(const QString &script)
    {
        log.clear();
        finishedCount = 0;
        EXPECT_TRUE(exec.start(script));
        EXPECT_TRUE(autotest::waitFor([&] { return finishedCount > 0; }));
        EXPECT_TRUE(log.startsWith(KORUHVScriptExecutor::headFragment()));
        return log.mid(KORUHVScriptExecutor::headFragment().size());
    }
    std::vector<fakehv::Call> writes() { return fakehv::callsOf("KORUHV_SetChParam"); }

    autotest::Crate crate;
    KORUHVScriptExecutor exec;
    QString log;
    int finishedCount = 0;
    int result = 99;
};

TEST_F(Executor, RunsWaitAndSetWithGoldenLog)
{
    const QString body = run(QStringLiteral("wait 50;\nset V0Set 0{1} 100;\n"));
    EXPECT_EQ(body,
              QStringLiteral("WAIT 50 ms... <b>OK</b><br>SET [V0Set] for [0{1}] to [100]... <b>OK</b><br>"
                             "<br>Script successfully executed.<br><br>") +
                  tail);
    EXPECT_EQ(result, 0);
    ASSERT_EQ(writes().size(), 1u);
    EXPECT_EQ(writes()[0].slot, 0);
    EXPECT_EQ(writes()[0].list, std::vector<unsigned short>{1});
    EXPECT_FLOAT_EQ(writes()[0].value.asF32(), 100.0f);
    EXPECT_EQ(crate.channelParam(0, 1, "V0Set")->getNodeValue().KORUHVGetValue().toFloat(), 100.0f);
}

TEST_F(Executor, StarWritesEveryOccupiedSlotInOrderAndShowsAll)
{
    const QString body = run(QStringLiteral("set V0Set * 5;"));
    EXPECT_TRUE(body.startsWith(QStringLiteral("SET [V0Set] for [ALL] to [5]... <b>OK</b><br>")));
    std::vector<std::pair<int, int>> order;
    for (const auto &c : writes())
        order.emplace_back(c.slot, c.list.at(0));
    EXPECT_EQ(order,
              (std::vector<std::pair<int, int>>{{0, 0}, {0, 1}, {0, 2}, {0, 3}, {2, 0}, {2, 1}, {2, 2}}));
}

TEST_F(Executor, RuntimeSelectionErrorsAreLoggedAndOthersStillWritten)
{
    const QString body = run(QStringLiteral("set V0Set 0{9,2} 7;"));
    EXPECT_EQ(body, QStringLiteral("SET [V0Set] for [0{9,2}] to [7]... ") + errOpen +
                        QStringLiteral(
                            "<b>ERROR</b> - SET [V0Set] for bd[0] ch[9] to [7] - Channel index [9] out of "
                            "bounds") +
                        errClose + QStringLiteral("<br>") +
                        QStringLiteral("<br>Some errors occourred in script.<br><br>") + tail);
    EXPECT_EQ(result, -1);
    ASSERT_EQ(writes().size(), 1u);
    EXPECT_EQ(writes()[0].list.at(0), 2);

    const QString body2 = run(QStringLiteral("set V0Set 0{0}:1{0}:9{1} 7;"));
    EXPECT_NE(body2.indexOf(QStringLiteral("<b>ERROR</b> - No board in slot [1] ")), -1) << body2;
    EXPECT_NE(body2.indexOf(QStringLiteral("<b>ERROR</b> - Board index [9] out of bounds")), -1) << body2;
}

TEST_F(Executor, RefusedWriteLogsItsLineWithTheWrapperCode)
{
    fakehv::system(crate.handle).crate[0].channels[1].find("V0Set")->setCode = 5;
    const QString body = run(QStringLiteral("set V0Set 0{0,1} 10;"));
    EXPECT_EQ(body, QStringLiteral("SET [V0Set] for [0{0,1}] to [10]... ") + errOpen +
                        QStringLiteral("<b>ERROR</b> - SET [V0Set] for bd[0] ch[1] to [10] ") + errClose +
                        QStringLiteral("<br><br>Some errors occourred in script.<br><br>") + tail);
    EXPECT_EQ(result, 5);
    EXPECT_EQ(writes().size(), 2u);
}

TEST_F(Executor, FailingScriptWritesNothing)
{
    for (const char *script :
         {"set V0Set 0{1} 100; SET V0Set 0{1} 1;", "set V0Set 0{1} 100; set V0Set 0{1} 5000;", ";;;",
          "wait 10; set Pw 0{0} On;"}) {
        const QString body = run(QString::fromLatin1(script));
        EXPECT_TRUE(body.startsWith(QStringLiteral("Script checking has incountered an error.<br>")))
            << script;
        EXPECT_TRUE(body.endsWith(QStringLiteral("<br>Some errors occourred in script.<br><br>") + tail))
            << script;
        EXPECT_TRUE(writes().empty()) << script;
        EXPECT_EQ(result, -1);
    }
    // The position and then the reason, escaped for the run log.
    EXPECT_NE(run(QStringLiteral("wait 1; WAIT 2;"))
                  .indexOf(QStringLiteral(
                      "Syntax error in action [2]: unknown keyword &quot;WAIT&quot; (a two-word "
                      "action starts with &quot;wait&quot;)<br>")),
              -1);
    EXPECT_EQ(run(QStringLiteral(";;")).indexOf(QStringLiteral("Syntax error")), -1);
}

TEST_F(Executor, HtmlInTokensIsEscaped)
{
    const QString body = run(QStringLiteral("set Name 0{0} <b>x&y;"));
    EXPECT_NE(body.indexOf(QStringLiteral("to [&lt;b&gt;x&amp;y]")), -1) << body;
    ASSERT_EQ(fakehv::callsOf("KORUHV_SetChName").size(), 1u);
    EXPECT_EQ(fakehv::callsOf("KORUHV_SetChName")[0].name, "<b>x&y");
}

TEST_F(Executor, OneWritePerTurn)
{
    log.clear();
    finishedCount = 0;
    ASSERT_TRUE(exec.start(QStringLiteral("set V0Set * 5;")));
    EXPECT_TRUE(writes().empty()); // start returns before the first write
    size_t seen = 0;
    while (finishedCount == 0) {
        QCoreApplication::processEvents();
        EXPECT_LE(writes().size(), seen + 1);
        seen = writes().size();
    }
    EXPECT_EQ(seen, 7u);
}

TEST_F(Executor, StopDuringWaitEndsItAtOnce)
{
    log.clear();
    ASSERT_TRUE(exec.start(QStringLiteral("wait 60000; set V0Set 0{0} 1;")));
    ASSERT_TRUE(autotest::waitFor([&] { return log.contains(QStringLiteral("WAIT 60000 ms")); }));
    exec.stop();
    // Well before the 60 s wait would have ended (a wide margin for a loaded machine).
    ASSERT_TRUE(autotest::waitFor([&] { return finishedCount > 0; }, 30000));
    EXPECT_EQ(result, KORUHVScriptExecutor::StoppedResult);
    EXPECT_TRUE(
        log.endsWith(QStringLiteral("WAIT 60000 ms... <br><br>Script stopped by the user.<br><br>") + tail))
        << log;
    EXPECT_TRUE(writes().empty());
}

TEST_F(Executor, StopBetweenWritesSendsNoMore)
{
    log.clear();
    ASSERT_TRUE(exec.start(QStringLiteral("set V0Set * 5;")));
    ASSERT_TRUE(autotest::waitFor([&] { return writes().size() >= 2; }));
    exec.stop();
    const size_t n = writes().size();
    ASSERT_TRUE(autotest::waitFor([&] { return finishedCount > 0; }));
    EXPECT_EQ(writes().size(), n);
    EXPECT_TRUE(log.endsWith(QStringLiteral("to [5]... <br>Script stopped by the user.<br><br>") + tail))
        << log;
}

TEST_F(Executor, PauseHoldsAndResumeContinues)
{
    log.clear();
    ASSERT_TRUE(exec.start(QStringLiteral("wait 150; set V0Set 0{0} 1; set V0Set 0{1} 2;")));
    ASSERT_TRUE(autotest::waitFor([&] { return log.contains(QStringLiteral("WAIT")); }));
    exec.pause();
    EXPECT_EQ(exec.state(), KORUHVScriptExecutor::Paused);
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 400)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_TRUE(writes().empty());
    exec.resume();
    // The paused time counted toward the wait: the write follows at once.
    ASSERT_TRUE(autotest::waitFor([&] { return finishedCount > 0; }));
    EXPECT_EQ(writes().size(), 2u);
    EXPECT_EQ(result, 0);
}

TEST_F(Executor, AbortIsSynchronousAndStartWhileBusyIsRefused)
{
    ASSERT_TRUE(exec.start(QStringLiteral("wait 60000;")));
    EXPECT_FALSE(exec.start(QStringLiteral("wait 1;")));
    ASSERT_TRUE(autotest::waitFor([&] { return log.contains(QStringLiteral("WAIT")); }));
    exec.abort();
    EXPECT_EQ(finishedCount, 1);
    EXPECT_EQ(result, KORUHVScriptExecutor::StoppedResult);
    EXPECT_FALSE(exec.isActive());
}

TEST_F(Executor, DetachingTheTreeAbortsTheRun)
{
    ASSERT_TRUE(exec.start(QStringLiteral("set V0Set * 5; wait 1000; set V0Set * 6;")));
    ASSERT_TRUE(autotest::waitFor([&] { return writes().size() >= 1; }));
    exec.setSystemNode(nullptr);
    crate.root.reset(); // the tree goes, as at a disconnect
    EXPECT_EQ(finishedCount, 1);
    const size_t n = writes().size();
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 100)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    EXPECT_EQ(writes().size(), n);
}

TEST_F(Executor, BoardRemovedMidRunIsFoundOut)
{
    ASSERT_TRUE(exec.start(QStringLiteral("wait 100; set V0Set 2{0} 5;")));
    ASSERT_TRUE(autotest::waitFor([&] { return log.contains(QStringLiteral("WAIT")); }));
    // Board 2 leaves during the wait: its node is replaced by an empty slot.
    KORUHVNode *root = crate.node();
    KORUHVNode *old = root->getChildren()[2];
    root->removeChildNode(2);
    delete old;
    root->insertChildNode(new KORUHVNode(), 2);
    ASSERT_TRUE(autotest::waitFor([&] { return finishedCount > 0; }));
    EXPECT_NE(log.indexOf(QStringLiteral("No board in slot [2]")), -1) << log;
    EXPECT_TRUE(writes().empty());
}

TEST_F(Executor, UnderTheTestClockAWaitPassesByItsStepsOnly)
{
    struct TestClock {
        TestClock() { KORUHVScriptExecutor::setClockForTest(true); }
        ~TestClock() { KORUHVScriptExecutor::setClockForTest(false); }
    } clock;
    log.clear();
    ASSERT_TRUE(exec.start(QStringLiteral("wait 5000; wait 1000; set V0Set 0{1} 100;")));
    ASSERT_TRUE(autotest::waitFor([&] { return log.contains(QStringLiteral("WAIT 5000 ms")); }));
    // However long the events run, the wall clock ends no wait.
    const auto run = [] {
        for (int i = 0; i < 20; ++i)
            QCoreApplication::processEvents();
    };
    run();
    KORUHVScriptExecutor::advanceClockForTest(4999);
    run();
    EXPECT_FALSE(log.contains(QStringLiteral("WAIT 1000 ms")));
    // The clock reaching the end wakes the wait.
    KORUHVScriptExecutor::advanceClockForTest(1);
    EXPECT_TRUE(autotest::waitFor([&] { return log.contains(QStringLiteral("WAIT 1000 ms")); }));
    // Time moved while paused counts toward the wait, as on the wall clock.
    exec.pause();
    KORUHVScriptExecutor::advanceClockForTest(1000);
    run();
    EXPECT_TRUE(writes().empty());
    exec.resume();
    ASSERT_TRUE(autotest::waitFor([&] { return finishedCount > 0; }));
    EXPECT_EQ(result, 0);
    EXPECT_EQ(writes().size(), 1u);
}

} // namespace
