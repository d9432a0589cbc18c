/* Helpers of the change-log writer tests: a writer thread that can be
 * stopped and awaited, batches queued as the event handlers queue them, the
 * log file read back line by line, and waits that give up only when nothing
 * moves for minutes (a loaded machine is slow, not stuck). */
#ifndef CHANGELOG_SUPPORT_H
#define CHANGELOG_SUPPORT_H

#include "KORUHVLogBuffer.h"
#include "KORUHVLoggerThread.h"
#include "app_test_support.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QThread>
#include <QVector>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace changelogtest {

/* Only a hang guard: this long without any progress. */
constexpr int StallMs = 180000;

/* What the writer of a queue has done so far, as text for a failure message
 * and as a number that grows while it works. */
inline long long writerProgress(KORUHVLogQueue *queue, std::string *text = nullptr)
{
    long long queued = 0;
    {
        std::lock_guard<std::mutex> lock(queue->logMutex);
        queued = queue->pendingRecords;
    }
    const std::shared_ptr<KORUHVLogWriterState> s = queue->writerState;
    std::lock_guard<std::mutex> lock(s->mutex);
    if (text)
        *text = "lines queued " + std::to_string(queued) + ", taken by the writer " +
                std::to_string(s->linesTaken) + ", written " + std::to_string(s->linesWritten) + ", ended " +
                (s->ended ? "yes" : "no");
    return s->linesTaken + s->linesWritten + (s->ended ? 1 : 0);
}

/* Polls cond (processing events) until it holds; fails only when progress()
 * has not changed for StallMs, saying what was pending (describe()). */
inline ::testing::AssertionResult waitWithProgress(const std::function<bool()> &cond,
                                                   const std::function<long long()> &progress,
                                                   const std::function<std::string()> &describe)
{
    QElapsedTimer still;
    still.start();
    long long last = progress();
    while (!cond()) {
        const long long now = progress();
        if (now != last) {
            last = now;
            still.restart();
        } else if (still.elapsed() > StallMs) {
            return ::testing::AssertionFailure()
                   << "no progress for " << StallMs / 1000 << " s; " << describe();
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(2);
    }
    return ::testing::AssertionSuccess();
}

/* A writer thread whose end can be awaited. */
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
    /* Stops the writer and joins it once it has ended. Without a bound the
     * wait lasts while the writer makes progress; with one, the end within
     * timeoutMs is the behaviour under test. */
    ::testing::AssertionResult stop(KORUHVLogQueue *q, int timeoutMs = 0)
    {
        KORUHVStopLogWriter(q);
        const auto done = [this] { return ended.load(); };
        const auto describe = [q] {
            std::string text;
            writerProgress(q, &text);
            return "writer not ended: " + text;
        };
        ::testing::AssertionResult r = ::testing::AssertionSuccess();
        if (timeoutMs > 0) {
            if (!waitUntil(done, timeoutMs))
                r = ::testing::AssertionFailure()
                    << "not ended within " << timeoutMs << " ms; " << describe();
        } else {
            r = waitWithProgress(
                done, [q] { return writerProgress(q); }, describe);
        }
        if (r)
            thread.join();
        return r;
    }
    KORUHVLogQueue *queue;
    std::atomic<bool> ended{false};
    std::thread thread;
};

/* Queues one batch as the event handlers do: first flag on its first event,
 * the writer woken after its last. Values count on from *seq. */
inline void queueBatch(KORUHVLogQueue *queue, int sysType, const QString &sysName, int batch, int size,
                       int *seq)
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

/* The lines of the file; a line of neither form has sys "<malformed>...". */
inline QVector<Line> readLines(const QString &path)
{
    static const QRegularExpression channelLine(QStringLiteral(
        R"(^\[([^\]]+)\]: \[([^\]]+)\] bd \[(\d+)\] ch \[(\d+)\] par \[(\w+)\] val \[(\d+)\]; $)"));
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
            l = {m.captured(1),         m.captured(2),         m.captured(5),
                 m.captured(3).toInt(), m.captured(4).toInt(), m.captured(6).toLongLong()};
        } else if (const auto s = systemLine.match(text); s.hasMatch()) {
            l = {s.captured(1), s.captured(2), s.captured(3), -1, -1, s.captured(4).toLongLong()};
        } else {
            l.sys = QStringLiteral("<malformed>") + text;
        }
        out.append(l);
    }
    return out;
}

} // namespace changelogtest

#endif
