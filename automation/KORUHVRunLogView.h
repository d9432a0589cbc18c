/* The run log's view: puts the executor's HTML fragments into a text browser
 * at a cost per fragment that does not grow with the log.
 *
 * - Every line (a "<br>" ends one) is a block of its own, so an insertion
 *   lays out one short block and not the whole log (the toolkit lays out a
 *   block whole, and line breaks inside one block would make the log one
 *   ever longer block).
 * - Fragments are gathered and put in at most every FlushIntervalMs, and at
 *   once by flush(), so a fast run repaints a few times a second and not
 *   once per action. The owner flushes when a run ends.
 * - The view keeps the newest MaxLines lines. Past that, the oldest are
 *   dropped in steps of a tenth, and the first line of the view says how
 *   many earlier lines of the run are no longer shown and how many of them
 *   reported an ERROR. No file keeps the run log.
 *
 * The plain text of the view reads as the fragments' text did. GUI thread
 * only; a child of its browser. */
#ifndef KORUHVRUNLOGVIEW_H
#define KORUHVRUNLOGVIEW_H

#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

class QTextBrowser;

class KORUHVRunLogView : public QObject {
    Q_OBJECT

public:
    static constexpr int MaxLines = 2000;
    static constexpr int FlushIntervalMs = 50;

    explicit KORUHVRunLogView(QTextBrowser *browser);

    /* Queues an HTML fragment; it shows within FlushIntervalMs. */
    void append(const QString &html);
    /* Puts every queued fragment into the view now and shows the newest line. */
    void flush();
    /* Empties the view, the queue and the counts of dropped lines. */
    void clear();

    /* Lines of this run dropped from the view so far, and how many of them
     * reported an ERROR. */
    qint64 droppedLines() const { return dropped; }
    qint64 droppedErrorLines() const { return droppedErrors; }

    /* The text of the first line while lines are dropped. */
    static QString droppedNote(qint64 lines, qint64 errors);

private:
    void insertLines(const QString &html);
    void trim();

    QPointer<QTextBrowser> browser;
    QString pending;
    QTimer flushTimer;
    qint64 dropped = 0;
    qint64 droppedErrors = 0;
    bool noteShown = false;
};

#endif
