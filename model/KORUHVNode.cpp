#include "KORUHVNode.h"
#include "KORUHVWrapper.h"

#include "AppGlobals.h"
#include "KORUHVCellTable.h"
#include "KORUHVMirrorNode.h"
#include "KORUHVNodeProperty.h"
#include "KORUHVUtils.h"
#include "KORUHVVariantConvert.h"

#include <QBrush>
#include <QColor>
#include <QFont>

namespace {
const QString powerSwitchName = QStringLiteral("Pw");
const QColor powerOnColour(53, 169, 18);
const QColor powerOffColour(0, 0, 0);
} // namespace

KORUHVNode::KORUHVNode() : QTableWidgetItem(0)
{
    nodeValue.KORUHVSetValue(QVariant());
}

KORUHVNode::~KORUHVNode()
{
    if (kind != NODE_GROUP) {
        for (qsizetype i = children.size() - 1; i >= 0; --i)
            delete children[i];
        children.clear();
        for (qsizetype i = parameters.size() - 1; i >= 0; --i)
            delete parameters[i];
        parameters.clear();
        for (qsizetype i = properties.size() - 1; i >= 0; --i)
            delete properties[i];
        properties.clear();
    }
    delete mirrorNode;
    mirrorNode = nullptr;
}

void KORUHVNode::KORUHVPrepareNode(QString name, nodeType t, int sysType, int connType, QString init,
                                   QString user, QString pass)
{
    nodeName = name;
    kind = t;
    if (t == NODE_SYSTEM) {
        systemType = sysType;
        systemConnType = connType;
        initParam = init;
        username = user;
        password = pass;
    } else if (t == NODE_CHANNEL_PARAM && !mirrorNode) {
        mirrorNode = new KORUHVMirrorNode(this);
    }
    /* The crates (2, 3) keep their own change history; 8 and 12 log nothing. */
    if (sysType >= 0 && sysType != KORUHV_SYSTYPE_HX4400 && sysType != KORUHV_SYSTYPE_HX5500 &&
        sysType != KORUHV_SYSTYPE_L317E && sysType != KORUHV_SYSTYPE_L5026)
        hasLogEnabled = true;
}

bool KORUHVNode::cellIsMirror(const QTableWidgetItem *cell)
{
    if (const auto *mirror = dynamic_cast<const KORUHVMirrorNode *>(cell))
        return mirror->isMirrorNode();
    return false;
}

KORUHVNode *KORUHVNode::nodeOfCell(QTableWidgetItem *cell)
{
    if (auto *node = dynamic_cast<KORUHVNode *>(cell))
        return node;
    if (auto *mirror = dynamic_cast<KORUHVMirrorNode *>(cell))
        return mirror->getReferenceNode();
    return nullptr;
}

void KORUHVNode::addChildNode(KORUHVNode *child)
{
    if (!child)
        return;
    children.append(child);
    if (kind != NODE_GROUP)
        child->setSystemType(systemType);
}

void KORUHVNode::insertChildNode(KORUHVNode *child, int index)
{
    if (!child)
        return;
    /* An index beyond the list appends: the caller hands the node over
     * either way, so it must land in the tree that will delete it. */
    const qsizetype at = qBound<qsizetype>(0, qsizetype(index), children.size());
    children.insert(at, child);
    if (kind != NODE_GROUP)
        child->setSystemType(systemType);
}

void KORUHVNode::removeChildNode(int index)
{
    if (index < 0 || index >= children.size())
        return;
    children.removeAt(index);
}

void KORUHVNode::addParameter(KORUHVNode *parameter)
{
    if (!parameter)
        return;
    parameters.append(parameter);
    if (kind != NODE_GROUP)
        parameter->setSystemType(systemType);
}

void KORUHVNode::addProperty(KORUHVNodeProperty *property)
{
    if (property)
        properties.append(property);
}

QString KORUHVNode::getNodeName() const
{
    return nodeName.isEmpty() ? QStringLiteral("KORU") : nodeName;
}

void KORUHVNode::setSysHandle(int handle)
{
    sysHandle = handle;
    for (KORUHVNode *child : children)
        if (child)
            child->setSysHandle(handle);
    for (KORUHVNode *parameter : parameters)
        if (parameter)
            parameter->setSysHandle(handle);
}

void KORUHVNode::setInitParam(QString text)
{
    if (initParam.isEmpty())
        initParam = text;
}

void KORUHVNode::setConnectionStatus(connStatus status)
{
    connectionStatus = status;
    if (status != CONN_OK)
        KORUHVInvalidateAllChildren();
}

void KORUHVNode::KORUHVInvalidateAllChildren()
{
    const QDateTime now = QDateTime::currentDateTime();
    for (KORUHVNode *child : children) {
        if (!child)
            continue;
        KORUHVNodeValue value = child->getNodeValue();
        value.KORUHVSetQuality(QUALITY_READ_FAILED);
        value.KORUHVSetTimestamp(now);
        child->setNodeValue(value);
        child->KORUHVInvalidateAllChildren();
    }
}

void KORUHVNode::updateBdNameForAllChildren(QString name)
{
    bdName = name;
    for (KORUHVNode *parameter : parameters)
        if (parameter)
            parameter->setBdName(name);
    for (KORUHVNode *child : children) {
        if (!child)
            continue;
        child->setBdName(name);
        for (KORUHVNode *parameter : child->parameters)
            if (parameter)
                parameter->setBdName(name);
    }
}

void KORUHVNode::setExpUnitShortForm(QString unit)
{
    expUnitShortForm = unit;
    setNodeValue(getNodeValue());
}

QString KORUHVNode::cellText()
{
    const QVariant v = nodeValue.KORUHVGetValue();
    const QString &unit = expUnitShortForm;
    const QChar blank(' ');
    if (dataType == DATA_ONOFF)
        return KORUHVUtils::KORUHVConvertPropertyStringFromBool(this, v.toBool()) + blank + unit;
    if (dataType == DATA_ENUM)
        return KORUHVUtils::KORUHVConvertPropertyStringFromEnum(this, v.toInt()) + blank + unit;
    if (parWrapperType == WRAPPER_TYPE_CHSTATUS)
        return KORUHVUtils::KORUHVConvertChannelStatus(systemType, koruVariantToWordBits(v)) + blank + unit;
    if (parWrapperType == WRAPPER_TYPE_BINARY)
        return unit + blank + KORUHVUtils::KORUHVConvertFromBinaryToHexString(koruVariantToWordBits(v));
    if (dataType == DATA_FLOAT)
        return QString::number(v.toDouble(), 'f', qBound(0, nodeDecimals, 17)) + blank + unit;
    return v.toString() + blank + unit;
}

void KORUHVNode::setNodeValue(KORUHVNodeValue value)
{
    nodeValue.KORUHVSetValueData(value.KORUHVGetValue(), value.KORUHVGetQuality(),
                                 value.KORUHVGetTimestamp());
    if (kind != NODE_CHANNEL_PARAM)
        return;

    const QString text = cellText();
    const bool power = dataType == DATA_ONOFF && nodeName == powerSwitchName;
    const bool on = nodeValue.KORUHVGetValue().toBool();
    /* An editable text cell that the operator is on keeps what is typed. */
    const bool keepsTypedText =
        accessRights != ACCESS_READ_ONLY && dataType != DATA_ONOFF && dataType != DATA_ENUM;

    if (power)
        colourPowerCell(this, on);
    const auto *ownTable = dynamic_cast<const KORUHVCellTable *>(tableWidget());
    if (!(keepsTypedText && ownTable && ownTable->isCellBeingEdited(this)))
        setText(text);

    if (!mirrorNode)
        return;
    const auto *mirrorTable = dynamic_cast<const KORUHVCellTable *>(mirrorNode->tableWidget());
    if (keepsTypedText && mirrorTable &&
        (mirrorTable->isCellBeingEdited(mirrorNode) || mirrorTable->isCellBeingEdited(this)))
        return;
    mirrorNode->setText(text);
    if (power)
        colourPowerCell(mirrorNode, on);
}

void KORUHVNode::colourPowerCell(QTableWidgetItem *cell, bool on) const
{
    /* Both cells start from the node's own cell font, so the mirror shows
     * the same font as the node. */
    QFont font;
    const QVariant fontData = data(Qt::FontRole);
    if (fontData.typeId() == QMetaType::QFont)
        font = fontData.value<QFont>();
    font.setWeight(on ? QFont::Bold : QFont::Normal);

    QTableWidget *table = cell->tableWidget();
    const int row = table ? table->row(cell) : -1;
    if (auto *cells = dynamic_cast<KORUHVCellTable *>(table))
        cells->colourRowHeader(row, on);
    cell->setForeground(QBrush(on ? powerOnColour : powerOffColour));
    cell->setFont(font);
}

int KORUHVNode::setNodeEditedValue(QVariant edited)
{
    if (edited.toString().isEmpty()) {
        setNodeValue(getNodeValue());
        return KORUHV_MODEL_NOT_WRITTEN;
    }

    int code = KORUHV_MODEL_NOT_WRITTEN;
    switch (kind) {
    case NODE_BOARD_PARAM:
        code = KORUHVUtils::KORUHVSetBoardParameterChanged(sysHandle, bdSlotNr, nodeName, parWrapperType,
                                                           edited);
        break;
    case NODE_CHANNEL_PARAM:
        code = KORUHVUtils::KORUHVSetChannelParameterChanged(sysHandle, bdSlotNr, nodeName, chIdx,
                                                             parWrapperType, &edited);
        break;
    case NODE_SYSTEM_PROPERTY:
        code = KORUHVUtils::KORUHVSetSystemPropertyChanged(sysHandle, nodeName, parWrapperType, edited);
        break;
    default:
        break;
    }

    if (code == 0) {
        setNodeValue(KORUHVNodeValue(edited, QUALITY_GOOD, QDateTime::currentDateTime()));
        return 0;
    }
    nodeValue.KORUHVSetQuality(QUALITY_WRITE_FAILED);
    setNodeValue(getNodeValue());
    return code;
}

KORUHVNodeValue KORUHVNode::KORUHVGetBoardInfoValue(KORUHVNode *board, QString name)
{
    const QDateTime now = QDateTime::currentDateTime();
    if (!board)
        return KORUHVNodeValue(QVariant(), QUALITY_READ_FAILED, now);
    QVariant v;
    if (name == QLatin1String("ChCount"))
        v = QVariant::fromValue<unsigned short>(board->getBdChCount());
    else if (name == QLatin1String("BdModel"))
        v = board->getBdModel();
    else if (name == QLatin1String("BdDescr"))
        v = board->getBdDescr();
    else if (name == QLatin1String("SerNum"))
        v = QVariant::fromValue<unsigned short>(static_cast<unsigned short>(board->getBdSerNr() & 0xFFFFu));
    else if (name == QLatin1String("FmwRel"))
        v = board->getBdFwRelMax() + QLatin1Char('.') + board->getBdFwRelMin();
    return KORUHVNodeValue(v, QUALITY_GOOD, now);
}

int KORUHVNode::KORUHVSubscriptionForNode(bool subscribe)
{
    char results[1] = {static_cast<char>(-1)};
    const QByteArray name = nodeName.toLatin1();
    const short port = static_cast<short>(tcpPort.load());
    switch (kind) {
    case NODE_BOARD_PARAM:
        return subscribe
                   ? KORUHV_SubscribeBoardParams(sysHandle, port, bdSlotNr, name.constData(), 1, results)
                   : KORUHV_UnSubscribeBoardParams(sysHandle, port, bdSlotNr, name.constData(), 1, results);
    case NODE_CHANNEL_PARAM:
        return subscribe ? KORUHV_SubscribeChannelParams(sysHandle, port, bdSlotNr, chIdx, name.constData(),
                                                         1, results)
                         : KORUHV_UnSubscribeChannelParams(sysHandle, port, bdSlotNr, chIdx, name.constData(),
                                                           1, results);
    case NODE_SYSTEM_PROPERTY:
        return subscribe ? KORUHV_SubscribeSystemParams(sysHandle, port, name.constData(), 1, results)
                         : KORUHV_UnSubscribeSystemParams(sysHandle, port, name.constData(), 1, results);
    default:
        return KORUHV_MODEL_NOT_WRITTEN;
    }
}
