/* Runs an action script against one system's node tree as a timer-driven
 * state machine on the GUI thread: each turn does at most one channel write
 * or arms one wait, then returns to the event loop. No nested event loops, so
 * Stop, Pause and closing the window are plain slot calls between turns.
 *
 * The executor keeps only the system node; boards, channels and parameters
 * are looked up in the tree at every write, so a tree that changes between
 * turns (board removal) is read as it is. Before the system node itself is
 * deleted, the owner calls setSystemNode(nullptr), which aborts a run.
 *
 * The run log is HTML, emitted fragment by fragment through fragment(). */
#ifndef KORUHVSCRIPTEXECUTOR_H
#define KORUHVSCRIPTEXECUTOR_H

#include "KORUHVScriptLanguage.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QVector>

class KORUHVNode;

class KORUHVScriptExecutor : public QObject {
    Q_OBJECT

public:
    enum State { Idle, Running, Paused, Stopping };

    /* Run results: 0 all actions succeeded, StoppedResult when stopped, else
     * the last non-zero action result (-1 script or selection error, or the
     * code of a refused write). */
    static constexpr int StoppedResult = -2;
    static constexpr int ErrorResult = -1;

    explicit KORUHVScriptExecutor(QObject *parent = nullptr);
    ~KORUHVScriptExecutor() override;

    /* Null aborts a running script at once (the tree is going away). */
    void setSystemNode(KORUHVNode *system);
    KORUHVNode *systemNode() const { return system; }

    /* Checks the script and starts it; a script that fails the check is not
     * run: its log says so and finished() follows at once. false (nothing
     * done) when a run is still in progress. */
    bool start(const QString &script);
    void pause();
    /* Continues a paused run (time spent paused counts toward a wait). */
    void resume();
    /* Ends a wait at once, a run before its next write; finished() follows
     * from the event loop. */
    void stop();
    /* Stops at once, synchronously: the stopped closing is logged and
     * finished() is emitted before this returns. */
    void abort();

    State state() const { return runState; }
    bool isActive() const { return runState != Idle; }
    int lastResult() const { return result; }

    /* Whether a refused write's code says the system gave no reply within
     * the wrapper's reply bound ("Timeout from server" of the crates, a reply
     * not received of the P8080 link, no reply line of the text links): the
     * run stops there instead of waiting that bound once per write. */
    static bool isNoReplyCode(int systemType, int code);

    /* Tests move waits by a clock of their own instead of the wall clock:
     * while it is on, a wait reads the time from it and no timer wakes it;
     * advancing it wakes every waiting executor (from the event loop). Off,
     * the default, waits follow the wall clock. */
    static void setClockForTest(bool on);
    static void advanceClockForTest(qint64 ms);

    /* Fixed run-log pieces. */
    static QString headFragment();
    static QString closingFragment(int result);

Q_SIGNALS:
    void fragment(const QString &html);
    void stateChanged(int state);
    void finished(int result);

private Q_SLOTS:
    void turn();

private:
    struct Op {
        enum Kind { Log, LogError, Write, Wait, EndAction } kind = Log;
        QString text;
        int board = -1;
        int channel = -1;
        qint64 ms = 0;
    };

    void setState(State s);
    void finishRun(int runResult);
    void expandAction(const QString &action);
    /* false when the system did not answer (the run is to stop). */
    bool doWrite(const Op &op);
    void scheduleTurn();
    // Time waited in the current wait; the wait's timer armed for the rest.
    qint64 waited() const;
    void armWait(qint64 left);

    KORUHVNode *system = nullptr;
    State runState = Idle;
    QVector<QString> actions;
    int nextAction = 0;
    QVector<Op> ops;
    int nextOp = 0;
    int actionResult = 0;
    int result = 0;
    // The set action being run: parameter and value tokens.
    QString setParam;
    QString setValue;
    bool inWait = false;
    QElapsedTimer waitClock;
    qint64 waitStartForTest = 0;
    qint64 waitMs = 0;
    QTimer turnTimer;
    QTimer waitTimer;
};

#endif
