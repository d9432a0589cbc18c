// Building the node tree of a connected system from the wrapper's answers,
// one level per operation. What the wrapper cannot tell is left out; the
// caller attaches the results (child i of the system node is slot i).
#include "KORUHVConfig.h"

#include "KORUHVUtils.h"
#include "KORUHVWrapper.h"

#include <QDateTime>

#include <cstring>

namespace {

// Parameter names of a board or channel come as 10-byte cells ended by an
// empty cell; a cell without its NUL still gives at most 10 characters.
constexpr int ParamNameCell = 10;

QVector<QString> namesFromCells(const char *block)
{
    QVector<QString> names;
    if (!block)
        return names;
    for (const char *cell = block; cell[0] != '\0'; cell += ParamNameCell)
        names.append(QString::fromLatin1(cell, qsizetype(strnlen(cell, ParamNameCell))));
    return names;
}

void freeList(void *p)
{
    if (p)
        KORUHV_Free(p);
}

// The channel parameters an operator looks at first, in this order, right
// after "Name"; the rest keep the wrapper's order.
const char *const ReorderPasses[][2] = {
    {"I0Set", "ISet"},   {"V0Set", "VSet"}, {"IMon", nullptr}, {"VMon", nullptr}, {"Pw", nullptr},
    {"Status", nullptr}, {"RUp", nullptr},  {"RDwn", nullptr}, {"Trip", nullptr},
};

bool matchesPass(const KORUHVNode *node, int pass)
{
    const QString name = node->getNodeName();
    for (const char *candidate : ReorderPasses[pass])
        if (candidate && name.compare(QLatin1String(candidate), Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

void reorderChannelParams(QVector<KORUHVNode *> *list, int insertPos)
{
    const int passes = int(sizeof(ReorderPasses) / sizeof(ReorderPasses[0]));
    for (int k = 1; k <= passes; ++k) {
        if (list->size() <= k)
            break;
        for (int i = 0; i < list->size(); ++i) {
            if (i < insertPos || !matchesPass(list->at(i), k - 1))
                continue;
            if (i != insertPos)
                list->insert(insertPos, list->takeAt(i));
            ++insertPos;
        }
    }
}

// A parameter (board or channel) with its "Type" and "Mode", or false when
// either cannot be read.
template <typename PropFn> bool readTypeAndMode(PropFn readProp, unsigned *type, unsigned *mode)
{
    const bool typeOk = readProp("Type", type) == 0;
    const bool modeOk = readProp("Mode", mode) == 0;
    return typeOk && modeOk;
}

} // namespace

nodeDataType KORUHVConfig::KORUHVConfigDataTypeOfParam(unsigned wrapperType)
{
    switch (wrapperType) {
    case WRAPPER_TYPE_NUMERIC:
        return DATA_FLOAT;
    case WRAPPER_TYPE_ONOFF:
        return DATA_ONOFF;
    case WRAPPER_TYPE_CHSTATUS:
    case WRAPPER_TYPE_BDSTATUS:
    case WRAPPER_TYPE_BINARY:
        return DATA_INT32;
    case WRAPPER_TYPE_ENUM:
        return DATA_ENUM;
    case WRAPPER_TYPE_STRING:
    default:
        return DATA_STRING;
    }
}

bool KORUHVConfig::KORUHVConfigDataTypeOfSysProp(unsigned propertyType, nodeDataType *dataType)
{
    nodeDataType t;
    switch (propertyType) {
    case SYSPROP_TYPE_TEXT:
        t = DATA_STRING;
        break;
    case SYSPROP_TYPE_FLOAT:
        t = DATA_FLOAT;
        break;
    case SYSPROP_TYPE_UINT16:
        t = DATA_UINT16;
        break;
    case SYSPROP_TYPE_UINT32:
        t = DATA_UINT32;
        break;
    case SYSPROP_TYPE_INT16:
        t = DATA_INT16;
        break;
    case SYSPROP_TYPE_INT32:
        t = DATA_INT32;
        break;
    case SYSPROP_TYPE_ONOFF:
        t = DATA_ONOFF;
        break;
    default:
        return false;
    }
    if (dataType)
        *dataType = t;
    return true;
}

nodeAccessRights KORUHVConfig::KORUHVConfigAccessOfMode(unsigned wrapperMode)
{
    switch (wrapperMode) {
    case 0:
        return ACCESS_READ_ONLY;
    case 1:
        return ACCESS_WRITE_ONLY;
    case 2:
        return ACCESS_READ_WRITE;
    default:
        return ACCESS_OTHER;
    }
}

KORUHVNode *KORUHVConfig::KORUHVConfigCreateNodeBoard(unsigned short slot, unsigned short channelCount,
                                                      QString model, QString description,
                                                      unsigned serialNumber, QString fwRelMin,
                                                      QString fwRelMax)
{
    auto *board = new KORUHVNode();
    board->KORUHVPrepareNode(QString::asprintf("Board%02d", unsigned(slot)), NODE_BOARD, -1, -1, QString(),
                             QString(), QString());
    board->setBdSlotNr(slot);
    board->setBdChCount(channelCount);
    board->setBdDescr(description);
    board->setBdFwRelMax(fwRelMax);
    board->setBdFwRelMin(fwRelMin);
    board->setBdModel(model);
    board->setBdSerNr(serialNumber);
    return board;
}

KORUHVNode *KORUHVConfig::KORUHVConfigCreateNodeChannel(QString name, unsigned short channel,
                                                        unsigned short slot)
{
    Q_UNUSED(name); // the wrapper's channel name reaches the tree as the "Name" parameter
    auto *node = new KORUHVNode();
    node->KORUHVPrepareNode(QString::asprintf("Chan%03d", unsigned(channel)), NODE_CHANNEL, -1, -1, QString(),
                            QString(), QString());
    node->setChIdx(channel);
    node->setBdSlotNr(slot);
    return node;
}

KORUHVNode *KORUHVConfig::KORUHVConfigCreateNodeSystemProp(int handle, QString name, unsigned propertyType,
                                                           unsigned propertyMode)
{
    auto *node = new KORUHVNode();
    node->KORUHVPrepareNode(name, NODE_SYSTEM_PROPERTY, -1, -1, QString(), QString(), QString());
    node->setParWrapperType(propertyType);
    node->setSysHandle(handle);
    node->setNodeValue(KORUHVUtils::KORUHVGetSystemPropertyChanged(handle, name, propertyType));
    nodeDataType dataType;
    if (KORUHVConfigDataTypeOfSysProp(propertyType, &dataType))
        node->setDataType(dataType);
    node->setAccessRights(KORUHVConfigAccessOfMode(propertyMode));
    return node;
}

KORUHVNode *KORUHVConfig::KORUHVConfigCreateNodeParam(nodeType type, QString name, unsigned short slot,
                                                      unsigned wrapperType, unsigned wrapperMode,
                                                      int systemType)
{
    auto *node = new KORUHVNode();
    node->KORUHVPrepareNode(name, type, systemType, -1, QString(), QString(), QString());
    node->setParWrapperType(wrapperType);
    node->setBdSlotNr(slot);
    node->setDataType(KORUHVConfigDataTypeOfParam(wrapperType));
    node->setAccessRights(KORUHVConfigAccessOfMode(wrapperMode));
    return node;
}

QVector<KORUHVNode *> KORUHVConfig::KORUHVConfigCreateSystemProps(int handle)
{
    QVector<KORUHVNode *> result;
    unsigned short count = 0;
    char *names = nullptr;
    if (KORUHV_GetSysPropList(handle, &count, &names) != 0 || count == 0 || !names) {
        freeList(names);
        return result;
    }
    const QVector<QString> list = KORUHVUtils::KORUHVCreateStringVectorFromCharSS(&names, int(count));
    for (const QString &name : list) {
        const QByteArray latin = name.toLatin1();
        unsigned mode = 0;
        unsigned type = 0;
        if (KORUHV_GetSysPropInfo(handle, latin.constData(), &mode, &type) != 0)
            continue;
        result.append(KORUHVConfigCreateNodeSystemProp(handle, name, type, mode));
    }
    freeList(names);
    return result;
}

QVector<KORUHVNode *> KORUHVConfig::KORUHVConfigCreateSystemFurtherParams(connStatus status,
                                                                          unsigned short slotCount)
{
    QVector<KORUHVNode *> result;
    const QDateTime now = QDateTime::currentDateTime();

    auto *connStat = new KORUHVNode();
    connStat->KORUHVPrepareNode(QStringLiteral("ConnStat"), NODE_SYSTEM_PSEUDO_PARAM, -1, -1, QString(),
                                QString(), QString());
    connStat->setDataType(DATA_STRING);
    connStat->setAccessRights(ACCESS_READ_ONLY);
    connStat->setConnectionStatus(status);
    connStat->setNodeValue(
        KORUHVNodeValue(QVariant(KORUHVUtils::KORUHVSelectConnectionStatus(status)), QUALITY_GOOD, now));
    result.append(connStat);

    if (status == CONN_OK) {
        auto *nrOfSlot = new KORUHVNode();
        nrOfSlot->KORUHVPrepareNode(QStringLiteral("NrOfSlot"), NODE_SYSTEM_PSEUDO_PARAM, -1, -1, QString(),
                                    QString(), QString());
        nrOfSlot->setDataType(DATA_UINT16);
        nrOfSlot->setAccessRights(ACCESS_READ_ONLY);
        nrOfSlot->setSlotCount(slotCount);
        nrOfSlot->setNodeValue(KORUHVNodeValue(QVariant::fromValue<quint16>(slotCount), QUALITY_GOOD, now));
        result.append(nrOfSlot);
    }
    return result;
}

QVector<KORUHVNode *> KORUHVConfig::KORUHVConfigCreateBoards(int handle)
{
    QVector<KORUHVNode *> result;
    unsigned short slotCount = 0;
    unsigned short *chCounts = nullptr;
    char *models = nullptr;
    char *descriptions = nullptr;
    unsigned *serials = nullptr;
    unsigned char *fwMin = nullptr;
    unsigned char *fwMax = nullptr;
    const int code =
        KORUHV_GetCrateMap(handle, &slotCount, &chCounts, &models, &descriptions, &serials, &fwMin, &fwMax);
    // Every list is needed for every slot; a success without them is a
    // wrapper fault and is read as a failure, not walked.
    const bool complete = chCounts && models && descriptions && serials && fwMin && fwMax;
    if (code == 0 && (complete || slotCount == 0)) {
        const int n = int(slotCount);
        const QVector<QString> modelTexts =
            complete ? KORUHVUtils::KORUHVCreateStringVectorFromCharSS(&models, n) : QVector<QString>();
        const QVector<QString> descrTexts =
            complete ? KORUHVUtils::KORUHVCreateStringVectorFromCharSS(&descriptions, n) : QVector<QString>();
        const QVector<QString> minTexts =
            complete ? KORUHVUtils::KORUHVCreateStringVectorForFwRel(&fwMin, n) : QVector<QString>();
        const QVector<QString> maxTexts =
            complete ? KORUHVUtils::KORUHVCreateStringVectorForFwRel(&fwMax, n) : QVector<QString>();
        int visual = 0;
        for (int slot = 0; slot < n; ++slot) {
            KORUHVNode *node;
            if (chCounts[slot] != 0) {
                node = KORUHVConfigCreateNodeBoard((unsigned short)slot, chCounts[slot],
                                                   modelTexts.value(slot), descrTexts.value(slot),
                                                   serials[slot], minTexts.value(slot), maxTexts.value(slot));
                node->setVisualIndex(visual++);
                node->setSysHandle(handle);
            } else {
                node = new KORUHVNode();
                node->KORUHVPrepareNode(QString(), NODE_GROUP, -1, -1, QString(), QString(), QString());
            }
            result.append(node);
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

QVector<KORUHVNode *> KORUHVConfig::KORUHVConfigCreateBoardParams(int handle, unsigned short slot,
                                                                  int systemType)
{
    QVector<KORUHVNode *> result;
    char *names = nullptr;
    if (KORUHV_GetBdParamInfo(handle, slot, &names) != 0) {
        freeList(names);
        return result;
    }
    for (const QString &name : namesFromCells(names)) {
        const QByteArray latin = name.toLatin1();
        unsigned type = 0;
        unsigned mode = 0;
        auto readProp = [&](const char *prop, unsigned *out) {
            return KORUHV_GetBdParamProp(handle, slot, latin.constData(), prop, out);
        };
        if (!readTypeAndMode(readProp, &type, &mode))
            continue;
        KORUHVNode *node = KORUHVConfigCreateNodeParam(NODE_BOARD_PARAM, name, slot, type, mode, systemType);
        node->setSysHandle(handle);
        node->setNodeValue(KORUHVUtils::KORUHVGetBoardParameterChanged(handle, slot, name, type));
        result.append(node);
    }
    freeList(names);
    return result;
}

QVector<KORUHVNode *> KORUHVConfig::KORUHVConfigCreateChannels(int handle, unsigned short slot,
                                                               unsigned short channelCount)
{
    QVector<KORUHVNode *> result;
    for (unsigned ch = 0; ch < channelCount; ++ch) {
        const unsigned short channel = (unsigned short)ch;
        char name[1][KORUHV_CHANNEL_NAME_SIZE];
        std::memset(name, 0, sizeof(name));
        if (KORUHV_GetChName(handle, slot, 1, &channel, name) != 0)
            continue;
        const QString text =
            QString::fromLatin1(name[0], qsizetype(strnlen(name[0], KORUHV_CHANNEL_NAME_SIZE)));
        KORUHVNode *node = KORUHVConfigCreateNodeChannel(text, channel, slot);
        node->setSysHandle(handle);
        result.append(node);
    }
    return result;
}

QVector<KORUHVNode *> KORUHVConfig::KORUHVConfigCreateChannelParams(int handle, int systemType,
                                                                    unsigned short slot,
                                                                    unsigned short channel)
{
    QVector<KORUHVNode *> result;
    const bool withName = systemType == KORUHV_SYSTYPE_HX4400 || systemType == KORUHV_SYSTYPE_HX5500 ||
                          systemType == KORUHV_SYSTYPE_P8080;
    if (withName) {
        const QString name = QStringLiteral("Name");
        KORUHVNode *node =
            KORUHVConfigCreateNodeParam(NODE_CHANNEL_PARAM, name, slot, WRAPPER_TYPE_STRING, 2, -1);
        node->setChIdx(channel);
        node->setSysHandle(handle);
        node->setDataType(DATA_STRING);
        node->setNodeValue(
            KORUHVUtils::KORUHVGetChannelParameterChanged(handle, slot, name, channel, WRAPPER_TYPE_STRING));
        result.append(node);
    }

    char *names = nullptr;
    int count = 0;
    if (KORUHV_GetChParamInfo(handle, slot, channel, &names, &count) != 0) {
        freeList(names);
        return result;
    }
    for (const QString &name : namesFromCells(names)) {
        const QByteArray latin = name.toLatin1();
        unsigned type = 0;
        unsigned mode = 0;
        auto readProp = [&](const char *prop, unsigned *out) {
            return KORUHV_GetChParamProp(handle, slot, channel, latin.constData(), prop, out);
        };
        if (!readTypeAndMode(readProp, &type, &mode))
            continue;
        KORUHVNode *node =
            KORUHVConfigCreateNodeParam(NODE_CHANNEL_PARAM, name, slot, type, mode, systemType);
        node->setChIdx(channel);
        node->setSysHandle(handle);
        node->setNodeValue(KORUHVUtils::KORUHVGetChannelParameterChanged(handle, slot, name, channel, type));
        result.append(node);
    }
    reorderChannelParams(&result, withName ? 1 : 0);
    freeList(names);
    return result;
}
