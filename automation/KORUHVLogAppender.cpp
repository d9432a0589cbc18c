#include "KORUHVLogAppender.h"

#include "KORUHVLogFormat.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QMutexLocker>
#include <QThread>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

KORUHVLogTrouble *KORUHVLogTrouble::instance()
{
    // Lives in the application's thread whichever writer asks first.
    static KORUHVLogTrouble *theInstance = [] {
        auto *t = new KORUHVLogTrouble();
        if (QCoreApplication *app = QCoreApplication::instance())
            t->moveToThread(app->thread());
        return t;
    }();
    return theInstance;
}

QMutex &KORUHVLogAppender::appendMutex()
{
    static QMutex mutex;
    return mutex;
}

KORUHVLogAppender::KORUHVLogAppender(QString name, qint64 maxHeldRecords)
    : sysName(std::move(name)), maxHeld(maxHeldRecords > 0 ? maxHeldRecords : 1)
{
}

namespace {

KORUHVLogAppender::WriteHook writeHook; // guarded by appendMutex()

ssize_t writeSome(int fd, const char *data, size_t size)
{
    if (writeHook)
        return writeHook(fd, data, size);
    return ::write(fd, data, size);
}

/* Appends what of the bytes fits, in whole lines: when the file takes only
 * part (a full disk), what it took past the last whole line is cut off
 * again, so the file never ends inside a line. Returns the count of bytes
 * that stay in the file (all, or up to the end of a line; up to inside a
 * line only when the cut was impossible, e.g. another program appended
 * meanwhile) and the error text when not all of them went. Called under
 * appendMutex(). */
qint64 appendToFile(const QString &path, const QByteArray &bytes, QString *error)
{
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) {
        *error = QString::fromLocal8Bit(std::strerror(errno));
        return 0;
    }
    struct stat before {};
    const bool sized = ::fstat(fd, &before) == 0 && S_ISREG(before.st_mode);
    qint64 done = 0;
    while (done < bytes.size()) {
        const ssize_t n = writeSome(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            *error = QString::fromLocal8Bit(std::strerror(n < 0 ? errno : ENOSPC));
            break;
        }
        done += n;
    }
    if (done > 0 && done < bytes.size() && sized) {
        const qint64 whole = bytes.lastIndexOf('\n', done - 1) + 1; // up to the last whole line
        struct stat after {};
        if (whole < done && ::fstat(fd, &after) == 0 && after.st_size == before.st_size + done &&
            ::ftruncate(fd, before.st_size + whole) == 0)
            done = whole;
    }
    if (::close(fd) != 0 && done == bytes.size()) {
        // A failed close may mean the data did not reach the file; the
        // bytes are not written again (that could double lines), only
        // reported.
        *error = QString::fromLocal8Bit(std::strerror(errno));
    }
    return done;
}

/* Files that hold part of a batch an appender still has to finish (what did
 * not fit, or the rest of a line whose cut was impossible): no other
 * appender writes there until it is finished or its appender gives it up.
 * Guarded by appendMutex(). */
QHash<QString, const KORUHVLogAppender *> &openTails()
{
    static QHash<QString, const KORUHVLogAppender *> tails;
    return tails;
}

} // namespace

void KORUHVLogAppender::setWriteHookForTest(WriteHook hook)
{
    QMutexLocker lock(&appendMutex());
    writeHook = std::move(hook);
}

KORUHVLogAppender::~KORUHVLogAppender()
{
    QMutexLocker lock(&appendMutex());
    releaseTail();
}

void KORUHVLogAppender::releaseTail()
{
    if (!tailPath.isEmpty() && openTails().value(tailPath) == this)
        openTails().remove(tailPath);
    tailPath.clear();
}

bool KORUHVLogAppender::writeHeld(const QString &path)
{
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
            // The rest of a line left in a file goes to that file.
            const QString target = tailPath.isEmpty() ? path : tailPath;
            if (const KORUHVLogAppender *owner = openTails().value(target); owner && owner != this) {
                error = QStringLiteral("the file ends in another system's unfinished batch");
                break;
            }
            const qint64 n = appendToFile(target, c.bytes, &error);
            if (n < c.bytes.size()) {
                if (n > 0) {
                    // The lines that went are written; the rest of the batch
                    // follows them into that file before anything else.
                    const qint64 lines =
                        qMin<qint64>(c.bytes.left(n).count('\n'), qMax<qint64>(c.records - 1, 0));
                    c.bytes.remove(0, n); // keep from the first byte not written
                    c.records -= lines;
                    heldCount -= lines;
                    written += lines;
                    if (c.bytes.startsWith('[')) // the rest starts with a line of its own
                        if (const qsizetype end = c.bytes.indexOf("]: "); end > 1)
                            c.firstTs = QString::fromLatin1(c.bytes.mid(1, end - 1));
                    tailPath = target;
                    openTails().insert(target, this);
                }
                break;
            }
            releaseTail();
            heldCount -= c.records;
            written += c.records;
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

QString KORUHVLogAppender::heldFrom() const
{
    for (const Chunk &c : held)
        if (c.records > 0)
            return c.firstTs;
    return QString();
}

bool KORUHVLogAppender::append(const QString &path, const QByteArray &text, qint64 records,
                               const QString &firstTs)
{
    if (!text.isEmpty()) {
        if (heldCount + records > maxHeld && !held.empty()) {
            // The newest batch goes whole, so order is kept; a count line
            // takes its place.
            dropped += records;
            if (held.back().dropped > 0 && held.back().records == 0 && held.back().bytes.isEmpty())
                held.back().dropped += records;
            else
                held.push_back({QByteArray(), 0, records, QString()});
        } else {
            held.push_back({text, records, 0, firstTs});
            heldCount += records;
        }
    }
    return writeHeld(path);
}

void KORUHVLogAppender::noteDropped(qint64 records)
{
    if (records <= 0)
        return;
    dropped += records;
    if (!held.empty() && held.back().dropped > 0 && held.back().records == 0 && held.back().bytes.isEmpty())
        held.back().dropped += records;
    else
        held.push_back({QByteArray(), 0, records, QString()});
}

bool KORUHVLogAppender::retry(const QString &path)
{
    if (held.empty())
        return true;
    return writeHeld(path);
}

bool KORUHVLogAppender::drain(const QString &path, int timeoutMs)
{
    QElapsedTimer t;
    t.start();
    while (!retry(path)) {
        if (t.elapsed() >= timeoutMs)
            return false;
        QThread::msleep(100);
    }
    return true;
}
