/* The change-log writers with real threads and real files (HOME in a
 * temporary folder): a burst from two systems through the producer while the
 * writers run, a full disk that ends, and a stop while the disk stays full. */
#include "KORUHVLogAppender.h"
#include "KORUHVLogBuffer.h"
#include "KORUHVLogGlobals.h"
#include "KORUHVLoggerThread.h"
#include "shell_fixture.h"

#include <QFile>
#include <QMessageBox>
#include <QRegularExpression>
#include <QSignalSpy>

#include <atomic>
#include <map>
#include <random>
#include <thread>
#include <vector>

namespace {

/* A writer thread whose end can be awaited with a bound. */
struct Writer {
    explicit Writer(KORUHVLogQueue *queue_)
        : queue(queue_), thread([this] {
              KORUHVLoggerThread(queue);
              ended = true;
          })
    {
    }
    ~Writer()
    {
        /* A test that failed before stop() still ends its writer (its drain
         * is bounded), never joins a thread nobody told to stop. */
        if (thread.joinable()) {
            if (!ended)
                KORUHVStopLogWriter(queue);
            thread.join();
        }
    }
    /* Stops the writer and joins it once it has ended (bounded). */
    bool stop(KORUHVLogQueue *queue, int timeoutMs = 10000)
    {
        KORUHVStopLogWriter(queue);
        if (!waitUntil([this] { return ended.load(); }, timeoutMs))
            return false;
        thread.join();
        return true;
    }
    KORUHVLogQueue *queue;
    std::atomic<bool> ended{false};
    std::thread thread;
};

/* Queues one batch as the event handlers do: first flag on its first event,
 * the writer woken after its last. Values count on from *seq. */
void queueBatch(KORUHVLogQueue *queue, int sysType, const QString &sysName, int batch, int size, int *seq)
{
    for (int i = 0; i < size; ++i) {
        auto *e = new KORUHVLogEvent;
        e->board = batch;
        e->channel = i;
        e->parameterName = QStringLiteral("V");
        e->value = (*seq)++;
        KORUHVQueueLogEvent(queue, e, i == 0, sysType, sysName);
    }
    KORUHVWakeLogWriter(queue);
}

struct Line {
    QString ts, sys, par;
    int board = -1, channel = -1;
    qint64 value = -1;
};

QVector<Line> readLines(const QString &path)
{
    static const QRegularExpression channelLine(
        QStringLiteral(R"(^\[([^\]]+)\]: \[([^\]]+)\] bd \[(\d+)\] ch \[(\d+)\] par \[(\w+)\] val \[(\d+)\]; $)"));
    static const QRegularExpression systemLine(
        QStringLiteral(R"(^\[([^\]]+)\]: \[([^\]]+)\] par \[(\w+)\] val \[(\d+)\]; $)"));
    QVector<Line> out;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return out;
    const QList<QByteArray> rows = f.readAll().split('\n');
    for (const QByteArray &row : rows) {
        if (row.isEmpty())
            continue;
        const QString text = QString::fromLatin1(row);
        Line l;
        if (const auto m = channelLine.match(text); m.hasMatch()) {
            l = {m.captured(1), m.captured(2), m.captured(5), m.captured(3).toInt(), m.captured(4).toInt(),
                 m.captured(6).toLongLong()};
        } else if (const auto s = systemLine.match(text); s.hasMatch()) {
            l = {s.captured(1), s.captured(2), s.captured(3), -1, -1, s.captured(4).toLongLong()};
        } else {
            l.sys = QStringLiteral("<malformed>") + text;
        }
        out.append(l);
    }
    return out;
}

} // namespace

struct BurstCase {
    int sysType;
    bool sharedFile;
};

class ChangeLogBurst : public ::testing::TestWithParam<BurstCase> {
protected:
    void SetUp() override { setLogFilename(QString()); }
    ShellTestEnvironment env; // HOME in a temporary folder
};

TEST_P(ChangeLogBurst, EveryLineOnceInOrderAndBatchesWhole)
{
    constexpr int Events = 60000;
    const BurstCase c = GetParam();
    const QString names[2] = {QStringLiteral("S0"), QStringLiteral("S1")};
    KORUHVLogQueue queues[2];
    std::vector<std::vector<int>> batchSizes(2);
    {
        Writer w0(&queues[0]), w1(&queues[1]);
        std::vector<std::thread> producers;
        for (int s = 0; s < 2; ++s)
            producers.emplace_back([&, s] {
                std::mt19937 rng(1234 + s);
                std::uniform_int_distribution<int> size(1, 500);
                int seq = 0;
                for (int batch = 0; seq < Events; ++batch) {
                    const int n = std::min(size(rng), Events - seq);
                    batchSizes[s].push_back(n);
                    queueBatch(&queues[s], c.sysType, names[s], batch, n, &seq);
                }
            });
        for (auto &p : producers)
            p.join();
        ASSERT_TRUE(w0.stop(&queues[0]));
        ASSERT_TRUE(w1.stop(&queues[1]));
    }

    QVector<Line> all;
    if (c.sharedFile) {
        all = readLines(env.path(QStringLiteral("RORERAVA2020.log")));
    } else {
        for (const QString &n : names)
            all += readLines(env.path(QStringLiteral("VUDIZERUDar_%1.log").arg(n)));
    }
    ASSERT_EQ(all.size(), 2 * Events);
    qint64 next[2] = {0, 0};
    /* Per system and batch: first position in the file, lines seen, time stamp. */
    std::map<std::pair<int, int>, std::tuple<int, int, QString>> batches;
    for (int i = 0; i < all.size(); ++i) {
        const Line &l = all[i];
        const int s = l.sys == names[0] ? 0 : l.sys == names[1] ? 1 : -1;
        ASSERT_GE(s, 0) << l.sys.toStdString();
        ASSERT_EQ(l.value, next[s]) << "line " << i << ": every line once, in order";
        ++next[s];
        auto [it, fresh] = batches.try_emplace({s, l.board}, i, 0, l.ts);
        auto &[first, seen, ts] = it->second;
        ASSERT_EQ(l.channel, seen) << "batch " << l.board << " of " << s;
        ASSERT_EQ(i, first + seen) << "batch " << l.board << " of " << s << " is split in the file";
        ASSERT_EQ(l.ts, ts) << "batch " << l.board << " of " << s << " written as more than one buffer";
        ++seen;
    }
    for (int s = 0; s < 2; ++s)
        for (size_t b = 0; b < batchSizes[s].size(); ++b)
            EXPECT_EQ(std::get<1>(batches[{s, int(b)}]), batchSizes[s][b]);
}

INSTANTIATE_TEST_SUITE_P(Files, ChangeLogBurst,
                         ::testing::Values(BurstCase{13, false}, BurstCase{2, true}),
                         [](const auto &info) { return info.param.sharedFile ? "OneSharedFile" : "AFilePerSystem"; });

class ChangeLogFullDisk : public ShellTest {};

TEST_F(ChangeLogFullDisk, HeldLinesArriveOnceAfterTheDiskFreesWithTheCountLineAndOneWarning)
{
    constexpr int Batch = 500;
    constexpr int Total = int(KORUHVLogAppender::DefaultMaxHeldRecords) + 20 * Batch;
    const QString target = env->path(QStringLiteral("after.log"));
    QSignalSpy failed(KORUHVLogTrouble::instance(), &KORUHVLogTrouble::logWriteFailed);
    setLogFilename(QStringLiteral("/dev/full"));
    KORUHVLogQueue queue;
    Writer writer(&queue);
    int seq = 0;
    for (int b = 0; seq < Total; ++b)
        queueBatch(&queue, 2, QStringLiteral("Full"), b, Batch, &seq);
    /* Everything reached the writer (held or dropped there). */
    ASSERT_TRUE(waitUntil([&] {
        std::lock_guard<std::mutex> lock(queue.logMutex);
        return queue.pendingLogCount == 0;
    }, 20000));
    ASSERT_TRUE(waitUntil([&] { return failed.count() >= 1; }));
    EXPECT_FALSE(QFile::exists(target));

    /* The disk frees: the writer's retry (at most a second away) writes all. */
    setLogFilename(target);
    ASSERT_TRUE(waitUntil([&] {
        const QVector<Line> l = readLines(target);
        return !l.isEmpty() && l.last().par == QLatin1String("DroppedLogRecords");
    }, 60000)); // 100,000 held lines under the sanitizers on a loaded machine
    queueBatch(&queue, 2, QStringLiteral("Full"), 9999, 10, &seq);
    ASSERT_TRUE(writer.stop(&queue));
    QCoreApplication::processEvents(); // deliver whatever the writer still posted

    const QVector<Line> lines = readLines(target);
    qint64 expect = 0;
    int countLine = -1;
    qint64 dropped = 0;
    for (int i = 0; i < lines.size(); ++i) {
        if (lines[i].par == QLatin1String("DroppedLogRecords")) {
            /* A count line stands where its dropped batches would have been
             * (the queue's own bound may add one before the appender's). */
            if (countLine < 0)
                countLine = i;
            dropped += lines[i].value;
            expect += lines[i].value;
            continue;
        }
        ASSERT_EQ(lines[i].sys, QStringLiteral("Full")) << i;
        ASSERT_EQ(lines[i].value, expect) << "line " << i << ": each held line once, in order";
        ++expect;
    }
    EXPECT_EQ(expect, seq);
    ASSERT_GT(countLine, 0);
    EXPECT_LE(countLine, KORUHVLogAppender::DefaultMaxHeldRecords) << "held lines stay within the bound";
    EXPECT_GE(dropped, Total - KORUHVLogAppender::DefaultMaxHeldRecords);
    EXPECT_EQ(lines.last().value, seq - 1) << "the batch queued after the disk freed comes last";
    EXPECT_EQ(failed.count(), 1) << "one warning per episode";
    const auto boxes = window->findChildren<QMessageBox *>(QStringLiteral("logWriteFailedBox"));
    ASSERT_EQ(boxes.size(), 1);
    EXPECT_FALSE(boxes[0]->isModal());
    EXPECT_TRUE(boxes[0]->text().contains(QStringLiteral("/dev/full")));
    setLogFilename(QString());
}

TEST_F(ChangeLogFullDisk, AStopWhileTheDiskStaysFullEndsWithinTheDrainBound)
{
    setLogFilename(QStringLiteral("/dev/full"));
    KORUHVLogQueue queue;
    Writer writer(&queue);
    int seq = 0;
    queueBatch(&queue, 2, QStringLiteral("Full"), 0, 100, &seq);
    ASSERT_TRUE(waitUntil([&] {
        std::lock_guard<std::mutex> lock(queue.logMutex);
        return queue.pendingLogCount == 0;
    }));
    /* Bound: the drain (2 s) plus one retry pause, with room for a slow machine. */
    EXPECT_TRUE(writer.stop(&queue, KORUHVLogWriterDrainMs + 5000));
    setLogFilename(QString());
}
