#include "KORUHVScriptExecutor.h"

#include "KORUHVNode.h"

#include <QVariant>

namespace {

const QString errOpen = QStringLiteral("<br><p style=\"text-indent:10px;\">");
const QString errMark = QStringLiteral("<b>ERROR</b>");
const QString errClose = QStringLiteral("<br></p>");
const QString okMark = QStringLiteral("<b>OK</b>");

QString esc(const QString &token)
{
    return token.toHtmlEscaped();
}

QString num(qint64 n)
{
    return QString::number(n);
}

// "SET [p] for bd[b] ch[c] to [v]" of a write line.
QString writeLine(const QString &param, int board, int channel, const QString &value)
{
    return QStringLiteral("SET ") + QStringLiteral("[") + esc(param) + QStringLiteral("] ") +
           QStringLiteral("for bd[") + num(board) + QStringLiteral("] ch[") + num(channel) +
           QStringLiteral("] ") + QStringLiteral("to [") + esc(value) + QStringLiteral("]");
}

QString noBoardLine(int board)
{
    return errOpen + errMark + QStringLiteral(" - No board in slot [") + num(board) + QStringLiteral("] ") +
           errClose;
}

QString channelRangeLine(const QString &param, int board, int channel, const QString &value)
{
    return errOpen + errMark + QStringLiteral(" - ") + writeLine(param, board, channel, value) +
           QStringLiteral(" - ") + QStringLiteral("Channel index [") + num(channel) +
           QStringLiteral("] out of bounds") + errClose;
}

bool isEmptySlot(KORUHVNode *slot)
{
    return !slot || slot->getNodeType() == NODE_GROUP;
}

// The test clock (GUI thread only) and the executors it wakes.
bool testClockOn = false;
qint64 testClockNow = 0;
QVector<KORUHVScriptExecutor *> &liveExecutors()
{
    static QVector<KORUHVScriptExecutor *> all;
    return all;
}

} // namespace

KORUHVScriptExecutor::KORUHVScriptExecutor(QObject *parent) : QObject(parent)
{
    turnTimer.setSingleShot(true);
    turnTimer.setInterval(0);
    waitTimer.setSingleShot(true);
    waitTimer.setTimerType(Qt::PreciseTimer);
    connect(&turnTimer, &QTimer::timeout, this, &KORUHVScriptExecutor::turn);
    connect(&waitTimer, &QTimer::timeout, this, &KORUHVScriptExecutor::turn);
    liveExecutors().append(this);
}

KORUHVScriptExecutor::~KORUHVScriptExecutor()
{
    liveExecutors().removeAll(this);
    turnTimer.stop();
    waitTimer.stop();
}

void KORUHVScriptExecutor::setClockForTest(bool on)
{
    testClockOn = on;
    testClockNow = 0;
}

void KORUHVScriptExecutor::advanceClockForTest(qint64 ms)
{
    testClockNow += ms;
    for (KORUHVScriptExecutor *e : liveExecutors())
        if (e->runState == Running && e->inWait)
            e->scheduleTurn();
}

qint64 KORUHVScriptExecutor::waited() const
{
    return testClockOn ? testClockNow - waitStartForTest : waitClock.elapsed();
}

void KORUHVScriptExecutor::armWait(qint64 left)
{
    if (!testClockOn)
        waitTimer.start(int(qMin<qint64>(left, 100)));
}

void KORUHVScriptExecutor::setSystemNode(KORUHVNode *node)
{
    if (node != system && isActive())
        abort();
    system = node;
}

QString KORUHVScriptExecutor::headFragment()
{
    const QString tabs(8, QLatin1Char('\t'));
    return QStringLiteral("<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.01 Transitional//EN\">") +
           QLatin1Char(' ') + tabs + QStringLiteral("<html><head><style type=\"text/css\"></head><body>") +
           QLatin1Char(' ') + tabs + QStringLiteral("<div style=\"position:absolute\">");
}

QString KORUHVScriptExecutor::closingFragment(int runResult)
{
    if (runResult == 0)
        return QStringLiteral("<br>Script successfully executed.<br><br>");
    if (runResult == StoppedResult)
        return QStringLiteral("<br>Script stopped by the user.<br><br>");
    return QStringLiteral("<br>Some errors occourred in script.<br><br>");
}

void KORUHVScriptExecutor::setState(State s)
{
    if (runState == s)
        return;
    runState = s;
    Q_EMIT stateChanged(int(s));
}

bool KORUHVScriptExecutor::start(const QString &script)
{
    if (isActive())
        return false;
    actions = koruscript::splitActions(script);
    nextAction = 0;
    ops.clear();
    nextOp = 0;
    result = 0;
    actionResult = 0;
    inWait = false;
    setState(Running);
    Q_EMIT fragment(headFragment());
    // A script with any faulty action writes nothing at all.
    const int check = koruscript::checkActions(actions, system);
    if (check != 0) {
        QString text = QStringLiteral("Script checking has incountered an error.<br>");
        if (check > 0)
            text += esc(koruscript::checkFailureText(actions, system, check)) + QStringLiteral("<br>");
        Q_EMIT fragment(text);
        finishRun(ErrorResult);
        return true;
    }
    scheduleTurn();
    return true;
}

void KORUHVScriptExecutor::pause()
{
    if (runState != Running)
        return;
    turnTimer.stop();
    waitTimer.stop();
    setState(Paused);
}

void KORUHVScriptExecutor::resume()
{
    if (runState != Paused)
        return;
    setState(Running);
    scheduleTurn();
}

void KORUHVScriptExecutor::stop()
{
    if (runState != Running && runState != Paused)
        return;
    waitTimer.stop();
    setState(Stopping);
    scheduleTurn();
}

void KORUHVScriptExecutor::abort()
{
    if (!isActive())
        return;
    turnTimer.stop();
    waitTimer.stop();
    if (inWait)
        Q_EMIT fragment(QStringLiteral("<br>"));
    inWait = false;
    finishRun(StoppedResult);
}

void KORUHVScriptExecutor::scheduleTurn()
{
    turnTimer.start();
}

void KORUHVScriptExecutor::finishRun(int runResult)
{
    turnTimer.stop();
    waitTimer.stop();
    inWait = false;
    ops.clear();
    nextOp = 0;
    actions.clear();
    nextAction = 0;
    result = runResult;
    Q_EMIT fragment(closingFragment(runResult) + QStringLiteral("</div></body></html>"));
    setState(Idle);
    Q_EMIT finished(runResult);
}

void KORUHVScriptExecutor::expandAction(const QString &action)
{
    ops.clear();
    nextOp = 0;
    actionResult = 0;
    const QStringList t = koruscript::tokens(action);
    auto log = [this](Op::Kind kind, const QString &text) {
        Op op;
        op.kind = kind;
        op.text = text;
        ops.append(op);
    };
    auto end = [this] {
        Op op;
        op.kind = Op::EndAction;
        ops.append(op);
    };
    if (t.size() != 2 && t.size() != 4) {
        log(Op::LogError, QStringLiteral("<br>"));
        Op op;
        op.kind = Op::EndAction;
        op.ms = -1; // nothing more to log
        ops.append(op);
        return;
    }
    if (t.size() == 2) {
        if (t[0] != QLatin1String("wait")) {
            log(Op::LogError, errOpen + errMark + QStringLiteral(" - Unknown command [") + esc(t[0]) +
                                  QStringLiteral("] ") + errClose + QStringLiteral("<br>"));
            Op op;
            op.kind = Op::EndAction;
            op.ms = -1;
            ops.append(op);
            return;
        }
        bool ok = false;
        const int ms = t[1].toInt(&ok, 10);
        if (!ok) {
            log(Op::LogError, errOpen + errMark + QStringLiteral(" - Unknown wait time value [") + esc(t[1]) +
                                  QStringLiteral("] ") + errClose);
            end();
            return;
        }
        log(Op::Log, QStringLiteral("WAIT ") + num(ms) + QStringLiteral(" ms") + QStringLiteral("... "));
        Op w;
        w.kind = Op::Wait;
        w.ms = ms;
        ops.append(w);
        end();
        return;
    }
    if (t[0] != QLatin1String("set")) {
        log(Op::LogError, errOpen + errMark + QStringLiteral(" - Unknown command [") + esc(t[0]) +
                              QStringLiteral("]") + errClose + QStringLiteral("<br>"));
        Op op;
        op.kind = Op::EndAction;
        op.ms = -1;
        ops.append(op);
        return;
    }
    setParam = t[1];
    setValue = t[3];
    QString shownChannels = t[2];
    shownChannels.replace(QLatin1Char('*'), QStringLiteral("ALL"));
    log(Op::Log, QStringLiteral("SET ") + QStringLiteral("[") + esc(t[1]) + QStringLiteral("] ") +
                     QStringLiteral("for [") + esc(shownChannels) + QStringLiteral("] ") +
                     QStringLiteral("to [") + esc(t[3]) + QStringLiteral("]") + QStringLiteral("... "));
    int code = 0;
    const koruscript::Selection selection = koruscript::parseChannelList(t[2], system, &code);
    const QVector<KORUHVNode *> slotNodes = system ? system->getChildren() : QVector<KORUHVNode *>();
    auto write = [this](int b, int c) {
        Op op;
        op.kind = Op::Write;
        op.board = b;
        op.channel = c;
        ops.append(op);
    };
    if (code == koruscript::ParseAll) {
        for (int b = 0; b < slotNodes.size(); ++b) {
            if (isEmptySlot(slotNodes[b]))
                continue;
            const int n = int(slotNodes[b]->getChildren().size());
            for (int c = 0; c < n; ++c)
                write(b, c);
        }
    } else {
        for (int b = 0; b < selection.size(); ++b) {
            const QVector<int> &entry = selection[b];
            if (b < slotNodes.size()) {
                if (isEmptySlot(slotNodes[b])) {
                    if (!entry.isEmpty())
                        log(Op::LogError, noBoardLine(b));
                    continue;
                }
                const int n = int(slotNodes[b]->getChildren().size());
                for (int c : entry) {
                    if (c >= 0 && c < n)
                        write(b, c);
                    else
                        log(Op::LogError, channelRangeLine(setParam, b, c, setValue));
                }
            } else {
                const int board = entry.isEmpty() ? b : entry.first();
                log(Op::LogError, errOpen + errMark + QStringLiteral(" - Board index [") + num(board) +
                                      QStringLiteral("] out of bounds") + errClose);
            }
        }
    }
    end();
}

bool KORUHVScriptExecutor::isNoReplyCode(int systemType, int code)
{
    switch (systemType) {
    case 0: // the crate families: code 4, "Timeout from server"
    case 1:
    case 2:
    case 3:
        return code == 4;
    case 16: // its frames: a reply not received within the bound
        return code == 3;
    case 7: // the text-line links: no reply line within the bound
    case 10:
    case 12:
    case 13:
    case 14:
    case 15:
        return code == 29;
    default:
        return systemType > 16 && code == 29; // served by the text-line backend
    }
}

bool KORUHVScriptExecutor::doWrite(const Op &op)
{
    // The tree is read afresh: boards may have come or gone since the
    // action began.
    const QVector<KORUHVNode *> slotNodes = system ? system->getChildren() : QVector<KORUHVNode *>();
    if (op.board < 0 || op.board >= slotNodes.size() || isEmptySlot(slotNodes[op.board])) {
        Q_EMIT fragment(noBoardLine(op.board));
        actionResult = ErrorResult;
        return true;
    }
    const QVector<KORUHVNode *> channels = slotNodes[op.board]->getChildren();
    if (op.channel < 0 || op.channel >= channels.size()) {
        Q_EMIT fragment(channelRangeLine(setParam, op.board, op.channel, setValue));
        actionResult = ErrorResult;
        return true;
    }
    bool matched = false;
    for (KORUHVNode *p : channels[op.channel]->getParameters()) {
        if (!p || p->getNodeName().compare(setParam, Qt::CaseInsensitive) != 0)
            continue;
        matched = true;
        const int code = p->setNodeEditedValue(QVariant(setValue));
        if (code != 0) {
            Q_EMIT fragment(errOpen + errMark + QStringLiteral(" - ") +
                            writeLine(setParam, op.board, op.channel, setValue) + QLatin1Char(' ') +
                            errClose);
            actionResult = code;
            if (isNoReplyCode(system->getSystemType(), code)) {
                Q_EMIT fragment(errOpen + errMark + QStringLiteral(" - System [") +
                                esc(system->getNodeName()) +
                                QStringLiteral("] does not answer (no reply in time): script stopped, "
                                               "nothing more is written") +
                                errClose);
                return false;
            }
        }
    }
    if (!matched) {
        Q_EMIT fragment(errOpen + errMark + QStringLiteral(" - Unknown parameter [") + esc(setParam) +
                        QStringLiteral("] for ") + QStringLiteral("bd[") + num(op.board) +
                        QStringLiteral("] ch[") + num(op.channel) + QStringLiteral("] ") + QLatin1Char(' ') +
                        errClose);
        actionResult = ErrorResult;
    }
    return true;
}

void KORUHVScriptExecutor::turn()
{
    if (runState == Stopping) {
        if (inWait)
            Q_EMIT fragment(QStringLiteral("<br>"));
        inWait = false;
        finishRun(StoppedResult);
        return;
    }
    if (runState != Running)
        return;
    if (inWait) {
        const qint64 left = waitMs - waited();
        if (left > 0) {
            armWait(left);
            return;
        }
        inWait = false;
    }
    for (;;) {
        if (nextOp >= ops.size()) {
            if (nextAction >= actions.size()) {
                finishRun(result);
                return;
            }
            expandAction(actions[nextAction++]);
            continue;
        }
        const Op op = ops[nextOp++];
        switch (op.kind) {
        case Op::Log:
            Q_EMIT fragment(op.text);
            break;
        case Op::LogError:
            Q_EMIT fragment(op.text);
            actionResult = ErrorResult;
            break;
        case Op::Write:
            if (!doWrite(op)) {
                // Each further write would wait the whole reply bound again.
                Q_EMIT fragment(QStringLiteral("<br>"));
                finishRun(actionResult);
                return;
            }
            scheduleTurn();
            return;
        case Op::Wait:
            if (op.ms <= 0)
                break; // a negative or zero wait waits nothing
            inWait = true;
            waitMs = op.ms;
            waitClock.start();
            waitStartForTest = testClockNow;
            armWait(waitMs);
            return;
        case Op::EndAction:
            if (op.ms >= 0) {
                Q_EMIT fragment((actionResult == 0 ? okMark : QString()) + QStringLiteral("<br>"));
            }
            if (actionResult != 0)
                result = actionResult;
            scheduleTurn();
            return;
        }
        if (runState != Running)
            return;
    }
}
