/* The raw value of an event record read by the node's data type. */
#include "KORUHVUtils.h"

#include "KORUHVNode.h"

#include <cstring>

KORUHVNodeValue KORUHVUtils::KORUHVCreateValueFromNodeTypeAndEventType(KORUHVNode *node, IDValue_t value)
{
    KORUHVNodeValue result;
    if (!node)
        return result;

    /* The union's members are read through memcpy so that no byte is read
     * past what the type uses and no alignment is assumed. */
    int32_t i32 = 0;
    uint32_t u32 = 0;
    int16_t i16 = 0;
    uint16_t u16 = 0;
    float f = 0.0f;
    std::memcpy(&i32, value.StringValue, sizeof i32);
    std::memcpy(&u32, value.StringValue, sizeof u32);
    std::memcpy(&i16, value.StringValue, sizeof i16);
    std::memcpy(&u16, value.StringValue, sizeof u16);
    std::memcpy(&f, value.StringValue, sizeof f);

    QVariant v;
    switch (static_cast<int>(node->getDataType())) {
    case 0:
    case 2:
        v = QVariant(int(i32));
        break;
    case 1:
        v = QVariant(int(i16));
        break;
    case 3:
    case 5:
        v = QVariant(uint(u32));
        break;
    case 4:
        v = QVariant(int(u16));
        break;
    case 6:
        v = QVariant(f);
        break;
    case 7: {
        /* A device may fill the whole field: never read past it. */
        const size_t n = strnlen(value.StringValue, sizeof value.StringValue);
        v = QVariant(QString::fromLatin1(value.StringValue, static_cast<qsizetype>(n)));
        break;
    }
    case 8:
        v = QVariant(u32 != 0);
        break;
    case 9:
        v = QVariant(static_cast<float>(i32));
        break;
    default:
        return result;
    }
    result.KORUHVSetValueData(v, QUALITY_GOOD, QDateTime::currentDateTime());
    return result;
}
