// Keeping a running system's tree in step with its crate: boards that are
// inserted or pulled while connected, and the node an incoming event names.
#include "KORUHVConfig.h"

#include "KORUHVUtils.h"
#include "KORUHVWrapper.h"

namespace {

KORUHVConfig::BoardRemovalHandler &removalHandler()
{
    static KORUHVConfig::BoardRemovalHandler handler;
    return handler;
}

void freeList(void *p)
{
    if (p)
        KORUHV_Free(p);
}

void notifyRemoval(int handle, unsigned short slot, KORUHVNode *oldNode)
{
    // Copied first: a handler that replaces itself must not be destroyed
    // while it runs.
    const KORUHVConfig::BoardRemovalHandler handler = removalHandler();
    if (handler)
        handler(handle, slot, oldNode);
}

// Puts the new node at the slot's position and deletes the old one with its
// whole subtree (cells leave their tables as they are deleted).
void replaceSlot(KORUHVNode *systemNode, int slot, KORUHVNode *oldNode, KORUHVNode *newNode)
{
    systemNode->removeChildNode(slot);
    delete oldNode;
    systemNode->insertChildNode(newNode, slot);
}

} // namespace

void KORUHVConfig::KORUHVConfigSetBoardRemovalHandler(BoardRemovalHandler handler)
{
    removalHandler() = std::move(handler);
}

QVector<KORUHVNode *> KORUHVConfig::KORUHVConfigChangeBoardsLive(int handle, KORUHVNode *systemNode)
{
    QVector<KORUHVNode *> result;
    if (!systemNode)
        return result;

    unsigned short slotCount = 0;
    unsigned short *chCounts = nullptr;
    char *models = nullptr;
    char *descriptions = nullptr;
    unsigned *serials = nullptr;
    unsigned char *fwMin = nullptr;
    unsigned char *fwMax = nullptr;
    const int code =
        KORUHV_GetCrateMap(handle, &slotCount, &chCounts, &models, &descriptions, &serials, &fwMin, &fwMax);
    const bool complete = chCounts && models && descriptions && serials && fwMin && fwMax;
    const int n = int(slotCount);

    if (code == 0 && complete && n == systemNode->getChildren().size()) {
        const QVector<QString> modelTexts = KORUHVUtils::KORUHVCreateStringVectorFromCharSS(&models, n);
        const QVector<QString> descrTexts = KORUHVUtils::KORUHVCreateStringVectorFromCharSS(&descriptions, n);
        const QVector<QString> minTexts = KORUHVUtils::KORUHVCreateStringVectorForFwRel(&fwMin, n);
        const QVector<QString> maxTexts = KORUHVUtils::KORUHVCreateStringVectorForFwRel(&fwMax, n);

        for (int slot = 0; slot < n; ++slot) {
            // Read again each turn: a removal handler may look at the tree.
            KORUHVNode *current = systemNode->getChildren().value(slot);
            const bool isBoard = current && current->getNodeType() == NODE_BOARD;
            const unsigned short s = (unsigned short)slot;
            if (chCounts[slot] != 0 && !isBoard) {
                KORUHVNode *board = KORUHVConfigCreateNodeBoard(s, chCounts[slot], modelTexts.value(slot),
                                                                descrTexts.value(slot), serials[slot],
                                                                minTexts.value(slot), maxTexts.value(slot));
                board->setVisualIndex(slot);
                board->setSysHandle(handle);
                if (current)
                    notifyRemoval(handle, s, current);
                replaceSlot(systemNode, slot, current, board);
                result.append(board);
            } else if (chCounts[slot] == 0 && isBoard) {
                notifyRemoval(handle, s, current);
                auto *empty = new KORUHVNode();
                empty->KORUHVPrepareNode(QString(), NODE_GROUP, -1, -1, QString(), QString(), QString());
                empty->setVisualIndex(slot);
                replaceSlot(systemNode, slot, current, empty);
            }
        }
    }

    freeList(chCounts);
    freeList(models);
    freeList(descriptions);
    freeList(serials);
    freeList(fwMin);
    freeList(fwMax);
    return result;
}

KORUHVNode *KORUHVConfig::KORUHVConfigGetNodeFromItemId(KORUHVNode *systemNode, QString itemName, int board,
                                                        int channel)
{
    if (!systemNode || itemName.isEmpty() || systemNode->getNodeType() != NODE_SYSTEM)
        return nullptr;

    QVector<KORUHVNode *> list;
    if (board < 0 && channel < 0) {
        list = systemNode->getParameters();
    } else if (board >= 0 && channel < 0) {
        const QVector<KORUHVNode *> slotNodes = systemNode->getChildren();
        if (board >= slotNodes.size() || !slotNodes[board])
            return nullptr;
        list = slotNodes[board]->getParameters();
    } else if (board >= 0 && channel >= 0) {
        const QVector<KORUHVNode *> slotNodes = systemNode->getChildren();
        if (board >= slotNodes.size() || !slotNodes[board])
            return nullptr;
        const QVector<KORUHVNode *> channels = slotNodes[board]->getChildren();
        if (channel >= channels.size() || !channels[channel])
            return nullptr;
        list = channels[channel]->getParameters();
    } else {
        return nullptr;
    }

    for (KORUHVNode *node : list)
        if (node && node->getNodeName() == itemName)
            return node;
    return nullptr;
}
