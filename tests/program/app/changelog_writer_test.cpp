/* The change-log writers with real threads and real files (HOME in a
 * temporary folder): a burst from two systems through the producer while the
 * writers run, a full disk that ends, and a stop while the disk stays full. */
#include "KORUHVLogAppender.h"
#include "KORUHVLogBuffer.h"
#include "KORUHVLogGlobals.h"
#include "KORUHVLoggerThread.h"
#include "changelog_support.h"
#include "shell_fixture.h"

#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QRegularExpression>
#include <QSignalSpy>

#include <atomic>
#include <map>
#include <random>
#include <thread>
#include <vector>

using namespace changelogtest;

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

INSTANTIATE_TEST_SUITE_P(Files, ChangeLogBurst, ::testing::Values(BurstCase{13, false}, BurstCase{2, true}),
                         [](const auto &info) {
                             return info.param.sharedFile ? "OneSharedFile" : "AFilePerSystem";
                         });

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
    ASSERT_TRUE(waitWithProgress(
        [&] {
            std::lock_guard<std::mutex> lock(queue.logMutex);
            return queue.pendingLogCount == 0;
        },
        [&] { return writerProgress(&queue); },
        [&] {
            std::string t;
            writerProgress(&queue, &t);
            return "batches still queued: " + t;
        }));
    ASSERT_TRUE(waitUntil([&] { return failed.count() >= 1; }, StallMs)) << "no failure reported";
    EXPECT_FALSE(QFile::exists(target));

    /* The disk frees: the writer's retry (at most a second away) writes all.
     * Every record is then in the file as its line or in a count line (which
     * bound dropped what depends on how fast the writer took the batches). */
    setLogFilename(target);
    const auto accounted = [&] {
        qint64 n = 0;
        for (const Line &l : readLines(target))
            n += l.par == QLatin1String("DroppedLogRecords") ? l.value : 1;
        return n;
    };
    ASSERT_TRUE(waitWithProgress([&] { return accounted() == seq; }, [&] { return QFileInfo(target).size(); },
                                 [&] {
                                     return "held lines and the count line not all in " +
                                            target.toStdString() + " (" + std::to_string(accounted()) +
                                            " of " + std::to_string(seq) + " records)";
                                 }));
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

/* A take by the writer may fall inside a batch the queue's bound drops: the
 * rest of that batch is dropped after it, and the whole batch is counted
 * where it stood, before the batches queued after it. */
TEST(ChangeLogQueueBound, ABatchDroppedAcrossATakeIsCountedWhereItStood)
{
    ShellTestEnvironment env;
    setLogFilename(QString());
    const QString sys = QStringLiteral("Q");
    constexpr int Full = int(KORUHVLogQueueMaxRecords);
    KORUHVLogQueue queue;
    int seq = 0;
    const auto queueEvents = [&](int batch, int from, int count) {
        for (int i = from; i < from + count; ++i) {
            auto *e = new KORUHVLogEvent;
            e->board = batch;
            e->channel = i;
            e->parameterName = QStringLiteral("V");
            e->value = seq++;
            KORUHVQueueLogEvent(&queue, e, i == 0, 2, sys);
        }
    };
    queueBatch(&queue, 2, sys, 0, Full, &seq); // the queue is full
    queueEvents(1, 0, 10);                     // batch 1 starts: dropped
    Writer writer(&queue);
    ASSERT_TRUE(waitWithProgress(
        [&] {
            std::lock_guard<std::mutex> lock(queue.writerState->mutex);
            return queue.writerState->linesTaken >= Full;
        },
        [&] { return writerProgress(&queue); },
        [&] { return std::string("the writer did not take the full queue"); }));
    queueEvents(1, 10, 490); // the rest of batch 1, still dropped
    queueBatch(&queue, 2, sys, 2, 5, &seq);
    ASSERT_TRUE(writer.stop(&queue));

    /* The queue's count may come in two adjacent lines (before and after
     * the take); nothing stands between them. */
    const QVector<Line> lines = readLines(env.path(QStringLiteral("RORERAVA2020.log")));
    ASSERT_GE(lines.size(), Full + 1 + 5);
    EXPECT_EQ(lines[Full - 1].value, Full - 1);
    int i = Full;
    qint64 counted = 0;
    for (; i < lines.size() && lines[i].par == QLatin1String("DroppedLogRecords"); ++i)
        counted += lines[i].value;
    EXPECT_EQ(counted, 500) << "the dropped batch is counted before the next one";
    ASSERT_EQ(lines.size() - i, 5);
    for (int k = 0; k < 5; ++k)
        EXPECT_EQ(lines[i + k].value, Full + 500 + k) << k;
    setLogFilename(QString());
}

TEST_F(ChangeLogFullDisk, AStopWhileTheDiskStaysFullEndsWithinTheDrainBound)
{
    setLogFilename(QStringLiteral("/dev/full"));
    KORUHVLogQueue queue;
    Writer writer(&queue);
    int seq = 0;
    queueBatch(&queue, 2, QStringLiteral("Full"), 0, 100, &seq);
    ASSERT_TRUE(waitUntil(
        [&] {
            std::lock_guard<std::mutex> lock(queue.logMutex);
            return queue.pendingLogCount == 0;
        },
        StallMs));
    /* The drain's bound (2 s) is what is tested: the writer ends although
     * the disk stays full; the margin is for a loaded machine. */
    EXPECT_TRUE(writer.stop(&queue, KORUHVLogWriterDrainMs + 60000));
    setLogFilename(QString());
}
