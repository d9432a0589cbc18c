// Configuration hash of a system tree: which boards, channels and channel
// parameters are shown in the channel table and in the custom view, and
// where. Built for the per-system files and applied back after loading.
#include "KORUHVUtils.h"

#include "KORUHVNode.h"
#include "KvcStream.h"

#include <QHash>
#include <QPair>

namespace {

using Hash = QMultiHash<QString, QVariant>;

const QString kName = QStringLiteral("name");
const QString kInitParam = QStringLiteral("initParam");
const QString kPsType = QStringLiteral("psType");
const QString kConnType = QStringLiteral("connType");
const QString kIsCustomView = QStringLiteral("isCustomView");
const QString kBoards = QStringLiteral("boards");
const QString kIsPresent = QStringLiteral("isPresent");
const QString kSerialNumber = QStringLiteral("serialNumber");
const QString kVisualIndex = QStringLiteral("visualIndex");
const QString kChannels = QStringLiteral("channels");
const QString kVectorIndex = QStringLiteral("vectorIndex");
const QString kIsEnabled = QStringLiteral("isEnabled");
const QString kIsEnabledInCustomView = QStringLiteral("isEnabledInCustomView");
const QString kCustomViewVisualIndex = QStringLiteral("customViewVisualIndex");
const QString kParameters = QStringLiteral("parameters");

void addViewKeys(Hash *entry, const KORUHVNode *node, bool withView, bool withCustomView)
{
    if (withView) {
        entry->insert(kIsEnabled, QVariant(node->isNodeEnabled()));
        entry->insert(kVisualIndex, QVariant(qint32(node->getVisualIndex())));
    }
    if (withCustomView) {
        entry->insert(kIsEnabledInCustomView, QVariant(node->isEnabledInCustomView()));
        entry->insert(kCustomViewVisualIndex, QVariant(qint32(node->getCustomViewVisualIndex())));
    }
}

// Reads the four view values of an entry (each defaulting to the node's
// current one) and sets them in the order enabled, visual index, enabled in
// the custom view, custom-view index.
void applyViewKeys(const Hash &entry, KORUHVNode *node)
{
    const bool enabled = entry.value(kIsEnabled, QVariant(node->isNodeEnabled())).toBool();
    const int visual = entry.value(kVisualIndex, QVariant(node->getVisualIndex())).toInt();
    const bool enabledCv =
        entry.value(kIsEnabledInCustomView, QVariant(node->isEnabledInCustomView())).toBool();
    const int visualCv =
        entry.value(kCustomViewVisualIndex, QVariant(node->getCustomViewVisualIndex())).toInt();
    node->setNodeEnabled(enabled);
    node->setVisualIndex(visual);
    node->setEnabledInCustomView(enabledCv);
    node->setCustomViewVisualIndex(visualCv);
}

// For every channel of the tree, the first parameter of each name, with the
// position of the channel's board: carrying a flag to "the parameter of that
// name in every channel of every other board" is then one walk over a list.
using CarryIndex = QHash<QString, QVector<QPair<int, KORUHVNode *>>>;

CarryIndex buildCarryIndex(const KORUHVNode *systemNode)
{
    CarryIndex index;
    const QVector<KORUHVNode *> boards = systemNode->getChildren();
    for (int b = 0; b < boards.size(); ++b) {
        if (!boards[b])
            continue;
        for (KORUHVNode *channel : boards[b]->getChildren()) {
            if (!channel)
                continue;
            QSet<QString> seen;
            for (KORUHVNode *parameter : channel->getParameters()) {
                if (!parameter)
                    continue;
                const QString name = parameter->getNodeName();
                if (seen.contains(name))
                    continue;
                seen.insert(name);
                index[name].append(qMakePair(b, parameter));
            }
        }
    }
    return index;
}

void resetTree(KORUHVNode *systemNode)
{
    for (KORUHVNode *slot : systemNode->getChildren()) {
        if (!slot)
            continue;
        slot->setNodeEnabled(false);
        for (KORUHVNode *channel : slot->getChildren()) {
            if (!channel)
                continue;
            channel->setNodeEnabled(false);
            channel->setEnabledInCustomView(false);
            for (KORUHVNode *parameter : channel->getParameters()) {
                if (!parameter)
                    continue;
                parameter->setNodeEnabled(false);
                parameter->setEnabledInCustomView(false);
            }
        }
    }
}

} // namespace

QMultiHash<QString, QVariant> KORUHVUtils::KORUHVCreateHashFromNodeVector(KORUHVNode *systemNode,
                                                                          bool withView, bool withCustomView)
{
    Hash hash;
    if (!systemNode)
        return hash;
    hash.insert(kName, QVariant(systemNode->getNodeName()));
    hash.insert(kInitParam, QVariant(systemNode->getInitParam()));
    hash.insert(kPsType, QVariant(qint32(systemNode->getSystemType())));
    hash.insert(kConnType, QVariant(qint32(systemNode->getSystemConnType())));
    if (systemNode->getNodeType() == NODE_GROUP) {
        hash.insert(kIsCustomView, QVariant(qint32(1)));
        return hash;
    }
    hash.insert(kIsCustomView, QVariant(qint32(0)));

    for (KORUHVNode *slot : systemNode->getChildren()) {
        Hash board;
        if (slot && slot->getNodeType() == NODE_BOARD) {
            board.insert(kIsPresent, QVariant(qint32(1)));
            board.insert(kSerialNumber, QVariant(quint32(slot->getBdSerNr())));
            if (withView)
                board.insert(kVisualIndex, QVariant(qint32(slot->getVisualIndex())));
            const QVector<KORUHVNode *> channels = slot->getChildren();
            for (int i = 0; i < channels.size(); ++i) {
                const KORUHVNode *channel = channels[i];
                if (!channel)
                    continue;
                Hash channelEntry;
                channelEntry.insert(kVectorIndex, QVariant(qint32(i)));
                addViewKeys(&channelEntry, channel, withView, withCustomView);
                const QVector<KORUHVNode *> parameters = channel->getParameters();
                for (int j = 0; j < parameters.size(); ++j) {
                    const KORUHVNode *parameter = parameters[j];
                    if (!parameter)
                        continue;
                    Hash parameterEntry;
                    parameterEntry.insert(kVectorIndex, QVariant(qint32(j)));
                    parameterEntry.insert(kName, QVariant(parameter->getNodeName()));
                    if (withView) {
                        parameterEntry.insert(kVisualIndex, QVariant(qint32(parameter->getVisualIndex())));
                        parameterEntry.insert(kIsEnabled, QVariant(parameter->isNodeEnabled()));
                    }
                    if (withCustomView) {
                        parameterEntry.insert(kIsEnabledInCustomView,
                                              QVariant(parameter->isEnabledInCustomView()));
                        parameterEntry.insert(kCustomViewVisualIndex,
                                              QVariant(qint32(parameter->getCustomViewVisualIndex())));
                    }
                    channelEntry.insert(kParameters, KvcStream::toVariant(parameterEntry));
                }
                board.insert(kChannels, KvcStream::toVariant(channelEntry));
            }
        } else {
            board.insert(kIsPresent, QVariant(qint32(0)));
        }
        hash.insert(kBoards, KvcStream::toVariant(board));
    }
    return hash;
}

void KORUHVUtils::KORUHVSetConfigurationToSystemTreeFromHash(KORUHVNode *systemNode,
                                                             QMultiHash<QString, QVariant> *hash)
{
    if (!systemNode || !hash)
        return;
    resetTree(systemNode);

    const QVector<KORUHVNode *> slotNodes = systemNode->getChildren();
    const CarryIndex carryIndex = buildCarryIndex(systemNode);

    // values() gives the newest first: the last slot, the last channel and
    // the last parameter are met first, as they always were.
    for (const QVariant &boardValue : hash->values(kBoards)) {
        const Hash board = KvcStream::hashFromVariant(boardValue);
        if (board.value(kIsPresent, QVariant(0)).toInt() == 0)
            continue;
        const quint32 serial = board.value(kSerialNumber, QVariant(0u)).toUInt();
        int boardPos = -1;
        for (int i = 0; i < slotNodes.size(); ++i) {
            if (slotNodes[i] && slotNodes[i]->getNodeType() == NODE_BOARD &&
                slotNodes[i]->getBdSerNr() == serial) {
                boardPos = i;
                break;
            }
        }
        if (boardPos < 0)
            continue;
        KORUHVNode *matched = slotNodes[boardPos];
        matched->setNodeEnabled(true);
        matched->setVisualIndex(board.value(kVisualIndex, QVariant(matched->getVisualIndex())).toInt());

        const QVector<KORUHVNode *> channels = matched->getChildren();
        for (const QVariant &channelValue : board.values(kChannels)) {
            const Hash channelEntry = KvcStream::hashFromVariant(channelValue);
            const int ci = channelEntry.value(kVectorIndex, QVariant(0)).toInt();
            if (ci < 0 || ci >= channels.size() || !channels[ci])
                continue;
            KORUHVNode *channel = channels[ci];
            applyViewKeys(channelEntry, channel);

            const QVector<KORUHVNode *> parameters = channel->getParameters();
            for (const QVariant &parameterValue : channelEntry.values(kParameters)) {
                const Hash parameterEntry = KvcStream::hashFromVariant(parameterValue);
                const int pi = parameterEntry.value(kVectorIndex, QVariant(0)).toInt();
                if (pi < 0 || pi >= parameters.size())
                    break; // the channel's parameter list changed: the rest of its entries are stale
                KORUHVNode *parameter = parameters[pi];
                if (!parameter)
                    continue;
                const QString name = parameterEntry.value(kName, QVariant(QString())).toString();
                if (name != parameter->getNodeName())
                    continue;
                applyViewKeys(parameterEntry, parameter);

                const bool enabled = parameter->isNodeEnabled();
                const bool enabledCv = parameter->isEnabledInCustomView();
                if (!enabled && !enabledCv)
                    continue;
                // Shown in one board, shown in every other board too.
                for (const auto &target : carryIndex.value(name)) {
                    if (target.first == boardPos)
                        continue;
                    if (enabled)
                        target.second->setNodeEnabled(true);
                    if (enabledCv)
                        target.second->setEnabledInCustomView(true);
                }
            }
        }
    }
}
