// The change-log appender on a disk that takes only part of a write and
// then reports itself full: two systems' writers on real threads append to
// one real file, and every batch stays whole, once and in order.
#include "KORUHVLogAppender.h"
#include "qt_gtest_print.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cerrno>
#include <thread>
#include <unistd.h>

namespace {

/* A disk standing in for write(2): the first write of every `every` takes
 * half of what it is given, and the call after it fails as a full disk
 * would. Runs under the appenders' lock, so plain counters do. */
struct FlakyDisk {
    explicit FlakyDisk(int every_) : every(every_)
    {
        KORUHVLogAppender::setWriteHookForTest([this](int fd, const char *data, size_t size) -> ssize_t {
            if (fullNext) {
                fullNext = false;
                errno = ENOSPC;
                return -1;
            }
            if (++calls % every == 0 && size > 1) {
                fullNext = true;
                ++cuts;
                return ::write(fd, data, size / 2);
            }
            return ::write(fd, data, size);
        });
    }
    ~FlakyDisk() { KORUHVLogAppender::setWriteHookForTest({}); }
    int every;
    int calls = 0;
    int cuts = 0;
    bool fullNext = false;
};

QByteArray batchText(char tag, int b)
{
    QByteArray batch;
    for (int i = 0, lines = 1 + b % 30; i < lines; ++i)
        batch += QByteArray(1, tag) + " " + QByteArray::number(b) + " " + QByteArray::number(i) + "\n";
    return batch;
}

TEST(ChangeLogFlakyDisk, PartialWritesNeverLeaveABrokenLineForAnotherSystemsBatch)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("RORERAVA2020.log"));
    constexpr int Batches = 600;
    FlakyDisk disk(3);
    auto writer = [&](char tag) {
        KORUHVLogAppender a{QString(QLatin1Char(tag))};
        for (int b = 0; b < Batches; ++b) {
            a.append(path, batchText(tag, b), 1 + b % 30);
            /* The writer's retry; the disk fails one call in three at most,
             * so this ends. */
            while (a.hasPending())
                a.retry(path);
        }
    };
    std::thread t1(writer, 'A'), t2(writer, 'B');
    t1.join();
    t2.join();
    ASSERT_GT(disk.cuts, 50) << "the disk cut writes";

    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = f.readAll().split('\n');
    int expectBatch[2] = {0, 0};
    int i = 0;
    while (i < lines.size() && !lines[i].isEmpty()) {
        const QList<QByteArray> head = lines[i].split(' ');
        ASSERT_EQ(head.size(), 3) << "line " << i << " is broken: " << lines[i].toStdString();
        ASSERT_TRUE(head[0] == "A" || head[0] == "B") << "line " << i << ": " << lines[i].toStdString();
        const int w = head[0] == "A" ? 0 : 1;
        const int b = head[1].toInt();
        ASSERT_EQ(b, expectBatch[w]) << "line " << i << ": each batch once, in order";
        for (int k = 0, n = 1 + b % 30; k < n; ++k, ++i) {
            ASSERT_LT(i, lines.size());
            ASSERT_EQ(lines[i], head[0] + " " + QByteArray::number(b) + " " + QByteArray::number(k))
                << "line " << i << ": batch " << b << " of " << head[0].toStdString() << " is not whole";
        }
        ++expectBatch[w];
    }
    EXPECT_EQ(i, lines.size() - 1) << "nothing after the last whole batch";
    EXPECT_EQ(expectBatch[0], Batches);
    EXPECT_EQ(expectBatch[1], Batches);
}

/* Where a cut cannot be undone (here: another program appended meanwhile),
 * the rest of the line goes to that file first and the other system waits. */
TEST(ChangeLogFlakyDisk, ALineThatCannotBeCutIsFinishedBeforeAnotherSystemWrites)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("RORERAVA2020.log"));
    bool cutOnce = true, full = false;
    KORUHVLogAppender::setWriteHookForTest([&](int fd, const char *data, size_t size) -> ssize_t {
        if (full) {
            errno = ENOSPC;
            return -1;
        }
        if (cutOnce) {
            cutOnce = false;
            full = true;
            const ssize_t n = ::write(fd, data, size / 2);
            /* Another program's line lands behind the half line. */
            QFile other(path);
            if (other.open(QIODevice::Append))
                other.write("X other program\n");
            return n;
        }
        return ::write(fd, data, size);
    });
    KORUHVLogAppender a{QStringLiteral("A")}, b{QStringLiteral("B")};
    EXPECT_FALSE(a.append(path, "A 0 0\nA 0 1\nA 0 2\n", 3)); // cut inside "A 0 1"
    full = false;
    EXPECT_FALSE(b.append(path, "B 0 0\n", 1)) << "B waits while A's line is open";
    EXPECT_TRUE(a.retry(path));
    EXPECT_TRUE(b.retry(path));
    KORUHVLogAppender::setWriteHookForTest({});
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray text = f.readAll();
    EXPECT_TRUE(text.endsWith("X other program\n 1\nA 0 2\nB 0 0\n")) << text.toStdString();
}

} // namespace
