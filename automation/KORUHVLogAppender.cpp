#include "KORUHVLogAppender.h"

#include "KORUHVLogFormat.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QMutexLocker>
#include <QThread>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

KORUHVLogTrouble *KORUHVLogTrouble::instance() {
    // Lives in the application's thread whichever writer asks first.
    static KORUHVLogTrouble *theInstance = [] {
        auto *t = new KORUHVLogTrouble();
        if (QCoreApplication *app = QCoreApplication::instance())
            t->moveToThread(app->thread());
        return t;
    }();
    return theInstance;
}

QMutex &KORUHVLogAppender::appendMutex() {
    static QMutex mutex;
    return mutex;
}

KORUHVLogAppender::KORUHVLogAppender(QString name, qint64 maxHeldRecords)
    : sysName(std::move(name)), maxHeld(maxHeldRecords > 0 ? maxHeldRecords : 1) {}

namespace {

// Writes as much of bytes as the file takes; the count written, and the
// error text when not all of it went.
qint64 appendToFile(const QString &path, const QByteArray &bytes, QString *error) {
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) {
        *error = QString::fromLocal8Bit(std::strerror(errno));
        return 0;
    }
    qint64 done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            *error = QString::fromLocal8Bit(std::strerror(n < 0 ? errno : ENOSPC));
            break;
        }
        done += n;
    }
    if (::close(fd) != 0 && done == bytes.size()) {
        // A failed close may mean the data did not reach the file; the
        // bytes are not written again (that could double lines), only
        // reported.
        *error = QString::fromLocal8Bit(std::strerror(errno));
    }
    return done;
}

} // namespace

bool KORUHVLogAppender::writeHeld(const QString &path) {
    QString error;
    {
        QMutexLocker lock(&appendMutex());
        while (!held.empty()) {
            Chunk &c = held.front();
            if (c.dropped > 0 && c.bytes.isEmpty()) {
                // The count line stands where the dropped batches would have.
                c.bytes = korulog::encodeForLog(korulog::droppedLine(
                    korulog::timestampText(QDateTime::currentDateTime()), sysName, c.dropped));
            }
            const qint64 n = appendToFile(path, c.bytes, &error);
            if (n < c.bytes.size()) {
                c.bytes.remove(0, n); // keep from the first byte not written
                break;
            }
            heldCount -= c.records;
            dropped -= c.dropped;
            held.pop_front();
            error.clear();
        }
    }
    const bool ok = held.empty();
    if (!ok && !failing) {
        failing = true;
        episodes++;
        Q_EMIT KORUHVLogTrouble::instance()->logWriteFailed(sysName, path, error);
    } else if (ok) {
        failing = false;
    }
    return ok;
}

bool KORUHVLogAppender::append(const QString &path, const QByteArray &text, qint64 records) {
    if (!text.isEmpty()) {
        if (heldCount + records > maxHeld && !held.empty()) {
            // The newest batch goes whole, so order is kept; a count line
            // takes its place.
            dropped += records;
            if (held.back().dropped > 0 && held.back().records == 0 && held.back().bytes.isEmpty())
                held.back().dropped += records;
            else
                held.push_back({QByteArray(), 0, records});
        } else {
            held.push_back({text, records, 0});
            heldCount += records;
        }
    }
    return writeHeld(path);
}

void KORUHVLogAppender::noteDropped(qint64 records) {
    if (records <= 0)
        return;
    dropped += records;
    if (!held.empty() && held.back().dropped > 0 && held.back().records == 0 && held.back().bytes.isEmpty())
        held.back().dropped += records;
    else
        held.push_back({QByteArray(), 0, records});
}

bool KORUHVLogAppender::retry(const QString &path) {
    if (held.empty())
        return true;
    return writeHeld(path);
}

bool KORUHVLogAppender::drain(const QString &path, int timeoutMs) {
    QElapsedTimer t;
    t.start();
    while (!retry(path)) {
        if (t.elapsed() >= timeoutMs)
            return false;
        QThread::msleep(100);
    }
    return true;
}
