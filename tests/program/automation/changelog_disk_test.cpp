// The change-log appender on a disk that takes only part of a write and
// then reports itself full: two systems' writers on real threads append to
// one real file, and every batch stays whole, once and in order. And the
// writer thread on a small real file system (a tmpfs mounted for the test)
// with a burst larger than its free space.
#include "KORUHVLogAppender.h"
#include "KORUHVLogBuffer.h"
#include "KORUHVLogGlobals.h"
#include "KORUHVLoggerThread.h"
#include "qt_gtest_print.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <sys/mount.h>
#include <sys/statvfs.h>
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

/* A tmpfs of `bytes` mounted on a temporary folder for one test (root
 * only); unmounted again at the end. */
class SmallFileSystem {
public:
    explicit SmallFileSystem(int bytes)
    {
        if (!dir.isValid()) {
            why = "no temporary folder";
            return;
        }
        if (::geteuid() != 0) {
            why = "mounting a small tmpfs needs root (CI runs as root)";
            return;
        }
        const QByteArray options = "size=" + QByteArray::number(bytes) + ",mode=0700";
        if (::mount("tmpfs", QFile::encodeName(dir.path()).constData(), "tmpfs",
                    MS_NOSUID | MS_NODEV | MS_NOEXEC, options.constData()) != 0) {
            why = std::string("cannot mount a tmpfs here: ") + std::strerror(errno);
            return;
        }
        mounted = true;
    }
    ~SmallFileSystem()
    {
        if (mounted)
            ::umount2(QFile::encodeName(dir.path()).constData(), MNT_DETACH);
    }
    QString filePath(const char *name) const { return dir.filePath(QString::fromLatin1(name)); }
    qint64 freeBytes() const
    {
        struct statvfs st {};
        if (::statvfs(QFile::encodeName(dir.path()).constData(), &st) != 0)
            return -1;
        return qint64(st.f_bavail) * qint64(st.f_frsize);
    }

    QTemporaryDir dir;
    bool mounted = false;
    std::string why;
};

QList<QByteArray> fileLines(const QString &path, bool *endsWhole)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    QByteArray text = f.readAll();
    *endsWhole = text.isEmpty() || text.endsWith('\n');
    text.chop(text.endsWith('\n') ? 1 : 0);
    return text.isEmpty() ? QList<QByteArray>() : text.split('\n');
}

/* The values of the lines, in file order; a line that is not whole (not of
 * the channel form with a value) gives -1. */
QVector<int> lineValues(const QList<QByteArray> &lines)
{
    static const QRegularExpression form(QStringLiteral(
        "^\\[[0-9T:.-]+\\]: \\[crate\\] bd \\[0\\] ch \\[1\\] par \\[V0Set\\] val \\[(\\d+)\\]; $"));
    QVector<int> out;
    for (const QByteArray &l : lines) {
        const QRegularExpressionMatch m = form.match(QString::fromLatin1(l));
        out.append(m.hasMatch() ? m.captured(1).toInt() : -1);
    }
    return out;
}

template <typename Pred> bool waitUntil(Pred pred, int boundMs = 120000)
{ // a hang guard only
    QElapsedTimer t;
    t.start();
    while (!pred()) {
        if (t.elapsed() > boundMs)
            return false;
        QThread::msleep(10);
    }
    return true;
}

/* A burst larger than the free space: what fits is written, in whole lines
 * and in order; the rest, and later batches behind it, follow as space comes
 * back, and nothing is lost. */
TEST(ChangeLogSmallDisk, ABurstLargerThanTheFreeSpaceWritesWhatFitsAndTheRestAsSpaceComesBack)
{
    SmallFileSystem disk(64 * 1024);
    if (!disk.mounted)
        GTEST_SKIP() << "needs a small real file system: " << disk.why;
    // A filler leaves about 20 KiB free.
    {
        QFile filler(disk.filePath("filler"));
        ASSERT_TRUE(filler.open(QIODevice::WriteOnly));
        ASSERT_EQ(filler.write(QByteArray(44 * 1024, 'f')), 44 * 1024);
    }
    const qint64 freeAtStart = disk.freeBytes();
    ASSERT_GT(freeAtStart, 8 * 1024);
    const QString path = disk.filePath("RORERAVA2020.log");
    setLogFilename(path);

    std::atomic<int> failures{0};
    QObject receiver;
    QObject::connect(
        KORUHVLogTrouble::instance(), &KORUHVLogTrouble::logWriteFailed, &receiver,
        [&](QString, QString, QString) { ++failures; }, Qt::DirectConnection);

    KORUHVLogQueue queue;
    std::thread writer([&] { KORUHVLoggerThread(&queue); });
    // Stopped and joined however the test ends.
    struct StopWriter {
        KORUHVLogQueue &queue;
        std::thread &writer;
        ~StopWriter()
        {
            KORUHVStopLogWriter(&queue);
            KORUHVAwaitLogWriter(&queue, 60000);
            if (writer.joinable())
                writer.join();
            setLogFilename(QString());
        }
    } stopWriter{queue, writer};
    auto queueLine = [&](int value, bool first) {
        auto *e = new KORUHVLogEvent;
        e->board = 0;
        e->channel = 1;
        e->parameterName = QStringLiteral("V0Set");
        e->value = value;
        KORUHVQueueLogEvent(&queue, e, first, 2, QStringLiteral("crate"));
    };
    constexpr int Burst = 604;
    for (int i = 0; i < Burst; ++i)
        queueLine(100000 + i, i == 0);
    KORUHVWakeLogWriter(&queue);
    ASSERT_TRUE(waitUntil([&] { return failures.load() > 0; })) << "the disk never filled";

    bool whole = false;
    QList<QByteArray> lines = fileLines(path, &whole);
    EXPECT_TRUE(whole) << "the file ends inside a line";
    ASSERT_FALSE(lines.isEmpty()) << "nothing of the burst was written while the disk had room";
    const qint64 lineBytes = lines[0].size() + 1;
    EXPECT_GE(qint64(lines.size()), freeAtStart / lineBytes - 1)
        << lines.size() << " lines of " << lineBytes << " bytes in " << freeAtStart << " free bytes";
    EXPECT_LT(lines.size(), Burst);
    QVector<int> values = lineValues(lines);
    for (int k = 0; k < values.size(); ++k)
        ASSERT_EQ(values[k], 100000 + k) << "line " << k << ": " << lines[k].toStdString();

    // Later one-line batches queue behind the rest of the burst.
    for (int j = 0; j < 3; ++j) {
        queueLine(200000 + j, true);
        KORUHVWakeLogWriter(&queue);
    }
    ASSERT_TRUE(QFile::remove(disk.filePath("filler"))); // space comes back
    ASSERT_TRUE(waitUntil([&] { return fileLines(path, &whole).size() >= Burst + 3; }))
        << fileLines(path, &whole).size() << " lines";

    lines = fileLines(path, &whole);
    EXPECT_TRUE(whole);
    values = lineValues(lines);
    ASSERT_EQ(values.size(), Burst + 3);
    for (int k = 0; k < values.size(); ++k)
        ASSERT_EQ(values[k], k < Burst ? 100000 + k : 200000 + (k - Burst))
            << "line " << k << ": each line once, whole and in order";

    KORUHVStopLogWriter(&queue);
    EXPECT_TRUE(KORUHVAwaitLogWriter(&queue, 60000));
    writer.join();
    EXPECT_EQ(queue.writerState->linesLost, 0);
    EXPECT_EQ(queue.writerState->linesWritten, Burst + 3);
}

} // namespace
