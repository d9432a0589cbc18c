#include "KORUHVNodeProperty.h"

KORUHVNodeProperty::KORUHVNodeProperty(QObject *parent) : QObject(parent) {}

KORUHVNodeProperty::~KORUHVNodeProperty() = default;

void KORUHVNodeProperty::setPropVal(QVariant value, nodeValueQuality quality)
{
    propVal.KORUHVSetValueData(value, quality, QDateTime::currentDateTime());
}

void KORUHVNodeProperty::setPropVal(QVariant value)
{
    propVal.KORUHVSetValueData(value, QUALITY_GOOD, QDateTime::currentDateTime());
}
