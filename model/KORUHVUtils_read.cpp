/* Reading one board parameter, channel parameter or system property through
 * the wrapper, one slot or channel per call. A failed read is a quality
 * mark, never an error message. */
#include "KORUHVUtils.h"

#include <cstring>

namespace {

/* Room for a system-property text. The wrapper copies the text whole, so the
 * buffer is generous and the text is read only up to its end. */
constexpr size_t sysPropTextSize = 8192;

QVariant readCell(const unsigned char (&cell)[4], unsigned wrapperType)
{
    if (wrapperType == WRAPPER_TYPE_NUMERIC) {
        float f;
        std::memcpy(&f, cell, sizeof f);
        return QVariant(f);
    }
    uint32_t u;
    std::memcpy(&u, cell, sizeof u);
    if (wrapperType == WRAPPER_TYPE_ONOFF)
        return QVariant(uint(u));
    return QVariant(int(static_cast<int32_t>(u))); /* status, binary and enumeration words */
}

bool readsParameterType(unsigned wrapperType)
{
    return wrapperType <= WRAPPER_TYPE_ENUM && wrapperType != WRAPPER_TYPE_STRING;
}

} // namespace

KORUHVNodeValue KORUHVUtils::KORUHVGetBoardParameterChanged(int handle, unsigned short slot, QString name,
                                                            unsigned wrapperType)
{
    KORUHVNodeValue result;
    const QDateTime now = QDateTime::currentDateTime();
    const QByteArray parameter = name.toLatin1();
    if (!readsParameterType(wrapperType)) {
        result.KORUHVSetValueData(QVariant(int(0)), QUALITY_NOT_SUPPORTED, now);
        return result;
    }
    const unsigned short slotList[1] = {slot};
    unsigned char cell[4] = {0, 0, 0, 0};
    const int code = KORUHV_GetBdParam(handle, 1, slotList, parameter.constData(), cell);
    if (code == 0)
        result.KORUHVSetValueData(readCell(cell, wrapperType), QUALITY_GOOD, now);
    else
        result.KORUHVSetValueData(QVariant(int(0)), QUALITY_READ_FAILED, now);
    return result;
}

KORUHVNodeValue KORUHVUtils::KORUHVGetChannelParameterChanged(int handle, unsigned short slot, QString name,
                                                              unsigned short channel, unsigned wrapperType)
{
    KORUHVNodeValue result;
    const QDateTime now = QDateTime::currentDateTime();
    const QByteArray parameter = name.toLatin1();
    const unsigned short channels[1] = {channel};

    if (name == QLatin1String("Name")) {
        char names[1][KORUHV_CHANNEL_NAME_SIZE] = {};
        const int code = KORUHV_GetChName(handle, slot, 1, channels, names);
        if (code == 0) {
            const size_t n = strnlen(names[0], KORUHV_CHANNEL_NAME_SIZE);
            result.KORUHVSetValueData(QString::fromLatin1(names[0], static_cast<qsizetype>(n)), QUALITY_GOOD,
                                      now);
        } else {
            result.KORUHVSetValueData(QString(), QUALITY_READ_FAILED, now);
        }
        return result;
    }

    if (!readsParameterType(wrapperType)) {
        result.KORUHVSetValueData(QVariant(int(0)), QUALITY_READ_FAILED, now);
        return result;
    }
    unsigned char cell[4] = {0, 0, 0, 0};
    const int code = KORUHV_GetChParam(handle, slot, parameter.constData(), 1, channels, cell);
    if (code == 0)
        result.KORUHVSetValueData(readCell(cell, wrapperType), QUALITY_GOOD, now);
    else
        result.KORUHVSetValueData(QVariant(int(0)), QUALITY_READ_FAILED, now);
    return result;
}

KORUHVNodeValue KORUHVUtils::KORUHVGetSystemPropertyChanged(int handle, QString name, unsigned propertyType)
{
    KORUHVNodeValue result;
    const QDateTime now = QDateTime::currentDateTime();
    const QByteArray property = name.toLatin1();
    if (propertyType > SYSPROP_TYPE_ONOFF) {
        result.KORUHVSetValueData(QVariant(int(0)), QUALITY_READ_FAILED, now);
        return result;
    }

    if (propertyType == SYSPROP_TYPE_TEXT) {
        QByteArray text(sysPropTextSize, '\0');
        const int code = KORUHV_GetSysProp(handle, property.constData(), text.data());
        if (code != 0) {
            result.KORUHVSetValueData(QVariant(int(0)), QUALITY_READ_FAILED, now);
            return result;
        }
        const size_t n = strnlen(text.constData(), sysPropTextSize);
        result.KORUHVSetValueData(QString::fromLatin1(text.constData(), static_cast<qsizetype>(n)),
                                  QUALITY_GOOD, now);
        return result;
    }

    /* A backend may store a wider integer: only the first 32 or 16 bits
     * are taken. */
    unsigned char cell[8] = {};
    const int code = KORUHV_GetSysProp(handle, property.constData(), cell);
    if (code != 0) {
        result.KORUHVSetValueData(QVariant(int(0)), QUALITY_READ_FAILED, now);
        return result;
    }
    float f;
    uint32_t u32;
    int32_t i32;
    uint16_t u16;
    int16_t i16;
    std::memcpy(&f, cell, sizeof f);
    std::memcpy(&u32, cell, sizeof u32);
    std::memcpy(&i32, cell, sizeof i32);
    std::memcpy(&u16, cell, sizeof u16);
    std::memcpy(&i16, cell, sizeof i16);
    QVariant v;
    switch (propertyType) {
    case SYSPROP_TYPE_FLOAT:
        v = QVariant(f);
        break;
    case SYSPROP_TYPE_UINT16:
        v = QVariant::fromValue<unsigned short>(u16);
        break;
    case SYSPROP_TYPE_UINT32:
        v = QVariant(uint(u32));
        break;
    case SYSPROP_TYPE_INT32:
        v = QVariant(int(i32));
        break;
    default: /* signed 16-bit and on/off */
        v = QVariant::fromValue<short>(i16);
        break;
    }
    result.KORUHVSetValueData(v, QUALITY_GOOD, now);
    return result;
}
