/* Event readers and the handlers they feed, over the fake wrapper: value
 * routing, batch flags, dropped early batches, lost streams, the change log
 * and joined threads. */
#include "KORUHVConfig.h"
#include "KORUHVEventSink.h"
#include "KORUHVLogBuffer.h"
#include "KORUHVNode.h"
#include "QSystemStatusBar.h"
#include "ShellGlobals.h"
#include "shell_fixture.h"

#include <QFile>
#include <QSignalSpy>

#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

/* One end of a socket pair for a reader (the reader owns it); the other end
 * is closed by the test. */
int readerSocket(int *peer)
{
    int sv[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, sv) != 0)
        return -1;
    *peer = sv[1];
    return sv[0];
}

EventRecord record(int type)
{
    EventRecord e;
    std::memset(&e, 0, sizeof e);
    e.type = type;
    e.board = -1;
    e.channel = -1;
    return e;
}

KORUHVNode *channelParam(QSystemInterface *s, int channel, const char *name)
{
    return KORUHVConfig::KORUHVConfigGetNodeFromItemId(s->getSystemNode(), QLatin1String(name), 0, channel);
}

} // namespace

class EventsTest : public ShellTest {
protected:
    void SetUp() override
    {
        ShellTest::SetUp();
        ASSERT_EQ(connect(), 0);
        sys = window->getSysInterfaceVector()[0];
        fd = readerSocket(&peer);
        ASSERT_GE(fd, 0);
    }
    void TearDown() override
    {
        ShellTest::TearDown();
        ::close(peer);
    }
    QSystemInterface *sys = nullptr;
    int fd = -1;
    int peer = -1;
};

TEST_F(EventsTest, AValueReachesItsNodeAndTheLightsFollowTheStatus)
{
    KORUHV_SYSTEMSTATUS_t status{};
    status.System = 1;
    fakehv::queueEvents(fd, {fakehv::valueEvent(0, 0, 1, "VMon", fakehv::Raw::f32(123.5f))}, status);
    ASSERT_TRUE(sys->startEventReader(fd));
    KORUHVNode *vmon = channelParam(sys, 1, "VMon");
    ASSERT_TRUE(vmon);
    EXPECT_TRUE(waitUntil([&] { return vmon->getNodeValue().KORUHVGetValue().toFloat() == 123.5f; }));
    QSystemStatusBar *bar = sys->getSystemStatusBarWidget();
    /* System word 1 and board words 0: Sync and Async on, Unsync off. */
    EXPECT_TRUE(waitUntil(
        [&] { return bar->ledPicture(1) == QLatin1String(":/Resources/buttons/led_warn_mid.png"); }));
    EXPECT_EQ(bar->ledPicture(0), QStringLiteral(":/Resources/buttons/led_on_mid.png"));
    EXPECT_EQ(bar->ledPicture(2), QStringLiteral(":/Resources/buttons/led_off_mid.png"));
}

TEST_F(EventsTest, FirstAndLastFlagsFollowTheRecordsOfABatch)
{
    /* Collected on the GUI thread (the reader raises the signal). */
    QObject receiver;
    QVector<QPair<bool, bool>> flags;
    int statuses = 0;
    QObject::connect(
        window, &MainWindow::updateValueAndWidget, &receiver,
        [&](QSystemInterface *, int, int, QString, IDValue_t, bool first, bool last, quint64) {
            flags.append({first, last});
        },
        Qt::QueuedConnection);
    QObject::connect(
        window, &MainWindow::systemEvStatus, &receiver, [&] { ++statuses; }, Qt::QueuedConnection);
    fakehv::queueEvents(fd, {record(2), fakehv::valueEvent(0, 0, 0, "VMon", fakehv::Raw::f32(1.f)),
                             fakehv::valueEvent(0, 0, 1, "VMon", fakehv::Raw::f32(2.f))});
    fakehv::queueEvents(fd, {});
    ASSERT_TRUE(sys->startEventReader(fd));
    ASSERT_TRUE(waitUntil([&] { return flags.size() == 2 && statuses == 2; }));
    /* The keep-alive counted as the first record; an empty batch still raises its status. */
    EXPECT_EQ(flags[0], qMakePair(false, false));
    EXPECT_EQ(flags[1], qMakePair(false, true));
}

TEST_F(EventsTest, BatchesBeforeTheReadyFlagAreDropped)
{
    QObject receiver;
    int raised = 0;
    QObject::connect(
        window, &MainWindow::updateValueAndWidget, &receiver, [&] { ++raised; }, Qt::QueuedConnection);
    QObject::connect(
        window, &MainWindow::systemEvStatus, &receiver, [&] { ++raised; }, Qt::QueuedConnection);
    sys->setReady(false);
    fakehv::queueEvents(fd, {fakehv::valueEvent(0, 0, 0, "VMon", fakehv::Raw::f32(5.f))});
    ASSERT_TRUE(sys->startEventReader(fd));
    /* Taken and dropped: the reader has asked again since. */
    ASSERT_TRUE(waitUntil([&] { return fakehv::callsOf("KORUHV_GetEventData").size() >= 3; }));
    QCoreApplication::processEvents();
    EXPECT_EQ(raised, 0);
}

TEST_F(EventsTest, AFailedStreamReportsTheSystemOnce)
{
    fakehv::queueEventFailure(fd, KORUHV_ERR_EVENT_SOCKET);
    ModalAnswerer answer(clickButton());
    ASSERT_TRUE(sys->startEventReader(fd));
    ASSERT_TRUE(waitUntil([&] { return answer.seen().size() == 1; }));
    EXPECT_FALSE(sys->isReady());
    EXPECT_EQ(sys->getSystemNode()->getConnectionStatus(), CONN_KO);
    EXPECT_EQ(
        answer.seen()[0].text,
        QStringLiteral("Crate is no longer connected.\nPlease check your network and try to reconnect."));
}

TEST_F(EventsTest, AStreamThatFailsWhileTheUserDisconnectsSaysNothing)
{
    QSignalSpy spy(window, &MainWindow::systemDisconnected);
    ASSERT_TRUE(sys->startEventReader(fd));
    sys->setIsDisconnecting(true);
    /* What the reader does when its read fails now. */
    window->emitSystemDisconnected(sys, 0, sys->getSerial());
    EXPECT_EQ(spy.size(), 0);
    EXPECT_FALSE(sys->startEventReader(-1)); /* no new reader once disconnecting */
    ModalAnswerer answer(clickButton());
    window->disconnectFromSystem(0);
    QCoreApplication::processEvents();
    EXPECT_TRUE(answer.seen().isEmpty());
}

TEST_F(EventsTest, TransparentModeAndLiveInsertionSwitchTheStateWord)
{
    window->handleTransparentMode(sys, sys->getSerial());
    EXPECT_EQ(sys->getSystemStatusBarWidget()->connStatText(), QStringLiteral("TRANSPARENT MODE ACTIVE"));
    EXPECT_EQ(sys->getSystemStatusBarWidget()->connStatStyle(), QStringLiteral("QLabel {color : red; }"));
    window->handleEventLiveInsertion(sys, true, true, sys->getSerial());
    EXPECT_EQ(sys->getSystemStatusBarWidget()->connStatText(), QStringLiteral("CONNECTED"));
    ::close(fd);
}

TEST_F(EventsTest, LiveInsertionBuildsAndSubscribesANewBoard)
{
    fakehv::System &script = fakehv::system(sys->getSystemHandle());
    fakehv::Board &b = script.addBoard(5, 1, "HB3001", 9);
    b.params.push_back({"BdStatus", {3, 0, fakehv::Raw::u32(0)}});
    b.channels[0].params.push_back({"VMon", {0, 0, fakehv::Raw::f32(0.f)}});
    fakehv::clearCalls();
    window->handleEventLiveInsertion(sys, true, true, sys->getSerial());
    KORUHVNode *slot5 = sys->getSystemNode()->getChildren()[5];
    EXPECT_EQ(slot5->getNodeType(), NODE_BOARD);
    EXPECT_EQ(slot5->getChildren().size(), 1);
    const auto board = fakehv::callsOf("KORUHV_SubscribeBoardParams");
    ASSERT_EQ(board.size(), 1u);
    EXPECT_EQ(board[0].slot, 5);
    EXPECT_TRUE(fakehv::callsOf("KORUHV_SubscribeSystemParams").empty());
    /* A second record finds nothing new and subscribes nothing. */
    fakehv::clearCalls();
    window->handleEventLiveInsertion(sys, true, true, sys->getSerial());
    EXPECT_TRUE(fakehv::callsOf("KORUHV_SubscribeBoardParams").empty());
    ::close(fd);
}

TEST_F(EventsTest, LoggedCrateValuesOfABatchAreWrittenAsOneBuffer)
{
    const QString logPath = env->path(QStringLiteral("changes.log"));
    {
        QMutexLocker lock(&logfileMutex);
        logFilename = logPath;
    }
    KORUHVNode *vmon = channelParam(sys, 0, "VMon");
    vmon->setHasLogEnabled(true);
    sys->setIsLogStarted(true);
    fakehv::queueEvents(fd, {fakehv::valueEvent(0, 0, 0, "VMon", fakehv::Raw::f32(1.f)),
                             fakehv::valueEvent(0, 0, 0, "VMon", fakehv::Raw::f32(1.f)),
                             fakehv::valueEvent(0, 0, 0, "VMon", fakehv::Raw::f32(2.5f))});
    ASSERT_TRUE(sys->startEventReader(fd));
    QStringList lines;
    ASSERT_TRUE(waitUntil([&] {
        QFile f(logPath);
        if (!f.open(QIODevice::ReadOnly))
            return false;
        lines = QString::fromLocal8Bit(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        return lines.size() == 3;
    }));
    /* A crate's records are queued even when the value did not change. */
    EXPECT_TRUE(lines[0].endsWith(QStringLiteral("[Crate] bd [0] ch [0] par [VMon] val [1]; ")));
    EXPECT_TRUE(lines[2].endsWith(QStringLiteral("val [2.5]; ")));
    EXPECT_EQ(lines[0].left(26), lines[2].left(26)); /* one buffer, one time stamp */
    QMutexLocker lock(&logfileMutex);
    logFilename.clear();
}

TEST_F(EventsTest, DisconnectingJoinsTheReaderAndTheWriter)
{
    const int before = processThreadCount();
    for (int i = 0; i < 20; ++i)
        fakehv::queueEvents(fd, {fakehv::valueEvent(0, 0, 0, "VMon", fakehv::Raw::f32(float(i)))});
    ASSERT_TRUE(sys->startEventReader(fd));
    ASSERT_TRUE(waitUntil([&] { return processThreadCount() >= before + 2; }));
    window->disconnectFromSystem(0);
    EXPECT_EQ(processThreadCount(), before);
}

TEST(LogWriter, WritesWhatIsPendingBeforeItEnds)
{
    ShellTestEnvironment env;
    const QString logPath = env.path(QStringLiteral("w.log"));
    {
        QMutexLocker lock(&logfileMutex);
        logFilename = logPath;
    }
    KORUHVLogQueue queue;
    std::thread writer([&] { KORUHVLoggerThread(&queue); });
    for (int i = 0; i < 50; ++i) {
        auto *e = new KORUHVLogEvent;
        e->board = 1;
        e->parameterName = QStringLiteral("V");
        e->value = i;
        KORUHVQueueLogEvent(&queue, e, i % 5 == 0, 2, QStringLiteral("S"));
        if (i % 7 == 0)
            KORUHVWakeLogWriter(&queue);
    }
    KORUHVStopLogWriter(&queue);
    writer.join();
    /* After the stop nothing more is queued. */
    KORUHVQueueLogEvent(&queue, new KORUHVLogEvent, true, 2, QStringLiteral("S"));
    EXPECT_EQ(queue.pendingLogBuffer, nullptr);
    QFile f(logPath);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromLocal8Bit(f.readAll()).count(QLatin1Char('\n')), 50);
    QMutexLocker lock(&logfileMutex);
    logFilename.clear();
}

/* Many batches, each with every VMon of board 0 (and one channel twice):
 * every value reaches the routing in the order received, none is skipped,
 * and each cell ends showing the last one. */
TEST_F(EventsTest, EveryValueIsAppliedInOrderAndTheLastOneStays)
{
    QVector<KORUHVNode *> vmons;
    for (int ch = 0; KORUHVNode *n = channelParam(sys, ch, "VMon"); ++ch)
        vmons.append(n);
    ASSERT_GE(vmons.size(), 2);
    const int batches = 300;
    QObject receiver;
    QVector<QVector<float>> seen(vmons.size());
    QObject::connect(window, &MainWindow::updateValueAndWidget, &receiver,
                     [&](QSystemInterface *, int, int ch, QString name, IDValue_t v, bool, bool, quint64) {
                         if (name == QLatin1String("VMon") && ch >= 0 && ch < seen.size())
                             seen[ch].append(v.FloatValue);
                     });
    auto valueOf = [](int batch, int ch, int k) { return float(batch * 1000 + ch * 10 + k); };
    for (int b = 0; b < batches; ++b) {
        std::vector<EventRecord> recs;
        for (int ch = 0; ch < vmons.size(); ++ch)
            recs.push_back(fakehv::valueEvent(0, 0, ch, "VMon", fakehv::Raw::f32(valueOf(b, ch, 0))));
        recs.push_back(fakehv::valueEvent(0, 0, 1, "VMon", fakehv::Raw::f32(valueOf(b, 1, 1))));
        fakehv::queueEvents(fd, recs);
    }
    ASSERT_TRUE(sys->startEventReader(fd));
    const int total = batches * (vmons.size() + 1);
    ASSERT_TRUE(waitUntil(
        [&] {
            int n = 0;
            for (const QVector<float> &v : seen)
                n += v.size();
            return n == total;
        },
        120000));
    for (int ch = 0; ch < vmons.size(); ++ch) {
        QVector<float> want;
        for (int b = 0; b < batches; ++b) {
            want.append(valueOf(b, ch, 0));
            if (ch == 1)
                want.append(valueOf(b, 1, 1));
        }
        EXPECT_EQ(seen[ch], want) << ch;
        const float last = want.last();
        EXPECT_EQ(vmons[ch]->getNodeValue().KORUHVGetValue().toFloat(), last) << ch;
        EXPECT_TRUE(
            vmons[ch]->text().startsWith(QString::number(double(last), 'f', vmons[ch]->getNodeDecimals())))
            << ch << " " << vmons[ch]->text().toStdString();
    }
}

namespace {

/* Takes the reports the window would get, on the reader's thread. */
struct RecordingSink : KORUHVEventSink {
    std::atomic<int> batches{0};
    std::atomic<int> records{0};
    void postEventBatch(QSystemInterface *, const KORUHV_SYSTEMSTATUS_t &, EventRecord *r, int count,
                        quint64) override
    {
        ++batches;
        records += count;
        if (r)
            KORUHV_FreeEventData(&r);
    }
    void emitSystemDisconnected(QSystemInterface *, int, quint64) override {}
    void emitTcpServerError() override {}
    bool bindEventConnection(int, const QString &) override { return false; }
};

} // namespace

TEST_F(EventsTest, TheReaderReportsToTheSinkItIsGiven)
{
    RecordingSink sink;
    KORUHVSetEventSink(&sink);
    fakehv::queueEvents(fd, {fakehv::valueEvent(0, 0, 1, "VMon", fakehv::Raw::f32(7.0f))}, {});
    ASSERT_TRUE(sys->startEventReader(fd));
    EXPECT_TRUE(waitUntil([&] { return sink.records.load() == 1; }, 60000));
    /* Stop the reader before the sink goes; the window takes its place again. */
    sys->setIsDisconnecting(true);
    sys->stopEventReaders(false);
    KORUHVSetEventSink(window);
    EXPECT_EQ(sink.batches.load(), 1);
    KORUHVNode *vmon = channelParam(sys, 1, "VMon");
    ASSERT_TRUE(vmon);
    EXPECT_NE(vmon->getNodeValue().KORUHVGetValue().toFloat(), 7.0f) << "the window got nothing";
}
