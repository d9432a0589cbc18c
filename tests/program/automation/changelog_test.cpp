// The change log's text, file names and appender, with real files in
// temporary folders (and /dev/full for a full disk).
#include "KORUHVLogAppender.h"
#include "KORUHVLogFormat.h"
#include "KORUHVLogGlobals.h"
#include "qt_gtest_print.h"

#include <QCoreApplication>
#include <QFile>
#include <QSignalSpy>
#include <QStringList>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>

using namespace korulog;

namespace {

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

struct LineCase {
    int board, channel;
    const char *name;
    QVariant value;
    const char *line;
};

TEST(ChangeLogText, LineForms)
{
    const QString ts = QStringLiteral("2026-01-02T03:04:05.006");
    const LineCase cases[] = {
        {3, 7, "VMon", QVariant(1.5f), "[T]: [S] bd [3] ch [7] par [VMon] val [1.5]; \n"},
        {0, -1, "BdStatus", QVariant(5u), "[T]: [S] bd [0] par [BdStatus] val [5]; \n"},
        {-1, 2, "V0Set", QVariant(-4), "[T]: [S] bd [-1] ch [2] par [V0Set] val [-4]; \n"},
        {-1, -1, "Temp", QVariant(qint16(-3)), "[T]: [S] par [Temp] val [-3]; \n"},
        {-1, -1, "", QVariant(7), "[T]: [S] live inserted/removed board; \n"},
        {1, 1, "V%1", QVariant(QStringLiteral("%2 %%")), "[T]: [S] bd [1] ch [1] par [V%1] val [%2 %%]; \n"},
        {1, 1, "F", QVariant(1234567.0f), "[T]: [S] bd [1] ch [1] par [F] val [1.23457e+06]; \n"},
        {1, 1, "F", QVariant(0.5f), "[T]: [S] bd [1] ch [1] par [F] val [0.5]; \n"},
        {1, 1, "F", QVariant(0.00001f), "[T]: [S] bd [1] ch [1] par [F] val [1e-05]; \n"},
        {1, 1, "F", QVariant(100.0f), "[T]: [S] bd [1] ch [1] par [F] val [100]; \n"},
        {1, 1, "Pw", QVariant(true), "[T]: [S] bd [1] ch [1] par [Pw] val [true]; \n"},
        {1, 1, "Pw", QVariant(false), "[T]: [S] bd [1] ch [1] par [Pw] val [false]; \n"},
        {1, 1, "U", QVariant(4000000000u), "[T]: [S] bd [1] ch [1] par [U] val [4000000000]; \n"},
    };
    for (const LineCase &c : cases) {
        QString out;
        appendLine(out, QStringLiteral("T"), QStringLiteral("S"), c.board, c.channel,
                   QString::fromLatin1(c.name), c.value);
        EXPECT_EQ(out, QString::fromLatin1(c.line));
    }
    // Three events of one buffer: one timestamp, insertion order.
    QString three;
    for (int ch = 0; ch < 3; ++ch)
        appendLine(three, ts, QStringLiteral("%1crate"), 0, ch, QStringLiteral("VMon"), QVariant(ch));
    EXPECT_EQ(three.count(QStringLiteral("[2026-01-02T03:04:05.006]: [%1crate] bd [0] ch [")), 3);
    EXPECT_LT(three.indexOf(QStringLiteral("ch [0]")), three.indexOf(QStringLiteral("ch [2]")));
    EXPECT_EQ(timestampText(QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5, 6))), ts);
    EXPECT_EQ(droppedLine(QStringLiteral("T"), QStringLiteral("S"), 12),
              QStringLiteral("[T]: [S] par [DroppedLogRecords] val [12]; \n"));
}

TEST(ChangeLogText, FileNames)
{
    struct {
        const char *home;
        const char *folder;
    } folders[] = {
        {"/home/user", "/home/user"},
        {"/home/user/snap/app/5", "/home/user"},
        {"/home/snapper", "/home/snapper"},
        {"/home/snapper/snap/x", "/home/snapper"},
        {"/snap/app", "/"},
    };
    for (const auto &f : folders)
        EXPECT_EQ(defaultLogFolder(QString::fromLatin1(f.home)), QString::fromLatin1(f.folder)) << f.home;
    EXPECT_EQ(logFilePath(QString(), QStringLiteral("/home/u"), 13, QStringLiteral("10.0.0.7")),
              QStringLiteral("/home/u/VUDIZERUDar_10.0.0.7.log"));
    EXPECT_EQ(logFilePath(QString(), QStringLiteral("/home/u/snap/a/5"), 2, QStringLiteral("HV")),
              QStringLiteral("/home/u/RORERAVA2020.log"));
    EXPECT_EQ(logFilePath(QString(), QStringLiteral("/home/u"), 13, QStringLiteral("dev/ttyUSB0")),
              QStringLiteral("/home/u/VUDIZERUDar_dev_ttyUSB0.log"));
    EXPECT_EQ(logFilePath(QStringLiteral("/tmp/x.log"), QStringLiteral("/home/u"), 13, QStringLiteral("a")),
              QStringLiteral("/tmp/x.log"));
    EXPECT_EQ(logFilePath(QString(), QStringLiteral("/snap/a"), 2, QStringLiteral("HV")),
              QStringLiteral("/RORERAVA2020.log"));
}

TEST(ChangeLogText, LocaleCodeset)
{
    const QByteArray saved = qgetenv("LC_ALL");
    qputenv("LC_ALL", "C");
    EXPECT_EQ(encodeForLog(QStringLiteral("\u00e9")), QByteArray("\xe9"));
    qputenv("LC_ALL", "C.UTF-8");
    EXPECT_EQ(encodeForLog(QStringLiteral("\u00e9")), QByteArray("\xc3\xa9"));
    if (saved.isNull())
        qunsetenv("LC_ALL");
    else
        qputenv("LC_ALL", saved);
}

TEST(ChangeLogGlobals, FilenameUnderItsLock)
{
    setLogFilename(QStringLiteral("/tmp/a.log"));
    EXPECT_EQ(currentLogFilename(), QStringLiteral("/tmp/a.log"));
    setLogFilename(QString());
    EXPECT_TRUE(currentLogFilename().isEmpty());
}

TEST(ChangeLogAppender, AppendsNeverTruncates)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("log.log"));
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("old\n");
    }
    KORUHVLogAppender a(QStringLiteral("HV"));
    EXPECT_TRUE(a.append(path, "one\n", 1));
    EXPECT_TRUE(a.append(path, "two\nthree\n", 2));
    EXPECT_EQ(readAll(path), QByteArray("old\none\ntwo\nthree\n"));
    // A folder that does not exist: the batch is held, not lost.
    EXPECT_FALSE(a.append(dir.filePath(QStringLiteral("none/x.log")), "four\n", 1));
    EXPECT_TRUE(a.retry(path));
    EXPECT_EQ(readAll(path), QByteArray("old\none\ntwo\nthree\nfour\n"));
}

TEST(ChangeLogAppender, FullDiskHoldsBoundsCountsAndResumes)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("log.log"));
    QSignalSpy spy(KORUHVLogTrouble::instance(), &KORUHVLogTrouble::logWriteFailed);
    KORUHVLogAppender a(QStringLiteral("HV"), 10);
    int next = 0;
    auto batch = [&](int lines) {
        QByteArray b;
        for (int i = 0; i < lines; ++i)
            b += "line " + QByteArray::number(next++) + "\n";
        return b;
    };
    EXPECT_FALSE(a.append(QStringLiteral("/dev/full"), batch(4), 4));
    EXPECT_FALSE(a.append(QStringLiteral("/dev/full"), batch(4), 4));
    EXPECT_EQ(a.heldRecords(), 8);
    EXPECT_FALSE(a.append(QStringLiteral("/dev/full"), batch(4), 4)); // past the bound: dropped whole
    EXPECT_EQ(a.droppedRecords(), 4);
    EXPECT_FALSE(a.retry(QStringLiteral("/dev/full")));
    EXPECT_EQ(spy.count(), 1); // once per episode
    EXPECT_EQ(spy.at(0).at(1).toString(), QStringLiteral("/dev/full"));
    EXPECT_EQ(a.troubleEpisodes(), 1);

    EXPECT_TRUE(a.append(path, batch(2), 2));
    QByteArray expected;
    for (int i : {0, 1, 2, 3, 4, 5, 6, 7})
        expected += "line " + QByteArray::number(i) + "\n";
    const QByteArray text = readAll(path);
    ASSERT_TRUE(text.startsWith(expected)) << text.constData();
    EXPECT_TRUE(text.mid(expected.size()).contains("par [DroppedLogRecords] val [4]; \nline 12\nline 13\n"));
    EXPECT_EQ(text.count("line 8\n"), 0);
    EXPECT_EQ(a.droppedRecords(), 0);

    // Drops upstream of the appender are counted in place as well.
    a.noteDropped(3);
    EXPECT_TRUE(a.append(path, "after\n", 1));
    EXPECT_TRUE(readAll(path).endsWith("par [DroppedLogRecords] val [3]; \nafter\n"));

    // A new episode is reported again.
    EXPECT_FALSE(a.append(QStringLiteral("/dev/full"), batch(1), 1));
    EXPECT_EQ(spy.count(), 2);
    EXPECT_TRUE(a.drain(path, 1000));
}

TEST(ChangeLogAppender, TroubleReachesTheGuiThreadQueued)
{
    QObject receiver;
    int calls = 0;
    bool onGuiThread = false;
    QObject::connect(KORUHVLogTrouble::instance(), &KORUHVLogTrouble::logWriteFailed, &receiver,
                     [&](QString sys, QString, QString) {
                         calls++;
                         onGuiThread = QThread::currentThread() == receiver.thread();
                         EXPECT_EQ(sys, QStringLiteral("W"));
                     });
    std::thread writer([] {
        KORUHVLogAppender a{QStringLiteral("W")};
        a.append(QStringLiteral("/dev/full"), "x\n", 1);
        a.append(QStringLiteral("/dev/full"), "y\n", 1); // same episode: no second signal
    });
    writer.join();
    EXPECT_EQ(calls, 0); // not called on the writer thread
    QCoreApplication::processEvents();
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(onGuiThread);
}

TEST(ChangeLogAppender, TwoWritersNeverInterleaveBatches)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("shared.log"));
    auto writer = [&](char tag) {
        KORUHVLogAppender a{QString(QLatin1Char(tag))};
        for (int b = 0; b < 2000; ++b) {
            QByteArray batch;
            const int lines = 1 + b % 50;
            for (int i = 0; i < lines; ++i)
                batch +=
                    QByteArray(1, tag) + " " + QByteArray::number(b) + " " + QByteArray::number(i) + "\n";
            a.append(path, batch, lines);
        }
    };
    std::thread t1(writer, 'A'), t2(writer, 'B');
    t1.join();
    t2.join();
    const QList<QByteArray> lines = readAll(path).split('\n');
    // Each batch's lines are consecutive and complete, batches in order.
    int expectBatch[2] = {0, 0};
    int i = 0;

    while (i < lines.size() && !lines[i].isEmpty()) {
        const QList<QByteArray> f = lines[i].split(' ');
        ASSERT_EQ(f.size(), 3);
        const int w = f[0] == "A" ? 0 : 1;
        const int b = f[1].toInt();
        ASSERT_EQ(b, expectBatch[w]);
        const int n = 1 + b % 50;
        for (int k = 0; k < n; ++k, ++i) {
            ASSERT_LT(i, lines.size());
            ASSERT_EQ(lines[i], f[0] + " " + QByteArray::number(b) + " " + QByteArray::number(k));
        }
        expectBatch[w]++;
    }
    EXPECT_EQ(expectBatch[0], 2000);
    EXPECT_EQ(expectBatch[1], 2000);
}

} // namespace
