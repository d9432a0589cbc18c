/* Writing one board parameter, channel parameter or system property through
 * the wrapper. A value that does not convert to the parameter's type and
 * range is refused before any call (KORUHV_MODEL_BAD_VALUE): nothing is sent
 * in its place. 32-bit words keep all their bits, bit 31 included. */
#include "KORUHVUtils.h"

#include "KORUHVVariantConvert.h"

#include <cstring>

namespace {

/* A 32-bit word may be given signed or unsigned. */
constexpr int64_t wordMin = INT32_MIN;
constexpr int64_t wordMax = UINT32_MAX;
/* The same for a 16-bit word. */
constexpr int64_t halfWordMin = INT16_MIN;
constexpr int64_t halfWordMax = UINT16_MAX;

/* The 4-byte cell of a numeric (float), on/off (unsigned) or word (signed)
 * parameter, or false when the value does not fit. */
bool buildParameterCell(unsigned wrapperType, const QVariant &value, unsigned char (&cell)[4], float *sent)
{
    if (wrapperType == WRAPPER_TYPE_NUMERIC) {
        float f;
        if (!koruVariantToFloat(value, &f))
            return false;
        std::memcpy(cell, &f, sizeof f);
        if (sent)
            *sent = f;
        return true;
    }
    int64_t n;
    const int64_t lo = wrapperType == WRAPPER_TYPE_ONOFF ? 0 : wordMin;
    if (!koruVariantToInteger(value, lo, wordMax, &n))
        return false;
    const uint32_t word = static_cast<uint32_t>(static_cast<uint64_t>(n) & 0xFFFFFFFFu);
    std::memcpy(cell, &word, sizeof word);
    return true;
}

bool writesParameterCell(unsigned wrapperType)
{
    return wrapperType <= WRAPPER_TYPE_ENUM && wrapperType != WRAPPER_TYPE_STRING;
}

} // namespace

int KORUHVUtils::KORUHVSetBoardParameterChanged(int handle, unsigned short slot, QString name,
                                                unsigned wrapperType, QVariant value)
{
    const QByteArray parameter = name.toLatin1();
    const unsigned short slotList[1] = {slot};
    if (wrapperType == WRAPPER_TYPE_STRING) {
        QByteArray text;
        if (!koruVariantToLatin1(value, &text))
            return KORUHV_MODEL_BAD_VALUE;
        return KORUHV_SetBdParam(handle, 1, slotList, parameter.constData(), text.data());
    }
    if (!writesParameterCell(wrapperType))
        return KORUHV_MODEL_NOT_WRITTEN;
    unsigned char cell[4] = {0, 0, 0, 0};
    if (!buildParameterCell(wrapperType, value, cell, nullptr))
        return KORUHV_MODEL_BAD_VALUE;
    return KORUHV_SetBdParam(handle, 1, slotList, parameter.constData(), cell);
}

int KORUHVUtils::KORUHVSetChannelParameterChanged(int handle, unsigned short slot, QString name,
                                                  unsigned short channel, unsigned wrapperType,
                                                  QVariant *value)
{
    if (!value)
        return KORUHV_MODEL_BAD_VALUE;
    const QByteArray parameter = name.toLatin1();
    const unsigned short channels[1] = {channel};

    if (name == QLatin1String("Name")) {
        QByteArray text;
        if (!koruVariantToLatin1(*value, &text))
            return KORUHV_MODEL_BAD_VALUE;
        return KORUHV_SetChName(handle, slot, 1, channels, text.constData());
    }
    if (!writesParameterCell(wrapperType))
        return KORUHV_MODEL_NOT_WRITTEN;

    unsigned char cell[4] = {0, 0, 0, 0};
    float sent = 0.0f;
    if (!buildParameterCell(wrapperType, *value, cell, &sent))
        return KORUHV_MODEL_BAD_VALUE;
    const int code = KORUHV_SetChParam(handle, slot, parameter.constData(), 1, channels, cell);
    /* The caller keeps what reached the wrapper, not the editor's text. */
    if (wrapperType == WRAPPER_TYPE_NUMERIC)
        *value = QVariant(sent);
    return code;
}

int KORUHVUtils::KORUHVSetSystemPropertyChanged(int handle, QString name, unsigned propertyType,
                                                QVariant value)
{
    const QByteArray property = name.toLatin1();

    if (propertyType == SYSPROP_TYPE_TEXT) {
        /* 79 characters and the NUL: a longer text is refused rather than
         * cut, which would set another value than the one asked for. */
        char buffer[80] = {};
        QByteArray text;
        if (!koruVariantToLatin1(value, &text) || text.size() > 79)
            return KORUHV_MODEL_BAD_VALUE;
        std::memcpy(buffer, text.constData(), static_cast<size_t>(text.size()));
        return KORUHV_SetSysProp(handle, property.constData(), buffer);
    }

    unsigned char cell[4] = {0, 0, 0, 0};
    int64_t n = 0;
    switch (propertyType) {
    case SYSPROP_TYPE_FLOAT: {
        float f;
        if (!koruVariantToFloat(value, &f))
            return KORUHV_MODEL_BAD_VALUE;
        std::memcpy(cell, &f, sizeof f);
        break;
    }
    case SYSPROP_TYPE_UINT16:
    case SYSPROP_TYPE_INT16:
    case SYSPROP_TYPE_ONOFF: {
        const int64_t lo = propertyType == SYSPROP_TYPE_UINT16 ? 0 : halfWordMin;
        const int64_t hi = propertyType == SYSPROP_TYPE_INT16 ? INT16_MAX : halfWordMax;
        if (!koruVariantToInteger(value, lo, hi, &n))
            return KORUHV_MODEL_BAD_VALUE;
        const uint16_t half = static_cast<uint16_t>(static_cast<uint64_t>(n) & 0xFFFFu);
        std::memcpy(cell, &half, sizeof half);
        break;
    }
    case SYSPROP_TYPE_UINT32: {
        if (!koruVariantToInteger(value, 0, UINT32_MAX, &n))
            return KORUHV_MODEL_BAD_VALUE;
        const uint32_t word = static_cast<uint32_t>(n);
        std::memcpy(cell, &word, sizeof word);
        break;
    }
    case SYSPROP_TYPE_INT32: {
        if (!koruVariantToInteger(value, INT32_MIN, INT32_MAX, &n))
            return KORUHV_MODEL_BAD_VALUE;
        const int32_t word = static_cast<int32_t>(n);
        std::memcpy(cell, &word, sizeof word);
        break;
    }
    default:
        return KORUHV_MODEL_NOT_WRITTEN;
    }
    return KORUHV_SetSysProp(handle, property.constData(), cell);
}
