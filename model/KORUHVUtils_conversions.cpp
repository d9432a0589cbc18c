/* On/off and enumeration texts looked up on a parameter's properties, the
 * data type of a parameter property, and the wrapper's packed lists. */
#include "KORUHVUtils.h"

#include "KORUHVNode.h"
#include "KORUHVNodeProperty.h"

#include <QStringList>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>

namespace {

QVariant propertyVariant(const KORUHVNodeProperty *p)
{
    return p->getPropVal().KORUHVGetValue();
}

/* An "Enum" value is a list of variants (or of texts). */
QStringList enumTexts(const QVariant &v)
{
    if (v.typeId() == QMetaType::QStringList)
        return v.toStringList();
    QStringList texts;
    const QVariantList list = v.toList();
    for (const QVariant &e : list)
        texts.append(e.toString());
    return texts;
}

/* Enumerations carry whole-number limits; a fractional "Minval" is taken
 * truncated towards zero in both directions of the conversion. */
long long wholeMinimum(float minimum)
{
    /* A limit from a device may be anything: keep the conversion defined. */
    if (!std::isfinite(minimum))
        return 0;
    const double whole = std::trunc(static_cast<double>(minimum));
    constexpr double bound = 1e18; /* far beyond int, well inside long long */
    return static_cast<long long>(std::clamp(whole, -bound, bound));
}

} // namespace

QString KORUHVUtils::KORUHVConvertPropertyStringFromBool(KORUHVNode *node, bool value)
{
    if (!node)
        return QString();
    const QVector<KORUHVNodeProperty *> props = node->getProperties();
    for (const KORUHVNodeProperty *p : props) {
        if (!p)
            continue;
        const QString name = p->getPropName();
        if ((value && name == QLatin1String("Onstate")) || (!value && name == QLatin1String("Offstate")))
            return propertyVariant(p).toString();
    }
    return QString();
}

bool KORUHVUtils::KORUHVConvertPropertyBoolFromString(KORUHVNode *node, QString text, bool *ok)
{
    if (ok)
        *ok = false;
    if (!node)
        return false;
    const KORUHVNodeProperty *onState = nullptr;
    const KORUHVNodeProperty *offState = nullptr;
    const QVector<KORUHVNodeProperty *> props = node->getProperties();
    for (const KORUHVNodeProperty *p : props) {
        if (!p)
            continue;
        if (!onState && p->getPropName() == QLatin1String("Onstate"))
            onState = p;
        else if (!offState && p->getPropName() == QLatin1String("Offstate"))
            offState = p;
    }
    /* A text is a state only when it is that state's own text: with one
     * text known, any other text is unknown, not the other state. */
    if (onState && text == propertyVariant(onState).toString()) {
        if (ok)
            *ok = true;
        return true;
    }
    if (offState && text == propertyVariant(offState).toString()) {
        if (ok)
            *ok = true;
        return false;
    }
    return false;
}

QString KORUHVUtils::KORUHVConvertPropertyStringFromEnum(KORUHVNode *node, int value)
{
    if (!node)
        return QString();
    float minimum = 0.0f;
    float maximum = 0.0f;
    const QVector<KORUHVNodeProperty *> props = node->getProperties();
    for (const KORUHVNodeProperty *p : props) {
        if (!p)
            continue;
        if (p->getPropName() == QLatin1String("Minval"))
            minimum = propertyVariant(p).toFloat();
        else if (p->getPropName() == QLatin1String("Maxval"))
            maximum = propertyVariant(p).toFloat();
    }
    const float v = static_cast<float>(value);
    if (std::isnan(minimum) || std::isnan(maximum) || minimum > maximum || v < minimum || v > maximum)
        return QString();
    for (const KORUHVNodeProperty *p : props) {
        if (!p || p->getPropName() != QLatin1String("Enum"))
            continue;
        const QStringList texts = enumTexts(propertyVariant(p));
        const long long position = static_cast<long long>(value) - wholeMinimum(minimum);
        if (position >= 0 && position < texts.size())
            return texts.at(static_cast<qsizetype>(position));
        return QString();
    }
    return QString();
}

int KORUHVUtils::KORUHVConvertPropertyEnumFromString(KORUHVNode *node, QString text, bool *ok)
{
    if (ok)
        *ok = false;
    if (!node)
        return 0;
    float minimum = 0.0f;
    bool haveMinimum = false;
    const KORUHVNodeProperty *enumProperty = nullptr;
    const QVector<KORUHVNodeProperty *> props = node->getProperties();
    for (const KORUHVNodeProperty *p : props) {
        if (!p)
            continue;
        if (!haveMinimum && p->getPropName() == QLatin1String("Minval")) {
            minimum = propertyVariant(p).toFloat();
            haveMinimum = true;
        } else if (!enumProperty && p->getPropName() == QLatin1String("Enum")) {
            enumProperty = p;
        }
    }
    if (!enumProperty)
        return 0;
    const QStringList texts = enumTexts(propertyVariant(enumProperty));
    const qsizetype position = texts.indexOf(text);
    if (position < 0)
        return 0;
    const long long value = static_cast<long long>(position) + wholeMinimum(minimum);
    if (value < INT_MIN || value > INT_MAX)
        return 0;
    if (ok)
        *ok = true;
    return static_cast<int>(value);
}

nodeDataType KORUHVUtils::KORUHVSelectPropertyDataType(QString propertyName)
{
    return propertyName == QLatin1String("Enum") ? DATA_ENUM : DATA_FLOAT;
}

QVector<QString> KORUHVUtils::KORUHVCreateStringVectorFromCharSS(char **block, int count)
{
    QVector<QString> texts;
    /* A null block behind a valid pointer holds no entries. */
    if (!block || !*block || count < 1)
        return texts;
    const char *p = *block;
    texts.reserve(count);
    for (int i = 0; i < count; ++i) {
        const size_t n = std::strlen(p);
        texts.append(QString::fromLatin1(p, static_cast<qsizetype>(n)));
        p += n + 1;
    }
    return texts;
}

QVector<QString> KORUHVUtils::KORUHVCreateStringVectorForFwRel(unsigned char **bytes, int count)
{
    QVector<QString> texts;
    if (!bytes || !*bytes || count < 1)
        return texts;
    texts.reserve(count);
    for (int i = 0; i < count; ++i)
        texts.append(QStringLiteral("%1").arg(static_cast<unsigned>((*bytes)[i]), 2, 10, QLatin1Char('0')));
    return texts;
}

QString KORUHVUtils::KORUHVConvertParamTypeOnOff(unsigned int code)
{
    if (code == 0)
        return QStringLiteral("Off");
    if (code == 1)
        return QStringLiteral("On");
    return QString();
}
