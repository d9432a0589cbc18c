/* The steps of one value event on the system interface (GUI thread): apply
 * the value to its node, queue its change-log line, show it in this
 * interface's views. The main window only chains the steps over the
 * interfaces that show the system. */
#include "QSystemInterface.h"

#include "KORUHVChannelAlarm.h"
#include "KORUHVConfig.h"
#include "KORUHVLogBuffer.h"
#include "KORUHVNode.h"
#include "KORUHVPanelUpdaters.h"
#include "KORUHVUtils.h"
#include "KORUHVWidgetItem.h"
#include "QBoardInformations.h"
#include "QSubWindow.h"

KORUHVNode *QSystemInterface::applyEventValue(int bdIndex, int chIndex, const QString &itmName,
                                              const IDValue_t &val, QVariant *previous)
{
    if (!systemNode)
        return nullptr;
    KORUHVNode *node = KORUHVConfig::KORUHVConfigGetNodeFromItemId(systemNode, itmName, bdIndex, chIndex);
    if (!node)
        return nullptr;
    const KORUHVNodeValue value = KORUHVUtils::KORUHVCreateValueFromNodeTypeAndEventType(node, val);
    if (previous)
        *previous = node->getNodeValue().KORUHVGetValue();
    node->setNodeValue(value);
    if (isChannelStatus(node)) {
        /* The lookup above found the channel. */
        const KORUHVNode *channel = systemNode->getChildren()[bdIndex]->getChildren()[chIndex];
        const bool ok = KORUHVUtils::KORUHVCheckChStatusValue(node->getSystemType(),
                                                              node->getNodeValue().KORUHVGetValue().toInt());
        KORUHVSetChannelAlarm(node, channel->getParameters(), !ok);
    }
    return node;
}

void QSystemInterface::queueChangeLogLine(KORUHVNode *node, const QVariant &previous, int bdIndex,
                                          int chIndex, const QString &itmName, bool isFirstEv, bool isLastEv)
{
    if (!node || !systemNode)
        return;
    /* A crate's lines are all kept and its writer wakes once per batch. */
    const bool crate =
        node->getSystemType() == KORUHV_SYSTYPE_HX4400 || node->getSystemType() == KORUHV_SYSTYPE_HX5500;
    if (node->getHasLogEnabled() && isLogStarted) {
        const QVariant now = node->getNodeValue().KORUHVGetValue();
        /* A change is found by comparing values of one type. */
        QVariant before = previous;
        if (before.typeId() != now.typeId())
            before.convert(now.metaType());
        if (crate || before != now) {
            auto *event = new KORUHVLogEvent;
            event->board = systemNode->getSystemType() == KORUHV_SYSTYPE_W38XX ? w38xxBoardIndex : bdIndex;
            event->channel = chIndex;
            event->parameterName = itmName;
            event->value = now;
            KORUHVQueueLogEvent(this, event, isFirstEv, systemNode->getSystemType(),
                                systemNode->getNodeName());
        }
    }
    if (!crate || isLastEv)
        KORUHVWakeLogWriter(this);
}

bool QSystemInterface::isChannelStatus(const KORUHVNode *node)
{
    return node && node->getParWrapperType() == WRAPPER_TYPE_CHSTATUS &&
           node->getNodeType() == NODE_CHANNEL_PARAM;
}

bool QSystemInterface::showChannelStatus(KORUHVNode *status, bool ok)
{
    if (!subWindow)
        return false;
    subWindow->setRowColorForStatusAlarm(ok, status);
    return true;
}

void QSystemInterface::updateValueForNodeInWidget(KORUHVNode *node)
{
    if (!node)
        return;
    if (node->getNodeType() == NODE_SYSTEM_PROPERTY) {
        KORUHVUpdateSystemPanel(systemPanel, node);
        return;
    }
    if (node->getNodeType() == NODE_BOARD_PARAM && boardPanel && boardPanel->getInternalWidget()) {
        const QString objectName = QStringLiteral("%0:%1:%2")
                                       .arg(node->getSysHandle())
                                       .arg(node->getBdSlotNr())
                                       .arg(node->getNodeName());
        auto *item = boardPanel->getInternalWidget()->findChild<KORUHVWidgetItem *>(objectName);
        if (!item)
            return;
        const bool isSwitch =
            item->getValueFieldWidget() && item->getValueFieldWidget()->inherits("KORUHVSwitch");
        if (!item->hasFocus() || isSwitch)
            item->setDataInValueField(node->getNodeValue().KORUHVGetValue());
    }
}
