/* A node's value: a variant with its quality and the time it was taken. */
#ifndef KORUHVNODEVALUE_H
#define KORUHVNODEVALUE_H

#include "KORUHVTypes.h"

#include <QDateTime>
#include <QVariant>

class KORUHVNodeValue {
public:
    /* Integer 0, not yet read, stamped now. */
    KORUHVNodeValue();
    KORUHVNodeValue(QVariant value, nodeValueQuality quality, QDateTime timestamp);

    void KORUHVSetValueData(QVariant value, nodeValueQuality quality, QDateTime timestamp);

    QVariant KORUHVGetValue() const { return value; }
    void KORUHVSetValue(QVariant v) { value = v; }
    nodeValueQuality KORUHVGetQuality() const { return quality; }
    void KORUHVSetQuality(nodeValueQuality q) { quality = q; }
    QDateTime KORUHVGetTimestamp() const { return timestamp; }
    void KORUHVSetTimestamp(QDateTime t) { timestamp = t; }

private:
    QVariant value;
    nodeValueQuality quality;
    QDateTime timestamp;
};

#endif
