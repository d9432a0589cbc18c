// Properties of board and channel parameters (limits, unit, exponent,
// decimals, on/off and enumeration texts), read once while the tree is
// built, and the board-information properties of a board node.
#include "KORUHVConfig.h"

#include "KORUHVUtils.h"
#include "KORUHVWrapper.h"

#include <QDateTime>
#include <QVariantList>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace {

// Buffer for every property but "Enum": the on/off texts are the largest.
constexpr size_t TextPropertySize = 1032;
// One "Enum" text, NUL included, and the smallest buffer handed over for the
// list (a module backend may copy ten entries whatever the limits say).
constexpr size_t EnumEntrySize = 15;
constexpr size_t EnumMinBuffer = 150;
// An enumeration has a few dozen texts; limits that claim more are a device
// fault, and sizing a buffer from them is refused.
constexpr double EnumMaxEntries = 4096;

QStringList propertyNamesFor(unsigned wrapperType)
{
    switch (wrapperType) {
    case WRAPPER_TYPE_NUMERIC:
    case WRAPPER_TYPE_BINARY:
        return {QStringLiteral("Minval"), QStringLiteral("Maxval"), QStringLiteral("Unit"),
                QStringLiteral("Exp"), QStringLiteral("Decimal")};
    case WRAPPER_TYPE_ONOFF:
        return {QStringLiteral("Onstate"), QStringLiteral("Offstate")};
    case WRAPPER_TYPE_ENUM:
        return {QStringLiteral("Minval"), QStringLiteral("Maxval"), QStringLiteral("Unit"),
                QStringLiteral("Exp"), QStringLiteral("Enum")};
    default:
        return {};
    }
}

QString latinText(const char *p, size_t max)
{
    return QString::fromLatin1(p, qsizetype(strnlen(p, max)));
}

KORUHVNodeValue failed(const QDateTime &when)
{
    return KORUHVNodeValue(QVariant(int(0)), QUALITY_READ_FAILED, when);
}

// The one reader behind the board and channel forms; readProp(name, buffer)
// asks the wrapper for one property of the parameter.
template <typename ReadProp>
KORUHVNodeValue readPropertyValue(const QString &propertyName, bool channelReader, float minimum,
                                  float maximum, ReadProp readProp)
{
    const QDateTime now = QDateTime::currentDateTime();
    const QByteArray prop = propertyName.toLatin1();

    if (propertyName == QLatin1String("Enum")) {
        const double n = double(maximum - minimum);
        if (!std::isfinite(n) || n >= EnumMaxEntries)
            return failed(now);
        const size_t entries = n < 0 ? 0 : size_t(std::floor(n)) + 1;
        std::vector<char> buffer(std::max(EnumMinBuffer, entries * EnumEntrySize), '\0');
        const int code = readProp(prop.constData(), buffer.data());
        if (code != 0)
            return failed(now);
        if (n < 0) {
            if (!channelReader)
                return failed(now);
            return KORUHVNodeValue(QVariant(QVariantList()), QUALITY_GOOD, now);
        }
        QVariantList texts;
        for (size_t i = 0; i < entries; ++i)
            texts.append(QVariant(latinText(buffer.data() + i * EnumEntrySize, EnumEntrySize - 1)));
        return KORUHVNodeValue(QVariant(texts), QUALITY_GOOD, now);
    }

    const bool isMin = propertyName == QLatin1String("Minval");
    const bool isMax = propertyName == QLatin1String("Maxval");
    const bool isUnit = propertyName == QLatin1String("Unit");
    const bool isExp = propertyName == QLatin1String("Exp");
    const bool isDecimal = propertyName == QLatin1String("Decimal");
    const bool isOnOff =
        propertyName == QLatin1String("Onstate") || propertyName == QLatin1String("Offstate");
    if (!(isMin || isMax || isUnit || isExp || isDecimal || isOnOff))
        return failed(now);

    alignas(8) char buffer[TextPropertySize];
    std::memset(buffer, 0, sizeof(buffer));
    if (readProp(prop.constData(), buffer) != 0)
        return failed(now);

    QVariant value;
    if (isMin || isMax) {
        float f;
        std::memcpy(&f, buffer, sizeof(f));
        value = QVariant(f);
    } else if (isUnit) {
        quint16 u;
        std::memcpy(&u, buffer, sizeof(u));
        value = QVariant::fromValue<quint16>(u);
    } else if (isExp || isDecimal) {
        qint16 s;
        std::memcpy(&s, buffer, sizeof(s));
        value = QVariant::fromValue<qint16>(s);
    } else {
        QString text = latinText(buffer, sizeof(buffer) - 1);
        if (channelReader) {
            // Polarity modules report their states as "+" and "-".
            QString bare = text;
            bare.removeIf([](QChar c) { return c.isSpace(); });
            if (bare == QLatin1String("+"))
                text = QStringLiteral("POS");
            else if (bare == QLatin1String("-"))
                text = QStringLiteral("NEG");
        }
        value = QVariant(text);
    }
    return KORUHVNodeValue(value, QUALITY_GOOD, now);
}

KORUHVNodeProperty *boardInfo(const char *name, nodeDataType type, const QVariant &value)
{
    auto *property = new KORUHVNodeProperty(nullptr);
    property->setObjectName(QLatin1String(name));
    property->setPropName(QLatin1String(name));
    property->setDataType(type);
    property->setPropVal(value);
    return property;
}

} // namespace

QVector<KORUHVNodeProperty *> KORUHVConfig::KORUHVConfigCreateBoardInfo(KORUHVNode *board)
{
    QVector<KORUHVNodeProperty *> result;
    if (!board)
        return result;
    result.append(boardInfo("ChCount", DATA_INT16, QVariant::fromValue<quint16>(board->getBdChCount())));
    result.append(boardInfo("BdModel", DATA_STRING, QVariant(board->getBdModel())));
    result.append(boardInfo("BdDescr", DATA_STRING, QVariant(board->getBdDescr())));
    result.append(boardInfo("SerNum", DATA_INT16, QVariant(quint32(board->getBdSerNr()))));
    result.append(boardInfo("FmwRel", DATA_STRING,
                            QVariant(board->getBdFwRelMax() + QLatin1Char('.') + board->getBdFwRelMin())));
    return result;
}

KORUHVNodeValue KORUHVConfig::KORUHVConfigGetBoardPropertyValue(QString propertyName, int handle,
                                                                QString parameterName, unsigned short slot,
                                                                float minimum, float maximum)
{
    const QByteArray par = parameterName.toLatin1();
    return readPropertyValue(propertyName, false, minimum, maximum, [&](const char *prop, void *buffer) {
        return KORUHV_GetBdParamProp(handle, slot, par.constData(), prop, buffer);
    });
}

KORUHVNodeValue KORUHVConfig::KORUHVConfigGetChannelPropertyValue(QString propertyName, int handle,
                                                                  QString parameterName, unsigned short slot,
                                                                  unsigned short channel, float minimum,
                                                                  float maximum)
{
    const QByteArray par = parameterName.toLatin1();
    return readPropertyValue(propertyName, true, minimum, maximum, [&](const char *prop, void *buffer) {
        return KORUHV_GetChParamProp(handle, slot, channel, par.constData(), prop, buffer);
    });
}

QVector<KORUHVNodeProperty *> KORUHVConfig::KORUHVConfigCreateParameterProperties(nodeType type, int handle,
                                                                                  QString name,
                                                                                  unsigned wrapperType,
                                                                                  unsigned short slot,
                                                                                  unsigned short channel)
{
    QVector<KORUHVNodeProperty *> result;
    float minimum = 0.0f;
    float maximum = 0.0f;
    for (const QString &propertyName : propertyNamesFor(wrapperType)) {
        auto *property = new KORUHVNodeProperty(nullptr);
        property->setPropName(propertyName);
        property->setDataType(KORUHVUtils::KORUHVSelectPropertyDataType(propertyName));
        const KORUHVNodeValue value =
            type == NODE_BOARD_PARAM
                ? KORUHVConfigGetBoardPropertyValue(propertyName, handle, name, slot, minimum, maximum)
                : KORUHVConfigGetChannelPropertyValue(propertyName, handle, name, slot, channel, minimum,
                                                      maximum);
        // A failed limit counts as 0, which sizes the enumeration list.
        if (propertyName == QLatin1String("Minval"))
            minimum = value.KORUHVGetValue().toFloat();
        else if (propertyName == QLatin1String("Maxval"))
            maximum = value.KORUHVGetValue().toFloat();
        if (value.KORUHVGetQuality() != QUALITY_GOOD) {
            delete property;
            continue;
        }
        property->setPropVal(value);
        result.append(property);
    }
    return result;
}

QVector<KORUHVNodeProperty *> KORUHVConfig::KORUHVConfigCreateBoardParameterProperties(int handle,
                                                                                       QString name,
                                                                                       unsigned wrapperType,
                                                                                       unsigned short slot)
{
    return KORUHVConfigCreateParameterProperties(NODE_BOARD_PARAM, handle, name, wrapperType, slot, 0);
}

QVector<KORUHVNodeProperty *>
KORUHVConfig::KORUHVConfigCreateChannelParameterProperties(int handle, QString name, unsigned wrapperType,
                                                           unsigned short slot, unsigned short channel)
{
    return KORUHVConfigCreateParameterProperties(NODE_CHANNEL_PARAM, handle, name, wrapperType, slot,
                                                 channel);
}
