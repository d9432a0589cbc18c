/* A crate's change-log lines are written when their batch ends, also when
 * the batch's last record queues no line itself (a keep-alive, an item the
 * tree cannot place): no later batch or disconnect is needed. */
#include "KORUHVConfig.h"
#include "KORUHVLogGlobals.h"
#include "KORUHVNode.h"
#include "shell_fixture.h"

#include <QFile>

#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

namespace {

struct BatchEnd {
    const char *name;
    EventRecord last;
};

void PrintTo(const BatchEnd &b, std::ostream *os)
{
    *os << b.name;
}

EventRecord keepAlive()
{
    EventRecord e;
    std::memset(&e, 0, sizeof e);
    e.type = KORUHV_EVENT_KEEP_ALIVE;
    e.board = -1;
    e.channel = -1;
    return e;
}

class ChangeLogBatchEnd : public ShellTest, public ::testing::WithParamInterface<BatchEnd> {
protected:
    void TearDown() override
    {
        setLogFilename(QString());
        ShellTest::TearDown();
        if (peer >= 0)
            ::close(peer); // after the reader has gone: no lost-stream box
    }
    int peer = -1;
};

TEST_P(ChangeLogBatchEnd, TheBatchsLinesAreWrittenWithoutAnotherBatch)
{
    ASSERT_EQ(connect(), 0);
    QSystemInterface *sys = window->getSysInterfaceVector()[0];
    const QString logPath = env->path(QStringLiteral("changes.log"));
    setLogFilename(logPath);
    KORUHVNode *vmon =
        KORUHVConfig::KORUHVConfigGetNodeFromItemId(sys->getSystemNode(), QStringLiteral("VMon"), 0, 0);
    ASSERT_TRUE(vmon);
    vmon->setHasLogEnabled(true);
    sys->setIsLogStarted(true);

    int sv[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, sv), 0);
    peer = sv[1];
    fakehv::queueEvents(sv[0], {fakehv::valueEvent(0, 0, 0, "VMon", fakehv::Raw::f32(1.f)),
                                fakehv::valueEvent(0, 0, 0, "VMon", fakehv::Raw::f32(2.f)), GetParam().last});
    ASSERT_TRUE(sys->startEventReader(sv[0])); // the reader owns sv[0]
    QStringList lines;
    const auto readBack = [&] {
        QFile f(logPath);
        lines = f.open(QIODevice::ReadOnly)
                    ? QString::fromLocal8Bit(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts)
                    : QStringList();
        return lines.size() == 2;
    };
    /* The writer is woken as the batch ends; the bound is a wide margin. */
    EXPECT_TRUE(waitUntil(readBack, 60000)) << lines.size() << " lines";
}

INSTANTIATE_TEST_SUITE_P(
    LastRecord, ChangeLogBatchEnd,
    ::testing::Values(BatchEnd{"KeepAlive", keepAlive()},
                      BatchEnd{"UnknownItem",
                               fakehv::valueEvent(0, 0, 0, "NoSuchItem", fakehv::Raw::f32(5.f))}),
    [](const ::testing::TestParamInfo<BatchEnd> &i) { return std::string(i.param.name); });

} // namespace
