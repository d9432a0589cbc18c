/* The value cell of one node: a value field and its unit label. */
#ifndef KORUHVWIDGETITEM_H
#define KORUHVWIDGETITEM_H

#include "KORUHVTypes.h"

#include <QVariant>
#include <QWidget>

class KORUHVNode;
class QLabel;

class KORUHVWidgetItem : public QWidget {
    Q_OBJECT
public:
    KORUHVWidgetItem(QWidget *parent, KORUHVNode *node);

    void setSelectedStyleSheet();
    void createInternalWidget(nodeDataType type, nodeAccessRights rights, QString unit, QVariant value,
                              int decimals, bool connectEdits);
    void setFixedExpUnitWidth();
    void setDataInValueField(QVariant value);
    QWidget *getValueFieldWidget() const { return valueField; }

signals:
    void valueFieldEdited();
    void endEditing();

private:
    KORUHVNode *node = nullptr;
    QWidget *valueField = nullptr;
    QLabel *unitLabel = nullptr;
    int decimals = 2;
    nodeDataType dataType = DATA_INT32;
};

#endif
