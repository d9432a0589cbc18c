/* A named property of a parameter or board (limits, unit, exponent,
 * decimals, on/off texts, enumeration texts, board information). Created
 * without a QObject parent; the node whose property list holds it owns it. */
#ifndef KORUHVNODEPROPERTY_H
#define KORUHVNODEPROPERTY_H

#include "KORUHVNodeValue.h"

#include <QObject>
#include <QString>

class KORUHVNodeProperty : public QObject {
    Q_OBJECT

public:
    explicit KORUHVNodeProperty(QObject *parent = nullptr);
    ~KORUHVNodeProperty() override;

    QString getPropName() const { return propName; }
    void setPropName(QString name) { propName = name; }
    int getHandle() const { return handle; }
    void setHandle(int h) { handle = h; }
    nodeDataType getDataType() const { return dataType; }
    void setDataType(nodeDataType t) { dataType = t; }

    KORUHVNodeValue getPropVal() const { return propVal; }
    /* Value, quality and time as given. */
    void setPropVal(KORUHVNodeValue v) { propVal = v; }
    /* The variant with the given quality, stamped now. */
    void setPropVal(QVariant value, nodeValueQuality quality);
    /* The variant with quality good, stamped now. */
    void setPropVal(QVariant value);

private:
    KORUHVNodeValue propVal;
    QString propName;
    int handle = -1;
    nodeDataType dataType = DATA_INT32;
};

#endif
