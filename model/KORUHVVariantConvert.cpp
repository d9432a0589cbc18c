#include "KORUHVVariantConvert.h"

#include <QString>

#include <cfloat>
#include <cmath>

bool koruVariantToFloat(const QVariant &v, float *out)
{
    bool ok = false;
    double d = 0.0;
    if (v.typeId() == QMetaType::QString)
        d = v.toString().trimmed().toDouble(&ok); /* QString::toDouble is C-locale */
    else
        d = v.toDouble(&ok);
    if (!ok || !std::isfinite(d) || std::fabs(d) > double(FLT_MAX))
        return false;
    *out = static_cast<float>(d);
    return true;
}

bool koruVariantToInteger(const QVariant &v, int64_t lo, int64_t hi, int64_t *out)
{
    bool ok = false;
    int64_t n = 0;
    switch (v.typeId()) {
    case QMetaType::Bool:
        n = v.toBool() ? 1 : 0;
        ok = true;
        break;
    case QMetaType::UInt:
    case QMetaType::UShort:
    case QMetaType::UChar:
        n = static_cast<int64_t>(v.toUInt(&ok));
        break;
    case QMetaType::ULongLong:
    case QMetaType::ULong: {
        const qulonglong u = v.toULongLong(&ok);
        ok = ok && u <= qulonglong(INT64_MAX);
        n = static_cast<int64_t>(u);
        break;
    }
    case QMetaType::Int:
    case QMetaType::Short:
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::Long:
    case QMetaType::LongLong:
        n = v.toLongLong(&ok);
        break;
    case QMetaType::Float:
    case QMetaType::Double: {
        const double d = v.toDouble(&ok);
        ok = ok && std::isfinite(d) && d == std::trunc(d) && d >= -9.2e18 && d <= 9.2e18;
        n = ok ? static_cast<int64_t>(d) : 0;
        break;
    }
    case QMetaType::QString: {
        const QString s = v.toString().trimmed();
        n = s.toLongLong(&ok);
        if (!ok) {
            const double d = s.toDouble(&ok);
            ok = ok && std::isfinite(d) && d == std::trunc(d) && d >= -9.2e18 && d <= 9.2e18;
            n = ok ? static_cast<int64_t>(d) : 0;
        }
        break;
    }
    default:
        n = v.toLongLong(&ok);
        break;
    }
    if (!ok || n < lo || n > hi)
        return false;
    *out = n;
    return true;
}

bool koruVariantToLatin1(const QVariant &v, QByteArray *out)
{
    const QString text = v.toString();
    const QByteArray bytes = text.toLatin1();
    if (bytes.contains('\0') || QString::fromLatin1(bytes) != text)
        return false;
    *out = bytes;
    return true;
}

int koruVariantToWordBits(const QVariant &v)
{
    bool ok = false;
    const qlonglong n = v.toLongLong(&ok);
    if (ok)
        return static_cast<int>(static_cast<uint32_t>(static_cast<qulonglong>(n) & 0xFFFFFFFFull));
    const qulonglong u = v.toULongLong(&ok);
    return ok ? static_cast<int>(static_cast<uint32_t>(u & 0xFFFFFFFFull)) : 0;
}
