#include "KORUHVNodeValue.h"

KORUHVNodeValue::KORUHVNodeValue()
    : value(QVariant(int(0))), quality(QUALITY_NOT_READ), timestamp(QDateTime::currentDateTime())
{
}

KORUHVNodeValue::KORUHVNodeValue(QVariant v, nodeValueQuality q, QDateTime t)
    : value(v), quality(q), timestamp(t)
{
}

void KORUHVNodeValue::KORUHVSetValueData(QVariant v, nodeValueQuality q, QDateTime t)
{
    value = v;
    quality = q;
    timestamp = t;
}
