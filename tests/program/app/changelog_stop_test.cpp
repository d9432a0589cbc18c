/* Stopping a system's change-log writer is bounded: a write blocked on a hung
 * file system neither holds a disconnect nor the program's exit; the operator
 * sees the wait past a second, and the lines that were not written are named
 * in the program's log with their count, also when the disk stays full. */
#include "KORUHVLogAppender.h"
#include "KORUHVLogGlobals.h"
#include "KORUHVLoggerThread.h"
#include "QSystemInterface.h"
#include "changelog_support.h"
#include "shell_fixture.h"

#include <QElapsedTimer>
#include <QProgressDialog>
#include <QTimer>

#include <condition_variable>
#include <mutex>
#include <thread>

using namespace changelogtest;

namespace {

/* Warnings of the program's log, from any thread, while it lives. */
class WarningLog {
public:
    WarningLog()
    {
        current = this;
        previous = qInstallMessageHandler(&WarningLog::handle);
    }
    ~WarningLog()
    {
        qInstallMessageHandler(previous);
        current = nullptr;
    }
    QStringList lines()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return seen;
    }
    QString find(const QString &part)
    {
        for (const QString &l : lines())
            if (l.contains(part))
                return l;
        return QString();
    }

private:
    static void handle(QtMsgType type, const QMessageLogContext &context, const QString &text)
    {
        if (WarningLog *log = current) {
            std::lock_guard<std::mutex> lock(log->mutex);
            log->seen.append(text);
        }
        if (previous && type != QtWarningMsg)
            previous(type, context, text);
    }
    static inline WarningLog *current = nullptr;
    static inline QtMessageHandler previous = nullptr;
    std::mutex mutex;
    QStringList seen;
};

/* A file system whose writes hang until released. Shared with the hook, so
 * a writer left blocked in it never outlives it. */
struct HungDisk {
    std::mutex mutex;
    std::condition_variable changed;
    bool open = false;
    int entered = 0;
    void release()
    {
        std::lock_guard<std::mutex> lock(mutex);
        open = true;
        changed.notify_all();
    }
};

void queueLines(QSystemInterface *sys, int batch, int lines)
{
    for (int i = 0; i < lines; ++i) {
        auto *e = new KORUHVLogEvent;
        e->board = batch;
        e->channel = i;
        e->parameterName = QStringLiteral("VMon");
        e->value = i;
        KORUHVQueueLogEvent(sys, e, i == 0, 2, QStringLiteral("Crate"));
    }
    KORUHVWakeLogWriter(sys);
}

enum class Leave { Disconnect, Exit };

class ChangeLogStop : public ShellTest, public ::testing::WithParamInterface<Leave> {
protected:
    void TearDown() override
    {
        KORUHVLogAppender::setWriteHookForTest({});
        KORUHVSetLogWriterStopBoundForTest(0);
        setLogFilename(QString());
        ShellTest::TearDown();
    }
};

TEST_P(ChangeLogStop, AWriteHungOnTheFileSystemHoldsNeitherDisconnectNorExit)
{
    constexpr int BoundMs = 3000;
    KORUHVSetLogWriterStopBoundForTest(BoundMs);
    ModalAnswerer answerer(clickButton()); // the last removal opens the connection dialog
    ASSERT_EQ(connect(), 0);
    QSystemInterface *sys = window->getSysInterfaceVector().value(0);
    ASSERT_TRUE(sys);
    sys->startLogWriter();
    const std::shared_ptr<KORUHVLogWriterState> state = sys->writerState;

    auto disk = std::make_shared<HungDisk>();
    KORUHVLogAppender::setWriteHookForTest([disk](int fd, const char *data, size_t size) -> ssize_t {
        std::unique_lock<std::mutex> lock(disk->mutex);
        ++disk->entered;
        disk->changed.notify_all();
        disk->changed.wait(lock, [&] { return disk->open; });
        lock.unlock();
        return ::write(fd, data, size);
    });
    /* Never left hanging, also when the stop is not bounded: then the
     * elapsed time below tells. */
    std::thread guard([disk] {
        std::unique_lock<std::mutex> lock(disk->mutex);
        disk->changed.wait_for(lock, std::chrono::seconds(60), [&] { return disk->open; });
        disk->open = true;
        disk->changed.notify_all();
    });

    queueLines(sys, 0, 5);
    {
        std::unique_lock<std::mutex> lock(disk->mutex);
        ASSERT_TRUE(disk->changed.wait_for(lock, std::chrono::milliseconds(StallMs), [&] {
            return disk->entered > 0;
        })) << "the writer never wrote";
    }
    queueLines(sys, 1, 3); // waits in the queue behind the hung write

    WarningLog log;
    bool progressShown = false;
    QTimer look;
    QObject::connect(&look, &QTimer::timeout, [&] {
        if (auto *p = window->findChild<QProgressDialog *>(QStringLiteral("logWriterProgress")))
            progressShown = progressShown || p->isVisible();
    });
    look.start(20);
    QElapsedTimer took;
    took.start();
    if (GetParam() == Leave::Disconnect) {
        window->disconnectFromSystem(0);
        EXPECT_TRUE(window->getSysInterfaceVector().isEmpty());
    } else {
        window->close();
    }
    const qint64 ms = took.elapsed();
    look.stop();
    disk->release();
    guard.join();

    EXPECT_LT(ms, 45000) << "the wait for the writer is bounded (" << BoundMs << " ms)";
    EXPECT_TRUE(progressShown) << "a wait past a second shows the operator a progress dialog";
    const QString warning = log.find(QStringLiteral("lines not written"));
    EXPECT_TRUE(warning.contains(QStringLiteral("change log of Crate: 8 lines not written")))
        << warning.toStdString();
    EXPECT_TRUE(warning.contains(QStringLiteral("RORERAVA2020.log"))) << warning.toStdString();

    /* The writer left behind ends by itself once the file system answers. */
    EXPECT_TRUE(waitUntil(
        [&] {
            std::lock_guard<std::mutex> lock(state->mutex);
            return state->ended;
        },
        StallMs));
}

INSTANTIATE_TEST_SUITE_P(Leaving, ChangeLogStop, ::testing::Values(Leave::Disconnect, Leave::Exit),
                         [](const auto &info) { return info.param == Leave::Exit ? "Exit" : "Disconnect"; });

class ChangeLogStopFullDisk : public ::testing::Test {
protected:
    void SetUp() override { setLogFilename(QStringLiteral("/dev/full")); }
    void TearDown() override { setLogFilename(QString()); }
    ShellTestEnvironment env;
};

TEST_F(ChangeLogStopFullDisk, LinesStillRefusedWhenTheWriterEndsAreNamedInTheLog)
{
    WarningLog log;
    KORUHVLogQueue queue;
    Writer writer(&queue);
    int seq = 0;
    queueBatch(&queue, 2, QStringLiteral("Full"), 0, 100, &seq);
    ASSERT_TRUE(writer.stop(&queue));
    const QString warning = log.find(QStringLiteral("lines not written"));
    EXPECT_TRUE(warning.contains(QStringLiteral("change log of Full: 100 lines not written to /dev/full")))
        << warning.toStdString();
    EXPECT_TRUE(warning.contains(QStringLiteral("(the lines from "))) << "names the time span of the lines";
    std::lock_guard<std::mutex> lock(queue.writerState->mutex);
    EXPECT_EQ(queue.writerState->linesLost, 100);
}

} // namespace
