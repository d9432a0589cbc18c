/* Minimal stand-in for the value cell (the value widgets' owner replaces
 * this file): just the dialog-editor use of the cell. */
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

    void createInternalWidget(nodeDataType type, nodeAccessRights access, QString unit, QVariant value,
                              int decimals, bool connectSignals);
    QWidget *getValueFieldWidget() const { return valueField; }
    void setValueFieldAsDialogChild();
    nodeDataType getDataType() const { return dataType; }
    QVariant getDataInValueField() const;
    KORUHVNode *getNode() const { return node; }
    void setSelectedStyleSheet();
    void setDataInValueField(QVariant value);

public Q_SLOTS:
    void endEdit() {}
    void valueFieldEndEdit() { Q_EMIT valueFieldEdited(); }

Q_SIGNALS:
    void valueFieldEdited();

private:
    KORUHVNode *node;
    nodeDataType dataType = DATA_INT32;
    QWidget *valueField = nullptr;
    QLabel *unitLabel = nullptr;
};

#endif
