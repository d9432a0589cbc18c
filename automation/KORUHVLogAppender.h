/* Appends change-log text to a file, for one system's writer thread.
 *
 * Every write is checked. What a write could not put in the file is held,
 * from its first unwritten byte, and written before anything newer at the
 * next call (retry at the writer's next wake, or after retryIntervalMs), so
 * no line is lost or doubled. Held text is bounded by a number of records
 * (lines); a batch that would pass the bound is dropped whole and counted,
 * and one line of the system form ("par [DroppedLogRecords] val [n]") takes
 * the place of the dropped batches in the file when writing resumes.
 *
 * The first failure of an episode (from working to failing) is reported once
 * through KORUHVLogTrouble::instance()'s signal, which reaches receivers on
 * the GUI thread queued.
 *
 * Each append of a batch happens on a file opened for appending, under one
 * process-wide lock. A nearly full disk takes what fits, line by line: what
 * it took of a line that did not fit is cut off again (never half a line in
 * the file), and the rest of the batch is held, in order, for that file,
 * where it goes first as space comes back; no other appender writes to the
 * file until the batch is finished, so two systems' batches never
 * interleave in a shared file. Where the cut is impossible (another program
 * appended meanwhile) the rest of the line is held for that file in the
 * same way. A line is what ends in a line feed. Never hold a queue lock or
 * logfileMutex while calling in here. */
#ifndef KORUHVLOGAPPENDER_H
#define KORUHVLOGAPPENDER_H

#include <QByteArray>
#include <QMutex>
#include <QObject>
#include <QString>

#include <deque>
#include <functional>
#include <sys/types.h>

class KORUHVLogTrouble : public QObject {
    Q_OBJECT

public:
    static KORUHVLogTrouble *instance();

Q_SIGNALS:
    /* A system's change log could not be written to path (error text);
     * emitted once per episode from the writer thread. */
    void logWriteFailed(QString sysName, QString path, QString error);
};

class KORUHVLogAppender {
public:
    static constexpr qint64 DefaultMaxHeldRecords = 100000;
    static constexpr int RetryIntervalMs = 1000;

    explicit KORUHVLogAppender(QString sysName, qint64 maxHeldRecords = DefaultMaxHeldRecords);
    ~KORUHVLogAppender();
    KORUHVLogAppender(const KORUHVLogAppender &) = delete;
    KORUHVLogAppender &operator=(const KORUHVLogAppender &) = delete;

    /* Holds the batch (records lines of encoded text) behind anything still
     * held, then writes what it can to path. true when nothing is held
     * afterwards. */
    bool append(const QString &path, const QByteArray &text, qint64 records,
                const QString &firstTs = QString());
    /* Records dropped before they reached the appender (a queue past its
     * bound): counted into the next count line, written in their place. */
    void noteDropped(qint64 records);
    /* Writes what is held to path; true when nothing is held afterwards. */
    bool retry(const QString &path);
    /* Retries every 100 ms until nothing is held or timeoutMs has passed. */
    bool drain(const QString &path, int timeoutMs);

    bool hasPending() const { return !held.empty(); }
    qint64 heldRecords() const { return heldCount; }
    /* Records the file took so far. */
    qint64 writtenRecords() const { return written; }
    /* Time stamp of the oldest held line (empty when the caller gave none). */
    QString heldFrom() const;
    /* Records dropped and not yet reported in the file. */
    qint64 droppedRecords() const { return dropped; }
    /* Episodes of failure seen so far. */
    int troubleEpisodes() const { return episodes; }

    /* The lock every appender takes around its write. */
    static QMutex &appendMutex();

    /* Tests stand a disk in for write(2) (a full one, a flaky one); an empty
     * hook restores the real call. The hook runs under appendMutex(). */
    using WriteHook = std::function<ssize_t(int fd, const char *data, size_t size)>;
    static void setWriteHookForTest(WriteHook hook);

private:
    struct Chunk {
        QByteArray bytes;
        qint64 records = 0;
        qint64 dropped = 0; // a count line of records dropped here
        QString firstTs;
    };
    bool writeHeld(const QString &path);
    void releaseTail(); // under appendMutex()

    QString sysName;
    qint64 maxHeld;
    std::deque<Chunk> held;
    qint64 heldCount = 0;
    qint64 written = 0;
    qint64 dropped = 0;
    bool failing = false;
    int episodes = 0;
    QString tailPath; // a file that holds part of a batch of ours
};

#endif
