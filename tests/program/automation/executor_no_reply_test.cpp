// A system that does not answer: the first write whose reply bound ran out
// ends the run with a line saying so, instead of every further write waiting
// that bound again; a refused write that is no time-out goes on as always.
#include "KORUHVScriptExecutor.h"
#include "automation_support.h"
#include "qt_gtest_print.h"

#include <gtest/gtest.h>

namespace {

struct NoReplyCase {
    int sysType;
    int code;
    bool stops;
};

void PrintTo(const NoReplyCase &c, std::ostream *os)
{
    *os << "system type " << c.sysType << ", code " << c.code;
}

class ExecutorNoReply : public ::testing::TestWithParam<NoReplyCase> {};

TEST_P(ExecutorNoReply, TheFirstTimedOutWriteEndsTheRun)
{
    const NoReplyCase c = GetParam();
    fakehv::reset();
    autotest::Crate crate = autotest::makeCrate();
    crate.node()->setSystemType(c.sysType);
    for (auto &ch : fakehv::system(crate.handle).crate[0].channels)
        ch.find("V0Set")->setCode = c.code;

    KORUHVScriptExecutor exec;
    exec.setSystemNode(crate.node());
    QString log;
    int finished = 0, result = 99;
    QObject::connect(&exec, &KORUHVScriptExecutor::fragment, [&](const QString &f) { log += f; });
    QObject::connect(&exec, &KORUHVScriptExecutor::finished, [&](int r) {
        ++finished;
        result = r;
    });
    ASSERT_TRUE(exec.start(QStringLiteral("set V0Set 0{0,1,2} 5; wait 1; set V0Set 0{3} 6;")));
    ASSERT_TRUE(autotest::waitFor([&] { return finished > 0; }));
    exec.setSystemNode(nullptr);

    EXPECT_EQ(result, c.code);
    EXPECT_TRUE(
        log.endsWith(QStringLiteral("<br>Some errors occourred in script.<br><br></div></body></html>")))
        << log;
    const QString silent = QStringLiteral("<b>ERROR</b> - System [crate] does not answer");
    if (c.stops) {
        EXPECT_EQ(fakehv::callsOf("KORUHV_SetChParam").size(), 1u) << "one write attempted";
        EXPECT_NE(log.indexOf(QStringLiteral("<b>ERROR</b> - SET [V0Set] for bd[0] ch[0] to [5] ")), -1)
            << log;
        EXPECT_NE(log.indexOf(silent), -1) << log;
        EXPECT_EQ(log.indexOf(QStringLiteral("WAIT")), -1) << log;
    } else {
        EXPECT_EQ(fakehv::callsOf("KORUHV_SetChParam").size(), 4u);
        EXPECT_EQ(log.indexOf(silent), -1) << log;
    }
}

INSTANTIATE_TEST_SUITE_P(Codes, ExecutorNoReply,
                         ::testing::Values(NoReplyCase{2, 4, true},   // "Timeout from server"
                                           NoReplyCase{0, 4, true},   // the other crate family
                                           NoReplyCase{16, 3, true},  // reply not received
                                           NoReplyCase{13, 29, true}, // no reply line
                                           NoReplyCase{2, 5, false},  // a refusal, not a time-out
                                           NoReplyCase{13, 4, false}  // a text module's own error reply
                                           ));

} // namespace
