/* Subscribing and unsubscribing a system's parameters, one wrapper call per
 * level (system, each board, each channel). */
#include "QSystemInterface.h"

#include "KORUHVGuiPulse.h"

#include "AppGlobals.h"
#include "KORUHVNode.h"
#include "KORUHVWrapper.h"
#include "ShellGlobals.h"

#include <QStringList>

#include <vector>

namespace {

bool excludedAtSystemLevel(const QString &name)
{
    return name == QLatin1String("ConnStat") || name == QLatin1String("NrOfSlot") ||
           name == QLatin1String("DummyReg") || name == QLatin1String("CMDExecMode");
}

QStringList namesOf(const QVector<KORUHVNode *> &params, bool systemLevel)
{
    QStringList names;
    for (KORUHVNode *p : params) {
        if (p->getAccessRights() == ACCESS_WRITE_ONLY)
            continue;
        if (systemLevel && excludedAtSystemLevel(p->getNodeName()))
            continue;
        names.append(p->getNodeName());
    }
    return names;
}

/* Records the refused names of one call; false when the call failed as a whole. */
bool record(int rc, const QStringList &names, const std::vector<char> &codes, int slot, int channel,
            QVector<failSubscribeStruct> *list)
{
    if (rc > 1)
        return false;
    for (int i = 0; i < names.size(); ++i)
        if (rc == 1 || codes[static_cast<size_t>(i)] != 0)
            list->append({slot, channel, names[i]});
    return true;
}

} // namespace

int QSystemInterface::subscribeForParameters(bool subscribe, QVector<QVector<failSubscribeStruct>> *failures,
                                             QVector<KORUHVNode *> boards)
{
    QVector<QVector<failSubscribeStruct>> scratch;
    if (!failures)
        failures = &scratch;
    failures->clear();
    if (!systemNode)
        return 1;
    QVector<failSubscribeStruct> sysList, bdList, chList;
    const short port = static_cast<short>(tcpPort.load());
    const int h = systemHandle;

    if (boards.isEmpty()) {
        const QStringList names = namesOf(systemNode->getParameters(), true);
        if (!names.isEmpty()) {
            const QByteArray joined = names.join(QLatin1Char(':')).toLatin1();
            std::vector<char> codes(static_cast<size_t>(names.size()), 0);
            const int rc =
                subscribe
                    ? KORUHV_SubscribeSystemParams(h, port, joined.constData(), names.size(), codes.data())
                    : KORUHV_UnSubscribeSystemParams(h, port, joined.constData(), names.size(), codes.data());
            if (!record(rc, names, codes, -1, -1, &sysList))
                return 1;
        }
        if (isStopRequested())
            return -1;
    }

    const QVector<KORUHVNode *> list = boards.isEmpty() ? systemNode->getChildren() : boards;
    for (int pos = 0; pos < list.size(); ++pos) {
        KORUHVNode *board = list[pos];
        if (!board || board->getNodeType() == NODE_GROUP)
            continue;
        const unsigned short slot =
            boards.isEmpty() ? static_cast<unsigned short>(pos) : board->getBdSlotNr();
        const QStringList names = namesOf(board->getParameters(), false);
        if (!names.isEmpty()) {
            const QByteArray joined = names.join(QLatin1Char(':')).toLatin1();
            std::vector<char> codes(static_cast<size_t>(names.size()), 0);
            const int rc = subscribe ? KORUHV_SubscribeBoardParams(h, port, slot, joined.constData(),
                                                                   names.size(), codes.data())
                                     : KORUHV_UnSubscribeBoardParams(h, port, slot, joined.constData(),
                                                                     names.size(), codes.data());
            if (!record(rc, names, codes, slot, -1, &bdList))
                return 1;
        }
        const QVector<KORUHVNode *> channels = board->getChildren();
        for (int c = 0; c < channels.size(); ++c) {
            const QStringList chNames = namesOf(channels[c]->getParameters(), false);
            if (chNames.isEmpty())
                continue;
            const QByteArray joined = chNames.join(QLatin1Char(':')).toLatin1();
            std::vector<char> codes(static_cast<size_t>(chNames.size()), 0);
            const auto ch = static_cast<unsigned short>(c);
            const int rc = subscribe ? KORUHV_SubscribeChannelParams(h, port, slot, ch, joined.constData(),
                                                                     chNames.size(), codes.data())
                                     : KORUHV_UnSubscribeChannelParams(h, port, slot, ch, joined.constData(),
                                                                       chNames.size(), codes.data());
            if (!record(rc, chNames, codes, slot, c, &chList))
                return 1;
            KORUHVGuiPulse::beat(); /* while the connection's progress dialog is up */
        }
        if (isStopRequested())
            return -1;
    }
    failures->append(sysList);
    failures->append(bdList);
    failures->append(chList);
    return 0;
}
