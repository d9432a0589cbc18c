#include "KORUHVScriptLanguage.h"

#include "KORUHVNode.h"
#include "KORUHVNodeProperty.h"
#include "KORUHVVariantConvert.h"

#include <QRegularExpression>

#include <cmath>
#include <limits>

namespace koruscript {

namespace {

bool toDecimalInt(const QString &text, int *out)
{
    bool ok = false;
    const int v = text.toInt(&ok, 10);
    if (ok && out)
        *out = v;
    return ok;
}

bool isEmptySlot(KORUHVNode *slot)
{
    return !slot || slot->getNodeType() == NODE_GROUP;
}

const KORUHVNodeProperty *findProperty(KORUHVNode *node, const QString &name)
{
    for (KORUHVNodeProperty *p : node->getProperties())
        if (p && p->getPropName() == name)
            return p;
    return nullptr;
}

bool propertyNumber(KORUHVNode *node, const QString &name, double *out)
{
    const KORUHVNodeProperty *p = findProperty(node, name);
    if (!p)
        return false;
    bool ok = false;
    const double v = p->getPropVal().KORUHVGetValue().toDouble(&ok);
    if (!ok || !std::isfinite(v))
        return false;
    *out = v;
    return true;
}

// Channel nodes a selection reaches: only existing channels of occupied slotNodes.
QVector<KORUHVNode *> selectedChannels(KORUHVNode *system, const Selection &selection, int code)
{
    QVector<KORUHVNode *> out;
    if (!system || code < 0)
        return out;
    const QVector<KORUHVNode *> slotNodes = system->getChildren();
    if (code == ParseAll) {
        for (KORUHVNode *slot : slotNodes)
            if (!isEmptySlot(slot))
                out += slot->getChildren();
        return out;
    }
    for (int b = 0; b < selection.size() && b < slotNodes.size(); ++b) {
        if (isEmptySlot(slotNodes[b]))
            continue;
        const QVector<KORUHVNode *> channels = slotNodes[b]->getChildren();
        for (int c : selection[b])
            if (c >= 0 && c < channels.size())
                out.append(channels[c]);
    }
    return out;
}

// Why a selection reaches no channel: the first slot it names that is empty,
// the first channel its board lacks, or the first slot beyond the crate.
// Empty when every named channel exists.
QString selectionProblem(KORUHVNode *system, const Selection &selection, int code)
{
    if (!system || code != ParseSelection)
        return QString();
    const QVector<KORUHVNode *> slotNodes = system->getChildren();
    for (int b = 0; b < selection.size(); ++b) {
        if (b >= slotNodes.size()) {
            const int board = selection[b].isEmpty() ? b : selection[b].first();
            return QStringLiteral("there is no slot %1 (the crate has %2 slots)")
                .arg(board)
                .arg(slotNodes.size());
        }
        if (selection[b].isEmpty())
            continue;
        if (isEmptySlot(slotNodes[b]))
            return QStringLiteral("slot %1 is empty").arg(b);
        const int n = int(slotNodes[b]->getChildren().size());
        for (int c : selection[b])
            if (c < 0 || c >= n)
                return QStringLiteral("board in slot %1 has no channel %2").arg(b).arg(c);
    }
    return QString();
}

} // namespace

QVector<QString> splitActions(const QString &script)
{
    QVector<QString> out;
    const QStringList pieces = script.split(QLatin1Char(';'), Qt::SkipEmptyParts);
    for (const QString &piece : pieces)
        if (!piece.trimmed().isEmpty())
            out.append(piece);
    return out;
}

QStringList tokens(const QString &action)
{
    return action.simplified().split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

Selection parseChannelList(const QString &list, KORUHVNode *system, int *code)
{
    int dummy = 0;
    int &rc = code ? *code : dummy;
    rc = -1;
    Selection selection;
    QString text = list.simplified().remove(QLatin1Char(' '));
    if (text.isEmpty()) {
        rc = ParseEmpty;
        return selection;
    }
    const QVector<KORUHVNode *> slotNodes = system ? system->getChildren() : QVector<KORUHVNode *>();

    if (text.startsWith(QLatin1Char('*'))) {
        if (text.size() == 1) {
            rc = ParseAll;
            return selection;
        }
        if (text.at(1) != QLatin1Char('{') || !text.endsWith(QLatin1Char('}'))) {
            rc = text.contains(QLatin1Char('{')) ? ParseNoClosingBrace : ParseNoBrace;
            return selection;
        }
        const QString inner = text.mid(2, text.size() - 3);
        if (inner.isEmpty()) {
            rc = ParseEmpty;
            return selection;
        }
        QVector<int> channels;
        for (const QString &item : inner.split(QLatin1Char(','))) {
            int c = 0;
            if (!toDecimalInt(item, &c)) {
                rc = ParseBadChannel;
                return selection;
            }
            channels.append(c);
        }
        for (KORUHVNode *slot : slotNodes)
            selection.append(isEmptySlot(slot) ? QVector<int>() : channels);
        rc = ParseSelection;
        return selection;
    }

    const int slotCount = int(slotNodes.size());
    for (const QString &part : text.split(QLatin1Char(':'))) {
        if (part.isEmpty()) {
            rc = ParseEmpty;
            return selection;
        }
        const int brace = int(part.indexOf(QLatin1Char('{')));
        if (brace < 0) {
            rc = ParseNoBrace;
            return selection;
        }
        int board = 0;
        if (!toDecimalInt(part.left(brace), &board) || board < 0) {
            rc = ParseBadBoard;
            return selection;
        }
        if (!part.endsWith(QLatin1Char('}'))) {
            rc = ParseNoClosingBrace;
            return selection;
        }
        const QString inner = part.mid(brace + 1, part.size() - brace - 2);
        if (inner.isEmpty()) {
            rc = ParseEmpty;
            return selection;
        }
        // Slot entries first, entries of boards beyond the crate behind them.
        while (selection.size() < slotCount)
            selection.insert(selection.begin() + qMin(int(selection.size()), slotCount), QVector<int>());
        if (inner.startsWith(QLatin1Char('*'))) {
            if (inner != QLatin1String("*")) {
                rc = ParseEmpty;
                return selection;
            }
            if (board < slotCount) {
                const int n = int(slotNodes[board]->getChildren().size());
                QVector<int> all;
                for (int c = 0; c < n; ++c)
                    all.append(c);
                if (n == 0)
                    all.append(0);
                selection[board] = all;
            } else {
                selection.append(QVector<int>{board});
            }
            continue;
        }
        if (board < slotCount) {
            QVector<int> channels;
            for (const QString &item : inner.split(QLatin1Char(','))) {
                int c = 0;
                if (!toDecimalInt(item, &c)) {
                    rc = ParseBadChannel;
                    return selection;
                }
                channels.append(c);
            }
            selection[board] = channels;
        } else {
            selection.append(QVector<int>{board});
        }
    }
    rc = ParseSelection;
    return selection;
}

QVector<KORUHVNode *> matchingParameters(KORUHVNode *system, const Selection &selection, int code,
                                         const QString &name)
{
    QVector<KORUHVNode *> out;
    for (KORUHVNode *channel : selectedChannels(system, selection, code))
        for (KORUHVNode *p : channel->getParameters())
            if (p && p->getNodeName().compare(name, Qt::CaseInsensitive) == 0)
                out.append(p);
    return out;
}

QString valueProblem(KORUHVNode *parameter, const QString &value)
{
    if (!parameter)
        return QStringLiteral("no parameter");
    if (value.isEmpty())
        return QStringLiteral("empty value");
    // The channel name: any text the wrapper can carry.
    if (parameter->getNodeName() == QLatin1String("Name")) {
        QByteArray latin;
        return koruVariantToLatin1(QVariant(value), &latin) ? QString()
                                                            : QStringLiteral("not a Latin-1 text");
    }
    const QVariant v(value);
    double lo = 0, hi = 0;
    const bool hasLo = propertyNumber(parameter, QStringLiteral("Minval"), &lo);
    const bool hasHi = propertyNumber(parameter, QStringLiteral("Maxval"), &hi);
    switch (parameter->getParWrapperType()) {
    case WRAPPER_TYPE_NUMERIC: {
        float f = 0;
        if (!koruVariantToFloat(v, &f))
            return QStringLiteral("not a number");
        if ((hasLo && double(f) < lo) || (hasHi && double(f) > hi))
            return QStringLiteral("out of range");
        return QString();
    }
    case WRAPPER_TYPE_ONOFF: {
        int64_t n = 0;
        return koruVariantToInteger(v, 0, 1, &n) ? QString() : QStringLiteral("not 0 or 1");
    }
    case WRAPPER_TYPE_ENUM: {
        int64_t n = 0;
        if (!koruVariantToInteger(v, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max(),
                                  &n))
            return QStringLiteral("not an index");
        if (const KORUHVNodeProperty *e = findProperty(parameter, QStringLiteral("Enum"))) {
            const QVariantList texts = e->getPropVal().KORUHVGetValue().toList();
            if (n < 0 || n >= texts.size())
                return QStringLiteral("not an index");
            return QString();
        }
        if ((hasLo && double(n) < lo) || (hasHi && double(n) > hi))
            return QStringLiteral("out of range");
        return QString();
    }
    case WRAPPER_TYPE_BINARY:
    case WRAPPER_TYPE_CHSTATUS:
    case WRAPPER_TYPE_BDSTATUS: {
        int64_t n = 0;
        if (!koruVariantToInteger(v, std::numeric_limits<int32_t>::min(),
                                  std::numeric_limits<uint32_t>::max(), &n))
            return QStringLiteral("not a decimal number");
        if (parameter->getParWrapperType() != WRAPPER_TYPE_BINARY &&
            ((hasLo && double(n) < lo) || (hasHi && double(n) > hi)))
            return QStringLiteral("out of range");
        return QString();
    }
    default:
        return QStringLiteral("not writable");
    }
}

QString valueTokenProblem(const QString &value)
{
    if (value.isEmpty())
        return QStringLiteral("empty value");
    for (const QChar c : value) {
        if (c == QLatin1Char(';'))
            return QStringLiteral("\";\" ends an action in a script, so a value cannot hold it");
        // The same test as the one that cuts an action into words (simplified()).
        if (c.isSpace())
            return QStringLiteral("white space (here U+%1) separates the words of an action in a script, "
                                  "so a value cannot hold it")
                .arg(QString::number(c.unicode(), 16).toUpper().rightJustified(4, QLatin1Char('0')));
    }
    return QString();
}

int checkAction(const QString &action, KORUHVNode *system, QString *paramName, QString *actionText)
{
    if (action.isEmpty() || !system)
        return CheckSyntax;
    const QString simplified = action.simplified();
    const QStringList t = tokens(action);
    if (t.size() == 4) {
        if (t[0] != QLatin1String("set"))
            return CheckSyntax;
        if (paramName)
            *paramName = t[1];
        int code = 0;
        const Selection selection = parseChannelList(t[2], system, &code);
        if (code < 0)
            return code;
        const QVector<KORUHVNode *> params = matchingParameters(system, selection, code, t[1]);
        if (params.isEmpty())
            return CheckUnknownParameter;
        for (KORUHVNode *p : params)
            if (!valueProblem(p, t[3]).isEmpty())
                return CheckBadValue;
    } else if (t.size() == 2) {
        if (t[0] != QLatin1String("wait") || !toDecimalInt(t[1], nullptr))
            return CheckSyntax;
    } else {
        return CheckTokenCount;
    }
    if (actionText)
        *actionText = simplified;
    return CheckValid;
}

bool isWellFormedAction(const QString &action)
{
    const QStringList t = tokens(action);
    if (t.size() == 2)
        return t[0] == QLatin1String("wait") && toDecimalInt(t[1], nullptr);
    if (t.size() != 4 || t[0] != QLatin1String("set"))
        return false;
    int code = 0;
    parseChannelList(t[2], nullptr, &code);
    return code >= 0;
}

QString checkReason(const QString &action, KORUHVNode *system)
{
    if (!system)
        return QStringLiteral("the system of this script is no longer connected");
    if (action.isEmpty())
        return QStringLiteral("empty action");
    const QStringList t = tokens(action);
    const auto quoted = [](const QString &s) { return QLatin1Char('"') + s + QLatin1Char('"'); };
    if (t.size() == 4) {
        if (t[0] != QLatin1String("set"))
            return QStringLiteral("unknown keyword %1 (a four-word action starts with \"set\")")
                .arg(quoted(t[0]));
        int code = 0;
        const Selection selection = parseChannelList(t[2], system, &code);
        switch (code) {
        case ParseEmpty:
            return QStringLiteral("empty channel list");
        case ParseBadBoard:
            return QStringLiteral("channel list %1: a slot is not a number of 0 or more").arg(quoted(t[2]));
        case ParseBadChannel:
            return QStringLiteral("channel list %1: a channel is not a number").arg(quoted(t[2]));
        case ParseNoBrace:
            return QStringLiteral("channel list %1: \"{\" missing after the slot").arg(quoted(t[2]));
        case ParseNoClosingBrace:
            return QStringLiteral("channel list %1: \"}\" missing").arg(quoted(t[2]));
        default:
            break;
        }
        const QVector<KORUHVNode *> params = matchingParameters(system, selection, code, t[1]);
        if (params.isEmpty()) {
            // No channel to look at: say which slot or channel is missing.
            if (selectedChannels(system, selection, code).isEmpty()) {
                const QString problem = selectionProblem(system, selection, code);
                if (!problem.isEmpty())
                    return problem;
            }
            return QStringLiteral("unknown parameter %1 (no selected channel has it)").arg(quoted(t[1]));
        }
        for (KORUHVNode *p : params) {
            const QString problem = valueProblem(p, t[3]);
            if (problem.isEmpty())
                continue;
            QString text = QStringLiteral("value %1 for %2: %3").arg(quoted(t[3]), p->getNodeName(), problem);
            double lo = 0, hi = 0;
            if (problem == QLatin1String("out of range") &&
                propertyNumber(p, QStringLiteral("Minval"), &lo) &&
                propertyNumber(p, QStringLiteral("Maxval"), &hi))
                text += QStringLiteral(" (%1 to %2)").arg(lo).arg(hi);
            return text;
        }
        return QString();
    }
    if (t.size() == 2) {
        if (t[0] != QLatin1String("wait"))
            return QStringLiteral("unknown keyword %1 (a two-word action starts with \"wait\")")
                .arg(quoted(t[0]));
        if (!toDecimalInt(t[1], nullptr))
            return QStringLiteral("wait time %1 is not a whole number of milliseconds").arg(quoted(t[1]));
        return QString();
    }
    return QStringLiteral("%1 words; an action is \"wait <ms>\" or \"set <parameter> <channels> <value>\"")
        .arg(t.size());
}

QString checkFailureText(const QVector<QString> &actions, KORUHVNode *system, int n)
{
    if (!system)
        return QStringLiteral("The system of this script is no longer connected.");
    QString text = QStringLiteral("Syntax error in action [%1]").arg(n);
    const QString reason = n > 0 && n <= actions.size() ? checkReason(actions[n - 1], system) : QString();
    if (!reason.isEmpty())
        text += QStringLiteral(": ") + reason;
    return text;
}

int progressStep(int n)
{
    int step = n > 0 ? 100 / n : 1;
    if (step == 0)
        step = 1;
    if (step == 100)
        step = 99;
    return step;
}

int checkActions(const QVector<QString> &actions, KORUHVNode *system, QString *paramName, QString *actionText,
                 const std::function<void(int)> &progress)
{
    if (actions.isEmpty())
        return -1;
    const int step = progressStep(int(actions.size()));
    for (int i = 0; i < actions.size(); ++i) {
        const int r = checkAction(actions[i], system, paramName, actionText);
        if (progress)
            progress(step);
        if (r != CheckValid)
            return i + 1;
    }
    return 0;
}

} // namespace koruscript
