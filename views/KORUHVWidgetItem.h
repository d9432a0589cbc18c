/* Minimal stand-in of the value editor cell: just enough of its API for the
 * group value dialog (build a field for a node's data type, read it back).
 * The tables branch provides the real class. */
#ifndef KORUHVWIDGETITEM_H
#define KORUHVWIDGETITEM_H

#include "KORUHVTypes.h"

#include <QString>
#include <QVariant>
#include <QWidget>

class KORUHVNode;

class KORUHVWidgetItem : public QWidget {
    Q_OBJECT
public:
    KORUHVWidgetItem(QWidget *parent, KORUHVNode *node);
    void createInternalWidget(nodeDataType dataType, nodeAccessRights accessRights, QString unit, QVariant value,
                              int decimals, bool connectSignals);
    nodeDataType getDataType() const { return dataType; }
    QVariant getDataInValueField();

signals:
    void valueFieldEdited();
    void endEditing(QVariant value);

private:
    KORUHVNode *node;
    nodeDataType dataType = DATA_INT32;
    QWidget *field = nullptr;
};

#endif
